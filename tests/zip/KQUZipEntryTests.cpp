// Reading entries: stored and deflated data, CRC-32 checks, local headers, encrypted
// entries, sizes that lie, and reading from several threads.
#include <atomic>
#include <filesystem>
#include <thread>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipCrc32.h"
#include "kqutility/zip/KQUZipInflateInputStream.h"
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
    std::string big = test::patternBytes(1 << 20, 4).substr(0, 700'000) + std::string(348'576, 'z');
    auto archive = open(buildArchive({{.name = "big", .data = big, .deflate = true}}));
    auto entry = archive.entryWithName("big");
    auto stream = entry->inputStream();
    std::string out(big.size(), '\0');
    EXPECT_EQ(stream->readToBuffer(out.data(), static_cast<uint32_t>(out.size())), big.size());
    EXPECT_EQ(out, big);
    EXPECT_EQ(stream->readToBuffer(out.data(), 10), 0u);
    EXPECT_EQ(contents(entry), big);
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
    auto stream = archive.entryWithName("stored")->inputStream();
    EXPECT_KQU_THROW(readAll(*stream), "KQUZipEntryError", "");

    // A wrong CRC in the directory for intact deflated data.
    auto wrongCrc = open(buildArchive({{.name = "d", .data = text, .deflate = true, .crc = 0x12345678}}));
    EXPECT_KQU_THROW(contents(wrongCrc.entryWithName("d")), "KQUZipEntryError", "");
    // Corrupt deflate data is either refused by zlib or caught by the CRC.
    std::string deflated = test::rawDeflate(text + "!");
    deflated[deflated.size() / 2] ^= 0x10;
    auto corrupt =
        open(buildArchive({{.name = "d", .data = text + "!", .deflate = true, .stored = deflated}}));
    try {
        contents(corrupt.entryWithName("d"));
        ADD_FAILURE() << "corrupt data read as good";
    } catch (const KQUException& e) {
        EXPECT_TRUE(e.name() == "KQUZipEntryError" || e.name() == "KQUZipInflateError") << e.name();
    }
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
    EXPECT_FALSE(entry->isReadable());
    EXPECT_EQ(entry->inputStream(), nullptr);
    EXPECT_FALSE(entry->isReadable());
    EXPECT_KQU_THROW(entry->data(), "KQUZipEntryError", "Local file header record signature not found");
    int logged = 0;
    for (const auto& m : log.messages())
        logged += m.find("Local file header record signature not found") != std::string::npos;
    EXPECT_EQ(logged, 1);

    // A local header whose extra field claims bytes beyond the entry's place.
    std::string bytes = buildArchive({{.name = "a", .data = "payload"}, {.name = "b", .data = "more"}});
    bytes[28] = '\x40';  // local extra length of a: 64
    EXPECT_KQU_THROW(open(bytes).entryWithName("a")->inputStream(), "KQUZipEntryError", "");
}

TEST(ZipReaderEntry, EmptyEntries) {
    auto archive =
        open(buildArchive({{.name = "s", .data = ""}, {.name = "d", .data = "", .deflate = true}}));
    EXPECT_EQ(contents(archive.entryWithName("s")), "");
    EXPECT_EQ(contents(archive.entryWithName("d")), "");
    auto stream = archive.entryWithName("d")->inputStream();
    char byte;
    EXPECT_EQ(stream->readToBuffer(&byte, 1), 0u);

    // A request for no bytes is not the end of the stream.
    auto text = open(buildArchive({{.name = "t", .data = "text", .deflate = true}}));
    auto reading = text.entryWithName("t")->inputStream();
    EXPECT_EQ(reading->readToBuffer(&byte, 0), 0u);
    EXPECT_EQ(readAll(*reading), "text");
}

// An archive whose second entry holds "secret" encrypted (stored) and third the same
// deflated-then-encrypted, with a plain free-space entry between them.
struct EncryptedArchive {
    std::string bytes;
    KQUCryptoKeyRef key;
    std::string plaintext;
};

EncryptedArchive makeEncryptedArchive() {
    EncryptedArchive result;
    result.key = KQUCryptoKey::createAes128KeyFromPassphrase("passphrase", 1000);
    result.plaintext = test::patternBytes(70'000, 8) + std::string(30'000, 'e');
    auto encrypt = [&](const std::string& plain, uint32_t* crc) {
        auto sink = std::make_shared<KQUMemoryOutputStream>();
        KQUCryptoOutputStream out(sink, result.key, true);
        out.writeBuffer(plain.data(), static_cast<uint32_t>(plain.size()));
        out.closeLocalStream();
        *crc = out.crc32();
        return std::string(sink->data()->begin(), sink->data()->end());
    };
    uint32_t storedCrc, deflatedCrc;
    std::string stored = encrypt(result.plaintext, &storedCrc);
    std::string deflated = encrypt(test::rawDeflate(result.plaintext), &deflatedCrc);
    result.bytes = buildArchive({
        {.name = "plain", .data = "not encrypted"},
        {.name = "stored", .data = result.plaintext, .stored = stored, .method = 0x636B, .crc = storedCrc},
        {.name = ".QlTrash/00000001", .data = std::string(20, '\0')},
        {.name = "deflated",
         .data = result.plaintext,
         .stored = deflated,
         .method = 0x636C,
         .crc = deflatedCrc},
    });
    return result;
}

