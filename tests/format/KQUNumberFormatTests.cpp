// The number format model: construction defaults, derivation, equality, equivalence
// and hashing.
#include <cmath>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQULocale.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

class KQUNumberFormatTest : public ::testing::Test {
protected:
    KQUScopedLocaleOverride mLocale{"en_US"};
};

KQUNumberFormat& as(const KQUNumberFormatting::Ref& ref) {
    return dynamic_cast<KQUNumberFormat&>(*ref);
}

TEST_F(KQUNumberFormatTest, PatternsFollowTheNegativeStyleAndValueType) {
    struct Case {
        KQUNumberFormatSettings settings;
        std::u16string pattern;
        bool suppressMinus;
    };
    const Case cases[] = {
        {{}, u"#,##0.###;-#,##0.###", false},
        {{.valueType = 1, .negativeStyle = 1}, u"¤#,##0.00;¤#,##0.00", true},
        {{.valueType = 1, .useAccountingStyle = true, .negativeStyle = 0}, u"¤#,##0.00;(¤#,##0.00)", false},
        {{.valueType = 3, .negativeStyle = 2}, u"#E+00;-#E+00", false},
        {{.valueType = 2, .negativeStyle = 4}, u"#,##0%", false},
        {{.formatString = u"0.0", .negativeStyle = 3}, u"0.0;(0.0)", false},
        // Mended fault: an empty pattern became ";-"; it is no pattern.
        {{.formatString = u""}, u"#,##0.###;-#,##0.###", false},
    };
    for (const auto& c : cases) {
        auto format = KQUNumberFormat::create(c.settings);
        EXPECT_EQ(format->formatString(), c.pattern);
        EXPECT_EQ(format->formatStringRequiresSuppressionOfMinusSign(), c.suppressMinus);
        EXPECT_EQ(format->currencyCode(), "USD");
    }
    EXPECT_EQ(KQUNumberFormat::create({.currencyCode = "EUR"})->currencyCode(), "EUR");
}

TEST_F(KQUNumberFormatTest, DecimalPlacesSentinelsAndIncrementClamping) {
    auto invalid = KQUNumberFormat::create({.decimalPlaces = kKQUNumberFormatInvalidDecimalPlaces});
    EXPECT_EQ(invalid->decimalPlaces(), 0);
    EXPECT_FALSE(invalid->hasValidDecimalPlaces());
    struct Case {
        uint16_t places;
        int16_t delta;
        uint16_t expected;
    };
    for (auto c : {Case{3, -5, 0}, Case{0, 40, 30}, Case{3, -3, 0}, Case{3, -2, 1}, Case{29, 1, 30},
                   Case{kKQUNumberFormatInvalidDecimalPlaces, 2, 2}, Case{100, 0, 30}}) {
        auto derived = KQUNumberFormat::create({.decimalPlaces = c.places, .suffixString = u"x", .scaleFactor = 2})
                           ->numberFormatByIncrementingDecimalPlaces(c.delta);
        EXPECT_EQ(derived->decimalPlaces(), c.expected) << c.places << " " << c.delta;
        EXPECT_FALSE(derived->suffixString());
        EXPECT_EQ(derived->scaleFactor(), 1.0);
    }
}

TEST_F(KQUNumberFormatTest, ValueTypeChanges) {
    auto percent = KQUNumberFormat::create({.valueType = 2, .decimalPlaces = 5, .showThousandsSeparator = false,
                                            .suffixString = u"s", .formatName = u"mine"});
    auto currency = percent->numberFormatBySettingValueType(1);
    EXPECT_EQ(currency->valueType(), 1);
    EXPECT_TRUE(currency->showThousandsSeparator());
    EXPECT_EQ(currency->decimalPlaces(), 2);  // USD's
    EXPECT_EQ(currency->suffixString(), u"s");
    EXPECT_FALSE(currency->formatName());
    EXPECT_EQ(currency->formatString(), u"¤#,##0.00;-¤#,##0.00");
    {
        KQUScopedLocaleOverride japan("ja_JP");
        auto yen = percent->numberFormatBySettingValueType(1);
        EXPECT_EQ(yen->decimalPlaces(), 0);
        EXPECT_EQ(yen->currencyCode(), "JPY");
    }
    auto same = percent->numberFormatBySettingValueType(2);
    EXPECT_TRUE(same->isEqual(*percent));
    EXPECT_NE(same.get(), percent.get());
    auto decimal = percent->numberFormatBySettingValueType(0);
    EXPECT_FALSE(decimal->showThousandsSeparator());
    EXPECT_EQ(decimal->decimalPlaces(), 5);
}

