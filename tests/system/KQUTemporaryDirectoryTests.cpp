// Temporary directories: place, names and modes, and a removal that never follows a link, even a swapped one.
#include "kqutility/system/KQUTemporaryDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "kqutility/system/KQUTemporaryDirectoryTesting.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}
unsigned modeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

std::string lastComponent(const std::string& path) { return path.substr(path.rfind('/') + 1); }
long counterOf(const std::string& path) { return std::stol(path.substr(path.rfind('_') + 1)); }

class TemporaryDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(dir.file("tmp").c_str(), 0700);
        KQUTemporaryDirectoryTesting::setRoots(
            KQUTemporaryDirectoryTesting::Roots{{dir.file("none"), dir.file("tmp")}, {dir.file("tmp")}, dir.file("cache")});
    }
    void TearDown() override {
        KQUTemporaryDirectoryTesting::setRoots(std::nullopt);
        KQUTemporaryDirectoryTesting::setRemovalHook(nullptr);
    }
    test::TempDir dir;
};

TEST_F(TemporaryDirectory, PrivateUniqueAndRemovedWithItsContents) {
    auto first = KQUTemporaryDirectory::create(dir.path());
    auto second = KQUTemporaryDirectory::create(dir.path());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(modeOf(first->fileName()), 0700u);
    EXPECT_EQ(first->fileName().rfind(dir.file("tmp/"), 0), 0u) << first->fileName();
    // Made in the same second: only the counter differs.
    EXPECT_EQ(counterOf(second->fileName()), counterOf(first->fileName()) + 1);
    std::string name = lastComponent(first->fileName());
    EXPECT_EQ(name.find(KQUUserDefaults::applicationName() + "_" + std::to_string(::getpid()) + "_TEMP_"), 0u) << name;
    std::string path = first->fileName();
    ::mkdir((path + "/sub").c_str(), 0700);
    test::writeFile(path + "/sub/file", "x");
    first.reset();
    EXPECT_FALSE(exists(path));
    // A leaked directory survives its object and is no longer reported.
    const std::string kept = second->fileName();
    second->leakTemporaryDirectory();
    EXPECT_EQ(second->fileName(), "");
    EXPECT_NE(second->description().find(", (null)}"), std::string::npos) << second->description();
    second.reset();
    EXPECT_TRUE(exists(kept));
}

TEST_F(TemporaryDirectory, NamesAreCutToWholeCharactersAndCannotLeaveTheParent) {
    std::string longSignature;
    for (int i = 0; i < 120; ++i) longSignature += "\u00e9";  // 240 bytes
    auto longOne = KQUTemporaryDirectory::create(std::nullopt, longSignature + "z");
    ASSERT_TRUE(longOne);
    std::string name = lastComponent(longOne->fileName());
    EXPECT_TRUE(name.size() >= 250u && name.size() <= 255u) << name.size();
    EXPECT_TRUE(KQUUTF16FromUTF8(name)) << "cut inside a character";
    EXPECT_GT(counterOf(name), 0);
    auto sneaky = KQUTemporaryDirectory::create(std::nullopt, std::string("../../x/\0y", 10));
    ASSERT_TRUE(sneaky);
    EXPECT_EQ(sneaky->fileName().substr(0, sneaky->fileName().rfind('/')), dir.file("tmp"));
    EXPECT_NE(sneaky->fileName().find("_.._.._x__y_"), std::string::npos) << sneaky->fileName();
}

TEST_F(TemporaryDirectory, FallsBackAndLogsEachFailure) {
    test::ScopedDefault everything("KQULogLevel", "100");
    test::LogCapture log;
    // A missing path: the user-domain folder.
    ASSERT_TRUE(KQUTemporaryDirectory::create(dir.file("no/such/file")));
    EXPECT_TRUE(log.contains("KQUTemporaryDirectory: Error 2 trying to get FSRef to " + dir.file("no/such/file")));
    EXPECT_TRUE(log.contains("KQUTemporaryDirectory: Found user-domain temp directory"));
    // No user-domain folder either: the cache folder, made private.
    KQUTemporaryDirectoryTesting::setRoots(
        KQUTemporaryDirectoryTesting::Roots{{}, {dir.file("none")}, dir.file("cache/kqutility/tmp")});
    auto cached = KQUTemporaryDirectory::create(dir.path());
    ASSERT_TRUE(cached);
    EXPECT_TRUE(cached->fileName().starts_with(dir.file("cache/kqutility/tmp/")) &&
                modeOf(dir.file("cache/kqutility/tmp")) == 0700u);
    EXPECT_TRUE(log.contains("KQUTemporaryDirectory: Error 18 from FSFindFolder(1952804208) for the volume for "));
    // Nothing usable at all, or a folder type this system has no folder for: nullptr.
    KQUTemporaryDirectoryTesting::setRoots(KQUTemporaryDirectoryTesting::Roots{{}, {dir.file("none")}, ""});
    EXPECT_FALSE(KQUTemporaryDirectory::create());
    EXPECT_TRUE(log.contains("KQUTemporaryDirectory: Could not find ANY volume temporary folder."));
    SetUp();
    EXPECT_FALSE(KQUTemporaryDirectory::createWithParentFolderType(0x6465736b));  // 'desk'
}

TEST_F(TemporaryDirectory, RemovalNeverFollowsALinkEvenOneSwappedIn) {
    ::mkdir(dir.file("outside").c_str(), 0700);
    test::writeFile(dir.file("outside/precious"), "keep me");
    auto temp = KQUTemporaryDirectory::create();
    ASSERT_TRUE(temp);
    std::string path = temp->fileName();
    ASSERT_EQ(::symlink(dir.file("outside").c_str(), (path + "/planted").c_str()), 0);
    ::mkdir((path + "/sub").c_str(), 0700);
    test::writeFile(path + "/sub/inner", "");
    // Just before "sub" is opened, it is moved away and a link to outside/ takes its place.
    KQUTemporaryDirectoryTesting::setRemovalHook([&](int fd, const std::string& name) {
        if (name != "sub") return;
        ASSERT_EQ(::renameat(fd, "sub", AT_FDCWD, dir.file("moved").c_str()), 0);
        ASSERT_EQ(::symlinkat(dir.file("outside").c_str(), fd, "sub"), 0);
    });
    temp.reset();
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(test::readFile(dir.file("outside/precious")), "keep me");
    EXPECT_TRUE(exists(dir.file("moved/inner")));
}

}  // namespace
}  // namespace kqu
