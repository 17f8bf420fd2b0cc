// The number format model: defaults, derivation, equality, equivalence and hashing.
#include <cmath>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/foundation/KQULocale.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

class KQUNumberFormatTest : public ::testing::Test {
protected:
    KQUScopedLocaleOverride mLocale{"en_US"};
};

KQUNumberFormat& as(const KQUNumberFormatting::Ref& ref) {
    return dynamic_cast<KQUNumberFormat&>(*ref);
}

TEST_F(KQUNumberFormatTest, PatternsFollowTheNegativeStyleAndValueType) {
    const std::tuple<KQUNumberFormatSettings, std::u16string, bool> cases[] = {
        {{}, u"#,##0.###;-#,##0.###", false},
        {{.valueType = 1, .negativeStyle = 1}, u"¤#,##0.00;¤#,##0.00", true},
        {{.valueType = 1, .useAccountingStyle = true, .negativeStyle = 0}, u"¤#,##0.00;(¤#,##0.00)", false},
        {{.valueType = 3, .negativeStyle = 2}, u"#E+00;-#E+00", false},
        {{.valueType = 2, .negativeStyle = 4}, u"#,##0%", false},
        {{.formatString = u"0.0", .negativeStyle = 3}, u"0.0;(0.0)", false},
        // Mended fault: an empty pattern became ";-"; it is no pattern.
        {{.formatString = u""}, u"#,##0.###;-#,##0.###", false},
    };
    for (const auto& [settings, pattern, suppressMinus] : cases) {
        auto format = KQUNumberFormat::create(settings);
        EXPECT_EQ(std::tuple(format->formatString(), format->formatStringRequiresSuppressionOfMinusSign(),
                             format->currencyCode()),
                  std::tuple(pattern, suppressMinus, "USD"));
    }
    EXPECT_EQ(KQUNumberFormat::create({.currencyCode = "EUR"})->currencyCode(), "EUR");
}

TEST_F(KQUNumberFormatTest, DecimalPlacesSentinelsAndIncrementClamping) {
    auto invalid = KQUNumberFormat::create({.decimalPlaces = kKQUNumberFormatInvalidDecimalPlaces});
    EXPECT_EQ(invalid->decimalPlaces(), 0);
    EXPECT_FALSE(invalid->hasValidDecimalPlaces());
    using Case = std::tuple<uint16_t, int16_t, uint16_t>;  // places, delta, expected
    for (auto [places, delta, expected] :
         {Case{3, -5, 0}, Case{0, 40, 30}, Case{3, -3, 0}, Case{3, -2, 1}, Case{29, 1, 30},
          Case{kKQUNumberFormatInvalidDecimalPlaces, 2, 2}, Case{100, 0, 30}}) {
        auto derived =
            KQUNumberFormat::create({.decimalPlaces = places, .suffixString = u"x", .scaleFactor = 2})
                ->numberFormatByIncrementingDecimalPlaces(delta);
        EXPECT_EQ(derived->decimalPlaces(), expected) << places << " " << delta;
        EXPECT_FALSE(derived->suffixString());
        EXPECT_EQ(derived->scaleFactor(), 1.0);
    }
}

TEST_F(KQUNumberFormatTest, ValueTypeChanges) {
    // clang-format off
    auto percent = KQUNumberFormat::create({.valueType = 2, .decimalPlaces = 5, .showThousandsSeparator = false,
                                            .suffixString = u"s", .formatName = u"mine"});
    // clang-format on
    auto currency = percent->numberFormatBySettingValueType(1);  // USD's places, the suffix, no name
    EXPECT_EQ(std::tuple(currency->valueType(), currency->showThousandsSeparator(), currency->decimalPlaces(),
                         currency->suffixString(), currency->formatName(), currency->formatString()),
              std::tuple(1, true, 2, std::optional<std::u16string>(u"s"), std::optional<std::u16string>(),
                         std::u16string(u"¤#,##0.00;-¤#,##0.00")));
    {
        KQUScopedLocaleOverride japan("ja_JP");
        auto yen = percent->numberFormatBySettingValueType(1);
        EXPECT_EQ(std::tuple(yen->decimalPlaces(), yen->currencyCode()), std::tuple(0, std::string("JPY")));
    }
    auto same = percent->numberFormatBySettingValueType(2);
    EXPECT_TRUE(same->isEqual(*percent) && same.get() != percent.get());
    auto decimal = percent->numberFormatBySettingValueType(0);
    EXPECT_EQ(std::tuple(decimal->showThousandsSeparator(), decimal->decimalPlaces()), std::tuple(false, 5));
}

