#!/usr/bin/python3
"""Prints tests/regression/KQURegressionKnownAnswers.h: exact least-squares answers.

Run with Debian's python3 (numpy is used only to cross-check and for cond(X)):

    /usr/bin/python3 tests/regression/make_known_answers.py > tests/regression/KQURegressionKnownAnswers.h

Every answer is computed exactly with fractions.Fraction over the double inputs, exactly
as the library builds them (x**q is C pow, y - c is one double subtraction), so the only
rounding is the final conversion to double. The normal equations are fine here: exact
arithmetic has no condition number. Each case is cross-checked against numpy's lstsq or
polyfit, and the one-variable cases against the closed forms.
"""
import math
from fractions import Fraction as F

import numpy as np


def solve_exact(X, b):
    """Least squares by the normal equations in exact arithmetic; returns beta, inverse."""
    m, n = len(X), len(X[0])
    A = [[sum(F(X[r][i]) * F(X[r][j]) for r in range(m)) for j in range(n)] for i in range(n)]
    # Gauss-Jordan on [A | I | Xᵀb].
    rhs = [sum(F(X[r][i]) * F(b[r]) for r in range(m)) for i in range(n)]
    M = [A[i] + [F(int(i == j)) for j in range(n)] + [rhs[i]] for i in range(n)]
    for col in range(n):
        piv = next(r for r in range(col, n) if M[r][col] != 0)
        M[col], M[piv] = M[piv], M[col]
        p = M[col][col]
        M[col] = [v / p for v in M[col]]
        for r in range(n):
            if r != col and M[r][col] != 0:
                f = M[r][col]
                M[r] = [a - f * c for a, c in zip(M[r], M[col])]
    beta = [M[i][2 * n] for i in range(n)]
    inverse = [[M[i][n + j] for j in range(n)] for i in range(n)]
    return beta, inverse


def answers(X, b, affine, k):
    m, n = len(X), len(X[0])
    beta, inv = solve_exact(X, b)
    fb = [F(v) for v in b]
    resid = [fb[r] - sum(F(X[r][j]) * beta[j] for j in range(n)) for r in range(m)]
    sse = sum(r * r for r in resid)
    if affine:
        mean = sum(fb) / m
        sst = sum((v - mean) ** 2 for v in fb)
    else:
        sst = sum(v * v for v in fb)
    df = m - n
    mse = sse / df if df else None
    out = dict(beta=beta, sse=sse, sst=sst, inv=inv)
    out["r2"] = float(1 - sse / sst) if sst else float("nan")
    out["se"] = math.sqrt(mse) if mse is not None else float("nan")
    out["f"] = float((sst - sse) / k / mse) if mse and k else float("nan")
    out["stderr"] = [math.sqrt(mse * inv[i][i]) if mse is not None else float("nan") for i in range(n)]
    out["cond"] = float(np.linalg.cond(np.array(X, dtype=float)))
    # Cross-check against numpy (double precision; loose where X is ill-conditioned).
    lst = np.linalg.lstsq(np.array(X, dtype=float), np.array(b, dtype=float), rcond=None)[0]
    exact = np.array([float(v) for v in beta])
    err = np.linalg.norm(lst - exact) / np.linalg.norm(exact)
    assert err <= 1e3 * out["cond"] * 2.0 ** -52, (err, out["cond"])
    return out


def design_linear(xs, m, k, affine):
    cols = ([[1.0] * m] if affine else []) + [xs[j * m:(j + 1) * m] for j in range(k)]
    return [[c[i] for c in cols] for i in range(m)]


def design_poly(xs, order, affine):
    cols = ([[1.0] * len(xs)] if affine else []) + [[math.pow(x, q) for x in xs] for q in range(1, order + 1)]
    return [[c[i] for c in cols] for i in range(len(xs))]


def noise(i):
    # Deterministic, sign-alternating, not smooth: a small linear congruential generator.
    return ((i * 7919 + 17) % 101 - 50) / 50.0


CASES = []


def case(name, model, k_or_order, affine, c, xs, ys):
    m = len(ys)
    b = [y - c for y in ys] if c != 0 else list(ys)
    if model == "linear":
        X = design_linear(xs, m, k_or_order, affine)
        k = k_or_order
    else:
        X = design_poly(xs, k_or_order, affine)
        k = k_or_order
    a = answers(X, b, affine, k)
    if model == "linear" and k == 1 and affine:
        # Closed form: slope Sxy/Sxx, intercept ȳ − slope·x̄.
        fx, fy = [F(v) for v in xs], [F(v) for v in b]
        mx, my = sum(fx) / m, sum(fy) / m
        slope = sum((x - mx) * (y - my) for x, y in zip(fx, fy)) / sum((x - mx) ** 2 for x in fx)
        assert a["beta"] == [my - slope * mx, slope]
    if model == "poly" and affine:
        pf = np.polyfit(np.array(xs), np.array(b), k_or_order)[::-1]
        exact = np.array([float(v) for v in a["beta"]])
        assert np.linalg.norm(pf - exact) / np.linalg.norm(exact) <= 1e4 * a["cond"] * 2.0 ** -52
    CASES.append((name, model, k_or_order, affine, c, xs, ys, a))


