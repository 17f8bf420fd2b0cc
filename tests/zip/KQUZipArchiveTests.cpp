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
    auto hello = archive.entryWithName("hello.txt");
    ASSERT_NE(hello, nullptr);
    EXPECT_EQ(contents(hello), "Hello, world!\n");
    auto data = archive.entryWithName("dir/data.bin");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->crc(), 0xF0FAD810u);
    EXPECT_EQ(data->localHeaderOffset(), 53u);
    std::string expected;
    for (int i = 0; i < 100; ++i) expected += "abcdefgh";
    EXPECT_EQ(contents(data), expected);
    EXPECT_EQ(archive.entryWithName("missing"), nullptr);
    EXPECT_FALSE(archive.isEncrypted());
}

TEST(ZipReaderOpen, TooShortOrNoEndRecord) {
    EXPECT_KQU_THROW(open(std::string(21, 'x')), "KQUZipArchiveError", "Size overflow.");
    EXPECT_KQU_THROW(open(std::string(22, 'x')), "KQUZipEndOfCentralDirectoryError",
                     "Could not find the end of central directory record");
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

    // Bogus Zip64 fields: the record offset, the locator's signature, the entry count.
    std::string bytes = buildArchive({{.name = "a", .data = "abc"}}, {.zip64End = true});
    size_t locator = bytes.size() - 22 - 20;
    std::string badOffset = bytes;
    for (int i = 0; i < 8; ++i) badOffset[locator + 8 + i] = '\x7f';
    EXPECT_KQU_THROW(open(badOffset), "KQUZipEndOfCentralDirectoryError",
                     "Zip64 end of central directory record signature not found");
    std::string badLocator = bytes;
    badLocator[locator] = 'X';
    EXPECT_KQU_THROW(open(badLocator), "KQUZipEndOfCentralDirectoryError",
                     "Zip64 end of central directory locator record signature not found");
    std::string tooMany = bytes;
    size_t record = locator - 56;
    tooMany[record + 36] = 1;  // upper half of the total count
    EXPECT_KQU_THROW(open(tooMany), "KQUZipEndOfCentralDirectoryError", "Too many zip entries");
    std::string hugeDirectory = bytes;
    hugeDirectory[record + 47] = '\x7f';  // directory size
    EXPECT_KQU_THROW(open(hugeDirectory), "KQUZipCentralDirectoryError",
                     "Central directory lies outside the archive");
    std::string disks = bytes;
    disks[locator + 16] = 2;
    EXPECT_KQU_THROW(open(disks), "KQUZipEndOfCentralDirectoryError", "No multi-disk support");
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
    EXPECT_EQ(contents(archive.entryWithName("f7")), "seven");

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
    test::put16(shortZip64, 4);
    test::put32(shortZip64, 0);
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
    std::string verifier;
    test::put16(verifier, 0x636D);
    test::put16(verifier, 4 + 3);
    verifier += "qlpvVVV";
    std::string hint;
    test::put16(hint, 0x636E);
    test::put16(hint, 4 + 5);
    hint += "qlphhint!";
    std::string uuid;
    test::put16(uuid, 0x636F);
    test::put16(uuid, 4 + 2);
    uuid += "qluuUU";
    std::string broken;
    test::put16(broken, 0x9999);
    test::put16(broken, 200);
    test::LogCapture log;
    auto archive =
        open(buildArchive({{.name = "caf\xe9", .data = "1", .centralExtra = verifier + hint + uuid},
                           {.name = "b", .data = "2", .centralExtra = broken}}));
    EXPECT_TRUE(archive.isEncrypted());
    EXPECT_EQ(std::string(archive.passphraseVerifier()->begin(), archive.passphraseVerifier()->end()), "VVV");
    EXPECT_EQ(archive.passphraseHint(), "hint!");
    EXPECT_EQ(std::string(archive.encryptedDocumentUuid()->begin(), archive.encryptedDocumentUuid()->end()),
              "UU");
    EXPECT_TRUE(log.contains("Invalid Zip entry extra field length"));
    // Not UTF-8: read as code page 437.
    EXPECT_NE(archive.entryWithName("caf\u0398"), nullptr);
    EXPECT_EQ(*KQUZipDecodeFilename("\x80\xff"), "\u00C7\u00A0");
    EXPECT_EQ(*KQUZipDecodeFilename("ok \xc3\xa9"), "ok \xc3\xa9");
    EXPECT_EQ(*KQUZipDecodeFilename("\xed\xa0\x80"),
              "\u03C6\u00E1\u00C7");  // a UTF-16 surrogate is not UTF-8
}

TEST(ZipReaderOpen, CollapsesCommonRoot) {
    auto archive = open(buildArchive({{.name = "Doc/a.xml", .data = "a"},
                                      {.name = "Doc/Data/b.png", .data = "b"},
                                      {.name = "Doc/", .data = ""}}),
                        true);
    EXPECT_EQ(archive.allEntryNames(), (std::vector<std::string>{"a.xml", "Data/b.png"}));
    EXPECT_EQ(contents(archive.entryWithName("Data/b.png")), "b");
    auto mixed =
        open(buildArchive({{.name = "Doc/a.xml", .data = "a"}, {.name = "b.xml", .data = "b"}}), true);
    EXPECT_EQ(mixed.allEntryNames(), (std::vector<std::string>{"Doc/a.xml", "b.xml"}));
    auto single = open(buildArchive({{.name = "a.xml", .data = "a"}}), true);
    EXPECT_EQ(single.allEntryNames(), (std::vector<std::string>{"a.xml"}));
    auto withFreeSpace = open(buildArchive({{.name = "Doc/a.xml", .data = "a"},
                                            {.name = ".QlTrash/00000001", .data = std::string(9, '\0')}}),
                              true);
    EXPECT_EQ(withFreeSpace.entryCount(), 2u);
    EXPECT_NE(withFreeSpace.entryWithName("Doc/a.xml"), nullptr);
}

}  // namespace
}  // namespace kqu
