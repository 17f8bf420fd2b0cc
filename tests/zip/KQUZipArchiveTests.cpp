// Opening archives: the end record, the central directory, names, the common root, and
// the refusal of malformed directories.
#include <string>

#include "kqutility/zip/KQUZipArchive.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

namespace kqu {
namespace {

using test::buildArchive;
using test::TestArchiveOptions;
using test::TestEntry;

std::string fromHex(std::string_view hex) {
    KQUData bytes = test::fromHex(hex);
    return std::string(bytes.begin(), bytes.end());
}

KQUZipArchive open(const std::string& bytes, bool collapse = false) {
    return KQUZipArchive(KQUMakeData(bytes), collapse);
}

std::string contents(const std::shared_ptr<KQUZipEntry>& entry) {
    auto data = entry->data();
    return std::string(data->begin(), data->end());
}

// Written by Python's zipfile: "hello.txt" stored, "dir/data.bin" deflated ("abcdefgh" * 100).
const std::string kPythonArchive = fromHex(
    "504b03041400000000008318225018a7557b0e0000000e0000000900000068656c6c6f2e74787448656c6c6f2c20776f726c6421"
    "0a504b"
    "03041400000008008318225010d8faf012000000200300000c0000006469722f646174612e62696e4b4c4a4e494d4bcf481ca547"
    "e9511a"
    "830600504b010214031400000000008318225018a7557b0e0000000e00000009000000000000000000000080010000000068656c"
    "6c6f2e"
    "747874504b010214031400000008008318225010d8faf012000000200300000c0000000000000000000000800135000000646972"
    "2f6461"
    "74612e62696e504b0506000000000200020071000000710000000000");

TEST(ZipReaderOpen, ReadsPythonArchive) {
    auto archive = open(kPythonArchive);
    EXPECT_EQ(archive.allEntryNames(), (std::vector<std::string>{"hello.txt", "dir/data.bin"}));
    EXPECT_EQ(contents(archive.entryWithName("hello.txt")), "Hello, world!\n");
    auto data = archive.entryWithName("dir/data.bin");
    EXPECT_EQ(data->crc(), 0xF0FAD810u);
    EXPECT_EQ(data->localHeaderOffset(), 53u);
    std::string expected;
    for (int i = 0; i < 100; ++i) expected += "abcdefgh";
    EXPECT_EQ(contents(data), expected);
    EXPECT_EQ(archive.entryWithName("missing"), nullptr);
}

TEST(ZipReaderOpen, TooShortOrNoEndRecord) {
    EXPECT_KQU_THROW(open(std::string(21, 'x')), "KQUZipArchiveError", "Size overflow.");
    EXPECT_KQU_THROW(open(std::string(70000, '\0')), "KQUZipEndOfCentralDirectoryError",
                     "Could not find the end of central directory record");
    std::string multiDisk = buildArchive({{.name = "a", .data = "x"}});
    multiDisk[multiDisk.size() - 18] = 1;  // number of this disk
    EXPECT_KQU_THROW(open(multiDisk), "KQUZipEndOfCentralDirectoryError", "No multi-disk support");
}

TEST(ZipReaderOpen, Zip64EndRecords) {
    auto archive = open(buildArchive(
        {{.name = "a", .data = "abc"}, {.name = "b", .data = "de", .zip64 = true}}, {.zip64End = true}));
    EXPECT_EQ(archive.entryCount(), 2u);
    EXPECT_EQ(contents(archive.entryWithName("b")), "de");

    // Bogus Zip64 fields, one byte changed: at the locator (its signature, the record's
    // offset, the disk count) and in the Zip64 record (entry count, directory size).
    std::string bytes = buildArchive({{.name = "a", .data = "abc"}}, {.zip64End = true});
    const size_t locator = bytes.size() - 22 - 20, record = locator - 56;
    const struct {
        size_t at;
        char value;
        const char* error;
        const char* message;
    } cases[] = {
        {locator, 'X', "KQUZipEndOfCentralDirectoryError",
         "Zip64 end of central directory locator record signature not found"},
        {locator + 15, '\x7f', "KQUZipEndOfCentralDirectoryError",
         "Zip64 end of central directory record signature not found"},
        {locator + 16, 2, "KQUZipEndOfCentralDirectoryError", "No multi-disk support"},
        {record + 36, 1, "KQUZipEndOfCentralDirectoryError", "Too many zip entries"},
        {record + 47, '\x7f', "KQUZipCentralDirectoryError", "Central directory lies outside the archive"},
    };
    for (const auto& c : cases) {
        std::string damaged = bytes;
        damaged[c.at] = c.value;
        EXPECT_KQU_THROW(open(damaged), c.error, c.message);
    }
}

TEST(ZipReaderOpen, ExactlyFFFFEntriesWithoutLocator) {
    // What common tools write for exactly 65535 entries: the count field holds 0xFFFF and
    // no Zip64 records follow.
    std::vector<TestEntry> entries;
    for (int i = 0; i < 65535; ++i)
        entries.push_back({.name = fmt::format("f{}", i), .data = i % 7 ? "" : "seven"});
    auto archive = open(buildArchive(std::move(entries)));
    EXPECT_EQ(archive.entryCount(), 65535u);
    EXPECT_EQ(contents(archive.entryWithName("f65534")), "seven");
    EXPECT_EQ(contents(archive.entryWithName("f65533")), "");

    // A count of 0xFFFF whose directory does not parse still names the missing locator.
    EXPECT_KQU_THROW(open(buildArchive({{.name = "a", .data = "x"}}, {.count = 0xFFFF})),
                     "KQUZipEndOfCentralDirectoryError",
                     "Zip64 end of central directory locator record signature not found");
}

TEST(ZipReaderOpen, CentralHeaderChecks) {
    EXPECT_KQU_THROW(open(buildArchive({{.name = "a", .data = "x", .flags = 1}})),
                     "KQUZipCentralFileHeaderError", "Encrypted files are not supported");
    EXPECT_KQU_THROW(open(buildArchive({{.name = "a", .data = "x", .method = 12}})),
                     "KQUZipCentralFileHeaderError", "Unsupported compression method");
    std::string shortZip64;
    test::put16(shortZip64, 1);
    test::put16(shortZip64, 0);
    std::string bytes = buildArchive({{.name = "a", .data = "x", .centralExtra = shortZip64}});
    // Escape the uncompressed size so that the short field is needed.
    size_t central = bytes.find("PK\x01\x02");
    for (int i = 0; i < 4; ++i) bytes[central + 24 + i] = '\xff';
    EXPECT_KQU_THROW(open(bytes), "KQUZipCentralFileHeaderError",
                     "Not enough room for Zip64 uncompressed size");
    std::string badName = buildArchive({{.name = std::string("a\0b", 3), .data = "x"}});
    EXPECT_KQU_THROW(open(badName), "KQUZipFilenameError", "Could not read filename.");
}

TEST(ZipReaderOpen, ExtraFieldsAndNames) {
    auto field = [](uint32_t id, uint32_t length, const std::string& payload) {
        std::string f;
        test::put16(f, id);
        test::put16(f, length);
        return f + payload;
    };
    test::LogCapture log;
    auto archive =
        open(buildArchive({{.name = "caf\xe9",
                            .data = "1",
                            .centralExtra = field(0x636D, 7, "qlpvVVV") + field(0x636E, 9, "qlphhint!") +
                                            field(0x636F, 6, "qluuUU")},
                           {.name = "b", .data = "2", .centralExtra = field(0x9999, 200, "")}}));
    EXPECT_TRUE(archive.isEncrypted());
    EXPECT_EQ(std::string(archive.passphraseVerifier()->begin(), archive.passphraseVerifier()->end()), "VVV");
    EXPECT_EQ(archive.passphraseHint(), "hint!");
    EXPECT_EQ(std::string(archive.encryptedDocumentUuid()->begin(), archive.encryptedDocumentUuid()->end()),
              "UU");
    EXPECT_TRUE(log.contains("Invalid Zip entry extra field length"));
    // Not UTF-8: read as code page 437.
    EXPECT_NE(archive.entryWithName("caf\u0398"), nullptr);
    EXPECT_EQ(*KQUZipDecodeFilename("ok \xc3\xa9"), "ok \xc3\xa9");
    EXPECT_EQ(*KQUZipDecodeFilename("\xed\xa0\x80"),
              "\u03C6\u00E1\u00C7");  // a UTF-16 surrogate is not UTF-8
}

// (A common root that is collapsed: KQUDocumentBundle.ZipPackageWithItsRootDirectoryStripped.)
TEST(ZipReaderOpen, CollapsesCommonRoot) {
    auto mixed =
        open(buildArchive({{.name = "Doc/a.xml", .data = "a"}, {.name = "b.xml", .data = "b"}}), true);
    EXPECT_EQ(mixed.allEntryNames(), (std::vector<std::string>{"Doc/a.xml", "b.xml"}));
    auto withFreeSpace = open(buildArchive({{.name = "Doc/a.xml", .data = "a"},
                                            {.name = ".QlTrash/00000001", .data = std::string(9, '\0')}}),
                              true);
    EXPECT_EQ(withFreeSpace.entryCount(), 2u);
    EXPECT_NE(withFreeSpace.entryWithName("Doc/a.xml"), nullptr);
}

}  // namespace
}  // namespace kqu
