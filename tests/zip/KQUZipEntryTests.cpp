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

// A request for no bytes is not the end of an inflating stream.
TEST(ZipReaderEntry, ARequestForNoBytesIsNotTheEnd) {
    auto archive = open(buildArchive({{.name = "t", .data = "text", .deflate = true}}));
    auto reading = archive.entryWithName("t")->inputStream();
    char byte;
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

}  // namespace
}  // namespace kqu
