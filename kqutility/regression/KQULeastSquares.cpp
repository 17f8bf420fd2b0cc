#include "kqutility/regression/KQULeastSquares.h"

#include <cblas.h>
#include <lapacke.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/regression/KQURegressionModel.h"

namespace kqu::detail {

namespace {

constexpr double kTiny = 1e-16;  // coefficients within ±kTiny are not written

// dgels scales A or b whose largest magnitude lies outside [smlnum, bignum]
// (dlamch('S')/dlamch('P') = 2^-970 and its reciprocal) and then scales back only the
// solution rows, not the residual rows below them. A margin keeps us clear of the edge.
bool outsideDgelsRange(double largest) {
    return largest != 0 && (largest < std::ldexp(1.0, -960) || largest > std::ldexp(1.0, 960));
}

// Σ v², Σ (v − shift) and Σ (v − shift)² with four accumulators: these passes run over
// every value of X and b, and one accumulator would leave them waiting on each addition.
double sumOfSquares(const double* v, size_t count, double shift = 0) {
    double a0 = 0, a1 = 0, a2 = 0, a3 = 0;
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        double d0 = v[i] - shift, d1 = v[i + 1] - shift, d2 = v[i + 2] - shift, d3 = v[i + 3] - shift;
        a0 += d0 * d0, a1 += d1 * d1, a2 += d2 * d2, a3 += d3 * d3;
    }
    for (; i < count; ++i) a0 += (v[i] - shift) * (v[i] - shift);
    return (a0 + a1) + (a2 + a3);
}

double sumOfDeviations(const double* v, size_t count, double shift) {
    double a0 = 0, a1 = 0, a2 = 0, a3 = 0;
    size_t i = 0;
    for (; i + 4 <= count; i += 4)
        a0 += v[i] - shift, a1 += v[i + 1] - shift, a2 += v[i + 2] - shift, a3 += v[i + 3] - shift;
    for (; i < count; ++i) a0 += v[i] - shift;
    return (a0 + a1) + (a2 + a3);
}

struct ColumnScan {
    std::vector<double> norms;  // Euclidean norm of each column
    bool outsideDgelsRange = false;
};

// One pass over n columns of m values. A plain sum of squares is exact enough for a
// tolerance, and when it is finite and not tiny every value lies well inside dgels's
// range (below 2^512, and some above 2^-460); only otherwise is the column looked at again.
ColumnScan scanColumns(const double* X, size_t m, size_t n) {
    ColumnScan scan;
    scan.norms.resize(n);
    for (size_t j = 0; j < n; ++j) {
        const double* column = X + j * m;
        double squares = sumOfSquares(column, m);
        if (std::isfinite(squares) && squares >= 0x1p-900) {
            scan.norms[j] = std::sqrt(squares);
            continue;
        }
        double largest = 0;
        for (size_t i = 0; i < m; ++i) largest = std::max(largest, std::fabs(column[i]));
        scan.outsideDgelsRange = scan.outsideDgelsRange || outsideDgelsRange(largest);
        if (largest > 0 && std::isfinite(largest)) {
            squares = 0;
            for (size_t i = 0; i < m; ++i) squares += (column[i] / largest) * (column[i] / largest);
            scan.norms[j] = largest * std::sqrt(squares);
        } else {
            scan.norms[j] = largest;  // 0, or infinite
        }
    }
    return scan;
}

// A column whose part independent of the columns before it (|R_jj|) is below
// max(m,n)·eps of its own length is a combination of them to working precision: rounding
// keeps R_jj from being exactly 0 even for a repeated column. The usual numerical-rank
// tolerance, applied per column so that the columns' scales do not matter.
bool rankDeficient(const double* R, size_t ldr, size_t n, std::span<const double> norms, size_t m) {
    const double tolerance = static_cast<double>(std::max(m, n)) * std::ldexp(1.0, -52);
    for (size_t j = 0; j < n; ++j) {
        double d = std::fabs(R[j * ldr + j]);
        if (d == 0 || d <= tolerance * norms[j]) return true;
    }
    return false;
}

// (RᵀR)⁻¹ into out (n×n, column-major, full) from the upper triangle of R (leading
// dimension ldr). 0, 4 (numerically singular) or 6 (dpotri failed).
int inverseFromR(const double* R, size_t ldr, size_t m, int n, std::span<const double> norms, double* out) {
    const size_t nn = static_cast<size_t>(n);
    if (rankDeficient(R, ldr, nn, norms, m)) return KQURegressionErrorSingular;
    for (size_t j = 0; j < nn; ++j)
        for (size_t i = 0; i < nn; ++i) out[j * nn + i] = i <= j ? R[j * ldr + i] : 0.0;
    if (LAPACKE_dpotri_work(LAPACK_COL_MAJOR, 'U', n, out, n) != 0) return KQURegressionErrorInversion;
    for (size_t j = 0; j < nn; ++j)
        for (size_t i = j + 1; i < nn; ++i) out[j * nn + i] = out[i * nn + j];
    return 0;
}

}  // namespace

