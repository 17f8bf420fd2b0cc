// Custom number format tokens and the read-back of custom patterns into tokens.
#include <gtest/gtest.h>

#include "kqutility/format/KQUCustomNumberFormatTokens.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

using Tokens = std::vector<std::u16string>;

std::u16string I(std::u16string_view content) {
    return KQUCustomNumberFormatTokenString(KQUCustomNumberFormatTokenTypeInteger, content);
}
std::u16string D(std::u16string_view content) {
    return KQUCustomNumberFormatTokenString(KQUCustomNumberFormatTokenTypeDecimal, content);
}
std::u16string S(std::u16string_view content) {
    return KQUCustomNumberFormatTokenString(KQUCustomNumberFormatTokenTypeScale, content);
}
std::u16string P(std::u16string_view content) {
    return KQUCustomNumberFormatTokenString(KQUCustomNumberFormatTokenTypeSpace, content);
}

// Tokens made readable in failure messages: the sentinel shows as "^".
std::string show(const Tokens& tokens) {
    std::string out;
    for (const auto& t : tokens) {
        std::u16string visible = t;
        for (auto& c : visible)
            if (c == KQUCustomNumberFormatSentinelCharacter) c = u'^';
        out += "[" + KQUUTF8FromUTF16(visible) + "]";
    }
    return out;
}

class KQUCustomTokensTest : public ::testing::Test {
protected:
    KQUScopedLocaleOverride mLocale{"en_US"};
};

TEST_F(KQUCustomTokensTest, ReadBack) {
    struct Case {
        const char* what;
        KQUNumberFormatSettings settings;
        Tokens expected;
    };
    const auto T = [](int type, std::u16string_view content) {
        return KQUCustomNumberFormatTokenString(type, content);
    };
    // clang-format off
    const Case cases[] = {
        {"thousands scale in the pattern", {.formatString = u"#,##0.00K", .scaleFactor = 0.001},
         {I(u"####,"), D(u"###"), S(u"KK")}},
        {"implied percent", {.formatString = u"0", .scaleFactor = 100}, {I(u"#,"), S(u"%")}},
        {"unknown implied scale", {.formatString = u"0", .scaleFactor = 7}, {I(u"#,"), S(std::u16string(1, u'\0'))}},
        {"scientific", {.formatString = u"0.00E+00", .showThousandsSeparator = false,
          .numberOfNonSpaceIntegerPlaceholderDigits = 1, .numberOfNonSpaceDecimalPlaceholderDigits = 2},
         {I(u"0"), D(u"000"), S(u"E")}},
        {"quotes inside quotes", {.formatString = u"''0 'it''s'''", .showThousandsSeparator = false},
         {u"'", I(u"#"), P(u" "), u"it's'"}},
        {"empty quotes and spaces", {.formatString = u"''\u2003\u2006\t'' ", .showThousandsSeparator = false},
         {u"'", P(u"\u2003"), P(u"\u2006"), P(u"\t"), u"'", P(u" ")}},
        {"text format", {.formatString = u"x\uE421yz\uE421", .isTextFormat = true},
         {u"x", T(KQUCustomNumberFormatTokenTypeText, u"@"), u"yz", T(KQUCustomNumberFormatTokenTypeText, u"@")}},
        {"width splits", {.formatString = u"######.0000#", .showThousandsSeparator = false,
          .minimumIntegerWidth = 4, .decimalWidth = 4, .numberOfNonSpaceIntegerPlaceholderDigits = 2,
          .numberOfNonSpaceDecimalPlaceholderDigits = 3},
         {I(u"##"), I(u"??"), I(u"00"), D(u"0000"), D(u"??"), D(u"##")}},
        {"interstitial cuts", {.formatString = u"000000", .showThousandsSeparator = false,
          .interstitialStrings = {u"-", u"/"}, .interstitialStringInsertionIndexes = {2, 4},
          .numberOfNonSpaceIntegerPlaceholderDigits = 6}, {I(u"00"), u"/", I(u"00"), u"-", I(u"00")}},
        {"cut across groups", {.formatString = u"0000", .showThousandsSeparator = false, .interstitialStrings = {u"|"},
          .interstitialStringInsertionIndexes = {3}, .numberOfNonSpaceIntegerPlaceholderDigits = 2},
         {I(u"#"), u"|", I(u"#"), I(u"00")}},
        // Mended fault: index 0 gave an integer token without placeholders.
        {"insertion index 0", {.formatString = u"00", .showThousandsSeparator = false, .interstitialStrings = {u"x"},
          .interstitialStringInsertionIndexes = {0}, .numberOfNonSpaceIntegerPlaceholderDigits = 2}, {I(u"00"), u"x"}},
        // Judgement: strings beyond the integer digits were rendered but dropped here.
        {"interstitials beyond the digits", {.formatString = u"00", .showThousandsSeparator = false,
          .interstitialStrings = {u"a", u"b", u"c"}, .interstitialStringInsertionIndexes = {1, 5, 9},
          .numberOfNonSpaceIntegerPlaceholderDigits = 2}, {u"c", u"b", I(u"0"), u"a", I(u"0")}},
        // Mended fault: inconsistent layout facts gave negative (huge unsigned) counts.
        {"inconsistent layout facts", {.formatString = u"00.0", .showThousandsSeparator = false,
          .minimumIntegerWidth = 1, .decimalWidth = 2, .numberOfNonSpaceIntegerPlaceholderDigits = 3,
          .numberOfNonSpaceDecimalPlaceholderDigits = 3}, {I(u"#"), I(u"000"), D(u"0000")}},
        {"currency, fraction and stray text",
         {.formatString = u"\u00A40 \uE420x", .currencyCode = "EUR", .fractionAccuracy = -2},
         {T(KQUCustomNumberFormatTokenTypeCurrency, u"EUR"), I(u"#,"), P(u" "),
          T(KQUCustomNumberFormatTokenTypeFraction, u"-2"), u"x"}},
    };
    // clang-format on
    test::ScopedDefault warnings("KQULogLevel", "10");
    test::LogCapture log;
    for (const auto& c : cases) {
        auto tokens = KQUNumberFormat::createCustom(c.settings)->customNumberFormatTokens();
        ASSERT_TRUE(tokens) << c.what;
        EXPECT_EQ(show(*tokens), show(c.expected)) << c.what;
    }
    EXPECT_TRUE(log.contains("Unexpected character encountered in format pattern"));
    EXPECT_FALSE(KQUNumberFormat::create()->customNumberFormatTokens());
}

