// Durations: rendering, patterns from units, units a value needs, typed durations (answers by hand).
#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kqutility/format/KQUDateFormat.h"
#include "kqutility/format/KQUDuration.h"
#include "kqutility/format/KQUDurationFormatter.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

constexpr KQUDurationUnits W = KQUDurationUnitWeek, D = KQUDurationUnitDay, H = KQUDurationUnitHour,
                           M = KQUDurationUnitMinute, S = KQUDurationUnitSecond,
                           F = KQUDurationUnitMillisecond;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string render(double t, std::u16string_view pattern) {
    return KQUUTF8FromUTF16(KQUDurationFormatterStringFromTimeIntervalWithFormat(t, pattern));
}

class DurationTest : public ::testing::Test {
protected:
    KQUScopedLocaleOverride mLocale{"en_US"};
};

using RenderCase = std::tuple<double, std::u16string, std::string>;  // interval, pattern, text

TEST_F(DurationTest, RendersThroughPatterns) {
    // clang-format off
    const RenderCase cases[] = {
        {3725, u"h:mm:ss", "1:02:05"}, {3725, u"hhhh mmmm", "1 hour 2 minutes"},  // 5 s round to 0 min
        {59.6, u"m:ss", "1:00"},  // 60 s carry into the minute
        {90000, u"dddd", "1 day"}, {90000, u"hhh", "25h"}, {-90, u"m:ss", "-1:30"},
        {93784, u"ddd hhh mmm sss", "1d 2h 3m 4s"}, {691200, u"wwww dddd", "1 week 1 day"},
        {1209600, u"wwww", "2 weeks"}, {3723.5, u"h:mm:ss.f", "1:02:03.500"}, {1.005, u"s.f", "1.005"},
        {0.0004, u"ffff", "0 milliseconds"}, {59.9996, u"m:ss.f", "1:00.000"},  // 1000 ms carry twice
        {150, u"'took' m 'min'", "took 3 min"},  // 2.5 min rounds half up
        {90, u"m''ss", "1'30"}, {90, u"'it''s' m", "it's 2"}, {3599, u"h:mm", "1:00"}, {119, u"m", "2"},
        {1, u"ssss", "1 second"}, {2, u"ssss", "2 seconds"}};
    // clang-format on
    for (const auto& [t, pattern, expected] : cases)
        EXPECT_EQ(render(t, pattern), expected) << KQUUTF8FromUTF16(pattern) << " " << t;
}

// With a unit skipped between two shown ones, the smaller shown unit keeps the skipped
// unit's share and carries at the true ratio (60 min an hour for "h:ss" is 3600 s).
TEST_F(DurationTest, SkippedUnitCarriesAtTheTrueRatio) {
    const RenderCase cases[] = {
        {3599, u"h:ss", "0:3599"}, {3599.6, u"h:ss", "1:00"},     {3600, u"h:ss", "1:00"},
        {7261, u"h:ss", "2:61"},   {86369, u"d:mm", "0:1439"},    {90, u"m:f", "1:30000"},
        {604799, u"w:hh", "1:00"}, {604799, u"w:ss", "0:604799"}, {86400 * 6 + 3600 * 23, u"w:h", "0:167"}};
    for (const auto& [t, pattern, expected] : cases)
        EXPECT_EQ(render(t, pattern), expected) << KQUUTF8FromUTF16(pattern) << " " << t;
}

// NaN and the infinities are never converted to integers; each field shows the number renderer's text.
TEST_F(DurationTest, NonFiniteIntervalsRenderAsTheNumberRendererWritesThem) {
    EXPECT_EQ((std::vector{render(kNaN, u"h:mm:ss"), render(kInf, u"h:mm"), render(-kInf, u"dddd"),
                           render(kNaN, u"sss")}),
              (std::vector<std::string>{"NaN:NaN:NaN", "∞:∞", "-∞ days", "NaNs"}));
    // clang-format off
    for (auto [t, hash] : {std::pair{kNaN, 0u}, {7.9, 7u}, {-5.0, 0u}, {1e10, 4294967295u}, {kInf, 4294967295u},
                           {-kInf, 0u}, {4294967295.5, 4294967295u}})
        // clang-format on
        EXPECT_EQ(KQUDuration(t).hash(), hash) << t;
    EXPECT_TRUE(!KQUDuration(kNaN).isEqual(KQUDuration(kNaN)) && KQUDuration(-0.0).isEqual(KQUDuration(0.0)));
}

TEST_F(DurationTest, PatternWithoutPlaceholdersIsReported) {
    EXPECT_THROW(render(5, u"'just text'"), KQUException);
    test::ContinueAfterAssertions continueAfter;
    EXPECT_EQ(render(5, u"'just text'"), "just text");
    // More than six fields are reported and still rendered.
    EXPECT_EQ(render(61, u"m s m s m s m"), "1 1 1 1 1 1 1");
}