TEST(ZipReaderEntry, EncryptedEntries) {
    auto fixture = makeEncryptedArchive();
    auto archive = open(fixture.bytes);
    EXPECT_KQU_THROW(archive.entryWithName("stored")->inputStream(), "KQUZipEntryError",
                     "The entry is encrypted; a key is needed to read it.");
    auto early = archive.entryWithName("deflated");
    archive.setCryptoKey(fixture.key);
    EXPECT_TRUE(early->isEncrypted());
    EXPECT_EQ(contents(archive.entryWithName("stored")), fixture.plaintext);
    EXPECT_EQ(contents(early), fixture.plaintext);
    auto stored = archive.entryWithName("stored");
    EXPECT_EQ(stored->encodedLength(), 100'000 + 48 - 100'000 % 16);
    // Plain entries of an encrypted archive are read without the key.
    EXPECT_FALSE(archive.entryWithName("plain")->isEncrypted());
    EXPECT_EQ(contents(archive.entryWithName("plain")), "not encrypted");
    EXPECT_EQ(contents(archive.entryWithName(".QlTrash/00000001")), std::string(20, '\0'));
    EXPECT_ASSERTION_FAILURE(archive.entryWithName("plain", 5));
    EXPECT_EQ(archive.entryWithName("stored", 100'000)->dataLength(), 100'000);
    // The stored bytes can be checked without the key.
    auto raw = stored->storedInputStream();
    EXPECT_EQ(readAll(*raw).size(), stored->compressedSize());
}

TEST(ZipReaderEntry, EncryptedEntryCrcCoversStoredBytes) {
    auto fixture = makeEncryptedArchive();
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
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(ZipReaderEntry, ReadsFromSeveralThreads) {
    test::TempDir dir;
    std::vector<TestEntry> entries;
    for (int i = 0; i < 16; ++i)
        entries.push_back({.name = fmt::format("e{}", i),
                           .data = test::patternBytes(100'000 + i, i),
                           .deflate = i % 2 == 0});
    test::writeFile(dir.file("a.zip"), buildArchive(entries));
    KQUZipArchive archive(dir.file("a.zip"));
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 4; ++round) {
                for (int i = 0; i < 16; ++i) {
                    auto entry = archive.entryWithName(fmt::format("e{}", (i + t) % 16));
                    auto data = entry->data();
                    good += std::string(data->begin(), data->end()) ==
                            test::patternBytes(100'000 + (i + t) % 16, (i + t) % 16);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good.load(), 4 * 4 * 16);
}

TEST(ZipReaderEntry, InflatingStreamOnAnyStream) {
    std::string text = test::patternBytes(10'000, 1) + std::string(10'000, 'a');
    KQUZipInflateInputStream stream(KQUMemoryInputStream::create(KQUMakeData(test::rawDeflate(text))));
    EXPECT_FALSE(stream.canSeek());
    EXPECT_EQ(readAll(stream, 777), text);
    EXPECT_EQ(stream.offset(), 20'000);
    EXPECT_ASSERTION_FAILURE(stream.seekToOffset(0));
}

TEST(ZipReaderCrc, MatchesZlibForAllLengthsAndAlignments) {
    std::string bytes = test::patternBytes(5000, 12);
    for (size_t start = 0; start < 40; start += 3) {
        for (size_t length : {0, 1, 15, 16, 63, 64, 65, 127, 128, 1000, 4095, 4900}) {
            if (start + length > bytes.size()) continue;
            std::string piece = bytes.substr(start, length);
            EXPECT_EQ(KQUZipCrc32(0, piece.data(), piece.size()), test::zlibCrc(piece))
                << start << " " << length;
        }
    }
    // Continuing a CRC across pieces.
    uint32_t crc = KQUZipCrc32(0, bytes.data(), 1000);
    crc = KQUZipCrc32(crc, bytes.data() + 1000, 4000);
    EXPECT_EQ(crc, test::zlibCrc(bytes));
    EXPECT_EQ(KQUZipCrc32(0, "123456789", 9), 0xCBF43926u);  // the standard check value

    // Every implementation this processor can run, not only the one chosen for it.
    std::string big = test::patternBytes(70'000, 13);
    for (const char* implementation : {"vpclmulqdq", "pclmulqdq", "zlib"}) {
        uint32_t result = 0;
        if (!KQUZipCrc32Using(implementation, 0, big.data(), big.size(), &result)) continue;
        EXPECT_EQ(result, test::zlibCrc(big)) << implementation;
        for (size_t length : {0, 63, 64, 255, 256, 257, 4111}) {
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
