#include "kqutility/format/KQUNumberFormatter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <unordered_map>

#include <unicode/dcfmtsym.h>
#include <unicode/fmtable.h>
#include <unicode/parsepos.h>
#include <unicode/ucurr.h>
#include <unicode/uenum.h>
#include <unicode/uloc.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUDecimalFormatCache.h"
#include "kqutility/foundation/KQUICUSupport.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "kqutility/format/KQUFormatStringUtilities.h"
#include "kqutility/format/KQUNumberFormatting.h"

namespace kqu {

struct KQUNumberFormatter::ThreadFormatters {
    uint64_t generation = 0;
    // Decimal, currency, percentage, scientific trials in order; then the fraction formatter.
    std::vector<std::shared_ptr<const icu::DecimalFormat>> sets[5];
};

struct KQUNumberFormatter::Trial {
    KQUDecimalFormatConfig config;
    std::u16string pattern;  // as applied (or, for a locale style, as ICU reports it)
    std::string currency;    // empty for the non-currency sets
};

namespace {

// The spellings people use for currency amounts: %C is the currency sign, %@ the
// number portion of the locale's currency pattern. Strict parsing makes each accept
// exactly its own spelling, so the order only decides which pattern is reported.
constexpr const char16_t* kCurrencyTemplates[] = {
    u"%C%@", u"%C%@;- %C%@", u"%@%C", u"%@%C;- %@%C", u"%C %@", u"%C %@;- %C %@", u"%@ %C", u"%@ %C;- %@ %C",
    u"%C%@;%C-%@", u"%C%@;%C -%@", u"%C%@;%C- %@", u"%C%@;%C - %@", u"%C%@;(%C%@)", u"%C%@;( %C%@)",
    u"%C%@;(%C%@ )", u"%C%@;(%C %@)", u"%C%@;( %C %@)", u"%C%@;(%C %@ )", u"%C%@;( %C%@ )",
    u"%C%@;( %C %@ )", u"%C%@;%C(%@)", u"%C%@;%C( %@)", u"%C%@;%C(%@ )", u"%C%@;%C (%@)",
    u"%C%@;%C ( %@)", u"%C%@;%C (%@ )", u"%C%@;%C( %@ )", u"%C%@;%C ( %@ )", u"%@%C;(%@%C)",
    u"%@%C;( %@%C)", u"%@%C;(%@%C )", u"%@%C;(%@ %C)", u"%@%C;( %@ %C)", u"%@%C;(%@ %C )",
    u"%@%C;( %@%C )", u"%@%C;( %@ %C )", u"%@%C;(%@)%C", u"%@%C;( %@)%C", u"%@%C;(%@ )%C",
    u"%@%C;(%@) %C", u"%@%C;( %@) %C", u"%@%C;(%@ ) %C", u"%@%C;( %@ )%C", u"%@%C;( %@ ) %C",
    u"%C%@;%C%@-", u"%C%@;%C%@ -", u"%C%@;%C %@-", u"%C%@;%C %@ -", u"%@%C;%@%C-", u"%@%C;%@%C -",
    u"%@%C;%@ %C-", u"%@%C;%@ %C -"};

std::atomic<uint64_t> sNextSerial{1};

KQUDecimalFormatConfig styleConfig(const KQULocale& locale, KQUDecimalFormatStyle style, bool noExponent) {
    KQUDecimalFormatConfig config;
    config.locale = locale.identifier();
    config.style = style;
    config.parseNoExponent = noExponent;
    return config;
}

KQUDecimalFormatConfig patternConfig(const KQULocale& locale, std::u16string pattern, std::u16string currency = {}) {
    KQUDecimalFormatConfig config;
    config.locale = locale.identifier();
    config.pattern = std::move(pattern);
    config.currency = std::move(currency);
    config.parseNoExponent = true;
    return config;
}

std::u16string reportedPattern(const KQUDecimalFormatConfig& config) {
    auto format = KQUDecimalFormatCache::forCurrentThread().formatter(config);
    if (!format) return {};
    icu::UnicodeString pattern;
    format->toPattern(pattern);
    return KQUU16String(pattern);
}

std::u16string asciiToU16(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

// The whole text must be consumed; the value must be finite. zero gives +0.0 unless
// keepZeroSign (the whole part of a fraction needs the sign of "-0").
bool parseWhole(const icu::DecimalFormat& format, std::u16string_view text, double* value, bool keepZeroSign = false) {
    *value = 0;
    if (text.empty()) return false;
    icu::UnicodeString string = KQUAliasICUString(text);
    icu::Formattable result;
    icu::ParsePosition position(0);
    format.parse(string, result, position);
    if (position.getIndex() != string.length() || position.getErrorIndex() >= 0) return false;
    UErrorCode status = U_ZERO_ERROR;
    double parsed = result.getDouble(status);
    if (U_FAILURE(status) || !std::isfinite(parsed)) return false;
    *value = parsed == 0 && !keepZeroSign ? 0.0 : parsed;
    return true;
}

std::u16string_view trimmed(std::u16string_view text) {
    const auto& white = KQUCharacterSet::whitespace();
    while (!text.empty() && white.contains(text.front())) text.remove_prefix(1);
    while (!text.empty() && white.contains(text.back())) text.remove_suffix(1);
    return text;
}

std::string likelyCurrencyCode(const KQULocale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    char maximized[ULOC_FULLNAME_CAPACITY] = {};
    uloc_addLikelySubtags(locale.identifier().c_str(), maximized, sizeof maximized - 1, &status);
    const char* id = U_SUCCESS(status) ? maximized : locale.identifier().c_str();
    UChar code[4] = {};
    status = U_ZERO_ERROR;
    ucurr_forLocale(id, code, 4, &status);
    if (U_FAILURE(status) || code[0] == 0) return "USD";
    return KQUUTF8FromUTF16(std::u16string_view(code, u_strlen(code)));
}

icu::DecimalFormatSymbols symbolsFor(const KQULocale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(KQUICULocale(locale), status);
    return symbols;
}

}  // namespace

KQUNumberFormatter::KQUNumberFormatter(const KQULocale& locale)
    : mLocale(locale), mSerial(sNextSerial.fetch_add(1)), mCurrencyCode(likelyCurrencyCode(locale)) {
    mDecimalTrials.push_back({styleConfig(locale, KQUDecimalFormatStyle::Decimal, true), {}, {}});
    for (const char16_t* p : {u"#,##0;- #,##0", u"#,##0;(#,##0)", u"#,##0;( #,##0 )"})
        mDecimalTrials.push_back({patternConfig(locale, p), p, {}});
    mPercentageTrials.push_back({styleConfig(locale, KQUDecimalFormatStyle::Percent, true), {}, {}});
    for (const char16_t* p : {u"#,##0 %", u"#,##0%"}) mPercentageTrials.push_back({patternConfig(locale, p), p, {}});
    mScientificTrials.push_back({styleConfig(locale, KQUDecimalFormatStyle::Scientific, false), {}, {}});
    mFractionConfig = std::make_unique<KQUDecimalFormatConfig>(styleConfig(locale, KQUDecimalFormatStyle::Decimal, true));

    Trial localeCurrency{styleConfig(locale, KQUDecimalFormatStyle::Currency, true), {}, mCurrencyCode};
    for (auto* trials : {&mDecimalTrials, &mPercentageTrials, &mScientificTrials})
        trials->front().pattern = reportedPattern(trials->front().config);
    localeCurrency.pattern = reportedPattern(localeCurrency.config);
    mDecimalString = mDecimalTrials.front().pattern;
    mPercentageString = mPercentageTrials.front().pattern;
    mCurrencyString = localeCurrency.pattern;
    mScientificString = reportedPattern(patternConfig(locale, u"#E+00"));
    mCurrencyNumberPortion =
        KQUNumberPortionOfNumberFormatSubpattern(KQUPositiveSubpatternOfNumberFormatPattern(mCurrencyString));

    mCurrencyTrials.push_back(std::move(localeCurrency));
    mCurrencyCodes = KQUCurrencyCodesForLocale(locale);
    // The locale's code is usually one of the four that follow; its formatters would
    // only repeat.
    std::vector<std::string> distinct;
    for (const auto& code : mCurrencyCodes)
        if (std::find(distinct.begin(), distinct.end(), code) == distinct.end()) distinct.push_back(code);
    mCurrencyCodes = distinct;
    for (const auto& code : mCurrencyCodes) {
        for (auto& trial : currencyTrialsForCode(code)) mCurrencyTrials.push_back(std::move(trial));
        mCurrencySymbols.emplace_back(currencySymbolForCurrencyCode(code), halfWidthCurrencySymbolForCurrencyCode(code));
    }

    mPercentSymbol = KQUU16String(symbolsFor(locale).getSymbol(icu::DecimalFormatSymbols::kPercentSymbol));
    for (int style = 0; style < 4; ++style) {
        mTransformedDecimalStrings.push_back(formatStringTransformedForNegativeStyle(mDecimalString, style));
        mTransformedCurrencyStrings.push_back(formatStringTransformedForNegativeStyle(mCurrencyString, style));
        mTransformedPercentageStrings.push_back(formatStringTransformedForNegativeStyle(mPercentageString, style));
        mTransformedScientificStrings.push_back(formatStringTransformedForNegativeStyle(mScientificString, style));
    }
}

KQUNumberFormatter::~KQUNumberFormatter() = default;

std::vector<KQUNumberFormatter::Trial> KQUNumberFormatter::currencyTrialsForCode(const std::string& code) const {
    std::vector<Trial> trials;
    for (const char16_t* format : kCurrencyTemplates) {
        std::u16string pattern;
        for (std::u16string_view t = format; !t.empty();) {
            if (t.starts_with(u"%C")) pattern += u'\u00A4', t.remove_prefix(2);
            else if (t.starts_with(u"%@")) pattern += mCurrencyNumberPortion, t.remove_prefix(2);
            else pattern += t.front(), t.remove_prefix(1);
        }
        trials.push_back({patternConfig(mLocale, pattern, asciiToU16(code)), pattern, code});
    }
    return trials;
}

std::shared_ptr<const KQUNumberFormatter> KQUNumberFormatter::formatterForLocale(const std::optional<KQULocale>& locale) {
    static std::mutex sLock;
    static std::map<std::string, std::shared_ptr<const KQUNumberFormatter>, std::less<>> sByLocale;
    static std::shared_ptr<const KQUNumberFormatter> sDefault;
    static uint64_t sDefaultGeneration = 0;
    // Parsing asks for the formatter every time: remember the last answer per thread.
    thread_local std::string tLastIdentifier;
    thread_local std::shared_ptr<const KQUNumberFormatter> tLast, tDefault;
    thread_local uint64_t tDefaultGeneration = 0;
    if (locale && tLast && tLastIdentifier == locale->identifier()) return tLast;
    if (!locale && tDefault && tDefaultGeneration == KQULocaleGeneration()) return tDefault;
    std::lock_guard guard(sLock);
    if (!locale) {
        uint64_t generation = KQULocaleGeneration();
        if (!sDefault || sDefaultGeneration != generation) {
            sDefault = std::make_shared<const KQUNumberFormatter>(KQUGetCurrentLocale());
            sDefaultGeneration = generation;
        }
        tDefault = sDefault;
        tDefaultGeneration = sDefaultGeneration;
        return sDefault;
    }
    auto& slot = sByLocale[locale->identifier()];
    if (!slot) slot = std::make_shared<const KQUNumberFormatter>(*locale);
    tLastIdentifier = locale->identifier();
    tLast = slot;
    return slot;
}

std::u16string KQUNumberFormatter::defaultFormatStringForValueType(int valueType) const {
    switch (valueType) {
        case KQUNumberFormatValueTypeCurrency: return mCurrencyString;
        case KQUNumberFormatValueTypePercentage: return mPercentageString;
        case KQUNumberFormatValueTypeScientific: return mScientificString;
        default: return mDecimalString;
    }
}

std::u16string KQUNumberFormatter::defaultFormatStringForValueType(int valueType, int negativeStyle) const {
    if (negativeStyle < 0 || negativeStyle > 3) return defaultFormatStringForValueType(valueType);
    auto index = static_cast<size_t>(negativeStyle);
    switch (valueType) {
        case KQUNumberFormatValueTypeCurrency: return mTransformedCurrencyStrings[index];
        case KQUNumberFormatValueTypePercentage: return mTransformedPercentageStrings[index];
        case KQUNumberFormatValueTypeScientific: return mTransformedScientificStrings[index];
        default: return mTransformedDecimalStrings[index];
    }
}

std::u16string KQUNumberFormatter::currencySymbolForCurrencyCode(const std::string& code) const {
    std::lock_guard guard(mLock);
    if (auto found = mSymbols.find(code); found != mSymbols.end()) return found->second;
    std::u16string symbol;
    if (code.size() == 3) {
        std::u16string wide = asciiToU16(code);
        UBool isChoice = false;
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        const UChar* name =
            ucurr_getName(wide.c_str(), mLocale.identifier().c_str(), UCURR_SYMBOL_NAME, &isChoice, &length, &status);
        if (U_SUCCESS(status) && name) symbol.assign(name, static_cast<size_t>(length));
    }
    mSymbols.emplace(code, symbol);
    return symbol;
}

std::u16string KQUNumberFormatter::halfWidthCurrencySymbolForCurrencyCode(const std::string& code) const {
    std::u16string symbol = currencySymbolForCurrencyCode(code);
    std::lock_guard guard(mLock);
    auto [slot, inserted] = mHalfWidthSymbols.try_emplace(code);
    if (inserted) slot->second = KQUHalfWidthString(symbol);
    return slot->second;
}

std::u16string KQUNumberFormatter::displayNameForCurrencyCode(const std::string& code) const {
    if (code.size() != 3) return {};
    std::u16string wide = asciiToU16(code);
    UBool isChoice = false;
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    const UChar* name =
        ucurr_getName(wide.c_str(), mLocale.identifier().c_str(), UCURR_LONG_NAME, &isChoice, &length, &status);
    if (U_FAILURE(status) || !name) return {};
    return std::u16string(name, static_cast<size_t>(length));
}

// The first parse on a thread resolves every formatter of this formatter through the
// thread's cache, so later parses build none and skip the cache look-ups; the
// shared_ptrs keep them alive even when the cache evicts them. A locale change
// resolves them again.
const KQUNumberFormatter::ThreadFormatters& KQUNumberFormatter::threadFormatters() const {
    thread_local std::unordered_map<uint64_t, ThreadFormatters> sBySerial;
    thread_local uint64_t sLastSerial = 0;
    thread_local ThreadFormatters* sLast = nullptr;
    uint64_t generation = KQULocaleGeneration();
    if (sLast && sLastSerial == mSerial && sLast->generation == generation) return *sLast;
    ThreadFormatters& mine = sBySerial[mSerial];  // nodes of an unordered_map never move
    if (mine.generation != generation) {
        auto& cache = KQUDecimalFormatCache::forCurrentThread();
        const std::vector<Trial>* trials[] = {&mDecimalTrials, &mCurrencyTrials, &mPercentageTrials, &mScientificTrials};
        for (int set = 0; set < 4; ++set) {
            mine.sets[set].clear();
            for (const auto& trial : *trials[set]) mine.sets[set].push_back(cache.formatter(trial.config));
        }
        mine.sets[4] = {cache.formatter(*mFractionConfig)};
        mine.generation = generation;
    }
    sLastSerial = mSerial;
    sLast = &mine;
    return mine;
}

bool KQUNumberFormatter::tryTrials(int set, const std::vector<Trial>& trials, std::u16string_view text, double* value,
                                   std::u16string* formatString, std::string* currencyCode) const {
    const auto* resolved = set >= 0 ? &threadFormatters().sets[set] : nullptr;
    auto& cache = KQUDecimalFormatCache::forCurrentThread();
    for (size_t i = 0; i < trials.size(); ++i) {
        std::shared_ptr<const icu::DecimalFormat> asked;
        const icu::DecimalFormat* format = resolved ? (*resolved)[i].get() : (asked = cache.formatter(trials[i].config)).get();
        if (!format || !parseWhole(*format, text, value)) continue;
        if (formatString) *formatString = trials[i].pattern;
        if (currencyCode) *currencyCode = trials[i].currency;
        return true;
    }
    *value = 0;
    if (formatString) formatString->clear();
    if (currencyCode) currencyCode->clear();
    return false;
}

bool KQUNumberFormatter::decimalFromString(std::u16string_view text, double* value, std::u16string* formatString) const {
    return tryTrials(0, mDecimalTrials, text, value, formatString, nullptr);
}

bool KQUNumberFormatter::percentageFromString(std::u16string_view text, double* value,
                                              std::u16string* formatString) const {
    return tryTrials(2, mPercentageTrials, text, value, formatString, nullptr);
}

bool KQUNumberFormatter::scientificFromString(std::u16string_view text, double* value,
                                              std::u16string* formatString) const {
    return tryTrials(3, mScientificTrials, text, value, formatString, nullptr);
}

bool KQUNumberFormatter::findCurrencySymbolInString(std::u16string_view text, std::string_view additionalCurrencyCode,
                                                    std::u16string* successfulString) const {
    const size_t window = std::min<size_t>(text.size(), 8);
    auto findInWindows = [&](std::u16string_view symbol) -> size_t {
        if (symbol.empty()) return std::u16string_view::npos;
        size_t head = text.substr(0, window).find(symbol);
        if (head != std::u16string_view::npos) return head;
        size_t tailStart = text.size() - window;
        size_t tail = text.substr(tailStart).find(symbol);
        return tail == std::u16string_view::npos ? tail : tailStart + tail;
    };
    auto extra = mCurrencySymbols;
    if (!additionalCurrencyCode.empty()) {
        std::string code(additionalCurrencyCode);
        extra.emplace_back(currencySymbolForCurrencyCode(code), halfWidthCurrencySymbolForCurrencyCode(code));
    }
    const auto& pairs = additionalCurrencyCode.empty() ? mCurrencySymbols : extra;
    for (const auto& [symbol, half] : pairs) {
        if (findInWindows(symbol) != std::u16string_view::npos) {
            if (successfulString) *successfulString = text;
            return true;
        }
        if (half == symbol) continue;
        if (size_t at = findInWindows(half); at != std::u16string_view::npos) {
            if (successfulString) {
                *successfulString = text;
                successfulString->replace(at, half.size(), symbol);
            }
            return true;
        }
    }
    return false;
}

const std::vector<KQUNumberFormatter::Trial>& KQUNumberFormatter::additionalCurrencyTrials(const std::string& code) const {
    std::lock_guard guard(mLock);
    auto [slot, inserted] = mAdditionalTrials.try_emplace(code);
    if (inserted) slot->second = currencyTrialsForCode(code);
    return slot->second;  // entries are never erased, so the reference stays valid
}

bool KQUNumberFormatter::currencyFromString(std::u16string_view text, std::string_view additionalCurrencyCode,
                                            double* value, std::u16string* formatString,
                                            std::string* currencyCode) const {
    std::u16string chosen;
    if (findCurrencySymbolInString(text, additionalCurrencyCode, &chosen)) {
        if (tryTrials(1, mCurrencyTrials, chosen, value, formatString, currencyCode)) return true;
        std::string extra(additionalCurrencyCode);
        if (!extra.empty() && std::find(mCurrencyCodes.begin(), mCurrencyCodes.end(), extra) == mCurrencyCodes.end() &&
            tryTrials(-1, additionalCurrencyTrials(extra), chosen, value, formatString, currencyCode))
            return true;
    }
    *value = 0;
    if (formatString) formatString->clear();
    if (currencyCode) currencyCode->clear();
    return false;
}

bool KQUNumberFormatter::fractionFromString(std::u16string_view text, double* value) const {
    *value = 0;
    size_t slash = text.find(u'/');
    if (slash == std::u16string_view::npos || slash + 1 >= text.size()) return false;
    std::u16string_view left = trimmed(text.substr(0, slash));
    std::u16string_view right = trimmed(text.substr(slash + 1));
    const icu::DecimalFormat* format = threadFormatters().sets[4].front().get();
    if (!format) return false;
    double whole = 0, numerator = 0, denominator = 0;
    bool negative = false;
    if (size_t space = left.find(u' '); space != std::u16string_view::npos) {
        if (!parseWhole(*format, left.substr(0, space), &whole, true)) return false;
        // Typed "0.999999 1/2" means 1 1/2, not 1/2: the whole part is rounded, and
        // its sign (also that of "-0") is the sign of the text.
        double rounded = std::round(whole);
        if (std::fabs(whole - rounded) > 1e-5) return false;
        negative = std::signbit(whole);
        whole = std::fabs(rounded);
        if (!parseWhole(*format, trimmed(left.substr(space + 1)), &numerator)) return false;
    } else if (!parseWhole(*format, left, &numerator)) {
        return false;
    }
    if (!parseWhole(*format, right, &denominator) || denominator == 0) return false;
    double result = whole + numerator / denominator;
    if (negative) result = -result;
    if (!std::isfinite(result)) return false;
    *value = result;
    return true;
}

std::string KQUNumberFormatter::currentLocaleCurrencyCode() {
    return formatterForLocale()->localeCurrencyCode();
}

uint16_t KQUNumberFormatter::defaultDecimalPlacesForCurrencyCode(const std::string& code) {
    // ucurr_getDefaultFractionDigits answers 2 for codes it does not know, so knowing is
    // asked of the list of all codes first.
    auto codes = availableCurrencyCodes();
    if (std::find(codes.begin(), codes.end(), code) == codes.end()) {
        KQULogError("Couldn't get decimal info for a currency code.");
        return 0;
    }
    std::u16string wide = asciiToU16(code);
    UErrorCode status = U_ZERO_ERROR;
    int32_t digits = ucurr_getDefaultFractionDigits(wide.c_str(), &status);
    return U_FAILURE(status) || digits < 0 ? 0 : static_cast<uint16_t>(digits);
}

namespace {
std::vector<std::string> isoCurrencies(uint32_t types) {
    std::vector<std::string> codes;
    UErrorCode status = U_ZERO_ERROR;
    UEnumeration* list = ucurr_openISOCurrencies(types, &status);
    if (U_FAILURE(status)) return codes;
    int32_t length = 0;
    while (const char* code = uenum_next(list, &length, &status)) {
        if (U_FAILURE(status)) break;
        codes.emplace_back(code, static_cast<size_t>(length));
    }
    uenum_close(list);
    std::sort(codes.begin(), codes.end());
    return codes;
}
}  // namespace

std::vector<std::string> KQUNumberFormatter::availableCurrencyCodes() {
    static const std::vector<std::string> sCodes = isoCurrencies(UCURR_ALL);
    return sCodes;
}

std::vector<std::string> KQUNumberFormatter::userVisibleCurrencyCodes() {
    if (KQUUserDefaults::standardUserDefaults().boolForKey(KQUDefaultsShowCompleteCurrencyList))
        return isoCurrencies(UCURR_COMMON | UCURR_NON_DEPRECATED);
    std::vector<std::string> codes = {"AUD", "CAD", "HKD", "SGD", "TWD", "USD", "EUR", "CHF", "SEK",
                                      "DKK", "NOK", "MXN", "GBP", "BRL", "INR", "KRW", "JPY", "CNY",
                                      "IDR", "RUB", "TRY", "THB", "PLN", "ZAR", "ARS"};
    std::string local = currentLocaleCurrencyCode();
    if (std::find(codes.begin(), codes.end(), local) == codes.end()) codes.insert(codes.begin(), local);
    return codes;
}

const KQUCharacterSet& KQUNumberFormatter::numberFormatStringSpecialSymbols() {
    static const KQUCharacterSet sSet = KQUCharacterSet::withCharacters(u"0123456789@#.-,E+;'*%\u2030\u00A4");
    return sSet;
}

int KQUNumberFormatter::positionOfSymbolInNumberFormatSubpattern(std::u16string_view symbol,
                                                                 std::u16string_view subpattern) {
    std::u16string unescaped(subpattern);
    // Quoted runs are literal text: blank them out (keeping the indexes) before looking.
    for (const auto& run : KQURangesOfEscapedCharactersInNumberFormatPattern(subpattern))
        std::fill_n(unescaped.begin() + static_cast<ptrdiff_t>(run.location), run.length, u'\'');
    size_t at = unescaped.find(symbol);
    if (at == std::u16string::npos || symbol.empty()) return 0;
    // Without number symbols the whole subpattern is prefix.
    size_t prefix = KQUPrefixOfNumberFormatSubpattern(subpattern).size();
    return at >= prefix && prefix < subpattern.size() ? 1 : 0;
}

int KQUNumberFormatter::positionOfMinusSignInNumberFormatSubpattern(std::u16string_view subpattern) {
    return positionOfSymbolInNumberFormatSubpattern(u"-", subpattern);
}

int KQUNumberFormatter::positionOfCurrencySymbolInNumberFormatSubpattern(std::u16string_view subpattern) {
    return positionOfSymbolInNumberFormatSubpattern(u"\u00A4", subpattern);
}

std::u16string KQUNumberFormatter::formatStringTransformedForNegativeStyle(std::u16string_view pattern,
                                                                           int negativeStyle) {
    std::u16string positive = KQUPositiveSubpatternOfNumberFormatPattern(pattern);
    std::u16string unsignedPositive = positive;
    KQUReplaceOccurrencesOfUnescapedString(unsignedPositive, u"-", u"");
    switch (negativeStyle) {
        case KQUNumberFormatNegativeStyleMinus: {
            bool trailing =
                positionOfMinusSignInNumberFormatSubpattern(KQUNegativeSubpatternOfNumberFormatPattern(pattern)) == 1;
            return positive + u";" + (trailing ? u"" : u"-") + unsignedPositive + (trailing ? u"-" : u"");
        }
        case KQUNumberFormatNegativeStyleRed: return positive + u";" + unsignedPositive;
        case KQUNumberFormatNegativeStyleParentheses:
        case KQUNumberFormatNegativeStyleRedAndParentheses: return positive + u";(" + unsignedPositive + u")";
        default: return std::u16string(pattern);
    }
}

bool KQUGetNumberValueAndTypeFromStringWithCurrencyCode(std::u16string_view text,
                                                        std::string_view additionalCurrencyCode,
                                                        const KQULocale* locale, double* value, int* valueType,
                                                        std::u16string* formatString, std::string* currencyCode) {
    double scratch = 0;
    if (!value) value = &scratch;
    if (valueType) *valueType = KQUNumberParseFailedValueType;
    if (formatString) formatString->clear();
    if (currencyCode) currencyCode->clear();
    auto formatter = locale ? KQUNumberFormatter::formatterForLocale(*locale) : KQUNumberFormatter::formatterForLocale();
    std::u16string normal = KQUHalfWidthString(text);
    for (auto& c : normal) {  // as KQUStringBySubstitutingCharactersNumberFormatterDoesntUnderstand, in place
        if (c == u'\u2212' || c == u'\uFE63') c = u'-';
        else if (c == u'\uFE62') c = u'+';
    }
    int type = KQUNumberParseFailedValueType;
    if (formatter->decimalFromString(normal, value, formatString)) type = KQUNumberFormatValueTypeDecimal;
    else if (formatter->currencyFromString(normal, additionalCurrencyCode, value, formatString, currencyCode))
        type = KQUNumberFormatValueTypeCurrency;
    else if (formatter->percentageFromString(normal, value, formatString)) type = KQUNumberFormatValueTypePercentage;
    else if (formatter->scientificFromString(normal, value, formatString)) type = KQUNumberFormatValueTypeScientific;
    else if (formatter->fractionFromString(normal, value)) type = KQUNumberFormatValueTypeFraction;
    if (type == KQUNumberParseFailedValueType) return false;
    if (valueType) *valueType = type;
    return true;
}

bool KQUGetNumberValueAndTypeFromString(std::u16string_view text, const KQULocale* locale, double* value,
                                        int* valueType, std::u16string* formatString, std::string* currencyCode) {
    return KQUGetNumberValueAndTypeFromStringWithCurrencyCode(text, {}, locale, value, valueType, formatString,
                                                              currencyCode);
}

int KQUNumberFormatterGroupingSizeForLocale(const KQULocale* locale) {
    auto read = [](const KQULocale& l) {
        KQUDecimalFormatConfig config;
        config.locale = l.identifier();
        config.style = KQUDecimalFormatStyle::Decimal;
        auto format = KQUDecimalFormatCache::forCurrentThread().formatter(config);
        return format ? static_cast<int>(format->getGroupingSize()) : 0;
    };
    if (locale) return read(*locale);
    static std::mutex sLock;
    static uint64_t sGeneration = 0;
    static int sSize = -1;
    std::lock_guard guard(sLock);
    if (sGeneration != KQULocaleGeneration() || sSize < 0) {
        sGeneration = KQULocaleGeneration();
        sSize = read(KQUGetCurrentLocale());
    }
    return sSize;
}

KQULocale KQUGetCurrentLocale() {
    static std::mutex sLock;
    static uint64_t sGeneration = 0;
    static std::optional<KQULocale> sLocale;
    std::lock_guard guard(sLock);
    if (!sLocale || sGeneration != KQULocaleGeneration()) {
        sGeneration = KQULocaleGeneration();
        sLocale = KQULocale::current();
    }
    return *sLocale;
}

std::vector<std::string> KQUCurrencyCodesForLocale(const KQULocale& locale, std::string_view extra) {
    std::vector<std::string> codes = {likelyCurrencyCode(locale), "USD", "JPY", "GBP", "EUR"};
    if (!extra.empty()) codes.emplace_back(extra);
    return codes;
}

KQUCharacterSet KQUSearchCharacterSetForSeparatorCharacter(char16_t separator) {
    switch (separator) {
        case u'.':
        case u'\uFF0E': return KQUCharacterSet::withCharacters(u".\uFF0E");
        case u',':
        case u'\uFF0C': return KQUCharacterSet::withCharacters(u",\uFF0C");
        // ICU writes French groups with a narrow no-break space; people type a space.
        case u' ':
        case u'\u00A0':
        case u'\u202F': return KQUCharacterSet::withCharacters(u" \u00A0\u202F");
        default: return KQUCharacterSet::withCharacters(std::u16string_view(&separator, 1));
    }
}

namespace {
char16_t separatorOf(const KQULocale* locale, icu::DecimalFormatSymbols::ENumberFormatSymbol which) {
    icu::UnicodeString symbol = symbolsFor(locale ? *locale : KQUGetCurrentLocale()).getSymbol(which);
    return symbol.length() > 0 ? symbol.charAt(0) : u'.';
}
}  // namespace

bool KQUIsGroupingSeparatorUsedInNumericString(std::u16string_view text, const KQULocale* locale) {
    auto set = KQUSearchCharacterSetForSeparatorCharacter(
        separatorOf(locale, icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
    const auto& digits = KQUCharacterSet::decimalDigits();
    for (size_t i = 0; i < text.size(); ++i) {
        if (!set.contains(text[i])) continue;
        return i >= 1 && i + 1 < text.size() && digits.contains(text[i - 1]) && digits.contains(text[i + 1]);
    }
    return false;
}

uint64_t KQUNumberOfDecimalPlacesInNumericString(std::u16string_view text, const KQULocale* locale) {
    auto set = KQUSearchCharacterSetForSeparatorCharacter(
        separatorOf(locale, icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
    const auto& digits = KQUCharacterSet::decimalDigits();
    for (size_t i = text.size(); i-- > 0;) {
        if (!set.contains(text[i])) continue;
        uint64_t count = 0;
        for (size_t j = i + 1; j < text.size() && digits.contains(text[j]); ++j) ++count;
        return count;
    }
    return 0;
}

}  // namespace kqu
