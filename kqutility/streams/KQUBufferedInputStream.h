// A large read buffer in front of any input stream, lending pointers into it.
//
// The zip reader parses records in place through readToOwnBuffer(): a request of up to
// the buffer's size is answered in full from one refill (as long as the stream beneath
// answers whole requests, as file and memory streams do); a larger request is cut to the
// buffer's size. Lent bytes stay valid until the next read, because a refill moves them.
// The buffered stream starts wherever its stream stands, and assumes nothing else moves
// that stream between refills (when something does and it can seek, it is moved back).
// Its buffer comes from the per-thread cache of KQUStreamBuffer, so making one per zip
// entry costs no fresh pages.
#pragma once

#include <cstdlib>
#include <memory>

#include "kqutility/streams/KQUStream.h"
#include "kqutility/streams/KQUStreamBuffer.h"

namespace kqu {

class KQUBufferedInputStream final : public KQUBufferedInputStreamProtocol {
public:
    static constexpr uint32_t kDefaultBufferSize = 262144;

    // Throws "KQUBufferedInputStreamError" ("Could not create read buffer") when the
    // buffer cannot be allocated.
    explicit KQUBufferedInputStream(std::shared_ptr<KQUInputStream> stream,
                                    uint32_t bufferSize = kDefaultBufferSize);

    uint32_t readToOwnBuffer(const char** buffer, uint32_t size) override;
    // Copies what readToOwnBuffer lends: at most the buffer's size per call.
    uint32_t readToBuffer(char* buffer, uint32_t size) override;
    bool seekWithinBufferToOffset(int64_t offset) override;
    int64_t offset() override { return mBufferStart + mBufferOffset; }
    bool canSeek() override { return mStream->canSeek(); }
    // Throws "KQUBufferedInputStreamError" ("Can't seek") when the stream beneath cannot
    // seek. A target outside the held bytes empties the buffer; the stream beneath moves
    // at the next refill.
    void seekToOffset(int64_t offset) override;
    void disableSystemCaching() override { mStream->disableSystemCaching(); }
    void enableSystemCaching() override { mStream->enableSystemCaching(); }
    // Closes the stream beneath; the bytes still held can still be read.
    void close() override { mStream->close(); }
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return mStream; }

    uint32_t bufferSize() const { return mBufferSize; }

private:
    std::shared_ptr<KQUInputStream> mStream;
    KQUStreamBuffer mBuffer;
    uint32_t mBufferSize;
    uint32_t mBufferOffset = 0;
    int64_t mBufferStart;
    int64_t mBufferEnd;
};

}  // namespace kqu
