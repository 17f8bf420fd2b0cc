// The output file under the zip writer: unbuffered writes through a descriptor, reading
// back what was written, truncation, flushing to disk, and moving the file to another
// path while it stays in use.
//
// Writes go straight to the descriptor, so inputStream(), truncateToLength() and other
// readers of the file see every byte written. A failed moveToPath() leaves the stream
// closed; later writes throw "KQUWriteError".
#pragma once

#include <memory>
#include <string>

#include "kqutility/streams/KQUStream.h"

namespace kqu {

class KQUMoveableFileOutputStream final : public KQUOutputStream {
public:
    // Replaces any file at path by a new empty one (mode 0666 before the umask); throws
    // "KQUOpenError".
    explicit KQUMoveableFileOutputStream(std::string path);
    ~KQUMoveableFileOutputStream() override;

    const std::string& path() const { return mPath; }

    // Throws "KQUWriteError" ("Could not write").
    void writeBuffer(const char* buffer, uint32_t size) override;
    // Throws "KQUTellError" ("Could not tell").
    int64_t offset() override;
    bool canSeek() override { return true; }
    // Throws "KQUSeekError" ("Could not seek").
    void seekToOffset(int64_t offset, int whence) override;
    // Cuts the file to length and leaves the write position there. Growing the file is
    // refused (NSGenericException) before anything changes; throws "KQUTruncateError".
    void truncateToLength(int64_t length);
    // fsync; throws "KQUFlushError" ("Could not fsync.").
    void flush();
    bool canCreateInputStream() override { return true; }
    // A reader with its own descriptor over the bytes written so far; the write
    // position does not change.
    std::shared_ptr<KQUInputStream> inputStream() override;
    // Closes, moves the file (never replacing an existing file) and reopens it at the new
    // path positioned at its end. On failure returns false and the stream stays closed.
    [[nodiscard]] bool moveToPath(const std::string& newPath, struct KQUError* error = nullptr);
    void close() override;
    std::shared_ptr<KQUOutputStream> closeLocalStream() override;

    bool isOpen() const { return mFd >= 0; }
    // The descriptor written through (-1 when closed), for copies done by the kernel
    // (copy_file_range); it stays owned by the stream.
    int fileDescriptor() const { return mFd; }

private:
    int mFd = -1;
    std::string mPath;
};

}  // namespace kqu
