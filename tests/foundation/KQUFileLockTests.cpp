#include "kqutility/foundation/KQUFileLock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

using namespace std::chrono_literals;

TEST(KQUFileLock, ASecondWriterWaitsAndTimesOut) {
    test::TempDir dir;
    std::string path = dir.file("p.zip");
    test::writeFile(path, "old");
    auto first = KQUFileLock::lockForRewriting(path, 0ms);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->locksExistingFile());
    KQUError error;
    EXPECT_FALSE(KQUFileLock::lockForRewriting(path, 30ms, &error));
    EXPECT_EQ(error.code, ETIMEDOUT);
    first.reset();
    EXPECT_TRUE(KQUFileLock::lockForRewriting(path, 0ms));
}

TEST(KQUFileLock, AWaiterFollowsTheFileThatReplacedTheOneItWaitedFor) {
    test::TempDir dir;
    std::string path = dir.file("p.zip");
    test::writeFile(path, "old");
    auto first = KQUFileLock::lockForRewriting(path, 0ms);
    // The holder renames its new version into place and lets go.
    test::writeFile(dir.file("new"), "new");
    ASSERT_EQ(std::rename(dir.file("new").c_str(), path.c_str()), 0);
    first.reset();
    // The lock now stands on the new file: a third writer is kept out.
    auto second = KQUFileLock::lockForRewriting(path, 0ms);
    EXPECT_TRUE(second && !KQUFileLock::lockForRewriting(path, 0ms));
}

TEST(KQUFileLock, APathThatDoesNotExistIsLockedThroughItsDirectory) {
    test::TempDir dir;
    std::string path = dir.file("new.zip");
    auto first = KQUFileLock::lockForRewriting(path, 0ms);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->locksExistingFile() || KQUFileLock::lockForRewriting(path, 0ms));
    KQUError error;
    EXPECT_FALSE(KQUFileLock::lockForRewriting(dir.file("missing/x.zip"), 0ms, &error));
    EXPECT_EQ(error.code, ENOENT);
}

}  // namespace
}  // namespace kqu