TEST_F(KQUNumberFormatTest, EveryComparedFieldBreaksEqualityAndEqualFormatsHashEqually) {
    KQUNumberFormatSettings base{.formatString = u"#,##0.00", .isCustom = true,
                                 .interstitialStrings = {u"-"}, .interstitialStringInsertionIndexes = {3}};
    using Change = std::function<void(KQUNumberFormatSettings&)>;
    const std::pair<const char*, Change> changes[] = {
        {"value type", [](auto& s) { s.valueType = 3; }},
        {"pattern", [](auto& s) { s.formatString = u"#,##0.0"; }},
        {"tab in pattern", [](auto& s) { s.formatString = u"#,##0.00\t"; }},
        {"fraction mark", [](auto& s) { s.formatString = u"#,##0.00\uE420"; }},
        {"places", [](auto& s) { s.decimalPlaces = 3; }},
        {"currency", [](auto& s) { s.currencyCode = "EUR"; }},
        {"accounting", [](auto& s) { s.useAccountingStyle = true; }},
        {"negative style", [](auto& s) { s.negativeStyle = 2; }},
        {"thousands", [](auto& s) { s.showThousandsSeparator = false; }},
        {"fraction accuracy", [](auto& s) { s.fractionAccuracy = 8; }},
        {"suffix", [](auto& s) { s.suffixString = u"m"; }},
        {"scale", [](auto& s) { s.scaleFactor = 100; }},
        {"base", [](auto& s) { s.base = 16; }},
        {"base places", [](auto& s) { s.basePlaces = 4; }},
        {"base minus", [](auto& s) { s.baseUseMinusSign = false; }},
        {"custom", [](auto& s) { s.isCustom = false; }},
        {"interstitials", [](auto& s) { s.interstitialStrings = {u"+"}; }},
        {"insertion indexes", [](auto& s) { s.interstitialStringInsertionIndexes = {2}; }},
        {"index from right", [](auto& s) { s.indexFromRightOfLastDigitPlaceholder = 3; }},
        {"integer width", [](auto& s) { s.minimumIntegerWidth = 4; }},
        {"decimal width", [](auto& s) { s.decimalWidth = 2; }},
        {"non-space integer", [](auto& s) { s.numberOfNonSpaceIntegerPlaceholderDigits = 1; }},
        {"non-space decimal", [](auto& s) { s.numberOfNonSpaceDecimalPlaceholderDigits = 1; }},
        {"text format", [](auto& s) { s.isTextFormat = true; }},
        {"name", [](auto& s) { s.formatName = u"n"; }},
    };
    auto original = KQUNumberFormat::create(base);
    auto copy = std::dynamic_pointer_cast<KQUNumberFormat>(original->copyFormat());
    original->setUseScientificFormattingAutomatically(true);
    EXPECT_TRUE(copy->isEqual(*original));
    EXPECT_EQ(copy->hash(), original->hash());
    EXPECT_FALSE(copy->useScientificFormattingAutomatically());
    for (const auto& [what, change] : changes) {
        auto settings = base;
        change(settings);
        EXPECT_FALSE(KQUNumberFormat::create(settings)->isEqual(*original)) << what;
    }
    auto nan = KQUNumberFormat::create({.scaleFactor = std::nan("")});
    EXPECT_FALSE(nan->isEqual(*nan));
}

// Mended fault: the hash truncated the scale factor to an integer, undefined for NaN,
// infinities and |scale| >= 2^31.
TEST_F(KQUNumberFormatTest, HashIsDefinedForEveryScale) {
    const double inf = std::numeric_limits<double>::infinity();
    auto hashOf = [](double scale) { return KQUNumberFormat::create({.valueType = 1, .scaleFactor = scale})->hash(); };
    EXPECT_EQ(hashOf(std::nan("")), hashOf(0.5));  // both count as 0
    EXPECT_EQ(hashOf(inf), hashOf(-inf));
    EXPECT_EQ(hashOf(1e300), hashOf(4294967296.0));  // saturated alike
    EXPECT_EQ(hashOf(-1e300), hashOf(-2147483648.0));
}

