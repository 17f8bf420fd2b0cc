#include "kqutility/format/KQUDateFormatter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <list>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include <unicode/gregocal.h>
#include <unicode/uchar.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/format/KQUDateICU.h"
#include "kqutility/foundation/KQUBundle.h"
#include "kqutility/foundation/KQUCivilDate.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQUICUSupport.h"
#include "kqutility/foundation/KQUPropertyList.h"
#include "kqutility/foundation/KQUStringAdditions.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

// ---- ICU bridge ------------------------------------------------------------------------

const icu::TimeZone& KQUGetGMTTimeZone() {
    static const icu::TimeZone* sZone = [] {
        const icu::TimeZone* zone = icu::TimeZone::getGMT();
        KQU_ASSERT(zone != nullptr, "GMTTimeZone() couldn't create time zone");
        return zone ? zone : &icu::TimeZone::getUnknown();
    }();
    return *sZone;
}

std::string KQUGregorianLocaleIdentifier(const KQULocale& locale) {
    std::string identifier = locale.identifier();
    identifier = identifier.substr(0, identifier.find('@'));
    return identifier + "@calendar=gregorian";
}

icu::DateFormat::EStyle KQUICUDateStyle(int style) {
    switch (style) {
        case KQUDateStyleShort:
            return icu::DateFormat::kShort;
        case KQUDateStyleMedium:
            return icu::DateFormat::kMedium;
        case KQUDateStyleLong:
            return icu::DateFormat::kLong;
        case KQUDateStyleFull:
            return icu::DateFormat::kFull;
        default:
            return icu::DateFormat::kNone;
    }
}

std::unique_ptr<icu::SimpleDateFormat> KQUMakeStrictDateFormat(const icu::Locale& locale,
                                                               std::u16string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(KQUAliasICUString(pattern), locale, status);
    if (U_FAILURE(status)) return nullptr;
    format->setTimeZone(KQUGetGMTTimeZone());
    format->setLenient(false);
    // setLenient(false) clears these too; spelled out because each one, left on, reads
    // text the pattern does not describe ("3.14" as a date, "Jan 5" for "January 5").
    format->setBooleanAttribute(UDAT_PARSE_ALLOW_WHITESPACE, false, status);
    format->setBooleanAttribute(UDAT_PARSE_ALLOW_NUMERIC, false, status);
    format->setBooleanAttribute(UDAT_PARSE_PARTIAL_LITERAL_MATCH, false, status);
    format->setBooleanAttribute(UDAT_PARSE_MULTIPLE_PATTERNS_FOR_MATCH, false, status);
    return U_FAILURE(status) ? nullptr : std::move(format);
}

std::u16string KQUPatternForStyles(const icu::Locale& locale, int dateStyle, int timeStyle) {
    auto date = KQUICUDateStyle(dateStyle), time = KQUICUDateStyle(timeStyle);
    // ICU answers a default pattern for none and none; nothing is asked for, so nothing shows.
    if (date == icu::DateFormat::kNone && time == icu::DateFormat::kNone) return {};
    // Making an ICU formatter to learn a pattern costs tens of microseconds, and a cell
    // formatter asks for the same few patterns on every call: remember them per thread.
    thread_local std::map<std::tuple<std::string, int, int>, std::u16string> tPatterns;
    auto key = std::make_tuple(std::string(locale.getName()), static_cast<int>(date), static_cast<int>(time));
    if (auto found = tPatterns.find(key); found != tPatterns.end()) return found->second;
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(date, time, locale));
    auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
    if (!simple) return {};
    icu::UnicodeString pattern;
    simple->toPattern(pattern);
    if (tPatterns.size() >= 256) tPatterns.clear();
    return tPatterns.emplace(std::move(key), KQUU16String(pattern)).first->second;
}

// ---- Gregorian arithmetic (proleptic) ---------------------------------------------------

