// Conditional number formats: choice per value, minus suppression, default answers, repaired lists.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "kqutility/format/KQUConditionalNumberFormat.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQULocale.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

class KQUConditionalNumberFormatTest : public ::testing::Test {
protected:
    KQUScopedLocaleOverride mLocale{"en_US"};
    KQUNumberFormat::Ptr mA = KQUNumberFormat::create({.decimalPlaces = 1});
    KQUNumberFormat::Ptr mB = KQUNumberFormat::create({.valueType = 2, .decimalPlaces = 0});
    KQUNumberFormat::Ptr mDefault = KQUNumberFormat::create({.valueType = 1, .negativeStyle = 2});
};

TEST_F(KQUConditionalNumberFormatTest, FirstHoldingConditionChoosesAndDropsTheMinus) {
    auto format = KQUConditionalNumberFormat::create({{1, 0}, {0, 0}}, {mA, mB}, mDefault, u"mine");
    // clang-format off
    for (const auto& [value, expected] : {std::pair{-5.0, u"5.0"}, {0.0, u"0%"}, {5.0, u"$5.00"}, {-0.0, u"0%"},
                                          {std::numeric_limits<double>::quiet_NaN(), u"NaN"}})
        // clang-format on
        EXPECT_EQ(format->stringFromDouble(value), expected) << value;
    EXPECT_EQ(std::tuple(format->stringFromDoubleWithDecimalPlaces(-5, 3, 3),
                         format->stringFromDoubleWithMinimumDecimalPlaces(-5.25, 0),
                         format->chartLabelStringFromDouble(-5)),
              std::tuple(u"5.000", u"5.3", u"5.0"));
    EXPECT_TRUE(!format->requiresParensToBeReplacedWithSpacesForDouble(-5) &&
                format->requiresParensToBeReplacedWithSpacesForDouble(5));  // the default's parentheses

    // x = v for every condition type: equal, less, less or equal, greater, greater or equal.
    const bool holds[] = {true, false, true, false, true};
    for (int type = 0; type < 5; ++type) {
        auto single = KQUConditionalNumberFormat::create({{type, 2.5}}, {mA}, mDefault);
        EXPECT_EQ(single->stringFromDouble(2.5), holds[type] ? u"2.5" : u"$2.50") << type;
        EXPECT_EQ(single->stringFromDouble(std::nan("")), u"NaN") << type;
    }
}

TEST_F(KQUConditionalNumberFormatTest, DefaultAnswersAndDerivations) {
    auto format = KQUConditionalNumberFormat::create({{3, 100}}, {mA}, mDefault, u"mine");
    auto copy = format->numberFormatBySettingDecimalPlaces(7);
    EXPECT_TRUE(copy->isEqual(*format) && copy->hash() == format->hash());
    EXPECT_NE(dynamic_cast<KQUNumberFormat*>(format->numberFormatBySettingValueType(0).get()), nullptr);
    EXPECT_FALSE(format->isEqual(*KQUConditionalNumberFormat::create({{3, 100}}, {mB}, mDefault, u"mine")) ||
                 format->isEqual(*KQUConditionalNumberFormat::create({{4, 100}}, {mA}, mDefault, u"mine")));
    EXPECT_THROW(format->conditionAtIndex(1), KQUException);
    EXPECT_THROW(format->formatAtIndex(1), KQUException);
}

// Mended faults: unequal lists read past the formats; a missing default was dereferenced.
TEST_F(KQUConditionalNumberFormatTest, MalformedListsAreRepaired) {
    EXPECT_THROW(KQUConditionalNumberFormat::create({{1, 0}, {0, 0}}, {mA}, mDefault), std::exception);
    EXPECT_THROW(KQUConditionalNumberFormat::create({}, {}, nullptr), std::exception);
    test::ContinueAfterAssertions continueAfterAssertions;
    auto shortFormats = KQUConditionalNumberFormat::create({{1, 0}, {0, 0}}, {mA}, mDefault);
    // The second condition takes no part.
    EXPECT_EQ(std::tuple(shortFormats->conditionCount(), shortFormats->stringFromDouble(0),
                         shortFormats->stringFromDouble(-1)),
              std::tuple(1u, u"$0.00", u"1.0"));
    auto noDefault = KQUConditionalNumberFormat::create({{0, 1}}, {nullptr}, nullptr);
    EXPECT_EQ(std::tuple(noDefault->stringFromDouble(1234.5), noDefault->stringFromDouble(1),
                         noDefault->valueType()),
              std::tuple(u"1,234.50", u"1.00", 0));
    auto unknownType = KQUConditionalNumberFormat::create({{9, 0}, {1, 0}}, {mB, mA}, mDefault);
    EXPECT_EQ(unknownType->stringFromDouble(-3), u"3.0");
}

}  // namespace
