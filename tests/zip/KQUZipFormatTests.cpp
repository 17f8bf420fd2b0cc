// Record bytes, extra fields, DOS times and CRC helpers of the zip format.
//
// Expected bytes were computed independently with Python's struct, zlib and zipfile
// (the packing follows the published record layouts), not with this library.
#include <gtest/gtest.h>

#include <zlib.h>

#include <fmt/format.h>

#include <string>

#include "kqutility/zip/KQUZipFormat.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;
using kqu::test::fromHex;
using kqu::test::toHex;

namespace {


constexpr uint32_t kTime = 0x386570E4;  // 2008-03-05 14:07:09

KQUZipEntryRecordInfo entry(uint16_t method, uint32_t crc, uint64_t compressed, uint64_t uncompressed,
                            uint64_t offset) {
    KQUZipEntryRecordInfo e;
    e.compressionMethod = method;
    e.dosTime = kTime;
    e.crc32 = crc;
    e.compressedSize = compressed;
    e.uncompressedSize = uncompressed;
    e.localHeaderOffset = offset;
    return e;
}

std::string centralHex(const KQUZipEntryRecordInfo& e, std::string_view name,
                       std::span<const uint8_t> lib = {}) {
    KQUData out;
    size_t n = KQUZipAppendCentralFileHeaderForEntry(out, e, name, lib);
    EXPECT_EQ(n, out.size());
    return toHex(out);
}

std::string endHex(uint64_t count, uint64_t size, uint64_t offset) {
    KQUData out;
    size_t n = KQUZipAppendEndOfArchive(out, count, size, offset);
    EXPECT_EQ(n, out.size());
    return toHex(out);
}

}  // namespace

TEST(KQUZipFormat, LocalHeaderBytes) {
    KQUZipEntryRecordInfo e = entry(0, 0, 0, 0, 0);
    KQUData out;
    EXPECT_EQ(KQUZipAppendLocalFileHeaderForEntry(out, e, "a", false), 31u);
    EXPECT_EQ(toHex(out), "504b0304140000000000e47065380000000000000000000000000100000061");

    out.clear();
    e.compressionMethod = 0x636C;
    EXPECT_EQ(KQUZipAppendLocalFileHeaderForEntry(out, e, "big.bin", true), 57u);
    EXPECT_EQ(toHex(out),
              "504b0304140000006c63e4706538000000000000000000000000070014006269672e62696e01001000000000000000"
              "000000000"
              "00000000000");

    // The patch written after the data, at the escape boundary.
    EXPECT_EQ(toHex(KQUZipLocalFileHeaderCrcAndSizes(0x0D4A1185, 0xFFFFFFFE, 0xFFFFFFFE)),
              "85114a0dfefffffffeffffff");
    EXPECT_EQ(toHex(KQUZipLocalFileHeaderCrcAndSizes(0x0D4A1185, 0xFFFFFFFF, 5)), "85114a0dffffffff05000000");
    out.clear();
    EXPECT_EQ(KQUZipAppendZip64LocalPayload(out, 0xFFFFFFFE, 0xFFFFFFFF), 8u);  // only the compressed size
    EXPECT_EQ(toHex(out), "ffffffff00000000");
    out.clear();
    EXPECT_EQ(KQUZipAppendZip64LocalPayload(out, 5ull << 30, (5ull << 30) + 7), 16u);
    EXPECT_EQ(toHex(out), "00000040010000000700004001000000");
}

TEST(KQUZipFormat, CentralHeaderAtZip64Boundaries) {
    // One below the escape: plain 32-bit fields, no Zip64 field.
    EXPECT_EQ(centralHex(entry(8, 0x12345678, 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE), "x.xml"),
              "504b01023e00140000000800e470653878563412fefffffffeffffff0500000000000000000000000000feffffff78"
              "2e786d6c");
    // Sizes exactly at the escape: escapes plus 16 bytes of Zip64 payload (uncompressed first).
    EXPECT_EQ(centralHex(entry(0, 0x12345678, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE), "x.xml"),
              "504b01023e00140000000000e470653878563412ffffffffffffffff0500140000000000000000000000feffffff78"
              "2e786d6c"
              "01001000ffffffff00000000ffffffff00000000");
    // Offset exactly at the escape: only the offset in the Zip64 field.
    EXPECT_EQ(centralHex(entry(0, 0x12345678, 10, 10, 0xFFFFFFFF), "x.xml"),
              "504b01023e00140000000000e4706538785634120a0000000a00000005000c0000000000000000000000ffffffff78"
              "2e786d6c"
              "01000800ffffffff00000000");
    // 5 GiB entry at offset 5 GiB: all three values.
    EXPECT_EQ(centralHex(entry(0x636B, 0xCAFEBABE, 5ull << 30, 5ull << 30, 5ull << 30), "v"),
              "504b01023e00140000006b63e4706538bebafecaffffffffffffffff01001c0000000000000000000000ffffffff76"
              "01001800"
              "000000400100000000000040010000000000004001000000");
}