namespace {

constexpr double kSecondsPerDay = 86400;
// Beyond about 2.7 million years the day count no longer fits the arithmetic below.
constexpr double kLargestSeconds = 8.64e16;

// Days since 1970-01-01 of a proleptic Gregorian date (months and days may be out of
// range and carry over).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year += (month - 1) / 12;
    month = (month - 1) % 12 + 1;
    if (month <= 0) {
        month += 12;
        --year;
    }
    return KQUDaysFromCivil(year, static_cast<int>(month), 0) + day;
}

void civilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    const KQUCivilDate date = KQUCivilFromDays(days);
    year = date.year;
    month = date.month;
    day = date.day;
}

const int64_t kReferenceDay = daysFromCivil(2001, 1, 1);

bool isLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<KQUGregorianDateComponents> componentsOfSeconds(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestSeconds) return std::nullopt;
    double dayNumber = std::floor(seconds / kSecondsPerDay);
    double secondOfDay = seconds - dayNumber * kSecondsPerDay;
    if (secondOfDay >= kSecondsPerDay) {  // rounding of a value just below a day boundary
        dayNumber += 1;
        secondOfDay = 0;
    }
    KQUGregorianDateComponents c;
    const int64_t days = static_cast<int64_t>(dayNumber) + kReferenceDay;
    civilFromDays(days, c.year, c.month, c.day);
    c.hour = static_cast<int>(secondOfDay / 3600);
    c.minute = static_cast<int>((secondOfDay - c.hour * 3600.0) / 60);
    c.second = secondOfDay - c.hour * 3600.0 - c.minute * 60.0;
    c.weekday = static_cast<int>(((days % 7) + 7 + 4) % 7) + 1;  // 1970-01-01 was a Thursday
    return c;
}

}  // namespace

std::optional<KQUGregorianDateComponents> KQUGregorianComponentsInGMT(KQUDate date) {
    return componentsOfSeconds(date.timeIntervalSinceReferenceDate);
}

KQUDate KQUDateFromGregorianComponentsInGMT(const KQUGregorianDateComponents& c) {
    const int64_t days = daysFromCivil(c.year, c.month, c.day) - kReferenceDay;
    return KQUDate{static_cast<double>(days) * kSecondsPerDay + c.hour * 3600.0 + c.minute * 60.0 + c.second};
}

std::optional<KQUGregorianDateComponents> KQUGregorianComponentsInTimeZone(KQUDate date,
                                                                           std::string_view zone) {
    if (!KQUIsFiniteDate(date)) return std::nullopt;
    std::unique_ptr<icu::TimeZone> tz(
        zone.empty() ? icu::TimeZone::createDefault()
                     : icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
                           icu::StringPiece(zone.data(), static_cast<int32_t>(zone.size())))));
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    if (tz) tz->getOffset(KQUUDateFromDate(date), false, raw, dst, status);
    if (!tz || U_FAILURE(status)) raw = dst = 0;
    return componentsOfSeconds(date.timeIntervalSinceReferenceDate + (raw + dst) / 1000.0);
}

bool KQUIsValidGregorianDate(KQUDate date) {
    static const double kFirstGregorianDay =
        static_cast<double>(daysFromCivil(1582, 10, 16) - kReferenceDay) * kSecondsPerDay;
    return KQUIsFiniteDate(date) && date.timeIntervalSinceReferenceDate >= kFirstGregorianDay;
}

// ---- Pattern helpers --------------------------------------------------------------------

unsigned KQUGregorianUnitsPresentInFormatString(std::u16string_view pattern) {
    unsigned units = 0;
    KQUForEachUnquotedPatternCharacter(pattern, [&](size_t, char16_t c) {
        switch (c) {
            case u'y':
                units |= KQUGregorianUnitYear;
                break;
            case u'M':
                units |= KQUGregorianUnitMonth;
                break;
            case u'd':
                units |= KQUGregorianUnitDay;
                break;
            case u'h':
            case u'H':
            case u'k':
            case u'K':
                units |= KQUGregorianUnitHour;
                break;
            case u'm':
                units |= KQUGregorianUnitMinute;
                break;
            case u's':
                units |= KQUGregorianUnitSecond;
                break;
            default:
                break;
        }
    });
    return units;
}

