#include "kqutility/format/KQUDateParser.h"

#include <strings.h>

#include <atomic>
#include <cmath>
#include <map>
#include <unordered_set>

#include <unicode/dtfmtsym.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateICU.h"
#include "kqutility/format/KQUFormatStringUtilities.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQUICUSupport.h"

namespace kqu {

namespace {

std::atomic<uint64_t> sFormattersMade{0};

constexpr std::u16string_view kFieldCharacters = u"GyMdhHmsSEDFwWakKZ";

bool isFieldCharacter(char16_t c) {
    return kFieldCharacters.find(c) != std::u16string_view::npos;
}

// U+202F and U+00A0 read as spaces: ICU writes the narrow no-break space in times
// ("3:30\u202fPM") while people type a space, and some keyboards give U+00A0.
std::u16string spacesNormalized(std::u16string_view text) {
    std::u16string result(text);
    for (char16_t& c : result)
        if (c == u'\u202F' || c == u'\u00A0') c = u' ';
    return result;
}

// Replaces U+202F and U+00A0 by spaces in a list of symbols; true when any changed.
bool spaceSymbols(const icu::UnicodeString* symbols, int32_t count, std::vector<icu::UnicodeString>& out) {
    bool changed = false;
    out.assign(symbols, symbols + count);
    for (auto& symbol : out) {
        icu::UnicodeString before = symbol;
        symbol.findAndReplace(icu::UnicodeString(u'\u202F'), icu::UnicodeString(u' '));
        symbol.findAndReplace(icu::UnicodeString(u'\u00A0'), icu::UnicodeString(u' '));
        changed |= symbol != before;
    }
    return changed;
}

// The locale's symbols with U+202F and U+00A0 read as spaces ("p.\u00a0m." in Spanish),
// as typed text is; nullptr when no symbol holds either.
std::unique_ptr<icu::DateFormatSymbols> spacedSymbols(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    auto symbols = std::make_unique<icu::DateFormatSymbols>(locale, status);
    if (U_FAILURE(status)) return nullptr;
    bool changed = false;
    std::vector<icu::UnicodeString> spaced;
    int32_t count = 0;
    const icu::UnicodeString* list = symbols->getAmPmStrings(count);
    if (spaceSymbols(list, count, spaced)) {
        changed = true;
        symbols->setAmPmStrings(spaced.data(), count);
    }
    using Symbols = icu::DateFormatSymbols;
    for (auto context : {Symbols::FORMAT, Symbols::STANDALONE}) {
        for (auto width : {Symbols::WIDE, Symbols::ABBREVIATED}) {
            list = symbols->getMonths(count, context, width);
            if (spaceSymbols(list, count, spaced)) {
                changed = true;
                symbols->setMonths(spaced.data(), count, context, width);
            }
            list = symbols->getWeekdays(count, context, width);
            if (spaceSymbols(list, count, spaced)) {
                changed = true;
                symbols->setWeekdays(spaced.data(), count, context, width);
            }
        }
    }
    return changed ? std::move(symbols) : nullptr;
}

// The leading field of a pattern and the character that follows it: the text up to the
// end of the first run of field characters outside quotes, and the next character (a
// quote stands for the character it quotes). separator 0: the field is the whole pattern.
struct SplitPattern {
    std::u16string initial;
    char16_t separator = 0;
};

SplitPattern splitPattern(std::u16string_view pattern) {
    if (pattern.empty()) {
        KQU_ASSERT_FAILURE("Zero length date format");
        return {};
    }
    size_t first = std::u16string_view::npos;
    KQUForEachUnquotedPatternCharacter(pattern, [&](size_t i, char16_t c) {
        if (first == std::u16string_view::npos && isFieldCharacter(c)) first = i;
    });
    if (first == std::u16string_view::npos) return {std::u16string(pattern), 0};
    size_t end = first;
    while (end < pattern.size() && isFieldCharacter(pattern[end])) ++end;
    if (end == pattern.size()) return {std::u16string(pattern), 0};
    SplitPattern split{std::u16string(pattern.substr(0, end)), pattern[end]};
    if (split.separator == u'"') split.separator = u'\'';
    if (split.separator == u'\'') {
        if (end + 1 >= pattern.size())
            KQU_ASSERT_FAILURE("No character following single quote");
        else if (pattern[end + 1] == u'\'')
            KQU_ASSERT_FAILURE("Two single quotes in a row");
        else
            split.separator = pattern[end + 1];
    }
    return split;
}

bool hasUnquotedAmPm(std::u16string_view pattern) {
    bool found = false;
    KQUForEachUnquotedPatternCharacter(pattern, [&](size_t, char16_t c) { found |= c == u'a'; });
    return found;
}

// The first day of the two-digit-year window: midnight GMT 80 years before today, so that
// it moves once a day rather than with every tick of the clock.
UDate twoDigitYearStart() {
    KQUDate now{KQUWallClockSeconds() - static_cast<double>(KQUUnixTimeOfReferenceDate)};
    auto today = KQUGregorianComponentsInGMT(now);
    if (!today) return 0;
    KQUGregorianDateComponents start{today->year - 80, today->month, today->day, 0, 0, 0, 1};
    return KQUUDateFromDate(KQUDateFromGregorianComponentsInGMT(start));
}

// Parses text from index 0 into calendar; the index where reading stopped (0: nothing read).
// The calendar starts cleared but for a leap year, so that a yearless "29 Feb" is a date.
int32_t parseInto(const icu::SimpleDateFormat& format, icu::Calendar& calendar,
                  const icu::UnicodeString& text, UDate& when) {
    calendar.clear();
    calendar.set(UCAL_YEAR, 2000);
    icu::ParsePosition position(0);
    format.parse(text, calendar, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() <= 0) return 0;
    UErrorCode status = U_ZERO_ERROR;
    when = calendar.getTime(status);
    if (U_FAILURE(status) || !std::isfinite(when)) return 0;
    return position.getIndex();
}

struct ParseContext {
    const icu::Locale& locale;
    const icu::DateFormatSymbols* spacedSymbols;  // nullptr: ICU's own will do
    icu::Calendar& calendar;
    UDate window;
    bool japanese;
};

// One pattern's formatter, made the first time it is tried, and in a Japanese locale its
// twin that reads "AM"/"PM" (a copy of the symbols; the original is never changed).
class LazyFormat {
public:
    explicit LazyFormat(std::u16string pattern)
        : mPattern(std::move(pattern)), mHasAmPm(hasUnquotedAmPm(mPattern)) {}

