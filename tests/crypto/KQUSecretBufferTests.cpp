// The secret buffer keeps its bytes across growth and compares by content.
#include <gtest/gtest.h>

#include "kqutility/crypto/KQUSecretBuffer.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;

TEST(KQUSecretBuffer, GrowsPopsAndComparesByContent) {
    std::string text = test::patternBytes(300, 9);
    KQUSecretBuffer grown;
    for (char c : text) grown.append(c);  // crosses several reallocations
    grown.append('\r');
    grown.popBack();
    EXPECT_EQ(grown.view(), text);
    EXPECT_TRUE(grown == KQUSecretBuffer(text));
    EXPECT_FALSE(grown == KQUSecretBuffer(text.substr(1)));
    KQUSecretBuffer moved = std::move(grown);
    EXPECT_EQ(moved.view(), text);
    EXPECT_TRUE(grown.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty by contract
}
