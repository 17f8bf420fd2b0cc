// Reading entries: stored and deflated data, CRC-32 checks, local headers, encrypted
// entries, sizes that lie, and reading from several threads.
#include <atomic>
#include <filesystem>
#include <thread>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipCrc32.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

namespace kqu {
namespace {

using test::buildArchive;
using test::TestEntry;

KQUZipArchive open(const std::string& bytes) {
    return KQUZipArchive(KQUMakeData(bytes));
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

TEST(ZipReaderEntry, DeflatedMegabyteInOneRead) {
    std::string big = test::patternBytes(700'000, 4) + std::string(348'576, 'z');
    auto archive = open(buildArchive({{.name = "big", .data = big, .deflate = true}}));
    auto entry = archive.entryWithName("big");
    std::string out(big.size(), '\0');
    EXPECT_EQ(entry->inputStream()->readToBuffer(out.data(), static_cast<uint32_t>(out.size())), big.size());
    EXPECT_EQ(out, big);
    // Lent blocks are never larger than the output buffer.
    auto lending = std::dynamic_pointer_cast<KQUBufferedInputStreamProtocol>(entry->inputStream());
    const char* block = nullptr;
    EXPECT_EQ(lending->readToOwnBuffer(&block, UINT32_MAX), 262144u);
}

TEST(ZipReaderEntry, CrcMismatchIsDetected) {
    // Flip one bit of each entry's data: the central directory still describes the
    // original bytes.
    std::string text(5000, 'q');
    std::string bytes = buildArchive(
        {{.name = "stored", .data = text}, {.name = "deflated", .data = text + "!", .deflate = true}});
    std::string damaged = bytes;
    damaged[30 + 6 + 100] ^= 0x01;
    auto archive = open(damaged);
    EXPECT_KQU_THROW(archive.entryWithName("stored")->data(), "KQUZipEntryError",
                     (fmt::format("CRC-32 mismatch (expected {:08x}, found {:08x})", test::zlibCrc(text),
                                  test::zlibCrc(damaged.substr(36, 5000)))));

    // A wrong CRC in the directory for intact deflated data.
    auto wrongCrc = open(buildArchive({{.name = "d", .data = text, .deflate = true, .crc = 0x12345678}}));
    EXPECT_KQU_THROW(contents(wrongCrc.entryWithName("d")), "KQUZipEntryError", "");
    // Corrupt deflate data is either refused by zlib or caught by the CRC.
    std::string deflated = test::rawDeflate(text + "!");
    deflated[deflated.size() / 2] ^= 0x10;
    auto corrupt =
        open(buildArchive({{.name = "d", .data = text + "!", .deflate = true, .stored = deflated}}));
    EXPECT_THROW(contents(corrupt.entryWithName("d")), KQUException);
}

TEST(ZipReaderEntry, SizesThatLieAreRefused) {
    std::string text = "some text that compresses some text that compresses";
    // The deflate data ends before the claimed size.
    auto longer = open(buildArchive({{.name = "d", .data = text, .deflate = true, .uncompressedSize = 60}}));
    EXPECT_KQU_THROW(contents(longer.entryWithName("d")), "KQUZipEntryError", "");
    // A claimed size no deflate stream of that length can produce is refused before allocating.
    auto bomb =
        open(buildArchive({{.name = "d", .data = text, .deflate = true, .uncompressedSize = 0xF0000000}}));
    EXPECT_KQU_THROW(bomb.entryWithName("d")->data(), "KQUZipEntryError",
                     "Couldn't read data with size: 4026531840");
    // Compressed data that ends inside the deflate stream.
    std::string deflated = test::rawDeflate(test::patternBytes(3000, 2));
    auto truncated = open(buildArchive({{.name = "d",
                                         .data = test::patternBytes(3000, 2),
                                         .deflate = true,
                                         .stored = deflated.substr(0, 100)}}));
    EXPECT_KQU_THROW(contents(truncated.entryWithName("d")), "KQUZipInflateError", "inflate() failed: -5");
    // Stored entries whose two sizes differ.
    auto stored = open(buildArchive({{.name = "s", .data = "abc", .uncompressedSize = 2}}));
    EXPECT_KQU_THROW(stored.entryWithName("s")->inputStream(), "KQUZipEntryError", "");
}

TEST(ZipReaderEntry, LocalHeaders) {
    // A longer extra field in the local header than in the central one.
    auto longer =
        open(buildArchive({{.name = "a", .data = "payload", .localExtra = std::string(12, '\x07')}}));
    EXPECT_EQ(contents(longer.entryWithName("a")), "payload");

    test::LogCapture log;
    auto wrong = open(buildArchive({{.name = "a", .data = "payload", .localSignature = 0x04034B51}}));
    auto entry = wrong.entryWithName("a");
    EXPECT_EQ(entry->inputStream(), nullptr);
    EXPECT_FALSE(entry->isReadable());
    EXPECT_KQU_THROW(entry->data(), "KQUZipEntryError", "Local file header record signature not found");

    // A local header whose extra field claims bytes beyond the entry's place.
    std::string bytes = buildArchive({{.name = "a", .data = "payload"}, {.name = "b", .data = "more"}});
    bytes[28] = '\x40';  // local extra length of a: 64
    EXPECT_KQU_THROW(open(bytes).entryWithName("a")->inputStream(), "KQUZipEntryError", "");
}

// (Empty entries, stored and deflated, are read in ZipReaderInterop.)
TEST(ZipReaderEntry, ZeroByteRequestIsNotTheEnd) {
    char byte;
    // A request for no bytes is not the end of the stream.
    auto text = open(buildArchive({{.name = "t", .data = "text", .deflate = true}}));
    auto reading = text.entryWithName("t")->inputStream();
    EXPECT_EQ(reading->readToBuffer(&byte, 0), 0u);
    EXPECT_EQ(readAll(*reading), "text");
}

// The same plaintext encrypted stored and deflated-then-encrypted, after a free-space
// entry (never encrypted).
struct EncryptedArchive {
    KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("passphrase", 1000);
    std::string plaintext = test::patternBytes(70'000, 8) + std::string(30'000, 'e');
    std::string bytes;
    EncryptedArchive() {
        test::TempDir dir;
        KQUZipArchiveOutputStream zip(dir.file("e.zip"), key);
        zip.beginEntry("gap", false, 100);
        zip.writeBuffer(plaintext.data(), 100);
        for (const char* name : {"stored", "deflated"}) {
            zip.beginEntry(name, name[0] == 'd', plaintext.size());
            zip.writeBuffer(plaintext.data(), static_cast<uint32_t>(plaintext.size()));
        }
        zip.removeEntry("gap");
        zip.close();
        bytes = test::readFile(dir.file("e.zip"));
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
    // Damage a ciphertext byte in the middle of the stored entry: the CRC of the stored
    // bytes no longer matches (the padding at the end may well still decode).
    size_t start = fixture.bytes.find("stored") + 6 + 5000;
    fixture.bytes[start] ^= 0x20;
    auto archive = open(fixture.bytes);
    archive.setCryptoKey(fixture.key);
    EXPECT_KQU_THROW(contents(archive.entryWithName("stored")), "KQUZipEntryError", "");
    EXPECT_KQU_THROW(readAll(*archive.entryWithName("stored")->storedInputStream()), "KQUZipEntryError", "");
    EXPECT_EQ(contents(archive.entryWithName("deflated")), fixture.plaintext);
}

TEST(ZipReaderEntry, CopyToFile) {
    test::TempDir dir;
    std::string text = test::patternBytes(400'000, 6);
    auto archive = open(
        buildArchive({{.name = "a", .data = text, .deflate = true}, {.name = "bad", .data = "x", .crc = 1}}));
    archive.entryWithName("a")->copyToFile(dir.file("a"));
    EXPECT_EQ(test::readFile(dir.file("a")), text);
    test::writeFile(dir.file("bad"), "previous");
    EXPECT_KQU_THROW(archive.entryWithName("bad")->copyToFile(dir.file("bad")), "KQUZipEntryError", "");
    EXPECT_EQ(test::readFile(dir.file("bad")), "previous");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // no temporary left
}

TEST(ZipReaderEntry, ReadsFromSeveralThreads) {
    test::TempDir dir;
    std::vector<TestEntry> entries;
    for (int i = 0; i < 8; ++i)
        entries.push_back({.name = fmt::format("e{}", i),
                           .data = test::patternBytes(100'000 + i, i),
                           .deflate = i % 2 == 0});
    test::writeFile(dir.file("a.zip"), buildArchive(entries));
    KQUZipArchive archive(dir.file("a.zip"));
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 32; ++i) {
                int e = (i + t) % 8;
                good += contents(archive.entryWithName(fmt::format("e{}", e))) ==
                        test::patternBytes(100'000 + e, e);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good.load(), 4 * 32);
}

// Every implementation this processor can run, not only the one chosen for it, at the
// lengths around its folding steps and at an odd start.
TEST(ZipReaderCrc, MatchesZlibForAllLengthsAndAlignments) {
    EXPECT_EQ(KQUZipCrc32(0, "123456789", 9), 0xCBF43926u);  // the standard check value
    std::string big = test::patternBytes(70'000, 13);
    uint32_t crc = KQUZipCrc32(0, big.data(), 1000);
    EXPECT_EQ(KQUZipCrc32(crc, big.data() + 1000, big.size() - 1000), test::zlibCrc(big));  // continued
    for (const char* implementation : {"vpclmulqdq", "pclmulqdq", "zlib"}) {
        uint32_t result = 0;
        if (!KQUZipCrc32Using(implementation, 0, big.data(), big.size(), &result)) continue;
        EXPECT_EQ(result, test::zlibCrc(big)) << implementation;
        for (size_t length : {0, 15, 16, 63, 64, 255, 256, 257, 511, 512, 4111}) {
            ASSERT_TRUE(KQUZipCrc32Using(implementation, 7, big.data() + 3, length, &result));
            EXPECT_EQ(result, static_cast<uint32_t>(crc32(7, reinterpret_cast<const Bytef*>(big.data() + 3),
                                                          static_cast<uInt>(length))))
                << implementation << " " << length;
        }
    }
    uint32_t unused;
    EXPECT_FALSE(KQUZipCrc32Using("no such thing", 0, big.data(), 1, &unused));
}

}  // namespace
}  // namespace kqu
