// kqu zip list / extract / test / info and kqu defaults, tried as a user would on packages
// made by Python's zipfile (Unix modes, old dates, links, hostile names) and by kqu itself.
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

namespace fs = std::filesystem;

// Entries made on Unix with modes and dates; prints each file's expected mtime.
const char* kUnixPackage = R"(import sys, time, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name, data, mode, date in [('bin/', b'', 0o40555, (2022, 3, 4, 12, 34, 56)),
                                   ('bin/tool', b'#!/bin/sh\n', 0o104751, (2022, 3, 4, 12, 34, 56)),
                                   ('docs/readme.txt', b'hello\n' * 100, 0o100640, (2021, 1, 2, 3, 4, 6)),
                                   ('docs/link', b'/etc/passwd', 0o120777, (2022, 3, 4, 12, 34, 56)),
                                   ('n' * 250, b'long', 0o100644, (2022, 3, 4, 12, 34, 56))]:
        i = zipfile.ZipInfo(name, date_time=date)
        i.create_system, i.external_attr, i.compress_type = 3, mode << 16, zipfile.ZIP_DEFLATED
        z.writestr(i, data)
        print(name[:20], int(time.mktime(date + (0, 0, -1))))
)";

// "mode mtime" of path itself (not what a link leads to).
std::string statOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return fmt::format("{:o} {}", status.st_mode, status.st_mtim.tv_sec);
}

TEST(KquZipExtract, RestoresTimesAndModesAndReplacesOnlyWhenForced) {
    TempDir dir;
    std::istringstream times(runPython(dir, kUnixPackage, sq(dir.file("unix.zip"))));
    std::map<std::string, std::string> time;
    for (std::string name, seconds; times >> name >> seconds;) time[name] = seconds;
    const std::string out = dir.file("out"), operands = sq(dir.file("unix.zip")) + " " + sq(out);
    kquOk("zip extract " + operands, "umask 022;");
    EXPECT_EQ(statOf(out + "/bin/tool"), "100751 " + time["bin/tool"]);  // setuid dropped
    EXPECT_EQ(statOf(out + "/docs/readme.txt"), "100640 " + time["docs/readme.txt"]);
    EXPECT_EQ(statOf(out + "/bin"), "40755 " + time["bin/"]);       // 0555 plus the owner's rwx
    EXPECT_EQ(statOf(out + "/docs/link").substr(0, 7), "100644 ");  // a file holding the link's text
    EXPECT_EQ(readFile(out + "/docs/link"), "/etc/passwd");
    EXPECT_EQ(readFile(out + "/" + std::string(250, 'n')), "long");

    // An edited file is kept unless --force; every existing file is named, status 1.
    writeFile(out + "/docs/readme.txt", "my edits");
    auto run = runKqu("zip extract " + operands);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.output, HasSubstr(out + "/docs/readme.txt exists; use --force to replace it"));
    EXPECT_EQ(readFile(out + "/docs/readme.txt"), "my edits");

    // With --force the file is replaced, and a link in a file's place is replaced, not
    // written through.
    writeFile(dir.file("victim"), "untouched");
    fs::remove(out + "/docs/link");
    fs::create_symlink(dir.file("victim"), out + "/docs/link");
    EXPECT_EQ(kquOk("zip extract --force --quiet " + operands), "");
    EXPECT_THAT(readFile(out + "/docs/readme.txt"), ::testing::MatchesRegex("(hello\n){100}"));
    EXPECT_FALSE(fs::is_symlink(out + "/docs/link"));
    EXPECT_EQ(readFile(dir.file("victim")), "untouched");
}

TEST(KquZipExtract, NeverFollowsALinkBeneathTheTarget) {
    TempDir dir;
    runPython(dir, kUnixPackage, sq(dir.file("unix.zip")));
    auto run = runKqu("zip extract --force unix.zip out",
                      "cd " + sq(dir.path()) + " && mkdir out outside && ln -s \"$PWD/outside\" out/docs &&");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.output, HasSubstr("docs/readme.txt: refused: a symbolic link is in the way at docs"));
    EXPECT_TRUE(fs::is_empty(dir.file("outside")));
    EXPECT_EQ(readFile(dir.file("out/bin/tool")), "#!/bin/sh\n");  // the others are extracted
}

// Names with a newline, an escape sequence, a backslash and an accent, and a free-space
// entry; prints "length compressed crc" per entry as zipfile reads them.
const char* kNamesPackage = R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
for name, data in [('a\nb.txt', b'x' * 1000), ('esc\x1b[31m.txt', b'red'), ('back\\slash', b''),
                   ('caf\u00e9.txt', b'coffee' * 50), ('.QlTrash/00000001', b'\0' * 64)]:
    z.writestr(zipfile.ZipInfo(name, (2020, 2, 29, 23, 59, 58)), data,
               zipfile.ZIP_STORED if name.startswith('.Ql') else zipfile.ZIP_DEFLATED)
z.close()
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.file_size, i.compress_size, '%08x' % i.CRC)
)";

