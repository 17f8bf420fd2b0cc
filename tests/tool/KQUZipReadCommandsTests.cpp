// kqu zip list / cat / extract / test on packages written by Info-ZIP and Python's
// zipfile: damage is one line with status 1, names that would escape the target folder
// are refused, encrypted packages need their passphrase.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

size_t lineCount(const std::string& s) {
    return size_t(std::count(s.begin(), s.end(), '\n'));
}

TEST(KquZipRead, DamageIsOneLineWithStatusOne) {
    // (A damaged entry's verdict lines are KquZipTest's.)
    TempDir dir;
    ASSERT_EQ(runCommand(fmt::format("mkdir -p '{0}/src/sub' && cd '{0}/src' && seq 1 3000 > text.txt && "
                                     "head -c 20000 /dev/urandom > sub/random.bin && zip -q -r ../a.zip . && "
                                     "zip -q -0 ../a.zip sub/random.bin",
                                     dir.path())),
              0);
    std::string bytes = readFile(dir.file("a.zip"));
    writeFile(dir.file("truncated.zip"), bytes.substr(0, bytes.size() / 2));
    auto list = runKqu(fmt::format("zip list '{}' >/dev/null", dir.file("truncated.zip")));
    EXPECT_EQ(list.status, 1);
    EXPECT_TRUE(list.output.starts_with("kqu: ")) << list.output;
    EXPECT_EQ(lineCount(list.output), 1u) << list.output;
}

TEST(KquZipRead, ExtractRefusesEscapingNames) {
    TempDir dir;
    runPython(dir, R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, data in [('good.txt', 'good'), ('../escaped.txt', 'bad'), ('/tmp/absolute-kqu-test.txt', 'bad'),
                       ('a/../../escaped2.txt', 'bad'), ('a/./b/../c.txt', 'fine')]: z.writestr(name, data)
)",
              sq(dir.file("evil.zip")));
    auto run = runKqu(fmt::format("zip extract '{}' '{}'", dir.file("evil.zip"), dir.file("out/x")));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(dir.file("out/x/good.txt")), "good");
    EXPECT_EQ(readFile(dir.file("out/x/a/c.txt")), "fine");
    for (std::string escaped : {dir.file("out/escaped.txt"), dir.file("out/escaped2.txt"),
                                std::string("/tmp/absolute-kqu-test.txt")})
        EXPECT_FALSE(std::filesystem::exists(escaped)) << escaped;
    EXPECT_EQ(lineCount(run.output), 4u) << run.output;  // three refusals and the summary
}

// The encrypted package of the fuzz corpus (passphrase "fuzz"): stored bytes are checked
// without the passphrase, the plaintext with it.
TEST(KquZipRead, EncryptedPackage) {
    TempDir dir;
    ASSERT_EQ(
        runCommand(fmt::format("python3 '{}/fuzz/make-corpus.py' '{}'", KQU_TEST_SOURCE_DIR, dir.path())), 0);
    std::string archive = dir.file("encrypted.zip"), text;
    for (int i = 0; i < 60; ++i) text += fmt::format("line {} of some text\n", i);
    EXPECT_EQ(runKqu(fmt::format("zip cat '{}' deflated", archive), "KQU_PASSPHRASE=fuzz").output, text);
    expectRuns("zip cat", {{sq(archive) + " deflated >/dev/null", "kqu: wrong passphrase\n", 1}},
               Compare::Whole, "KQU_PASSPHRASE=wrong");
    // One flipped ciphertext byte is found without the passphrase too.
    std::string bytes = readFile(archive);
    bytes[bytes.find("deflated") + 8 + 40] ^= 0x04;
    writeFile(dir.file("damaged.zip"), bytes);
    auto damaged = runKqu(fmt::format("zip test '{}' </dev/null", dir.file("damaged.zip")),
                          "env -u KQU_PASSPHRASE setsid");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.output.find("\n1 of 2 entries are damaged.\n"), std::string::npos) << damaged.output;
}

}  // namespace
}  // namespace kqu::test