TEST_F(KQUNumberFormatTest, EveryComparedFieldBreaksEqualityAndEqualFormatsHashEqually) {
    KQUNumberFormatSettings base{.formatString = u"#,##0.00",
                                 .isCustom = true,
                                 .interstitialStrings = {u"-"},
                                 .interstitialStringInsertionIndexes = {3}};
    using Change = std::function<void(KQUNumberFormatSettings&)>;
    // clang-format off
#define CHANGE(field, value) {#field " = " #value, [](auto& s) { s.field = value; }}
    const std::pair<const char*, Change> changes[] = {
        CHANGE(valueType, 3), CHANGE(formatString, u"#,##0.0"), CHANGE(formatString, u"#,##0.00\t"),
        CHANGE(formatString, u"#,##0.00\uE420"), CHANGE(decimalPlaces, 3), CHANGE(currencyCode, "EUR"),
        CHANGE(useAccountingStyle, true), CHANGE(negativeStyle, 2), CHANGE(showThousandsSeparator, false),
        CHANGE(fractionAccuracy, 8), CHANGE(suffixString, u"m"), CHANGE(scaleFactor, 100), CHANGE(base, 16),
        CHANGE(basePlaces, 4), CHANGE(baseUseMinusSign, false), CHANGE(isCustom, false),
        CHANGE(interstitialStrings, {u"+"}), CHANGE(interstitialStringInsertionIndexes, {2}),
        CHANGE(indexFromRightOfLastDigitPlaceholder, 3), CHANGE(minimumIntegerWidth, 4),
        CHANGE(decimalWidth, 2), CHANGE(numberOfNonSpaceIntegerPlaceholderDigits, 1),
        CHANGE(numberOfNonSpaceDecimalPlaceholderDigits, 1), CHANGE(isTextFormat, true),
        CHANGE(formatName, u"n"),
    };
    // clang-format on
#undef CHANGE
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

// Mended fault: the hash truncated the scale to an integer, undefined for NaN, ±∞ and |scale| >= 2^31.
TEST_F(KQUNumberFormatTest, HashIsDefinedForEveryScale) {
    const double inf = std::numeric_limits<double>::infinity();
    auto hashOf = [](double scale) {
        return KQUNumberFormat::create({.valueType = 1, .scaleFactor = scale})->hash();
    };
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
    EXPECT_TRUE(custom1->isEquivalent(*custom2) && !custom1->isEqual(*custom2));
    auto currency = KQUNumberFormat::create({.valueType = 1}),
         scientific = KQUNumberFormat::create({.valueType = 3});
    auto fraction = KQUNumberFormat::create({.valueType = 4}),
         based = KQUNumberFormat::create({.valueType = 5, .base = 2});
    EXPECT_EQ(
        (std::vector<bool>{currency->isEquivalent(*currency->numberFormatBySettingUseAccountingStyle(true)),
                           currency->isEquivalent(*currency->numberFormatBySettingCurrencyCode("EUR")),
                           currency->isEquivalent(*currency->numberFormatBySettingSuffixString(u"x")),
                           scientific->isEquivalent(*scientific->numberFormatBySettingNegativeStyle(2)),
                           scientific->isEquivalent(*scientific->numberFormatBySettingDecimalPlaces(4)),
                           fraction->isEquivalent(*fraction->numberFormatBySettingDecimalPlaces(4)),
                           fraction->isEquivalent(*fraction->numberFormatBySettingFractionAccuracy(-2)),
                           fraction->isEquivalent(*scientific),
                           based->isEquivalent(*based->numberFormatBySettingBasePlaces(8))}),
        (std::vector<bool>{false, false, true, true, false, true, false, false, false}));
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
    EXPECT_TRUE(
        KQUNumberFormat::createCustom({.formatString = u"0%"})->customFormatShouldAutoInsertPercentSymbol());
    EXPECT_FALSE(KQUNumberFormat::createCustom({.formatString = u"0'%'"})
                     ->customFormatShouldAutoInsertPercentSymbol());
    EXPECT_ASSERTION_FAILURE(KQUNumberFormat::create()->customFormatShouldAutoInsertPercentSymbol());
    EXPECT_ASSERTION_FAILURE(KQUNumberFormat::createCustom({}));
    EXPECT_EQ(KQUNumberFormatterStringFromFractionAccuracy(16), "1/16");
    EXPECT_EQ(KQUNumberFormatterStringFromValueType(6), "unknown");
    auto description = KQUNumberFormat::create({.valueType = 4, .fractionAccuracy = -2})->description();
    EXPECT_NE(description.find("Value Type: fraction\n"), std::string::npos);
    EXPECT_NE(description.find("Fraction Accuracy: up to 2 digits\n"), std::string::npos);
}

}  // namespace
