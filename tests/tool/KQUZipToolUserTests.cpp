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
z = zipfile.ZipFile(sys.argv[1], 'w')
def add(name, data, mode, date=(2022, 3, 4, 12, 34, 56)):
    i = zipfile.ZipInfo(name, date_time=date)
    i.create_system = 3
    i.external_attr = mode << 16
    i.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(i, data)
    print(name[:20], int(time.mktime(date + (0, 0, -1))))
add('bin/', b'', 0o40555)
add('bin/tool', b'#!/bin/sh\n', 0o104751)
add('docs/readme.txt', b'hello\n' * 100, 0o100640, (2021, 1, 2, 3, 4, 6))
add('docs/link', b'/etc/passwd', 0o120777)
add('n' * 250, b'long', 0o100644)
z.close()
)";

mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode;
}

int64_t mtimeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mtim.tv_sec;
}

TEST(KquZipExtract, RestoresTimesAndModesAndReplacesOnlyWhenForced) {
    TempDir dir;
    std::istringstream times(runPython(dir, kUnixPackage, sq(dir.file("unix.zip"))));
    std::map<std::string, int64_t> expectedTime;
    for (std::string name, seconds; times >> name >> seconds;) expectedTime[name] = std::stoll(seconds);
    std::string out = dir.file("out");
    auto run = runTool(fmt::format("zip extract {} {}", sq(dir.file("unix.zip")), sq(out)), "umask 022;");
    EXPECT_EQ(run.status, 0) << run.output;

    EXPECT_EQ(modeOf(out + "/bin/tool"), S_IFREG | 0751);  // setuid dropped
    EXPECT_EQ(modeOf(out + "/docs/readme.txt"), S_IFREG | 0640);
    EXPECT_EQ(modeOf(out + "/bin"), S_IFDIR | 0755);        // 0555 plus the owner's rwx
    EXPECT_EQ(modeOf(out + "/docs/link"), S_IFREG | 0644);  // a file holding the link's text
    EXPECT_EQ(readFile(out + "/docs/link"), "/etc/passwd");
    EXPECT_EQ(readFile(out + "/" + std::string(250, 'n')), "long");
    EXPECT_EQ(mtimeOf(out + "/bin/tool"), expectedTime["bin/tool"]);
    EXPECT_EQ(mtimeOf(out + "/bin"), expectedTime["bin/"]);
    EXPECT_EQ(mtimeOf(out + "/docs/readme.txt"), expectedTime["docs/readme.txt"]);

    // An edited file is kept unless --force; every existing file is named, status 1.
    writeFile(out + "/docs/readme.txt", "my edits");
    run = runTool(fmt::format("zip extract {} {}", sq(dir.file("unix.zip")), sq(out)));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(out + "/docs/readme.txt exists; use --force to replace it"), std::string::npos)
        << run.output;
    EXPECT_EQ(readFile(out + "/docs/readme.txt"), "my edits");

    // With --force the file is replaced, and a link in a file's place is replaced, not
    // written through.
    writeFile(dir.file("victim"), "untouched");
    fs::remove(out + "/docs/link");
    fs::create_symlink(dir.file("victim"), out + "/docs/link");
    run = runTool(fmt::format("zip extract --force --quiet {} {}", sq(dir.file("unix.zip")), sq(out)));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "");
    std::string readme;
    for (int i = 0; i < 100; ++i) readme += "hello\n";
    EXPECT_EQ(readFile(out + "/docs/readme.txt"), readme);
    EXPECT_FALSE(fs::is_symlink(out + "/docs/link"));
    EXPECT_EQ(readFile(dir.file("victim")), "untouched");
}

