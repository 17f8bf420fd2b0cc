#include "kqutility/streams/KQUAtomicOutputStream.h"

#include <unistd.h>

#include <fmt/format.h>

namespace kqu {

void KQUAtomicOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    if (mClosed)
        throw KQUAtomicOutputFileError(
            fmt::format("Could not write {}: the stream is closed", mFile.targetPath()), EBADF);
    mFile.write(std::string_view(buffer, size));
}

int64_t KQUAtomicOutputStream::offset() {
    off_t position = ::lseek(mFile.fd(), 0, SEEK_CUR);
    if (position < 0) KQUErrnoRaise("KQUTellError", fmt::format("Could not tell {}", mFile.targetPath()));
    return position;
}

void KQUAtomicOutputStream::seekToOffset(int64_t offset, int whence) {
    if (::lseek(mFile.fd(), offset, whence) < 0)
        KQUErrnoRaise("KQUSeekError", fmt::format("Could not seek {}", mFile.targetPath()));
}

}  // namespace kqu
