#include "kqutility/streams/KQUFileStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"

namespace kqu {

int KQUOpen(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) KQUErrnoRaise("KQUOpenError", fmt::format("Could not open {}", path));
    return fd;
}

FILE* KQUFileOpen(const std::string& path, const char* mode) {
    std::string cloexecMode = std::string(mode) + "e";
    FILE* file = std::fopen(path.c_str(), cloexecMode.c_str());
    if (!file) KQUErrnoRaise("KQUFileOpenError", fmt::format("Could not open {}", path));
    return file;
}

FILE* KQUFdOpen(int fd, const char* mode) {
    FILE* file = ::fdopen(fd, mode);
    if (!file) KQUErrnoRaise("KQUFdOpenError", fmt::format("Could not fdopen {}", fd));
    return file;
}

int KQUDup(int fd) {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) KQUErrnoRaise("KQUDupError", fmt::format("Could not dup {}", fd));
    return copy;
}

// MARK: - KQUFileInputStream

std::shared_ptr<KQUFileInputStream> KQUFileInputStream::create(const std::string& path, int64_t offset,
                                                               int64_t length) {
    if (path.empty() || !KQUIsReadableFile(path)) return nullptr;
    int fd = KQUOpen(path, O_RDONLY, 0);
    return createWithFileDescriptor(fd, offset, length);
}

std::shared_ptr<KQUFileInputStream> KQUFileInputStream::create(const std::string& path, int64_t offset) {
    auto attributes = KQUAttributesOfItem(path, true);
    if (!attributes || attributes->type == KQUFileType::Directory || attributes->size < offset || offset < 0)
        return nullptr;
    return create(path, offset, attributes->size - offset);
}

std::shared_ptr<KQUFileInputStream> KQUFileInputStream::createWithFileDescriptor(int fd, int64_t offset,
                                                                                 int64_t length) {
    return std::make_shared<KQUFileInputStream>(fd, offset, length);
}

KQUSharedFileDescriptor::~KQUSharedFileDescriptor() {
    if (mFd >= 0) ::close(mFd);
}

std::shared_ptr<KQUFileInputStream> KQUFileInputStream::createWithSharedDescriptor(
    std::shared_ptr<const KQUSharedFileDescriptor> descriptor, int64_t offset, int64_t length) {
    if (!descriptor) throw KQUException(NSInvalidArgumentException, "No descriptor to read");
    // The stream must not close the shared descriptor, also when the range is refused.
    auto stream = std::make_shared<KQUFileInputStream>(-1, offset, length);
    stream->mFd = descriptor->fd();
    stream->mSharedDescriptor = std::move(descriptor);
    return stream;
}

KQUFileInputStream::KQUFileInputStream(int fd, int64_t offset, int64_t length) : mFd(fd) {
    if (offset < 0 || length < 0 || offset > INT64_MAX - length) {
        if (fd >= 0) ::close(fd);
        throw KQUException(NSInvalidArgumentException, "Offset and/or length invalid.");
    }
    mStartOffset = mCurrentOffset = offset;
    mEndOffset = offset + length;
}

KQUFileInputStream::~KQUFileInputStream() { close(); }

uint32_t KQUFileInputStream::readToBuffer(char* buffer, uint32_t size) {
    if (mFd < 0) {
        KQU_OBJECT_ASSERT_FAILURE("Using a closed stream");
        return 0;
    }
    // Signed arithmetic, clamped at 0: the position never lies past the end, but a
    // stream must not turn a negative remainder into a huge read.
    int64_t remaining = std::max<int64_t>(0, mEndOffset - mCurrentOffset);
    uint32_t n = static_cast<uint32_t>(std::min<int64_t>(size, remaining));
    uint32_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(mFd, buffer + done, n - done, mCurrentOffset + done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) KQUErrnoRaise("KQUPReadError", "Could not pread");
        if (got == 0) KQUErrnoRaise("KQUPReadError", "Could not pread", EIO);
        done += static_cast<uint32_t>(got);
    }
    if (mIsCachingDisabled && n > 0) ::posix_fadvise(mFd, mCurrentOffset, n, POSIX_FADV_DONTNEED);
    mCurrentOffset += n;
    return n;
}

