#include "kqutility/zip/KQUZipRecordInputStream.h"

#include <algorithm>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

KQUZipRecordInputStream::KQUZipRecordInputStream(const KQUZipArchiveDataRepresentation& archive)
    : mInput(archive.bufferedInputStream()), mArchiveLength(archive.dataLength()) {
    if (!mInput)
        throw KQUException(KQUDataRepresentationError,
                           fmt::format("Could not open {}", archive.description()));
}

const uint8_t* KQUZipRecordInputStream::dataAtOffset(int64_t offset, uint32_t size, int64_t end) {
    if (offset < 0 || offset > INT64_MAX - int64_t{size})
        throw KQUException("KQUZipArchiveError", "Size overflow.");
    int64_t recordEnd = offset + size;
    if (end == 0) end = recordEnd;
    if (end < recordEnd) {
        KQU_OBJECT_ASSERT_FAILURE("End offset is too small.");
        end = recordEnd;
    }
    if (mBuffer && mBufferStart <= offset && recordEnd <= mBufferEnd)
        return reinterpret_cast<const uint8_t*>(mBuffer) + (offset - mBufferStart);
    // Never position the stream beyond the archive: the bytes are not there.
    if (recordEnd > mArchiveLength) throw KQUException("KQUZipArchiveError", "Could not read Zip record.");
    end = std::min(end, mArchiveLength);
    if (!mInput->seekWithinBufferToOffset(offset)) mInput->seekToOffset(offset);
    const char* bytes = nullptr;
    uint32_t n =
        mInput->readToOwnBuffer(&bytes, static_cast<uint32_t>(std::min<int64_t>(end - offset, UINT32_MAX)));
    if (n < size) throw KQUException("KQUZipArchiveError", "Could not read Zip record.");
    mBuffer = bytes;
    mBufferStart = offset;
    mBufferEnd = offset + n;
    return reinterpret_cast<const uint8_t*>(mBuffer);
}

}  // namespace kqu