TEST_F(DurationTest, FormatInfoReadsUnitsAndStyleOfTheLastField) {
    const std::tuple<std::u16string, KQUDurationUnits, int> cases[] = {
        {u"h:mm:ss", H | M | S, 0}, {u"m", M, 0},          {u"ddd hhh", D | H, 1}, {u"hhhh mmmm", H | M, 2},
        {u"wwwwww", W, 2},          {u"hhhh m", H | M, 0}, {u"'days' hh", H, 0},   {u"'it''s' sss", S, 1},
        {u"plain text", 0, 0},      {u"s.f", S | F, 0},    {u"fff 'mmmm'", F, 1},  {u"", 0, 0},
    };
    for (const auto& [pattern, expectedUnits, expectedStyle] : cases) {
        KQUDurationUnits units = 99;
        int style = 99;
        KQUDurationFormatterGetFormatInfo(pattern, &units, &style);
        EXPECT_EQ(std::tuple(units, style), std::tuple(expectedUnits, expectedStyle))
            << KQUUTF8FromUTF16(pattern);
    }
}

TEST_F(DurationTest, BuildsPatternsFromUnits) {
    // clang-format off
    const std::tuple<KQUDurationUnits, int, bool, std::u16string> cases[] = {
        {H | M | S, 0, false, u"h:mm:ss"}, {D | S, 1, false, u"ddd hhh mmm sss"}, {D | H, 2, false, u"dddd hhhh"},
        {D | H, 2, true, u"dddd hhhh mmmm ssss"}, {W, 2, true, u"wwww dddd hhhh mmmm ssss"},
        {H | F, 0, false, u"h:mm:ss.f"}, {W | F, 1, false, u"www ddd hhh mmm sss fff"}, {F, 1, true, u"fff"},
        {S, 0, false, u"s"}, {M | S, 0, false, u"mm:ss"}, {D, 0, false, u"d:h:mm:ss"},
        // Compact style always fills down to seconds, and then pads minutes and seconds:
        // one unit asked for still shows as a clock ("h:mm:ss", not "h:m:s").
        {H, 0, false, u"h:mm:ss"}, {M, 0, false, u"mm:ss"}};
    // clang-format on
    for (const auto& [units, style, fill, expected] : cases)
        EXPECT_EQ(KQUUTF8FromUTF16(KQUDurationFormatterFormatFromDurationUnits(units, style, fill)),
                  KQUUTF8FromUTF16(expected))
            << units << " style " << style << " fill " << fill;
}

TEST_F(DurationTest, NoUnitsBuildTheEmptyPattern) {
    EXPECT_THROW((void)KQUDurationFormatterFormatFromDurationUnits(0, 1, false), KQUException);
    test::ContinueAfterAssertions continueAfter;
    EXPECT_EQ(KQUDurationFormatterFormatFromDurationUnits(0, 0, true) +
                  KQUDurationFormatterFormatFromDurationUnits(64, 2, false),  // no known unit bit
              u"");
}

TEST_F(DurationTest, UnitsNecessaryToShowAValueFully) {
    // clang-format off
    const std::tuple<double, KQUDurationUnits, KQUDurationUnits> cases[] = {
        {90061, D, D | H | M | S}, {86400, D, D}, {90000, D, D | H}, {0, D, D}, {1.5, M, M | S | F}, {60, S, S},
        {-3600, H, H}, {kNaN, D, D}, {kInf, H, H}, {604800 * 3 + 1, W, W | D | H | M | S}};
    // clang-format on
    for (const auto& [t, from, expected] : cases)
        EXPECT_EQ(KQUDurationFormatterDurationUnitsNecessaryToFullyDisplayDuration(t, from), expected) << t;
    EXPECT_THROW((void)KQUDurationFormatterDurationUnitsNecessaryToFullyDisplayDuration(5, D | H),
                 KQUException);
}

TEST_F(DurationTest, UnitNamesAndWords) {
    const std::tuple<std::u16string, KQUDurationUnits, int> words[] = {
        {u"Hours", H, 2}, {u"HRS", H, 1}, {u"m", M, 1},        {u"MIN", M, 1},
        {u"ms", F, 1},    {u"Day", D, 2}, {u"furlong", 0, -1}, {u"hourss", 0, -1}};
    for (const auto& [word, expectedUnit, expectedStyle] : words) {
        int style = -1;
        const KQUDurationUnits unit = KQUDurationFormatterDurationUnitFromString(word, &style);
        EXPECT_EQ(std::tuple(unit, style), std::tuple(expectedUnit, expectedStyle)) << KQUUTF8FromUTF16(word);
    }
    EXPECT_EQ(
        std::tuple(KQTDurationFormatterUnitString(1, H, 2), KQTDurationFormatterUnitString(1.0000001, H, 2),
                   KQTDurationFormatterUnitString(1, M, 0)),
        std::tuple(u"hour", u"hours", u""));
}