std::optional<KQUDate> KQUCreateDateWithGregorianUnitsSetToDefaultValue(KQUDate date,
                                                                        std::u16string_view pattern) {
    auto g = KQUGregorianComponentsInGMT(date);
    if (!g) return std::nullopt;
    const unsigned units = KQUGregorianUnitsPresentInFormatString(pattern);
    if (!(units & (KQUGregorianDateUnits | KQUGregorianTimeUnits))) {
        // Nothing to complete from: the parsed date is the best answer there is.
        KQU_ASSERT_FAILURE("this line must not be reached");
        return date;
    }
    // "Now" is needed only for what the pattern lacks; a full date reads no clock.
    std::optional<KQUGregorianDateComponents> n;
    auto today = [&]() -> const KQUGregorianDateComponents& {
        if (!n) {
            KQUDate now{KQUWallClockSeconds() - static_cast<double>(KQUUnixTimeOfReferenceDate)};
            n = KQUGregorianComponentsInTimeZone(now, "");
            if (!n) n = KQUGregorianDateComponents{2001, 1, 1, 0, 0, 0, 2};
        }
        return *n;
    };
    KQUGregorianDateComponents result;
    if (units & KQUGregorianDateUnits) {
        result.year = (units & KQUGregorianUnitYear) ? g->year : today().year;
        result.month = (units & KQUGregorianUnitMonth) ? g->month : 1;
        result.day = (units & KQUGregorianUnitDay) ? g->day : 1;
    } else {
        result.year = today().year;
        result.month = today().month;
        result.day = today().day;
    }
    // A yearless 29 February moved into a common year is no date; never roll it to March.
    if (result.day > daysInMonth(result.year, result.month)) return std::nullopt;
    result.hour = (units & KQUGregorianUnitHour) ? g->hour : 0;
    result.minute = (units & KQUGregorianUnitMinute) ? g->minute : 0;
    result.second = (units & KQUGregorianUnitSecond) ? g->second : 0;
    return KQUDateFromGregorianComponentsInGMT(result);
}

namespace {

bool isTrimmable(char16_t c) {
    return u_isUWhiteSpace(c) || c == u'\n' || c == u'\r';
}

std::u16string trimmed(std::u16string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isTrimmable(text[begin])) ++begin;
    while (end > begin && isTrimmable(text[end - 1])) --end;
    return std::u16string(text.substr(begin, end - begin));
}

// Index of the first unquoted time field character, or npos.
size_t timePortionStart(std::u16string_view pattern) {
    static constexpr std::u16string_view kTimeFields = u"hHmsSakKZ";
    size_t found = std::u16string_view::npos;
    KQUForEachUnquotedPatternCharacter(pattern, [&](size_t i, char16_t c) {
        if (found == std::u16string_view::npos && kTimeFields.find(c) != std::u16string_view::npos) found = i;
    });
    return found;
}
}  // namespace

std::u16string KQUStringByReplacing4DigitYearStringWith2DigitYearString(std::u16string_view pattern) {
    return KQUStringByReplacingOccurrences(pattern, u"yyyy", u"yy");
}

std::u16string KQUStringByReplacing2DigitYearStringWith4DigitYearString(std::u16string_view pattern) {
    return KQUStringByReplacingOccurrences(pattern, u"yy", u"yyyy");
}

// ---- Rendering cache ----------------------------------------------------------------------

namespace {

std::atomic<uint64_t> sRenderFormattersBuilt{0};

// One thread's formatters by locale and pattern, least recently used last. Each entry has
// its own calendar, so rendering sets a time and formats without cloning one per call.
class RenderCache {
public:
    static RenderCache& forCurrentThread() {
        thread_local RenderCache sCache;
        return sCache;
    }

    KQUCachedDateFormat lookup(std::string_view locale, std::u16string_view pattern) {
        Entry& entry = find(locale, pattern);
        return {entry.format.get(), entry.calendar.get()};
    }

