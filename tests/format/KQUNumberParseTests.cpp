// Typed numbers per locale, by hand; characters that differ between ICU releases come from ICU.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unicode/dcfmtsym.h>
#include <unicode/ucurr.h>

#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/foundation/KQUDecimalFormatCache.h"
#include "kqutility/foundation/KQUUnicode.h"

using namespace kqu;

namespace {

std::u16string symbol(const char* locale, icu::DecimalFormatSymbols::ENumberFormatSymbol which) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols{icu::Locale(locale), status};
    auto s = symbols.getSymbol(which);
    return std::u16string(s.getBuffer(), static_cast<size_t>(s.length()));
}

std::u16string currencySign(const char* code, const char* locale) {
    std::u16string wide(code, code + 3);
    UBool isChoice;
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    const UChar* name = ucurr_getName(wide.c_str(), locale, UCURR_SYMBOL_NAME, &isChoice, &length, &status);
    return std::u16string(name, static_cast<size_t>(length));
}

struct Case {
    std::u16string text;
    bool parses;
    double value = 0;
    int type = KQUNumberParseFailedValueType;
    std::string code = "";
    std::u16string pattern = u"";  // checked when not empty
};

constexpr int kDec = 0, kCur = 1, kPct = 2, kSci = 3, kFra = 4;

void check(const char* localeName, const std::vector<Case>& cases) {
    KQULocale locale(localeName);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(localeName) + " '" + KQUUTF8FromUTF16(c.text) + "'");
        double value = -1;
        int type = 77;
        std::u16string pattern = u"stale";
        std::string code = "stale";
        bool ok = KQUGetNumberValueAndTypeFromString(c.text, &locale, &value, &type, &pattern, &code);
        EXPECT_EQ(std::tuple(ok, type, value, code), std::tuple(c.parses, c.type, c.value, c.code));
        EXPECT_FALSE(std::signbit(value) && value == 0) << "zero is stored as +0";
        EXPECT_EQ(KQUUTF8FromUTF16(c.pattern.empty() ? c.pattern : pattern), KQUUTF8FromUTF16(c.pattern));
        EXPECT_TRUE(ok || pattern.empty());
    }
}

TEST(KQUNumberParse, EnglishUnitedStates) {
    // clang-format off
    check("en_US", {
        {u"1,234.5", true, 1234.5, kDec, "", u"#,##0.###"}, {u"(1,234)", true, -1234, kDec, "", u"#,##0;(#,##0)"},
        {u"- 1,234", true, -1234, kDec, "", u"#,##0;- #,##0"}, {u"( 5 )", true, -5, kDec, "", u"#,##0;( #,##0 )"},
        {u"-0", true, 0, kDec}, {u"$5", true, 5, kCur, "USD", u"¤#,##0.00"}, {u"-$5", true, -5, kCur, "USD"},
        {u"($1,234.00)", true, -1234, kCur, "USD", u"¤#,##0.00;(¤#,##0.00)"},
        {u"5$", true, 5, kCur, "USD", u"#,##0.00¤"}, {u"$5-", true, -5, kCur, "USD", u"¤#,##0.00;¤#,##0.00-"},
        {u"¥500", true, 500, kCur, "JPY"}, {u"15%", true, 0.15, kPct, "", u"#,##0%"},
        {u"15 %", true, 0.15, kPct, "", u"#,##0 %"}, {u"1E3", true, 1000, kSci}, {u"1 1/2", true, 1.5, kFra},
        {u" 3 / 4 ", true, 0.75, kFra}, {u"3/0", false}, {u"1.5 1/2", false}, {u"12abc", false},
        {u"1,23", false}, {u"", false}, {u"\uFF11\uFF0C\uFF12\uFF13\uFF14", true, 1234, kDec},  // full width
        {u"\u22125", true, -5, kDec}, {u"\uFF04\uFF15", true, 5, kCur, "USD"}});  // MINUS SIGN, full-width $
    // clang-format on
}

