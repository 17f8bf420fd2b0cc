// Known answers from a few lines of Python implementing the documented recurrence, not from the library.

#include "kqutility/interchange/KQUHash.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

TEST(Hash, PlainVariantKnownAnswers) {
    const unsigned char high = 0x80;
    // The byte 0x80 is sign-extended: standard FNV-1 would give 0x050c5d9f.
    EXPECT_EQ(KQUHashWithSeed(&high, 1, KQUHashStandardSeed), 0xFAF3A29Fu);
    EXPECT_EQ(KQUHashWithSeed("hello world", 11, KQUHashStandardSeed), 0x548DA96Fu);
    EXPECT_EQ(KQUHashWithSeed("abc", 3, 12345), 0xFB48FDC7u);
}

TEST(Hash, InitChoosesVariant) {
    KQUHashInitWithSystemVersion(0x1040);
    uint32_t scrambled = KQUHash("hello world", 11);
    EXPECT_EQ(scrambled, KQUScrambledHashWithSeed("hello world", 11, KQUHashStandardSeed));
    EXPECT_NE(scrambled, 0x548DA96Fu);
    KQUHashInit();
    EXPECT_EQ(KQUHash("hello world", 11), 0x548DA96Fu);
}

TEST(Hash, EmptyInputAssertsAndFallsBack) {
    EXPECT_ASSERTION_FAILURE(KQUHashWithSeed("", 0, 7));
    test::ContinueAfterAssertions keepGoing;
    test::LogCapture log;
    EXPECT_EQ(std::pair(KQUHashWithSeed("", 0, 7), KQUHashWithSeed("x", -5, 7)), std::pair(7u, 7u));
    EXPECT_TRUE(log.contains("KQUHash must have at least one byte of input."));
    // The scrambled variant mixes the seed as if no byte had been read.
    EXPECT_EQ(KQUScrambledHashWithSeed("", 0, 7), KQUScrambledHashWithSeed("", -1, 7));
}

}  // namespace
}  // namespace kqu
