#include "kqutility/streams/KQUMoveableFileOutputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/streams/KQUFileStreams.h"

namespace kqu {

KQUMoveableFileOutputStream::KQUMoveableFileOutputStream(std::string path) : mPath(std::move(path)) {
    ::unlink(mPath.c_str());
    mFd = KQUOpen(mPath, O_WRONLY | O_CREAT | O_TRUNC, 0666);
}

KQUMoveableFileOutputStream::~KQUMoveableFileOutputStream() { close(); }

void KQUMoveableFileOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    while (size > 0) {
        ssize_t written = ::write(mFd, buffer, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) KQUErrnoRaise("KQUWriteError", "Could not write");
        if (written == 0) KQUErrnoRaise("KQUWriteError", "Could not write", EIO);
        buffer += written;
        size -= static_cast<uint32_t>(written);
    }
}

int64_t KQUMoveableFileOutputStream::offset() {
    off_t position = ::lseek(mFd, 0, SEEK_CUR);
    if (position < 0) KQUErrnoRaise("KQUTellError", "Could not tell");
    return position;
}

void KQUMoveableFileOutputStream::seekToOffset(int64_t offset, int whence) {
    if (::lseek(mFd, offset, whence) < 0) KQUErrnoRaise("KQUSeekError", "Could not seek");
}

void KQUMoveableFileOutputStream::truncateToLength(int64_t length) {
    off_t fileLength = ::lseek(mFd, 0, SEEK_END);
    if (fileLength < 0) KQUErrnoRaise("KQUSeekError", "Could not seek");
    if (length > fileLength || length < 0)
        throw KQUException(NSGenericException,
                           "-[KQUMoveableFileOutputStream truncateToOffset:] does not allow expanding the file");
    seekToOffset(length, SEEK_SET);
    int result;
    do {
        result = ::ftruncate(mFd, length);
    } while (result != 0 && errno == EINTR);
    if (result != 0) KQUErrnoRaise("KQUTruncateError", "Could not ftruncate.");
}

void KQUMoveableFileOutputStream::flush() {
    if (::fsync(mFd) != 0) KQUErrnoRaise("KQUFlushError", "Could not fsync.");
}

std::shared_ptr<KQUInputStream> KQUMoveableFileOutputStream::inputStream() {
    flush();
    int64_t position = offset();
    seekToOffset(0, SEEK_END);
    int64_t length = offset();
    seekToOffset(position, SEEK_SET);
    int fd = KQUOpen(mPath, O_RDONLY, 0);
    return KQUFileInputStream::createWithFileDescriptor(fd, 0, length);
}

bool KQUMoveableFileOutputStream::moveToPath(const std::string& newPath, KQUError* error) {
    close();
    if (!KQUMoveItem(mPath, newPath, error)) return false;
    mPath = newPath;
    mFd = KQUOpen(mPath, O_WRONLY, 0);
    seekToOffset(0, SEEK_END);
    return true;
}

void KQUMoveableFileOutputStream::close() {
    if (mFd < 0) return;
    ::close(mFd);
    mFd = -1;
}

std::shared_ptr<KQUOutputStream> KQUMoveableFileOutputStream::closeLocalStream() {
    close();
    return nullptr;
}

}  // namespace kqu
