#include "kqutility/streams/KQUMemoryStreams.h"

#include <algorithm>
#include <cstring>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

std::shared_ptr<KQUMemoryInputStream> KQUMemoryInputStream::create(KQUDataRef data) {
    if (!data) return nullptr;
    if (data->size() > UINT32_MAX) throw KQUException(NSInvalidArgumentException, "Bad data range.");
    uint32_t length = static_cast<uint32_t>(data->size());
    return std::make_shared<KQUMemoryInputStream>(std::move(data), 0, length);
}

std::shared_ptr<KQUMemoryInputStream> KQUMemoryInputStream::create(KQUDataRef data, uint32_t offset,
                                                                   uint32_t length) {
    if (!data) return nullptr;
    return std::make_shared<KQUMemoryInputStream>(std::move(data), offset, length);
}

KQUMemoryInputStream::KQUMemoryInputStream(KQUDataRef data, uint32_t offset, uint32_t length)
    : mData(std::move(data)) {
    uint64_t size = mData ? mData->size() : 0;
    if (!mData || length > size || offset > size - length)
        throw KQUException(NSInvalidArgumentException, "Bad data range.");
    mStart = mCurrent = reinterpret_cast<const char*>(mData->data()) + offset;
    mEnd = mStart + length;
}

uint32_t KQUMemoryInputStream::readToBuffer(char* buffer, uint32_t size) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, static_cast<uint64_t>(mEnd - mCurrent)));
    if (n) std::memcpy(buffer, mCurrent, n);
    mCurrent += n;
    return n;
}

uint32_t KQUMemoryInputStream::readToOwnBuffer(const char** buffer, uint32_t size) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, static_cast<uint64_t>(mEnd - mCurrent)));
    *buffer = mCurrent;
    mCurrent += n;
    return n;
}

bool KQUMemoryInputStream::seekWithinBufferToOffset(int64_t offset) {
    if (offset < 0 || offset > mEnd - mStart) return false;
    mCurrent = mStart + offset;
    return true;
}

void KQUMemoryInputStream::seekToOffset(int64_t offset) {
    // A negative offset would put the stream before its range, so it is refused like one
    // past the end.
    if (offset < 0 || offset > mEnd - mStart) throw KQUException(NSInvalidArgumentException, "Offset is too large.");
    mCurrent = mStart + offset;
}

void KQUMemoryOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    mData->insert(mData->end(), reinterpret_cast<const uint8_t*>(buffer), reinterpret_cast<const uint8_t*>(buffer) + size);
}

void KQUMemoryOutputStream::seekToOffset(int64_t, int) { KQU_OBJECT_ASSERT_FAILURE("Not implemented"); }

}  // namespace kqu
