// kqu copy: exact copies, one-line errors, nothing left behind (usage and refusals are KquCommandLine's).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquCopy, CopiesExactly) {
    TempDir dir;
    std::string bytes = patternBytes(700000, 3), src = dir.file("src");
    writeFile(src, bytes);
    expectRuns("copy",
               {{src + " " + dir.file("dst"),
                 "copied 700000 bytes from " + src + " to " + dir.file("dst") + "\n", 0},
                {dir.path() + " " + dir.file("dst2"), "kqu: " + dir.path() + ": not a regular file\n", 1}});
    EXPECT_EQ(readFile(dir.file("dst")), bytes);
    EXPECT_FALSE(std::filesystem::exists(dir.file("dst2")));
    if (::geteuid() == 0) return;  // root reads everything
    ::chmod(src.c_str(), 0);
    EXPECT_EQ(runKqu("copy " + src + " " + dir.file("dst2")).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("dst2")));
}

}  // namespace
}  // namespace kqu::test
