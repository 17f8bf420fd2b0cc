#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"

namespace kqu {
namespace {

bool isUsableDescriptor(int fd) {
    if (fd == -1) return false;
    char byte;
    return ::pread(fd, &byte, 0, 0) == 0;
}

[[noreturn]] void throwBadRange() {
    throw KQUException(NSInvalidArgumentException, "Bad input stream range.");
}

}  // namespace

bool KQUZipArchiveDataRepresentation::isValidRange(int64_t offset, int64_t length, int64_t archiveLength) {
    return offset >= 0 && length >= 0 && length <= archiveLength && offset <= archiveLength - length;
}

// MARK: - File

KQUZipArchiveFileDataRepresentation::KQUZipArchiveFileDataRepresentation(const std::string& path) {
    int fd = -1;
    try {
        if (!path.empty()) fd = KQUOpen(path, O_RDONLY, 0);
    } catch (const KQUException&) {
        fd = -1;  // read by path; unreadable while the file is missing
    }
    if (isUsableDescriptor(fd))
        mDescriptor = std::make_shared<const KQUSharedFileDescriptor>(fd);
    else if (fd != -1)
        ::close(fd);
    mFileRepresentation = std::make_unique<KQUFileDataRepresentation>(path, mDescriptor ? fd : -1);
}

KQUZipArchiveFileDataRepresentation::~KQUZipArchiveFileDataRepresentation() {
    mFileRepresentation.reset();
}

uint32_t KQUZipArchiveFileDataRepresentation::readBytesAtOffset(int64_t offset, char* buffer,
                                                                uint32_t size) const {
    int64_t length = dataLength();
    if (offset < 0 || offset > length) throwBadRange();
    auto n = static_cast<uint32_t>(std::min<int64_t>(size, length - offset));
    if (!mDescriptor) {
        auto stream = inputStreamWithOffset(offset, n);
        uint32_t done = 0;
        while (done < n) {
            uint32_t got = stream->readToBuffer(buffer + done, n - done);
            if (got == 0) break;
            done += got;
        }
        return done;
    }
    uint32_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(mDescriptor->fd(), buffer + done, n - done, offset + done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) KQUErrnoRaise("KQUPReadError", "Could not pread");
        if (got == 0) break;
        done += static_cast<uint32_t>(got);
    }
    return done;
}

bool KQUZipArchiveFileDataRepresentation::hasSameLocationAs(const KQUDataRepresentation& other) const {
    const KQUFileDataRepresentation* file = nullptr;
    if (auto* archive = dynamic_cast<const KQUZipArchiveFileDataRepresentation*>(&other))
        file = archive->mFileRepresentation.get();
    else
        file = dynamic_cast<const KQUFileDataRepresentation*>(&other);
    if (!file) return false;
    auto mine = path();
    auto theirs = file->path();
    return mine && theirs && *mine == *theirs;
}

std::shared_ptr<KQUInputStream> KQUZipArchiveFileDataRepresentation::inputStreamWithOffset(
    int64_t offset, int64_t length) const {
    if (!isValidRange(offset, length, dataLength())) throwBadRange();
    std::shared_ptr<KQUInputStream> stream;
    if (mDescriptor) {
        stream = KQUFileInputStream::createWithSharedDescriptor(mDescriptor, offset, length);
    } else if (auto currentPath = path()) {
        stream = KQUFileInputStream::create(*currentPath, offset, length);
    }
    if (!stream)
        throw KQUException(KQUDataRepresentationError, fmt::format("Could not open {}", description()));
    return stream;
}

std::shared_ptr<KQUBufferedInputStreamProtocol>
KQUZipArchiveFileDataRepresentation::bufferedInputStreamWithOffset(int64_t offset, int64_t length) const {
    // The buffer is sized to the range: a small entry costs a small buffer.
    auto bufferSize = static_cast<uint32_t>(
        std::clamp<int64_t>(length, 1, KQUBufferedInputStream::kDefaultBufferSize));
    return std::make_shared<KQUBufferedInputStream>(inputStreamWithOffset(offset, length), bufferSize);
}

// MARK: - Memory

KQUZipArchiveMemoryDataRepresentation::KQUZipArchiveMemoryDataRepresentation(KQUDataRef data)
    : mData(KQUSealedData(std::move(data))) {}

bool KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(int64_t offset, int64_t length,
                                                               int64_t archiveLength) {
    // The memory stream's offsets are 32-bit: a range must end below 4 GiB, or its offset
    // would wrap and the stream would read other bytes than asked for.
    return isValidRange(offset, length, archiveLength) && offset + length <= int64_t{UINT32_MAX};
}

std::shared_ptr<KQUBufferedInputStreamProtocol>
KQUZipArchiveMemoryDataRepresentation::bufferedInputStreamWithOffset(int64_t offset, int64_t length) const {
    if (!isValidMemoryRange(offset, length, dataLength())) throwBadRange();
    return KQUMemoryInputStream::create(mData, static_cast<uint32_t>(offset), static_cast<uint32_t>(length));
}

uint32_t KQUZipArchiveMemoryDataRepresentation::readBytesAtOffset(int64_t offset, char* buffer,
                                                                  uint32_t size) const {
    int64_t length = dataLength();
    if (offset < 0 || offset > length) throwBadRange();
    auto n = static_cast<uint32_t>(std::min<int64_t>(size, length - offset));
    if (n) std::memcpy(buffer, mData->data() + offset, n);
    return n;
}

std::shared_ptr<KQUInputStream> KQUZipArchiveMemoryDataRepresentation::inputStreamWithOffset(
    int64_t offset, int64_t length) const {
    return bufferedInputStreamWithOffset(offset, length);
}

std::shared_ptr<KQUInputStream> KQUZipArchiveMemoryDataRepresentation::inputStream() const {
    return bufferedInputStreamWithOffset(0, dataLength());
}

std::shared_ptr<KQUBufferedInputStreamProtocol> KQUZipArchiveMemoryDataRepresentation::bufferedInputStream()
    const {
    return bufferedInputStreamWithOffset(0, dataLength());
}

std::shared_ptr<KQUBufferedInputStreamProtocol>
KQUZipArchiveMemoryDataRepresentation::bufferedInputStreamWithBufferSize(uint32_t) const {
    return bufferedInputStreamWithOffset(0, dataLength());
}

bool KQUZipArchiveMemoryDataRepresentation::hasSameLocationAs(const KQUDataRepresentation& other) const {
    auto* memory = dynamic_cast<const KQUZipArchiveMemoryDataRepresentation*>(&other);
    return memory && memory->mData == mData;
}

}  // namespace kqu
