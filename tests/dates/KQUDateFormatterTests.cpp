// Showing dates, ISO 8601 / RFC 1123 against Python, ICU asked at test time for its data; "now" is
// 2024-06-15 07:00 GMT, one calendar day in every TZ the suite runs under.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>

#include "kqutility/format/KQUCalendarDate.h"
#include "kqutility/format/KQUDateFormat.h"
#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateParser.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

constexpr double kNow2024 = 1718434800;  // 2024-06-15 07:00 GMT
constexpr double kThursday = 732123000;  // 2024-03-14 15:30:00 GMT

std::string utf8(std::u16string_view text) {
    return KQUUTF8FromUTF16(text);
}
// The instant read, or -1e300 for none.
double seconds(const std::optional<KQUDate>& date) {
    return date ? date->timeIntervalSinceReferenceDate : -1e300;
}

std::string icuStylePattern(const char* locale, icu::DateFormat::EStyle date, icu::DateFormat::EStyle time) {
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(date, time, icu::Locale(locale)));
    icu::UnicodeString pattern;
    dynamic_cast<icu::SimpleDateFormat&>(*format).toPattern(pattern);
    std::string out;
    return pattern.toUTF8String(out);
}

// Instants from 1600 to 2400 against Python: ISO 8601 and RFC 1123 both ways, calendar-date readers.
TEST(KQUDateFormatter, ISO8601AndRFC1123AgreeWithPython) {
    test::TempDir dir;
    test::writeFile(dir.file("instants.py"), R"(
import random
from datetime import datetime, timedelta, timezone
from email.utils import formatdate
rng = random.Random(15)
low = datetime(1600, 1, 1, tzinfo=timezone.utc).timestamp()
high = datetime(2400, 12, 31, tzinfo=timezone.utc).timestamp()
for _ in range(300):
    t = rng.randint(int(low), int(high))
    d = datetime(1970, 1, 1, tzinfo=timezone.utc) + timedelta(seconds=t)
    print(t - 978307200, d.strftime('%Y-%m-%dT%H:%M:%S+0000'), formatdate(t, usegmt=True), sep='|')
)");
    std::string output;
    ASSERT_EQ(test::runCommand("/usr/bin/python3 " + dir.file("instants.py"), &output), 0);
    std::istringstream lines(output);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        const size_t bar1 = line.find('|'), bar2 = line.rfind('|');
        const KQUDate date{std::stod(line.substr(0, bar1))};
        const std::string iso = line.substr(bar1 + 1, bar2 - bar1 - 1), rfc = line.substr(bar2 + 1);
        SCOPED_TRACE(line);
        EXPECT_EQ(utf8(KQUDateFormatterCreateStringFromDateWithISO8601Format(date)), iso);
        EXPECT_EQ(seconds(KQUDateFormatterCreateDateFromStringWithISO8601Format(*KQUUTF16FromUTF8(iso))),
                  date.timeIntervalSinceReferenceDate);
        EXPECT_EQ(KQUCalendarDate::iso8601DateWithDate(date).description(), iso);
        EXPECT_EQ(KQUCalendarDate::rfc1123DateWithDate(date).description(), rfc);
        for (const auto& read :
             {KQUCalendarDate::rfc1123DateWithString(rfc), KQUCalendarDate::iso8601DateWithString(iso)})
            EXPECT_EQ(seconds(read ? std::optional(read->date()) : std::nullopt),
                      date.timeIntervalSinceReferenceDate);
    }
    EXPECT_EQ(count, 300);
}

// ICU's default parse is lenient and rolls "month 13, day 45" into 2025-02-14.
TEST(KQUDateFormatter, ISO8601ParseIsStrict) {
    for (auto text : {u"2024-13-45T00:00:00+0000", u"2024-02-30T00:00:00+0000", u"2024-03-14T24:00:00+0000",
                      u"2024-03-14T15:30:00+0000 ", u"2024-03-14", u""})
        EXPECT_FALSE(KQUDateFormatterCreateDateFromStringWithISO8601Format(text)) << utf8(text);
    EXPECT_EQ(seconds(KQUDateFormatterCreateDateFromStringWithISO8601Format(u"2024-03-14T17:30:00+0200")),
              kThursday);
}

// ICU shows a NaN date as year 5877521; a non-finite date shows as nothing and is no Gregorian date.
TEST(KQUDateFormatter, NonFiniteDatesShowAsNothing) {
    KQUDateFormatter formatter(KQULocale("en_US"));
    for (double value : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        KQUDate date{value};
        EXPECT_EQ(formatter.stringFromDate(date, u"y-MM-dd") + formatter.fullDateString(date) +
                      KQUDateFormatterCreateStringFromDateWithISO8601Format(date),
                  u"");
        EXPECT_EQ(KQUCalendarDate::rfc1123DateWithDate(date).description(), "");
        EXPECT_FALSE(KQUIsValidGregorianDate(date) || KQUGregorianComponentsInGMT(date));
    }
}