TEST(KQUZipFormat, FirstCentralHeaderCarriesLibraryFieldsAfterZip64) {
    KQUData verifier;
    for (int i = 0; i < 104; ++i) verifier.push_back(static_cast<uint8_t>(i));
    KQUData lib;
    EXPECT_EQ(KQUZipAppendLibraryExtraField(lib, KQUZipPassphraseVerifierExtraFieldID,
                                            KQUZipPassphraseVerifierExtraFieldSignature, verifier),
              112u);
    EXPECT_EQ(centralHex(entry(0x636C, 1, 5ull << 30, 100, 0), "first", lib),
              "504b01023e00140000006c63e470653801000000ffffffff6400000005007c00000000000000000000000000000066"
              "697273740100"
              "080000000040010000006d636c00716c7076000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c"
              "1d1e1f2021"
              "22232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f50"
              "5152535455"
              "565758595a5b5c5d5e5f6061626364656667");

    KQUData hint;
    const std::string text = "hint!";
    KQUZipAppendLibraryExtraField(hint, KQUZipPassphraseHintExtraFieldID,
                                  KQUZipPassphraseHintExtraFieldSignature,
                                  {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    EXPECT_EQ(toHex(hint), "6e630900716c706868696e7421");
}

TEST(KQUZipFormat, EndOfArchiveAtZip64Boundaries) {
    EXPECT_EQ(endHex(65534, 65534 * 50, 1000), "504b050600000000fefffeff9cff3100e80300000000");
    // 65535 entries: the count itself is the escape, so Zip64 records come first.
    EXPECT_EQ(
        endHex(65535, 65535 * 50, 1000),
        "504b06062c000000000000003e0014000000000000000000ffff000000000000ffff000000000000ceff310000000000e803"
        "00"
        "0000000000504b060700000000b60332000000000001000000504b050600000000ffffffffceff3100e80300000000");
    EXPECT_EQ(
        endHex(3, 0xFFFFFFFF, 1000),
        "504b06062c000000000000003e001400000000000000000003000000000000000300000000000000ffffffff00000000e803"
        "00"
        "0000000000504b060700000000e70300000100000001000000504b05060000000003000300ffffffffe80300000000");
    EXPECT_EQ(endHex(3, 100, 0xFFFFFFFE), "504b0506000000000300030064000000feffffff0000");
    EXPECT_EQ(
        endHex(3, 100, 0xFFFFFFFF),
        "504b06062c000000000000003e0014000000000000000000030000000000000003000000000000006400000000000000ffff"
        "ff"
        "ff00000000504b060700000000630000000100000001000000504b05060000000003000300ffffffffffffffff0000");
}

TEST(KQUZipFormat, DataDescriptors) {
    KQUData out;
    EXPECT_EQ(KQUZipAppendDataDescriptor(out, {0xDEADBEEF, 100, 200}, false), 16u);
    EXPECT_EQ(toHex(out), "504b0708efbeadde64000000c8000000");
    out.clear();
    EXPECT_EQ(KQUZipAppendDataDescriptor(out, {0xDEADBEEF, 5ull << 30, (5ull << 30) + 7}, true), 24u);
    EXPECT_EQ(toHex(out), "504b0708efbeadde00000040010000000700004001000000");
    auto d = KQUZipDecodeDataDescriptor(out, true);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->uncompressedSize, (5ull << 30) + 7);
    EXPECT_FALSE(KQUZipDecodeDataDescriptor(std::span(out).first(23), true));
    EXPECT_TRUE(KQUZipDecodeDataDescriptor(std::span(out).first(16), false));
}

// An archive written by Python's zipfile: one stored entry "doc/a.txt" holding "hello world".
TEST(KQUZipFormat, DecodesForeignArchive) {
    const KQUData zip = fromHex(
        "504b0304140000000000e470653885114a0d0b0000000b00000009000000646f632f612e74787468656c6c6f20776f726c64"
        "504b0102"
        "1403140000000000e470653885114a0d0b0000000b000000090000000000000000000000800100000000646f632f612e7478"
        "74504b05"
        "06000000000100010037000000320000000000");
    auto end = KQUZipDecodeEndOfCentralDirectory(std::span(zip).last(22));
    ASSERT_TRUE(end);
    EXPECT_EQ(end->totalEntries, 1);
    EXPECT_EQ(end->centralDirectorySize, 0x37u);
    EXPECT_EQ(end->centralDirectoryOffset, 0x32u);

    auto central = KQUZipDecodeCentralFileHeaderRecord(std::span(zip).subspan(end->centralDirectoryOffset));
    ASSERT_TRUE(central);
    EXPECT_EQ(central->header.versionMadeBy, 0x0314);
    EXPECT_EQ(central->header.crc32, 0x0D4A1185u);
    EXPECT_EQ(central->header.dosTime, kTime);
    EXPECT_EQ(central->header.externalFileAttributes, 0x01800000u);
    EXPECT_EQ(std::string(central->fileName.begin(), central->fileName.end()), "doc/a.txt");
    EXPECT_TRUE(central->extraField.empty());
    EXPECT_EQ(central->header.recordSize(), end->centralDirectorySize);

    auto local = KQUZipDecodeLocalFileHeaderRecord(zip);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->header.compressedSize, 11u);
    EXPECT_EQ(std::string(local->fileName.begin(), local->fileName.end()), "doc/a.txt");
    auto data = std::span(zip).subspan(local->header.recordSize(), local->header.compressedSize);
    EXPECT_EQ(KQUCrc32Update(0, data.data(), data.size()), central->header.crc32);

    auto decoded = KQUZipDosTimeFromTm([] {
        std::tm t{};
        t.tm_year = 108, t.tm_mon = 2, t.tm_mday = 5, t.tm_hour = 14, t.tm_min = 7, t.tm_sec = 9;
        return t;
    }());
    EXPECT_EQ(decoded, local->header.dosTime);
}

