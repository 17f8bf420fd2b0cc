#include "kqutility/format/KQUCalendarDate.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>
#include <unicode/simpletz.h>

#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateICU.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQUICUSupport.h"
#include "kqutility/foundation/KQUStringTable.h"

namespace kqu {

namespace {

constexpr std::array<std::string_view, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonths = {"January",   "February", "March",    "April",
                                                      "May",       "June",     "July",     "August",
                                                      "September", "October",  "November", "December"};

KQUDate nowDate() {
    return KQUDate{KQUWallClockSeconds() - static_cast<double>(KQUUnixTimeOfReferenceDate)};
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isLeap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}
int daysIn(int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

std::string offsetText(int offset) {
    const int minutes = std::abs(offset) / 60;
    return fmt::format("{}{:02}{:02}", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

// What a reading collects before it becomes a date.
struct Reading {
    int64_t year = 2001;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
    int dayOfYear = 0;  // 0: not read
    int pm = -1;        // -1 no %p; 0 AM; 1 PM
    bool twelveHour = false;
    int offset = 0;
    bool hasZone = false;
    std::string zoneName;
};

class Reader {
public:
    explicit Reader(std::string_view text) : mText(text) {}

    bool atEnd() const { return mPos == mText.size(); }
    size_t position() const { return mPos; }

    // Up to maxDigits digits (at least one), optionally signed.
    bool number(int maxDigits, int64_t& value, bool allowSign = false) {
        bool negative = false;
        if (allowSign && mPos < mText.size() && (mText[mPos] == '-' || mText[mPos] == '+'))
            negative = mText[mPos++] == '-';
        size_t start = mPos;
        value = 0;
        while (mPos < mText.size() && mPos - start < static_cast<size_t>(maxDigits) &&
               std::isdigit(static_cast<unsigned char>(mText[mPos])))
            value = value * 10 + (mText[mPos++] - '0');
        if (mPos == start) return false;
        if (negative) value = -value;
        return true;
    }

    bool number(int maxDigits, int& value, int low, int high) {
        int64_t wide = 0;
        if (!number(maxDigits, wide) || wide < low || wide > high) return false;
        value = static_cast<int>(wide);
        return true;
    }

    // One of names (full or their first three letters when abbreviated), any case; its index.
    template <size_t N>
    bool name(const std::array<std::string_view, N>& names, bool abbreviated, int& index) {
        for (size_t i = 0; i < N; ++i) {
            std::string_view candidate = abbreviated ? names[i].substr(0, 3) : names[i];
            if (equalsIgnoringCase(mText.substr(mPos, candidate.size()), candidate)) {
                mPos += candidate.size();
                index = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }

    bool literal(char c) {
        if (c == ' ') {
            size_t start = mPos;
            while (mPos < mText.size() && mText[mPos] == ' ') ++mPos;
            return mPos > start;
        }
        if (mPos < mText.size() && mText[mPos] == c) {
            ++mPos;
            return true;
        }
        return false;
    }

    bool offset(int& seconds) {
        if (mPos < mText.size() && (mText[mPos] == 'Z' || mText[mPos] == 'z')) {
            ++mPos;
            seconds = 0;
            return true;
        }
        if (mPos >= mText.size() || (mText[mPos] != '+' && mText[mPos] != '-')) return false;
        const int sign = mText[mPos++] == '-' ? -1 : 1;
        int hours = 0, minutes = 0;
        if (!number(2, hours, 0, 23)) return false;
        if (mPos < mText.size() && mText[mPos] == ':') ++mPos;
        if (!number(2, minutes, 0, 59)) return false;
        seconds = sign * (hours * 3600 + minutes * 60);
        return true;
    }

    bool zone(Reading& reading) {
        static const std::pair<std::string_view, int> kZones[] = {
            {"GMT", 0},         {"UTC", 0},         {"UT", 0},          {"EST", -5 * 3600},
            {"EDT", -4 * 3600}, {"CST", -6 * 3600}, {"CDT", -5 * 3600}, {"MST", -7 * 3600},
            {"MDT", -6 * 3600}, {"PST", -8 * 3600}, {"PDT", -7 * 3600}, {"Z", 0}};
        size_t start = mPos;
        while (mPos < mText.size() && std::isalpha(static_cast<unsigned char>(mText[mPos]))) ++mPos;
        std::string_view word = mText.substr(start, mPos - start);
        for (const auto& [name, offset] : kZones) {
            if (!equalsIgnoringCase(word, name)) continue;
            reading.offset = offset;
            reading.hasZone = true;
            reading.zoneName = name == "Z" || name == "UT" || name == "UTC" ? "GMT" : std::string(name);
            // "GMT+0200" as written by %Z for a bare offset.
            if (offset == 0 && mPos < mText.size() && (mText[mPos] == '+' || mText[mPos] == '-')) {
                if (!this->offset(reading.offset)) return false;
                reading.zoneName.clear();
            }
            return true;
        }
        mPos = start;
        if (offset(reading.offset)) {
            reading.hasZone = true;
            return true;
        }
        return false;
    }

private:
    std::string_view mText;
    size_t mPos = 0;
};

std::optional<Reading> read(std::string_view text, std::string_view format) {
    Reader reader(text);
    Reading r;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            if (!reader.literal(c)) return std::nullopt;
            continue;
        }
        if (++i >= format.size()) return std::nullopt;
        int64_t wide = 0;
        int index = 0;
        bool ok = true;
        switch (format[i]) {
            case 'Y':
                ok = reader.number(9, wide, true);
                r.year = wide;
                break;
            case 'y':
                ok = reader.number(2, wide);
                r.year = wide < 69 ? 2000 + wide : 1900 + wide;
                break;
            case 'm':
                ok = reader.number(2, r.month, 1, 12);
                break;
            case 'd':
            case 'e':
                reader.literal(' ');
                ok = reader.number(2, r.day, 1, 31);
                break;
            case 'j':
                ok = reader.number(3, r.dayOfYear, 1, 366);
                break;
            case 'H':
                ok = reader.number(2, r.hour, 0, 23);
                break;
            case 'I':
                ok = reader.number(2, r.hour, 1, 12);
                r.twelveHour = true;
                break;
            case 'M':
                ok = reader.number(2, r.minute, 0, 59);
                break;
            case 'S':
                ok = reader.number(2, r.second, 0, 59);
                break;
            case 'F': {  // a fraction of a second: "5" is 500 ms
                int64_t digits = 0;
                size_t before = reader.position();
                ok = reader.number(3, digits);
                for (size_t n = reader.position() - before; ok && n < 3; ++n) digits *= 10;
                r.millisecond = static_cast<int>(digits);
                break;
            }
            case 'p': {
                static constexpr std::array<std::string_view, 2> kAmPm = {"AM", "PM"};
                ok = reader.name(kAmPm, false, r.pm);
                break;
            }
            case 'a':
            case 'A':
                ok = reader.name(kWeekdays, format[i] == 'a', index);
                break;
            case 'b':
            case 'B':
                ok = reader.name(kMonths, format[i] == 'b', index);
                r.month = index + 1;
                break;
            case 'z':
                ok = reader.offset(r.offset);
                r.hasZone = ok;
                break;
            case 'Z':
                ok = reader.zone(r);
                break;
            case '%':
                ok = reader.literal('%');
                break;
            default:
                return std::nullopt;
        }
        if (!ok) return std::nullopt;
    }
    if (!reader.atEnd()) return std::nullopt;
    if (r.twelveHour) {
        if (r.pm < 0) return std::nullopt;
        r.hour = r.hour % 12 + (r.pm == 1 ? 12 : 0);
    } else if (r.pm >= 0) {
        if (r.hour < 1 || r.hour > 12) return std::nullopt;
        r.hour = r.hour % 12 + (r.pm == 1 ? 12 : 0);
    }
    if (r.dayOfYear) {
        if (r.dayOfYear > (isLeap(r.year) ? 366 : 365)) return std::nullopt;
        r.month = 1;
        r.day = r.dayOfYear;
    } else if (r.day > daysIn(r.year, r.month)) {
        return std::nullopt;
    }
    return r;
}

std::optional<KQUCalendarDate> dateOfReading(const Reading& r, std::string format) {
    KQUGregorianDateComponents c{r.year, r.month, r.day, r.hour, r.minute, r.second + r.millisecond / 1000.0,
                                 1};
    KQUDate local = KQUDateFromGregorianComponentsInGMT(c);
    KQUDate date{local.timeIntervalSinceReferenceDate - r.offset};
    return KQUCalendarDate(date, std::move(format), r.offset, r.zoneName);
}

constexpr std::string_view kFreeForm = "%Y-%m-%d %H:%M:%S %z";

std::optional<KQUCalendarDate> firstMatch(std::string_view text,
                                          std::initializer_list<std::string_view> formats, size_t* matched) {
    size_t index = 0;
    for (auto format : formats) {
        if (auto reading = read(text, format)) {
            *matched = index;
            return dateOfReading(*reading, std::string(format));
        }
        ++index;
    }
    return std::nullopt;
}

}  // namespace

KQUCalendarDate::KQUCalendarDate(KQUDate date, std::string calendarFormat, int zoneOffset,
                                 std::string zoneAbbreviation)
    : mDate(date),
      mCalendarFormat(std::move(calendarFormat)),
      mZoneOffset(zoneOffset),
      mZoneAbbreviation(std::move(zoneAbbreviation)) {}

std::string KQUCalendarDate::zoneAbbreviation() const {
    if (!mZoneAbbreviation.empty()) return mZoneAbbreviation;
    return mZoneOffset == 0 ? "GMT" : "GMT" + offsetText(mZoneOffset);
}

KQUCalendarDate KQUCalendarDate::iso8601Date() {
    return iso8601DateWithDate(nowDate());
}
KQUCalendarDate KQUCalendarDate::iso8601DateWithDate(KQUDate date) {
    return KQUCalendarDate(date, std::string(iso8601FormatString));
}
KQUCalendarDate KQUCalendarDate::iso8601DateWithTimeIntervalSinceReferenceDate(double seconds) {
    return iso8601DateWithDate(KQUDate{seconds});
}
KQUCalendarDate KQUCalendarDate::rfc1123Date() {
    return rfc1123DateWithDate(nowDate());
}
KQUCalendarDate KQUCalendarDate::rfc1123DateWithDate(KQUDate date) {
    return KQUCalendarDate(date, std::string(rfc1123FormatString), 0, "GMT");
}

std::optional<KQUCalendarDate> KQUCalendarDate::dateWithString(std::string_view text,
                                                               std::string_view calendarFormat) {
    auto reading = read(text, calendarFormat);
    if (!reading) return std::nullopt;
    return dateOfReading(*reading, std::string(calendarFormat));
}

std::optional<KQUCalendarDate> KQUCalendarDate::iso8601DateWithString(std::string_view text) {
    size_t matched = 0;
    auto date = firstMatch(
        text,
        {"%Y-%m-%dT%H:%M:%S%z", "%Y-%m-%dT%H:%M:%S %z", "%Y-%m-%dT%H:%M:%S", "%a, %d %b %Y %H:%M:%S %Z",
         "%A, %d-%b-%y %H:%M:%S %Z", "%a %m %d %H:%M:%S %Y", kFreeForm},
        &matched);
    if (!date) return std::nullopt;
    if (matched <= 1)
        return KQUCalendarDate(date->mDate, std::string(iso8601FormatString), date->mZoneOffset);
    return iso8601DateWithDate(date->mDate);
}

std::optional<KQUCalendarDate> KQUCalendarDate::rfc1123DateWithString(std::string_view text) {
    size_t matched = 0;
    auto date =
        firstMatch(text,
                   {"%a, %d %b %Y %H:%M:%S %Z", "%Y-%m-%dT%H:%M:%S%z", "%Y-%m-%dT%H:%M:%S %z",
                    "%Y-%m-%dT%H:%M:%S", "%A, %d-%b-%y %H:%M:%S %Z", "%a %m %d %H:%M:%S %Y", kFreeForm},
                   &matched);
    if (!date) return std::nullopt;
    return rfc1123DateWithDate(date->mDate);
}

std::string KQUCalendarDate::descriptionWithCalendarFormat(std::string_view format) const {
    auto c = KQUGregorianComponentsInGMT(KQUDate{mDate.timeIntervalSinceReferenceDate + mZoneOffset});
    if (!c) return {};
    const int second = static_cast<int>(std::floor(c->second));
    const int millisecond = std::min(999, static_cast<int>(std::floor((c->second - second) * 1000 + 1e-6)));
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        switch (format[++i]) {
            case 'Y':
                out += c->year < 0 ? fmt::format("-{:04}", -c->year) : fmt::format("{:04}", c->year);
                break;
            case 'y':
                out += fmt::format("{:02}", ((c->year % 100) + 100) % 100);
                break;
            case 'm':
                out += fmt::format("{:02}", c->month);
                break;
            case 'd':
                out += fmt::format("{:02}", c->day);
                break;
            case 'e':
                out += fmt::format("{:2}", c->day);
                break;
            case 'j': {
                KQUGregorianDateComponents first{c->year, 1, 1, 0, 0, 0, 1},
                    day{c->year, c->month, c->day, 0, 0, 0, 1};
                double days = (KQUDateFromGregorianComponentsInGMT(day).timeIntervalSinceReferenceDate -
                               KQUDateFromGregorianComponentsInGMT(first).timeIntervalSinceReferenceDate) /
                              86400;
                out += fmt::format("{:03}", static_cast<int>(days) + 1);
                break;
            }
            case 'H':
                out += fmt::format("{:02}", c->hour);
                break;
            case 'I':
                out += fmt::format("{:02}", c->hour % 12 == 0 ? 12 : c->hour % 12);
                break;
            case 'p':
                out += c->hour < 12 ? "AM" : "PM";
                break;
            case 'M':
                out += fmt::format("{:02}", c->minute);
                break;
            case 'S':
                out += fmt::format("{:02}", second);
                break;
            case 'F':
                out += fmt::format("{:03}", millisecond);
                break;
            case 'a':
                out += kWeekdays[c->weekday - 1].substr(0, 3);
                break;
            case 'A':
                out += kWeekdays[c->weekday - 1];
                break;
            case 'b':
                out += kMonths[c->month - 1].substr(0, 3);
                break;
            case 'B':
                out += kMonths[c->month - 1];
                break;
            case 'z':
                out += offsetText(mZoneOffset);
                break;
            case 'Z':
                out += zoneAbbreviation();
                break;
            case '%':
                out += '%';
                break;
            default:
                out += '%';
                out += format[i];
                break;
        }
    }
    return out;
}

std::string KQUCalendarDate::shortDateTimeFormatName() const {
    auto dayAndYear = [&](KQUDate date) -> std::optional<std::pair<int64_t, int64_t>> {
        double local = date.timeIntervalSinceReferenceDate + mZoneOffset;
        auto c = KQUGregorianComponentsInGMT(KQUDate{local});
        if (!c) return std::nullopt;
        return std::pair{static_cast<int64_t>(std::floor(local / 86400)), c->year};
    };
    auto mine = dayAndYear(mDate), today = dayAndYear(nowDate());
    if (!mine || !today) return "PastYearFmt";
    const int64_t age = today->first - mine->first;
    if (age == 0) return "TodayFmt";
    if (age == 1) return "YesterdayFmt";
    if (age >= 2 && age <= 6) return "ThisWeekFmt";
    if (mine->second == today->second) return "ThisYearFmt";
    return "PastYearFmt";
}

std::u16string KQUCalendarDate::shortDateTimeFormatString() const {
    const std::string key = shortDateTimeFormatName();
    std::string value = KQULocalizedString(key, "Localizable");
    if (value == key) return {};
    return KQUU16String(icu::UnicodeString::fromUTF8(value));
}

std::optional<std::u16string> KQUCalendarDate::shortDateTimeString() const {
    return dateStringWithCFFormat(shortDateTimeFormatString(), "", KQUDateStyleMedium, KQUDateStyleMedium);
}

std::optional<std::u16string> KQUCalendarDate::dateStringWithCFFormat(std::u16string_view pattern,
                                                                      std::string_view localeIdentifier,
                                                                      int dateStyle, int timeStyle) const {
    KQULocale locale = localeIdentifier.empty() ? KQULocale::current() : KQULocale(localeIdentifier);
    if (!locale.isAvailable()) locale = KQULocale::current();
    const icu::Locale icuLocale(KQUGregorianLocaleIdentifier(locale).c_str());
    std::unique_ptr<icu::DateFormat> format;
    if (!pattern.empty()) {
        UErrorCode status = U_ZERO_ERROR;
        format = std::make_unique<icu::SimpleDateFormat>(KQUAliasICUString(pattern), icuLocale, status);
        if (U_FAILURE(status)) format.reset();
    } else {
        auto date = KQUICUDateStyle(dateStyle), time = KQUICUDateStyle(timeStyle);
        if (date == icu::DateFormat::kNone && time == icu::DateFormat::kNone) return std::u16string();
        format.reset(icu::DateFormat::createDateTimeInstance(date, time, icuLocale));
    }
    if (!format || !KQUIsFiniteDate(mDate)) return std::nullopt;
    format->adoptTimeZone(std::make_unique<icu::SimpleTimeZone>(
                              mZoneOffset * 1000, icu::UnicodeString::fromUTF8(zoneAbbreviation()))
                              .release());
    icu::UnicodeString text;
    format->format(KQUUDateFromDate(mDate), text);
    return KQUU16String(text);
}

}  // namespace kqu
