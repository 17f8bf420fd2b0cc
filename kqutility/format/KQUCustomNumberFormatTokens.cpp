#include "kqutility/format/KQUCustomNumberFormatTokens.h"

#include <algorithm>
#include <climits>

#include <unicode/dcfmtsym.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUICUSupport.h"
#include "kqutility/foundation/KQUStringTable.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/format/KQUNumberFormatter.h"

namespace kqu {

namespace {

std::u16string repeated(uint64_t count, std::u16string_view text) {
    std::u16string out;
    for (uint64_t i = 0; i < count; ++i) out += text;
    return out;
}

std::u16string currentSymbol(icu::DecimalFormatSymbols::ENumberFormatSymbol which) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(KQUICULocale(KQUGetCurrentLocale()), status);
    return KQUU16String(symbols.getSymbol(which));
}

// Separators before every group of size from the right, never before the first character.
std::u16string grouped(std::u16string_view text, std::u16string_view separator, int size) {
    if (size <= 0) return std::u16string(text);
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        size_t fromRight = text.size() - i;
        if (i > 0 && fromRight % static_cast<size_t>(size) == 0) out += separator;
        out += text[i];
    }
    return out;
}

void checkType(std::u16string_view token, int type) {
    KQU_ASSERT(KQUIsSpecialCustomNumberFormatTokenOfType(token, type), "Wrong token type!");
}

}  // namespace

char16_t KQUCustomNumberFormatTokenIdentifierCharacterForTokenType(int type) {
    switch (type) {
        case KQUCustomNumberFormatTokenTypeScale: return KQUCustomNumberFormatTokenScaleIdentifierCharacter;
        case KQUCustomNumberFormatTokenTypeInteger: return KQUCustomNumberFormatTokenIntegerIdentifierCharacter;
        case KQUCustomNumberFormatTokenTypeDecimal: return KQUCustomNumberFormatTokenDecimalIdentifierCharacter;
        case KQUCustomNumberFormatTokenTypeCurrency: return KQUCustomNumberFormatTokenCurrencyIdentifierCharacter;
        case KQUCustomNumberFormatTokenTypeSpace: return KQUCustomNumberFormatTokenSpaceIdentifierCharacter;
        case KQUCustomNumberFormatTokenTypeText: return KQUCustomNumberFormatTokenTextIdentifierCharacter;
        case KQUCustomNumberFormatTokenTypeFraction: return KQUCustomNumberFormatTokenFractionIdentifierCharacter;
        default:
            KQU_ASSERT_FAILURE("Invalid custom number format token type!");
            return KQUCustomNumberFormatTokenScaleIdentifierCharacter;
    }
}

std::u16string KQUCustomNumberFormatDisplayNameForScaleCharacter(char16_t scaleCharacter) {
    const char* key = nullptr;
    switch (scaleCharacter) {
        case u'%': key = "Percent"; break;
        case u'C': key = "Hundreds"; break;
        case u'K': key = "Thousands"; break;
        case u'M': key = "Millions"; break;
        case u'B': key = "Billions"; break;
        case u'T': key = "Trillions"; break;
        case u'E': key = "Scientific"; break;
        default: return {};
    }
    return KQUUTF16FromUTF8(KQULocalizedString(key, "Localizable")).value_or(u"");
}

std::u16string KQUCustomNumberFormatTokenString(int type, std::u16string_view content) {
    std::u16string token{KQUCustomNumberFormatSentinelCharacter,
                         KQUCustomNumberFormatTokenIdentifierCharacterForTokenType(type)};
    return token += content;
}

std::u16string KQUCustomNumberFormatIntegerTokenRepresentedString(uint64_t digits, bool separator,
                                                                   std::u16string_view digitString) {
    return repeated(digits, digitString) + (separator ? u"," : u"");
}

std::u16string KQUCustomNumberFormatDecimalTokenRepresentedString(uint64_t digits, std::u16string_view digitString) {
    return repeated(digits + 1, digitString);
}

std::u16string KQUCustomNumberFormatIntegerTokenDisplayString(int digits, bool separator,
                                                               std::u16string_view digitString) {
    std::u16string plain = repeated(digits > 0 ? static_cast<uint64_t>(digits) : 0, digitString);
    if (!separator) return plain;
    int size = KQUNumberFormatterGroupingSizeForLocale(nullptr);
    if (size <= 0 || digitString.empty()) return plain;
    // Group whole placeholders, whatever the length of digitString.
    std::u16string separatorText = currentSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
    std::u16string out;
    for (int i = 0; i < digits; ++i) {
        if (i > 0 && (digits - i) % size == 0) out += separatorText;
        out += digitString;
    }
    return out;
}

