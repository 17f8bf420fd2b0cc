#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"

#include <fcntl.h>
#include <unistd.h>

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
    try {
        if (!path.empty()) mFd = KQUOpen(path, O_RDONLY, 0);
    } catch (const KQUException&) {
        mFd = -1;  // read by path; unreadable while the file is missing
    }
    mFileRepresentation =
        std::make_unique<KQUFileDataRepresentation>(path, isUsableDescriptor(mFd) ? mFd : -1);
}

KQUZipArchiveFileDataRepresentation::~KQUZipArchiveFileDataRepresentation() {
    mFileRepresentation.reset();
    if (mFd != -1) ::close(mFd);
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
    if (isUsableDescriptor(mFd)) {
        stream = KQUFileInputStream::createWithFileDescriptor(KQUDup(mFd), offset, length);
    } else if (auto currentPath = path()) {
        stream = KQUFileInputStream::create(*currentPath, offset, length);
    }
    if (!stream)
        throw KQUException(KQUDataRepresentationError, fmt::format("Could not open {}", description()));
    return stream;
}

std::shared_ptr<KQUBufferedInputStreamProtocol>
KQUZipArchiveFileDataRepresentation::bufferedInputStreamWithOffset(int64_t offset, int64_t length) const {
    return std::make_shared<KQUBufferedInputStream>(inputStreamWithOffset(offset, length));
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