TEST_F(DurationTest, ReadsTypedDurations) {
    // clang-format off
    const std::tuple<std::u16string, KQUDurationUnits, double, KQUDurationUnits, int> cases[] = {
        {u"1:30", 0, 90, M | S, 0}, {u"1:30", H, 5400, H | M, 0}, {u"1:30", M, 90, M | S, 0},
        {u"1:30", S, 90, M | S, 0},  // two numbers do not fit from seconds
        {u"1:30.5", H, 5400.5, H | M | F, 0}, {u"1:02:03.5", 0, 3723.5, H | M | S | F, 0},
        {u"1:02.05", 0, 62.05, M | S | F, 0}, {u"1:2:3:4:5", 0, 788645, W | D | H | M | S, 0},
        {u"-1:30", 0, -90, M | S, 0}, {u" 1 : 30 ", 0, 90, M | S, 0}, {u"2 hrs 5 min", 0, 7500, H | M, 1},
        {u"-3 days", 0, -259200, D, 2}, {u"  2 Hours 30 MINUTES\n", 0, 9000, H | M, 2},
        {u"1 week 2 wk", 0, 1209600, W, 2},  // a repeated unit keeps its last number
        {u"1.5 hours", 0, 5400, H, 2}, {u"5 ms", 0, 0.005, F, 1}, {u"3 milliseconds 2 s", 0, 2.003, S | F, 2},
        {u"1,000 sec", 0, 1000, S, 1}, {u"１:３０", 0, 90, M | S, 0}};  // full-width digits are digits
    // clang-format on
    for (const auto& [text, startUnit, expectedInterval, expectedUnits, expectedStyle] : cases) {
        double interval = -1;
        KQUDurationUnits units = 999;
        int style = -1;
        ASSERT_TRUE(KQUDurationFormatterTimeIntervalFromStringWithCompactStyleStartUnit(
            text, &interval, &units, &style, startUnit))
            << KQUUTF8FromUTF16(text);
        EXPECT_NEAR(interval, expectedInterval, 1e-9) << KQUUTF8FromUTF16(text);
        EXPECT_EQ(std::tuple(units, style), std::tuple(expectedUnits, expectedStyle))
            << KQUUTF8FromUTF16(text);
    }
}

// A compact fraction is its digits over 10^digits seconds, however many digits it has.
TEST_F(DurationTest, CompactFractionOfFourOrMoreDigitsIsDigitsOverPowerOfTen) {
    // clang-format off
    for (const auto& [text, seconds] : {std::pair{u"1:02.1234", 62.1234}, {u"1:02.5", 62.5}, {u"1:02.05", 62.05},
                                        {u"1:02.005", 62.005}, {u"0:00.000001", 0.000001},
                                        {u"0:01.99999", 1.99999}}) {
        // clang-format on
        double interval = 0;
        ASSERT_TRUE(KQUDurationFormatterTimeIntervalFromString(text, &interval, nullptr, nullptr));
        EXPECT_DOUBLE_EQ(interval, seconds) << KQUUTF8FromUTF16(text);
    }
}

TEST_F(DurationTest, RefusesWhatIsNoDuration) {
    // A fractional number with a colon, two numbers in a row, a word first, words among
    // compact numbers, six compact numbers, a dot without a colon, a misplaced minus.
    // clang-format off
    const std::u16string texts[] = {u"1.5:30", u"5 5", u"hours 5", u"", u"   ", u"1:", u":5", u"5 furlongs",
        u"1:30 min", u"5 min 1:30", u"1:2:3:4:5:6", u"1.5", u"1:30.", u"2:30.5.5", u"1.5.5 hours", u"- 5", u"-",
        u"5 hours -3 min", u"--5 s", u"-s", u"5 hours 3", u"5 hours minutes", u"5+3", u"2.5:1.5"};
    // clang-format on
    for (const auto& text : texts) {
        double interval = 12345;
        KQUDurationUnits units = 777;
        int style = 77;
        EXPECT_FALSE(KQUDurationFormatterTimeIntervalFromString(text, &interval, &units, &style))
            << KQUUTF8FromUTF16(text);
        EXPECT_EQ(std::tuple(interval, units, style), std::tuple(12345.0, 777u, 77))  // nothing written
            << KQUUTF8FromUTF16(text);
    }
}

TEST_F(DurationTest, NumberSeparatorsFollowTheCurrentLocale) {
    auto read = [](std::u16string_view text) {
        double interval = 0;
        return KQUDurationFormatterTimeIntervalFromString(text, &interval, nullptr, nullptr) ? interval : -1;
    };
    {
        KQUScopedLocaleOverride french("fr_FR");
        EXPECT_EQ(read(u"1,5 hours"), 5400);
        EXPECT_EQ(read(u".5 hours"), -1);
    }
    EXPECT_EQ(read(u".5 hours"), 1800);
    KQUScopedLocaleOverride german("de_DE");
    EXPECT_EQ(read(u"1.000,5 s"), 1000.5);
}

TEST(DurationFormat, EqualityAndDescription) {
    KQUDurationFormat a(u"h:mm", std::nullopt), named(u"h:mm", u"Clock");
    EXPECT_TRUE(a.isEqual(KQUDurationFormat(u"h:mm", std::nullopt)));
    EXPECT_FALSE(a.isEqual(named) ||
                 a.isEqual(KQUDateFormat(u"h:mm", std::nullopt)));  // another kind of format
    EXPECT_THAT(
        a.description(),
        ::testing::MatchesRegex("KQTDurationFormat\\[0x[0-9a-f]+\\]: Format String: h:mm Name: \\(null\\)"));
}

}  // namespace