    std::u16string render(std::string_view locale, std::u16string_view pattern, UDate when) {
        Entry& entry = find(locale, pattern);
        if (!entry.format) return {};
        UErrorCode status = U_ZERO_ERROR;
        entry.calendar->setTime(when, status);
        if (U_FAILURE(status)) return {};
        icu::UnicodeString text;
        icu::FieldPosition position;
        entry.format->format(*entry.calendar, text, position);
        return KQUU16String(text);
    }

private:
    struct Entry {
        std::string locale;
        std::u16string pattern;
        size_t hash = 0;
        std::unique_ptr<icu::SimpleDateFormat> format;
        std::unique_ptr<icu::Calendar> calendar;
    };

    static size_t hashOf(std::string_view locale, std::u16string_view pattern) {
        return std::hash<std::u16string_view>()(pattern) * 31 + std::hash<std::string_view>()(locale);
    }

    Entry& find(std::string_view locale, std::u16string_view pattern) {
        const size_t hash = hashOf(locale, pattern);
        auto [first, last] = mIndex.equal_range(hash);
        for (auto it = first; it != last; ++it) {
            auto entry = it->second;
            if (entry->pattern == pattern && entry->locale == locale) {
                if (entry != mEntries.begin()) mEntries.splice(mEntries.begin(), mEntries, entry);
                return *entry;
            }
        }
        if (mEntries.size() >= KQUDateFormatter::kRenderCacheCapacity) {
            auto oldest = std::prev(mEntries.end());
            auto [f, l] = mIndex.equal_range(oldest->hash);
            for (auto it = f; it != l; ++it)
                if (it->second == oldest) {
                    mIndex.erase(it);
                    break;
                }
            mEntries.pop_back();
        }
        Entry entry{std::string(locale), std::u16string(pattern), hash, nullptr, nullptr};
        entry.format = KQUMakeStrictDateFormat(icu::Locale(entry.locale.c_str()), pattern);
        if (entry.format) entry.calendar.reset(entry.format->getCalendar()->clone());
        if (!entry.calendar) entry.format.reset();
        sRenderFormattersBuilt.fetch_add(1, std::memory_order_relaxed);
        mEntries.push_front(std::move(entry));
        mIndex.emplace(hash, mEntries.begin());
        return mEntries.front();
    }

    std::list<Entry> mEntries;
    std::unordered_multimap<size_t, std::list<Entry>::iterator> mIndex;
};

}  // namespace

KQUCachedDateFormat KQUCachedStrictDateFormat(std::string_view icuLocale, std::u16string_view pattern) {
    return RenderCache::forCurrentThread().lookup(icuLocale, pattern);
}

uint64_t KQUDateFormatter::renderFormattersBuilt() {
    return sRenderFormattersBuilt.load(std::memory_order_relaxed);
}

// ---- KQUDateFormatter ---------------------------------------------------------------------

KQUDateFormatter::KQUDateFormatter(const KQULocale& locale)
    : mLocale(locale), mICULocale(KQUGregorianLocaleIdentifier(locale)) {
    icu::Locale icuLocale(mICULocale.c_str());
    mDateOnlyFormatString = KQUPatternForStyles(icuLocale, KQUDateStyleMedium, KQUDateStyleNone);
    mTimeOnlyFormatString = KQUPatternForStyles(icuLocale, KQUDateStyleNone, KQUDateStyleShort);
    mFullDateFormatString = KQUPatternForStyles(icuLocale, KQUDateStyleFull, KQUDateStyleFull);
}

KQUDateFormatter::~KQUDateFormatter() = default;

std::shared_ptr<const KQUDateFormatter> KQUDateFormatter::formatter() {
    static std::mutex sLock;
    static std::shared_ptr<const KQUDateFormatter> sShared;
    static uint64_t sGeneration = 0;
    thread_local std::shared_ptr<const KQUDateFormatter> tShared;
    thread_local uint64_t tGeneration = 0;
    const uint64_t generation = KQULocaleGeneration();
    if (tShared && tGeneration == generation) return tShared;
    std::lock_guard guard(sLock);
    if (!sShared || sGeneration != generation) {
        sShared = std::make_shared<const KQUDateFormatter>(KQULocale::current());
        sGeneration = generation;
    }
    tShared = sShared;
    tGeneration = sGeneration;
    return sShared;
}

