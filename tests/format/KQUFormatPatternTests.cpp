// Pattern utilities and the negative-style transformation, worked out by hand.
#include <gtest/gtest.h>

#include "kqutility/format/KQUFormatStringUtilities.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

std::string u8(std::u16string_view s) {
    return KQUUTF8FromUTF16(s);
}

TEST(KQUFormatPattern, SubpatternsPrefixesAndSuffixesOutsideQuotes) {
    struct Case {
        std::u16string pattern, positive, negative, prefix, number, suffix;
    };
    const Case cases[] = {
        {u"#,##0.00;(#,##0.00)", u"#,##0.00", u"(#,##0.00)", u"", u"#,##0.00", u""},
        {u"'a;b'¤#,##0 'x1'", u"'a;b'¤#,##0 'x1'", u"", u"'a;b'¤", u"#,##0", u" 'x1'"},
        {u"'#'0'0'", u"'#'0'0'", u"", u"'#'", u"0", u"'0'"},
        {u"it''s 0;'", u"it''s 0", u"'", u"it''s ", u"0", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ((std::vector{u8(KQUPositiveSubpatternOfNumberFormatPattern(c.pattern)),
                               u8(KQUNegativeSubpatternOfNumberFormatPattern(c.pattern)),
                               u8(KQUPrefixOfNumberFormatSubpattern(c.positive)),
                               u8(KQUNumberPortionOfNumberFormatSubpattern(c.positive)),
                               u8(KQUSuffixOfNumberFormatSubpattern(c.positive))}),
                  (std::vector{u8(c.positive), u8(c.negative), u8(c.prefix), u8(c.number), u8(c.suffix)}))
            << u8(c.pattern);
    EXPECT_EQ(KQURangesOfEscapedCharactersInNumberFormatPattern(u"a'b''c'd'e"),
              (std::vector<KQURange>{{1, 3}, {4, 3}, {8, 2}}));
    EXPECT_EQ(u8(KQUStringByRemovingEscapedCharactersFromNumberFormatPattern(u"x'0'y''z")), "xyz");
    EXPECT_TRUE(!KQUIsNumberFormatPattern(u"'0#'abc") && KQUIsNumberFormatPattern(u"'0#'abc@"));
    std::u16string p = u"-#'-'-;'--'";
    KQUReplaceOccurrencesOfUnescapedString(p, u"-", u"minus");
    EXPECT_EQ(u8(p), "minus#'-'minus;'--'");
}

// Mended fault: without number symbols, prefix, suffix and number portion took a substring at -1.
TEST(KQUFormatPattern, SubpatternWithoutNumberSymbolsIsAllPrefix) {
    for (const char16_t* sub : {u"abc", u"'0'x", u""})
        EXPECT_EQ(std::tuple(KQUPrefixOfNumberFormatSubpattern(sub), KQUSuffixOfNumberFormatSubpattern(sub),
                             KQUNumberPortionOfNumberFormatSubpattern(sub)),
                  std::tuple(sub, u"", u""));
    EXPECT_EQ(std::tuple(KQUNumberFormatter::positionOfMinusSignInNumberFormatSubpattern(u"ab-c"),
                         KQUNumberFormatter::positionOfMinusSignInNumberFormatSubpattern(u"0-")),
              std::tuple(0, 1));
    EXPECT_ASSERTION_FAILURE(KQUIndexOfFirstNonPrefixCharacterInNumberFormatSubpattern(u"abc"));
    test::ContinueAfterAssertions continuing;
    EXPECT_EQ(KQUIndexOfLastNonSuffixCharacterInNumberFormatSubpattern(u"abc"), -1);
}

TEST(KQUFormatPattern, NegativeStyleTransform) {
    // clang-format off
    const std::tuple<std::u16string, int, std::u16string> cases[] = {
        {u"#,##0.00", 0, u"#,##0.00;-#,##0.00"}, {u"#,##0.00", 1, u"#,##0.00;#,##0.00"},
        {u"#,##0.00", 2, u"#,##0.00;(#,##0.00)"}, {u"#,##0.00", 4, u"#,##0.00"},
        {u"#,##0;#,##0-", 0, u"#,##0;#,##0-"},                  // minus after the number stays there
        {u"¤#,##0.00;¤-#,##0.00", 0, u"¤#,##0.00;-¤#,##0.00"},  // prefix minus moves to the front
        {u"#,##0 ¤-;x", 2, u"#,##0 ¤-;(#,##0 ¤)"},              // a bare minus of the positive part goes
        {u"'-'#,##0", 0, u"'-'#,##0;-'-'#,##0"},                // a quoted minus is text
        {u"'a;b'#,##0", 2, u"'a;b'#,##0;('a;b'#,##0)"},         // a quoted ";" separates nothing
        {u"#,##0;'x-'#,##0", 0, u"#,##0;-#,##0"}, {u"¤#,##0.00;(¤#,##0.00)", 1, u"¤#,##0.00;¤#,##0.00"},
    };
    // clang-format on
    for (const auto& [pattern, style, expected] : cases)
        EXPECT_EQ(u8(KQUNumberFormatter::formatStringTransformedForNegativeStyle(pattern, style)),
                  u8(expected))
            << u8(pattern) << " style " << style;
}

TEST(KQUFormatPattern, TypedTextNormalisation) {
    EXPECT_EQ(
        u8(KQUHalfWidthString(u"\uFF01\uFF5E\u3000\uFFE0\uFFE1\uFFE2\uFFE3\uFFE4\uFFE5\uFFE6\uFF00\uFF5F")),
        u8(u"!~ \u00A2\u00A3\u00AC\u00AF\u00A6\u00A5\u20A9\uFF00\uFF5F"));
    EXPECT_EQ(
        KQUStringBySubstitutingCharactersNumberFormatterDoesntUnderstand(u"\u2212\uFE63\uFF0D\uFE62\uFF0B"),
        u"---++");
    auto commas = KQUSearchCharacterSetForSeparatorCharacter(u'\uFF0C');
    EXPECT_TRUE(commas.contains(u',') && !commas.contains(u'.'));
    EXPECT_TRUE(KQUSearchCharacterSetForSeparatorCharacter(u' ').contains(u'\u00A0') &&
                KQUSearchCharacterSetForSeparatorCharacter(u'\'').contains(u'\''));
}

}  // namespace