TEST(KquZipExtract, NeverFollowsALinkBeneathTheTarget) {
    TempDir dir;
    runPython(dir, kUnixPackage, sq(dir.file("unix.zip")));
    fs::create_directories(dir.file("out"));
    fs::create_directories(dir.file("outside"));
    fs::create_symlink(dir.file("outside"), dir.file("out/docs"));
    auto run =
        runTool(fmt::format("zip extract --force {} {}", sq(dir.file("unix.zip")), sq(dir.file("out"))));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("docs/readme.txt: refused: a symbolic link is in the way at docs"),
              std::string::npos)
        << run.output;
    EXPECT_TRUE(fs::is_empty(dir.file("outside")));
    EXPECT_EQ(readFile(dir.file("out/bin/tool")), "#!/bin/sh\n");  // the others are extracted
}

// Names with a newline, an escape sequence, a backslash and an accent, and a free-space
// entry; prints "length compressed crc date time" per entry as zipfile reads them.
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
    std::string archive = dir.file("names.zip");
    std::istringstream facts(runPython(dir, kNamesPackage, sq(archive)));
    const std::vector<std::string> shown = {"a\\nb.txt", "esc\\033[31m.txt", "back\\\\slash", "café.txt",
                                            ".QlTrash/00000001"};
    std::vector<std::string> porcelain;
    uint64_t total = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        uint64_t length, compressed;
        std::string crc;
        facts >> length >> compressed >> crc;
        std::string method = i == 4 ? "stored" : "deflated";
        porcelain.push_back(fmt::format("{} {} {} {} {}", length, compressed, method, crc, shown[i]));
        if (i < 4) total += length;
    }
    auto plain = runTool("zip list " + sq(archive));
    ASSERT_EQ(plain.status, 0) << plain.output;
    EXPECT_EQ(plain.output, fmt::format("   Length  Date       Time   Name\n"
                                        "---------  ---------- -----  ----\n"
                                        "     1000  2020-02-29 23:59  a\\nb.txt\n"
                                        "        3  2020-02-29 23:59  esc\\033[31m.txt\n"
                                        "        0  2020-02-29 23:59  back\\\\slash\n"
                                        "      300  2020-02-29 23:59  café.txt\n"
                                        "---------                     -------\n"
                                        "{:>9}                     4 entries\n",
                                        total));
    auto all = runTool("zip list --all --porcelain " + sq(archive));
    std::string expected;
    for (const auto& line : porcelain) expected += line + "\n";
    EXPECT_EQ(all.output, expected);
    auto verbose = runTool("zip list --verbose " + sq(archive));
    for (size_t i = 0; i < 4; ++i) {
        std::istringstream fields(porcelain[i]);
        std::string length, compressed, method, crc;
        fields >> length >> compressed >> method >> crc;
        EXPECT_NE(verbose.output.find(fmt::format("  {:<18} {:>9} ", method, compressed)), std::string::npos);
        EXPECT_NE(verbose.output.find(fmt::format("  {}  {}\n", crc, shown[i])), std::string::npos)
            << verbose.output;
    }
    EXPECT_NE(verbose.output.find("  99%  2020-02-29 23:59  "), std::string::npos) << verbose.output;
    for (const auto& output : {plain.output, all.output, verbose.output})
        for (char c : output) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
    // zip cat is the one place the name's bytes pass unchanged.
    std::string raw;
    runCommand(fmt::format("bash -c \"'{}' zip cat '{}' $'esc\\x1b[31m.txt'\"", KQU_TOOL_PATH, archive),
               &raw);
    EXPECT_EQ(raw, "red");
}