std::u16string KQUDateFormatter::stringFromDate(KQUDate date, std::u16string_view pattern) const {
    if (!KQUIsFiniteDate(date)) return {};
    return RenderCache::forCurrentThread().render(mICULocale, pattern, KQUUDateFromDate(date));
}

std::u16string KQUDateFormatter::fullDateString(KQUDate date) const {
    return stringFromDate(date, mFullDateFormatString);
}

std::optional<std::u16string> KQUDateFormatter::appropriateOutputFormatStringForInputFormatString(
    std::u16string_view pattern) const {
    const unsigned units = KQUGregorianUnitsPresentInFormatString(pattern);
    const bool date = units & KQUGregorianDateUnits, time = units & KQUGregorianTimeUnits;
    if (date && !time) return mDateOnlyFormatString;
    if (date && time) return mDateOnlyFormatString + u" " + mTimeOnlyFormatString;
    if (time) return mTimeOnlyFormatString;
    KQU_ASSERT_FAILURE("this should never be reached");
    return std::nullopt;
}

std::u16string KQUDateFormatter::datePortionOfDateTimeFormatString(std::u16string_view pattern) {
    return trimmed(pattern.substr(0, std::min(timePortionStart(pattern), pattern.size())));
}

std::u16string KQUDateFormatter::timePortionOfDateTimeFormatString(std::u16string_view pattern) {
    size_t start = timePortionStart(pattern);
    return start == std::u16string_view::npos ? std::u16string() : trimmed(pattern.substr(start));
}

const KQUCharacterSet& KQUDateFormatter::dateFormatStringSpecialSymbols() {
    static const KQUCharacterSet sSet = KQUCharacterSet::withCharacters(u"GyMdhHmsSEDFwWakKZ'");
    return sSet;
}

namespace {
void appendAbsent(std::vector<std::u16string>& list, const std::u16string& pattern) {
    if (!pattern.empty() && std::find(list.begin(), list.end(), pattern) == list.end())
        list.push_back(pattern);
}

// pattern with every run of h (or H) replaced by a single / a double one.
std::u16string withHourWidth(std::u16string_view pattern, char16_t hour, size_t width) {
    std::u16string result;
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i] == hour) {
            size_t run = i;
            while (run < pattern.size() && pattern[run] == hour) ++run;
            result.append(width, hour);
            i = run;
        } else {
            result.push_back(pattern[i++]);
        }
    }
    return result;
}
}  // namespace

std::vector<std::u16string> KQUDateFormatter::supportedDateFormats() {
    const KQULocale locale = KQULocale::current();
    auto info = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&locale);
    std::vector<std::u16string> formats = info ? info->displayedDateFormats : std::vector<std::u16string>();
    for (int style = KQUDateStyleShort; style <= KQUDateStyleFull; ++style)
        appendAbsent(formats, KQUDateFormatterCopyFormatStringForDateAndTimeStyles(style, KQUDateStyleNone));
    return formats;
}

std::vector<std::u16string> KQUDateFormatter::supportedTimeFormats() {
    const KQULocale locale = KQULocale::current();
    auto info = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&locale);
    std::vector<std::u16string> formats = info ? info->displayedTimeFormats : std::vector<std::u16string>();
    std::vector<std::u16string> styles, variants;
    for (int style : {KQUDateStyleShort, KQUDateStyleMedium}) {
        auto pattern = KQUDateFormatterCopyFormatStringForDateAndTimeStyles(KQUDateStyleNone, style);
        styles.push_back(pattern);
        for (char16_t hour : {u'h', u'H'})
            for (size_t width : {1, 2}) variants.push_back(withHourWidth(pattern, hour, width));
    }
    std::erase_if(formats, [&](const std::u16string& f) {
        return std::find(variants.begin(), variants.end(), f) != variants.end();
    });
    for (const auto& pattern : styles) appendAbsent(formats, pattern);
    return formats;
}

