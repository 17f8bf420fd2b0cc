#include "kqutility/foundation/KQUDecimal.h"

#include <algorithm>
#include <charconv>

namespace kqu {

namespace {
using U128 = unsigned __int128;

U128 powerOfTen(int n) {
    U128 p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

int digitCount(U128 m) {
    int n = 0;
    do {
        ++n;
        m /= 10;
    } while (m);
    return n;
}

std::string digitsOf(U128 m) {
    char buffer[48];
    char* end = buffer + sizeof buffer;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    } while (m);
    return std::string(p, end);
}
}  // namespace

KQUDecimal::KQUDecimal(int64_t value) {
    mNegative = value < 0;
    // Negate in unsigned arithmetic so that INT64_MIN stays exact.
    uint64_t magnitude = static_cast<uint64_t>(value);
    mMantissa = mNegative ? U128(0 - magnitude) : U128(magnitude);
    while (mMantissa && mMantissa % 10 == 0) {
        mMantissa /= 10;
        ++mExponent;
    }
    if (!mMantissa) mNegative = false;
}

std::optional<KQUDecimal> KQUDecimal::fromDigits(bool negative, std::string_view digits, int64_t exponent) {
    size_t i = 0;
    while (i < digits.size() && digits[i] == '0') ++i;
    U128 mantissa = 0;
    int taken = 0;
    for (; i < digits.size() && taken < kMaxDigits; ++i, ++taken) mantissa = mantissa * 10 + U128(digits[i] - '0');
    if (i < digits.size()) {
        // Digits past the 38th only scale the value, the first of them rounds it half-up.
        exponent += static_cast<int64_t>(digits.size() - i);
        if (digits[i] >= '5') ++mantissa;
        if (mantissa == powerOfTen(kMaxDigits)) {
            mantissa /= 10;
            ++exponent;
        }
    }
    KQUDecimal result;
    if (mantissa == 0) return result;
    while (mantissa % 10 == 0) {
        mantissa /= 10;
        ++exponent;
    }
    if (exponent < kMinExponent) {
        int64_t shift = kMinExponent - exponent;
        if (shift > kMaxDigits) return result;
        U128 divisor = powerOfTen(static_cast<int>(shift));
        U128 rest = mantissa % divisor;
        mantissa /= divisor;
        if (rest >= divisor / 2) ++mantissa;
        exponent = kMinExponent;
        if (mantissa == 0) return result;
        while (mantissa % 10 == 0) {
            mantissa /= 10;
            ++exponent;
        }
    }
    if (exponent > kMaxExponent) {
        int64_t pad = exponent - kMaxExponent;
        if (pad + digitCount(mantissa) > kMaxDigits) return std::nullopt;
        mantissa *= powerOfTen(static_cast<int>(pad));
        exponent = kMaxExponent;
    }
    result.mMantissa = mantissa;
    result.mExponent = static_cast<int16_t>(exponent);
    result.mNegative = negative;
    return result;
}

std::optional<KQUDecimal> KQUDecimal::fromString(std::string_view text) {
    size_t i = 0;
    bool negative = i < text.size() && text[i] == '-';
    if (negative) ++i;
    auto isDigit = [&](size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
    std::string digits;
    if (!isDigit(i)) return std::nullopt;
    while (isDigit(i)) digits.push_back(text[i++]);
    int64_t exponent = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (!isDigit(i)) return std::nullopt;
        while (isDigit(i)) {
            digits.push_back(text[i++]);
            --exponent;
        }
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = i < text.size() && text[i] == '-';
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        if (!isDigit(i)) return std::nullopt;
        int64_t value = 0;
        // Saturate: anything this far out is beyond the range either way.
        while (isDigit(i)) value = std::min<int64_t>(value * 10 + (text[i++] - '0'), 1'000'000'000);
        exponent += negativeExponent ? -value : value;
    }
    if (i != text.size()) return std::nullopt;
    return fromDigits(negative, digits, exponent);
}

std::string KQUDecimal::toString() const {
    if (mMantissa == 0) return "0";
    std::string digits = digitsOf(mMantissa);
    std::string text = mNegative ? "-" : "";
    if (mExponent >= 0) {
        text += digits;
        text.append(static_cast<size_t>(mExponent), '0');
    } else {
        size_t fraction = static_cast<size_t>(-mExponent);
        if (fraction >= digits.size()) {
            text += "0.";
            text.append(fraction - digits.size(), '0');
            text += digits;
        } else {
            text += digits.substr(0, digits.size() - fraction);
            text += '.';
            text += digits.substr(digits.size() - fraction);
        }
    }
    return text;
}

double KQUDecimal::doubleValue() const {
    std::string text = (mNegative ? "-" : "") + digitsOf(mMantissa) + "e" + std::to_string(mExponent);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace kqu
