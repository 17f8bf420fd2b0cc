// The number-or-date-or-duration field formatter; date texts from ICU itself, the rest by hand.
#include <cmath>
#include <limits>
#include <memory>

#include <gtest/gtest.h>
#include <unicode/datefmt.h>
#include <unicode/timezone.h>

#include "kqutility/format/KQUDuration.h"
#include "kqutility/format/KQUNumberOrDateOrDurationFormatter.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"

using namespace kqu;

namespace {

// 2024-03-14 00:00:00 GMT in seconds since 2001-01-01 GMT (8473 days later).
constexpr double kMarch14 = 8473.0 * 86400;

std::string shown(const KQUValue& value) {
    auto text = KQUNumberOrDateOrDurationFormatter().stringForObjectValue(value);
    return text ? KQUUTF8FromUTF16(*text) : std::string("(nil)");
}

KQUValue duration(double seconds) {
    return KQUValue(std::shared_ptr<const KQUObject>(KQUDuration::durationWithTimeInterval(seconds)));
}

// ICU's own rendering of a date in GMT with a short date and the given time style.
std::string icuDate(double referenceSeconds, icu::DateFormat::EStyle timeStyle) {
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, timeStyle, icu::Locale("en_US")));
    format->adoptTimeZone(icu::TimeZone::getGMT()->clone());
    icu::UnicodeString out;
    format->format((referenceSeconds + KQUUnixTimeOfReferenceDate) * 1000.0, out);
    std::string utf8;
    return out.toUTF8String(utf8);
}

TEST(NumberOrDateOrDurationFormatter, ShowsNumbersWithUpToNineDecimalsRoundedHalfUp) {
    KQUScopedLocaleOverride locale("en_US");
    // clang-format off
    const std::pair<KQUValue, std::string> cases[] = {
        {1.0 / 3, "0.333333333"}, {2.0 / 3, "0.666666667"}, {0.5, "0.5"}, {-0.0, "0"},
        {-1e-12, "0"},  // rounds to zero: no "-0"
        {0.0000000005, "0.000000001"},  // half up
        {1234567.5, "1234567.5"},  // no grouping
        {-2.25, "-2.25"}, {1e21, "1000000000000000000000"}, {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "∞"}, {KQUValue(int64_t{42}), "42"}, {KQUValue(true), "1"},
        {KQUValue("text"), "(nil)"}, {KQUValue(), "(nil)"}};
    // clang-format on
    for (const auto& [value, expected] : cases) EXPECT_EQ(shown(value), expected) << expected;

    KQUScopedLocaleOverride german("de_DE");
    EXPECT_EQ(shown(1234.5), "1234,5");
}

TEST(NumberOrDateOrDurationFormatter, ShowsDatesAsShortDateAndMediumTimeUnlessMidnight) {
    KQUScopedLocaleOverride locale("en_US");
    EXPECT_EQ(shown(KQUDate{kMarch14}), icuDate(kMarch14, icu::DateFormat::kNone));
    EXPECT_EQ(shown(KQUDate{kMarch14}), "3/14/24");
    EXPECT_EQ(shown(KQUDate{kMarch14 + 1}), icuDate(kMarch14 + 1, icu::DateFormat::kMedium));
    EXPECT_EQ(shown(KQUDate{kMarch14 + 0.5}), "3/14/24");  // only whole seconds count
    EXPECT_EQ(shown(KQUDate{kMarch14 - 1}), icuDate(kMarch14 - 1, icu::DateFormat::kMedium));
}

TEST(NumberOrDateOrDurationFormatter, ShowsDurationsInShortStyleFromDays) {
    KQUScopedLocaleOverride locale("en_US");
    // clang-format off
    for (const auto& [seconds, expected] : {std::pair{93784.0, "1d 2h 3m 4s"}, {86400.0, "1d"}, {0.0, "0d"},
                                            {-90.0, "-0d 0h 1m 30s"}, {1.5, "0d 0h 0m 1s 500ms"}})
        // clang-format on
        EXPECT_EQ(shown(duration(seconds)), expected) << seconds;
}

TEST(NumberOrDateOrDurationFormatter, ReadsDateThenNumberThenDuration) {
    KQUScopedLocaleOverride locale("en_US");
    KQUManualWallClock clock(1718452800);  // 2024-06-15 12:00:00 GMT
    const KQUNumberOrDateOrDurationFormatter formatter;
    using Kind = KQUNumberOrDateOrDurationFormatter::Kind;
    auto date = formatter.read(u"3/14/24");
    ASSERT_TRUE(date);
    EXPECT_EQ(std::tuple(date->kind, *date->value.date()), std::tuple(Kind::Date, KQUDate{kMarch14}));
    EXPECT_FALSE(date->datePattern.empty());
    auto number = formatter.read(u"1,234.5"), percentage = formatter.read(u"15%");
    ASSERT_TRUE(number && percentage);
    EXPECT_EQ(std::tuple(number->kind, *number->value.real()), std::tuple(Kind::Number, 1234.5));
    EXPECT_EQ(std::tuple(percentage->numberValueType, *percentage->value.real()), std::tuple(2, 0.15));
    auto typed = formatter.read(u"2 hrs 5 min");
    ASSERT_TRUE(typed);
    EXPECT_EQ(std::tuple(typed->kind, typed->value.object<KQUDuration>()->timeInterval(),
                         typed->durationUnits, typed->durationStyle),
              std::tuple(Kind::Duration, 7500.0, KQUDurationUnitHour | KQUDurationUnitMinute,
                         KQUDurationStyleShort));

    KQUValue value = 99.0;
    std::string error;
    EXPECT_FALSE(formatter.getObjectValue(&value, u"twelve apples", &error));
    EXPECT_EQ(error, "Failed to parse a number, date, or duration!");
    EXPECT_EQ(*value.real(), 99.0);
    EXPECT_TRUE(formatter.getObjectValue(nullptr, u"-3 days", nullptr));
    ASSERT_TRUE(formatter.getObjectValue(&value, u"-3 days", &error));
    EXPECT_EQ(value.object<KQUDuration>()->timeInterval(), -259200);
}

}  // namespace