TEST_F(KQUCustomTokensTest, DerivedCountsComeFromTheTokens) {
    auto format = KQUNumberFormat::createCustom(
        {.formatString = u"#,##0.00#", .numberOfNonSpaceDecimalPlaceholderDigits = 2});
    EXPECT_TRUE(format->formatContainsSpecialTokens());
    EXPECT_TRUE(format->formatContainsIntegerToken());
    EXPECT_EQ(format->totalNumberOfDecimalPlaceholdersInFormat(), 3);
    EXPECT_EQ(format->numberOfHashDecimalPlaceholders(), 1);
    auto literal = KQUNumberFormat::createCustom({.formatString = u"'only text'"});
    EXPECT_FALSE(literal->formatContainsSpecialTokens());
    EXPECT_TRUE(KQUNumberFormat::createCustom({.formatString = u"0\uE420"})->requiresFractionReplacement());
}

TEST_F(KQUCustomTokensTest, BuildingAndReadingTokens) {
    auto integer = KQUCustomNumberFormatTokenString(KQUCustomNumberFormatTokenTypeInteger, u"00,");
    EXPECT_EQ(integer, u"\uF8FFI00,");
    EXPECT_EQ(KQUNumberOfDigitsInCustomNumberFormatIntegerToken(integer), 2u);
    EXPECT_TRUE(KQUCustomFormatIntegerTokenUsesSeparator(integer));
    auto decimal = D(KQUCustomNumberFormatDecimalTokenRepresentedString(2, u"#"));
    EXPECT_EQ(decimal.size(), 5u);
    EXPECT_EQ(KQUNumberOfDigitsInCustomNumberFormatDecimalToken(decimal), 2u);
    EXPECT_EQ(KQUDigitPlaceholderStringInDigitToken(decimal), u"#");
    EXPECT_EQ(KQUDigitPlaceholderStringInDigitToken(D(u"???")), u"?");
    EXPECT_FALSE(KQUIsSpecialCustomNumberFormatToken(u"\uF8FF"));
    EXPECT_TRUE(KQUIsSpecialCustomNumberFormatTokenOfType(u"\uF8FFT@", KQUCustomNumberFormatTokenTypeText));
    EXPECT_EQ(KQUFractionAccuracyFromCustomNumberFormatFractionToken(u"\uF8FFF-2"), -2);
    EXPECT_EQ(KQUFractionAccuracyFromCustomNumberFormatFractionToken(u"\uF8FFF 16ths"), 16);
    EXPECT_EQ(KQUFractionAccuracyFromCustomNumberFormatFractionToken(u"\uF8FFF99999999999"), INT32_MAX);
    EXPECT_EQ(KQUCurrencyCodeFromCustomNumberFormatCurrencyToken(u"\uF8FFC"), "USD");
    EXPECT_EQ(KQUFormatStringFromCustomNumberFormatScaleToken(S(u"%%")), u"%");
    EXPECT_EQ(KQUCustomNumberFormatDisplayNameForScaleCharacter(u'K'), u"Thousands");  // from the resource
    EXPECT_EQ(KQUCustomNumberFormatDisplayNameForScaleCharacter(u'x'), u"");
    EXPECT_EQ(KQUCustomNumberFormatDecimalTokenDisplayString(3, u"0"), u".000");
    EXPECT_EQ(KQUCustomNumberFormatDecimalFormatString(2, u"#", true), u".##");
    EXPECT_ASSERTION_FAILURE(KQUCustomNumberFormatTokenString(9));
    EXPECT_ASSERTION_FAILURE(KQUNumberOfDigitsInCustomNumberFormatIntegerToken(decimal));
}

