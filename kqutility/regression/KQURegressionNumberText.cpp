// STAND-IN: see the header. Replace with the formatting room's function when it lands.
#include "kqutility/regression/KQURegressionNumberText.h"

#include <climits>
#include <memory>

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/locid.h>

namespace kqu::detail {

namespace {

struct ThreadFormatter {
    std::string localeName;
    std::unique_ptr<icu::DecimalFormat> plain;
    std::unique_ptr<icu::DecimalFormat> minusSuppressing;
};

std::unique_ptr<icu::DecimalFormat> makeFormatter(const icu::Locale& locale, bool suppressMinus) {
    UErrorCode status = U_ZERO_ERROR;
    auto symbols = std::make_unique<icu::DecimalFormatSymbols>(locale, status);
    if (U_FAILURE(status)) return nullptr;
    if (suppressMinus) symbols->setSymbol(icu::DecimalFormatSymbols::kMinusSignSymbol, icu::UnicodeString());
    auto format = std::make_unique<icu::DecimalFormat>(u"0", symbols.release(), status);
    if (U_FAILURE(status)) return nullptr;
    format->setRoundingMode(icu::DecimalFormat::kRoundHalfUp);
    return format;
}

}  // namespace

std::u16string KQUNumberFormatterStringFromDoubleWithFormat(
    double value, int /*valueType*/, std::u16string_view pattern, bool applyDecimalPlaces,
    uint16_t minimumDecimalPlaces, uint16_t decimalPlaces, bool showThousandsSeparator,
    std::optional<std::u16string_view> currencyCode, bool suppressMinusSign) {
    thread_local ThreadFormatter cache;
    const icu::Locale& locale = icu::Locale::getDefault();
    if (cache.localeName != locale.getName()) {
        cache.localeName = locale.getName();
        cache.plain = makeFormatter(locale, false);
        cache.minusSuppressing = makeFormatter(locale, true);
    }
    icu::DecimalFormat* format = suppressMinusSign ? cache.minusSuppressing.get() : cache.plain.get();
    if (!format) return {};
    UErrorCode status = U_ZERO_ERROR;
    if (currencyCode && currencyCode->size() == 3) {
        format->setCurrency(icu::UnicodeString(currencyCode->data(), 3).getTerminatedBuffer(), status);
        status = U_ZERO_ERROR;
    }
    // Applied on every call, so no setting of an earlier call leaks into this one.
    format->applyPattern(icu::UnicodeString(pattern.data(), static_cast<int32_t>(pattern.size())), status);
    if (U_FAILURE(status)) return {};
    format->setRoundingMode(icu::DecimalFormat::kRoundHalfUp);
    if (applyDecimalPlaces) {
        bool asManyAsNecessary = decimalPlaces == 65534;
        format->setMinimumFractionDigits(asManyAsNecessary ? 0 : minimumDecimalPlaces);
        format->setMaximumFractionDigits(asManyAsNecessary ? INT_MAX : decimalPlaces);
    }
    format->setGroupingUsed(showThousandsSeparator);
    if (applyDecimalPlaces) format->setMinimumIntegerDigits(1);
    icu::UnicodeString out;
    format->format(value, out);
    return std::u16string(out.getBuffer(), static_cast<size_t>(out.length()));
}

}  // namespace kqu::detail
