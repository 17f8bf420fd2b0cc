#include "kqutility/interchange/KQUHash.h"

#include <atomic>

#include "kqutility/diagnostics/KQUAssertionHandler.h"

namespace kqu {
namespace {

using HashFunction = uint32_t (*)(const void*, int64_t, uint32_t);

std::atomic<HashFunction> sHashWithSeedFunction{&KQUHashWithSeed};

// Any fixed value serves: scrambled values are never stored.
constexpr uint32_t kScrambleConstant = 0x9E3779B9u;
// The last system version (binary-coded decimal) that used the scrambled variant.
constexpr uint32_t kNewestVersionWithScrambledHash = 0x104F;

uint32_t fnvWithSignedBytes(const void* bytes, int64_t length, uint32_t seed) {
    uint32_t h = seed;
    const auto* p = static_cast<const int8_t*>(bytes);
    for (int64_t i = 0; i < length; ++i) {
        h *= 16777619u;
        h ^= static_cast<uint32_t>(static_cast<int32_t>(p[i]));
    }
    return h;
}

}  // namespace

void KQUHashInitWithSystemVersion(uint32_t bcdVersion) {
    sHashWithSeedFunction.store(bcdVersion > kNewestVersionWithScrambledHash ? &KQUHashWithSeed
                                                                             : &KQUScrambledHashWithSeed);
}

void KQUHashInit() {
    // Every system this library runs on is newer than the last one that used the
    // scrambled variant.
    KQUHashInitWithSystemVersion(kNewestVersionWithScrambledHash + 1);
}

uint32_t KQUHash(const void* bytes, int64_t length) {
    return sHashWithSeedFunction.load(std::memory_order_relaxed)(bytes, length, KQUHashStandardSeed);
}

uint32_t KQUHashWithSeed(const void* bytes, int64_t length, uint32_t seed) {
    if (length < 1) {
        KQU_ASSERT_FAILURE("KQUHash must have at least one byte of input.");
        return seed;
    }
    return fnvWithSignedBytes(bytes, length, seed);
}

uint32_t KQUScrambledHashWithSeed(const void* bytes, int64_t length, uint32_t seed) {
    uint32_t h = seed;
    if (length < 1)
        KQU_ASSERT_FAILURE("KQUHash must have at least one byte of input.");
    else
        h = fnvWithSignedBytes(bytes, length, seed);
    uint32_t a = h - 1;
    uint32_t b = (kScrambleConstant - h) ^ (a << 8);
    uint32_t c = (1 - a - b) ^ (b >> 13);
    a = (a - b - c) ^ (c >> 12);
    b = (b - c - a) ^ (a << 16);
    c = (c - a - b) ^ (b >> 5);
    a = (a - b - c) ^ (c >> 3);
    b = (b - c - a) ^ (a << 10);
    return (c - a - b) ^ (b >> 15);
}

}  // namespace kqu