def poly_values(coefficients, xs):
    # Exact integer arithmetic, then one rounding to double.
    return [float(sum(F(cf) * F(x) ** q for q, cf in enumerate(coefficients))) for x in xs]


# Small fits with hand-checkable sizes.
case("two variables, fixed constant 5", "linear", 2, False, 5.0,
     [1.0, 2, 3, 4, 5, 6, 7, 0.5, 0.25, 2, 1, 3, 1.5, 4], [9.1, 11.8, 16.2, 17.9, 22.5, 23.4, 28.8])
case("perfect line 3x + 0.7", "linear", 1, True, 0.0, [0.3, 0.6, 0.9, 1.2, 1.5, 1.8],
     [3 * x + 0.7 for x in [0.3, 0.6, 0.9, 1.2, 1.5, 1.8]])
case("quadratic, fixed constant 1", "poly", 2, False, 1.0, [0.5, 1, 1.5, 2, 2.5, 3, 4],
     [1.9, 4.1, 6.6, 10.2, 13.4, 18.1, 29.7])

# Accuracy: data exactly on integer polynomials, and noisy data, with cond(X) 1e7..1e12.
x20 = [float(x) for x in range(1, 21)]
case("degree 8 on 1..20", "poly", 8, True, 0.0, x20, poly_values([3, -1, 2, 1, -1, 2, 1, -1, 1], x20))
xwide = [0.01 * 1.6 ** i for i in range(21)]  # 0.01 .. ~1209
case("noisy quartic over 0.01..1000", "poly", 4, True, 0.0, xwide,
     [1 + 2 * x - 0.01 * x * x + 1e-5 * x ** 3 - 1e-9 * x ** 4 + noise(i) for i, x in enumerate(xwide)])
case("noisy degree 8 on 1..20", "poly", 8, True, 0.0, x20,
     [v + 1000 * noise(i) for i, v in enumerate(poly_values([3, -1, 2, 1, -1, 2, 1, -1, 1], x20))])
case("noisy two variables over 0.01..1000", "linear", 2, True, 0.0,
     xwide + [x * (1 + 1e-7 * noise(i)) + 1 for i, x in enumerate(xwide)],
     [3 + x + 0.5 * noise(i) for i, x in enumerate(xwide)])


def cpp(v):
    if isinstance(v, F):
        v = float(v)
    if math.isnan(v):
        return "NAN"
    return repr(float(v))


def cpp_list(vs):
    return "{" + ", ".join(cpp(v) for v in vs) + "}"


print("// Generated by tests/regression/make_known_answers.py: do not edit.")
print("// Exact least-squares answers (fractions.Fraction over the double inputs), rounded once.")
print("#pragma once\n\n#include <cmath>\n#include <vector>\n")
print("namespace kqu::test {\n")
print("struct KQURegressionKnownAnswer {")
print("    const char* name;")
print("    bool polynomial;  // else linear")
print("    int kOrOrder;")
print("    bool affine;")
print("    double intercept;")
print("    std::vector<double> xs, ys;")
print("    std::vector<double> coefficients, standardErrors;")
print("    double sse, sst, rSquared, standardError, fStatistic;")
print("    double cond;  // 2-norm condition number of X")
print("};\n")
print("inline const std::vector<KQURegressionKnownAnswer> kKQURegressionKnownAnswers = {")
for name, model, k, affine, c, xs, ys, a in CASES:
    print(f"    {{\"{name}\", {str(model == 'poly').lower()}, {k}, {str(affine).lower()}, {cpp(c)},")
    print(f"     {cpp_list(xs)},")
    print(f"     {cpp_list(ys)},")
    print(f"     {cpp_list(a['beta'])},")
    print(f"     {cpp_list(a['stderr'])},")
    print(f"     {cpp(a['sse'])}, {cpp(a['sst'])}, {cpp(a['r2'])}, {cpp(a['se'])}, {cpp(a['f'])}, {cpp(a['cond'])}}},")
print("};\n")
print("}  // namespace kqu::test")
