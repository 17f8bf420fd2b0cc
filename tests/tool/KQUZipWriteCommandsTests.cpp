// kqu zip create / rm / info end to end, checked with Python's zipfile and Info-ZIP.
#include <gtest/gtest.h>

#include <filesystem>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

namespace fs = std::filesystem;

class KquZipWrite : public ::testing::Test {
protected:
    void SetUp() override {
        writeFiles(dir, {{"Doc/Data/Empty/", ""},
                         {"Doc/Index.xml", "<index/>"},
                         {"Doc/Data/picture.bin", patternBytes(200000, 1)},
                         {"notes.txt", "notes"}});
    }
    TempDir dir;
    const std::string archive = sq(dir.file("out.zip")), doc = sq(dir.file("Doc")),
                      notes = sq(dir.file("notes.txt"));
};

TEST_F(KquZipWrite, CreatePacksDirectoriesRelativeToTheirParent) {
    // An existing archive is kept unless --force; a failed create leaves nothing behind.
    ASSERT_EQ(runKqu("zip create " + archive + " " + notes).status, 0);
    expectRuns(
        "zip create",
        {{archive + " " + doc, "kqu: " + dir.file("out.zip") + " exists; use --force to replace it", 1},
         {sq(dir.file("new.zip")) + " " + sq(dir.file("missing")),
          "kqu: " + dir.file("missing") + ": no such file or directory", 1},
         {"--force " + archive + " " + doc + " " + notes,
          "created " + dir.file("out.zip") + " with 6 entries", 0}},
        Compare::FirstLine);
    EXPECT_FALSE(fs::exists(dir.file("new.zip")));
    // "name size" per entry as Python's zipfile reads them (CRCs checked), in directory order.
    EXPECT_EQ(runPython(dir,
                        "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                        "for i in z.infolist(): print(i.filename, len(z.read(i)))\n",
                        archive),
              "Doc/ 0\nDoc/Data/ 0\nDoc/Data/Empty/ 0\nDoc/Data/picture.bin 200000\nDoc/Index.xml "
              "8\nnotes.txt 5\n");
}

TEST_F(KquZipWrite, RemoveLeavesACompactPackage) {
    // (That kept entries are copied as they were is KQUZipRemoveCommand's.)
    ASSERT_EQ(runKqu("zip create --store --quiet " + archive + " " + doc + " " + notes).status, 0);
    expectRuns(
        "zip",
        {{"rm --quiet " + archive + " Doc/Data/picture.bin notes.txt", "", 0},
         {"info " + archive,
          "entries: 4\nfree-space entries: 0\nfree bytes: 0\nzip64: no\nencrypted: no\nhint: (none)\n", 0},
         {"rm " + archive + " nothing", "kqu: " + dir.file("out.zip") + ": no entry named nothing\n", 1}});
}

TEST_F(KquZipWrite, EncryptedPackages) {
    // (Adding to and reading from encrypted packages is KquZipAdd's and KquZipTest's.)
    writeFile(dir.file("pass"), "open sesame\n");
    auto run = runKqu("zip create --passphrase-file " + sq(dir.file("pass")) +
                      " --iterations 50 --hint 'the usual' " + archive + " " + doc);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(runCommand("unzip -l " + archive + " >/dev/null"), 0);
    EXPECT_EQ(runKqu("zip rm " + archive + " Doc/Index.xml </dev/null", "setsid").status, 1);
    run = runKqu("zip info " + archive);
    EXPECT_NE(run.output.find("encrypted: yes\nhint: the usual\n"), std::string::npos) << run.output;
    EXPECT_EQ(runKqu("zip create --hint x " + sq(dir.file("x.zip")) + " " + notes).status, 1);
}

}  // namespace
}  // namespace kqu::test
