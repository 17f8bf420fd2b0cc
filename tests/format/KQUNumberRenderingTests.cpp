// Number rendering; rounding, fractions and base N answers come from make_rendering_answers.py.
#include <array>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "kqutility/format/KQUCustomNumberFormatTokens.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/format/KQUNumberRendering.h"
#include "kqutility/foundation/KQUDecimalFormatCache.h"
#include "kqutility/foundation/KQULocale.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class KQUNumberRenderingTest : public ::testing::Test {
protected:
    KQUScopedLocaleOverride mLocale{"en_US"};
};

std::u16string render(const KQUNumberFormatSettings& settings, double value) {
    return KQUNumberFormat::create(settings)->stringFromDouble(value);
}

std::u16string custom(KQUNumberFormatSettings settings, double value) {
    return KQUNumberFormat::createCustom(std::move(settings))->stringFromDouble(value);
}

TEST_F(KQUNumberRenderingTest, DecimalsRoundTheShortestDecimalHalfUp) {
    using Case = std::tuple<double, uint16_t, std::u16string>;  // value, places, expected
    // clang-format off
    const Case decimals[] = {
        {2.675, 2, u"2.68"}, {1.005, 2, u"1.01"}, {1234567.891, 2, u"1,234,567.89"}, {2.5, 0, u"3"}, {-2.5, 0, u"-3"},
        {0.30000000000000004, 17, u"0.30000000000000004"}, {9007199254740992.0, 0, u"9,007,199,254,740,992"},
        {-0.001, 2, u"-0.00"}, {999.9995, 3, u"1,000.000"},
        // An exact -0 is normalised; the non-finite values have fixed texts.
        {-0.0, 2, u"0.00"}, {kNaN, 2, u"NaN"}, {kInf, 2, u"∞"}, {-kInf, 2, u"-∞"}};
    // clang-format on
    for (const auto& [value, places, expected] : decimals)
        EXPECT_EQ(render({.decimalPlaces = places}, value), expected) << value;
    const Case percentages[] = {
        {0.123456, 2, u"12.35%"}, {0.001235, 3, u"0.124%"}, {-0.5, 0, u"-50%"}, {1.005, 0, u"101%"}};
    for (const auto& [value, places, expected] : percentages)
        EXPECT_EQ(render({.valueType = 2, .decimalPlaces = places}, value), expected) << value;
    EXPECT_EQ(KQUNumberFormatterStringFromDoubleWithFormat(2.675, 0, u"0.00", false, 0, 0, false, {}, false),
              u"2.68");
    EXPECT_EQ(render({.decimalPlaces = kKQUNumberFormatterDecimalPlacesAsManyAsNecessary}, 0.1 + 0.2),
              u"0.30000000000000004");
}

TEST_F(KQUNumberRenderingTest, CurrenciesTakeTheirPlacesAndAccountingKeepsItsTab) {
    using Case = std::tuple<std::string, double, std::u16string>;
    for (const auto& [code, value, expected] :
         {Case{"USD", 1234.565, u"$1,234.57"}, Case{"JPY", 1234.5, u"¥1,235"},
          Case{"CHF", 1234.575, u"CHF\u00A01,234.58"}, Case{"USD", -0.005, u"-$0.01"}}) {
        const uint16_t places = KQUNumberFormatter::defaultDecimalPlacesForCurrencyCode(code);
        EXPECT_EQ(render({.valueType = 1, .decimalPlaces = places, .currencyCode = code}, value), expected)
            << code;
    }
    EXPECT_EQ(render({.valueType = 1, .useAccountingStyle = true}, -5), u"$\t(5.00)");
    EXPECT_EQ(render({.valueType = 1, .negativeStyle = 1}, -5), u"$5.00");
    EXPECT_EQ(render({.valueType = 1, .negativeStyle = 2}, -5), u"($5.00)");
}

