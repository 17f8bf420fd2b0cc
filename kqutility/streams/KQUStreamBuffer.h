// The working buffer of a stream, taken from a small per-thread cache of reused blocks.
//
// Streams that buffer (the buffered stream, the inflating stream) are made and dropped
// once per zip entry. A fresh 256 KiB block each time is served by the C library with
// mmap and munmap, and every page of it faults in again: under load that costs more than
// the reading. A KQUStreamBuffer of more than 64 KiB is instead a whole 256 KiB block
// that comes from, and goes back to, a cache of at most four blocks per thread (1 MiB);
// smaller buffers are plain allocations of their own size, which the C library serves
// from its heap. Whole-entry buffers of up to 4 MiB (an inflated entry and its compressed
// bytes) come from a second cache of at most two blocks per thread, each kept at the
// largest size asked for. Contents are undefined when acquired.
//
// A buffer is owned by one object and moves with it; it may be released on another
// thread than the one it came from (it then joins that thread's cache).
#pragma once

#include <cstdint>
#include <memory>

namespace kqu {

class KQUStreamBuffer {
public:
    // Blocks above this size are taken whole from the cache.
    static constexpr uint32_t kPooledThreshold = 65536;
    static constexpr uint32_t kPooledSize = 262144;
    // Larger blocks up to this size are kept for reuse too.
    static constexpr uint32_t kLargeCachedSize = 4u << 20;

    KQUStreamBuffer() = default;
    // A buffer of at least size bytes (size up to kPooledSize comes from the cache or
    // the heap; larger sizes are allocated as asked). Throws std::bad_alloc.
    explicit KQUStreamBuffer(uint32_t size);
    ~KQUStreamBuffer();
    KQUStreamBuffer(KQUStreamBuffer&& other) noexcept;
    KQUStreamBuffer& operator=(KQUStreamBuffer&& other) noexcept;
    KQUStreamBuffer(const KQUStreamBuffer&) = delete;
    KQUStreamBuffer& operator=(const KQUStreamBuffer&) = delete;

    char* data() const { return mData; }
    // What may be used: at least the size asked for.
    uint32_t capacity() const { return mCapacity; }
    explicit operator bool() const { return mData != nullptr; }

private:
    void release();
    char* mData = nullptr;
    uint32_t mCapacity = 0;
};

}  // namespace kqu
