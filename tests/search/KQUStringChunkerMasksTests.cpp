#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kqutility/search/KQUStringChunkerMasks.h"

using namespace kqu::chunker;

// Every vector version marks the same code units as the plain one (lane order, both halves
// of a word) and copies the text exactly. Look-alikes hold a stop in one byte only.
TEST(KQUStringChunkerMasks, EveryVersionAgreesWithThePlainOne) {
    const Stops stops{u';', u'"'};
    EXPECT_EQ(maskOfWord(u"a;b\"\n\r,x", 8, stops), 0b111010u);

    std::mt19937 random(5);
    const char16_t alphabet[] = {u'a', u',', u'"', u'\n', u'\r', u';', 0x3B3B, 0x0A00, 0x220D};
    constexpr size_t kWords = 16;
    std::u16string text(kWord * kWords, u'a');
    for (auto& c : text) c = alphabet[random() % std::size(alphabet)];
    std::vector<uint64_t> expected(kWords);
    for (size_t w = 0; w < kWords; ++w) expected[w] = maskOfWord(text.data() + w * kWord, kWord, stops);

    const auto functions = maskFunctions();
#if defined(__x86_64__)
    EXPECT_GE(functions.size(), 2u);  // the plain version and at least one vector version
#endif
    for (size_t f = 0; f < functions.size(); ++f) {
        std::vector<uint64_t> masks(kWords);
        std::u16string copy(text.size(), u'#');
        functions[f](text.data(), copy.data(), kWords, stops, masks.data());
        EXPECT_EQ(masks, expected) << "version " << f;
        EXPECT_EQ(copy, text) << "version " << f;
    }
}