TEST(KquZipList, ReadableTablesWithEscapedNames) {
    TempDir dir;
    std::string archive = sq(dir.file("names.zip"));
    std::istringstream facts(runPython(dir, kNamesPackage, archive));
    const std::string shown[] = {"a\\nb.txt", "esc\\033[31m.txt", "back\\\\slash", "café.txt",
                                 ".QlTrash/00000001"};
    std::string porcelain, verbose = runKqu("zip list --verbose " + archive).output;
    for (size_t i = 0; i < std::size(shown); ++i) {
        std::string length, compressed, crc, method = i == 4 ? "stored" : "deflated";
        facts >> length >> compressed >> crc;
        porcelain += fmt::format("{} {} {} {} {}\n", length, compressed, method, crc, shown[i]);
        if (i == 4) continue;
        EXPECT_THAT(verbose, HasSubstr(fmt::format("  {:<18} {:>9} ", method, compressed)));
        EXPECT_THAT(verbose, HasSubstr(fmt::format("  {}  {}\n", crc, shown[i])));
    }
    EXPECT_THAT(verbose, HasSubstr("  99%  2020-02-29 23:59  "));
    const std::string plain = kquOk("zip list " + archive);
    EXPECT_EQ(plain, R"(   Length  Date       Time   Name
---------  ---------- -----  ----
     1000  2020-02-29 23:59  a\nb.txt
        3  2020-02-29 23:59  esc\033[31m.txt
        0  2020-02-29 23:59  back\\slash
      300  2020-02-29 23:59  café.txt
---------                     -------
     1303                     4 entries
)");
    const std::string all = kquOk("zip list --all --porcelain " + archive);
    EXPECT_EQ(all, porcelain);
    for (const auto& output : {plain, all, verbose})
        for (char c : output) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
    // zip cat is the one place the name's bytes pass unchanged.
    EXPECT_EQ(runKqu("zip cat " + archive + " \"$(printf 'esc\\033[31m.txt')\"").output, "red");
}

TEST(KquZipTest, EndsWithAVerdictAndCountsFreeSpaceApart) {
    TempDir dir;
    writeFiles(dir, {{"Doc/a.xml", "<a/>"}, {"Doc/c.txt", "c"}, {"pass", "secret\n"}});
    writeFile(dir.file("Doc/b.bin"), patternBytes(20000, 5));
    const std::string cd = "cd " + sq(dir.path()) + " &&";
    kquOk("zip create --store --quiet doc.zip Doc", cd);
    // Replacing a part with a shorter one leaves a free-space entry behind it.
    kquOk("zip rm --quiet doc.zip Doc/a.xml", cd);
    kquOk("zip add --quiet doc.zip Doc/b.bin", cd + " printf 'short' > Doc/b.bin &&");
    EXPECT_THAT(runKqu("zip info doc.zip", cd).output,
                StartsWith("entries: 3\nfree-space entries: 1\nfree bytes"));
    expectRuns("zip test", {{"doc.zip", "No errors detected in doc.zip (3 entries).\n", 0}}, Compare::Whole,
               cd);
    // (The verdict on damaged entries is KquZipWriters'.)

    // Encrypted: without the passphrase the contents cannot be checked, and the user is told.
    writeFile(dir.file("Doc/b.bin"), patternBytes(20000, 5));
    kquOk("zip create --quiet --passphrase-file ../pass --iterations 10 ../secret.zip b.bin",
          cd + " cd Doc &&");
    expectRuns("zip test",
               {{"secret.zip </dev/null",
                 "b.bin: stored bytes intact; contents not checked without the passphrase\n"
                 "1 of 1 entries could not be checked without the passphrase.\n",
                 1}},
               Compare::Whole, cd + " env -u KQU_PASSPHRASE setsid");
    kquOk("zip test --passphrase-file pass secret.zip", cd);
    // What comes out of an encrypted package is the owner's alone.
    kquOk("zip extract --quiet --passphrase-file pass secret.zip plain", cd + " umask 0;");
    EXPECT_EQ(statOf(dir.file("plain/b.bin")).substr(0, 7), "100600 ");
}

TEST(KquDefaults, ReadSaysWhereAValueComesFromAndWriteRefusesNonsense) {
    TempDir dir;
    const std::string env = "XDG_CONFIG_HOME=" + sq(dir.path()),
                      fallback = "KQULogLevel = error (registered default)\n",
                      inFile = "KQULogLevel = Warning (file: " + dir.path() + "/kqutility/kqu.defaults)\n";
    expectRuns(
        "defaults",
        {{"read KQULogLevel", fallback, 0},
         {"write KQULogLevel Warning", "", 0},
         {"read KQULogLevel", inFile, 0},
         {"write KQULogLevel loud",
          "kqu: KQULogLevel cannot be 'loud'; it takes error, warning, informational or a whole number "
          "(1, 10, 100)\n",
          1},
         {"write --app other myKey anything", "", 0},
         {"read KQULogLevel", inFile, 0},  // the refusal changed nothing
         {"delete KQULogLevel", "", 0},
         {"read KQULogLevel", fallback, 0}},
        Compare::Whole, env);
    EXPECT_EQ(runKqu("defaults read KQULogLevel", env + " KQU_DEFAULT_KQULogLevel=100").output,
              "KQULogLevel = 100 (environment: KQU_DEFAULT_KQULogLevel)\n");
    EXPECT_THAT(readFile(dir.file("kqutility/other.defaults")), HasSubstr("myKey = anything\n"));
    EXPECT_EQ(runKqu("defaults read noSuchKey", env).status, 1);
}

}  // namespace
}  // namespace kqu::test