TEST_F(KQUNumberRenderingTest, FractionsMatchTheBruteForceSearch) {
    // Accuracies -1, -2, -3, 4, 16, and 0 (acts as -1).
    const std::pair<double, std::array<std::u16string, 6>> cases[] = {
        {0.333, {u"1/3", u"1/3", u"332/997", u"1/4", u"5/16", u"1/3"}},
        {2.999, {u"3", u"3", u"2 998/999", u"3", u"3", u"3"}},
        {-0.5, {u"-1/2", u"-1/2", u"-1/2", u"-2/4", u"-8/16", u"-1/2"}},
        {-1.5, {u"-1 1/2", u"-1 1/2", u"-1 1/2", u"-1 2/4", u"-1 8/16", u"-1 1/2"}},
        {0, {u"0", u"0", u"0", u"0", u"0", u"0"}},
        {0.3, {u"2/7", u"3/10", u"3/10", u"1/4", u"5/16", u"2/7"}},
        {3.14159, {u"3 1/7", u"3 14/99", u"3 16/113", u"3 1/4", u"3 2/16", u"3 1/7"}},
        {-7.0625, {u"-7 1/9", u"-7 1/16", u"-7 1/16", u"-7", u"-7 1/16", u"-7 1/9"}},
    };
    const int accuracies[] = {-1, -2, -3, 4, 16, 0};
    for (const auto& [value, expected] : cases)
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(render({.valueType = 4, .fractionAccuracy = accuracies[i]}, value), expected[i])
                << value << " accuracy " << accuracies[i];
    // Mended fault: non-finite values left numerator and denominator unset; they take
    // the general rendering. Accuracies below -3 act as -1.
    EXPECT_EQ(render({.valueType = 4}, kNaN), u"NaN");
    EXPECT_EQ(render({.valueType = 4}, -kInf), u"-∞");
    EXPECT_EQ(render({.valueType = 4, .fractionAccuracy = -9}, 0.333), u"1/3");
}

TEST_F(KQUNumberRenderingTest, BaseNMatchesPythonsIntegerTexts) {
    using Case = std::tuple<double, uint16_t, uint16_t, bool, std::u16string>;  // value, radix, places, minus
    // clang-format off
    const Case cases[] = {
        {255, 16, 0, true, u"FF"}, {-255, 16, 0, true, u"-FF"}, {-255, 16, 0, false, u"FFFFFF01"},
        {-1, 16, 10, false, u"FFFFFFFFFF"}, {2147483648.0, 16, 0, false, u"080000000"}, {5, 2, 8, true, u"00000101"},
        {0, 26, 0, true, u"A"}, {123456789, 36, 0, true, u"21I3V9"}, {3, 1, 0, true, u"111"},
        {-2.5, 10, 3, true, u"-002"},  // llrint rounds half to even
        {-1, 16, 16, false, u"-1"}};   // the two's-complement modulus would pass 1e15: the decimal fallback
    // clang-format on
    for (const auto& [value, base, places, minus, expected] : cases)
        EXPECT_EQ(
            render({.valueType = 5, .base = base, .basePlaces = places, .baseUseMinusSign = minus}, value),
            expected)
            << value << " radix " << base;
}

// Mended faults: illegal radices (0 divided by zero, >36 read past "Z", 1 wrote a "1" per unit) and
// ±2^63 and NaN (reached llrint) now fall back to the decimal rendering.
TEST_F(KQUNumberRenderingTest, BaseOutOfRangeFallsBackToDecimal) {
    EXPECT_THROW(render({.valueType = 5, .base = 0}, 1), std::exception);  // the report itself
    test::ContinueAfterAssertions continueAfterAssertions;
    using Case = std::tuple<double, uint16_t, std::u16string>;
    for (const auto& [value, base, expected] :
         {Case{255, 0, u"255"}, Case{255, 37, u"255"}, Case{2000, 1, u"2,000"},
          Case{1024, 1, std::u16string(1024, u'1')}, Case{9223372036854775808.0, 16, u"9.22337E18"},
          Case{-9223372036854775808.0, 16, u"-9.22337E18"}, Case{kNaN, 16, u"NaN"}})
        EXPECT_EQ(render({.valueType = 5, .base = base}, value), expected) << value << " radix " << base;
}

