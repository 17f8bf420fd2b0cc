// KQUNumberFormatter: for one locale, everything needed to recognise numbers that people
// type (decimal, currency, percentage, scientific and fraction input in many spellings)
// and to supply the locale's default patterns, their negative-style variants and
// currency data. KQUGetNumberValueAndTypeFromStringWithCurrencyCode is the entry point
// that turns typed text into a value plus the value type it was written in.
//
// A formatter holds the configurations of its ICU input formatters, tried in a fixed
// order; the formatters themselves come from the calling thread's KQUDecimalFormatCache,
// built all at once the first time a formatter parses on a thread, so later parses
// build none. Parsing is strict (ICU's default): the whole text must be consumed, only
// the scientific formatters accept an exponent, and a text whose value is not finite
// (NaN, infinity, 1E400) is no number.
//
// formatterForLocale() hands out shared formatters, one per locale identifier; the one
// for the current locale is rebuilt after a change of the current locale (see
// KQULocale.h). Formatters are immutable apart from their internal symbol caches, which
// are locked, so a formatter may be used from several threads. Patterns and typed text
// are UTF-16.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUCharacterSet.h"
#include "kqutility/foundation/KQULocale.h"

namespace kqu {

struct KQUDecimalFormatConfig;

// The value type reported by a failed parse.
inline constexpr int KQUNumberParseFailedValueType = -999;
// User-defaults key: offer every ISO currency instead of the short list.
inline constexpr const char* KQUDefaultsShowCompleteCurrencyList = "KQTDefaultsShowCompleteCurrencyList";

class KQUNumberFormatter {
public:
    // nullopt: the shared formatter of the current locale.
    static std::shared_ptr<const KQUNumberFormatter> formatterForLocale(const std::optional<KQULocale>& locale = {});

    explicit KQUNumberFormatter(const KQULocale& locale);
    ~KQUNumberFormatter();
    KQUNumberFormatter(const KQUNumberFormatter&) = delete;
    KQUNumberFormatter& operator=(const KQUNumberFormatter&) = delete;

    const KQULocale& locale() const { return mLocale; }

    // The locale's pattern for a value type (1 currency, 2 percentage, 3 scientific,
    // anything else decimal), as it stands or adapted to a negative style (0..3; other
    // styles give the pattern unchanged).
    std::u16string defaultFormatStringForValueType(int valueType) const;
    std::u16string defaultFormatStringForValueType(int valueType, int negativeStyle) const;
    // The locale's currency (with likely subtags added, so "de" has EUR).
    const std::string& localeCurrencyCode() const { return mCurrencyCode; }
    std::u16string currencySymbolForCurrencyCode(const std::string& code) const;
    std::u16string halfWidthCurrencySymbolForCurrencyCode(const std::string& code) const;
    std::u16string displayNameForCurrencyCode(const std::string& code) const;
    const std::u16string& percentSymbol() const { return mPercentSymbol; }

    // The parsing steps. Each answers whether text parsed; on failure *value is 0 and
    // *formatString and *currencyCode are cleared. formatString receives the pattern of
    // the formatter that accepted the text, as it was applied.
    bool decimalFromString(std::u16string_view text, double* value, std::u16string* formatString = nullptr) const;
    bool currencyFromString(std::u16string_view text, std::string_view additionalCurrencyCode, double* value,
                            std::u16string* formatString = nullptr, std::string* currencyCode = nullptr) const;
    bool percentageFromString(std::u16string_view text, double* value, std::u16string* formatString = nullptr) const;
    bool scientificFromString(std::u16string_view text, double* value, std::u16string* formatString = nullptr) const;
    bool fractionFromString(std::u16string_view text, double* value) const;
    // Looks for a known currency symbol (full or half width) within 8 characters of
    // either end of text; *successfulString receives text with a half-width symbol
    // replaced by the full one.
    bool findCurrencySymbolInString(std::u16string_view text, std::string_view additionalCurrencyCode,
                                    std::u16string* successfulString) const;

