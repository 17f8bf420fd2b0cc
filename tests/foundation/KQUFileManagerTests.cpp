#include <sys/stat.h>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using kqu::test::TempDir;

namespace {

TEST(FileManager, MoveNeverReplacesUnlessAsked) {
    TempDir dir;
    test::writeFile(dir.file("a"), "first");
    test::writeFile(dir.file("b"), "second");
    KQUError error;
    EXPECT_FALSE(KQUMoveItem(dir.file("a"), dir.file("b"), &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_EQ(test::readFile(dir.file("b")), "second");
    EXPECT_EQ(test::readFile(dir.file("a")), "first");
    EXPECT_TRUE(KQUMoveItem(dir.file("a"), dir.file("b"), &error, KQUMoveOptions::ReplaceExisting));
    EXPECT_EQ(test::readFile(dir.file("b")), "first");
    EXPECT_FALSE(KQUFileExists(dir.file("a")));
    EXPECT_TRUE(KQUMoveItem(dir.file("b"), dir.file("c")));
    EXPECT_FALSE(KQUMoveItem(dir.file("missing"), dir.file("d"), &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST(FileManager, AttributesFollowLinksOnRequest) {
    TempDir dir;
    test::writeFile(dir.file("target"), std::string(100, 'x'));
    ASSERT_EQ(::symlink("target", dir.file("link").c_str()), 0);
    auto followed = KQUAttributesOfItem(dir.file("link"));
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->type, KQUFileType::Regular);
    EXPECT_EQ(followed->size, 100);
    auto link = KQUAttributesOfItem(dir.file("link"), false);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->type, KQUFileType::SymbolicLink);
    EXPECT_FALSE(KQUAttributesOfItem(dir.file("none")));
}

TEST(FileManager, AtomicWriteCreatesParentsAndLeavesNoTemporary) {
    TempDir dir;
    std::string path = dir.file("x/y/settings");
    ASSERT_TRUE(KQUWriteFileAtomically(path, "k = v\n"));
    EXPECT_EQ(test::readFile(path), "k = v\n");
    ASSERT_TRUE(KQUWriteFileAtomically(path, "k = w\n"));
    EXPECT_EQ(test::readFile(path), "k = w\n");
    std::string listing;
    test::runCommand("ls -A " + dir.file("x/y"), &listing);
    EXPECT_EQ(listing, "settings\n");
    std::string temporary = KQUTemporaryPathNear(path);
    EXPECT_EQ(KQUDirectoryOfPath(temporary), dir.file("x/y"));
    EXPECT_FALSE(KQUFileExists(temporary));
}

}  // namespace