    const std::u16string& pattern() const { return mPattern; }

    // Characters of text read from index 0 (0 when none).
    int32_t read(const ParseContext& context, const icu::UnicodeString& text, UDate& when) {
        icu::SimpleDateFormat* format = prepared(context, mFormat, false);
        int32_t read = format ? parseInto(*format, context.calendar, text, when) : 0;
        if (read != text.length() && context.japanese && mHasAmPm) {
            if (icu::SimpleDateFormat* latin = prepared(context, mLatinAmPm, true)) {
                UDate latinWhen = 0;
                int32_t latinRead = parseInto(*latin, context.calendar, text, latinWhen);
                if (latinRead > read) {
                    read = latinRead;
                    when = latinWhen;
                }
            }
        }
        return read;
    }

private:
    struct Slot {
        std::unique_ptr<icu::SimpleDateFormat> format;
        bool made = false;
        UDate window = std::nan("");
    };

    icu::SimpleDateFormat* prepared(const ParseContext& context, Slot& slot, bool latin) {
        if (!slot.made) {
            slot.made = true;
            slot.format = KQUMakeStrictDateFormat(context.locale, mPattern);
            sFormattersMade.fetch_add(1, std::memory_order_relaxed);
            if (slot.format && context.spacedSymbols)
                slot.format->setDateFormatSymbols(*context.spacedSymbols);
            if (slot.format && latin) {
                icu::DateFormatSymbols symbols(*slot.format->getDateFormatSymbols());
                const icu::UnicodeString latinAmPm[] = {u"AM", u"PM"};
                symbols.setAmPmStrings(latinAmPm, 2);
                slot.format->setDateFormatSymbols(symbols);
            }
        }
        if (slot.format && slot.window != context.window) {
            UErrorCode status = U_ZERO_ERROR;
            slot.format->set2DigitYearStart(context.window, status);
            slot.window = context.window;
        }
        return slot.format.get();
    }

    std::u16string mPattern;
    bool mHasAmPm;
    Slot mFormat, mLatinAmPm;
};

struct CategoryEntry {
    char16_t separator;
    std::vector<LazyFormat> formats;
    std::unordered_set<std::u16string> patterns;
};

// Every pattern that starts with the same leading field.
struct Category {
    explicit Category(std::u16string initialPattern) : initial(std::move(initialPattern)) {}

    CategoryEntry* entryForSeparator(char16_t separator) {
        for (auto& entry : entries)
            if (entry.separator == separator) return &entry;
        return nullptr;
    }