std::u16string KQUUtf16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

bool KQUValidLeastSquaresShape(size_t m, int64_t n, int64_t columns, size_t xsSize) {
    if (m < 1 || n < 1 || columns < 0 || m > static_cast<size_t>(INT_MAX) || n > INT_MAX ||
        m < static_cast<size_t>(n))
        return false;
    // Beyond what a vector can hold (length_error rather than bad_alloc): refused here.
    if (m * static_cast<size_t>(n) > std::vector<double>().max_size()) return false;
    // xsSize == columns * m without overflow.
    return columns == 0 ? xsSize == 0 : xsSize / m == static_cast<size_t>(columns) && xsSize % m == 0;
}

int KQUReportSolverFailure(std::string_view failureMessage) {
    KQU_ASSERT_FAILURE("{}", failureMessage);
    return KQURegressionErrorSolver;
}

KQULeastSquaresResult KQUSolveLeastSquares(std::vector<double> X, std::vector<double> b, size_t m, size_t n,
                                           bool centred, bool wantInverseDiagonal,
                                           std::string_view failureMessage) {
    KQULeastSquaresResult result;
    if (!KQUValidLeastSquaresShape(m, static_cast<int64_t>(n), static_cast<int64_t>(n), X.size()) ||
        b.size() != m) {
        result.errorType = KQUReportSolverFailure(failureMessage);
        return result;
    }
    const int mi = static_cast<int>(m), ni = static_cast<int>(n);

    // Totals before dgels overwrites b.
    double sst = 0;
    if (centred) {
        double mean = b[0] + sumOfDeviations(b.data(), m, b[0]) / static_cast<double>(m);
        sst = sumOfSquares(b.data(), m, mean);
    } else {
        sst = sumOfSquares(b.data(), m);
    }

    const ColumnScan scan = scanColumns(X.data(), m, n);
    const std::vector<double>& norms = scan.norms;
    // Only when dgels would rescale (magnitudes beyond 2^±960) is the residual taken from
    // copies instead of from the right-hand side's lower rows.
    std::vector<double> keptX, keptB;
    if (scan.outsideDgelsRange || scanColumns(b.data(), m, 1).outsideDgelsRange) {
        keptX = X;
        keptB = b;
    }

    // dgels answers an all-zero target without factoring X; R is still wanted for the
    // singularity check and the covariance, so such a target is factored here instead.
    const bool zeroTarget = std::all_of(b.begin(), b.end(), [](double v) { return v == 0; });
    std::vector<double> tau(zeroTarget ? n : 0);
    auto call = [&](double* work, lapack_int lwork) {
        return zeroTarget
                   ? LAPACKE_dgeqrf_work(LAPACK_COL_MAJOR, mi, ni, X.data(), mi, tau.data(), work, lwork)
                   : LAPACKE_dgels_work(LAPACK_COL_MAJOR, 'N', mi, ni, 1, X.data(), mi, b.data(), mi, work,
                                        lwork);
    };
    double optimal = 0;
    lapack_int info = call(&optimal, -1);
    double lwork = std::max({optimal, 1.0, static_cast<double>(std::min(mi, ni)) * 2});
    if (info != 0 || lwork > INT_MAX) {
        result.errorType = KQUReportSolverFailure(failureMessage);
        return result;
    }
    std::vector<double> work(static_cast<size_t>(lwork));
    info = call(work.data(), static_cast<lapack_int>(work.size()));
    if (info != 0) {
        result.errorType = KQUReportSolverFailure(failureMessage);
        return result;
    }
    result.coefficients.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));

    double sse = 0;
    if (keptX.empty()) {
        sse = cblas_ddot(mi - ni, b.data() + n, 1, b.data() + n, 1);
    } else {
        cblas_dgemv(CblasColMajor, CblasNoTrans, mi, ni, -1.0, keptX.data(), mi, result.coefficients.data(),
                    1, 1.0, keptB.data(), 1);
        for (double r : keptB) sse += r * r;
    }
    if (sst == 0) sse = 0;
    result.sse = sse;
    result.sst = sst;

    // dgels leaves R in the upper triangle of X. It refuses an exact zero on R's diagonal
    // itself, except for an all-zero X, which it answers with a zero solution.
    if (wantInverseDiagonal) {
        std::vector<double> inverse(n * n);
        result.errorType = inverseFromR(X.data(), m, m, ni, norms, inverse.data());
        if (result.errorType == 0) {
            result.inverseDiagonal.resize(n);
            for (size_t i = 0; i < n; ++i) result.inverseDiagonal[i] = inverse[i * n + i];
        }
    } else if (rankDeficient(X.data(), m, n, norms, m)) {
        result.errorType = KQURegressionErrorSingular;
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// Equations

namespace {

std::u16string formatted(double value) {
    return KQURegressionModel::formattedStringWithCoefficient(value);
}

std::u16string decimal(int64_t value) {
    return KQUUtf16(std::to_string(value));
}

const char* modelName(KQUAdditiveForm form) {
    switch (form) {
        case KQUAdditiveForm::Linear:
            return "KQULinearRegressionModel";
        case KQUAdditiveForm::Polynomial:
            return "KQUPolynomialRegressionModel";
        case KQUAdditiveForm::Logarithmic:
            return "KQULogarithmicRegressionModel";
    }
    return "";
}

// The variable part of a plain term: "x", "x3", "x^3", "ln(x)", "ln(x3)".
std::u16string plainVariable(KQUAdditiveForm form, int64_t index) {
    if (index == 0) return {};
    bool log = form == KQUAdditiveForm::Logarithmic;
    if (index == 1) return log ? u"ln(x)" : u"x";
    std::u16string d = decimal(index);
    if (log) return u"ln(x" + d + u")";
    return form == KQUAdditiveForm::Polynomial ? u"x^" + d : u"x" + d;
}

struct PlainEmitter {
    KQUAdditiveForm form;
    std::u16string text = u"y = ";
    bool written = false;
    void emit(double v, int64_t index) {
        if (!written) {
            if (v > kTiny || v < -kTiny) {
                text += formatted(v) + plainVariable(form, index);
                written = true;
            }
        } else if (v > kTiny) {
            text += u" + " + formatted(std::fabs(v)) + plainVariable(form, index);
        } else if (v < -kTiny) {
            text += u" - " + formatted(std::fabs(v)) + plainVariable(form, index);
        }
    }
};

}  // namespace

std::u16string KQUAdditiveSimpleEquation(KQUAdditiveForm form, std::span<const double> beta, bool affine,
                                         double intercept) {
    const int64_t n = static_cast<int64_t>(beta.size());
    PlainEmitter e{form};
    if (n < (affine ? 2 : 1)) {
        KQU_ASSERT_FAILURE("Incorrect number of coefficients in {}.", modelName(form));
        return u"y = 0";
    }
    if (affine) {
        // Coefficient i belongs to variable (or power) i; 1 is written "x", 0 bare.
        for (int64_t i = n - 1; i >= 1; --i) e.emit(beta[static_cast<size_t>(i)], i);
        e.emit(beta[0], 0);
    } else {
        for (int64_t i = n - 1; i >= 0; --i) e.emit(beta[static_cast<size_t>(i)], i + 1);
        e.emit(intercept, 0);
    }
    return e.written ? e.text : u"y = 0";
}

namespace {

void appendAdditiveTerm(KQUAdditiveForm form, KQUAttributedString& out, double v, int64_t j,
                        bool& firstTermDone) {
    if (!(v < -kTiny || v > kTiny)) return;  // also NaN
    if (j < 0) {
        KQU_ASSERT_FAILURE("Incorrect {} in p_equationTermWithCoefficient in {}",
                           form == KQUAdditiveForm::Polynomial ? "xPower" : "xIndex", modelName(form));
        return;
    }
    std::u16string s = formatted(v), a = formatted(std::fabs(v));
    std::u16string term;
    if (!firstTermDone) {
        term = j == 0 ? s : s == u"1" ? u"" : s == u"-1" ? u"-" : s;
    } else {
        term = v > kTiny ? u" + " : u" - ";
        term += j == 0 || a != u"1" ? a : u"";
    }
    bool log = form == KQUAdditiveForm::Logarithmic;
    uint64_t indexStart = 0, indexLength = 0;
    if (j == 1) {
        term += log ? u"ln(x)" : u"x";
    } else if (j >= 2) {
        std::u16string d = decimal(j);
        term += log ? u"ln(x" : u"x";
        indexStart = out.length() + term.size();
        indexLength = d.size();
        term += d;
        if (log) term += u")";
    }
    out.append(term);
    if (indexLength)
        out.addAttribute(KQUSuperscriptAttributeName, KQUValue(form == KQUAdditiveForm::Polynomial ? 1 : -1),
                         {indexStart, indexLength});
    firstTermDone = true;
}

}  // namespace

KQUAttributedString KQUAdditiveAttributedEquation(KQUAdditiveForm form, std::span<const double> beta,
                                                  bool affine, double intercept) {
    KQUAttributedString out(u"y = ");
    bool firstTermDone = false;
    const int64_t n = static_cast<int64_t>(beta.size());
    for (int64_t i = n - 1; i >= 0; --i)
        appendAdditiveTerm(form, out, beta[static_cast<size_t>(i)], affine ? i : i + 1, firstTermDone);
    if (!affine) appendAdditiveTerm(form, out, intercept, 0, firstTermDone);
    if (!firstTermDone) out.append(u"0");
    return out;
}

std::u16string KQUMultiplicativeSimpleEquation(KQUMultiplicativeForm form, std::span<const double> beta,
                                               bool affine, double intercept) {
    const size_t n = beta.size();
    double a = affine ? (n ? std::exp(beta[0]) : NAN) : intercept;
    std::u16string text = u"y = ";
    // Numeric test: a constant that prints "1" but is not exactly 1 is still written.
    if (a != 1.0) {
        if (-kTiny < a && a < kTiny) return u"y = 0";
        text += formatted(a);
    }
    size_t first = affine ? 1 : 0;
    for (size_t i = first; i < n; ++i) {
        double v = beta[i];
        if (!(v > kTiny || v < -kTiny)) continue;
        int64_t variable = affine ? static_cast<int64_t>(i) : static_cast<int64_t>(i) + 1;
        std::u16string s = formatted(v);
        if (form == KQUMultiplicativeForm::Power) {
            // The space before later variables is how the equation has always read.
            std::u16string base = i == first ? u"x" : u" x" + decimal(variable);
            text += v > kTiny ? base + u"^" + s : base + u"^(" + s + u")";
        } else {
            text += u"exp(" + s + u"x" + (i == first ? u"" : decimal(variable)) + u")";
        }
    }
    return text == u"y = " ? u"y = 1" : text;
}

namespace {

void appendMultiplicativeTerm(KQUMultiplicativeForm form, KQUAttributedString& out, double v, int64_t j) {
    if (!(v < -kTiny || v > kTiny)) return;
    bool power = form == KQUMultiplicativeForm::Power;
    if (j < 1) {
        KQU_ASSERT_FAILURE("Incorrect xIndex in p_equationTermWithCoefficient in {}",
                           power ? "KQUPowerRegressionModel" : "KQUExponentialRegressionModel");
        return;
    }
    std::u16string s = formatted(v), d = decimal(j);
    uint64_t start = out.length();
    KQUValue up(1), down(-1);
    if (power) {
        if (j == 1) {
            if (s == u"1") {
                out.append(u"x");
            } else {
                out.append(u"x" + s);
                out.addAttribute(KQUSuperscriptAttributeName, up, {start + 1, s.size()});
            }
        } else {
            out.append(u"x" + d + (s == u"1" ? u"" : s));
            out.addAttribute(KQUSuperscriptAttributeName, down, {start + 1, d.size()});
            if (s != u"1")
                out.addAttribute(KQUSuperscriptAttributeName, up, {start + 1 + d.size(), s.size()});
        }
    } else {
        std::u16string exponent = (s == u"1" ? u"" : s) + u"x" + (j == 1 ? u"" : d);
        out.append(u"e" + exponent);
        out.addAttribute(KQUSuperscriptAttributeName, up, {start + 1, exponent.size()});
    }
}

}  // namespace

KQUAttributedString KQUMultiplicativeAttributedEquation(KQUMultiplicativeForm form,
                                                        std::span<const double> beta, bool affine,
                                                        double intercept) {
    const size_t n = beta.size();
    double a = affine ? (n ? std::exp(beta[0]) : NAN) : intercept;
    std::u16string s = formatted(a);
    KQUAttributedString out(u"y = ");
    // Text test: a constant that prints "1" is left out here.
    if (s != u"1") {
        if (-kTiny < a && a < kTiny) {
            out.append(u"0");
            return out;
        }
        out.append(s);
    }
    for (size_t i = affine ? 1 : 0; i < n; ++i)
        appendMultiplicativeTerm(form, out, beta[i],
                                 affine ? static_cast<int64_t>(i) : static_cast<int64_t>(i) + 1);
    if (out == KQUAttributedString(u"y = ")) out.append(u"1");
    return out;
}

}  // namespace kqu::detail

