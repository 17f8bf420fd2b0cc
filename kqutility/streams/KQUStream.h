// The byte-stream interfaces every stream of the library implements.
//
// Offsets and whole lengths are int64_t; a single transfer is a uint32_t count; a read
// that returns 0 means the end of the stream. Streams are used by one thread at a time
// and report failures by throwing KQUException.
//
// Ownership: streams are held by std::shared_ptr. An adaptor holds the stream beneath it
// for its whole life. close() on the topmost stream closes the whole chain down to the
// leaf; closeLocalStream() finishes only the adaptor and hands back the stream beneath,
// still open (a leaf closes itself and returns nullptr).
#pragma once

#include <cstdint>
#include <memory>

namespace kqu {

class KQUInputStream {
public:
    virtual ~KQUInputStream() = default;

    // Copies up to size bytes at the current position into buffer and advances.
    [[nodiscard]] virtual uint32_t readToBuffer(char* buffer, uint32_t size) = 0;
    virtual int64_t offset() = 0;
    virtual bool canSeek() = 0;
    virtual void seekToOffset(int64_t offset) = 0;
    // Asks the system not to keep the file data this stream reads in its cache.
    virtual void disableSystemCaching() = 0;
    virtual void enableSystemCaching() = 0;
    virtual void close() = 0;
    virtual std::shared_ptr<KQUInputStream> closeLocalStream() = 0;
};

// An input stream that can lend pointers into its own storage instead of copying.
class KQUBufferedInputStreamProtocol : public KQUInputStream {
public:
    // Points *buffer at up to size bytes held by the stream and advances past them. The
    // bytes stay valid until the next read, seek or close of this stream.
    [[nodiscard]] virtual uint32_t readToOwnBuffer(const char** buffer, uint32_t size) = 0;
    // Moves to offset only when the bytes there are already held; otherwise returns false
    // and does not move.
    [[nodiscard]] virtual bool seekWithinBufferToOffset(int64_t offset) = 0;
};

class KQUOutputStream {
public:
    virtual ~KQUOutputStream() = default;

    // Writes all size bytes or throws.
    virtual void writeBuffer(const char* buffer, uint32_t size) = 0;
    virtual int64_t offset() = 0;
    virtual bool canSeek() = 0;
    // whence as lseek: 0 from the start (SEEK_SET), 1 from the current position, 2 from the end.
    virtual void seekToOffset(int64_t offset, int whence) = 0;
    virtual bool canCreateInputStream() = 0;
    // A new input stream over the bytes written so far, or nullptr.
    virtual std::shared_ptr<KQUInputStream> inputStream() = 0;
    virtual void close() = 0;
    virtual std::shared_ptr<KQUOutputStream> closeLocalStream() = 0;
};

}  // namespace kqu
