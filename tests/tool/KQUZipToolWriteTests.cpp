// kqu zip create / add / rm checked with the tools people compare them with: Info-ZIP's
// zip and zipinfo, unzip -t, Python's zipfile and 7z.
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

namespace fs = std::filesystem;

// zipinfo -v, cut into one block per entry (the archive-wide header dropped), holding what
// the entry is: that must not change (where it lies may, and the writer keeps no extra
// fields of its own).
std::map<std::string, std::string> zipinfoBlocks(const std::string& archive) {
    std::string text, line, name;
    runCommand("zipinfo -v " + sq(archive), &text);
    std::map<std::string, std::string> blocks;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        if (line.starts_with("Central directory entry #"))
            name.clear();
        else if (name.empty() && line.size() > 2 && line.starts_with("  ") &&
                 line.find("  ", 2) == std::string::npos)
            blocks[name = line.substr(2)];
        else if (!name.empty())
            for (const char* key :
                 {"(DOS date/time)", "Unix file attributes", "compression method", "compressed size",
                  "32-bit CRC", "file system or operating system of origin"})
                if (line.find(key) != std::string::npos) blocks[name] += line + "\n";
    }
    return blocks;
}

TEST(KquZipRemove, KeepsTimesModesAndMethodsOfAnInfoZipPackage) {
    TempDir dir;
    writeFiles(dir, {{"src/notes.txt", std::string(5000, 'n')},
                     {"src/sub/tool", "#!/bin/sh\necho hi\n"},
                     {"src/sub/random.bin", patternBytes(100000, 9)},
                     {"src/gone.txt", "to be removed"}});
    ASSERT_EQ(runCommand("cd " + sq(dir.file("src")) +
                         " && chmod 751 sub/tool && chmod 600 notes.txt && touch -d '2022-01-02 03:04:06' "
                         "notes.txt sub/tool gone.txt sub && zip -qr ../info.zip ."),
              0);
    std::string archive = dir.file("info.zip");
    auto before = zipinfoBlocks(archive);
    ASSERT_EQ(before.size(), 6u);
    ASSERT_NE(before["sub/tool"].find("2022 Jan 2 03:04:06"), std::string::npos) << before["sub/tool"];
    auto size = fs::file_size(archive);
    kquOk("zip rm " + sq(archive) + " gone.txt");
    auto after = zipinfoBlocks(archive);
    before.erase("gone.txt");
    EXPECT_EQ(after, before);
    EXPECT_THAT(after["sub/tool"], HasSubstr("Unix file attributes (100751 octal)"));
    EXPECT_THAT(after["sub/tool"], HasSubstr("(DOS date/time):          2022 Jan 2 03:04:06"));
    EXPECT_LT(fs::file_size(archive), size);
    EXPECT_EQ(runCommand("unzip -tqq " + sq(archive)), 0);
}

TEST(KquZipCreate, RecordsTimesAndModesStoresWhatDoesNotShrinkAndNamesAsGiven) {
    TempDir dir;
    writeFiles(dir, {{"mat/docs/text.txt", std::string(20000, 't')},
                     {"mat/docs/random.bin", patternBytes(300000, 4)}});
    const std::string cd = "cd " + sq(dir.path()) + " &&";
    ASSERT_EQ(runCommand(cd + " chmod 644 mat/docs/random.bin && chmod 640 mat/docs/text.txt && touch -d "
                              "'2023-07-08 09:10:12' mat/docs/text.txt mat/docs/random.bin mat/docs"),
              0);
    kquOk("zip create --quiet out.zip mat/docs", cd);
    // "name|date_time|create_system|mode|method|compressed size" per entry, as zipfile reads them.
    EXPECT_EQ(
        runPython(dir, R"(import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    size = i.compress_size < 1000 if i.compress_type == 8 else i.compress_size
    fields = (i.filename, i.date_time, i.create_system, i.external_attr >> 16, i.compress_type, size)
    print('%s|%s|%d|%o|%d|%s' % fields)
)",
                  sq(dir.file("out.zip"))),
        "mat/docs/|(2023, 7, 8, 9, 10, 12)|3|40755|0|0\n"
        "mat/docs/random.bin|(2023, 7, 8, 9, 10, 12)|3|100644|0|300000\n"  // stored: deflating would grow it
        "mat/docs/text.txt|(2023, 7, 8, 9, 10, 12)|3|100640|8|True\n");
    // "." packs the contents without a prefix.
    kquOk("zip create --quiet ../dot.zip .", "cd " + sq(dir.file("mat")) + " &&");
    EXPECT_THAT(kquOk("zip list --porcelain dot.zip", cd), HasSubstr(" docs/text.txt\n"));
    EXPECT_EQ(runCommand("unzip -tqq " + sq(dir.file("out.zip"))), 0);
}