// ---------------------------------------------------------------------------------------

namespace kqu {

int KQURegressionModelCovarianceMatrix(std::span<const double> X, int n, int m, std::span<double> out) {
    try {
        if (n < 1 || m < 1 || m < n || X.size() < static_cast<size_t>(m) * static_cast<size_t>(n) ||
            out.size() < static_cast<size_t>(n) * static_cast<size_t>(n))
            return KQURegressionErrorSolver;
        const size_t rows = static_cast<size_t>(m), cols = static_cast<size_t>(n);
        std::vector<double> factor(X.begin(), X.begin() + static_cast<std::ptrdiff_t>(rows * cols));
        std::vector<double> tau(cols);
        double optimal = 0;
        if (LAPACKE_dgeqrf_work(LAPACK_COL_MAJOR, m, n, factor.data(), m, tau.data(), &optimal, -1) != 0)
            return KQURegressionErrorInversion;
        std::vector<double> work(static_cast<size_t>(std::max(optimal, static_cast<double>(n))));
        if (LAPACKE_dgeqrf_work(LAPACK_COL_MAJOR, m, n, factor.data(), m, tau.data(), work.data(),
                                static_cast<lapack_int>(work.size())) != 0)
            return KQURegressionErrorInversion;
        return detail::inverseFromR(factor.data(), rows, rows, n,
                                    detail::scanColumns(X.data(), rows, cols).norms, out.data());
    } catch (const std::bad_alloc&) {
        return KQURegressionErrorAllocation;
    }
}

}  // namespace kqu
