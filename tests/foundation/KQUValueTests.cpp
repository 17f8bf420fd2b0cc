// Values read as another type: numbers and truth from strings, as the defaults system reads them.
#include <cstdint>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUValue.h"

namespace kqu {
namespace {

TEST(KQUValueCoercion, NumbersFromStringsAsThePlatformReadsThem) {
    EXPECT_EQ(KQUValue("42").integerValue(), 42);
    EXPECT_EQ(KQUValue("  -7 apples").integerValue(), -7);
    EXPECT_EQ(KQUValue("apples").integerValue(), 0);
    EXPECT_EQ(KQUValue(3.99).intValue(), 3);
    EXPECT_EQ(KQUValue(true).integerValue(), 1);
    EXPECT_DOUBLE_EQ(KQUValue("2.5e1x").doubleValue(), 25.0);
    EXPECT_EQ(KQUValue(1e300).integerValue(), INT64_MAX);
    EXPECT_EQ(KQUValue().integerValue(), 0);
}

TEST(KQUValueCoercion, BooleansFromStringsAndNumbers) {
    for (const char* yes : {"YES", "yes", "true", "True", "1", " 00012", "+5", "y"})
        EXPECT_TRUE(KQUValue(yes).boolValue()) << yes;
    for (const char* no : {"NO", "false", "0", "", "000", "maybe", "-0"})
        EXPECT_FALSE(KQUValue(no).boolValue()) << no;
    EXPECT_TRUE(KQUValue(0.5).boolValue() && !KQUValue(int64_t(0)).boolValue());
}

}  // namespace
}  // namespace kqu
