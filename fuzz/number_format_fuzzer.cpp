// Renders arbitrary values through custom and plain formats with arbitrary patterns and
// layout facts, as documents carry them. The first 16 bytes are the control block: the
// value (8 bytes), the locale, the value type, layout widths and counts, interstitial
// insertion indexes, radix and base places; the rest is the UTF-16 pattern. Rendering
// must never crash, read out of bounds or overflow, and the same call must give the same
// text twice (nothing depends on earlier calls).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/format/KQUConditionalNumberFormat.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberRendering.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQULogSink.h"

namespace {

const char* const kLocales[] = {"en_US", "de_DE", "ar_EG", "en_IN"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    kqu::KQUAssertionHandlerTesting::setRaisesForTests(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16) return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    const uint8_t* c = data + 8;
    std::u16string pattern;
    for (size_t i = 16; i + 1 < size; i += 2)
        pattern.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    kqu::KQUScopedLocaleOverride locale(kLocales[c[0] % 4]);

    kqu::KQUNumberFormatSettings settings;
    settings.formatString = pattern;
    settings.currencyCode = (c[0] & 0x10) ? "CHF" : "JPY";
    settings.valueType = (c[1] & 0x0F) % 6;
    settings.decimalPlaces = (c[1] & 0x80) ? kqu::kKQUNumberFormatInvalidDecimalPlaces : (c[1] >> 4) % 8;
    settings.negativeStyle = (c[0] >> 5) % 5;
    settings.useAccountingStyle = (c[0] & 0x04) != 0;
    settings.fractionAccuracy = static_cast<int8_t>(c[2]);
    settings.scaleFactor = (c[0] & 0x08) ? 100.0 : 1.0;
    settings.minimumIntegerWidth = c[3] % 40;
    settings.decimalWidth = c[4] % 40;
    settings.numberOfNonSpaceIntegerPlaceholderDigits = c[3] / 40;
    settings.numberOfNonSpaceDecimalPlaceholderDigits = c[4] / 40;
    settings.indexFromRightOfLastDigitPlaceholder = c[5];
    if (c[6] & 1) {
        settings.interstitialStrings = {u"-", u"\u0660", u""};
        settings.interstitialStringInsertionIndexes = {static_cast<uint64_t>(c[6] >> 1), c[7], 200};
    }
    settings.base = c[5] % 40;
    settings.basePlaces = c[6] % 70;
    settings.baseUseMinusSign = (c[7] & 1) != 0;
    settings.isTextFormat = (c[2] & 0x80) && (c[7] & 2);

    auto plain = kqu::KQUNumberFormat::create(settings);
    auto custom = kqu::KQUNumberFormat::createCustom(settings);
    custom->setUseScientificFormattingAutomatically(true);
    for (const auto& format : {plain, custom}) {
        std::u16string first = format->stringFromDouble(value);
        if (format->stringFromDouble(value) != first) std::abort();
        (void)format->chartLabelStringFromDouble(value);
        (void)format->fractionStringFromDouble(value);
        (void)format->baseStringFromDouble(value);
    }
    auto conditional = kqu::KQUConditionalNumberFormat::create({{c[1] % 6, 0.5}}, {custom}, plain);
    (void)conditional->stringFromDouble(value);
    (void)kqu::KQUNumberFormatterStringFromDoubleWithFormat(value, 0, pattern, c[1] & 1, c[2], c[3], c[4] & 1,
                                                            "EUR", c[5] & 1);
    (void)kqu::KQUNumberOfDecimalPlacesInValue(value);
    (void)kqu::KQUNumberOfDecimalPlacesNecessaryToDisplayFullPrecisionInScientificNotation(value);
    (void)kqu::KQUNumberOfTrailingZerosInMantissaWhenFormattedAsScientific(value, c[6]);
    (void)kqu::KQUNumberFormatterStringByUnescapingFormatString(pattern);
    return 0;
}
