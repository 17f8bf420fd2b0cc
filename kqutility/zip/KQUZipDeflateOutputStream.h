// The deflating stream between a zip entry and the archive file.
//
// Bytes written are compressed with zlib's raw deflate (no zlib or gzip wrapper, 32 KiB
// window, level 8, memory level 9) into a 256 KiB buffer, which is handed to the stream
// beneath whenever it fills. closeLocalStream() finishes the deflate stream, writes what
// is left and hands back the stream beneath, still open; close() also closes that stream.
// The stream holds the stream beneath for its whole life and is used by one thread at a
// time. zlib failures throw KQUZipException "KQUZipDeflateError".
#pragma once

#include <zlib.h>

#include <memory>
#include <vector>

#include "kqutility/streams/KQUStream.h"
#include "kqutility/streams/KQUStreamBuffer.h"

namespace kqu {

class KQUZipDeflateOutputStream final : public KQUOutputStream {
public:
    // Throws "KQUZipDeflateError" ("deflateInit2() failed: <zlib message>") when zlib
    // cannot start.
    explicit KQUZipDeflateOutputStream(std::shared_ptr<KQUOutputStream> outputStream);
    ~KQUZipDeflateOutputStream() override;
    KQUZipDeflateOutputStream(const KQUZipDeflateOutputStream&) = delete;
    KQUZipDeflateOutputStream& operator=(const KQUZipDeflateOutputStream&) = delete;

    // After the stream is finished: assertion failure "Stream is already closed." and
    // nothing is written. Throws "KQUZipDeflateError" ("deflate() failed: ...").
    void writeBuffer(const char* buffer, uint32_t size) override;
    // The number of uncompressed bytes taken in so far.
    int64_t offset() override { return static_cast<int64_t>(mStream.total_in); }
    bool canSeek() override { return false; }
    // Assertion failure "Not implemented."; nothing moves.
    void seekToOffset(int64_t offset, int whence) override;
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    // Finishes the deflate stream (once) and returns the stream beneath, still open.
    std::shared_ptr<KQUOutputStream> closeLocalStream() override;
    void close() override;

    bool isFinished() const { return mFinished; }
    // The number of compressed bytes produced so far.
    int64_t compressedOffset() const { return static_cast<int64_t>(mStream.total_out); }

private:
    void writeOutBuffer();

    std::shared_ptr<KQUOutputStream> mOutputStream;
    z_stream mStream{};
    KQUStreamBuffer mOutBuffer;
    bool mFinished = false;
};

}  // namespace kqu
