#include "kqutility/streams/KQUBufferedInputStream.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

KQUBufferedInputStream::KQUBufferedInputStream(std::shared_ptr<KQUInputStream> stream, uint32_t bufferSize)
    : mStream(std::move(stream)), mBufferSize(bufferSize) {
    if (!mStream) throw KQUException(NSInvalidArgumentException, "No stream to buffer");
    if (bufferSize == 0) throw KQUException("KQUBufferedInputStreamError", "Could not create read buffer");
    try {
        mBuffer = KQUStreamBuffer(bufferSize);
    } catch (const std::bad_alloc&) {
        throw KQUException("KQUBufferedInputStreamError", "Could not create read buffer");
    }
    mBufferStart = mBufferEnd = mStream->offset();
}

uint32_t KQUBufferedInputStream::readToOwnBuffer(const char** buffer, uint32_t size) {
    if (!buffer) {
        KQU_OBJECT_ASSERT_FAILURE("No buffer parameter");
        return 0;
    }
    int64_t held = mBufferEnd - mBufferStart;
    if (mBufferStart + mBufferOffset > mBufferEnd || held < 0 || held > mBufferSize) {
        KQU_OBJECT_ASSERT_FAILURE("Bad invariant");
        return 0;
    }
    uint32_t n = std::min(size, mBufferSize);
    uint32_t available = static_cast<uint32_t>(held - mBufferOffset);
    if (available < n) {
        char* base = mBuffer.data();
        if (available) std::memmove(base, base + mBufferOffset, available);
        mBufferStart += mBufferOffset;
        mBufferOffset = 0;
        if (mStream->offset() != mBufferEnd) {
            if (mStream->canSeek()) mStream->seekToOffset(mBufferEnd);
            else KQU_OBJECT_ASSERT_FAILURE("Detected a read from the stream beneath a buffered stream.");
        }
        mBufferEnd += mStream->readToBuffer(base + available, mBufferSize - available);
    }
    uint32_t count = static_cast<uint32_t>(std::min<int64_t>(n, mBufferEnd - mBufferStart - mBufferOffset));
    *buffer = mBuffer.data() + mBufferOffset;
    mBufferOffset += count;
    return count;
}

uint32_t KQUBufferedInputStream::readToBuffer(char* buffer, uint32_t size) {
    const char* lent = nullptr;
    uint32_t count = readToOwnBuffer(&lent, size);
    if (count) std::memcpy(buffer, lent, count);
    return count;
}

bool KQUBufferedInputStream::seekWithinBufferToOffset(int64_t offset) {
    if (offset < mBufferStart || offset > mBufferEnd) return false;
    mBufferOffset = static_cast<uint32_t>(offset - mBufferStart);
    return true;
}

void KQUBufferedInputStream::seekToOffset(int64_t offset) {
    if (!canSeek()) throw KQUException("KQUBufferedInputStreamError", "Can't seek");
    if (seekWithinBufferToOffset(offset)) return;
    mBufferOffset = 0;
    mBufferStart = mBufferEnd = offset;
}

}  // namespace kqu
