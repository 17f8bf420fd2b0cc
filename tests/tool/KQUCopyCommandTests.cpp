// kqu copy: exact copies, never replacing unless asked, one-line errors, nothing left behind.
#include <gtest/gtest.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

TEST(KquCopy, CopiesExactlyAndRefusesToReplace) {
    // (Usage errors and a missing source are KquCommandLine's.)
    TempDir dir;
    std::string bytes = patternBytes(700000, 3), src = dir.file("src"), other = dir.file("other");
    writeFile(src, bytes);
    auto run = runKqu("copy " + src + " " + dir.file("dst"));
    EXPECT_EQ(run.output, "copied 700000 bytes from " + src + " to " + dir.file("dst") + "\n");
    EXPECT_EQ(readFile(dir.file("dst")), bytes);
    writeFile(other, "old");
    EXPECT_EQ(runKqu("copy " + src + " " + other).status, 1);
    EXPECT_EQ(readFile(other), "old");
    EXPECT_EQ(runKqu("copy --force --quiet " + src + " " + other).status, 0);
    EXPECT_EQ(readFile(other), bytes);
}

TEST(KquCopy, BadInputGivesOneLineAndLeavesNothingBehind) {
    TempDir dir;
    auto run = runKqu("copy " + dir.path() + " " + dir.file("dst"));
    EXPECT_EQ(run.output, "kqu: " + dir.path() + ": not a regular file\n");
    EXPECT_EQ(run.status, 1);
    std::string listing;
    runCommand("ls -A " + dir.path(), &listing);
    EXPECT_EQ(listing, "");
}

TEST(KquCopy, UnreadableSourceDoesNotLeaveATemporary) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads everything";
    TempDir dir;
    writeFile(dir.file("secret"), "x");
    ::chmod(dir.file("secret").c_str(), 0);
    EXPECT_EQ(runKqu("copy " + dir.file("secret") + " " + dir.file("dst")).status, 1);
    EXPECT_FALSE(KQUFileExists(dir.file("dst")));
}

}  // namespace
}  // namespace kqu::test