TEST(KQUDateFormatter, GregorianCalendarStartsOn16October1582) {
    // clang-format off
    for (auto [seconds, valid] : {std::pair{-13197513600.0, true}, {-13197513599.0, true}, {-13197513601.0, false},
                                  {-13197556800.0 /* 1582-10-15 12:00 */, false}})
        // clang-format on
        EXPECT_EQ(KQUIsValidGregorianDate(KQUDate{seconds}), valid) << seconds;
}

TEST(KQUDateFormatter, RendersInGMTWithTheLocalesNames) {
    KQUDateFormatter us(KQULocale("en_US")), de(KQULocale("de_DE"));
    EXPECT_EQ(utf8(us.stringFromDate(KQUDate{kThursday}, u"EEEE, MMMM d, y HH:mm:ss")),
              "Thursday, March 14, 2024 15:30:00");
    EXPECT_EQ(utf8(us.stringFromDate(KQUDate{-992490140}, u"y-MM-dd HH:mm:ss")), "1969-07-20 20:17:40");
    EXPECT_EQ(utf8(de.stringFromDate(KQUDate{kThursday}, u"EEEE d.M.y")), "Donnerstag 14.3.2024");
    // Styles are ICU's, none and none is nothing.
    EXPECT_EQ(utf8(KQUDateFormatterCopyFormatStringForDateAndTimeStyles(KQULocale("en_US"), 1, 0)),
              icuStylePattern("en_US", icu::DateFormat::kShort, icu::DateFormat::kNone));
    EXPECT_EQ(utf8(KQUDateFormatterCopyFormatStringForDateAndTimeStyles(KQULocale("ja_JP"), 4, 2)),
              icuStylePattern("ja_JP", icu::DateFormat::kFull, icu::DateFormat::kMedium));
    EXPECT_EQ(KQUDateFormatterCopyFormatStringForDateAndTimeStyles(KQULocale("en_US"), 0, 0), u"");
}

// Past its capacity the least recently used formatter goes (built again when asked); the latest stays.
TEST(KQUDateFormatter, RenderingCacheIsBounded) {
    KQUDateFormatter formatter(KQULocale("en_US"));
    const KQUDate date{kThursday};
    auto pattern = [](size_t i) { return u"y '" + KQUUTF16FromUTF8(std::to_string(i)).value() + u"'"; };
    const uint64_t before = KQUDateFormatter::renderFormattersBuilt();
    const size_t count = KQUDateFormatter::kRenderCacheCapacity + 10;
    for (size_t i = 0; i < count; ++i)
        EXPECT_EQ(utf8(formatter.stringFromDate(date, pattern(i))), "2024 " + std::to_string(i));
    EXPECT_EQ(KQUDateFormatter::renderFormattersBuilt() - before, count);
    (void)formatter.stringFromDate(date, pattern(count - 1));
    EXPECT_EQ(KQUDateFormatter::renderFormattersBuilt() - before, count);
    (void)formatter.stringFromDate(date, pattern(0));
    EXPECT_EQ(KQUDateFormatter::renderFormattersBuilt() - before, count + 1);
}

// The portions skip quoted text: "'at'" holds a time character but starts no time.
TEST(KQUDateFormatter, DateAndTimePortionsSkipQuotedText) {
    for (auto [pattern, date, time] :
         {std::tuple{u"EEEE, MMMM d, y 'at' h:mm:ss a zzzz", u"EEEE, MMMM d, y 'at'", u"h:mm:ss a zzzz"},
          {u"d MMM y", u"d MMM y", u""},
          {u"HH:mm", u"", u"HH:mm"},
          {u"y 'm'. MMMM d 'd'.  ", u"y 'm'. MMMM d 'd'.", u""}})
        EXPECT_EQ(std::tuple(utf8(KQUDateFormatter::datePortionOfDateTimeFormatString(pattern)),
                             utf8(KQUDateFormatter::timePortionOfDateTimeFormatString(pattern))),
                  std::tuple(utf8(date), utf8(time)));
}

TEST(KQUDateFormatter, MissingUnitsAndOrderings) {
    KQUManualWallClock clock(kNow2024);
    const KQUDate parsed{-31412370};  // 2000-01-03 10:20:30
                                      // 2024-01-03, today 10:20, 2000-01-01, unchanged.
                                      // clang-format off
    for (auto [pattern, expected] : {std::pair{u"d MMM", 725932800.0}, {u"HH:mm", 740139600.0},
                                     {u"MMM y", -31622400.0}, {u"y-MM-dd HH:mm:ss", -31412370.0}})
        // clang-format on
        EXPECT_EQ(seconds(KQUCreateDateWithGregorianUnitsSetToDefaultValue(parsed, pattern)), expected)
            << utf8(pattern);
    EXPECT_EQ(KQUDateComponentOrderingForLocale(KQULocale("en_US")), KQUDateComponentOrderingMDY);
    EXPECT_EQ(KQUDateComponentOrderingForLocale(KQULocale("de_DE")), KQUDateComponentOrderingDMY);
    EXPECT_EQ(KQUDateComponentOrderingForLocale(KQULocale("ja_JP")), KQUDateComponentOrderingYMD);
}

