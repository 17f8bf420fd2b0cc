// Calendar arithmetic and the calendar-date writer against Python, the two-digit-year window, lists.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include <fmt/format.h>

#include "kqutility/format/KQUCalendarDate.h"
#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateParser.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

constexpr double kNow2024 = 1718434800;  // 2024-06-15 07:00 GMT

// Random instants of years 1-9999 broken down and written with every %-code against Python; texts read back.
TEST(KQUDateArithmetic, ComponentsAndCalendarFormatsAgreeWithPython) {
    test::TempDir dir;
    test::writeFile(dir.file("instants.py"), R"(
import random, locale
from datetime import datetime, timedelta
locale.setlocale(locale.LC_ALL, 'C')
rng = random.Random(61)
ref = datetime(2001, 1, 1)
instants = [datetime(1, 1, 1), datetime(9999, 12, 31, 23, 59, 59), datetime(2000, 2, 29, 12),
            datetime(1900, 3, 1), datetime(1969, 12, 31, 23, 59, 59)]
instants += [datetime(1, 1, 1) + timedelta(seconds=rng.randrange(315537897600)) for _ in range(200)]
for d in instants:
    t = (d - ref).total_seconds() + rng.choice([0, 0.25, 0.75])
    print(repr(t), d.year, d.month, d.day, d.hour, d.minute, d.isoweekday() % 7 + 1, end=';')
    print(d.strftime('%a|%A|%b|%B|%d|%e|%H|%I|%j|%m|%M|%p|%S|%y|') + '%04d' % d.year)
)");
    std::string output;
    ASSERT_EQ(test::runCommand("/usr/bin/python3 " + dir.file("instants.py"), &output), 0);
    std::istringstream lines(output);
    int count = 0;
    const std::string format = "%a|%A|%b|%B|%d|%e|%H|%I|%j|%m|%M|%p|%S|%y|%Y";
    for (std::string line; std::getline(lines, line); ++count) {
        SCOPED_TRACE(line);
        const size_t space = line.find(' '), semicolon = line.find(';');
        const KQUDate date{std::stod(line.substr(0, space))};
        auto c = KQUGregorianComponentsInGMT(date);
        ASSERT_TRUE(c);
        EXPECT_EQ(fmt::format("{} {} {} {} {} {}", c->year, c->month, c->day, c->hour, c->minute, c->weekday),
                  line.substr(space + 1, semicolon - space - 1));
        EXPECT_EQ(KQUDateFromGregorianComponentsInGMT(*c).timeIntervalSinceReferenceDate,
                  date.timeIntervalSinceReferenceDate);
        const std::string written = line.substr(semicolon + 1);
        EXPECT_EQ(KQUCalendarDate(date, format).description(), written);
        auto read = KQUCalendarDate::dateWithString(written, format);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->date().timeIntervalSinceReferenceDate,
                  std::floor(date.timeIntervalSinceReferenceDate));
    }
    EXPECT_EQ(count, 205);
    // Out-of-range fields carry over as they do in mktime.
    EXPECT_EQ(KQUDateFromGregorianComponentsInGMT({2023, 13, 1, 0, 0, 0, 1}).timeIntervalSinceReferenceDate,
              725760000);  // 2024-01-01
    EXPECT_EQ(KQUDateFromGregorianComponentsInGMT({2024, 3, 0, 24, 0, 0, 1}).timeIntervalSinceReferenceDate,
              730944000);  // 2024-03-01
}

// Two-digit years fall in the 100 years from the injected now less 80 years, to the day.
TEST(KQUDateArithmetic, TwoDigitYearWindowFollowsTheClock) {
    KQUManualWallClock clock(kNow2024);
    KQULocale us("en_US");
    struct Case {
        std::u16string_view text;
        double expected;
    } cases[] = {{u"6/14/44", 1371168000},    // 2044-06-14: a day before the window opens
                 {u"6/15/44", -1784505600},   // 1944-06-15
                 {u"6/16/44", -1784419200}};  // 1944-06-16
    for (const auto& c : cases)
        EXPECT_EQ(KQUCreateDateFromString(c.text, &us).value_or(KQUDate{NAN}).timeIntervalSinceReferenceDate,
                  c.expected)
            << KQUUTF8FromUTF16(c.text);
    clock.setSeconds(kNow2024 + 366 * 86400.0);  // a year on, 6/15/44 falls out of the window
    EXPECT_EQ(KQUCreateDateFromString(u"6/15/44", &us)->timeIntervalSinceReferenceDate, 1371254400);
}

// A locale without lists of its own borrows its parent's, then the fallback of its order.
TEST(KQUDateArithmetic, ListsComeFromTheLocaleItsParentOrTheFallback) {
    KQULocale variant("de_AT_XYZ"), parent("de_AT"), unknown("xx");
    auto own = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&parent);
    auto fallback = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&unknown);
    ASSERT_TRUE(own && fallback);
    EXPECT_EQ(KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&variant), own);
    const auto ordering = KQUDateComponentOrderingForLocale(unknown);
    const char* firstPattern[] = {"d/M/y", "d/y/M", "M/d/y", "M/y/d", "y/d/M", "y-M-d"};
    EXPECT_EQ(KQUUTF8FromUTF16(fallback->acceptedDateFormats.front()), firstPattern[ordering]);
    EXPECT_NE(fallback, own);
}

}  // namespace
