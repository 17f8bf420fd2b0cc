// Record bytes, extra fields, DOS times and CRC helpers of the zip format (expected bytes packed with
// Python's struct, zlib and zipfile), and the zip layer's streams at their buffer boundaries (below).
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"
#include "kqutility/zip/KQUZipDeflateOutputStream.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "kqutility/zip/KQUZipInflateInputStream.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // records and times built field by field

using namespace kqu;
using kqu::test::fromHex;
using kqu::test::toHex;

namespace {

constexpr uint32_t kTime = 0x386570E4;  // 2008-03-05 14:07:09

KQUZipEntryRecordInfo entry(uint16_t method, uint32_t crc, uint64_t compressed, uint64_t uncompressed,
                            uint64_t offset) {
    return {0, method, kTime, crc, compressed, uncompressed, offset};  // flags 0
}

KQUData central(const KQUZipEntryRecordInfo& e, std::string_view name, std::span<const uint8_t> lib = {}) {
    KQUData out;
    size_t n = KQUZipAppendCentralFileHeaderForEntry(out, e, name, lib);
    EXPECT_EQ(n, out.size());
    return out;
}

KQUData endOfArchive(uint64_t count, uint64_t size, uint64_t offset) {
    KQUData out;
    size_t n = KQUZipAppendEndOfArchive(out, count, size, offset);
    EXPECT_EQ(n, out.size());
    return out;
}

}  // namespace

TEST(KQUZipFormat, LocalHeaderBytes) {
    KQUZipEntryRecordInfo e = entry(0, 0, 0, 0, 0);
    KQUData out, big;
    EXPECT_EQ(KQUZipAppendLocalFileHeaderForEntry(out, e, "a", false), 31u);
    EXPECT_EQ(toHex(out), "504b0304140000000000e47065380000000000000000000000000100000061");
    EXPECT_EQ(KQUZipAppendLocalFileHeaderForEntry(big, e, "big.bin", true), 57u);  // + Zip64 local field
    EXPECT_EQ(toHex(std::span(big).last(20)), toHex(KQUZipZip64LocalExtraField()));

    // The patch written after the data, and the Zip64 payload: only the values that need it.
    EXPECT_EQ(toHex(KQUZipLocalFileHeaderCrcAndSizes(0x0D4A1185, 0xFFFFFFFF, 5)), "85114a0dffffffff05000000");
    KQUData small, large;
    EXPECT_EQ(KQUZipAppendZip64LocalPayload(small, 0xFFFFFFFE, 0xFFFFFFFF), 8u);
    EXPECT_EQ(toHex(small), "ffffffff00000000");
    EXPECT_EQ(KQUZipAppendZip64LocalPayload(large, 5ull << 30, (5ull << 30) + 7), 16u);
}

TEST(KQUZipFormat, CentralHeaderAtZip64Boundaries) {
    // 5 GiB entry at offset 5 GiB: all three values in the Zip64 field.
    EXPECT_EQ(toHex(central(entry(0x636B, 0xCAFEBABE, 5ull << 30, 5ull << 30, 5ull << 30), "v")),
              "504b01023e00140000006b63e4706538bebafecaffffffffffffffff01001c0000000000000000000000ffffffff76"
              "01001800000000400100000000000040010000000000004001000000");
    // One below the escape: no Zip64 field; sizes at it: both (16 bytes); offset at it: the offset (8).
    const struct {
        uint64_t size, offset;
        uint16_t extra;
    } cases[] = {{0xFFFFFFFE, 0xFFFFFFFE, 0}, {0xFFFFFFFF, 0xFFFFFFFE, 20}, {10, 0xFFFFFFFF, 12}};
    for (const auto& c : cases)
        EXPECT_EQ(central(entry(0, 1, c.size, c.size, c.offset), "x.xml").size(), 46u + 5 + c.extra)
            << c.size;
}