TEST(KQUZipFormat, DecodesWhatItEncodes) {
    KQUData out;
    KQUZipAppendEndOfArchive(out, 70000, 0x1'0000'0001ull, 0x2'0000'0000ull);
    auto zip64 = KQUZipDecodeZip64EndOfCentralDirectory(out);
    ASSERT_TRUE(zip64);
    EXPECT_EQ(zip64->remainingRecordSize, 44u);
    EXPECT_EQ(zip64->totalEntries, 70000u);
    EXPECT_EQ(zip64->centralDirectorySize, 0x1'0000'0001ull);
    EXPECT_EQ(zip64->centralDirectoryOffset, 0x2'0000'0000ull);
    auto locator = KQUZipDecodeZip64EndOfCentralDirectoryLocator(std::span(out).subspan(56));
    ASSERT_TRUE(locator);
    EXPECT_EQ(locator->zip64RecordOffset, 0x3'0000'0001ull);
    EXPECT_EQ(locator->totalDisks, 1u);
    auto end = KQUZipDecodeEndOfCentralDirectory(std::span(out).subspan(76));
    ASSERT_TRUE(end);
    EXPECT_EQ(end->totalEntries, 0xFFFF);
    EXPECT_EQ(end->centralDirectoryOffset, 0xFFFFFFFFu);
}