std::u16string KQUCustomNumberFormatIntegerFormatString(int digits, std::u16string_view digitString) {
    return repeated(digits > 0 ? static_cast<uint64_t>(digits) : 0, digitString);
}

std::u16string KQUCustomNumberFormatDecimalTokenDisplayString(uint64_t digits, std::u16string_view digitString) {
    return currentSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol) + repeated(digits, digitString);
}

std::u16string KQUCustomNumberFormatDecimalFormatString(int digits, std::u16string_view digitString,
                                                        bool includeDecimalSeparator) {
    std::u16string out = includeDecimalSeparator ? u"." : u"";
    out += repeated(digits > 0 ? static_cast<uint64_t>(digits) : 0, digitString);
    return out;
}

bool KQUIsSpecialCustomNumberFormatToken(std::u16string_view token) {
    return token.size() >= 2 && token[0] == KQUCustomNumberFormatSentinelCharacter;
}

bool KQUIsSpecialCustomNumberFormatTokenOfType(std::u16string_view token, int type) {
    char16_t identifier = KQUCustomNumberFormatTokenIdentifierCharacterForTokenType(type);
    return KQUIsSpecialCustomNumberFormatToken(token) && token[1] == identifier;
}

uint64_t KQUNumberOfDigitsInCustomNumberFormatIntegerToken(std::u16string_view token) {
    checkType(token, KQUCustomNumberFormatTokenTypeInteger);
    uint64_t count = 0;
    for (size_t i = 2; i < token.size(); ++i)
        if (token[i] != u',') ++count;
    return count;
}

bool KQUCustomFormatIntegerTokenUsesSeparator(std::u16string_view token) {
    checkType(token, KQUCustomNumberFormatTokenTypeInteger);
    return !token.empty() && token.back() == u',';
}

uint64_t KQUNumberOfDigitsInCustomNumberFormatDecimalToken(std::u16string_view token) {
    checkType(token, KQUCustomNumberFormatTokenTypeDecimal);
    return token.size() > 3 ? token.size() - 3 : 0;
}

std::u16string KQUDigitPlaceholderStringInDigitToken(std::u16string_view token) {
    if (token.find(u'0') != std::u16string_view::npos) return u"0";
    if (token.find(u'#') != std::u16string_view::npos) return u"#";
    return u"?";
}

std::string KQUCurrencyCodeFromCustomNumberFormatCurrencyToken(std::u16string_view token) {
    if (token.size() <= 2) return KQUNumberFormatter::currentLocaleCurrencyCode();
    return KQUUTF8FromUTF16(token.substr(2));
}

int KQUFractionAccuracyFromCustomNumberFormatFractionToken(std::u16string_view token) {
    // Read as a leading integer, like the platform's intValue: blanks, a sign, digits;
    // anything else ends it; out-of-range values saturate.
    std::u16string_view content = token.size() > 2 ? token.substr(2) : std::u16string_view();
    size_t i = 0;
    while (i < content.size() && (content[i] == u' ' || content[i] == u'\t')) ++i;
    bool negative = false;
    if (i < content.size() && (content[i] == u'-' || content[i] == u'+')) negative = content[i++] == u'-';
    int64_t value = 0;
    for (; i < content.size() && content[i] >= u'0' && content[i] <= u'9'; ++i) {
        value = value * 10 + (content[i] - u'0');
        if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

char16_t KQUScaleCharacterInCustomNumberFormatScaleToken(std::u16string_view token) {
    return token.size() > 2 ? token[2] : u'\0';
}

std::u16string KQUFormatStringFromCustomNumberFormatScaleToken(std::u16string_view token) {
    return token.size() > 3 ? std::u16string(token.substr(3)) : std::u16string();
}

char16_t KQUSpaceCharacterInCustomNumberFormatSpaceToken(std::u16string_view token) {
    return token.size() > 2 ? token[2] : u'\0';
}

std::u16string KQUStringByInsertingFormatGroupingSeparators(std::u16string_view text) {
    return grouped(text, u",", KQUNumberFormatterGroupingSizeForLocale(nullptr));
}

}  // namespace kqu
