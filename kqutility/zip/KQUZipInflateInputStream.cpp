#include "kqutility/zip/KQUZipInflateInputStream.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/zip/KQUZipCrc32.h"
#include "kqutility/zip/KQUZipException.h"
#include "kqutility/zip/KQUZipFormat.h"

namespace kqu {

void KQUZipThrowCrcMismatch(uint32_t expected, uint32_t found) {
    throw KQUZipException("KQUZipEntryError",
                          fmt::format("CRC-32 mismatch (expected {:08x}, found {:08x})", expected, found));
}

// MARK: - KQUZipInflateInputStream

KQUZipInflateInputStream::KQUZipInflateInputStream(int64_t offset, int64_t end, uint64_t uncompressedSize,
                                                   uint32_t crc,
                                                   const KQUZipArchiveDataRepresentation& archive)
    : mOffset(offset),
      mInput(archive.bufferedInputStreamWithOffset(offset, end - offset)),
      mOutBufferSize(
          static_cast<uint32_t>(std::clamp<uint64_t>(uncompressedSize, 1, KQUZipInflateBufferMaxSize))),
      mIsFromZip(true),
      mUncompressedSize(uncompressedSize),
      mCheckCrc(crc),
      mMode(Mode::Undecided),
      mCompressedLength(end - offset) {
    setupInflateStream();
}

KQUZipInflateInputStream::KQUZipInflateInputStream(std::shared_ptr<KQUInputStream> input)
    : mOffset(0),
      mInput(std::make_shared<KQUBufferedInputStream>(std::move(input))),
      mOutBufferSize(KQUZipInflateBufferMaxSize),
      mIsFromZip(false) {
    setupInflateStream();
}

KQUZipInflateInputStream::~KQUZipInflateInputStream() {
    if (mHasStream) inflateEnd(&mStream);
}

void KQUZipInflateInputStream::setupInflateStream() {
    mStream.zalloc = Z_NULL;
    mStream.zfree = Z_NULL;
    mStream.opaque = Z_NULL;
    mStream.next_in = Z_NULL;
    mStream.avail_in = 0;
    int result = inflateInit2(&mStream, -15);
    if (result != Z_OK)
        throw KQUZipException("KQUZipInflateError", fmt::format("inflateInit2() failed: {}", result));
    mHasStream = true;
}

namespace {

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One per thread, made on first use: it is about 32 KiB of tables.
libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

}  // namespace

// At the first read of an entry from an archive: small enough entries are inflated whole.
void KQUZipInflateInputStream::chooseMode() {
    mMode = Mode::Streaming;
    if (mCompressedLength <= 0 || static_cast<uint64_t>(mCompressedLength) > kWholeEntryMaxSize ||
        mUncompressedSize > kWholeEntryMaxSize)
        return;
    uint32_t length = static_cast<uint32_t>(mCompressedLength);
    try {
        mCompressed = KQUStreamBuffer(length);
    } catch (const std::bad_alloc&) {
        return;
    }
    uint32_t got = 0;
    while (got < length) {
        uint32_t n = mInput->readToBuffer(mCompressed.data() + got, length - got);
        if (n == 0) break;
        got += n;
    }
    mOffset += got;
    if (got == length && inflateWhole(length)) {
        mMode = Mode::Whole;
        mCompressed = KQUStreamBuffer();
        return;
    }
    // Damaged, truncated or not the recorded size: zlib reads the same bytes again and
    // reports what is wrong exactly as it does for a streamed entry.
    mStream.next_in = reinterpret_cast<Bytef*>(mCompressed.data());
    mStream.avail_in = got;
}

bool KQUZipInflateInputStream::inflateWhole(uint32_t compressedLength) {
    libdeflate_decompressor* decompressor = threadDecompressor();
    if (!decompressor) return false;
    try {
        mWhole = KQUStreamBuffer(static_cast<uint32_t>(mUncompressedSize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t inflated = 0;
    libdeflate_result result =
        libdeflate_deflate_decompress(decompressor, mCompressed.data(), compressedLength, mWhole.data(),
                                      static_cast<size_t>(mUncompressedSize), &inflated);
    if (result == LIBDEFLATE_SUCCESS && inflated == mUncompressedSize) return true;
    mWhole = KQUStreamBuffer();
    return false;
}

// Hands out the next bytes of a wholly inflated entry: copied into buffer, or lent when
// lent is given. The CRC is checked as the last byte goes out, as for a streamed entry.
uint32_t KQUZipInflateInputStream::takeFromWhole(char* buffer, uint32_t size, const char** lent) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, mUncompressedSize - mWholeRead));
    const char* from = mWhole.data() + mWholeRead;
    if (lent)
        *lent = from;
    else if (n)
        std::memcpy(buffer, from, n);
    if (n) mCalculatedCrc = KQUZipCrc32(mCalculatedCrc, from, n);
    mWholeRead += n;
    verifyEntry(false);
    return n;
}

void KQUZipInflateInputStream::verifyEntry(bool deflateEnded) {
    if (!mIsFromZip || mHasVerified) return;
    uint64_t produced = this->produced();
    if (produced > mUncompressedSize || (deflateEnded && produced != mUncompressedSize))
        throw KQUZipException("KQUZipEntryError", fmt::format("Inflated {} bytes from an entry of {} bytes",
                                                              produced, mUncompressedSize));
    if (produced == mUncompressedSize) {
        mHasVerified = true;
        if (mCalculatedCrc != mCheckCrc) KQUZipThrowCrcMismatch(mCheckCrc, mCalculatedCrc);
    }
}

uint32_t KQUZipInflateInputStream::readToBuffer(char* buffer, uint32_t size) {
    if (size == 0) return 0;
    if (mMode == Mode::Undecided) chooseMode();
    if (mMode == Mode::Whole) return takeFromWhole(buffer, size, nullptr);
    mStream.next_out = reinterpret_cast<Bytef*>(buffer);
    mStream.avail_out = size;
    int result = Z_OK;
    while (mStream.avail_out > 0) {
        if (mStream.avail_in == 0 && mReachedEnd) break;
        if (mDeflateEnded || result != Z_OK) break;
        if (mStream.avail_in == 0) {
            const char* block = nullptr;
            uint32_t n = mInput->readToOwnBuffer(&block, UINT32_MAX);
            mStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block));
            mStream.avail_in = n;
            mOffset += n;
        }
        result = inflate(&mStream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            throw KQUZipException("KQUZipInflateError", fmt::format("inflate() failed: {}", result));
        if (result == Z_STREAM_END) mDeflateEnded = true;
    }
    uint32_t produced = size - mStream.avail_out;
    if (mIsFromZip) {
        if (produced) mCalculatedCrc = KQUZipCrc32(mCalculatedCrc, buffer, produced);
        verifyEntry(mDeflateEnded);
    }
    if (produced == 0) mReachedEnd = true;
    return produced;
}

