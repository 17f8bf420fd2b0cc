// kqu zip extract / cat on Python's packages: escaping names refused, encrypted ones need their passphrase.
// (Damage is the reader's tests'; its one-line report is KquZipMap's and KquZipWriters'.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

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
    EXPECT_EQ(std::ranges::count(run.output, '\n'), 4) << run.output;  // three refusals and the summary

    // The encrypted package of the fuzz corpus (passphrase "fuzz").
    ASSERT_EQ(
        runCommand(fmt::format("python3 '{}/fuzz/make-corpus.py' '{}'", KQU_TEST_SOURCE_DIR, dir.path())), 0);
    std::string archive = dir.file("encrypted.zip"), text;
    for (int i = 0; i < 60; ++i) text += fmt::format("line {} of some text\n", i);
    EXPECT_EQ(runKqu(fmt::format("zip cat '{}' deflated", archive), "KQU_PASSPHRASE=fuzz").output, text);
    expectRuns("zip cat", {{sq(archive) + " deflated >/dev/null", "kqu: wrong passphrase\n", 1}},
               Compare::Whole, "KQU_PASSPHRASE=wrong");
}

}  // namespace
}  // namespace kqu::test
