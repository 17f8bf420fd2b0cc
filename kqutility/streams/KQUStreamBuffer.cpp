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

// Blocks above kPooledSize and up to kLargeCachedSize: any cached block large enough is
// taken; a released block replaces the smaller one when the cache is full.
struct LargeBlockCache {
    static constexpr int kMaxBlocks = 2;
    char* blocks[kMaxBlocks] = {};
    uint32_t capacities[kMaxBlocks] = {};
    int count = 0;  // -1 once the thread's cache is gone
    ~LargeBlockCache() {
        for (int i = 0; i < count; ++i) std::free(blocks[i]);
        count = -1;
    }
    char* take(uint32_t size, uint32_t& capacity) {
        for (int i = 0; i < count; ++i) {
            if (capacities[i] < size) continue;
            char* block = blocks[i];
            capacity = capacities[i];
            --count;
            blocks[i] = blocks[count];
            capacities[i] = capacities[count];
            return block;
        }
        return nullptr;
    }
    // Takes ownership of block in every case.
    void give(char* block, uint32_t capacity) {
        if (count < 0) {
            std::free(block);
            return;
        }
        if (count < kMaxBlocks) {
            blocks[count] = block;
            capacities[count++] = capacity;
            return;
        }
        int smallest = capacities[0] <= capacities[1] ? 0 : 1;
        if (capacities[smallest] >= capacity) {
            std::free(block);
            return;
        }
        std::free(blocks[smallest]);
        blocks[smallest] = block;
        capacities[smallest] = capacity;
    }
};

thread_local LargeBlockCache sLargeCache;

}  // namespace

KQUStreamBuffer::KQUStreamBuffer(uint32_t size) {
    if (size > kPooledThreshold && size <= kPooledSize) {
        if (sCache.count > 0) {
            mData = sCache.blocks[--sCache.count];
        } else {
            mData = static_cast<char*>(std::malloc(kPooledSize));
        }
        mCapacity = kPooledSize;
    } else if (size > kPooledSize && size <= kLargeCachedSize) {
        mData = sLargeCache.take(size, mCapacity);
        if (!mData) {
            mCapacity = size;
            mData = static_cast<char*>(std::malloc(mCapacity));
        }
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
    else if (mCapacity > kPooledSize && mCapacity <= kLargeCachedSize)
        sLargeCache.give(mData, mCapacity);
    else
        std::free(mData);
    mData = nullptr;
    mCapacity = 0;
}

}  // namespace kqu