int64_t KQUFileInputStream::offset() {
    if (mFd < 0) KQU_OBJECT_ASSERT_FAILURE("Using a closed stream");
    return mCurrentOffset - mStartOffset;
}

void KQUFileInputStream::seekToOffset(int64_t offset) {
    if (mFd < 0) {
        KQU_OBJECT_ASSERT_FAILURE("Using a closed stream");
        return;
    }
    if (offset < 0 || offset > mEndOffset - mStartOffset) {
        KQU_OBJECT_ASSERT_FAILURE("Offset is too large.");
        return;
    }
    mCurrentOffset = mStartOffset + offset;
}

// The system has no per-descriptor "no cache" flag; the advice below (and dropping each
// range after it is read) keeps a one-time read from evicting other data.
void KQUFileInputStream::disableSystemCaching() {
    if (mFd < 0) return;
    if (int error = ::posix_fadvise(mFd, 0, 0, POSIX_FADV_NOREUSE); error != 0)
        KQUErrnoRaise("KQUFcntlError", "Could not set F_NOCACHE on read stream.", error);
    mIsCachingDisabled = true;
}

void KQUFileInputStream::enableSystemCaching() {
    if (mFd < 0) return;
    if (int error = ::posix_fadvise(mFd, 0, 0, POSIX_FADV_NORMAL); error != 0)
        KQUErrnoRaise("KQUFcntlError", "Could not unset F_NOCACHE on read stream.", error);
    mIsCachingDisabled = false;
}

void KQUFileInputStream::close() {
    if (mFd < 0) return;
    if (mIsCachingDisabled) {
        ::posix_fadvise(mFd, 0, 0, POSIX_FADV_NORMAL);
        mIsCachingDisabled = false;
    }
    if (mSharedDescriptor)
        mSharedDescriptor.reset();
    else
        ::close(mFd);
    mFd = -1;
}

std::shared_ptr<KQUInputStream> KQUFileInputStream::closeLocalStream() {
    close();
    return nullptr;
}

// MARK: - KQUFileOutputStream

KQUFileOutputStream::KQUFileOutputStream(std::string path) : mPath(std::move(path)) {
    ::unlink(mPath.c_str());
    mFile = KQUFileOpen(mPath, "w");
}

KQUFileOutputStream::~KQUFileOutputStream() {
    try {
        close();
    } catch (const KQUException& e) {
        KQULogError("Closing {} lost data: {}", mPath, e.reason());
    }
}

void KQUFileOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    if (!mFile) {
        KQU_OBJECT_ASSERT_FAILURE("Using a closed stream");
        return;
    }
    if (std::fwrite(buffer, 1, size, mFile) != size) KQUErrnoRaise("KQUFileWriteError", "Could not write");
}

int64_t KQUFileOutputStream::offset() {
    if (!mFile) {
        KQU_OBJECT_ASSERT_FAILURE("Using a closed stream");
        return 0;
    }
    off_t position = ::ftello(mFile);
    if (position < 0) KQUErrnoRaise("KQUFileTellError", "Could not tell");
    return position;
}

void KQUFileOutputStream::seekToOffset(int64_t offset, int whence) {
    if (!mFile) {
        KQU_OBJECT_ASSERT_FAILURE("Using a closed stream");
        return;
    }
    if (::fseeko(mFile, offset, whence) != 0) KQUErrnoRaise("KQUFileSeekError", "Could not seek");
}

void KQUFileOutputStream::close() {
    if (!mFile) return;
    FILE* file = mFile;
    mFile = nullptr;
    bool flushed = std::fflush(file) == 0;
    int flushErrno = errno;
    bool closed = std::fclose(file) == 0;
    if (!flushed) KQUErrnoRaise("KQUFileWriteError", "Could not write", flushErrno);
    if (!closed) KQUErrnoRaise("KQUFileWriteError", "Could not write");
}

std::shared_ptr<KQUOutputStream> KQUFileOutputStream::closeLocalStream() {
    close();
    return nullptr;
}

}  // namespace kqu