std::u16string KQUDateFormatterStringFromDateWithFormat(KQUDate date, std::u16string_view pattern) {
    return KQUDateFormatter::formatter()->stringFromDate(date, pattern);
}

std::u16string KQUDateFormatterCopyFormatStringForDateAndTimeStyles(const KQULocale& locale, int dateStyle,
                                                                    int timeStyle) {
    return KQUPatternForStyles(icu::Locale(KQUGregorianLocaleIdentifier(locale).c_str()), dateStyle,
                               timeStyle);
}

std::u16string KQUDateFormatterCopyFormatStringForDateAndTimeStyles(int dateStyle, int timeStyle) {
    return KQUDateFormatterCopyFormatStringForDateAndTimeStyles(KQULocale::current(), dateStyle, timeStyle);
}

// ---- Component ordering -------------------------------------------------------------------

namespace {
std::optional<KQUDateComponentOrdering> orderingOfPattern(std::u16string_view pattern) {
    size_t year = std::u16string_view::npos, month = year, day = year;
    KQUForEachUnquotedPatternCharacter(pattern, [&](size_t i, char16_t c) {
        size_t* slot = c == u'y' || c == u'u'   ? &year
                       : c == u'M' || c == u'L' ? &month
                       : c == u'd'              ? &day
                                                : nullptr;
        if (slot && *slot == std::u16string_view::npos) *slot = i;
    });
    if (year == std::u16string_view::npos || month == year || day == year) return std::nullopt;
    if (day < month && month < year) return KQUDateComponentOrderingDMY;
    if (day < year && year < month) return KQUDateComponentOrderingDYM;
    if (month < day && day < year) return KQUDateComponentOrderingMDY;
    if (month < year && year < day) return KQUDateComponentOrderingMYD;
    if (year < day && day < month) return KQUDateComponentOrderingYDM;
    return KQUDateComponentOrderingYMD;
}
}  // namespace

KQUDateComponentOrdering KQUDateComponentOrderingForLocale(const KQULocale& locale) {
    // Read from the pattern itself rather than from a rendered sample: the pattern says
    // where each field stands even when a field is shown as a name.
    for (int style : {KQUDateStyleShort, KQUDateStyleMedium}) {
        if (auto ordering = orderingOfPattern(
                KQUDateFormatterCopyFormatStringForDateAndTimeStyles(locale, style, KQUDateStyleNone)))
            return *ordering;
    }
    return KQUDateComponentOrderingDMY;
}

KQUDateComponentOrdering KQUDateComponentOrderingForCurrentLocale() {
    return KQUDateComponentOrderingForLocale(KQULocale::current());
}

// ---- Date-time format lists ---------------------------------------------------------------

namespace {

std::vector<std::u16string> patternsOf(const KQUValue& plist, const char* key) {
    std::vector<std::u16string> patterns;
    const KQUValue* value = plist.find(key);
    const KQUValueArray* array = value ? value->array() : nullptr;
    if (!array) return patterns;
    for (const auto& item : *array)
        if (const std::string* text = item.string())
            if (auto wide = KQUUTF16FromUTF8(*text); wide && !wide->empty())
                patterns.push_back(std::move(*wide));
    return patterns;
}

std::shared_ptr<const KQUDateTimeFormatInfo> loadFormatInfo(const std::string& name) {
    static std::mutex sLock;
    static std::map<std::string, std::shared_ptr<const KQUDateTimeFormatInfo>, std::less<>> sLoaded;
    std::lock_guard guard(sLock);
    if (auto found = sLoaded.find(name); found != sLoaded.end()) return found->second;
    std::shared_ptr<const KQUDateTimeFormatInfo> info;
    if (auto bytes = KQUBundle::libraryBundle()->resourceContents("DateTimeFormats/" + name, "plist")) {
        if (auto plist = KQUPropertyListFromBytes(*bytes); plist && plist->dictionary()) {
            auto made = std::make_shared<KQUDateTimeFormatInfo>();
            made->displayedTimeFormats =
                patternsOf(*plist, KQUDateFormatterDateTimeFormatInfoDisplayedTimeFormats);
            made->displayedDateFormats =
                patternsOf(*plist, KQUDateFormatterDateTimeFormatInfoDisplayedDateFormats);
            made->acceptedTimeFormats =
                patternsOf(*plist, KQUDateFormatterDateTimeFormatInfoAcceptedTimeFormats);
            made->acceptedDateFormats =
                patternsOf(*plist, KQUDateFormatterDateTimeFormatInfoAcceptedDateFormats);
            info = std::move(made);
        } else {
            KQULogError("Malformed date time formats: {}", name);
        }
    }
    sLoaded.emplace(name, info);
    return info;
}

}  // namespace