    std::optional<KQUDate> createDate(const ParseContext& context, const icu::UnicodeString& text,
                                      std::u16string* successfulFormat) {
        UDate when = 0;
        const int32_t read = initial.read(context, text, when);
        if (read <= 0) return std::nullopt;
        CategoryEntry* entry = entryForSeparator(read >= text.length() ? 0 : text.charAt(read));
        if (!entry) return std::nullopt;
        for (auto& format : entry->formats) {
            if (format.read(context, text, when) != text.length()) continue;
            // Read, but no date this year (29 February): refused, not read another way.
            auto date =
                KQUCreateDateWithGregorianUnitsSetToDefaultValue(KQUDateFromUDate(when), format.pattern());
            if (!date) return std::nullopt;
            if (successfulFormat) *successfulFormat = format.pattern();
            return date;
        }
        return std::nullopt;
    }

    LazyFormat initial;
    std::vector<CategoryEntry> entries;
};

}  // namespace

struct KQUDateParser::Impl {
    icu::Locale locale;
    std::unique_ptr<icu::DateFormatSymbols> spacedSymbols;
    std::unique_ptr<icu::Calendar> calendar;
    bool japanese = false;
    std::vector<std::unique_ptr<Category>> categories;
    std::map<std::u16string, size_t> categoryIndex;  // used while the parser is built

