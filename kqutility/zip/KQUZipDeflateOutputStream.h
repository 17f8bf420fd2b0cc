// The deflating stream between a zip entry and the archive file.
//
// Bytes written are compressed to raw deflate (no zlib or gzip wrapper, 32 KiB window,
// level 8) and handed to the stream beneath. An entry announced at no more than
// kWholeEntryMaxSize bytes is collected and compressed in one piece when the stream is
// finished, with libdeflate at the same level (about twice as fast as zlib's streaming
// deflate, and as small or smaller); should more be written than fits, the collected bytes
// and everything after go through zlib's streaming deflate (memory level 9) instead, as
// every entry of unknown or larger size does, into a 256 KiB buffer handed beneath
// whenever it fills. Either way the output is one ordinary deflate stream.
// closeLocalStream() finishes the deflate stream, writes what is left and hands back the
// stream beneath, still open; close() also closes that stream. The stream holds the stream
// beneath for its whole life and is used by one thread at a time. zlib failures throw
// KQUZipException "KQUZipDeflateError".
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>

#include "kqutility/streams/KQUStream.h"
#include "kqutility/streams/KQUStreamBuffer.h"

namespace kqu {

class KQUZipDeflateOutputStream final : public KQUOutputStream {
public:
    // The length to pass when the entry's size is not known.
    static constexpr uint64_t kUnknownLength = UINT64_MAX;
    // The largest entry compressed in one piece: the compressed bytes, a little longer at
    // worst, still fit a reused whole-entry buffer (KQUStreamBuffer::kLargeCachedSize).
    static constexpr uint32_t kWholeEntryMaxSize = KQUStreamBuffer::kLargeCachedSize - (64u << 10);

    // expectedLength is the number of bytes the entry is announced to hold (a hint: more
    // or fewer may be written). Throws "KQUZipDeflateError" ("deflateInit2() failed: <zlib
    // message>") when zlib is needed and cannot start (here or on a later write).
    explicit KQUZipDeflateOutputStream(std::shared_ptr<KQUOutputStream> outputStream,
                                       uint64_t expectedLength = kUnknownLength);
    ~KQUZipDeflateOutputStream() override;
    KQUZipDeflateOutputStream(const KQUZipDeflateOutputStream&) = delete;
    KQUZipDeflateOutputStream& operator=(const KQUZipDeflateOutputStream&) = delete;

    // After the stream is finished: assertion failure "Stream is already closed." and
    // nothing is written. Throws "KQUZipDeflateError" ("deflate() failed: ...").
    void writeBuffer(const char* buffer, uint32_t size) override;
    // The number of uncompressed bytes taken in so far.
    int64_t offset() override;
    bool canSeek() override { return false; }
    // Assertion failure "Not implemented."; nothing moves.
    void seekToOffset(int64_t offset, int whence) override;
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    // Finishes the deflate stream (once) and returns the stream beneath, still open.
    std::shared_ptr<KQUOutputStream> closeLocalStream() override;
    void close() override;

    bool isFinished() const { return mFinished; }
    // The number of compressed bytes handed beneath so far (collected bytes count once
    // they are compressed, at the finish).
    int64_t compressedOffset() const;
    // The entry was compressed in one piece (known once the stream is finished).
    bool wasCompressedWhole() const { return mWholeOut != 0; }

private:
    void startStreaming();
    void deflateInput(const char* buffer, uint32_t size);
    bool compressWhole();
    void writeOutBuffer();

    std::shared_ptr<KQUOutputStream> mOutputStream;
    z_stream mStream{};
    KQUStreamBuffer mOutBuffer;
    // Collected bytes while the entry may still be compressed in one piece.
    KQUStreamBuffer mCollected;
    uint32_t mCollectedLength = 0;
    uint64_t mWholeOut = 0;
    bool mCollecting = false;
    bool mStreaming = false;
    bool mFinished = false;
};

}  // namespace kqu
