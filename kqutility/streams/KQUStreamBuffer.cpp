#include "kqutility/streams/KQUStreamBuffer.h"

#include <cstdlib>
#include <new>
#include <utility>

namespace kqu {
namespace {

struct BlockCache {
    static constexpr int kMaxBlocks = 4;
    char* blocks[kMaxBlocks] = {};
    int count = 0;  // -1 once the thread's cache is gone: buffers released later are freed
    ~BlockCache() {
        for (int i = 0; i < count; ++i) std::free(blocks[i]);
        count = -1;
    }
};

thread_local BlockCache sCache;

}  // namespace

KQUStreamBuffer::KQUStreamBuffer(uint32_t size) {
    if (size > kPooledThreshold && size <= kPooledSize) {
        if (sCache.count > 0) {
            mData = sCache.blocks[--sCache.count];
        } else {
            mData = static_cast<char*>(std::malloc(kPooledSize));
        }
        mCapacity = kPooledSize;
    } else {
        mCapacity = size == 0 ? 1 : size;
        mData = static_cast<char*>(std::malloc(mCapacity));
    }
    if (!mData) throw std::bad_alloc();
}

KQUStreamBuffer::~KQUStreamBuffer() {
    release();
}

KQUStreamBuffer::KQUStreamBuffer(KQUStreamBuffer&& other) noexcept
    : mData(std::exchange(other.mData, nullptr)), mCapacity(std::exchange(other.mCapacity, 0)) {}

KQUStreamBuffer& KQUStreamBuffer::operator=(KQUStreamBuffer&& other) noexcept {
    if (this != &other) {
        release();
        mData = std::exchange(other.mData, nullptr);
        mCapacity = std::exchange(other.mCapacity, 0);
    }
    return *this;
}

void KQUStreamBuffer::release() {
    if (!mData) return;
    if (mCapacity == kPooledSize && sCache.count >= 0 && sCache.count < BlockCache::kMaxBlocks)
        sCache.blocks[sCache.count++] = mData;
    else
        std::free(mData);
    mData = nullptr;
    mCapacity = 0;
}

}  // namespace kqu