TEST(KQUZipFormat, DecodersRefuseShortOrForeignInput) {
    KQUData local, central, end;
    KQUZipAppendLocalFileHeaderForEntry(local, entry(0, 0, 0, 0, 0), "name", true);
    KQUZipAppendCentralFileHeaderForEntry(central, entry(0, 0, 1, 1, 0xFFFFFFFF), "name");
    KQUZipAppendEndOfArchive(end, 65535, 10, 10);

    auto shortBy1 = [](const KQUData& d, size_t n) { return std::span(d.data(), n - 1); };
    EXPECT_FALSE(KQUZipDecodeLocalFileHeader(shortBy1(local, 30)));
    EXPECT_TRUE(KQUZipDecodeLocalFileHeader(std::span(local).first(30)));
    EXPECT_FALSE(KQUZipDecodeLocalFileHeaderRecord(shortBy1(local, local.size())));
    EXPECT_TRUE(KQUZipDecodeLocalFileHeaderRecord(local));
    EXPECT_FALSE(KQUZipDecodeCentralFileHeader(shortBy1(central, 46)));
    EXPECT_FALSE(KQUZipDecodeCentralFileHeaderRecord(shortBy1(central, central.size())));
    EXPECT_TRUE(KQUZipDecodeCentralFileHeaderRecord(central));
    EXPECT_FALSE(KQUZipDecodeZip64EndOfCentralDirectory(shortBy1(end, 56)));
    EXPECT_FALSE(KQUZipDecodeZip64EndOfCentralDirectoryLocator(std::span(end).subspan(56, 19)));
    EXPECT_FALSE(KQUZipDecodeEndOfCentralDirectory(std::span(end).subspan(76, 21)));
    EXPECT_FALSE(KQUZipDecodeEndOfCentralDirectory({}));

    // The wrong record, or a damaged signature.
    EXPECT_FALSE(KQUZipDecodeCentralFileHeader(std::span(local)));
    EXPECT_FALSE(KQUZipDecodeLocalFileHeader(std::span(central)));
    local[1] ^= 1;
    EXPECT_FALSE(KQUZipDecodeLocalFileHeader(local));
    EXPECT_FALSE(KQUZipHasSignature(local, KQUZipLocalFileHeaderSignature));

    // A comment length that points past the end of the directory.
    KQUData commented;
    KQUZipAppendCentralFileHeader(commented, {}, "n", {}, std::vector<uint8_t>(5, 'c'));
    EXPECT_TRUE(KQUZipDecodeCentralFileHeaderRecord(commented));
    EXPECT_FALSE(KQUZipDecodeCentralFileHeaderRecord(std::span(commented).first(commented.size() - 1)));
}

TEST(KQUZipFormat, EncodersRefuseOverlongFieldsBeforeWriting) {
    KQUData out = {1, 2, 3};
    const std::string longest(65535, 'n'), tooLong(65536, 'n');
    EXPECT_KQU_THROW(KQUZipAppendLocalFileHeaderForEntry(out, entry(0, 0, 0, 0, 0), tooLong, false),
                     "KQUZipOutputError", fmt::format("File name {} is too long", tooLong));
    EXPECT_KQU_THROW(KQUZipAppendCentralFileHeaderForEntry(out, entry(0, 0, 0, 0, 0), tooLong),
                     "KQUZipOutputError", "");
    EXPECT_EQ(out.size(), 3u);
    EXPECT_EQ(KQUZipAppendLocalFileHeaderForEntry(out, entry(0, 0, 0, 0, 0), longest, true),
              30u + 65535 + 20);

    // The Zip64 field and the library fields share one 16-bit length.
    out = {1, 2, 3};
    KQUData lib;
    KQUZipAppendLibraryExtraField(lib, KQUZipPassphraseHintExtraFieldID,
                                  KQUZipPassphraseHintExtraFieldSignature, KQUData(65535 - 8 - 12, 'h'));
    EXPECT_EQ(lib.size(), 65535u - 12);
    EXPECT_KQU_THROW(
        KQUZipAppendCentralFileHeaderForEntry(out, entry(0, 0, 5ull << 30, 5ull << 30, 0), "n", lib),
        "KQUZipOutputError", "Extra field of file n is too long");
    EXPECT_EQ(out.size(), 3u);
    // With only the offset in the Zip64 field (12 bytes) it fits exactly.
    size_t n = KQUZipAppendCentralFileHeaderForEntry(out, entry(0, 0, 1, 1, 5ull << 30), "n", lib);
    EXPECT_EQ(n, 46u + 1 + 65535);
    auto record = KQUZipDecodeCentralFileHeaderRecord(std::span(out).subspan(3));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->header.extraFieldLength, 65535);

    KQUData field;
    EXPECT_KQU_THROW(
        KQUZipAppendLibraryExtraField(field, KQUZipEncryptedDocumentUuidExtraFieldID,
                                      KQUZipEncryptedDocumentUuidExtraFieldSignature, KQUData(65532, 0)),
        "KQUZipOutputError", "Extra field 0x636F is too long");
    EXPECT_TRUE(field.empty());
    EXPECT_EQ(
        KQUZipAppendLibraryExtraField(field, KQUZipEncryptedDocumentUuidExtraFieldID,
                                      KQUZipEncryptedDocumentUuidExtraFieldSignature, KQUData(65531, 0)),
        65539u);

    EXPECT_KQU_THROW(KQUZipAppendCentralFileHeader(field, {}, "c", {}, KQUData(65536, 'c')),
                     "KQUZipOutputError", "Comment of file c is too long");
    EXPECT_KQU_THROW(KQUZipAppendEndOfCentralDirectory(field, {}, KQUData(65536, 'c')), "KQUZipOutputError",
                     "Archive comment is too long");
    EXPECT_EQ(field.size(), 65539u);
}

