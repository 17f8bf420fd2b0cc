// Showing dates: KQUDateFormatter renders absolute times through ICU date patterns and
// knows the current locale's standard patterns; the plain functions below answer the
// pattern of a date and time style, the units a pattern shows, the default for units a
// pattern lacks, the order a locale writes day, month and year in, and the ISO 8601 form.
//
// Every date is shown and read in GMT with the Gregorian calendar: a date typed as
// "3/14/24 15:30" is stored as 2024-03-14 15:30 GMT and shown the same way whatever the
// machine's time zone. Dates are KQUDate (seconds since 2001-01-01 GMT). A date that is
// not finite (NaN, infinity) shows as "" and is not a valid Gregorian date.
//
// Rendering goes through a per-thread cache of ICU formatters keyed by pattern and
// locale, bounded (least recently used goes first), so a KQUDateFormatter may be used
// from several threads and a stream of distinct patterns cannot grow memory without
// limit. formatter() hands out the shared formatter of the current locale; after a change
// of the current locale (KQULocale.h) the next call builds a fresh one.
//
// Date and time styles: 0 none, 1 short, 2 medium, 3 long, 4 full. Patterns and shown text
// are UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUCharacterSet.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

inline constexpr int KQUDateStyleNone = 0;
inline constexpr int KQUDateStyleShort = 1;
inline constexpr int KQUDateStyleMedium = 2;
inline constexpr int KQUDateStyleLong = 3;
inline constexpr int KQUDateStyleFull = 4;

// Units bitmask of KQUGregorianUnitsPresentInFormatString.
inline constexpr unsigned KQUGregorianUnitYear = 1;
inline constexpr unsigned KQUGregorianUnitMonth = 2;
inline constexpr unsigned KQUGregorianUnitDay = 4;
inline constexpr unsigned KQUGregorianUnitHour = 8;
inline constexpr unsigned KQUGregorianUnitMinute = 16;
inline constexpr unsigned KQUGregorianUnitSecond = 32;
inline constexpr unsigned KQUGregorianDateUnits = 1 | 2 | 4;
inline constexpr unsigned KQUGregorianTimeUnits = 8 | 16 | 32;

// Date component orderings of KQUDateComponentOrderingForLocale.
enum KQUDateComponentOrdering : int {
    KQUDateComponentOrderingDMY = 0,
    KQUDateComponentOrderingDYM = 1,
    KQUDateComponentOrderingMDY = 2,
    KQUDateComponentOrderingMYD = 3,
    KQUDateComponentOrderingYDM = 4,
    KQUDateComponentOrderingYMD = 5,
};

// Keys of a locale's date-time format property list (resources/DateTimeFormats/).
inline constexpr const char* KQUDateFormatterDateTimeFormatInfoDisplayedTimeFormats = "DisplayedTimeFormats";
inline constexpr const char* KQUDateFormatterDateTimeFormatInfoDisplayedDateFormats = "DisplayedDateFormats";
inline constexpr const char* KQUDateFormatterDateTimeFormatInfoAcceptedTimeFormats = "AcceptedTimeFormats";
inline constexpr const char* KQUDateFormatterDateTimeFormatInfoAcceptedDateFormats = "AcceptedDateFormats";

// A date broken down in the Gregorian calendar (proleptic before 1582), as in GMT.
struct KQUGregorianDateComponents {
    int64_t year = 1;
    int month = 1;      // 1..12
    int day = 1;        // 1..31
    int hour = 0;       // 0..23
    int minute = 0;     // 0..59
    double second = 0;  // 0 <= second < 60, with the fraction
    int weekday = 1;    // 1 Sunday .. 7 Saturday
    friend bool operator==(const KQUGregorianDateComponents&, const KQUGregorianDateComponents&) = default;
};

// nullopt for a date that is not finite.
std::optional<KQUGregorianDateComponents> KQUGregorianComponentsInGMT(KQUDate date);
// The instant of those components in GMT (fields out of range carry over, as in mktime).
KQUDate KQUDateFromGregorianComponentsInGMT(const KQUGregorianDateComponents& components);
// The same with the components in zone (an IANA name, "" for the default zone); a zone
// ICU does not know counts as GMT.
std::optional<KQUGregorianDateComponents> KQUGregorianComponentsInTimeZone(KQUDate date,
                                                                           std::string_view zone);

class KQUDateFormatter {
public:
    // The shared formatter of the current locale (rebuilt after a locale change).
    static std::shared_ptr<const KQUDateFormatter> formatter();

    // locale with its calendar forced to Gregorian.
    explicit KQUDateFormatter(const KQULocale& locale);
    ~KQUDateFormatter();
    KQUDateFormatter(const KQUDateFormatter&) = delete;
    KQUDateFormatter& operator=(const KQUDateFormatter&) = delete;

    const KQULocale& locale() const { return mLocale; }
    // The locale's pattern for date style medium without time / time style short without date.
    const std::u16string& dateOnlyFormatString() const { return mDateOnlyFormatString; }
    const std::u16string& timeOnlyFormatString() const { return mTimeOnlyFormatString; }