TEST(KQUZipFormat, FirstCentralHeaderCarriesLibraryFieldsAfterZip64) {
    KQUData hint;
    const std::string text = "hint!";
    KQUZipAppendLibraryExtraField(hint, KQUZipPassphraseHintExtraFieldID,
                                  KQUZipPassphraseHintExtraFieldSignature,
                                  {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    EXPECT_EQ(toHex(hint), "6e630900716c706868696e7421");

    // After the Zip64 field, which holds the compressed size only: 46 + 5 + 12 + 13.
    const KQUData bytes = central(entry(0x636C, 1, 5ull << 30, 100, 0), "first", hint);
    EXPECT_EQ(toHex(std::span(bytes).last(25)), "010008000000004001000000" + toHex(hint));
}

TEST(KQUZipFormat, EndOfArchiveAtZip64Boundaries) {
    EXPECT_EQ(toHex(endOfArchive(65534, 65534 * 50, 1000)), "504b050600000000fefffeff9cff3100e80300000000");
    // 65535 entries: the count itself is the escape, so Zip64 records come first.
    KQUData out = endOfArchive(65535, 65535 * 50, 1000);
    EXPECT_EQ(
        toHex(out),
        "504b06062c000000000000003e0014000000000000000000ffff000000000000ffff000000000000ceff310000000000e803"
        "000000000000504b060700000000b60332000000000001000000504b050600000000ffffffffceff3100e80300000000");
    // The same for a directory size or offset at the escape; one below, no Zip64.
    EXPECT_EQ(std::tuple(endOfArchive(3, 0xFFFFFFFF, 1000).size(), endOfArchive(3, 100, 0xFFFFFFFE).size(),
                         endOfArchive(3, 100, 0xFFFFFFFF).size()),
              std::tuple(98u, 22u, 98u));

    // Decoded back: values beyond 32 bits in the Zip64 record and its locator.
    out = endOfArchive(70000, 0x1'0000'0001ull, 0x2'0000'0000ull);
    EXPECT_EQ(KQUZipDecodeZip64EndOfCentralDirectory(out)->centralDirectorySize, 0x1'0000'0001ull);
    EXPECT_EQ(KQUZipDecodeZip64EndOfCentralDirectoryLocator(std::span(out).subspan(56))->zip64RecordOffset,
              0x3'0000'0001ull);
}

TEST(KQUZipFormat, DataDescriptors) {
    KQUData out, wide;
    EXPECT_EQ(KQUZipAppendDataDescriptor(out, {0xDEADBEEF, 100, 200}, false), 16u);
    EXPECT_EQ(toHex(out), "504b0708efbeadde64000000c8000000");
    EXPECT_EQ(KQUZipAppendDataDescriptor(wide, {0xDEADBEEF, 5ull << 30, (5ull << 30) + 7}, true), 24u);
    EXPECT_EQ(KQUZipDecodeDataDescriptor(wide, true)->uncompressedSize, (5ull << 30) + 7);
    EXPECT_FALSE(KQUZipDecodeDataDescriptor(std::span(wide).first(23), true));
    EXPECT_TRUE(KQUZipDecodeDataDescriptor(std::span(wide).first(16), false));
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
    EXPECT_FALSE(KQUZipDecodeCentralFileHeader(shortBy1(central, 46)));
    EXPECT_FALSE(KQUZipDecodeCentralFileHeaderRecord(shortBy1(central, central.size())));
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
    const std::string tooLong(65536, 'n');
    EXPECT_KQU_THROW(KQUZipAppendLocalFileHeaderForEntry(out, entry(0, 0, 0, 0, 0), tooLong, false),
                     "KQUZipOutputError", fmt::format("File name {} is too long", tooLong));
    EXPECT_KQU_THROW(KQUZipAppendCentralFileHeaderForEntry(out, entry(0, 0, 0, 0, 0), tooLong),
                     "KQUZipOutputError", "");
    EXPECT_EQ(out.size(), 3u);

    // The Zip64 field and the library fields share one 16-bit length.
    KQUData lib;
    KQUZipAppendLibraryExtraField(lib, KQUZipPassphraseHintExtraFieldID,
                                  KQUZipPassphraseHintExtraFieldSignature, KQUData(65535 - 8 - 12, 'h'));
    EXPECT_KQU_THROW(
        KQUZipAppendCentralFileHeaderForEntry(out, entry(0, 0, 5ull << 30, 5ull << 30, 0), "n", lib),
        "KQUZipOutputError", "Extra field of file n is too long");
    EXPECT_EQ(out.size(), 3u);
    // With only the offset in the Zip64 field (12 bytes) it fits exactly.
    EXPECT_EQ(KQUZipAppendCentralFileHeaderForEntry(out, entry(0, 0, 1, 1, 5ull << 30), "n", lib),
              46u + 1 + 65535);

    KQUData field;
    EXPECT_KQU_THROW(
        KQUZipAppendLibraryExtraField(field, KQUZipEncryptedDocumentUuidExtraFieldID,
                                      KQUZipEncryptedDocumentUuidExtraFieldSignature, KQUData(65532, 0)),
        "KQUZipOutputError", "Extra field 0x636F is too long");
    EXPECT_TRUE(field.empty());
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
    auto first = it.next(), second = it.next();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->payload.size(), 16u);
    EXPECT_EQ(
        toHex(*KQUZipLibraryExtraFieldData(second->payload, KQUZipEncryptedDocumentUuidExtraFieldSignature)),
        "0102");
    EXPECT_FALSE(KQUZipLibraryExtraFieldData(second->payload, KQUZipPassphraseHintExtraFieldSignature));
    EXPECT_FALSE(KQUZipLibraryExtraFieldData(second->payload.first(3),
                                             KQUZipEncryptedDocumentUuidExtraFieldSignature));
    EXPECT_FALSE(it.next());
    EXPECT_TRUE(it.isMalformed());
    KQUZipExtraFieldIterator tail{std::span(block).first(2)};  // fewer than 4 bytes: simply the end
    EXPECT_FALSE(tail.next() || tail.isMalformed());

    // Only escaped values are taken from the payload, in order.
    KQUZipZip64Values values{0xFFFFFFFF, 7, 0xFFFFFFFF};
    KQUZipApplyZip64ExtraField(first->payload, values);
    EXPECT_EQ(std::tuple(values.uncompressedSize, values.compressedSize, values.localHeaderOffset),
              std::tuple(5ull << 30, 7u, (5ull << 30) + 7));
    for (auto [length, what] :
         {std::pair{7, "uncompressed size"}, std::pair{15, "compressed size"}, std::pair{16, "offset"}}) {
        KQUZipZip64Values missing{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        EXPECT_KQU_THROW(
            KQUZipApplyZip64ExtraField(first->payload.first(static_cast<size_t>(length)), missing),
            "KQUZipCentralFileHeaderError", fmt::format("Not enough room for Zip64 {}", what));
    }
}

TEST(KQUZipFormat, FreeSpaceEntryNames) {
    EXPECT_EQ(KQUZipFreeSpaceEntryName(0xFFFFFFFA), ".QlTrash/FFFFFFFA");
    for (const char* other : {".QlTrash/0000000a", ".QlTrash/000000001", "QlTrash/000000001"})
        EXPECT_FALSE(KQUZipIsFreeSpaceEntryName(other)) << other;
}

TEST(KQUZipFormat, DosTimes) {
    // zipfile's packing: odd seconds round down; up to 1980 written as 1981; beyond 2107 the year stays 2107.
    const struct {
        int year, month, day, hour, minute, second;
        uint32_t dos;
    } cases[] = {{2008, 3, 5, 14, 7, 9, 0x386570E4u},     {2024, 2, 29, 13, 45, 31, 0x585D6DAFu},
                 {2107, 12, 31, 23, 59, 59, 0xFF9FBF7Du}, {1980, 1, 1, 0, 0, 0, 0x02210000u},
                 {1975, 1, 1, 0, 0, 1, 0x02210000u},      {2200, 12, 31, 23, 59, 59, 0xFF9FBF7Du}};
    for (const auto& c : cases) {
        std::tm t{c.second, c.minute, c.hour, c.day, c.month - 1, c.year - 1900};  // glibc's field order
        EXPECT_EQ(KQUZipDosTimeFromTm(t), c.dos) << c.year;
    }
    auto t = KQUZipDecodeDosTime(0x585D6DAF);
    EXPECT_EQ(std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second),
              std::tuple(2024, 2, 29, 13, 45, 30));
    // The clock: equal to the DOS form of now, broken down locally.
    std::time_t before = std::time(nullptr);
    uint32_t now = KQUZipCurrentDosTime();
    std::time_t after = std::time(nullptr);
    EXPECT_TRUE(now == KQUZipDosTimeFromTime(before) || now == KQUZipDosTimeFromTime(after));
}

TEST(KQUZipFormat, Crc32Combine) {
    // zlib.crc32 of "The quick brown fox ", of "jumps over the lazy dog" (23 bytes), and of both.
    EXPECT_EQ(KQUCrc32Combine(0x88B075E2, 0x18786794, 23), 0x414FA339u);
    EXPECT_EQ(KQUCrc32Combine(0x88B075E2, 0, 0), 0x88B075E2u);
    EXPECT_KQU_THROW(KQUCrc32Combine(1, 2, -1), NSInvalidArgumentException,
                     "Negative length for CRC-32 combination.");
    // Split anywhere in 3 MiB + 5 bytes, the pieces combine to the whole.
    std::string big = kqu::test::patternBytes(3 * 1024 * 1024 + 5, 7);
    for (size_t split : {size_t{0}, size_t{4095}, big.size() / 2, big.size()}) {
        uint32_t left = KQUCrc32Update(0, big.data(), split),
                 right = KQUCrc32Update(0, big.data() + split, big.size() - split);
        EXPECT_EQ(KQUCrc32Combine(left, right, static_cast<int64_t>(big.size() - split)),
                  KQUCrc32Update(0, big.data(), big.size()))
            << split;
    }
}

// Boundary sweeps: sizes 0, 1, B - 1, B, B + 1, 2 B + 1 for each buffer size B, in one call and in odd
// chunks; zlib gives the known answers (deflate data to read, CRCs, inflate of what our stream writes).
namespace kqu::test {
namespace {

constexpr uint32_t kBuffer = 262144;  // the deflate, inflate and buffered streams' buffer

std::vector<uint32_t> boundarySizes(uint32_t buffer) {
    return {0, 1, buffer - 1, buffer, buffer + 1, 2 * buffer + 1};
}

// Transfer patterns: everything in one call, or odd chunk sizes in turn.
const std::vector<std::vector<uint32_t>> kChunkings = {{UINT32_MAX}, {65537, 7, 4093, 1, 262145}};

struct Sample {
    KQUData plain, deflated;  // deflated: zlib's raw deflate at level 6
    uint32_t crc = 0;
};

// Random bytes (incompressible) or numbered CSV-like lines (compressible).
Sample sampleOf(bool compressible, uint32_t size) {
    std::string plain = compressible ? "" : patternBytes(size, size);
    for (uint32_t i = 0; compressible && plain.size() < size; ++i)
        plain += fmt::format("{},item {},{}.{:02},\"note {}\"\n", i, i % 97, i * 7, i % 100, i % 13);
    plain.resize(size);
    const std::string deflated = rawDeflate(plain, 6);
    return {KQUData(plain.begin(), plain.end()), KQUData(deflated.begin(), deflated.end()), zlibCrc(plain)};
}

// zlib's raw inflate of data; nothing may follow the end of the deflate stream.
KQUData zlibInflate(const KQUData& data, size_t expectedSize) {
    KQUData out(expectedSize + 1);
    z_stream z{.next_in = const_cast<Bytef*>(data.data()),
               .avail_in = static_cast<uInt>(data.size()),
               .next_out = out.data(),
               .avail_out = static_cast<uInt>(out.size())};
    inflateInit2(&z, -15);
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Reads a stream to its end in the given chunk sizes (in turn), by readToBuffer or (own) readToOwnBuffer.
KQUData readAll(KQUInputStream& stream, const std::vector<uint32_t>& chunks, bool own) {
    KQUData out;
    std::vector<char> buffer;
    auto* buffered = own ? dynamic_cast<KQUBufferedInputStreamProtocol*>(&stream) : nullptr;
    for (size_t i = 0;; ++i) {
        const uint32_t want = chunks[i % chunks.size()];
        buffer.resize(std::min<uint32_t>(want, 5u << 20));
        const char* from = buffer.data();
        const uint32_t n = buffered
                               ? buffered->readToOwnBuffer(&from, want)
                               : stream.readToBuffer(buffer.data(), static_cast<uint32_t>(buffer.size()));
        out.insert(out.end(), from, from + n);
        if (n == 0) return out;
    }
}

// Deflates size bytes of plain announcing the given size, checks zlib's inflate; answers: compressed whole?
bool deflateAndCheck(const KQUData& plain, uint32_t size,
                     uint64_t announced = KQUZipDeflateOutputStream::kUnknownLength,
                     const std::vector<uint32_t>& chunks = {UINT32_MAX}) {
    auto memory = std::make_shared<KQUMemoryOutputStream>();
    KQUZipDeflateOutputStream deflater(memory, announced);
    for (size_t done = 0, i = 0; done < size; done += chunks[i++ % chunks.size()])
        deflater.writeBuffer(reinterpret_cast<const char*>(plain.data()) + done,
                             static_cast<uint32_t>(std::min<size_t>(chunks[i % chunks.size()], size - done)));
    EXPECT_EQ(deflater.closeLocalStream(), memory) << size;
    EXPECT_EQ(std::tuple(deflater.offset(), static_cast<size_t>(deflater.compressedOffset())),
              std::tuple(int64_t{size}, memory->data()->size()));
    EXPECT_TRUE(zlibInflate(*memory->data(), size) == KQUData(plain.begin(), plain.begin() + size)) << size;
    return deflater.wasCompressedWhole();
}

// At the largest size compressed whole and one byte beyond it (streamed).
TEST(KQUZipStreamBoundaryTest, DeflatingStreamCompressesWholeUpToItsLimit) {
    constexpr uint32_t kLimit = KQUZipDeflateOutputStream::kWholeEntryMaxSize;
    const KQUData plain = sampleOf(false, kLimit + 1).plain;
    for (uint32_t size : {kLimit, kLimit + 1})
        EXPECT_EQ(deflateAndCheck(plain, size, size), size == kLimit) << size;
}

// Reported: random 263,300-263,400 bytes filled the output buffer as the finish began ("buffer error").
TEST(KQUZipStreamBoundaryTest, DeflatingStreamFinishesWhenItsBufferIsFullAtTheEnd) {
    KQUData random(263400);
    uint32_t state = 12345;
    for (auto& byte : random) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 23);
    for (uint32_t size = 263300; size <= 263400; size += 5) deflateAndCheck(random, size);
}

// Deflating, inflating (over an archive range and any stream) and CRC-checking streams; one byte too many
// announced, a wrong CRC or a flipped byte is caught at the end.
TEST(KQUZipStreamBoundaryTest, DeflateAndInflateStreamsAgreeWithZlibAtEveryBoundary) {
    for (bool compressible : {false, true}) {
        for (uint32_t size : boundarySizes(kBuffer)) {
            const Sample sample = sampleOf(compressible, size);
            auto archive =
                std::make_shared<KQUZipArchiveMemoryDataRepresentation>(KQUMakeData(sample.deflated));
            auto length = static_cast<int64_t>(sample.deflated.size());
            for (const auto& chunks : kChunkings) {
                SCOPED_TRACE(
                    fmt::format("size {} compressible {} chunks {}", size, compressible, chunks.size()));
                // Announced: unknown (streamed), exact (compressed whole), 1 (collected, then streamed).
                constexpr uint64_t kUnknown = KQUZipDeflateOutputStream::kUnknownLength;
                for (uint64_t announced : {kUnknown, uint64_t{size}, uint64_t{1}})
                    EXPECT_EQ(deflateAndCheck(sample.plain, size, announced, chunks),
                              announced != kUnknown && size <= announced)
                        << announced;
                for (bool own : {false, true}) {
                    KQUZipInflateInputStream fromArchive(0, length, size, sample.crc, *archive);
                    EXPECT_TRUE(readAll(fromArchive, chunks, own) == sample.plain);
                    EXPECT_EQ(fromArchive.compressedOffset(), length);
                    KQUZipInflateInputStream onStream(
                        KQUMemoryInputStream::create(KQUMakeData(sample.deflated)));
                    EXPECT_TRUE(readAll(onStream, chunks, own) == sample.plain);
                }
                // The CRC-checking stream: good, one byte flipped, one byte more announced.
                KQUData damaged = sample.plain;
                if (size) damaged[size - 1] ^= 0x40;
                for (auto [bytes, announced] : {std::pair{sample.plain, size}, std::pair{damaged, size},
                                                std::pair{sample.plain, size + 1}}) {
                    KQUZipCrcCheckedInputStream checked(KQUMemoryInputStream::create(KQUMakeData(bytes)),
                                                        announced, sample.crc);
                    if (announced == size && bytes == sample.plain)
                        EXPECT_TRUE(readAll(checked, chunks, false) == sample.plain);
                    else if (size)
                        EXPECT_KQU_THROW(readAll(checked, chunks, false), "KQUZipEntryError", "");
                }
            }
            if (size == 0) {
                KQUZipInflateInputStream onStream(KQUMemoryInputStream::create(KQUMakeData(sample.deflated)));
                EXPECT_FALSE(onStream.canSeek());
                EXPECT_ASSERTION_FAILURE(onStream.seekToOffset(0));
                continue;
            }
            KQUZipInflateInputStream tooLong(0, length, size + 1, sample.crc, *archive);
            EXPECT_KQU_THROW(readAll(tooLong, {UINT32_MAX}, false), "KQUZipEntryError", "");
            KQUZipInflateInputStream wrongCrc(0, length, size, sample.crc ^ 1, *archive);
            EXPECT_KQU_THROW(readAll(wrongCrc, kChunkings[1], true), "KQUZipEntryError", "");
        }
    }
}

TEST(KQUZipStreamBoundaryTest, BufferedStreamLendsEveryByteOnceAtEveryBoundary) {
    const Sample largest = sampleOf(false, 2 * kBuffer + 1);
    for (uint32_t buffer : {kBuffer, 4096u}) {  // the default buffer and a small one
        for (uint32_t size : boundarySizes(buffer)) {
            KQUData plain(largest.plain.begin(), largest.plain.begin() + size);
            for (const auto& chunks : kChunkings)
                for (bool own : {false, true}) {
                    KQUBufferedInputStream stream(KQUMemoryInputStream::create(KQUMakeData(plain)), buffer);
                    EXPECT_TRUE(readAll(stream, chunks, own) == plain)
                        << "buffer " << buffer << " size " << size;
                    EXPECT_EQ(stream.offset(), static_cast<int64_t>(plain.size()));
                }
        }
    }
}

}  // namespace
}  // namespace kqu::test
