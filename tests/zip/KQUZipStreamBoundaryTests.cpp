// Boundary sweeps of the zip layer's buffering streams: the sizes 0, 1, B - 1, B, B + 1 and 2 B + 1
// for each internal buffer size B, with incompressible and compressible content, transferred in one
// call and in odd chunks. zlib itself gives the known answers: the raw deflate data our inflating
// stream must read, the CRC-32s, and the inflate of what our deflating stream writes.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"
#include "kqutility/zip/KQUZipDeflateOutputStream.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "kqutility/zip/KQUZipInflateInputStream.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

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

// Reads a stream to its end in the given chunk sizes (in turn), through readToBuffer or,
// for buffered streams, readToOwnBuffer.
KQUData readAll(KQUInputStream& stream, const std::vector<uint32_t>& chunks, bool own) {
    KQUData out;
    std::vector<char> buffer;
    auto* buffered = dynamic_cast<KQUBufferedInputStreamProtocol*>(&stream);
    for (size_t i = 0;; ++i) {
        uint32_t want = chunks[i % chunks.size()], n;
        if (own && buffered) {
            const char* lent = nullptr;
            n = buffered->readToOwnBuffer(&lent, want);
            out.insert(out.end(), lent, lent + n);
        } else {
            buffer.resize(std::min<uint32_t>(want, 5u << 20));
            n = stream.readToBuffer(buffer.data(), static_cast<uint32_t>(buffer.size()));
            out.insert(out.end(), buffer.begin(), buffer.begin() + n);
        }
        if (n == 0) return out;
    }
}

// Deflates the first size bytes of plain through our stream, announcing their size as given, and
// checks that zlib inflates them back; answers whether they were compressed whole.
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
    KQUData plain(kLimit + 1);
    uint32_t state = 7;
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] =
            static_cast<uint8_t>(i % 251 < 200 ? 'a' + i % 7 : (state = state * 1103515245u + 12345u) >> 24);
    for (uint32_t size : {kLimit, kLimit + 1})
        EXPECT_EQ(deflateAndCheck(plain, size, size), size == kLimit) << size;
}

// The reported failure: random content of 263,300 to 263,400 bytes fills the output
// buffer exactly when the finish begins (kqu zip create failed with "buffer error").
TEST(KQUZipStreamBoundaryTest, DeflatingStreamFinishesWhenItsBufferIsFullAtTheEnd) {
    KQUData random(263400);
    uint32_t state = 12345;
    for (auto& byte : random) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 23);
    for (uint32_t size = 263300; size <= 263400; size += 5) deflateAndCheck(random, size);
}

// The deflating stream (zlib must inflate what it writes), the inflating stream over an
// archive range and over any stream, and the CRC-checking stream; one byte too many
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
                // Announced sizes: unknown (zlib streams), exact (compressed whole by
                // libdeflate), one byte (collected, then streamed once it no longer fits).
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
            for (const auto& chunks : kChunkings) {
                for (bool own : {false, true}) {
                    KQUBufferedInputStream stream(KQUMemoryInputStream::create(KQUMakeData(plain)), buffer);
                    EXPECT_TRUE(readAll(stream, chunks, own) == plain)
                        << "buffer " << buffer << " size " << size;
                    EXPECT_EQ(stream.offset(), static_cast<int64_t>(plain.size()));
                }
            }
        }
    }
}

}  // namespace
}  // namespace kqu::test
