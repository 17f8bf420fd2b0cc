// Number rendering: the one path from a double to text through ICU, and the helpers that
// count decimal places of values.
//
// KQUNumberFormatterStringFromDoubleWithFormat renders a value through an ICU
// DecimalFormat configured wholly from its arguments (pattern, fraction digits, grouping,
// currency, minus sign) in the current locale, rounding half up. The formatter comes from
// the calling thread's KQUDecimalFormatCache, so one formatter is built per distinct
// configuration and none per call, and no call can leave a setting behind for the next:
// the text depends only on the arguments and the current locale. KQUNumberFormat's
// stringFromDouble members, the duration formats and the trend-line equations all render
// through it.
//
// Values: an exact -0 renders as 0; a value that rounds to zero keeps its sign
// (-0.001 with two places is "-0.00"); NaN, +inf and -inf are "NaN", "∞" and "-∞" ("∞"
// when the minus sign is suppressed). ICU rounds the shortest decimal that reads back as
// the double, so 2.675 with two places is "2.68".
//
// Plain functions; thread-safe (each thread has its own formatters). Patterns and results
// are UTF-16; currency codes are ISO 4217 codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kqu {

// valueType is accepted for the callers' sake and not used. With applyDecimalPlaces the
// fraction digits are minimumDecimalPlaces...decimalPlaces (decimalPlaces 65534: as many
// as the value has) and at least one integer digit is shown; without it the pattern alone
// decides. currencyCode nullopt (or empty): the locale's currency. A pattern ICU refuses
// is logged (level 10) and the value rendered with the locale's decimal pattern.
std::u16string KQUNumberFormatterStringFromDoubleWithFormat(
    double value, int valueType, std::u16string_view pattern, bool applyDecimalPlaces,
    uint16_t minimumDecimalPlaces, uint16_t decimalPlaces, bool showThousandsSeparator,
    std::optional<std::string_view> currencyCode, bool suppressMinusSign);

// 0 for an integral (or non-finite) value; otherwise the number of fraction digits of
// the shortest decimal that reads back as value (2.5 gives 1, 1e-20 gives 20).
unsigned KQUNumberOfDecimalPlacesInValue(double value);
// The fraction digits a scientific mantissa needs to show every significant digit of
// value: 1234.5 gives 4, 0.00012 gives 1, 7 gives 0.
unsigned KQUNumberOfDecimalPlacesNecessaryToDisplayFullPrecisionInScientificNotation(double value);
// Zeros at the end of the mantissa of value written as "#E+00" with exactly places
// fraction digits (0 when there is no fraction).
unsigned KQUNumberOfTrailingZerosInMantissaWhenFormattedAsScientific(double value, unsigned places);
// pattern with its quoting removed: "''" is "'", a quoted run is copied without its
// quotes, an unterminated run reaches to the end.
std::u16string KQUNumberFormatterStringByUnescapingFormatString(std::u16string_view pattern);

namespace detail {

// Where the integer digits (with their grouping separators) and the fraction digits lie
// in a rendered text, in UTF-16 units; begin == end when the part is absent.
struct KQURenderedNumberFields {
    size_t integerBegin = 0, integerEnd = 0;
    size_t fractionBegin = 0, fractionEnd = 0;
};

// As KQUNumberFormatterStringFromDoubleWithFormat, also reporting the fields (for the
// custom layouts, which pad and insert text around the digits ICU wrote). With
// keepNegativeZero, -0 keeps its sign (the whole part of -1/2 is "-0").
std::u16string KQURenderNumber(double value, std::u16string_view pattern, bool applyDecimalPlaces,
                               uint16_t minimumDecimalPlaces, uint16_t decimalPlaces,
                               bool showThousandsSeparator, std::optional<std::string_view> currencyCode,
                               bool suppressMinusSign, KQURenderedNumberFields* fields,
                               bool keepNegativeZero = false);

}  // namespace detail

}  // namespace kqu
