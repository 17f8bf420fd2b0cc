#include "kqutility/zip/KQUZipDeflateOutputStream.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/zip/KQUZipException.h"
#include "kqutility/zip/KQUZipFormat.h"

namespace kqu {

namespace {

constexpr const char* kDeflateError = "KQUZipDeflateError";

std::string zlibMessage(const z_stream& stream, int result) {
    return stream.msg ? stream.msg : zError(result);
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One per thread, made on first use and kept: its match-finder tables are several hundred
// KiB, too much to allocate and fault in again for every entry. nullptr when it could not
// be made (the entry is then streamed through zlib).
libdeflate_compressor* threadCompressor() {
    thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(static_cast<int>(KQUZipDeflateCompressionLevel)));
    return compressor.get();
}

}  // namespace

KQUZipDeflateOutputStream::KQUZipDeflateOutputStream(std::shared_ptr<KQUOutputStream> outputStream,
                                                     uint64_t expectedLength)
    : mOutputStream(std::move(outputStream)) {
    if (expectedLength <= kWholeEntryMaxSize) {
        try {
            if (expectedLength > 0) mCollected = KQUStreamBuffer(static_cast<uint32_t>(expectedLength));
            mCollecting = true;
            return;
        } catch (const std::bad_alloc&) {
            // Streamed instead, which needs less memory.
        }
    }
    startStreaming();
}

KQUZipDeflateOutputStream::~KQUZipDeflateOutputStream() {
    if (!mStreaming) return;
    int result = deflateEnd(&mStream);
    // Z_DATA_ERROR only says that the stream was dropped before it was finished.
    if (result != Z_OK && result != Z_DATA_ERROR)
        KQULogError("deflateEnd() failed: {}", zlibMessage(mStream, result));
}

// Sets up zlib's streaming deflate and hands it whatever was collected so far.
void KQUZipDeflateOutputStream::startStreaming() {
    try {
        mOutBuffer = KQUStreamBuffer(KQUZipDeflateBufferSize);  // reused, not zero-filled, per entry
    } catch (const std::bad_alloc&) {
        throw KQUZipException(kDeflateError, "Could not create deflate buffer");
    }
    int result =
        deflateInit2(&mStream, KQUZipDeflateCompressionLevel, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    if (result != Z_OK)
        throw KQUZipException(kDeflateError,
                              fmt::format("deflateInit2() failed: {}", zlibMessage(mStream, result)));
    mStreaming = true;
    mStream.next_out = reinterpret_cast<Bytef*>(mOutBuffer.data());
    mStream.avail_out = KQUZipDeflateBufferSize;
    if (mCollecting) {
        mCollecting = false;
        deflateInput(mCollected.data(), mCollectedLength);
        mCollected = KQUStreamBuffer();
        mCollectedLength = 0;
    }
}

void KQUZipDeflateOutputStream::writeOutBuffer() {
    uint32_t filled = KQUZipDeflateBufferSize - mStream.avail_out;
    if (filled > 0) mOutputStream->writeBuffer(mOutBuffer.data(), filled);
    mStream.next_out = reinterpret_cast<Bytef*>(mOutBuffer.data());
    mStream.avail_out = KQUZipDeflateBufferSize;
}

void KQUZipDeflateOutputStream::deflateInput(const char* buffer, uint32_t size) {
    mStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(buffer));
    mStream.avail_in = size;
    while (mStream.avail_in > 0) {
        if (mStream.avail_out == 0) writeOutBuffer();
        int result = deflate(&mStream, Z_NO_FLUSH);
        if (result != Z_OK)
            throw KQUZipException(kDeflateError,
                                  fmt::format("deflate() failed: {}", zlibMessage(mStream, result)));
    }
    mStream.next_in = nullptr;
}

void KQUZipDeflateOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    if (mFinished) {
        KQU_OBJECT_ASSERT_FAILURE("Stream is already closed.");
        return;
    }
    if (mCollecting) {
        uint32_t room = std::min(mCollected.capacity(), kWholeEntryMaxSize) - mCollectedLength;
        if (size <= room) {
            if (size > 0) std::memcpy(mCollected.data() + mCollectedLength, buffer, size);
            mCollectedLength += size;
            return;
        }
        startStreaming();  // more than was announced: this entry is streamed after all
    }
    deflateInput(buffer, size);
}

int64_t KQUZipDeflateOutputStream::offset() {
    if (mCollecting) return mCollectedLength;
    if (mStreaming) return static_cast<int64_t>(mStream.total_in);
    return mFinished ? static_cast<int64_t>(mCollectedLength) : 0;
}

int64_t KQUZipDeflateOutputStream::compressedOffset() const {
    return mStreaming ? static_cast<int64_t>(mStream.total_out) : static_cast<int64_t>(mWholeOut);
}

void KQUZipDeflateOutputStream::seekToOffset(int64_t, int) {
    KQU_OBJECT_ASSERT_FAILURE("Not implemented.");
}

// Compresses the collected bytes in one piece and hands them beneath; false (nothing
// written) when libdeflate or the memory for its output is not to be had.
bool KQUZipDeflateOutputStream::compressWhole() {
    libdeflate_compressor* compressor = threadCompressor();
    if (!compressor) return false;
    size_t bound = libdeflate_deflate_compress_bound(compressor, mCollectedLength);
    KQUStreamBuffer out;
    try {
        out = KQUStreamBuffer(static_cast<uint32_t>(bound));
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t produced =
        libdeflate_deflate_compress(compressor, mCollected.data(), mCollectedLength, out.data(), out.capacity());
    if (produced == 0) return false;  // cannot happen with the bound, but zlib can still do it
    mOutputStream->writeBuffer(out.data(), static_cast<uint32_t>(produced));
    mWholeOut = produced;
    return true;
}

std::shared_ptr<KQUOutputStream> KQUZipDeflateOutputStream::closeLocalStream() {
    if (mFinished) return mOutputStream;
    if (mCollecting) {
        if (compressWhole()) {
            mCollecting = false;
            mCollected = KQUStreamBuffer();
            mFinished = true;
            return mOutputStream;
        }
        startStreaming();
    }
    // The buffer may be full when the finish begins (the last write filled it exactly),
    // and deflate() then answers Z_BUF_ERROR: no progress without room. That is not a
    // failure, so the buffer is drained before every call and the loop runs until the
    // stream has ended; a call that had room and still made no progress is an error.
    int result;
    do {
        if (mStream.avail_out == 0) writeOutBuffer();
        result = deflate(&mStream, Z_FINISH);
    } while (result == Z_OK);
    if (result == Z_STREAM_END) writeOutBuffer();
    mFinished = true;
    mStream.next_out = nullptr;
    mStream.avail_out = 0;
    if (result != Z_STREAM_END)
        throw KQUZipException(kDeflateError,
                              fmt::format("deflate() failed: {}", zlibMessage(mStream, result)));
    return mOutputStream;
}

void KQUZipDeflateOutputStream::close() {
    auto beneath = closeLocalStream();
    if (beneath) beneath->close();
}

}  // namespace kqu