std::shared_ptr<const KQUDateTimeFormatInfo> KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(
    const KQULocale* locale) {
    const KQULocale chosen = locale ? *locale : KQULocale::current();
    std::string name = chosen.identifier().substr(0, chosen.identifier().find('@'));
    // A locale without lists of its own ("de_AT_x") borrows its parent's ("de_AT", "de")
    // before the fallback, which knows nothing of the language.
    for (std::string candidate = name; !candidate.empty();) {
        if (auto info = loadFormatInfo(candidate)) return info;
        size_t cut = candidate.rfind('_');
        candidate = cut == std::string::npos ? std::string() : candidate.substr(0, cut);
    }
    static constexpr const char* kOrderingNames[] = {"DMY", "DYM", "MDY", "MYD", "YDM", "YMD"};
    const char* ordering = kOrderingNames[KQUDateComponentOrderingForLocale(chosen)];
    if (auto info = loadFormatInfo(std::string("fallback-") + ordering)) return info;
    KQU_ASSERT_FAILURE("Unable to find path for plist containing date time formats!");
    return nullptr;
}

std::vector<std::u16string> KQUCreateArrayOfDateFormatStringsForLocale(const KQULocale* locale) {
    auto info = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(locale);
    return info ? info->acceptedDateFormats : std::vector<std::u16string>();
}

std::vector<std::u16string> KQUCreateArrayOfTimeFormatStringsForLocale(const KQULocale* locale) {
    auto info = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(locale);
    return info ? info->acceptedTimeFormats : std::vector<std::u16string>();
}

// ---- ISO 8601 -----------------------------------------------------------------------------

namespace {
constexpr std::u16string_view kISO8601Pattern = u"yyyy-MM-dd'T'HH:mm:ssZZ";

// The calling thread's ISO 8601 formatter: en_US, GMT, strict, and proleptic Gregorian
// (ISO 8601 knows no Julian calendar).
icu::SimpleDateFormat* iso8601Format() {
    thread_local std::unique_ptr<icu::SimpleDateFormat> tFormat = [] {
        auto format = KQUMakeStrictDateFormat(icu::Locale("en_US@calendar=gregorian"), kISO8601Pattern);
        if (format) {
            if (auto* gregorian = dynamic_cast<icu::GregorianCalendar*>(
                    const_cast<icu::Calendar*>(format->getCalendar()))) {
                UErrorCode status = U_ZERO_ERROR;
                gregorian->setGregorianChange(-std::numeric_limits<double>::max(), status);
            }
        }
        return format;
    }();
    return tFormat.get();
}
}  // namespace

std::u16string KQUDateFormatterCreateStringFromDateWithISO8601Format(KQUDate date) {
    icu::SimpleDateFormat* format = iso8601Format();
    if (!format || !KQUIsFiniteDate(date)) return {};
    icu::UnicodeString text;
    format->format(KQUUDateFromDate(date), text);
    return KQUU16String(text);
}

std::optional<KQUDate> KQUDateFormatterCreateDateFromStringWithISO8601Format(std::u16string_view text) {
    icu::SimpleDateFormat* format = iso8601Format();
    if (!format || text.empty()) return std::nullopt;
    icu::ParsePosition position(0);
    UDate when = format->parse(KQUAliasICUString(text), position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != static_cast<int32_t>(text.size()) ||
        !std::isfinite(when))
        return std::nullopt;
    return KQUDateFromUDate(when);
}

}  // namespace kqu
