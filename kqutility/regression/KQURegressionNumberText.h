// STAND-IN for the number-rendering function of the formatting room.
//
// Regression equations render coefficients through KQUNumberFormatterStringFromDoubleWithFormat,
// which the number-formats work provides. Until it lands this private copy, with the same
// arguments in the same order, renders through ICU's DecimalFormat for the current ICU
// default locale, rounding half up. When the real one lands, delete these two files and
// include its header in KQURegressionModel.cpp instead: nothing else refers to this one.
//
// Thread rules: each thread keeps its own formatter, so calls from several threads are safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kqu::detail {

// value type is accepted and ignored, as by the real function. With applyDecimalPlaces
// the fraction digits are minimumDecimalPlaces..decimalPlaces (65534: as many as
// necessary) and at least one integer digit is shown; otherwise the pattern alone decides.
std::u16string KQUNumberFormatterStringFromDoubleWithFormat(
    double value, int valueType, std::u16string_view pattern, bool applyDecimalPlaces,
    uint16_t minimumDecimalPlaces, uint16_t decimalPlaces, bool showThousandsSeparator,
    std::optional<std::u16string_view> currencyCode, bool suppressMinusSign);

}  // namespace kqu::detail