TEST(KQUZipFormat, ExtraFieldWalkAndZip64Values) {
    // A Zip64 field with two values, a library field, then a field that runs past the block.
    const KQUData block = fromHex(
        "0100100000000040010000000700004001000000"
        "6f630600716c75750102"
        "0900ff7f00");
    KQUZipExtraFieldIterator it{block};
    auto first = it.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, KQUZipZip64ExtraFieldID);
    EXPECT_EQ(first->payload.size(), 16u);
    auto second = it.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->id, KQUZipEncryptedDocumentUuidExtraFieldID);
    auto uuid = KQUZipLibraryExtraFieldData(second->payload, KQUZipEncryptedDocumentUuidExtraFieldSignature);
    ASSERT_TRUE(uuid);
    EXPECT_EQ(toHex(*uuid), "0102");
    EXPECT_FALSE(KQUZipLibraryExtraFieldData(second->payload, KQUZipPassphraseHintExtraFieldSignature));
    EXPECT_FALSE(KQUZipLibraryExtraFieldData(second->payload.first(3),
                                             KQUZipEncryptedDocumentUuidExtraFieldSignature));
    EXPECT_FALSE(it.next());
    EXPECT_TRUE(it.isMalformed());

    KQUZipExtraFieldIterator tail{std::span(block).first(2)};  // fewer than 4 bytes: simply the end
    EXPECT_FALSE(tail.next());
    EXPECT_FALSE(tail.isMalformed());

    // Only escaped values are taken from the payload, in order.
    KQUZipZip64Values values{0xFFFFFFFF, 7, 0xFFFFFFFF};
    KQUZipApplyZip64ExtraField(first->payload, values);
    EXPECT_EQ(values.uncompressedSize, 5ull << 30);
    EXPECT_EQ(values.compressedSize, 7u);
    EXPECT_EQ(values.localHeaderOffset, (5ull << 30) + 7);

    KQUZipZip64Values missing{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_KQU_THROW(KQUZipApplyZip64ExtraField(first->payload.first(7), missing),
                     "KQUZipCentralFileHeaderError", "Not enough room for Zip64 uncompressed size");
    missing = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_KQU_THROW(KQUZipApplyZip64ExtraField(first->payload.first(15), missing),
                     "KQUZipCentralFileHeaderError", "Not enough room for Zip64 compressed size");
    missing = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_KQU_THROW(KQUZipApplyZip64ExtraField(first->payload, missing), "KQUZipCentralFileHeaderError",
                     "Not enough room for Zip64 offset");

    EXPECT_EQ(toHex(KQUZipZip64LocalExtraField()), "0100100000000000000000000000000000000000");
}

TEST(KQUZipFormat, FreeSpaceEntryNames) {
    EXPECT_EQ(KQUZipFreeSpaceEntryName(1), ".QlTrash/00000001");
    EXPECT_EQ(KQUZipFreeSpaceEntryName(10), ".QlTrash/0000000A");
    EXPECT_EQ(KQUZipFreeSpaceEntryName(0xFFFFFFFF), ".QlTrash/FFFFFFFF");
    EXPECT_EQ(KQUZipFreeSpaceEntryName(0xABCDEF).size(), KQUZipFreeSpaceEntryNameLength);
    EXPECT_TRUE(KQUZipIsFreeSpaceEntryName(".QlTrash/0000000A"));
    EXPECT_FALSE(KQUZipIsFreeSpaceEntryName(".QlTrash/0000000a"));
    EXPECT_FALSE(KQUZipIsFreeSpaceEntryName(".QlTrash/000000001"));
    EXPECT_FALSE(KQUZipIsFreeSpaceEntryName("QlTrash/000000001"));
}

