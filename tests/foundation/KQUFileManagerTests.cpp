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
    EXPECT_EQ(test::readFile(dir.file("a")) + test::readFile(dir.file("b")), "firstsecond");
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
    auto followed = KQUAttributesOfItem(dir.file("link")),
         link = KQUAttributesOfItem(dir.file("link"), false);
    ASSERT_TRUE(followed && link);
    EXPECT_EQ(std::pair(followed->type, followed->size), std::pair(KQUFileType::Regular, int64_t{100}));
    EXPECT_EQ(link->type, KQUFileType::SymbolicLink);
    EXPECT_FALSE(KQUAttributesOfItem(dir.file("none")));
}

TEST(FileManager, AtomicWriteCreatesParentsAndLeavesNoTemporary) {
    TempDir dir;
    std::string path = dir.file("x/y/settings");
    for (const char* text : {"k = v\n", "k = w\n"}) {
        ASSERT_TRUE(KQUWriteFileAtomically(path, text));
        EXPECT_EQ(test::readFile(path), text);
    }
    std::string listing;
    test::runCommand("ls -A " + dir.file("x/y"), &listing);
    EXPECT_EQ(listing, "settings\n");
    std::string temporary = KQUTemporaryPathNear(path);
    EXPECT_EQ(KQUDirectoryOfPath(temporary), dir.file("x/y"));
    EXPECT_FALSE(KQUFileExists(temporary));
}

}  // namespace
