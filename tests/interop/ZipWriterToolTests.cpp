// kqu zip create / rm / info end to end, checked with Python's zipfile and Info-ZIP.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <filesystem>

#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;
namespace fs = std::filesystem;

namespace {

int runKqu(const std::string& arguments, std::string* output = nullptr) {
    return runCommand(fmt::format("'{}' {} 2>&1", KQU_TOOL_PATH, arguments), output);
}

// "name size" per entry as Python's zipfile reads them (CRCs checked), in directory order.
std::string pythonListing(const std::string& path) {
    std::string output;
    runCommand(fmt::format("python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                           "[print(i.filename, len(z.read(i))) for i in z.infolist()]\" '{}' 2>&1",
                           path),
               &output);
    return output;
}

class ZipWriterTool : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.file("Doc/Data/Empty"));
        writeFile(dir.file("Doc/Index.xml"), "<index/>");
        writeFile(dir.file("Doc/Data/picture.bin"), patternBytes(200000, 1));
        writeFile(dir.file("notes.txt"), "notes");
    }
    TempDir dir;
};

}  // namespace

TEST_F(ZipWriterTool, CreatePacksDirectoriesRelativeToTheirParent) {
    std::string archive = dir.file("out.zip"), output;
    ASSERT_EQ(
        runKqu(fmt::format("zip create '{}' '{}' '{}'", archive, dir.file("Doc"), dir.file("notes.txt")),
               &output),
        0)
        << output;
    EXPECT_EQ(pythonListing(archive),
              "Doc/ 0\nDoc/Data/ 0\nDoc/Data/Empty/ 0\nDoc/Data/picture.bin 200000\nDoc/Index.xml "
              "8\nnotes.txt 5\n");
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}'", archive)), 0);
    EXPECT_EQ(runCommand(fmt::format("unzip -p '{}' Doc/Index.xml", archive), &output), 0);
    EXPECT_EQ(output, "<index/>");

    // Deflated by default, stored with --store.
    std::string stored = dir.file("stored.zip");
    ASSERT_EQ(runKqu(fmt::format("zip create --store --quiet '{}' '{}'", stored, dir.file("Doc")), &output),
              0)
        << output;
    EXPECT_EQ(output, "");
    EXPECT_GT(fs::file_size(stored), 200000u);
    EXPECT_EQ(pythonListing(stored),
              "Doc/ 0\nDoc/Data/ 0\nDoc/Data/Empty/ 0\nDoc/Data/picture.bin 200000\nDoc/Index.xml 8\n");

    // An existing archive is kept unless --force; a failed create leaves nothing behind.
    EXPECT_EQ(runKqu(fmt::format("zip create '{}' '{}'", archive, dir.file("notes.txt")), &output), 1);
    EXPECT_NE(output.find("exists; use --force"), std::string::npos);
    EXPECT_EQ(runKqu(fmt::format("zip create '{}' '{}'", dir.file("new.zip"), dir.file("missing")), &output),
              1);
    EXPECT_FALSE(fs::exists(dir.file("new.zip")));
    EXPECT_EQ(runKqu(fmt::format("zip create --force '{}' '{}'", archive, dir.file("notes.txt"))), 0);
    EXPECT_EQ(pythonListing(archive), "notes.txt 5\n");
}

TEST_F(ZipWriterTool, RemoveLeavesACompactPackage) {
    std::string archive = dir.file("out.zip"), output;
    ASSERT_EQ(runKqu(fmt::format("zip create --store --quiet '{}' '{}' '{}'", archive, dir.file("Doc"),
                                 dir.file("notes.txt"))),
              0);
    ASSERT_EQ(runKqu(fmt::format("zip rm '{}' Doc/Data/picture.bin", archive), &output), 0) << output;
    EXPECT_EQ(
        pythonListing(archive),
        "Doc/ 0\nDoc/Data/ 0\nDoc/Data/Empty/ 0\nDoc/Index.xml 8\nnotes.txt 5\n");
    ASSERT_EQ(runKqu(fmt::format("zip info '{}'", archive), &output), 0);
    EXPECT_EQ(
        output,
        "entries: 5\nfree-space entries: 0\nfree bytes: 0\nzip64: no\nencrypted: no\nhint: (none)\n");
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}'", archive)), 0);

    // Removing the next entry merges the holes; removing the last entry cuts the file.
    ASSERT_EQ(runKqu(fmt::format("zip rm --quiet '{}' Doc/Index.xml notes.txt", archive), &output), 0)
        << output;
    EXPECT_EQ(pythonListing(archive), "Doc/ 0\nDoc/Data/ 0\nDoc/Data/Empty/ 0\n");
    EXPECT_EQ(runKqu(fmt::format("zip rm '{}' nothing", archive), &output), 1);
    EXPECT_NE(output.find("no entry named nothing"), std::string::npos);
}

TEST_F(ZipWriterTool, EncryptedPackages) {
    std::string archive = dir.file("secret.zip"), output;
    writeFile(dir.file("pass"), "open sesame\n");
    ASSERT_EQ(
        runKqu(fmt::format("zip create --passphrase-file '{}' --iterations 50 --hint 'the usual' '{}' '{}'",
                           dir.file("pass"), archive, dir.file("Doc")),
               &output),
        0)
        << output;
    ASSERT_EQ(runKqu(fmt::format("zip info '{}'", archive), &output), 0);
    EXPECT_NE(output.find("encrypted: yes\nhint: the usual\n"), std::string::npos) << output;
    EXPECT_EQ(runCommand(fmt::format("unzip -l '{}' >/dev/null", archive)), 0);

    EXPECT_EQ(runKqu(fmt::format("zip rm '{}' Doc/Index.xml", archive), &output), 1);  // no passphrase
    ASSERT_EQ(runCommand(fmt::format("KQU_PASSPHRASE='open sesame' '{}' zip rm --quiet '{}' Doc/Index.xml",
                                     KQU_TOOL_PATH, archive),
                         &output),
              0)
        << output;
    ASSERT_EQ(runCommand(fmt::format("KQU_PASSPHRASE='open sesame' '{}' zip cat '{}' Doc/Data/picture.bin",
                                     KQU_TOOL_PATH, archive),
                         &output),
              0);
    EXPECT_EQ(output, patternBytes(200000, 1));
    ASSERT_EQ(runKqu(fmt::format("zip info '{}'", archive), &output), 0);
    EXPECT_NE(output.find("encrypted: yes\nhint: the usual\n"), std::string::npos) << output;
    EXPECT_EQ(runKqu(fmt::format("zip create --hint x '{}' '{}'", dir.file("x.zip"), dir.file("notes.txt")),
                     &output),
              1);
}

TEST_F(ZipWriterTool, InfoReportsZip64) {
    std::string archive = dir.file("many.zip"), output;
    {
        KQUZipArchiveOutputStream zip(archive);
        for (int i = 0; i < 65535; ++i) zip.beginEntry(fmt::format("{}", i), false, 0);
        zip.close();
    }
    ASSERT_EQ(runKqu(fmt::format("zip info '{}'", archive), &output), 0) << output;
    EXPECT_NE(output.find("entries: 65535\n"), std::string::npos);
    EXPECT_NE(output.find("zip64: yes\n"), std::string::npos);
}