TEST_F(KQUNumberRenderingTest, ScientificSwitchAndItsMinusSign) {
    auto format = KQUNumberFormat::create({});
    format->setUseScientificFormattingAutomatically(true);
    // clang-format off
    for (const auto& [value, expected] : {std::pair{999999999999.0, u"999,999,999,999.00"}, {999999999999.5, u"1E12"},
                                          {1e-7, u"0.00"}, {9.9e-8, u"9.9E-8"}, {1e13, u"1E13"}, {0.0, u"0.00"}})
        // clang-format on
        EXPECT_EQ(format->stringFromDouble(value), expected) << value;
    // Mended fault: the switch dropped the suppression of red-only formats.
    auto red = KQUNumberFormat::create({.negativeStyle = 1});
    red->setUseScientificFormattingAutomatically(true);
    EXPECT_EQ(red->stringFromDouble(-1e13), u"1E13");
    EXPECT_EQ(red->stringFromDouble(-5), u"5.00");
    auto zero = KQUNumberFormat::create({});
    zero->setIgnoreDecimalPlacesForZeroValue(true);
    EXPECT_EQ(zero->stringFromDouble(-0.0), u"0");
}

TEST_F(KQUNumberRenderingTest, CustomLayoutsWorkedOutByHand) {
    const std::u16string fraction(1, KQUCustomNumberFormatFractionReplacementCharacter);
    // Integer digits padded with spaces down to one kept digit: "??0" and the like.
    auto padded = [](std::u16string pattern, uint8_t width) {
        return KQUNumberFormatSettings{.formatString = pattern,
                                       .minimumIntegerWidth = width,
                                       .numberOfNonSpaceIntegerPlaceholderDigits = 1};
    };
    // clang-format off
    const std::tuple<KQUNumberFormatSettings, double, std::u16string> cases[] = {
        // Optional decimals padded with spaces: "0.0??".
        {{.formatString = u"0.000", .decimalWidth = 3, .numberOfNonSpaceDecimalPlaceholderDigits = 1}, 1.5, u"1.5  "},
        // Mended fault: 9.6 rounds to "10"; counting digits of the unrounded value blanked the "1".
        {padded(u"00", 2), 9.6, u"10"}, {padded(u"00", 2), 7, u" 7"},
        {padded(u"000.0%", 3), 0.05, u"  5.0%"},  // "%" in the pattern: the digits of 5, not of 0.05
        // Interstitial texts, one past the last digit.
        {{.formatString = u"0000000", .interstitialStrings = {u"-", u"("},
          .interstitialStringInsertionIndexes = {4, 9}}, 5551234, u"(555-1234"},
        {{.formatString = u"0.00", .interstitialStrings = {u"|"}, .interstitialStringInsertionIndexes = {0}},
         -12.5, u"-12|.50"},
        // A whole number and a fraction; mended fault: the whole part of -0.5 lost its sign.
        {{.formatString = u"0 " + fraction}, 1.5, u"1 1/2"}, {{.formatString = u"0 " + fraction}, -0.5, u"-0 1/2"},
        {{.formatString = u"¤" + fraction, .currencyCode = "USD"}, 0.5, u"$1/2"},
        {{.formatString = u"'n/a'"}, 5, u"n/a"}};  // pure literal text shows no value
    // clang-format on
    for (const auto& [settings, value, expected] : cases)
        EXPECT_EQ(custom(settings, value), expected) << value;
    {  // Secondary grouping: the separator between blanked zeros and kept digits goes too.
        KQUScopedLocaleOverride india("en_IN");
        EXPECT_EQ(custom(padded(u"00,00,000", 7), 12345), u"   12,345");
    }
    KQUScopedLocaleOverride egypt("ar_EG");  // Arabic-Indic digits are digits
    EXPECT_EQ(custom(padded(u"000", 3), 7), u"  \u0667");
}