uint32_t KQUZipInflateInputStream::readToOwnBuffer(const char** buffer, uint32_t size) {
    if (mMode == Mode::Undecided) chooseMode();
    if (mMode == Mode::Whole) {
        static const char sNothing = 0;
        *buffer = &sNothing;
        return takeFromWhole(nullptr, size > 0 && size <= mOutBufferSize ? size : mOutBufferSize, buffer);
    }
    if (!mOutBuffer && mOutBufferSize > 0) {
        try {
            mOutBuffer = KQUStreamBuffer(mOutBufferSize);
        } catch (const std::bad_alloc&) {
            throw KQUZipException("KQUZipInflateError", "Could not create inflate buffer");
        }
    }
    static char sEmpty;
    char* out = mOutBuffer ? mOutBuffer.data() : &sEmpty;
    uint32_t want = size > 0 && size <= mOutBufferSize ? size : mOutBufferSize;
    uint32_t n = readToBuffer(out, want);
    *buffer = out;
    return n;
}

void KQUZipInflateInputStream::seekToOffset(int64_t) {
    KQU_OBJECT_ASSERT_FAILURE("Not implemented.");
}

// MARK: - KQUZipCrcCheckedInputStream

KQUZipCrcCheckedInputStream::KQUZipCrcCheckedInputStream(std::shared_ptr<KQUInputStream> input,
                                                         uint64_t length, uint32_t crc)
    : mInput(std::move(input)), mLength(length), mCheckCrc(crc) {}

uint32_t KQUZipCrcCheckedInputStream::readToBuffer(char* buffer, uint32_t size) {
    uint32_t n = mInput->readToBuffer(buffer, size);
    if (n) mCalculatedCrc = KQUZipCrc32(mCalculatedCrc, buffer, n);
    mRead += n;
    if (!mHasVerified && (mRead >= mLength || (n == 0 && size > 0))) {
        mHasVerified = true;
        if (mRead != mLength)
            throw KQUZipException("KQUZipEntryError",
                                  fmt::format("Read {} bytes from an entry of {} bytes", mRead, mLength));
        if (mCalculatedCrc != mCheckCrc) KQUZipThrowCrcMismatch(mCheckCrc, mCalculatedCrc);
    }
    return n;
}

void KQUZipCrcCheckedInputStream::seekToOffset(int64_t) {
    KQU_OBJECT_ASSERT_FAILURE("Not implemented.");
}

}  // namespace kqu

namespace kqu {

std::shared_ptr<KQUBufferedInputStreamProtocol> KQUBufferedInputStreamForDecryptingFile(
    const std::string& path, std::shared_ptr<const KQUCryptoKey> key, bool isDeflated) {
    std::shared_ptr<KQUInputStream> stream = KQUFileInputStream::create(path);
    if (!stream) return nullptr;
    stream = std::make_shared<KQUCryptoInputStream>(std::move(stream), std::move(key));
    if (isDeflated) stream = std::make_shared<KQUZipInflateInputStream>(std::move(stream));
    return std::make_shared<KQUBufferedInputStream>(std::move(stream));
}

}  // namespace kqu
