// The atomic output file: old file or whole new one, no debris, modes from creation, errors name the path.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;

namespace {

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(int fd) {
    struct stat st;
    EXPECT_EQ(::fstat(fd, &st), 0);
    return st.st_mode & 07777;
}
mode_t modeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~mode_t{0};
}

class UmaskZero {
public:
    UmaskZero() : mSaved(::umask(0)) {}
    ~UmaskZero() { ::umask(mSaved); }

private:
    mode_t mSaved;
};

}  // namespace

TEST(KQUAtomicOutputFile, KeepPlacesFileAndLeavesNoDebris) {
    // Named temporary, replace mode, target exists, target contents afterwards, keep()'s error (0: none).
    const std::tuple<bool, KQUReplaceMode, bool, const char*, int> cases[] = {
        {false, KQUReplaceMode::ReplaceExisting, true, "new", 0},
        {false, KQUReplaceMode::NeverReplace, false, "new", 0},
        {false, KQUReplaceMode::NeverReplace, true, "old", EEXIST},
        {true, KQUReplaceMode::ReplaceExisting, true, "new", 0},
        {true, KQUReplaceMode::NeverReplace, false, "new", 0},
        {true, KQUReplaceMode::NeverReplace, true, "old", EEXIST},
    };
    for (const auto& [named, replace, targetExists, expected, errorNumber] : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "named " << named << " never " << (replace == KQUReplaceMode::NeverReplace)
                     << " exists " << targetExists);
        test::TempDir dir;
        std::string target = dir.file("doc.txt");
        if (targetExists) test::writeFile(target, "old");
        KQUAtomicOutputFile out(target, {.replace = replace, .syncToDisk = true, .namedTemporary = named});
        EXPECT_EQ(out.temporaryPath().empty(), !named);
        out.write("new");
        // Nothing at the target before keep().
        EXPECT_EQ(std::filesystem::exists(target) ? test::readFile(target) : "", targetExists ? "old" : "");
        if (errorNumber == 0) {
            out.keep();
        } else {  // EEXIST
            EXPECT_KQU_THROW(out.keep(), "KQUAtomicOutputFileError",
                             "Could not write " + target + ": File exists");
        }
        EXPECT_EQ(test::readFile(target), expected);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"doc.txt"});
    }
}

TEST(KQUAtomicOutputFile, DroppedWithoutKeepRemovesOnlyItsOwnFile) {
    test::TempDir dir;
    std::string target = dir.file("doc.txt");
    test::writeFile(target, "old");
    for (bool named : {false, true}) {
        KQUAtomicOutputFile out(target, {.namedTemporary = named});
        out.write("partial");
        if (named) {
            // Short, fixed-length, recognisable name beside the target.
            std::string name = std::filesystem::path(out.temporaryPath()).filename().string();
            EXPECT_TRUE(name.size() == 26u && name.starts_with(".kqu-")) << name;
            EXPECT_EQ(namesIn(dir.path()).size(), 2u);
        }
    }
    EXPECT_EQ(test::readFile(target), "old");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"doc.txt"});
}

TEST(KQUAtomicOutputFile, ModeIsSetAtCreationAndReplacedPermissionsCanBeKept) {
    UmaskZero umaskZero;
    test::TempDir dir;
    std::string target = dir.file("secret");
    {
        KQUAtomicOutputFile out(target, {.mode = 0600});
        EXPECT_EQ(modeOf(out.fd()), 0600u);  // before anything else touched it
        out.keep();
    }
    EXPECT_EQ(modeOf(target), 0600u);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    KQUAtomicOutputFile again(target, {.mode = 0600, .keepReplacedPermissions = true});
    again.write("x");
    again.keep();
    EXPECT_EQ(modeOf(target), 0640u);
}

TEST(KQUAtomicOutputFile, AKilledWriterLeavesNothingBehind) {
    // Unnamed files vanish with the process; a named one is removed by the next writer of that target only.
    test::TempDir dir;
    for (bool named : {false, true}) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                KQUAtomicOutputFile out(dir.file("doc"), {.namedTemporary = named});
                out.write("partial");
                ::raise(SIGKILL);
            } catch (...) {
            }
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(namesIn(dir.path()).size(), named ? 1u : 0u) << named;
    }
    std::string debris = namesIn(dir.path()).at(0);
    KQUAtomicOutputFile other(dir.file("other"), {.namedTemporary = true});
    EXPECT_EQ(namesIn(dir.path()).size(), 2u);  // another target's file is not debris
    KQUAtomicOutputFile live(dir.file("doc"), {.namedTemporary = true});
    auto names = namesIn(dir.path());
    EXPECT_EQ(std::count(names.begin(), names.end(), debris), 0);
    KQUAtomicOutputFile second(dir.file("doc"), {.namedTemporary = true});
    EXPECT_EQ(namesIn(dir.path()).size(), 3u);  // the live writer's file stays
    live.write("whole");
    live.keep();
    EXPECT_EQ(test::readFile(dir.file("doc")), "whole");
}

TEST(KQUAtomicOutputFile, ErrorsNameTheTargetPath) {
    test::TempDir dir;
    std::string target = dir.file("missing/doc.txt");
    EXPECT_KQU_THROW(KQUAtomicOutputFile{target}, "KQUAtomicOutputFileError",
                     "Could not write " + target + ": No such file or directory");
}

TEST(KQUAtomicOutputFile, KeepsTheFileAWriterPutAtTheTemporaryPath) {
    test::TempDir dir;
    std::string target = dir.file("pkg.zip");
    KQUAtomicOutputFile out(target, {.namedTemporary = true});
    // A writer that opens by path may remove and recreate the file there.
    ASSERT_EQ(::unlink(out.temporaryPath().c_str()), 0);
    test::writeFile(out.temporaryPath(), "written by path");
    out.keep();
    EXPECT_EQ(test::readFile(target), "written by path");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"pkg.zip"});
}