// Mended fault: non-finite values and layout facts disagreeing with the pattern indexed past the text.
TEST_F(KQUNumberRenderingTest, PaddingStaysInsideTheText) {
    // clang-format off
    const KQUNumberFormatSettings settings{.formatString = u"0.0", .interstitialStrings = {u"x"},
        .interstitialStringInsertionIndexes = {3}, .indexFromRightOfLastDigitPlaceholder = 40,
        .minimumIntegerWidth = 30, .decimalWidth = 20};
    // clang-format on
    for (double value : {kNaN, kInf, -kInf})
        EXPECT_EQ(custom(settings, value).find(u'x'), std::u16string::npos);
    EXPECT_EQ(custom(settings, kNaN), u"NaN");
    EXPECT_EQ(custom(settings, 1234.5), u"1x234.5");
    EXPECT_EQ(custom(settings, 0.0), u"x . ");  // a text past the digits stands in front
}

// Mended faults: a refused pattern, no currency or an unchanged pattern kept the previous call's state.
TEST_F(KQUNumberRenderingTest, ResultsDependOnlyOnTheArguments) {
    auto run = [](std::u16string_view pattern, bool apply, std::optional<std::string_view> code) {
        return KQUNumberFormatterStringFromDoubleWithFormat(1234.5678, 0, pattern, apply, 1, 1, true, code,
                                                            false);
    };
    const std::u16string expected[] = {u"1234.6", u"1234.568", u"€1234.57", u"$1234.57",
                                       u"1,234.568"};  // the last: the locale's decimal pattern
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(run(u"0.00", true, {}), expected[0]);
        EXPECT_EQ(run(u"0.###", false, {}), expected[1]);
        EXPECT_EQ(run(u"¤0.00", false, "EUR"), expected[2]);
        EXPECT_EQ(run(u"¤0.00", false, {}), expected[3]);
        EXPECT_EQ(run(u"'unterminated", false, {}), expected[4]);
    }
    // One formatter per distinct configuration.
    const uint64_t built = KQUDecimalFormatCache::formattersBuilt();
    for (int i = 0; i < 100; ++i) run(i % 2 ? u"0.00" : u"0.###", i % 3 == 0, "EUR");
    EXPECT_LE(KQUDecimalFormatCache::formattersBuilt() - built, 4u);
}

TEST_F(KQUNumberRenderingTest, ChartLabelsTextFormatsAndPlaceCounts) {
    const auto necessary = kKQUNumberFormatterDecimalPlacesAsManyAsNecessary;
    EXPECT_EQ(KQUNumberFormat::create({.decimalPlaces = necessary, .suffixString = u" kg"})
                  ->chartLabelStringFromDouble(3.14159),
              u"3.142 kg");
    EXPECT_EQ(
        KQUNumberFormat::create({.valueType = 2, .suffixString = u" kg"})->chartLabelStringFromDouble(0.5),
        u"50.00%");
    const std::u16string slot(1, KQUCustomNumberFormatTextReplacementCharacter);
    auto text = KQUNumberFormat::createCustom({.formatString = u"<" + slot + u">", .isTextFormat = true});
    EXPECT_EQ(text->stringFromString(u"abc"), u"<abc>");
    EXPECT_EQ(text->stringFromDouble(1234.5), u"1,234.50");
    EXPECT_THROW(KQUNumberFormat::create({})->stringFromString(u"abc"), std::exception);
    EXPECT_EQ(KQUNumberFormat::create({.decimalPlaces = kKQUNumberFormatInvalidDecimalPlaces})
                  ->stringFromDouble(2.125),
              u"2.125");

    for (auto [value, inValue, fullPrecision] :
         {std::tuple{3.0, 0u, 0u}, {1234.5, 1u, 4u}, {1e-20, 20u, 0u}, {0.1 + 0.2, 17u, 16u}}) {
        EXPECT_EQ(KQUNumberOfDecimalPlacesInValue(value), inValue) << value;
        EXPECT_EQ(KQUNumberOfDecimalPlacesNecessaryToDisplayFullPrecisionInScientificNotation(value),
                  fullPrecision);
    }
    EXPECT_EQ(std::tuple(KQUNumberOfTrailingZerosInMantissaWhenFormattedAsScientific(1.5, 3),
                         KQUNumberOfTrailingZerosInMantissaWhenFormattedAsScientific(1234, 3)),
              std::tuple(2u, 0u));
    EXPECT_EQ(KQUNumberFormatterStringByUnescapingFormatString(u"'a''b'c''d'e"), u"a'bc'de");
}

}  // namespace