// Mended fault: short pasteboard tokens gave -1 decimal digits and reads past the end.
TEST_F(KQUCustomTokensTest, ShortPasteboardTokens) {
    EXPECT_EQ(KQUNumberOfDigitsInCustomNumberFormatDecimalToken(u"\uF8FFD"), 0u);
    EXPECT_EQ(KQUNumberOfDigitsInCustomNumberFormatDecimalToken(u"\uF8FFD0"), 0u);
    EXPECT_EQ(KQUScaleCharacterInCustomNumberFormatScaleToken(u"\uF8FFS"), u'\0');
    EXPECT_EQ(KQUFormatStringFromCustomNumberFormatScaleToken(u"\uF8FFS%"), u"");
    EXPECT_EQ(KQUSpaceCharacterInCustomNumberFormatSpaceToken(u"\uF8FFP"), u'\0');
    EXPECT_EQ(KQUFractionAccuracyFromCustomNumberFormatFractionToken(u"\uF8FFF"), 0);
}

// Mended fault: a locale that does not group (grouping size 0) divided by zero.
TEST_F(KQUCustomTokensTest, GroupingSeparatorsFollowTheLocale) {
    EXPECT_EQ(KQUStringByInsertingFormatGroupingSeparators(u"1234567"), u"1,234,567");
    EXPECT_EQ(KQUStringByInsertingFormatGroupingSeparators(u"123"), u"123");
    EXPECT_EQ(KQUCustomNumberFormatIntegerTokenDisplayString(7, true, u"0"), u"0,000,000");
    EXPECT_EQ(KQUCustomNumberFormatIntegerTokenDisplayString(4, false, u"#"), u"####");
    {
        KQUScopedLocaleOverride german("de_DE");
        EXPECT_EQ(KQUCustomNumberFormatIntegerTokenDisplayString(4, true, u"0"), u"0.000");
        EXPECT_EQ(KQUCustomNumberFormatDecimalTokenDisplayString(1, u"0"), u",0");
    }
    KQUScopedLocaleOverride posix("en_US_POSIX");
    EXPECT_EQ(KQUStringByInsertingFormatGroupingSeparators(u"1234567"), u"1234567");
    EXPECT_EQ(KQUCustomNumberFormatIntegerTokenDisplayString(7, true, u"0"), u"0000000");
}

}  // namespace
