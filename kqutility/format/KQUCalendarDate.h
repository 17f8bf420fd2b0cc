// KQUCalendarDate: an instant together with the zone and the calendar format it is
// written in, for the wire formats of dates: ISO 8601 ("2024-03-14T15:30:00+0000") and
// RFC 1123 ("Thu, 14 Mar 2024 15:30:00 GMT").
//
// Calendar formats use %-codes, read and written here with English names whatever the
// process locale or TZ (never strftime/strptime):
//   %Y year (at least four digits, "-" before years before 1)   %y year in two digits
//   %m month 01-12   %d day 01-31   %e day, space-padded   %j day of the year 001-366
//   %H hour 00-23   %I hour 01-12   %p AM/PM   %M minute   %S second   %F milliseconds
//   %a %A weekday (Mon, Monday)   %b %B month (Jan, January)
//   %z offset "+hhmm"   %Z zone abbreviation ("GMT", or "GMT+0200" for a bare offset)
//   %% a percent sign
// Reading is strict: numbers in range (no 30 February), names in either case, a space in
// the format matches one or more spaces, the whole text must be read. A two-digit year
// is 1969-2068. A weekday in the text is not checked against the date. Zone-less text
// is GMT; %Z reads GMT, UTC, UT, Z and the North American zones of RFC 822.
//
// The calendar dates are dates of the proleptic Gregorian calendar. A KQUCalendarDate is
// a value; plain functions, thread-safe. Calendar-format text is UTF-8 (ASCII); the
// locale-dependent renderings are UTF-16.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUValue.h"

namespace kqu {

class KQUCalendarDate {
public:
    static constexpr std::string_view iso8601FormatString = "%Y-%m-%dT%H:%M:%S%z";
    static constexpr std::string_view rfc1123FormatString = "%a, %d %b %Y %H:%M:%S %Z";

    // zoneOffset: seconds east of GMT; zoneAbbreviation "" means "GMT" for offset 0 and
    // "GMT+hhmm" otherwise.
    KQUCalendarDate(KQUDate date, std::string calendarFormat, int zoneOffset = 0,
                    std::string zoneAbbreviation = {});

    // Now (the wall clock of KQUClock.h) or date, in GMT, with the ISO 8601 / RFC 1123 format.
    static KQUCalendarDate iso8601Date();
    static KQUCalendarDate iso8601DateWithDate(KQUDate date);
    static KQUCalendarDate iso8601DateWithTimeIntervalSinceReferenceDate(double seconds);
    static KQUCalendarDate rfc1123Date();
    static KQUCalendarDate rfc1123DateWithDate(KQUDate date);

    // Tries ISO 8601 (with "%z", then " %z"), zone-less ISO 8601, RFC 1123, RFC 850
    // ("%A, %d-%b-%y %H:%M:%S %Z"), "%a %m %d %H:%M:%S %Y", then "%Y-%m-%d %H:%M:%S %z".
    // The result has the ISO 8601 format, and its zone only when one of the first two
    // matched (GMT otherwise).
    static std::optional<KQUCalendarDate> iso8601DateWithString(std::string_view text);
    // The same list with RFC 1123 first; the result has the RFC 1123 format and GMT.
    static std::optional<KQUCalendarDate> rfc1123DateWithString(std::string_view text);
    // text read with one calendar format; nullopt unless all of it matches.
    static std::optional<KQUCalendarDate> dateWithString(std::string_view text,
                                                         std::string_view calendarFormat);

    KQUDate date() const { return mDate; }
    const std::string& calendarFormat() const { return mCalendarFormat; }
    int zoneOffset() const { return mZoneOffset; }
    std::string zoneAbbreviation() const;

    // The date written with its calendar format / with another one; "" for a date that is
    // not finite or out of the calendar's range.
    std::string description() const { return descriptionWithCalendarFormat(mCalendarFormat); }
    std::string descriptionWithCalendarFormat(std::string_view calendarFormat) const;

    // "TodayFmt", "YesterdayFmt", "ThisWeekFmt" (2 to 6 days ago), "ThisYearFmt" or
    // "PastYearFmt", by the date's day against today's, both in the date's zone.
    std::string shortDateTimeFormatName() const;
    // The library's localized pattern for that key ("" when it has none).
    std::u16string shortDateTimeFormatString() const;
    // dateStringWithCFFormat with that pattern, the current locale and medium styles.
    std::optional<std::u16string> shortDateTimeString() const;
    // The date in its zone through ICU for localeIdentifier ("" or unknown: the current
    // locale) and the styles (0 none .. 4 full), or through pattern when it is not empty;
    // nullopt when no formatter can be made.
    std::optional<std::u16string> dateStringWithCFFormat(std::u16string_view pattern,
                                                         std::string_view localeIdentifier, int dateStyle,
                                                         int timeStyle) const;

    friend bool operator==(const KQUCalendarDate&, const KQUCalendarDate&) = default;

private:
    KQUDate mDate;
    std::string mCalendarFormat;
    int mZoneOffset = 0;
    std::string mZoneAbbreviation;
};

}  // namespace kqu
