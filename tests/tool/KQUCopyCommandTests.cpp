#include <gtest/gtest.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using kqu::test::TempDir;

namespace {

std::string kqu(const std::string& arguments, int* status) {
    std::string output;
    *status = test::runCommand(std::string(KQU_TOOL_PATH) + " " + arguments + " 2>&1", &output);
    return output;
}

TEST(KquCopy, CopiesExactlyAndRefusesToReplace) {
    TempDir dir;
    std::string bytes = test::patternBytes(700000, 3);
    test::writeFile(dir.file("src"), bytes);
    int status;
    EXPECT_EQ(kqu("copy " + dir.file("src") + " " + dir.file("dst"), &status),
              "copied 700000 bytes from " + dir.file("src") + " to " + dir.file("dst") + "\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::readFile(dir.file("dst")), bytes);

    test::writeFile(dir.file("other"), "old");
    EXPECT_EQ(kqu("copy " + dir.file("src") + " " + dir.file("other"), &status),
              "kqu: " + dir.file("other") + " exists; use --force to replace it\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(test::readFile(dir.file("other")), "old");
    kqu("copy --force --quiet " + dir.file("src") + " " + dir.file("other"), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::readFile(dir.file("other")), bytes);
}

TEST(KquCopy, BadInputGivesOneLineAndLeavesNothingBehind) {
    TempDir dir;
    int status;
    EXPECT_EQ(kqu("copy " + dir.file("missing") + " " + dir.file("dst"), &status),
              "kqu: " + dir.file("missing") + ": no such file\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(kqu("copy " + dir.path() + " " + dir.file("dst"), &status),
              "kqu: " + dir.path() + ": not a regular file\n");
    std::string listing;
    test::runCommand("ls -A " + dir.path(), &listing);
    EXPECT_EQ(listing, "");
    kqu("frobnicate", &status);
    EXPECT_EQ(status, 2);
}

TEST(KquCopy, UnreadableSourceDoesNotLeaveATemporary) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads everything";
    TempDir dir;
    test::writeFile(dir.file("secret"), "x");
    ::chmod(dir.file("secret").c_str(), 0);
    int status;
    kqu("copy " + dir.file("secret") + " " + dir.file("dst"), &status);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(KQUFileExists(dir.file("dst")));
}

}  // namespace