TEST(KquZipTest, EndsWithAVerdictAndCountsFreeSpaceApart) {
    TempDir dir;
    fs::create_directories(dir.file("Doc"));
    writeFile(dir.file("Doc/a.xml"), "<a/>");
    writeFile(dir.file("Doc/b.bin"), patternBytes(20000, 5));
    writeFile(dir.file("Doc/c.txt"), "c");
    std::string archive = dir.file("doc.zip");
    ASSERT_EQ(
        runTool(fmt::format("zip create --store --quiet {} {}", sq(archive), sq(dir.file("Doc")))).status, 0);
    auto run = runTool("zip test " + sq(archive));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "No errors detected in " + archive + " (4 entries).\n");

    // Replacing a part with a shorter one leaves a free-space entry behind it.
    ASSERT_EQ(runTool("zip rm --quiet " + sq(archive) + " Doc/a.xml").status, 0);
    ASSERT_EQ(runTool("zip add --quiet doc.zip Doc/b.bin",
                      "cd " + sq(dir.path()) + " && printf 'short' > Doc/b.bin &&")
                  .status,
              0);
    run = runTool("zip info " + sq(archive));
    EXPECT_EQ(run.output.substr(0, run.output.find("free bytes")), "entries: 3\nfree-space entries: 1\n");
    EXPECT_EQ(runTool("zip test " + sq(archive)).output,
              "No errors detected in " + archive + " (3 entries).\n");
    // (The verdict on damaged entries is KquZipWriters' and KquZipRead's.)
    writeFile(dir.file("Doc/b.bin"), patternBytes(20000, 5));

    // Encrypted: without the passphrase the contents cannot be checked, and the user is told.
    writeFile(dir.file("pass"), "secret\n");
    std::string secret = dir.file("secret.zip");
    ASSERT_EQ(runTool(fmt::format("zip create --quiet --passphrase-file {} --iterations 10 {} {}",
                                  sq(dir.file("pass")), sq(secret), sq(dir.file("Doc/b.bin"))))
                  .status,
              0);
    run = runTool("zip test " + sq(secret) + " </dev/null", "env -u KQU_PASSPHRASE setsid");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              "b.bin: stored bytes intact; contents not checked without the passphrase\n"
              "1 of 1 entries could not be checked without the passphrase.\n");
    run = runTool(fmt::format("zip test --passphrase-file {} {}", sq(dir.file("pass")), sq(secret)));
    EXPECT_EQ(run.status, 0) << run.output;
    // What comes out of an encrypted package is the owner's alone.
    run = runTool(fmt::format("zip extract --quiet --passphrase-file {} {} {}", sq(dir.file("pass")),
                              sq(secret), sq(dir.file("plain"))),
                  "umask 0;");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(modeOf(dir.file("plain/b.bin")), S_IFREG | 0600);
}

TEST(KquDefaults, ReadSaysWhereAValueComesFromAndWriteRefusesNonsense) {
    TempDir dir;
    std::string env = "XDG_CONFIG_HOME=" + sq(dir.path());
    auto run = runTool("defaults read KQULogLevel", env);
    EXPECT_EQ(run.output, "KQULogLevel = error (registered default)\n");
    EXPECT_EQ(runTool("defaults write KQULogLevel Warning", env).status, 0);
    EXPECT_EQ(runTool("defaults read KQULogLevel", env).output,
              "KQULogLevel = Warning (file: " + dir.path() + "/kqutility/kqu.defaults)\n");
    EXPECT_EQ(runTool("defaults read KQULogLevel", env + " KQU_DEFAULT_KQULogLevel=100").output,
              "KQULogLevel = 100 (environment: KQU_DEFAULT_KQULogLevel)\n");
    run = runTool("defaults write KQULogLevel loud", env);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.output,
        "kqu: KQULogLevel cannot be 'loud'; it takes error, warning, informational or a whole number (1, 10, "
        "100)\n");
    EXPECT_EQ(runTool("defaults write --app other myKey anything", env).status, 0);
    EXPECT_EQ(readFile(dir.file("kqutility/other.defaults")).find("myKey = anything\n") != std::string::npos,
              true);
    EXPECT_EQ(runTool("defaults read KQULogLevel", env).output.find("Warning"),
              14u);  // the refusal changed nothing
    EXPECT_EQ(runTool("defaults delete KQULogLevel", env).status, 0);
    EXPECT_EQ(runTool("defaults read KQULogLevel", env).output, "KQULogLevel = error (registered default)\n");
    EXPECT_EQ(runTool("defaults read noSuchKey", env).status, 1);
}

}  // namespace
}  // namespace kqu::test
