// kqu copy: exact copies, one-line errors, nothing left behind. (Usage errors, a missing
// source, refusing to replace and --force are KquCommandLine's.)
#include <gtest/gtest.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

TEST(KquCopy, CopiesExactly) {
    TempDir dir;
    std::string bytes = patternBytes(700000, 3), src = dir.file("src");
    writeFile(src, bytes);
    auto run = runKqu("copy " + src + " " + dir.file("dst"));
    EXPECT_EQ(run.output, "copied 700000 bytes from " + src + " to " + dir.file("dst") + "\n");
    EXPECT_EQ(readFile(dir.file("dst")), bytes);
}

TEST(KquCopy, BadSourcesGiveOneLineAndLeaveNothingBehind) {
    TempDir dir;
    auto run = runKqu("copy " + dir.path() + " " + dir.file("dst"));
    EXPECT_EQ(run.output, "kqu: " + dir.path() + ": not a regular file\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(KQUFileExists(dir.file("dst")));
    if (::geteuid() == 0) return;  // root reads everything
    writeFile(dir.file("secret"), "x");
    ::chmod(dir.file("secret").c_str(), 0);
    EXPECT_EQ(runKqu("copy " + dir.file("secret") + " " + dir.file("dst")).status, 1);
    EXPECT_FALSE(KQUFileExists(dir.file("dst")));
}

}  // namespace
}  // namespace kqu::test
