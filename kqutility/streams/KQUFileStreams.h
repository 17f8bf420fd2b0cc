// Streams over files, and the calls that open files and descriptors.
//
// KQUOpen, KQUFileOpen, KQUFdOpen and KQUDup throw the errno exception instead of
// returning a failure value; every descriptor they make is close-on-exec.
//
// KQUFileInputStream reads a byte range of a file with positioned reads (pread): it never
// moves the descriptor's own position, so several streams may share one file and be used
// from different threads. It never reads outside its range.
// KQUFileOutputStream writes through the C library's buffered FILE; close() reports bytes
// that could not be written.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "kqutility/streams/KQUStream.h"

namespace kqu {

// open(2); throws "KQUOpenError", "Could not open <path>: <strerror>".
int KQUOpen(const std::string& path, int flags, mode_t mode);
// fopen(3); throws "KQUFileOpenError", "Could not open <path>: ...".
FILE* KQUFileOpen(const std::string& path, const char* mode);
// fdopen(3); throws "KQUFdOpenError", "Could not fdopen <fd>: ...".
FILE* KQUFdOpen(int fd, const char* mode);
// dup(2); throws "KQUDupError", "Could not dup <fd>: ...".
int KQUDup(int fd);

// A read-only descriptor shared by every stream over one file (each reads with pread, so
// none moves another); closed when the last holder lets go. Immutable; any thread.
class KQUSharedFileDescriptor {
public:
    // Takes ownership of fd.
    explicit KQUSharedFileDescriptor(int fd) : mFd(fd) {}
    ~KQUSharedFileDescriptor();
    KQUSharedFileDescriptor(const KQUSharedFileDescriptor&) = delete;
    KQUSharedFileDescriptor& operator=(const KQUSharedFileDescriptor&) = delete;
    int fd() const { return mFd; }

private:
    int mFd;
};

class KQUFileInputStream final : public KQUInputStream {
public:
    // nullptr when the path is empty or not readable; throws "KQUOpenError" when a
    // readable file cannot be opened.
    static std::shared_ptr<KQUFileInputStream> create(const std::string& path, int64_t offset, int64_t length);
    // The range from offset to the file's end (links followed); nullptr when the file has
    // no size or is shorter than offset.
    static std::shared_ptr<KQUFileInputStream> create(const std::string& path, int64_t offset = 0);
    // Takes ownership of fd (closed by the stream, also when this throws). Throws
    // "Offset and/or length invalid." (NSInvalidArgumentException) for a negative offset
    // or length, or a range whose end overflows. The range is not checked against the file.
    static std::shared_ptr<KQUFileInputStream> createWithFileDescriptor(int fd, int64_t offset, int64_t length);
    // Over a shared descriptor, which the stream holds until it is closed; no descriptor
    // is made or closed. Same checks as above.
    static std::shared_ptr<KQUFileInputStream> createWithSharedDescriptor(
        std::shared_ptr<const KQUSharedFileDescriptor> descriptor, int64_t offset, int64_t length);

    ~KQUFileInputStream() override;

    // Reads min(size, bytes left in the range); throws "KQUPReadError" when the file ends
    // before the range does.
    uint32_t readToBuffer(char* buffer, uint32_t size) override;
    int64_t offset() override;
    bool canSeek() override { return true; }
    // A target outside [0, length] is an assertion failure ("Offset is too large.") and
    // the stream does not move.
    void seekToOffset(int64_t offset) override;
    void disableSystemCaching() override;
    void enableSystemCaching() override;
    void close() override;
    std::shared_ptr<KQUInputStream> closeLocalStream() override;

    int64_t length() const { return mEndOffset - mStartOffset; }

    KQUFileInputStream(int fd, int64_t offset, int64_t length);  // use the create functions

private:
    int mFd;
    std::shared_ptr<const KQUSharedFileDescriptor> mSharedDescriptor;  // set when mFd is not owned
    bool mIsCachingDisabled = false;
    int64_t mStartOffset;
    int64_t mCurrentOffset;
    int64_t mEndOffset;
};

class KQUFileOutputStream final : public KQUOutputStream {
public:
    // Replaces any file at path by a new empty one; throws "KQUFileOpenError".
    explicit KQUFileOutputStream(std::string path);
    // Closes a file still open; a failure to write its last bytes is only logged.
    ~KQUFileOutputStream() override;

    const std::string& path() const { return mPath; }

    void writeBuffer(const char* buffer, uint32_t size) override;
    int64_t offset() override;
    bool canSeek() override { return true; }
    void seekToOffset(int64_t offset, int whence) override;
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    // Flushes and closes; throws "KQUFileWriteError" ("Could not write") when buffered
    // bytes could not be written. A second call does nothing.
    void close() override;
    std::shared_ptr<KQUOutputStream> closeLocalStream() override;

private:
    FILE* mFile = nullptr;
    std::string mPath;
};

}  // namespace kqu
