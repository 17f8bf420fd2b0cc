#include "kqutility/streams/KQUOffsetStreams.h"

#include <cstdio>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

KQUOffsetInputStream::KQUOffsetInputStream(std::shared_ptr<KQUInputStream> stream)
    : mInputStream(std::move(stream)) {
    if (!mInputStream) throw KQUException(NSInvalidArgumentException, "No stream beneath an offset stream");
    mInitialOffset = mInputStream->offset();
}

KQUOffsetInputStream::KQUOffsetInputStream(std::shared_ptr<KQUInputStream> stream, int64_t initialOffset)
    : mInputStream(std::move(stream)), mInitialOffset(initialOffset) {
    if (!mInputStream) throw KQUException(NSInvalidArgumentException, "No stream beneath an offset stream");
    mInputStream->seekToOffset(initialOffset);
}

int64_t KQUOffsetInputStream::offset() {
    int64_t difference = mInputStream->offset() - mInitialOffset;
    if (difference < 0) KQU_OBJECT_ASSERT_FAILURE("KQUOffsetInputStream points before its offset");
    return difference;
}

KQUOffsetOutputStream::KQUOffsetOutputStream(std::shared_ptr<KQUOutputStream> stream)
    : mOutputStream(std::move(stream)) {
    if (!mOutputStream) throw KQUException(NSInvalidArgumentException, "No stream beneath an offset stream");
    mInitialOffset = mOutputStream->offset();
}

int64_t KQUOffsetOutputStream::offset() {
    int64_t difference = mOutputStream->offset() - mInitialOffset;
    if (difference < 0) KQU_OBJECT_ASSERT_FAILURE("KQUOffsetOutputStream points before its offset");
    return difference;
}

void KQUOffsetOutputStream::seekToOffset(int64_t offset, int whence) {
    mOutputStream->seekToOffset(whence == SEEK_SET ? offset + mInitialOffset : offset, whence);
}

std::shared_ptr<KQUInputStream> KQUOffsetOutputStream::inputStream() {
    if (!canCreateInputStream()) return nullptr;
    auto reader = mOutputStream->inputStream();
    if (!reader) return nullptr;
    return std::make_shared<KQUOffsetInputStream>(std::move(reader), mInitialOffset);
}

}  // namespace kqu
