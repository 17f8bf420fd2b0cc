// Record bytes, extra fields, DOS times and CRC helpers of the zip format.
//
// Expected bytes were computed independently with Python's struct, zlib and zipfile
// (the packing follows the published record layouts), not with this library.
#include <gtest/gtest.h>

#include <zlib.h>

#include <fmt/format.h>

#include <string>
#include <tuple>

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
    local[1] ^= 1;
    EXPECT_FALSE(KQUZipDecodeLocalFileHeader(local));

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
    EXPECT_KQU_THROW(KQUZipAppendCentralFileHeader(field, {}, "c", {}, KQUData(65536, 'c')),
                     "KQUZipOutputError", "Comment of file c is too long");
    EXPECT_KQU_THROW(KQUZipAppendEndOfCentralDirectory(field, {}, KQUData(65536, 'c')), "KQUZipOutputError",
                     "Archive comment is too long");
    EXPECT_TRUE(field.empty());
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

TEST(KQUZipFormat, Crc32Combine) {
    const std::string a = "The quick brown fox ", b = "jumps over the lazy dog";
    EXPECT_EQ(KQUCrc32Update(0, a.data(), a.size()), 0x88B075E2u);
    EXPECT_EQ(KQUCrc32Update(0, b.data(), b.size()), 0x18786794u);
    EXPECT_EQ(KQUCrc32Combine(0x88B075E2, 0x18786794, static_cast<int64_t>(b.size())), 0x414FA339u);
    EXPECT_EQ(KQUCrc32Combine(0x88B075E2, 0, 0), 0x88B075E2u);  // length 0: crc1 unchanged
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
