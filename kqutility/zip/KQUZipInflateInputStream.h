// Streams that read a zip entry's bytes: the inflating stream for deflated entries, and
// the CRC-checking stream that verifies stored bytes.
//
// KQUZipInflateInputStream inflates raw deflate data (no zlib or gzip wrapper, 32 KiB
// window). Made over a range of an archive, it also checks what it produces against the
// entry: when the last byte of the entry's uncompressed size has been produced the CRC-32
// must match, and the deflate data must end exactly there; a mismatch throws
// KQUZipException "KQUZipEntryError". Made on top of another stream (decrypted data, for
// instance) it checks nothing itself. A read fills the whole request unless the deflate
// data ends first; reads return 0 at and after the end. It cannot seek or restart.
//
// KQUZipCrcCheckedInputStream passes the bytes of the stream beneath it through and
// throws KQUZipException "KQUZipEntryError" when, after the expected number of bytes,
// their CRC-32 differs from the expected one (or the stream ends early).
//
// Both own the stream beneath them and are used by one thread at a time.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "kqutility/streams/KQUStream.h"
#include "kqutility/streams/KQUStreamBuffer.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"

namespace kqu {

class KQUZipInflateInputStream final : public KQUBufferedInputStreamProtocol {
public:
    // Over [offset, end) of the archive, for an entry of uncompressedSize bytes with the
    // given CRC-32. Throws "Bad input stream range." for a range outside the archive and
    // "KQUZipInflateError" ("inflateInit2() failed: <code>") when zlib cannot start.
    KQUZipInflateInputStream(int64_t offset, int64_t end, uint64_t uncompressedSize, uint32_t crc,
                             const KQUZipArchiveDataRepresentation& archive);
    // On top of any stream (taken over; buffered here with 256 KiB).
    explicit KQUZipInflateInputStream(std::shared_ptr<KQUInputStream> input);
    ~KQUZipInflateInputStream() override;
    KQUZipInflateInputStream(const KQUZipInflateInputStream&) = delete;
    KQUZipInflateInputStream& operator=(const KQUZipInflateInputStream&) = delete;

    // Throws "KQUZipInflateError" ("inflate() failed: <code>") for corrupt or truncated
    // deflate data, and "KQUZipEntryError" for data that does not match its entry.
    uint32_t readToBuffer(char* buffer, uint32_t size) override;
    // Lends up to size bytes (at most the output buffer: 256 KiB, or the entry's size when
    // smaller) from an internal buffer.
    uint32_t readToOwnBuffer(const char** buffer, uint32_t size) override;
    bool seekWithinBufferToOffset(int64_t) override { return false; }
    // Uncompressed bytes produced so far.
    int64_t offset() override { return static_cast<int64_t>(produced()); }
    bool canSeek() override { return false; }
    // Assertion failure "Not implemented."; nothing moves.
    void seekToOffset(int64_t offset) override;
    void disableSystemCaching() override { mInput->disableSystemCaching(); }
    void enableSystemCaching() override { mInput->enableSystemCaching(); }
    void close() override { mInput->close(); }
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return mInput; }

    // Compressed bytes taken from the stream beneath (plus the start offset for a stream
    // made over an archive range).
    int64_t compressedOffset() const { return mOffset; }

    // Entries whose compressed and uncompressed sizes are both at most this are inflated
    // whole at the first read (libdeflate is about twice as fast as zlib's inflate);
    // anything that does not inflate to exactly the recorded size is read again through
    // zlib, which gives the same errors as for larger entries.
    static constexpr uint64_t kWholeEntryMaxSize = KQUStreamBuffer::kLargeCachedSize;

private:
    enum class Mode { Undecided, Whole, Streaming };
    void setupInflateStream();
    void verifyEntry(bool deflateEnded);
    void chooseMode();
    bool inflateWhole(uint32_t compressedLength);
    uint32_t takeFromWhole(char* buffer, uint32_t size, const char** lent);
    uint64_t produced() const { return mMode == Mode::Whole ? mWholeRead : mStream.total_out; }

    z_stream mStream{};
    bool mHasStream = false;
    int64_t mOffset;
    std::shared_ptr<KQUBufferedInputStreamProtocol> mInput;
    KQUStreamBuffer mOutBuffer;
    uint32_t mOutBufferSize;
    bool mReachedEnd = false;
    bool mDeflateEnded = false;
    bool mIsFromZip;
    bool mHasVerified = false;
    uint64_t mUncompressedSize = 0;
    uint32_t mCheckCrc = 0;
    uint32_t mCalculatedCrc = 0;
    Mode mMode = Mode::Streaming;
    int64_t mCompressedLength = 0;
    KQUStreamBuffer mCompressed;  // the entry's compressed bytes, read whole
    KQUStreamBuffer mWhole;       // Whole: the inflated entry
    uint64_t mWholeRead = 0;
};

class KQUZipCrcCheckedInputStream final : public KQUInputStream {
public:
    KQUZipCrcCheckedInputStream(std::shared_ptr<KQUInputStream> input, uint64_t length, uint32_t crc);

    uint32_t readToBuffer(char* buffer, uint32_t size) override;
    int64_t offset() override { return static_cast<int64_t>(mRead); }
    bool canSeek() override { return false; }
    // Assertion failure "Not implemented."; nothing moves.
    void seekToOffset(int64_t offset) override;
    void disableSystemCaching() override { mInput->disableSystemCaching(); }
    void enableSystemCaching() override { mInput->enableSystemCaching(); }
    void close() override { mInput->close(); }
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return mInput; }

private:
    std::shared_ptr<KQUInputStream> mInput;
    uint64_t mLength;
    uint64_t mRead = 0;
    uint32_t mCheckCrc;
    uint32_t mCalculatedCrc = 0;
    bool mHasVerified = false;
};

// Throws KQUZipException "KQUZipEntryError" "CRC-32 mismatch (expected <8 hex>, found <8 hex>)".
[[noreturn]] void KQUZipThrowCrcMismatch(uint32_t expected, uint32_t found);

}  // namespace kqu

namespace kqu {

class KQUCryptoKey;

// A buffered stream (256 KiB) over the decrypted, and when isDeflated also inflated,
// contents of a whole file written as one encrypted stream: file stream, decrypting
// stream, inflating stream, buffered stream, each owning the one below. nullptr when the
// file cannot be opened; the exceptions of opening for decryption (a file shorter than
// the IV, for instance) pass through.
std::shared_ptr<KQUBufferedInputStreamProtocol> KQUBufferedInputStreamForDecryptingFile(
    const std::string& path, std::shared_ptr<const KQUCryptoKey> key, bool isDeflated);

}  // namespace kqu
