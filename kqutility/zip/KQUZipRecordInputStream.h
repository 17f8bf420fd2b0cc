// The archive reader's cursor: hands out pointers to whole records inside the archive's
// buffered stream, so that headers are parsed in place without copying.
//
// dataAtOffset() returns size bytes of the archive at offset, valid until the next call.
// end is a read-ahead limit: the buffered stream is asked for end - offset bytes, so that
// the records that follow come from the same refill (0 means offset + size). Used by one
// thread at a time, while an archive is opened.
#pragma once

#include <cstdint>
#include <memory>

#include "kqutility/streams/KQUStream.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"

namespace kqu {

class KQUZipRecordInputStream {
public:
    // Throws "KQUDataRepresentationError" when the archive has no stream.
    explicit KQUZipRecordInputStream(const KQUZipArchiveDataRepresentation& archive);

    // Throws KQUException "KQUZipArchiveError" with "Size overflow." for a negative offset
    // or one whose end overflows, and "Could not read Zip record." when fewer than size
    // bytes are there (the archive ends before offset + size). An end below offset + size is an assertion
    // failure ("End offset is too small.") and is raised to offset + size.
    const uint8_t* dataAtOffset(int64_t offset, uint32_t size, int64_t end = 0);

private:
    std::shared_ptr<KQUBufferedInputStreamProtocol> mInput;
    const char* mBuffer = nullptr;
    int64_t mBufferStart = 0;
    int64_t mBufferEnd = 0;
    int64_t mArchiveLength;
};

}  // namespace kqu
