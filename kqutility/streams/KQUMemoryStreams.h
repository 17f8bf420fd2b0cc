// Streams over memory.
//
// KQUMemoryInputStream reads a range of a shared byte block and lends pointers straight
// into it (readToOwnBuffer copies nothing); the block stays alive as long as the stream.
// KQUMemoryOutputStream appends every write to a byte vector it shares with its creator.
#pragma once

#include <memory>

#include "kqutility/foundation/KQUData.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu {

class KQUMemoryInputStream final : public KQUBufferedInputStreamProtocol {
public:
    // nullptr for null data.
    static std::shared_ptr<KQUMemoryInputStream> create(KQUDataRef data);
    // Throws "Bad data range." (NSInvalidArgumentException) when [offset, offset + length)
    // does not lie inside data; nullptr for null data.
    static std::shared_ptr<KQUMemoryInputStream> create(KQUDataRef data, uint32_t offset, uint32_t length);

    uint32_t readToBuffer(char* buffer, uint32_t size) override;
    uint32_t readToOwnBuffer(const char** buffer, uint32_t size) override;
    bool seekWithinBufferToOffset(int64_t offset) override;
    int64_t offset() override { return mCurrent - mStart; }
    bool canSeek() override { return true; }
    // Throws "Offset is too large." for an offset outside [0, length].
    void seekToOffset(int64_t offset) override;
    void disableSystemCaching() override {}
    void enableSystemCaching() override {}
    void close() override {}
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return nullptr; }

    KQUMemoryInputStream(KQUDataRef data, uint32_t offset, uint32_t length);  // use create()

private:
    KQUDataRef mData;
    const char* mStart;
    const char* mCurrent;
    const char* mEnd;
};

class KQUMemoryOutputStream final : public KQUOutputStream {
public:
    // Bytes already in data count towards offset(). A null data starts an empty vector.
    explicit KQUMemoryOutputStream(std::shared_ptr<KQUData> data = nullptr)
        : mData(data ? std::move(data) : std::make_shared<KQUData>()) {}

    const std::shared_ptr<KQUData>& data() const { return mData; }

    void writeBuffer(const char* buffer, uint32_t size) override;
    int64_t offset() override { return static_cast<int64_t>(mData->size()); }
    bool canSeek() override { return false; }
    // Not supported: an assertion failure ("Not implemented"), nothing moves.
    void seekToOffset(int64_t offset, int whence) override;
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    void close() override {}
    std::shared_ptr<KQUOutputStream> closeLocalStream() override { return nullptr; }

private:
    std::shared_ptr<KQUData> mData;
};

}  // namespace kqu
