#!/usr/bin/env python3
"""Prints the known answers of KQUNumberRenderingTests.cpp (run by hand, paste the rows).

Rounding: the shortest decimal that reads back as the double (repr), rounded half up,
grouped by format(',f'); never Decimal(x), which is the binary value (2.675 -> 2.67).
Fractions: a brute-force transcription of the closest-fraction search (ties keep the
smaller denominator), not Fraction.limit_denominator, which breaks ties differently.
Base N: format(n, 'X'), int(text, radix), and (1 << w) + n for two's complement.
"""
from decimal import Decimal, ROUND_HALF_UP
from math import floor, gcd


def rounded(x, places, scale=1):
    d = Decimal(repr(x)) * scale
    q = d.quantize(Decimal(1).scaleb(-places), rounding=ROUND_HALF_UP)
    text = format(q, ',f')
    if q == 0 and d < 0 and not text.startswith('-'):
        text = '-' + text  # a value rounding to zero keeps its sign
    return text


def fraction(x, accuracy):
    negative, a = x < 0, abs(x)
    whole = floor(a)
    f = a - whole
    if accuracy == 0 or accuracy < -3:
        accuracy = -1
    low, high = (accuracy, accuracy) if accuracy > 0 else (2, {-1: 9, -2: 99, -3: 999}[accuracy])
    best, num, den = float('inf'), 0, 1
    for d in range(low, high + 1):
        err = abs(f - round(f * d) / d)  # round() of a float; ties do not arise for these inputs
        if err < best:
            best, num, den = err, int(Decimal(f * d).quantize(Decimal(1), ROUND_HALF_UP)), d
    if accuracy < 0:
        g = gcd(num, den) if num else den
        num, den = num // g, den // g
    if num == den:
        whole, num = whole + 1, 0
    if whole == 0:
        return '0' if num == 0 else f'{-num if negative else num}/{den}'
    w = -whole if negative else whole
    return f'{w}' if num == 0 else f'{w} {num}/{den}'


if __name__ == '__main__':
    for x, p in [(2.675, 2), (1.005, 2), (0.125, 2), (1234567.891, 2), (2.5, 0), (-2.5, 0), (-1.005, 2),
                 (0.1 + 0.2, 17), (123456789.12345679, 8), (9007199254740993.0, 0), (-0.001, 2),
                 (999.9995, 3), (0.045, 2), (1.0000000000000002, 16), (8.345, 2)]:
        print(f'{{{x!r}, {p}, u"{rounded(x, p)}"}},')
    for x, p in [(0.123456, 2), (0.001235, 3), (-0.5, 0), (1.005, 0)]:
        print('percent', f'{{{x!r}, {p}, u"{rounded(x, p, 100)}%"}},')
    for x in [0.333, 2.999, -0.5, -1.5, 0, 0.3, 0.9, 3.14159, 0.127, 0.4285714, -7.0625, 1e-9, 123.456]:
        print(f'{{{x!r}, {{', ', '.join(f'u"{fraction(x, a)}"' for a in (-1, -2, -3, 4, 16, 0)), '}},')
    for n, r in [(255, 16), (-255, 16), (123456789, 36), (5, 2), (-1, 2), (2**62, 8)]:
        print(n, r, format(n, 'X') if r == 16 else '', int('21I3V9', 36) if r == 36 else '', format((1 << 32) + n, 'X') if n < 0 else '')