    // date through pattern, GMT; "" for a non-finite date or a pattern ICU refuses.
    std::u16string stringFromDate(KQUDate date, std::u16string_view pattern) const;
    // Full date style and full time style.
    std::u16string fullDateString(KQUDate date) const;
    // The locale's date-only, time-only or "date time" pattern for the units pattern shows;
    // nullopt (reported to the assertion handler) for a pattern with no unit.
    std::optional<std::u16string> appropriateOutputFormatStringForInputFormatString(
        std::u16string_view pattern) const;

    // The text before the first unquoted character of "hHmsSakKZ", trimmed (all of
    // pattern when there is none) / from that character on, trimmed ("" when none).
    static std::u16string datePortionOfDateTimeFormatString(std::u16string_view pattern);
    static std::u16string timePortionOfDateTimeFormatString(std::u16string_view pattern);
    // "GyMdhHmsSEDFwWakKZ'".
    static const KQUCharacterSet& dateFormatStringSpecialSymbols();
    // The current locale's displayed date patterns, then its style 1..4 date patterns
    // not already listed.
    static std::vector<std::u16string> supportedDateFormats();
    // The current locale's displayed time patterns without the h/hh and H/HH variants of
    // its short and medium time patterns, then those two patterns when absent.
    static std::vector<std::u16string> supportedTimeFormats();

    // Formatters built by the rendering caches of all threads (for benchmarks and tests).
    static uint64_t renderFormattersBuilt();
    // Capacity of each thread's rendering cache.
    static constexpr size_t kRenderCacheCapacity = 64;

private:
    KQULocale mLocale;
    std::string mICULocale;  // mLocale with "@calendar=gregorian"
    std::u16string mDateOnlyFormatString;
    std::u16string mTimeOnlyFormatString;
    std::u16string mFullDateFormatString;
};

// KQUDateFormatter::formatter()->stringFromDate(date, pattern).
std::u16string KQUDateFormatterStringFromDateWithFormat(KQUDate date, std::u16string_view pattern);
// The current locale's (Gregorian) pattern for a date style and a time style; "" for
// none and none.
std::u16string KQUDateFormatterCopyFormatStringForDateAndTimeStyles(int dateStyle, int timeStyle);
// The same for a given locale.
std::u16string KQUDateFormatterCopyFormatStringForDateAndTimeStyles(const KQULocale& locale, int dateStyle,
                                                                    int timeStyle);

// Units a pattern shows, quoted text skipped: "y" year, "M" month, "d" day, "h", "H",
// "k", "K" hour, "m" minute, "s" second.
unsigned KQUGregorianUnitsPresentInFormatString(std::u16string_view pattern);
// date with the units pattern lacks set to their defaults: a pattern with a date unit
// keeps its year (else this year), month (else January) and day (else the 1st); a
// time-only pattern takes today's date; the time keeps what pattern shows and is 0
// otherwise. "This year" and "today" are those of the wall clock (KQUClock.h) in the
// default time zone. nullopt when the result is no date (29 February moved into a common
// year, a non-finite date). A pattern with no unit is reported to the assertion handler
// and date is returned as it stands.
std::optional<KQUDate> KQUCreateDateWithGregorianUnitsSetToDefaultValue(KQUDate date,
                                                                        std::u16string_view pattern);

// The order locale writes day, month and year in its short date style; DMY when its short
// date pattern lacks one of them.
KQUDateComponentOrdering KQUDateComponentOrderingForLocale(const KQULocale& locale);
KQUDateComponentOrdering KQUDateComponentOrderingForCurrentLocale();

// The date-time format lists of a locale (the current one for nullptr), from the
// embedded "DateTimeFormats/<id>.plist", else the fallback list of its component
// ordering. Each key maps to the patterns in their order.
struct KQUDateTimeFormatInfo {
    std::vector<std::u16string> displayedTimeFormats;
    std::vector<std::u16string> displayedDateFormats;
    std::vector<std::u16string> acceptedTimeFormats;
    std::vector<std::u16string> acceptedDateFormats;
};
std::shared_ptr<const KQUDateTimeFormatInfo> KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(
    const KQULocale* locale);
std::vector<std::u16string> KQUCreateArrayOfDateFormatStringsForLocale(const KQULocale* locale);
std::vector<std::u16string> KQUCreateArrayOfTimeFormatStringsForLocale(const KQULocale* locale);

// "yyyy-MM-dd'T'HH:mm:ssZZ" in en_US, GMT: "2024-03-14T15:30:00+0000"; "" for a non-finite
// date.
std::u16string KQUDateFormatterCreateStringFromDateWithISO8601Format(KQUDate date);
// The inverse, strict: the whole text must match and every field be in range.
std::optional<KQUDate> KQUDateFormatterCreateDateFromStringWithISO8601Format(std::u16string_view text);

// Every "yyyy" becomes "yy" / every "yy" becomes "yyyy".
std::u16string KQUStringByReplacing4DigitYearStringWith2DigitYearString(std::u16string_view pattern);
std::u16string KQUStringByReplacing2DigitYearStringWith4DigitYearString(std::u16string_view pattern);

// At or after 1582-10-16 00:00:00 GMT (and finite).
bool KQUIsValidGregorianDate(KQUDate date);

}  // namespace kqu