// One locale per path: decimal comma, space-like grouping, full-width currency, secondary grouping.
TEST(KQUNumberParse, GermanFrenchJapaneseIndian) {
    const std::u16string deG = symbol("de_DE", icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
    const std::u16string deD = symbol("de_DE", icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
    const std::u16string frG = symbol("fr_FR", icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
    const std::u16string yenJa = currencySign("JPY", "ja_JP");  // full width in ja_JP
    // clang-format off
    check("de_DE", {{u"1" + deG + u"234" + deD + u"5", true, 1234.5, kDec}, {u"1,5", true, 1.5, kDec},
                    {u"€5", true, 5, kCur, "EUR"}, {u"5 €", true, 5, kCur, "EUR", u"#,##0.00 ¤"},
                    {u"15%", true, 0.15, kPct}, {u"1,5E3", true, 1500, kSci},
                    {u"1.5", false}});  // "." groups in German: "1.5" is no grouping of thousands
    check("fr_FR", {{u"1" + frG + u"234" + frG + u"567,25", true, 1234567.25, kDec},
                    {u"12,5%", true, 0.125, kPct}, {u"-2,5 1/4", false}, {u"-2 1/4", true, -2.25, kFra}});
    check("ja_JP", {{u"1,234.5", true, 1234.5, kDec}, {yenJa + u"1,500", true, 1500, kCur, "JPY", u"¤#,##0"},
                    {u"\u00A51,500", true, 1500, kCur, "JPY", u"¤#,##0"},  // half-width yen typed
                    {u"$5", true, 5, kCur, "USD"}, {u"1,5", false}});
    check("en_IN", {{u"12,34,567.5", true, 1234567.5, kDec},
                    {currencySign("INR", "en_IN") + u"5", true, 5, kCur, "INR"}});
    // clang-format on
}

TEST(KQUNumberParse, AdditionalCurrencyIsTriedAfterTheUsualOnes) {
    KQULocale locale("en_US");
    const std::u16string franc = currencySign("CHF", "en_US");
    double value = 0;
    int type = 0;
    std::string code;
    EXPECT_FALSE(KQUGetNumberValueAndTypeFromString(franc + u" 5", &locale, &value, &type, nullptr, &code));
    ASSERT_TRUE(KQUGetNumberValueAndTypeFromStringWithCurrencyCode(franc + u" 5", "CHF", &locale, &value,
                                                                   &type, nullptr, &code));
    EXPECT_EQ(std::tuple(value, code), std::tuple(5.0, std::string("CHF")));
}

// Mended fault: a fraction's whole part near an integer was floored, and "-0" lost its sign.
TEST(KQUNumberParse, FractionWholePartIsRoundedAndKeepsTheTypedSign) {
    check("en_US", {{u"0.999999 1/2", true, 1.5, kFra},
                    {u"-1.000001 1/2", true, -1.5, kFra},
                    {u"-0 1/2", true, -0.5, kFra},
                    {u"2.00002 1/2", false}});
}

// Judgement: NaN, infinity and out-of-range exponents were accepted by some steps; by none now.
TEST(KQUNumberParse, NonFiniteValuesAreNoNumbers) {
    const std::u16string inf = symbol("en_US", icu::DecimalFormatSymbols::kInfinitySymbol);
    // clang-format off
    check("en_US", {{symbol("en_US", icu::DecimalFormatSymbols::kNaNSymbol), false}, {inf, false}, {u"-" + inf, false},
                    {u"1E400", false}, {u"$" + inf, false}, {inf + u"%", false},
                    {u"1" + std::u16string(308, u'0') + u"/0.01", false}});
    // clang-format on
}

TEST(KQUNumberParse, NumericStringHelpersAndCurrencyData) {
    KQULocale us("en_US"), de("de_DE");
    EXPECT_TRUE(KQUIsGroupingSeparatorUsedInNumericString(u"1,234", &us));
    EXPECT_FALSE(KQUIsGroupingSeparatorUsedInNumericString(u",234", &us));
    EXPECT_TRUE(KQUIsGroupingSeparatorUsedInNumericString(u"1.5,2", &de));
    EXPECT_TRUE(KQUIsGroupingSeparatorUsedInNumericString(u"1\uFF0C234", &us));  // full-width comma
    EXPECT_EQ(KQUNumberOfDecimalPlacesInNumericString(u"1.2.345", &us), 3u);
    EXPECT_EQ(KQUNumberOfDecimalPlacesInNumericString(u"1,25", &de), 2u);
    EXPECT_EQ(KQUNumberOfDecimalPlacesInNumericString(u"125", &us), 0u);
    EXPECT_EQ(KQUNumberFormatterGroupingSizeForLocale(&us), 3);
    EXPECT_EQ(KQUNumberFormatter::defaultDecimalPlacesForCurrencyCode("JPY"), 0);
    EXPECT_EQ(KQUNumberFormatter::defaultDecimalPlacesForCurrencyCode("BHD"), 3);
    EXPECT_EQ(KQUNumberFormatter::defaultDecimalPlacesForCurrencyCode("XQZ"), 0);  // unknown: not ICU's 2
    auto german = KQUNumberFormatter::formatterForLocale(KQULocale("de"));
    EXPECT_EQ(german->localeCurrencyCode(), "EUR");  // likely subtags: de -> de_Latn_DE
    EXPECT_EQ(german, KQUNumberFormatter::formatterForLocale(KQULocale("de")));
    auto ja = KQUNumberFormatter::formatterForLocale(KQULocale("ja_JP"));
    EXPECT_EQ(ja->currencySymbolForCurrencyCode("JPY"), currencySign("JPY", "ja_JP"));
    EXPECT_EQ(ja->halfWidthCurrencySymbolForCurrencyCode("JPY"), u"\u00A5");
}

// Judgement: a locale change rebuilt the default formatter only; one generation now refreshes all.
TEST(KQUNumberParse, OneLocaleChangeRefreshesEveryCache) {
    KQUScopedLocaleOverride american("en_US");
    auto before = KQUNumberFormatter::formatterForLocale();
    EXPECT_EQ(KQUNumberFormatterGroupingSizeForLocale(nullptr), 3);
    double value;
    int type;
    ASSERT_TRUE(KQUGetNumberValueAndTypeFromString(u"1,234.5", nullptr, &value, &type, nullptr, nullptr));
    KQUScopedLocaleOverride posix("en_US_POSIX");
    EXPECT_NE(KQUNumberFormatter::formatterForLocale(), before);
    EXPECT_EQ(KQUGetCurrentLocale().identifier(), "en_US_POSIX");
    EXPECT_EQ(KQUNumberFormatterGroupingSizeForLocale(nullptr), 0);
    KQUScopedLocaleOverride german("de_DE");
    EXPECT_EQ(KQUNumberFormatter::currentLocaleCurrencyCode(), "EUR");
    EXPECT_FALSE(KQUGetNumberValueAndTypeFromString(u"1,234.5", nullptr, &value, &type, nullptr, nullptr));
    ASSERT_TRUE(KQUGetNumberValueAndTypeFromString(u"1.234,5", nullptr, &value, &type, nullptr, nullptr));
    EXPECT_EQ(value, 1234.5);
}

}  // namespace
