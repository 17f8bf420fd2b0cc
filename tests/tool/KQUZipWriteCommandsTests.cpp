// kqu zip create / rm / info end to end, checked with Python's zipfile and Info-ZIP.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <filesystem>

#include "tests/support/KQUTestSupport.h"

namespace kqu::test {
namespace {

namespace fs = std::filesystem;

// "name size" per entry as Python's zipfile reads them (CRCs checked), in directory order.
std::string pythonListing(const std::string& path) {
    std::string output;
    runCommand(fmt::format("python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                           "[print(i.filename, len(z.read(i))) for i in z.infolist()]\" '{}' 2>&1",
                           path),
               &output);
    return output;
}

class KquZipWrite : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.file("Doc/Data/Empty"));
        writeFile(dir.file("Doc/Index.xml"), "<index/>");
        writeFile(dir.file("Doc/Data/picture.bin"), patternBytes(200000, 1));
        writeFile(dir.file("notes.txt"), "notes");
    }
    TempDir dir;
    std::string archive = dir.file("out.zip");
    const std::string docListing =
        "Doc/ 0\nDoc/Data/ 0\nDoc/Data/Empty/ 0\nDoc/Data/picture.bin 200000\nDoc/Index.xml 8\n";
};

TEST_F(KquZipWrite, CreatePacksDirectoriesRelativeToTheirParent) {
    // An existing archive is kept unless --force; a failed create leaves nothing behind.
    ASSERT_EQ(runKqu(fmt::format("zip create '{}' '{}'", archive, dir.file("notes.txt"))).status, 0);
    auto run = runKqu(fmt::format("zip create '{}' '{}'", archive, dir.file("Doc")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("exists; use --force"), std::string::npos);
    EXPECT_EQ(runKqu(fmt::format("zip create '{}' '{}'", dir.file("new.zip"), dir.file("missing"))).status,
              1);
    EXPECT_FALSE(fs::exists(dir.file("new.zip")));
    run = runKqu(fmt::format("zip create --force '{}' '{}' '{}'", archive, dir.file("Doc"), dir.file("notes.txt")));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(pythonListing(archive), docListing + "notes.txt 5\n");
}

TEST_F(KquZipWrite, RemoveLeavesACompactPackage) {
    // (That kept entries are copied as they were is KQUZipRemoveCommand's.)
    ASSERT_EQ(runKqu(fmt::format("zip create --store --quiet '{}' '{}' '{}'", archive, dir.file("Doc"),
                                 dir.file("notes.txt")))
                  .status,
              0);
    auto run = runKqu(fmt::format("zip rm --quiet '{}' Doc/Data/picture.bin notes.txt", archive));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(
        runKqu(fmt::format("zip info '{}'", archive)).output,
        "entries: 4\nfree-space entries: 0\nfree bytes: 0\nzip64: no\nencrypted: no\nhint: (none)\n");
    run = runKqu(fmt::format("zip rm '{}' nothing", archive));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("no entry named nothing"), std::string::npos);
}

TEST_F(KquZipWrite, EncryptedPackages) {
    // (Adding to and reading from encrypted packages is KquZipAdd's and KquZipTest's.)
    writeFile(dir.file("pass"), "open sesame\n");
    auto run =
        runKqu(fmt::format("zip create --passphrase-file '{}' --iterations 50 --hint 'the usual' '{}' '{}'",
                           dir.file("pass"), archive, dir.file("Doc")));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(runCommand(fmt::format("unzip -l '{}' >/dev/null", archive)), 0);
    EXPECT_EQ(runKqu(fmt::format("zip rm '{}' Doc/Index.xml </dev/null", archive), "setsid").status, 1);
    run = runKqu(fmt::format("zip info '{}'", archive));
    EXPECT_NE(run.output.find("encrypted: yes\nhint: the usual\n"), std::string::npos) << run.output;
    EXPECT_EQ(
        runKqu(fmt::format("zip create --hint x '{}' '{}'", dir.file("x.zip"), dir.file("notes.txt"))).status,
        1);
}

}  // namespace
}  // namespace kqu::test
