// kqu zip create / rm / info end to end, checked with Python's zipfile and Info-ZIP.
#include <gtest/gtest.h>

#include <filesystem>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquZipWrite, CreatePacksDirectoriesRelativeToTheirParent) {
    TempDir dir;
    writeFiles(
        dir,
        {{"Doc/Data/Empty/", ""}, {"Doc/Index.xml", "<index/>"}, {"notes.txt", "notes"}, {"pass", "pw\n"}});
    writeFile(dir.file("Doc/Data/picture.bin"), patternBytes(200000, 1));
    const std::string cd = "cd " + sq(dir.path()) + " &&";
    // An existing archive is kept unless --force; a failed create leaves nothing behind.
    kquOk("zip create out.zip notes.txt", cd);
    expectRuns("zip create",
               {{"out.zip Doc", "kqu: out.zip exists; use --force to replace it", 1},
                {"new.zip missing", "kqu: missing: no such file or directory", 1},
                {"--force out.zip Doc notes.txt", "created out.zip with 6 entries", 0}},
               Compare::FirstLine, cd);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.zip")));
    // "name size" per entry as Python's zipfile reads them (CRCs checked), in directory order.
    EXPECT_EQ(runPython(dir,
                        "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                        "for i in z.infolist(): print(i.filename, len(z.read(i)))\n",
                        sq(dir.file("out.zip"))),
              "Doc/ 0\nDoc/Data/ 0\nDoc/Data/Empty/ 0\nDoc/Data/picture.bin 200000\nDoc/Index.xml "
              "8\nnotes.txt 5\n");

    // zip rm leaves a compact package (that kept entries are copied as they were is
    // KQUZipRemoveCommand's), and names what is not there.
    expectRuns(
        "zip",
        {{"rm --quiet out.zip Doc/Data/picture.bin notes.txt", "", 0},
         {"info out.zip",
          "entries: 4\nfree-space entries: 0\nfree bytes: 0\nzip64: no\nencrypted: no\nhint: (none)\n", 0},
         {"rm out.zip nothing", "kqu: out.zip: no entry named nothing\n", 1}},
        Compare::Whole, cd);

    // An encrypted package lists in unzip, shows its hint, and needs its passphrase to change; a hint
    // needs encryption. (Adding to and reading from encrypted packages is KquZipAdd's and KquZipTest's.)
    kquOk("zip create --passphrase-file pass --iterations 50 --hint 'the usual' secret.zip Doc", cd);
    EXPECT_EQ(runCommand(cd + " unzip -l secret.zip >/dev/null"), 0);
    EXPECT_EQ(runKqu("zip rm secret.zip Doc/Index.xml </dev/null", cd + " setsid").status, 1);
    EXPECT_THAT(runKqu("zip info secret.zip", cd).output, HasSubstr("encrypted: yes\nhint: the usual\n"));
    EXPECT_EQ(runKqu("zip create --hint x x.zip notes.txt", cd).status, 1);
}

}  // namespace
}  // namespace kqu::test