TEST(KQUZipFormat, DosTimes) {
    auto dos = [](int year, int month, int day, int hour, int minute, int second) {
        std::tm t{};
        t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
        t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
        return KQUZipDosTimeFromTm(t);
    };
    EXPECT_EQ(dos(2008, 3, 5, 14, 7, 9), 0x386570E4u);
    // Values from zipfile's packing: odd seconds round down, the field's last year.
    EXPECT_EQ(dos(2024, 2, 29, 13, 45, 31), 0x585D6DAFu);
    EXPECT_EQ(dos(2107, 12, 31, 23, 59, 59), 0xFF9FBF7Du);
    // The floor: 1980 and earlier are written as 1981 (years since 1980 at least 1).
    EXPECT_EQ(dos(1980, 1, 1, 0, 0, 0), 0x02210000u);
    EXPECT_EQ(dos(1975, 1, 1, 0, 0, 1), 0x02210000u);
    // Beyond the last year the year field stays at its largest instead of wrapping.
    EXPECT_EQ(dos(2200, 12, 31, 23, 59, 59), 0xFF9FBF7Du);

    auto t = KQUZipDecodeDosTime(0x585D6DAF);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 45);
    EXPECT_EQ(t.second, 30);

    // The clock: equal to the DOS form of now, broken down locally.
    std::time_t before = std::time(nullptr);
    uint32_t now = KQUZipCurrentDosTime();
    std::time_t after = std::time(nullptr);
    EXPECT_TRUE(now == KQUZipDosTimeFromTime(before) || now == KQUZipDosTimeFromTime(after));
    EXPECT_GE(KQUZipDecodeDosTime(now).year, 2024);
}

TEST(KQUZipFormat, Crc32Combine) {
    const std::string a = "The quick brown fox ", b = "jumps over the lazy dog";
    EXPECT_EQ(KQUCrc32Update(0, a.data(), a.size()), 0x88B075E2u);
    EXPECT_EQ(KQUCrc32Update(0, b.data(), b.size()), 0x18786794u);
    EXPECT_EQ(KQUCrc32Combine(0x88B075E2, 0x18786794, static_cast<int64_t>(b.size())), 0x414FA339u);
    // Empty first block; length 0 returns crc1 unchanged.
    EXPECT_EQ(KQUCrc32Combine(0, 0x18786794, static_cast<int64_t>(b.size())), 0x18786794u);
    EXPECT_EQ(KQUCrc32Combine(0x88B075E2, 0, 0), 0x88B075E2u);
    EXPECT_KQU_THROW(KQUCrc32Combine(1, 2, -1), NSInvalidArgumentException,
                     "Negative length for CRC-32 combination.");

    // A second block of 3 MiB + 5 bytes.
    std::string big(3 * 1024 * 1024 + 5, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7) % 251);
    uint32_t crcBig = KQUCrc32Update(0, big.data(), big.size());
    EXPECT_EQ(crcBig, 0x98EE56D2u);
    EXPECT_EQ(KQUCrc32Combine(0x88B075E2, crcBig, static_cast<int64_t>(big.size())), 0x5A8418BCu);
    // Split anywhere, the pieces combine to the whole.
    for (size_t split : {size_t{0}, size_t{1}, size_t{4095}, big.size() / 2, big.size()}) {
        uint32_t left = KQUCrc32Update(0, big.data(), split);
        uint32_t right = KQUCrc32Update(0, big.data() + split, big.size() - split);
        EXPECT_EQ(KQUCrc32Combine(left, right, static_cast<int64_t>(big.size() - split)), crcBig) << split;
    }
}

// Every length and alignment around the folding steps gives zlib's answer.
TEST(KQUZipFormat, Crc32UpdateMatchesZlibForEveryShape) {
    std::string bytes = kqu::test::patternBytes(70000, 11);
    const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
    for (size_t offset : {size_t{0}, size_t{1}, size_t{7}, size_t{63}}) {
        for (size_t size :
             {size_t{0}, size_t{15}, size_t{16}, size_t{255}, size_t{256}, size_t{257}, size_t{319},
              size_t{511}, size_t{512}, size_t{1000}, size_t{4096 + 48}, size_t{65536 + 200}}) {
            uint32_t expected = static_cast<uint32_t>(crc32(0x12345678, p + offset, static_cast<uInt>(size)));
            EXPECT_EQ(KQUCrc32Update(0x12345678, p + offset, size), expected) << offset << " " << size;
        }
    }
}
