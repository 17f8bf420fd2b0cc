// Streams that move the origin of another stream, so that a part of a file (one zip
// entry's data) can be handled as a stream that starts at 0. Neither sets an end:
// reading goes on to the end of the stream beneath.
#pragma once

#include <memory>

#include "kqutility/streams/KQUStream.h"

namespace kqu {

class KQUOffsetInputStream final : public KQUInputStream {
public:
    // Origin at the stream's current offset.
    explicit KQUOffsetInputStream(std::shared_ptr<KQUInputStream> stream);
    // Origin at initialOffset; the stream is sought there.
    KQUOffsetInputStream(std::shared_ptr<KQUInputStream> stream, int64_t initialOffset);

    uint32_t readToBuffer(char* buffer, uint32_t size) override { return mInputStream->readToBuffer(buffer, size); }
    // A stream beneath standing before the origin is an assertion failure; the negative
    // difference is returned.
    int64_t offset() override;
    bool canSeek() override { return mInputStream->canSeek(); }
    void seekToOffset(int64_t offset) override { mInputStream->seekToOffset(offset + mInitialOffset); }
    void disableSystemCaching() override { mInputStream->disableSystemCaching(); }
    void enableSystemCaching() override { mInputStream->enableSystemCaching(); }
    void close() override { mInputStream->close(); }
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return mInputStream; }

private:
    std::shared_ptr<KQUInputStream> mInputStream;
    int64_t mInitialOffset;
};

class KQUOffsetOutputStream final : public KQUOutputStream {
public:
    // Origin at the stream's current offset.
    explicit KQUOffsetOutputStream(std::shared_ptr<KQUOutputStream> stream);

    void writeBuffer(const char* buffer, uint32_t size) override { mOutputStream->writeBuffer(buffer, size); }
    int64_t offset() override;
    bool canSeek() override { return mOutputStream->canSeek(); }
    // whence 0 is relative to the origin; 1 and 2 are passed on unchanged.
    void seekToOffset(int64_t offset, int whence) override;
    bool canCreateInputStream() override { return mOutputStream->canCreateInputStream(); }
    // A reader with the same origin as this writer, or nullptr.
    std::shared_ptr<KQUInputStream> inputStream() override;
    void close() override { mOutputStream->close(); }
    std::shared_ptr<KQUOutputStream> closeLocalStream() override { return mOutputStream; }

private:
    std::shared_ptr<KQUOutputStream> mOutputStream;
    int64_t mInitialOffset;
};

}  // namespace kqu
