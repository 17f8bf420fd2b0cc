// Feeds arbitrary bytes to the typed-number parser and to the read-back of custom
// format patterns. The first byte picks the locale, the layout facts of the custom
// format and an additional currency; the rest is UTF-16 text (pairs of bytes, so that
// unpaired surrogates and private-use token characters are reached). The parser must
// never crash, read out of bounds or accept a non-finite value; the read-back must
// never crash or make an empty integer token.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/format/KQUCustomNumberFormatTokens.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberFormatter.h"

namespace {

const char* const kLocales[] = {"en_US", "de_DE", "fr_FR", "ja_JP", "en_IN", "en_US_POSIX", "ar_EG", "hi_IN"};
const char* const kCurrencies[] = {"", "CHF", "INR", "XXX"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    kqu::KQUAssertionHandlerTesting::setRaisesForTests(false);
    kqu::KQUSetCurrentLocaleOverride("en_US");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    std::u16string text;
    for (size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

    kqu::KQULocale locale(kLocales[control % 8]);
    double value = 0;
    int type = 0;
    std::u16string pattern;
    std::string code;
    if (kqu::KQUGetNumberValueAndTypeFromStringWithCurrencyCode(text, kCurrencies[(control >> 3) % 4], &locale, &value,
                                                                &type, &pattern, &code)) {
        if (!std::isfinite(value) || type < 0 || type > 4) std::abort();
    } else if (value != 0 || type != kqu::KQUNumberParseFailedValueType) {
        std::abort();
    }

    kqu::KQUNumberFormatSettings settings;
    settings.formatString = text;
    settings.currencyCode = "EUR";
    settings.isTextFormat = (control & 0x20) != 0;
    settings.scaleFactor = (control & 0x40) ? 100.0 : 1.0;
    settings.minimumIntegerWidth = static_cast<uint8_t>(control % 5);
    settings.decimalWidth = static_cast<uint8_t>((control >> 2) % 4);
    settings.numberOfNonSpaceIntegerPlaceholderDigits = static_cast<uint8_t>((control >> 3) % 6);
    settings.numberOfNonSpaceDecimalPlaceholderDigits = static_cast<uint8_t>((control >> 5) % 4);
    if (control & 0x80) {
        settings.interstitialStrings = {u"-", u"/", u"x"};
        settings.interstitialStringInsertionIndexes = {0, static_cast<uint64_t>(control % 4), 9};
    }
    auto tokens = kqu::KQUNumberFormat::createCustom(settings)->customNumberFormatTokens();
    if (!tokens) std::abort();
    for (const auto& token : *tokens) {
        if (kqu::KQUIsSpecialCustomNumberFormatTokenOfType(token, kqu::KQUCustomNumberFormatTokenTypeInteger) &&
            kqu::KQUNumberOfDigitsInCustomNumberFormatIntegerToken(token) == 0)
            std::abort();
        (void)kqu::KQUScaleCharacterInCustomNumberFormatScaleToken(token);
        (void)kqu::KQUFormatStringFromCustomNumberFormatScaleToken(token);
        (void)kqu::KQUFractionAccuracyFromCustomNumberFormatFractionToken(token);
    }
    return 0;
}
