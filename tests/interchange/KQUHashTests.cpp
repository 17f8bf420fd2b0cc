// Known answers computed independently (a few lines of Python implementing the documented
// recurrence), not with the library.
#include <string>

#include "kqutility/interchange/KQUHash.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

TEST(Hash, PlainVariantKnownAnswers) {
    const unsigned char zero = 0x00, high = 0x80;
    EXPECT_EQ(KQUHashWithSeed(&zero, 1, KQUHashStandardSeed), 0x050C5D1Fu);
    // The byte 0x80 is sign-extended: standard FNV-1 would give 0x050c5d9f.
    EXPECT_EQ(KQUHashWithSeed(&high, 1, KQUHashStandardSeed), 0xFAF3A29Fu);
    std::string text = "hello world";
    EXPECT_EQ(KQUHashWithSeed(text.data(), static_cast<int64_t>(text.size()), KQUHashStandardSeed),
              0x548DA96Fu);
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(KQUHashWithSeed(all.data(), 256, KQUHashStandardSeed), 0x447241C5u);
    EXPECT_EQ(KQUHashWithSeed("abc", 3, 12345), 0xFB48FDC7u);
}

TEST(Hash, InitChoosesVariant) {
    std::string text = "hello world";
    KQUHashInitWithSystemVersion(0x1040);
    uint32_t scrambled = KQUHash(text.data(), 11);
    EXPECT_EQ(scrambled, KQUScrambledHashWithSeed(text.data(), 11, KQUHashStandardSeed));
    EXPECT_NE(scrambled, 0x548DA96Fu);
    KQUHashInitWithSystemVersion(0x1050);
    EXPECT_EQ(KQUHash(text.data(), 11), 0x548DA96Fu);
    KQUHashInit();
    EXPECT_EQ(KQUHash(text.data(), 11), 0x548DA96Fu);
}

TEST(Hash, ScrambledVariantMixesNeighbours) {
    // Inputs one bit apart must differ in many output bits after the avalanche.
    uint32_t a = KQUScrambledHashWithSeed("a", 1, KQUHashStandardSeed);
    uint32_t b = KQUScrambledHashWithSeed("c", 1, KQUHashStandardSeed);
    EXPECT_GE(__builtin_popcount(a ^ b), 8);
}

TEST(Hash, EmptyInputAssertsAndFallsBack) {
    EXPECT_ASSERTION_FAILURE(KQUHashWithSeed("", 0, 7));
    test::ContinueAfterAssertions keepGoing;
    test::LogCapture log;
    EXPECT_EQ(KQUHashWithSeed("", 0, 7), 7u);
    EXPECT_EQ(KQUHashWithSeed("x", -5, 7), 7u);
    EXPECT_TRUE(log.contains("KQUHash must have at least one byte of input."));
    // The scrambled variant mixes the seed as if no byte had been read.
    EXPECT_EQ(KQUScrambledHashWithSeed("", 0, 7), KQUScrambledHashWithSeed("", -1, 7));
}

}  // namespace
}  // namespace kqu
