// KQUDecimal: an exact decimal number as the JSON reader hands out numbers, a mantissa of
// at most 38 significant digits times a power of ten from -128 to 127.
//
// Reading text keeps the first 38 significant digits and rounds the rest half-up; a value
// too small for the exponent range becomes 0, one too large is refused (there is no NaN
// and no infinity). Its text has no exponent and no leading or trailing zeros ("-0.5e+3"
// reads as -500, written "-500"; negative zero is "0"). A plain value type, safe to copy
// and share between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kqu {

class KQUDecimal {
public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;

    KQUDecimal() = default;
    // The integer value exactly (an int64 has at most 19 digits).
    explicit KQUDecimal(int64_t value);

    // Parses "[-]digits[.digits][(e|E)[+|-]digits]" (ASCII digits, the whole text);
    // nullopt for anything else or for a value beyond the exponent range.
    [[nodiscard]] static std::optional<KQUDecimal> fromString(std::string_view text);

    // The number in plain positional notation: "-500", "0.25", "0".
    [[nodiscard]] std::string toString() const;
    // The nearest double (via its text, so correctly rounded).
    [[nodiscard]] double doubleValue() const;

    bool isZero() const { return mMantissa == 0; }
    bool isNegative() const { return mNegative; }

    // Values compare equal when they are the same number (1.50 == 1.5).
    bool operator==(const KQUDecimal& other) const {
        return mMantissa == other.mMantissa && mExponent == other.mExponent && mNegative == other.mNegative;
    }

    // Builds a value from a mantissa and exponent, rounding and range-checking like
    // fromString: used by scanners that collect digits themselves. digits holds ASCII
    // digits only, already without a sign; exponent applies to the integer they form.
    [[nodiscard]] static std::optional<KQUDecimal> fromDigits(bool negative, std::string_view digits,
                                                               int64_t exponent);

private:
    // Kept normalised: no trailing zeros in the mantissa, zero has exponent 0 and no sign,
    // so equal numbers have equal members.
    unsigned __int128 mMantissa = 0;
    int16_t mExponent = 0;
    bool mNegative = false;
};

}  // namespace kqu