TEST(KquZipAdd, ReplacesAPartInPlaceWhenItFits) {
    TempDir dir;
    writeFiles(dir,
               {{"Doc/index.xml", "<document><title>The first, rather long, version</title></document>\n"},
                {"Doc/picture.bin", patternBytes(50000, 2)},
                {"new.txt", "new"},
                {"pass", "pw\n"}});
    const std::string archive = dir.file("doc.zip"), cd = "cd " + sq(dir.path()) + " &&";
    kquOk("zip create --store --quiet doc.zip Doc", cd);
    auto size = fs::file_size(archive);

    writeFile(dir.file("Doc/index.xml"), "<document/>\n");
    expectRuns("zip add", {{"doc.zip Doc/index.xml", "added 0 and replaced 1 entry in doc.zip\n", 0}},
               Compare::Whole, cd);
    // The new part went where the old one was; the file grows only by the central record
    // (46 bytes and the name) of the free-space entry that covers the rest of the old place.
    EXPECT_EQ(fs::file_size(archive), size + 46 + std::string(".QlTrash/00000001").size());
    std::string checks;
    EXPECT_EQ(
        runCommand(cd + " unzip -tqq doc.zip && python3 -m zipfile -t doc.zip && 7z t doc.zip >/dev/null",
                   &checks),
        0)
        << checks;
    // Something new goes in too. (A part that no longer fits its place is the writer's.)
    kquOk("zip add --quiet doc.zip new.txt", cd);
    expectRuns("zip cat", {{"doc.zip Doc/index.xml", "<document/>\n", 0}, {"doc.zip new.txt", "new", 0}},
               Compare::Whole, cd);

    // An encrypted package needs its passphrase, and what is added is encrypted too.
    kquOk("zip create --quiet --iterations 10 --passphrase-file pass secret.zip Doc", cd);
    EXPECT_EQ(runKqu("zip add secret.zip new.txt </dev/null", cd + " env -u KQU_PASSPHRASE setsid").status,
              1);
    kquOk("zip add --quiet --passphrase-file pass secret.zip new.txt", cd);
    EXPECT_EQ(runKqu("zip list --porcelain secret.zip | grep ' new.txt$' | cut -d' ' -f1,3", cd).output,
              "3 stored+encrypted\n");
    EXPECT_EQ(runKqu("zip cat --passphrase-file pass secret.zip new.txt", cd).output, "new");
}

TEST(KquZipWriters, WaitForEachOtherRefuseReservedNamesAndTestFindsRenamedEntries) {
    TempDir dir;
    const std::string cd = "cd " + sq(dir.path()) + " &&";
    writeFiles(dir, {{"Doc/", ""}, {".QlTrash/0000000A", "mine"}});
    for (char c = 'a'; c <= 'f'; ++c) writeFile(dir.file(std::string("Doc/") + c), patternBytes(400000, c));
    kquOk("zip create --quiet doc.zip Doc", cd);
    // Two writers at once: each waits for the other, and neither result is lost.
    std::string out;
    const std::string rm = sq(KQU_TOOL_PATH) + " zip rm --quiet doc.zip ";
    ASSERT_EQ(runCommand("cd " + sq(dir.path()) + "; " + rm + "Doc/a Doc/b & " + rm + "Doc/c & " + rm +
                             "Doc/d; wait %1 && wait %2",
                         &out),
              0)
        << out;
    EXPECT_EQ(runKqu("zip list --porcelain doc.zip | cut -d' ' -f5", cd).output, "Doc/\nDoc/e\nDoc/f\n");

    // A file named like free space is refused, and the user is told which.
    expectRuns("zip create",
               {{"trash.zip .QlTrash",
                 "kqu: .QlTrash/0000000A: refused: the name .QlTrash/0000000A is kept for the package's free "
                 "space\n",
                 1}},
               Compare::Whole, cd);
    EXPECT_FALSE(fs::exists(dir.file("trash.zip")));

    // A byte flipped in a name in the central directory renames the entry as far as reading
    // goes; zip test compares it with the local header and reports it.
    std::string bytes = readFile(dir.file("doc.zip"));
    bytes[bytes.rfind("Doc/f") + 4] = 'g';
    writeFile(dir.file("renamed.zip"), bytes);
    auto run = runKqu("zip test renamed.zip", cd);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.output, StartsWith("Doc/g: the local header disagrees with the central directory: "));
    EXPECT_THAT(run.output, HasSubstr("\n1 of 3 entries are damaged.\n"));
}

}  // namespace
}  // namespace kqu::test
