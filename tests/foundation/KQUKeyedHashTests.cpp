// SipHash-1-3 against Python's hash() under PYTHONHASHSEED=0 (the all-zero key), and a per-process key.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <string>

#include "kqutility/foundation/KQUKeyedHash.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {

TEST(KQUKeyedHash, SipHash13MatchesPythonAndTheProcessKeyIsNotZero) {
    // Lengths 1, 8, 19 and 64: a tail only, one whole block, blocks and a tail, blocks only.
    std::string all;
    for (int i = 0; i < 64; ++i) all.push_back(static_cast<char>(i));
    const std::string inputs[] = {"a", "abcdefgh", "entry/name/0001.xml", all};
    std::string script = "import sys\nfor s in [b'a', b'abcdefgh', b'entry/name/0001.xml', bytes(range(64))]: "
                         "print(hash(s) & (2**64 - 1))\n";
    std::string output;
    TempDir dir;
    writeFile(dir.file("h.py"), script);
    ASSERT_EQ(runCommand("PYTHONHASHSEED=0 python3 " + dir.file("h.py"), &output), 0);
    std::string expected, keyed;
    for (const auto& input : inputs) {
        expected += fmt::format("{}\n", KQUSipHash13(input, 0, 0));
        keyed += fmt::format("{}\n", KQUKeyedHash(input));
    }
    EXPECT_EQ(output, expected);
    EXPECT_NE(keyed, expected);  // the process key is random, not zero
    EXPECT_EQ(KQUKeyedHash("abc"), KQUKeyedHash(std::string("abc")));
}

}  // namespace kqu::test
