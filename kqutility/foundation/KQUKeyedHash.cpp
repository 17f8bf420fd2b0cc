#include "kqutility/foundation/KQUKeyedHash.h"

#include <sys/random.h>

#include <chrono>
#include <cstring>

namespace kqu {
namespace {

constexpr uint64_t rotl(uint64_t x, int b) {
    return (x << b) | (x >> (64 - b));
}

struct SipState {
    uint64_t v0, v1, v2, v3;
    void round() {
        v0 += v1, v1 = rotl(v1, 13), v1 ^= v0, v0 = rotl(v0, 32);
        v2 += v3, v3 = rotl(v3, 16), v3 ^= v2;
        v0 += v3, v3 = rotl(v3, 21), v3 ^= v0;
        v2 += v1, v1 = rotl(v1, 17), v1 ^= v2, v2 = rotl(v2, 32);
    }
};

struct ProcessKey {
    uint64_t k0 = 0, k1 = 0;
    ProcessKey() {
        uint64_t words[2] = {0, 0};
        if (::getrandom(words, sizeof words, 0) != static_cast<ssize_t>(sizeof words)) {
            // No random source: still unpredictable enough from outside the process.
            words[0] = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
            words[1] = reinterpret_cast<uintptr_t>(&words) ^ 0x9E3779B97F4A7C15ull;
        }
        k0 = words[0];
        k1 = words[1];
    }
};

}  // namespace

uint64_t KQUSipHash13(std::string_view bytes, uint64_t k0, uint64_t k1) {
    SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
               k1 ^ 0x7465646279746573ull};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    size_t whole = n & ~size_t{7};
    for (size_t i = 0; i < whole; i += 8) {
        uint64_t m;
        std::memcpy(&m, p + i, 8);  // little-endian platform
        s.v3 ^= m;
        s.round();
        s.v0 ^= m;
    }
    uint64_t last = static_cast<uint64_t>(n) << 56;
    for (size_t i = whole; i < n; ++i) last |= static_cast<uint64_t>(p[i]) << (8 * (i - whole));
    s.v3 ^= last;
    s.round();
    s.v0 ^= last;
    s.v2 ^= 0xff;
    s.round(), s.round(), s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

uint64_t KQUKeyedHash(std::string_view bytes) {
    static const ProcessKey key;
    return KQUSipHash13(bytes, key.k0, key.k1);
}

}  // namespace kqu