// Short and medium time styles replace their h/hh variants, last; date styles only when not listed.
TEST(KQUDateFormatter, SupportedFormatsOfEnglish) {
    KQUScopedLocaleOverride us("en_US");
    const KQULocale locale("en_US");
    auto info = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&locale);
    auto icu16 = [](const std::string& s) { return *KQUUTF16FromUTF8(s); };
    const auto shortTime = icu16(icuStylePattern("en_US", icu::DateFormat::kNone, icu::DateFormat::kShort));
    const auto mediumTime = icu16(icuStylePattern("en_US", icu::DateFormat::kNone, icu::DateFormat::kMedium));
    EXPECT_EQ(KQUDateFormatter::supportedTimeFormats(),
              (std::vector<std::u16string>{u"HH:mm", u"HH:mm:ss", shortTime, mediumTime}));
    auto dates = info->displayedDateFormats;
    dates.push_back(icu16(icuStylePattern("en_US", icu::DateFormat::kShort, icu::DateFormat::kNone)));
    EXPECT_EQ(KQUDateFormatter::supportedDateFormats(), dates);
}

TEST(KQUDateFormatter, LocaleChangeRebuildsSharedObjects) {
    KQUManualWallClock clock(kNow2024);
    std::u16string usDate;
    {
        KQUScopedLocaleOverride us("en_US");
        usDate = KQUDateFormatter::formatter()->dateOnlyFormatString();
        EXPECT_FALSE(KQUCreateDateFromString(u"14.03.2024", nullptr));
    }
    KQUScopedLocaleOverride de("de_DE");
    EXPECT_NE(KQUDateFormatter::formatter()->dateOnlyFormatString(), usDate);
    EXPECT_EQ(seconds(KQUCreateDateFromString(u"14.03.2024", nullptr)), 732067200);
}

TEST(KQUCalendarDate, ReadsItsFormatsStrictly) {
    const std::tuple<double, int> none{-1e300, 0}, gmt{-194195423, 0}, india{-194195423, 19800};
    // clang-format off
    const std::pair<std::string_view, std::tuple<double, int>> cases[] = {
        {"Sunday, 06-Nov-94 08:49:37 GMT", gmt}, {"Sun Nov  6 08:49:37 1994", none},  // no asctime layout
        {"sun, 06 nov 1994 08:49:37 gmt", gmt}, {"Sun, 06 Nov 1994 03:49:37 EST", gmt},
        {"1994-11-06T14:19:37+0530", india}, {"1994-11-06T14:19:37 +05:30", india}, {"1994-11-06T08:49:37", gmt},
        {"1994-11-06 08:49:37 +0000", gmt}, {"1994-02-29T08:49:37Z", none}, {"1994-11-06T08:49:60Z", none},
        {"1994-11-06T08:49:37Zjunk", none}};
    // clang-format on
    for (const auto& [text, expected] : cases) {
        auto date = KQUCalendarDate::iso8601DateWithString(text);
        EXPECT_EQ(date ? std::tuple(date->date().timeIntervalSinceReferenceDate, date->zoneOffset()) : none,
                  expected)
            << text;
    }
    auto kept = KQUCalendarDate::iso8601DateWithString("1994-11-06T14:19:37+0530");
    EXPECT_EQ(kept->description(), "1994-11-06T14:19:37+0530");
    EXPECT_EQ(kept->descriptionWithCalendarFormat("%A %e %B %y %I:%M %p %j %Z %%"),
              "Sunday  6 November 94 02:19 PM 310 GMT+0530 %");
}

TEST(KQUCalendarDate, ShortDateTimeNamesByAge) {
    KQUManualWallClock clock(kNow2024);
    // clang-format off
    for (auto [date, name] : {std::pair{740158200.0, "TodayFmt"}, {740048400.0, "YesterdayFmt"},
                              {739789200.0, "ThisWeekFmt"}, {725878800.0, "ThisYearFmt"},
                              {725706000.0, "PastYearFmt"}, {740221200.0, "ThisYearFmt"}})
        // clang-format on
        EXPECT_EQ(KQUCalendarDate::rfc1123DateWithDate(KQUDate{date}).shortDateTimeFormatName(), name)
            << date;
    KQUScopedLocaleOverride us("en_US");
    auto shortText = [](double date) {
        return utf8(*KQUCalendarDate::rfc1123DateWithDate(KQUDate{date}).shortDateTimeString());
    };
    EXPECT_EQ(std::tuple(shortText(740158200), shortText(725706000)),
              std::tuple("Today 3:30 PM", "Dec 31, 2023"));
}

TEST(KQUDateFormat, EqualityNeedsPatternAndName) {
    KQUDateFormat plain(u"d MMM y", std::nullopt), named(u"d MMM y", u"Day");
    EXPECT_TRUE(plain.isEqual(*plain.copyFormat()));
    EXPECT_FALSE(plain.isEqual(named) || named.isEqual(KQUDateFormat(u"d MMM yy", u"Day")));
    EXPECT_NE(plain.description().find("Format String: d MMM y Name: (null)"), std::string::npos);
}

}  // namespace
