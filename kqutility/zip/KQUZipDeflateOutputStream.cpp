#include "kqutility/zip/KQUZipDeflateOutputStream.h"

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

}  // namespace

KQUZipDeflateOutputStream::KQUZipDeflateOutputStream(std::shared_ptr<KQUOutputStream> outputStream)
    : mOutputStream(std::move(outputStream)) {
    try {
        mOutBuffer.resize(KQUZipDeflateBufferSize);
    } catch (const std::bad_alloc&) {
        throw KQUZipException(kDeflateError, "Could not create deflate buffer");
    }
    int result =
        deflateInit2(&mStream, KQUZipDeflateCompressionLevel, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    if (result != Z_OK)
        throw KQUZipException(kDeflateError,
                              fmt::format("deflateInit2() failed: {}", zlibMessage(mStream, result)));
    mStream.next_out = reinterpret_cast<Bytef*>(mOutBuffer.data());
    mStream.avail_out = KQUZipDeflateBufferSize;
}

KQUZipDeflateOutputStream::~KQUZipDeflateOutputStream() {
    int result = deflateEnd(&mStream);
    // Z_DATA_ERROR only says that the stream was dropped before it was finished.
    if (result != Z_OK && result != Z_DATA_ERROR)
        KQULogError("deflateEnd() failed: {}", zlibMessage(mStream, result));
}

void KQUZipDeflateOutputStream::writeOutBuffer() {
    uint32_t filled = KQUZipDeflateBufferSize - mStream.avail_out;
    if (filled > 0) mOutputStream->writeBuffer(mOutBuffer.data(), filled);
    mStream.next_out = reinterpret_cast<Bytef*>(mOutBuffer.data());
    mStream.avail_out = KQUZipDeflateBufferSize;
}

void KQUZipDeflateOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    if (mFinished) {
        KQU_OBJECT_ASSERT_FAILURE("Stream is already closed.");
        return;
    }
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

void KQUZipDeflateOutputStream::seekToOffset(int64_t, int) {
    KQU_OBJECT_ASSERT_FAILURE("Not implemented.");
}

std::shared_ptr<KQUOutputStream> KQUZipDeflateOutputStream::closeLocalStream() {
    if (mFinished) return mOutputStream;
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