    // The current locale's formatter, asked.
    static std::string currentLocaleCurrencyCode();
    // Fraction digits of the currency; 0, logged, for a code ICU does not know.
    static uint16_t defaultDecimalPlacesForCurrencyCode(const std::string& code);
    static std::vector<std::string> availableCurrencyCodes();
    static std::vector<std::string> userVisibleCurrencyCodes();
    // "0123456789@#.-,E+;'*%", U+2030 and U+00A4.
    static const KQUCharacterSet& numberFormatStringSpecialSymbols();
    // pattern adapted to a negative style: 0 minus, 1 red (negatives look positive),
    // 2 and 3 parentheses; other styles leave it unchanged.
    static std::u16string formatStringTransformedForNegativeStyle(std::u16string_view pattern, int negativeStyle);
    // 1 when symbol occurs (outside quoted runs) at or after the first number symbol of
    // subpattern; 0 when it does not occur or stands in the prefix.
    static int positionOfSymbolInNumberFormatSubpattern(std::u16string_view symbol, std::u16string_view subpattern);
    static int positionOfMinusSignInNumberFormatSubpattern(std::u16string_view subpattern);
    static int positionOfCurrencySymbolInNumberFormatSubpattern(std::u16string_view subpattern);

    struct Trial;  // one input formatter: its configuration, applied pattern, currency

private:
    struct ThreadFormatters;  // this formatter's ICU formatters on the calling thread
    const ThreadFormatters& threadFormatters() const;
    // set: the index of trials among the resolved sets, or -1 to ask the cache.
    bool tryTrials(int set, const std::vector<Trial>& trials, std::u16string_view text, double* value,
                   std::u16string* formatString, std::string* currencyCode) const;
    const std::vector<Trial>& additionalCurrencyTrials(const std::string& code) const;
    std::vector<Trial> currencyTrialsForCode(const std::string& code) const;

    KQULocale mLocale;
    uint64_t mSerial;
    std::string mCurrencyCode;
    std::vector<Trial> mDecimalTrials, mCurrencyTrials, mPercentageTrials, mScientificTrials;
    std::unique_ptr<KQUDecimalFormatConfig> mFractionConfig;
    std::u16string mCurrencyNumberPortion;
    std::u16string mDecimalString, mCurrencyString, mPercentageString, mScientificString;
    std::u16string mPercentSymbol;
    std::vector<std::u16string> mTransformedDecimalStrings, mTransformedCurrencyStrings,
        mTransformedPercentageStrings, mTransformedScientificStrings;
    std::vector<std::string> mCurrencyCodes;
    std::vector<std::pair<std::u16string, std::u16string>> mCurrencySymbols;  // full, half width; as the codes

    mutable std::mutex mLock;  // guards the caches below
    mutable std::map<std::string, std::u16string, std::less<>> mSymbols, mHalfWidthSymbols;
    mutable std::map<std::string, std::vector<Trial>, std::less<>> mAdditionalTrials;
};

// Parses typed text. Normalises full-width characters and the minus/plus look-alikes,
// then tries decimal (value type 0), currency (1), percentage (2), scientific (3) and
// fraction (4), first success wins. locale nullptr: the current locale.
// additionalCurrencyCode (may be empty) adds a currency beyond the locale's, USD, JPY,
// GBP and EUR. On failure: false, *value 0, *valueType -999, outputs cleared. Never throws.
bool KQUGetNumberValueAndTypeFromStringWithCurrencyCode(std::u16string_view text,
                                                        std::string_view additionalCurrencyCode,
                                                        const KQULocale* locale, double* value, int* valueType,
                                                        std::u16string* formatString, std::string* currencyCode);
bool KQUGetNumberValueAndTypeFromString(std::u16string_view text, const KQULocale* locale, double* value,
                                        int* valueType, std::u16string* formatString, std::string* currencyCode);

// The locale's grouping size (3 for most, 0 for en_US_POSIX); nullptr: the current
// locale's, cached until the current locale changes.
int KQUNumberFormatterGroupingSizeForLocale(const KQULocale* locale);
// The current locale, as the number code sees it.
KQULocale KQUGetCurrentLocale();
// The locale's currency, "USD", "JPY", "GBP", "EUR", then extra when not empty.
std::vector<std::string> KQUCurrencyCodesForLocale(const KQULocale& locale, std::string_view extra = {});
// The first character of the locale's grouping-separator set in text stands at index
// >= 1 between two decimal digits.
bool KQUIsGroupingSeparatorUsedInNumericString(std::u16string_view text, const KQULocale* locale);
// Decimal digits directly after the last decimal separator of text; 0 when none.
uint64_t KQUNumberOfDecimalPlacesInNumericString(std::u16string_view text, const KQULocale* locale);
// The characters that count as a given separator: "." and U+FF0E; "," and U+FF0C; space,
// U+00A0 and U+202F; otherwise the character alone.
KQUCharacterSet KQUSearchCharacterSetForSeparatorCharacter(char16_t separator);

}  // namespace kqu