    void addFormat(const std::u16string& rawPattern) {
        if (rawPattern.empty()) return;
        std::u16string pattern = spacesNormalized(rawPattern);
        SplitPattern split = splitPattern(pattern);
        if (split.initial.empty()) return;
        auto [slot, inserted] = categoryIndex.emplace(split.initial, categories.size());
        if (inserted) categories.push_back(std::make_unique<Category>(split.initial));
        Category& category = *categories[slot->second];
        CategoryEntry* entry = category.entryForSeparator(split.separator);
        if (!entry) entry = &category.entries.emplace_back(CategoryEntry{split.separator, {}, {}});
        if (entry->patterns.insert(pattern).second) entry->formats.emplace_back(pattern);
    }
};

KQUDateParser::KQUDateParser(const std::optional<KQULocale>& locale)
    : mLocale(locale ? *locale : KQULocale::current()), mImpl(std::make_unique<Impl>()) {
    mImpl->locale = icu::Locale(KQUGregorianLocaleIdentifier(mLocale).c_str());
    mImpl->japanese = strcasecmp(mImpl->locale.getLanguage(), "ja") == 0 &&
                      strcasecmp(mImpl->locale.getCountry(), "JP") == 0;
    mImpl->spacedSymbols = spacedSymbols(mImpl->locale);
    UErrorCode status = U_ZERO_ERROR;
    mImpl->calendar.reset(icu::Calendar::createInstance(KQUGetGMTTimeZone().clone(), mImpl->locale, status));
    if (U_FAILURE(status)) mImpl->calendar.reset();
    if (mImpl->calendar) mImpl->calendar->setLenient(false);

    const auto dates = KQUCreateArrayOfDateFormatStringsForLocale(&mLocale);
    const auto times = KQUCreateArrayOfTimeFormatStringsForLocale(&mLocale);
    for (const auto& d : dates) {
        mImpl->addFormat(d);
        for (const auto& t : times) mImpl->addFormat(d + u" " + t);
    }
    for (const auto& t : times) {
        mImpl->addFormat(t);
        for (const auto& d : dates) mImpl->addFormat(t + u" " + d);
    }
    for (int dateStyle = KQUDateStyleNone; dateStyle <= KQUDateStyleFull; ++dateStyle)
        for (int timeStyle = KQUDateStyleNone; timeStyle <= KQUDateStyleFull; ++timeStyle)
            if (dateStyle != KQUDateStyleNone || timeStyle != KQUDateStyleNone)
                mImpl->addFormat(KQUPatternForStyles(mImpl->locale, dateStyle, timeStyle));
    mImpl->categoryIndex.clear();
}

KQUDateParser::~KQUDateParser() = default;

std::shared_ptr<KQUDateParser> KQUDateParser::parserForDefaultLocale() {
    thread_local std::shared_ptr<KQUDateParser> tParser;
    thread_local uint64_t tGeneration = 0;
    const uint64_t generation = KQULocaleGeneration();
    if (!tParser || tGeneration != generation) {
        tParser = std::make_shared<KQUDateParser>();
        tGeneration = generation;
    }
    return tParser;
}

uint64_t KQUDateParser::formattersMade() {
    return sFormattersMade.load(std::memory_order_relaxed);
}

std::vector<std::u16string> KQUDateParser::acceptedFormats() const {
    std::vector<std::u16string> formats;
    for (const auto& category : mImpl->categories)
        for (const auto& entry : category->entries)
            for (const auto& format : entry.formats) formats.push_back(format.pattern());
    return formats;
}

std::optional<KQUDate> KQUDateParser::createDateFromString(std::u16string_view text,
                                                           std::u16string* successfulFormat) {
    return createDateFromString(text, {}, successfulFormat, false);
}

std::optional<KQUDate> KQUDateParser::createDateFromString(std::u16string_view text,
                                                           std::u16string_view preferredFormat,
                                                           std::u16string* successfulFormat,
                                                           bool tryAggressiveFormats) {
    if (text.empty() || !mImpl->calendar) return std::nullopt;
    const std::u16string normalized = spacesNormalized(KQUHalfWidthString(text));
    if (!preferredFormat.empty()) {
        std::vector<std::u16string> formats{std::u16string(preferredFormat)};
        for (auto portion : {KQUDateFormatter::datePortionOfDateTimeFormatString(preferredFormat),
                             KQUDateFormatter::timePortionOfDateTimeFormatString(preferredFormat)})
            if (!portion.empty()) formats.push_back(std::move(portion));
        if (auto date = KQUCreateDateFromStringTryingFormats(normalized, &mLocale, formats, successfulFormat))
            return date;
    }
    const ParseContext context{mImpl->locale, mImpl->spacedSymbols.get(), *mImpl->calendar,
                               twoDigitYearStart(), mImpl->japanese};
    const icu::UnicodeString icuText = KQUAliasICUString(normalized);
    for (const auto& category : mImpl->categories)
        if (auto date = category->createDate(context, icuText, successfulFormat)) return date;
    if (tryAggressiveFormats)
        return KQUCreateDateFromStringTryingFormats(normalized, &mLocale, {u"yy"}, successfulFormat);
    return std::nullopt;
}

std::optional<KQUDate> KQUCreateDateFromStringTryingFormats(std::u16string_view text, const KQULocale* locale,
                                                            const std::vector<std::u16string>& formats,
                                                            std::u16string* successfulFormat) {
    if (formats.empty() || text.empty()) return std::nullopt;
    const std::string icuLocale = KQUGregorianLocaleIdentifier(locale ? *locale : KQULocale::current());
    const std::u16string normalized = spacesNormalized(KQUHalfWidthString(text));
    const icu::UnicodeString icuText = KQUAliasICUString(normalized);
    const UDate window = twoDigitYearStart();
    for (const auto& rawPattern : formats) {
        const std::u16string pattern = spacesNormalized(rawPattern);
        if (pattern.empty()) continue;
        KQUCachedDateFormat cached = KQUCachedStrictDateFormat(icuLocale, pattern);
        if (!cached.format) continue;
        UErrorCode status = U_ZERO_ERROR;
        cached.format->set2DigitYearStart(window, status);
        UDate when = 0;
        if (parseInto(*cached.format, *cached.calendar, icuText, when) != icuText.length()) continue;
        auto date = KQUCreateDateWithGregorianUnitsSetToDefaultValue(KQUDateFromUDate(when), pattern);
        if (!date) return std::nullopt;
        if (successfulFormat) *successfulFormat = pattern;
        return date;
    }
    return std::nullopt;
}

std::optional<KQUDate> KQUCreateDateFromStringWithPreferredFormat(std::u16string_view text,
                                                                  const KQULocale* locale,
                                                                  std::u16string_view preferredFormat,
                                                                  std::u16string* successfulFormat,
                                                                  bool tryAggressiveFormats) {
    if (!locale)
        return KQUDateParser::parserForDefaultLocale()->createDateFromString(
            text, preferredFormat, successfulFormat, tryAggressiveFormats);
    // Parsers of other locales are kept per thread too (a few), as building one reads the
    // locale's lists and splits hundreds of patterns.
    thread_local std::map<std::string, std::shared_ptr<KQUDateParser>> tParsers;
    auto& parser = tParsers[locale->identifier()];
    if (!parser) {
        if (tParsers.size() > 8) {
            tParsers.clear();
            return KQUCreateDateFromStringWithPreferredFormat(text, locale, preferredFormat, successfulFormat,
                                                              tryAggressiveFormats);
        }
        parser = std::make_shared<KQUDateParser>(*locale);
    }
    return parser->createDateFromString(text, preferredFormat, successfulFormat, tryAggressiveFormats);
}

std::optional<KQUDate> KQUCreateDateFromString(std::u16string_view text, const KQULocale* locale,
                                               std::u16string* successfulFormat) {
    return KQUCreateDateFromStringWithPreferredFormat(text, locale, {}, successfulFormat, false);
}

}  // namespace kqu
