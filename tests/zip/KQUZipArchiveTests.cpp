// The reader: records, names, the common root, entries (stored, deflated, encrypted, threaded), and damaged
// packages, which must end in a KQUException naming the fault (never a crash or wrong data read as good).
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/data/KQUDataRepresentation.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipCrc32.h"
#include "kqutility/zip/KQUZipException.h"
#include "kqutility/zip/KQUZipHeaderCheck.h"
#include "kqutility/zip/KQUZipPackageLayout.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

namespace kqu {
namespace {

using namespace test;

KQUZipArchive open(const std::string& bytes, bool collapse = false) {
    return KQUZipArchive(KQUMakeData(bytes), collapse);
}

std::string contents(const std::shared_ptr<KQUZipEntry>& entry) {
    auto data = entry->data();
    return std::string(data->begin(), data->end());
}

std::string readAll(KQUInputStream& stream, uint32_t chunk = 4096) {
    std::string out(chunk, '\0'), all;
    while (uint32_t n = stream.readToBuffer(out.data(), chunk)) all.append(out.data(), n);
    return all;
}

struct Refusal {
    std::string bytes;
    const char *error, *message;
};
void expectRefused(const std::vector<Refusal>& cases) {
    for (const auto& c : cases) EXPECT_KQU_THROW(open(c.bytes), c.error, c.message);
}

// Written by Python's zipfile: "hello.txt" stored, "dir/data.bin" deflated ("abcdefgh" * 100).
const std::string kPythonArchive = [] {
    KQUData bytes = fromHex(
        "504b03041400000000008318225018a7557b0e0000000e0000000900000068656c6c6f2e74787448656c6c6f2c20776f726c"
        "64210a504b03041400000008008318225010d8faf012000000200300000c0000006469722f646174612e62696e4b4c4a4e49"
        "4d4bcf481ca547e9511a830600504b010214031400000000008318225018a7557b0e0000000e000000090000000000000000"
        "00000080010000000068656c6c6f2e747874504b010214031400000008008318225010d8faf012000000200300000c000000"
        "00000000000000008001350000006469722f646174612e62696e504b0506000000000200020071000000710000000000");
    return std::string(bytes.begin(), bytes.end());
}();

TEST(ZipReaderOpen, ReadsPythonArchive) {
    auto archive = open(kPythonArchive);
    EXPECT_EQ(archive.allEntryNames(), (std::vector<std::string>{"hello.txt", "dir/data.bin"}));
    EXPECT_EQ(contents(archive.entryWithName("hello.txt")), "Hello, world!\n");
    auto data = archive.entryWithName("dir/data.bin");
    EXPECT_EQ(
        std::tuple(data->crc(), data->localHeaderOffset(), zlibCrc(contents(data)), contents(data).size()),
        std::tuple(0xF0FAD810u, 53u, 0xF0FAD810u, size_t{800}));  // zlib.crc32(b"abcdefgh" * 100)
    EXPECT_EQ(archive.entryWithName("missing"), nullptr);
}

TEST(ZipReaderOpen, TooShortOrNoEndRecord) {
    std::string multiDisk = buildArchive({{.name = "a", .data = "x"}});
    multiDisk[multiDisk.size() - 18] = 1;  // number of this disk
    expectRefused({{std::string(21, 'x'), "KQUZipArchiveError", "Size overflow."},
                   {std::string(70000, '\0'), "KQUZipEndOfCentralDirectoryError",
                    "Could not find the end of central directory record"},
                   {multiDisk, "KQUZipEndOfCentralDirectoryError", "No multi-disk support"}});
}

TEST(ZipReaderOpen, Zip64EndRecords) {
    auto archive = open(buildArchive(
        {{.name = "a", .data = "abc"}, {.name = "b", .data = "de", .zip64 = true}}, {.zip64End = true}));
    EXPECT_EQ(archive.entryCount(), 2u);
    EXPECT_EQ(contents(archive.entryWithName("b")), "de");

    // One byte changed: the locator's signature, record offset, disk count; the record's count, directory
    // size.
    const std::string bytes = buildArchive({{.name = "a", .data = "abc"}}, {.zip64End = true});
    const size_t locator = bytes.size() - 22 - 20, record = locator - 56;
    auto damaged = [&](size_t at, char value) { return bytes.substr(0, at) + value + bytes.substr(at + 1); };
    expectRefused({
        {damaged(locator, 'X'), "KQUZipEndOfCentralDirectoryError",
         "Zip64 end of central directory locator record signature not found"},
        {damaged(locator + 15, '\x7f'), "KQUZipEndOfCentralDirectoryError",
         "Zip64 end of central directory record signature not found"},
        {damaged(locator + 16, 2), "KQUZipEndOfCentralDirectoryError", "No multi-disk support"},
        {damaged(record + 36, 1), "KQUZipEndOfCentralDirectoryError", "Too many zip entries"},
        {damaged(record + 47, '\x7f'), "KQUZipCentralDirectoryError",
         "Central directory lies outside the archive"},
    });
}

TEST(ZipReaderOpen, ExactlyFFFFEntriesWithoutLocator) {
    // What common tools write for exactly 65535 entries: a count of 0xFFFF and no Zip64 records.
    std::vector<TestEntry> entries;
    for (int i = 0; i < 65535; ++i)
        entries.push_back({.name = fmt::format("f{}", i), .data = i % 7 ? "" : "seven"});
    auto archive = open(buildArchive(std::move(entries)));
    EXPECT_EQ(archive.entryCount(), 65535u);
    EXPECT_EQ(contents(archive.entryWithName("f65534")) + "|" + contents(archive.entryWithName("f65533")),
              "seven|");
    // A count of 0xFFFF whose directory does not parse still names the missing locator.
    expectRefused(
        {{buildArchive({{.name = "a", .data = "x"}}, {.count = 0xFFFF}), "KQUZipEndOfCentralDirectoryError",
          "Zip64 end of central directory locator record signature not found"}});
}

TEST(ZipReaderOpen, CentralHeaderChecks) {
    const std::string shortZip64("\1\0\0\0", 4);  // a Zip64 field without room for the escaped size
    const char* header = "KQUZipCentralFileHeaderError";
    expectRefused({
        {buildArchive({{.name = "a", .data = "x", .flags = 1}}), header, "Encrypted files are not supported"},
        {buildArchive({{.name = "a", .data = "x", .method = 12}}), header, "Unsupported compression method"},
        {buildArchive(
             {{.name = "a", .data = "x", .uncompressedSize = 0xFFFFFFFF, .centralExtra = shortZip64}}),
         header, "Not enough room for Zip64 uncompressed size"},
        {buildArchive({{.name = std::string("a\0b", 3), .data = "x"}}), "KQUZipFilenameError",
         "Could not read filename."},
    });
}

TEST(ZipReaderOpen, ExtraFieldsAndNames) {
    LogCapture log;
    // Verifier, hint and UUID fields (0x636D-0x636F, "ql" signatures), then one longer than its block.
    const std::string library("mc\7\0qlpvVVVnc\11\0qlphhint!oc\6\0qluuUU", 34), tooLong("\x99\x99\xc8\0", 4);
    auto archive = open(buildArchive({{.name = "caf\xe9", .data = "1", .centralExtra = library},
                                      {.name = "b", .data = "2", .centralExtra = tooLong}}));
    EXPECT_TRUE(archive.isEncrypted());
    auto text = [](const KQUDataRef& d) { return std::string(d->begin(), d->end()); };
    EXPECT_EQ(std::tuple(text(archive.passphraseVerifier()), *archive.passphraseHint(),
                         text(archive.encryptedDocumentUuid())),
              std::tuple("VVV", "hint!", "UU"));
    EXPECT_TRUE(log.contains("Invalid Zip entry extra field length"));
    // Not UTF-8: read as code page 437 (a UTF-16 surrogate is not UTF-8 either).
    EXPECT_NE(archive.entryWithName("caf\u0398"), nullptr);
    EXPECT_EQ(*KQUZipDecodeFilename("ok \xc3\xa9"), "ok \xc3\xa9");
    EXPECT_EQ(*KQUZipDecodeFilename("\xed\xa0\x80"), "\u03C6\u00E1\u00C7");
}

TEST(ZipReaderOpen, CollapsesCommonRoot) {  // collapsed: KQUDocumentBundle tests
    auto mixed =
        open(buildArchive({{.name = "Doc/a.xml", .data = "a"}, {.name = "b.xml", .data = "b"}}), true);
    EXPECT_EQ(mixed.allEntryNames(), (std::vector<std::string>{"Doc/a.xml", "b.xml"}));
    auto withFreeSpace = open(buildArchive({{.name = "Doc/a.xml", .data = "a"},
                                            {.name = ".QlTrash/00000001", .data = std::string(9, '\0')}}),
                              true);
    EXPECT_EQ(withFreeSpace.allEntryNames(), (std::vector<std::string>{"Doc/a.xml", ".QlTrash/00000001"}));
}

TEST(ZipReaderEntry, DeflatedMegabyteInOneRead) {
    std::string big = patternBytes(700'000, 4) + std::string(348'576, 'z');
    auto archive = open(buildArchive({{.name = "big", .data = big, .deflate = true}}));
    auto entry = archive.entryWithName("big");
    auto reading = entry->inputStream();
    std::string out(big.size(), '\0');
    EXPECT_EQ(reading->readToBuffer(out.data(), 0), 0u);  // a 0-byte request once ended the stream
    EXPECT_EQ(reading->readToBuffer(out.data(), static_cast<uint32_t>(out.size())), big.size());
    EXPECT_EQ(out, big);
    // Lent blocks are never larger than the output buffer.
    auto lending = std::dynamic_pointer_cast<KQUBufferedInputStreamProtocol>(entry->inputStream());
    const char* block = nullptr;
    EXPECT_EQ(lending->readToOwnBuffer(&block, UINT32_MAX), 262144u);
}

TEST(ZipReaderEntry, CrcMismatchIsDetected) {
    // One bit of stored data flipped: the central directory still describes the original bytes.
    std::string text(5000, 'q');
    std::string damaged = buildArchive({{.name = "stored", .data = text}});
    damaged[30 + 6 + 100] ^= 0x01;
    EXPECT_KQU_THROW(open(damaged).entryWithName("stored")->data(), "KQUZipEntryError",
                     (fmt::format("CRC-32 mismatch (expected {:08x}, found {:08x})", zlibCrc(text),
                                  zlibCrc(damaged.substr(36, 5000)))));
    // A wrong CRC in the directory for intact deflated data.
    auto wrongCrc = open(buildArchive({{.name = "d", .data = text, .deflate = true, .crc = 0x12345678}}));
    EXPECT_KQU_THROW(contents(wrongCrc.entryWithName("d")), "KQUZipEntryError", "");
    // Corrupt deflate data is either refused by zlib or caught by the CRC.
    std::string deflated = rawDeflate(text + "!");
    deflated[deflated.size() / 2] ^= 0x10;
    auto corrupt =
        open(buildArchive({{.name = "d", .data = text + "!", .deflate = true, .stored = deflated}}));
    EXPECT_THROW(contents(corrupt.entryWithName("d")), KQUException);
}

TEST(ZipReaderEntry, SizesThatLieAreRefused) {
    const std::string text = "some text that compresses some text that compresses";
    const std::string random = patternBytes(3000, 2);
    const struct {
        TestEntry entry;
        const char *error, *message;
    } cases[] = {
        // The deflate data ends before the claimed size.
        {{.name = "d", .data = text, .deflate = true, .uncompressedSize = 60}, "KQUZipEntryError", ""},
        // A claimed size no deflate stream of that length can produce is refused before allocating.
        {{.name = "d", .data = text, .deflate = true, .uncompressedSize = 0xF0000000},
         "KQUZipEntryError",
         "Couldn't read data with size: 4026531840"},
        // Compressed data that ends inside the deflate stream.
        {{.name = "d", .data = random, .deflate = true, .stored = rawDeflate(random).substr(0, 100)},
         "KQUZipInflateError",
         "inflate() failed: -5"},
        // A stored entry whose two sizes differ.
        {{.name = "d", .data = "abc", .uncompressedSize = 2}, "KQUZipEntryError", ""},
    };
    for (const auto& c : cases)
        EXPECT_KQU_THROW(open(buildArchive({c.entry})).entryWithName("d")->data(), c.error, c.message);
}

TEST(ZipReaderEntry, LocalHeaders) {
    // A longer extra field in the local header than in the central one.
    auto longer =
        open(buildArchive({{.name = "a", .data = "payload", .localExtra = std::string(12, '\x07')}}));
    EXPECT_EQ(contents(longer.entryWithName("a")), "payload");

    LogCapture log;
    auto wrong = open(buildArchive({{.name = "a", .data = "payload", .localSignature = 0x04034B51}}));
    auto entry = wrong.entryWithName("a");
    EXPECT_EQ(std::tuple(entry->inputStream(), entry->isReadable()), std::tuple(nullptr, false));
    EXPECT_KQU_THROW(entry->data(), "KQUZipEntryError", "Local file header record signature not found");

    // A local header whose extra field claims bytes beyond the entry's place.
    std::string bytes = buildArchive({{.name = "a", .data = "payload"}, {.name = "b", .data = "more"}});
    bytes[28] = '\x40';  // local extra length of a: 64
    EXPECT_KQU_THROW(open(bytes).entryWithName("a")->inputStream(), "KQUZipEntryError", "");
}

// The same plaintext encrypted stored and deflated-then-encrypted, after a free-space entry.
struct EncryptedArchive {
    KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("passphrase", 1000);
    std::string plaintext = patternBytes(70'000, 8) + std::string(30'000, 'e');
    std::string bytes;
    EncryptedArchive() {
        TempDir dir;
        KQUZipArchiveOutputStream zip(dir.file("e.zip"), key);
        zip.beginEntry("gap", false, 100);
        zip.writeBuffer(plaintext.data(), 100);
        for (const char* name : {"stored", "deflated"}) {
            zip.beginEntry(name, name[0] == 'd', plaintext.size());
            zip.writeBuffer(plaintext.data(), static_cast<uint32_t>(plaintext.size()));
        }
        zip.removeEntry("gap");
        zip.close();
        bytes = readFile(dir.file("e.zip"));
    }
};

TEST(ZipReaderEntry, EncryptedEntries) {
    EncryptedArchive fixture;
    auto archive = open(fixture.bytes);
    EXPECT_KQU_THROW(archive.entryWithName("stored")->inputStream(), "KQUZipEntryError",
                     "The entry is encrypted; a key is needed to read it.");
    auto early = archive.entryWithName("deflated");
    // Plain entries of an encrypted archive are read without the key.
    EXPECT_EQ(contents(archive.entryWithName(".QlTrash/00000001")).find_first_not_of('\0'),
              std::string::npos);
    archive.setCryptoKey(fixture.key);
    EXPECT_TRUE(early->isEncrypted());
    EXPECT_EQ(contents(archive.entryWithName("stored")), fixture.plaintext);
    EXPECT_EQ(contents(early), fixture.plaintext);
    EXPECT_ASSERTION_FAILURE(archive.entryWithName(".QlTrash/00000001", 5));
    EXPECT_EQ(archive.entryWithName("stored", 100'000)->dataLength(), 100'000);
}

TEST(ZipReaderEntry, EncryptedEntryCrcCoversStoredBytes) {
    EncryptedArchive fixture;
    // A ciphertext byte damaged mid-entry: the stored bytes' CRC fails (the padding may well still decode).
    fixture.bytes[fixture.bytes.find("stored") + 6 + 5000] ^= 0x20;
    auto archive = open(fixture.bytes);
    archive.setCryptoKey(fixture.key);
    EXPECT_KQU_THROW(contents(archive.entryWithName("stored")), "KQUZipEntryError", "");
    EXPECT_KQU_THROW(readAll(*archive.entryWithName("stored")->storedInputStream()), "KQUZipEntryError", "");
    EXPECT_EQ(contents(archive.entryWithName("deflated")), fixture.plaintext);
}

TEST(ZipReaderEntry, CopyToFile) {
    TempDir dir;
    std::string text = patternBytes(400'000, 6);
    auto archive = open(
        buildArchive({{.name = "a", .data = text, .deflate = true}, {.name = "bad", .data = "x", .crc = 1}}));
    archive.entryWithName("a")->copyToFile(dir.file("a"));
    EXPECT_EQ(readFile(dir.file("a")), text);
    writeFile(dir.file("bad"), "previous");
    EXPECT_KQU_THROW(archive.entryWithName("bad")->copyToFile(dir.file("bad")), "KQUZipEntryError", "");
    EXPECT_EQ(readFile(dir.file("bad")), "previous");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // no temporary left
}

TEST(ZipReaderEntry, ReadsFromSeveralThreads) {
    TempDir dir;
    std::vector<TestEntry> entries;
    for (int i = 0; i < 8; ++i)
        entries.push_back(
            {.name = fmt::format("e{}", i), .data = patternBytes(100'000 + i, i), .deflate = i % 2 == 0});
    writeFile(dir.file("a.zip"), buildArchive(entries));
    KQUZipArchive archive(dir.file("a.zip"));
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0, e = t; i < 32; ++i, e = (i + t) % 8)
                good += contents(archive.entryWithName(fmt::format("e{}", e))) == entries[e].data;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good.load(), 4 * 32);
}

// Every implementation this processor can run, around its folding steps and at an odd start.
TEST(ZipReaderCrc, MatchesZlibForAllLengthsAndAlignments) {
    EXPECT_EQ(KQUZipCrc32(0, "123456789", 9), 0xCBF43926u);  // the standard check value
    std::string big = patternBytes(70'000, 13);
    uint32_t crc = KQUZipCrc32(0, big.data(), 1000);
    EXPECT_EQ(KQUZipCrc32(crc, big.data() + 1000, big.size() - 1000), zlibCrc(big));  // continued
    for (const char* implementation : {"vpclmulqdq", "pclmulqdq", "zlib"}) {
        uint32_t result = 0;
        if (!KQUZipCrc32Using(implementation, 0, big.data(), big.size(), &result)) continue;
        EXPECT_EQ(result, zlibCrc(big)) << implementation;
        for (size_t length : {0, 15, 16, 63, 64, 255, 256, 257, 511, 512, 4111}) {
            ASSERT_TRUE(KQUZipCrc32Using(implementation, 7, big.data() + 3, length, &result));
            EXPECT_EQ(result,
                      crc32(7, reinterpret_cast<const Bytef*>(big.data() + 3), static_cast<uInt>(length)))
                << implementation << " " << length;
        }
    }
    EXPECT_FALSE(KQUZipCrc32Using("no such thing", 0, big.data(), 1, &crc));
}

// True when every entry reads as sound, false on a KQUException; any other exception fails the test.
bool readsAsSound(const std::string& bytes) {
    try {
        for (const auto& entry : open(bytes).allEntries()) entry->data();
        return true;
    } catch (const KQUException&) {
        return false;
    }
}

// An archive written by Info-ZIP: a deflated text and stored random bytes.
std::string makeArchive(const TempDir& dir) {
    EXPECT_EQ(runCommand(fmt::format("mkdir -p '{0}/src' && cd '{0}/src' && seq 1 3000 > text.txt && "
                                     "head -c 20000 /dev/urandom > random.bin && zip -q ../a.zip text.txt && "
                                     "zip -q -0 ../a.zip random.bin",
                                     dir.path())),
              0);
    return readFile(dir.file("a.zip"));
}

TEST(ZipReaderDamage, TruncatedArchivesAreRefused) {
    TempDir dir;
    std::string bytes = makeArchive(dir);
    ASSERT_TRUE(readsAsSound(bytes));
    for (size_t length = 0; length<bytes.size(); length += length + 30> bytes.size() || length < 40 ? 1 : 97)
        EXPECT_FALSE(readsAsSound(bytes.substr(0, length))) << length;
}

TEST(ZipReaderDamage, FlippedBitsNeverReadAsGoodData) {
    TempDir dir;
    std::string bytes = makeArchive(dir);
    std::string text = readFile(dir.file("src/text.txt")), random = readFile(dir.file("src/random.bin"));
    std::mt19937 generator(7);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = bytes;
        size_t position = generator() % damaged.size();
        damaged[position] ^= static_cast<char>(1 << (generator() % 8));
        try {
            auto archive = open(damaged);
            // Whatever is read as sound must be exactly what was archived.
            for (const auto& [name, original] :
                 {std::pair{"text.txt", text}, std::pair{"random.bin", random}}) {
                auto entry = archive.entryWithName(name);
                EXPECT_EQ(entry ? contents(entry) : original, original) << position;
            }
        } catch (const KQUException&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 100);
}

// An entry whose local header offset points into another entry.
TEST(ZipReaderDamage, OverlappingEntriesAreRefused) {
    TempDir dir;
    std::string bytes = makeArchive(dir);
    size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
    ASSERT_NE(second, std::string::npos);
    bytes.replace(second + 42, 4, 4, '\0');
    EXPECT_FALSE(readsAsSound(bytes));
}

TEST(KQUZipWriterNames, FreeSpaceNamesAreRefusedBeforeAnythingChanges) {
    TempDir dir;
    std::string path = dir.file("p.zip");
    KQUZipArchiveOutputStream writer(path);
    writer.beginEntry("kept.txt", false, 2);
    writer.writeBuffer("ok", 2);
    EXPECT_KQU_THROW(writer.beginEntry(".QlTrash/0000ABCD", false, 1), "KQUZipOutputError",
                     "File name .QlTrash/0000ABCD is reserved for free space");
    writer.beginEntry(".QlTrash/0000abcd", false, 1);  // only looks alike: an ordinary name
    writer.writeBuffer("x", 1);
    writer.close();
    EXPECT_EQ(KQUZipArchive(path).allEntries().size(), 2u);
    EXPECT_EQ(readFile(path).find(".QlTrash/0000ABCD"), std::string::npos);
}

TEST(KQUZipLocalHeaderCheck, EachDamagedCentralFieldIsNamed) {
    TempDir dir;
    const std::string path = dir.file("p.zip");
    const std::string original =
        buildArchive({{.name = "a.txt", .data = std::string(500, 'a'), .deflate = true},
                      {.name = "b.txt", .data = "beta"}});
    const size_t central = original.find("PK\x01\x02"), second = original.find("PK\x01\x02", central + 4);
    const struct {
        size_t at;
        int change;  // added to the byte
        const char* found;
    } cases[] = {
        {0, 0, "(none)"},                                                        // agreeing headers
        {second + 46, 'c' - 'b', "c.txt: the local header names it \"b.txt\""},  // renamed for every reader
        {central + 16, 1, "a.txt: the local header gives CRC-32"},
        {second + 10, 8,
         "b.txt: the local header gives method 0, the directory 8"},  // stored b.txt claims deflate
        {central + 24, 1, "a.txt: the local header gives size 500"},
        {0, 'X' - 'P', "a.txt: its local header has no signature"},
    };
    for (const auto& c : cases) {
        std::string bytes = original;
        bytes[c.at] = static_cast<char>(bytes[c.at] + c.change);
        writeFile(path, bytes);
        std::vector<std::string> found;
        for (const auto& entry : KQUZipArchive(path).allEntries())
            for (auto& sentence : KQUZipLocalHeaderDisagreements(*entry))
                found.push_back(std::string(entry->name()) + ": " + sentence);
        EXPECT_EQ(found.empty() ? "(none)" : found[0].substr(0, strlen(c.found)), c.found) << found.size();
    }
}

// An encrypted entry's CRC-32 covers its stored bytes only: its plaintext length is checked on its own.
TEST(KQUZipEncryptedEntrySize, APlaintextOfAnotherLengthThanRecordedIsDamage) {
    TempDir dir;
    std::string path = dir.file("p.zip");
    uint8_t raw[16] = {7};
    auto key = KQUCryptoKey::createWithKeyBytes(raw, 4000);
    std::string text = patternBytes(3000, 5);
    for (bool compressed : {false, true}) {
        KQUZipArchiveOutputStream writer(path, key);
        writer.beginEntry("part", compressed, text.size());
        writer.writeBuffer(text.data(), static_cast<uint32_t>(text.size()));
        writer.close();
        std::string bytes = readFile(path);
        size_t central = bytes.find("PK\x01\x02");
        ASSERT_NE(central, std::string::npos);
        for (uint32_t recorded : {1000u, 3001u, 3000u}) {
            for (int i = 0; i < 4; ++i) bytes[central + 24 + i] = static_cast<char>(recorded >> (8 * i));
            writeFile(path, bytes);
            KQUZipArchive archive(path);
            archive.setCryptoKey(key);
            auto stream = archive.allEntries().at(0)->inputStream();
            if (recorded == 3000u)
                EXPECT_EQ(readAll(*stream), text) << compressed;
            else
                EXPECT_THROW(readAll(*stream), KQUZipException) << compressed << " " << recorded;
        }
    }
}

// The package layout over archives built byte by byte, every range's place computed by hand: headers
// 30 + name, central records 46 + name (+ Zip64 field), end record 22 + comment, Zip64 56, locator 20.
using Kind = KQUZipLayoutKind;
using Expected = std::tuple<uint64_t, uint64_t, Kind, std::string>;  // offset, length, kind, entry ("": none)

void expectLayout(const std::string& bytes, const std::vector<Expected>& expected) {
    auto line = [](uint64_t offset, uint64_t length, Kind kind, std::string_view entry) {
        return fmt::format("{} {} {} {}\n", offset, length, KQUZipLayoutKindName(kind), entry);
    };
    std::string found, wanted;
    const KQUZipArchive archive = open(bytes);
    for (const auto& r : KQUZipPackageLayout(archive))
        found += line(r.offset, r.length, r.kind, r.entry ? r.entry->name() : "");
    for (const auto& [offset, length, kind, entry] : expected) wanted += line(offset, length, kind, entry);
    EXPECT_EQ(found, wanted);
    EXPECT_EQ(std::get<0>(expected.back()) + std::get<1>(expected.back()), bytes.size());
}

TEST(KQUZipPackageLayout, RangesCoverEveryRecordInOffsetOrder) {
    const std::string deflated = rawDeflate(std::string(100, 'x'));
    const uint64_t s = deflated.size();

    // 1: stored entry, 7 unclaimed bytes, deflated entry with signed descriptor, directory, 4-byte comment.
    ZipByteBuilder builder;
    std::string one = builder.add({.name = "a.txt", .data = "hello"}) + "JUNKJUN";
    one += builder.add(
        {.name = "b.txt", .data = std::string(100, 'x'), .deflate = true, .flags = 8, .offset = 47});
    putFields(one, {{0x08074B50, 4}, {zlibCrc(std::string(100, 'x')), 4}, {s, 4}, {100, 4}});
    one += builder.finish({.comment = "note", .directoryOffset = static_cast<uint32_t>(98 + s)});
    // 2: an encrypted stored entry, a free-space entry, an empty directory entry, Zip64 end records.
    std::string two = buildArchive({{.name = "c.bin", .data = "0123456789abcdef", .method = 0x636B},
                                    {.name = ".QlTrash/00000001", .data = std::string(10, '\0')},
                                    {.name = "dir/", .data = ""}},
                                   {.zip64End = true});
    const uint64_t directoryTwo = 35 + 16 + 57 + 34;
    const uint64_t directoryTwoSize = (46 + 5) + (46 + 17) + (46 + 4);

    expectLayout(one, {{0, 35, Kind::LocalHeader, "a.txt"},
                       {35, 5, Kind::StoredData, "a.txt"},
                       {40, 7, Kind::Unknown, ""},
                       {47, 35, Kind::LocalHeader, "b.txt"},
                       {82, s, Kind::DeflatedData, "b.txt"},
                       {82 + s, 16, Kind::DataDescriptor, "b.txt"},
                       {98 + s, 102, Kind::CentralDirectory, ""},
                       {200 + s, 26, Kind::EndRecord, ""}});
    const uint64_t end = directoryTwo + directoryTwoSize;
    expectLayout(two, {{0, 35, Kind::LocalHeader, "c.bin"},
                       {35, 16, Kind::EncryptedData, "c.bin"},
                       {51, 57, Kind::FreeSpace, ".QlTrash/00000001"},
                       {108, 34, Kind::LocalHeader, "dir/"},
                       {directoryTwo, directoryTwoSize, Kind::CentralDirectory, ""},
                       {end, 56, Kind::Zip64EndRecord, ""},
                       {end + 56, 20, Kind::Zip64EndLocator, ""},
                       {end + 76, 22, Kind::EndRecord, ""}});
}

TEST(KQUZipPackageLayout, DamagedPlacesBecomeUnknownWithoutOverlap) {
    // "a" says a descriptor follows, but "b" starts there: the descriptor's 12 bytes come first and b's
    // header is cut to start after them. "c" has a broken local signature: its bytes are claimed by nothing.
    ZipByteBuilder builder;
    std::string bytes = builder.add({.name = "a", .data = "12345", .flags = 8});
    bytes += builder.add({.name = "b", .data = "67890"});
    bytes += builder.add({.name = "c", .data = "abcde", .localSignature = 0x01020304});
    bytes += builder.finish();
    expectLayout(bytes, {{0, 31, Kind::LocalHeader, "a"},
                         {31, 5, Kind::StoredData, "a"},
                         {36, 12, Kind::DataDescriptor, "a"},
                         {48, 19, Kind::LocalHeader, "b"},
                         {67, 5, Kind::StoredData, "b"},
                         {72, 36, Kind::Unknown, ""},
                         {108, 3 * 47, Kind::CentralDirectory, ""},
                         {249, 22, Kind::EndRecord, ""}});
}

TEST(ZipArchiveDataRepresentation, FileRanges) {
    TempDir dir;
    writeFile(dir.file("a.zip"), "0123456789");
    KQUZipArchiveFileDataRepresentation archive(dir.file("a.zip"));
    EXPECT_EQ(archive.dataLength(), 10);
    EXPECT_EQ(readAll(*archive.inputStreamWithOffset(3, 4), 7), "3456");
    EXPECT_EQ(readAll(*archive.bufferedInputStreamWithOffset(10, 0), 7), "");
    for (auto [offset, length] : {std::pair{9, 2}, std::pair{-1, 1}, std::pair{0, 11}})
        EXPECT_KQU_THROW(archive.inputStreamWithOffset(offset, length), NSInvalidArgumentException,
                         "Bad input stream range.");
    // Same location: the same file (as any representation), the same memory block.
    writeFile(dir.file("b.zip"), "0123456789");
    KQUZipArchiveFileDataRepresentation again(dir.file("a.zip")), b(dir.file("b.zip"));
    EXPECT_TRUE(archive.hasSameLocationAs(again) &&
                archive.hasSameLocationAs(KQUFileDataRepresentation(dir.file("a.zip"))));
    EXPECT_FALSE(archive.hasSameLocationAs(b));
    auto data = KQUMakeData("bytes");
    KQUZipArchiveMemoryDataRepresentation m1(data), m2(data), m3(KQUMakeData("bytes"));
    EXPECT_TRUE(m1.hasSameLocationAs(m2));
    EXPECT_FALSE(m1.hasSameLocationAs(m3) || m1.hasSameLocationAs(archive));
    // A missing file is unreadable.
    KQUZipArchiveFileDataRepresentation missing(dir.file("missing.zip"));
    EXPECT_EQ(std::tuple(missing.isReadable(), missing.inputStream()), std::tuple(false, nullptr));
    EXPECT_KQU_THROW(missing.inputStreamWithOffset(0, 0), "KQUDataRepresentationError", "");
}

TEST(ZipArchiveDataRepresentation, MemoryRanges) {
    KQUZipArchiveMemoryDataRepresentation archive(KQUMakeData("0123456789"));
    EXPECT_EQ(readAll(*archive.inputStreamWithOffset(2, 3), 7), "234");
    EXPECT_EQ(readAll(*archive.bufferedInputStreamWithOffset(10, 0), 7), "");
    EXPECT_KQU_THROW(archive.bufferedInputStreamWithOffset(9, 2), NSInvalidArgumentException,
                     "Bad input stream range.");
    EXPECT_EQ(readAll(*archive.bufferedInputStreamWithBufferSize(4), 7), "0123456789");
    // Memory streams have 32-bit offsets: a range reaching 4 GiB is refused, not wrapped to the start.
    const long long fourGiB = 1ll << 32;
    EXPECT_TRUE(KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(fourGiB - 11, 10, fourGiB + 100));
    for (auto [offset, length] :
         {std::pair{fourGiB + 5, 10ll}, std::pair{fourGiB - 5, 10ll}, std::pair{0ll, fourGiB}})
        EXPECT_FALSE(
            KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(offset, length, fourGiB + 100));
}

long openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

TEST(ZipReaderSharing, StreamsShareOneDescriptorThatOutlivesTheArchive) {
    TempDir dir;
    std::string path = dir.file("a.zip");
    auto part = [](int i) {
        return fmt::format("entry {} ", i) + std::string(static_cast<size_t>(i) * 100, 'x');
    };
    std::vector<TestEntry> entries;
    for (int i = 0; i < 20; ++i)
        entries.push_back(
            {.name = fmt::format("Doc/part{:02}.xml", i), .data = part(i), .deflate = i % 2 == 0});
    writeFile(path, buildArchive(entries));
    std::vector<std::shared_ptr<KQUInputStream>> streams;
    std::shared_ptr<KQUZipEntry> kept;
    long before = 0;
    {
        auto archive = std::make_unique<KQUZipArchive>(path, true);
        before = openDescriptors();
        for (int i = 0; i < 20; ++i)
            streams.push_back(archive->entryWithName(fmt::format("part{:02}.xml", i))->inputStream());
        EXPECT_EQ(openDescriptors(), before);
        kept = archive->entryWithName("part07.xml");
    }
    // The archive object is gone: its streams and the entry handed out still read.
    ::unlink(path.c_str());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(readAll(*streams[static_cast<size_t>(i)], 7), part(i));
    EXPECT_EQ(kept->name(), "Doc/part07.xml");
    EXPECT_EQ(readAll(*kept->inputStream(), 7), part(7));
    streams.clear();
    kept.reset();
    EXPECT_EQ(openDescriptors(), before - 1);  // the last holder closed the file
}

// A caller reusing its buffer after handing it over changes nothing (this once read freed memory).
TEST(KQUMemoryRepresentationOwnership, CallerChangingItsBufferChangesNothing) {
    std::string text = patternBytes(5000, 3);
    std::string zip = buildArchive({{.name = "doc.xml", .data = text, .deflate = true}});
    auto plain = std::make_shared<KQUData>(text.begin(), text.end());
    auto archiveBytes = std::make_shared<KQUData>(zip.begin(), zip.end());
    KQUMemoryDataRepresentation representation(plain);
    KQUZipArchive archive(archiveBytes);
    const uint32_t hashBefore = representation.hash();
    auto earlyStream = representation.inputStream();  // lent the bytes before the caller changes them

    // The caller reuses its buffers: overwrites them, then grows them (reallocation).
    std::fill(plain->begin(), plain->end(), 'x');
    std::fill(archiveBytes->begin(), archiveBytes->end(), 0);
    plain->resize(plain->size() * 8, 'y');
    archiveBytes->resize(archiveBytes->size() * 8);
    plain->shrink_to_fit();

    EXPECT_EQ(readAll(*earlyStream, 7), text);
    EXPECT_EQ(std::tuple(representation.dataLength(), representation.hash()), std::tuple(5000, hashBefore));
    EXPECT_TRUE(representation.isEqual(KQUMemoryDataRepresentation(KQUMakeData(text))));
    EXPECT_EQ(contents(archive.entryWithName("doc.xml")), text);  // inflates and checks the CRC
    // A sealed block is shared, not copied.
    auto sealed = KQUMakeData(text);
    EXPECT_TRUE(KQUMemoryDataRepresentation(sealed).hasSameLocationAs(KQUMemoryDataRepresentation(sealed)));
}

}  // namespace
}  // namespace kqu