// Mended fault: the radix was passed in 16 bits and stored in 8.
TEST_F(KQUNumberFormatTest, RadixIsKeptWhole) {
    EXPECT_EQ(KQUNumberFormat::create({.valueType = 5, .base = 266})->base(), 266);
    auto hex = KQUNumberFormat::create({.valueType = 5, .base = 16});
    EXPECT_EQ(as(hex->numberFormatBySettingDecimalPlaces(0)).base(), 16);
    EXPECT_EQ(hex->numberFormatBySettingBase(256)->base(), 256);
    EXPECT_FALSE(hex->numberFormatBySettingBase(256)->isEqual(*hex->numberFormatBySettingBase(0)));
}

TEST_F(KQUNumberFormatTest, EquivalenceComparesWhatTheUserSees) {
    auto custom1 = KQUNumberFormat::createCustom({.formatString = u"#,##0"});
    auto custom2 = KQUNumberFormat::createCustom({.formatString = u"0.000"});
    EXPECT_TRUE(custom1->isEquivalent(*custom2));
    EXPECT_FALSE(custom1->isEqual(*custom2));
    auto currency = KQUNumberFormat::create({.valueType = 1});
    EXPECT_FALSE(currency->isEquivalent(*currency->numberFormatBySettingUseAccountingStyle(true)));
    EXPECT_FALSE(currency->isEquivalent(*currency->numberFormatBySettingCurrencyCode("EUR")));
    EXPECT_TRUE(currency->isEquivalent(*currency->numberFormatBySettingSuffixString(u"x")));
    auto scientific = KQUNumberFormat::create({.valueType = 3});
    EXPECT_TRUE(scientific->isEquivalent(*scientific->numberFormatBySettingNegativeStyle(2)));
    EXPECT_FALSE(scientific->isEquivalent(*scientific->numberFormatBySettingDecimalPlaces(4)));
    auto fraction = KQUNumberFormat::create({.valueType = 4});
    EXPECT_TRUE(fraction->isEquivalent(*fraction->numberFormatBySettingDecimalPlaces(4)));
    EXPECT_FALSE(fraction->isEquivalent(*fraction->numberFormatBySettingFractionAccuracy(-2)));
    EXPECT_FALSE(fraction->isEquivalent(*scientific));
    auto based = KQUNumberFormat::create({.valueType = 5, .base = 2});
    EXPECT_FALSE(based->isEquivalent(*based->numberFormatBySettingBasePlaces(8)));
}

TEST_F(KQUNumberFormatTest, SmallQuestions) {
    auto currency = KQUNumberFormat::create({.valueType = 1, .useAccountingStyle = true, .negativeStyle = 2});
    EXPECT_TRUE(currency->usesTabs());
    EXPECT_TRUE(currency->requiresParensToBeReplacedWithSpacesForDouble(0));
    EXPECT_FALSE(currency->requiresParensToBeReplacedWithSpacesForDouble(-1));
    EXPECT_FALSE(currency->requiresParensToBeReplacedWithSpacesForDouble(std::nan("")));
    EXPECT_TRUE(KQUNumberFormat::createCustom({.formatString = u"0\t%"})->usesTabs());
    EXPECT_TRUE(KQUNumberFormat::createCustom({.formatString = u"0", .scaleFactor = 100})
                    ->customFormatShouldAutoInsertPercentSymbol());
    EXPECT_TRUE(KQUNumberFormat::createCustom({.formatString = u"0%"})->customFormatShouldAutoInsertPercentSymbol());
    EXPECT_FALSE(KQUNumberFormat::createCustom({.formatString = u"0'%'"})->customFormatShouldAutoInsertPercentSymbol());
    EXPECT_ASSERTION_FAILURE(KQUNumberFormat::create()->customFormatShouldAutoInsertPercentSymbol());
    EXPECT_ASSERTION_FAILURE(KQUNumberFormat::createCustom({}));
    EXPECT_EQ(KQUNumberFormatterStringFromFractionAccuracy(16), "1/16");
    EXPECT_EQ(KQUNumberFormatterStringFromValueType(6), "unknown");
    auto description = KQUNumberFormat::create({.valueType = 4, .fractionAccuracy = -2})->description();
    EXPECT_NE(description.find("Value Type: fraction\n"), std::string::npos);
    EXPECT_NE(description.find("Fraction Accuracy: up to 2 digits\n"), std::string::npos);
}

}  // namespace
}  // namespace kqu
