#include "kqutility/zip/KQUZipCrc32.h"

#include <zlib.h>

#include <climits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KQU_CRC_HAS_CLMUL 1
#endif

namespace kqu {
namespace {

uint32_t zlibCrc32(uint32_t crc, const unsigned char* p, size_t size) {
    while (size > 0) {
        uInt n = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
        crc = static_cast<uint32_t>(::crc32(crc, p, n));
        p += n;
        size -= n;
    }
    return crc;
}

#ifdef KQU_CRC_HAS_CLMUL

// Folding constants for the reflected polynomial: x^(512+32), x^(512-32) mod P for four
// lanes of 128 bits, the same for one lane, the 64-bit step and the Barrett pair.
alignas(16) const uint64_t kFold4[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) const uint64_t kFold1[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) const uint64_t kFold64[2] = {0x0163cd6124, 0x0000000000};
alignas(16) const uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

// The 128-bit fold of x onto the next 128 bits (y).
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i x, __m128i k, __m128i y) {
    __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), y);
}

// Reduces the folded 128 bits to the 32-bit CRC (of the inverted register).
__attribute__((target("pclmul,sse4.1"))) uint32_t reduce(__m128i x1) {
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
    __m128i x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, mask);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x00), x2);
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
    x2 = _mm_and_si128(x1, mask);
    x2 = _mm_clmulepi64_si128(x2, k, 0x10);
    x2 = _mm_and_si128(x2, mask);
    x2 = _mm_clmulepi64_si128(x2, k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

// size >= 64 and a multiple of 16; crc is the inverted register.
__attribute__((target("pclmul,sse4.1"))) uint32_t clmulCrc32(uint32_t crc, const unsigned char* p,
                                                             size_t size) {
    auto load = [](const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    size -= 64;
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
    while (size >= 64) {
        x1 = fold(x1, k, load(p));
        x2 = fold(x2, k, load(p + 16));
        x3 = fold(x3, k, load(p + 32));
        x4 = fold(x4, k, load(p + 48));
        p += 64;
        size -= 64;
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
    x1 = fold(x1, k, x2);
    x1 = fold(x1, k, x3);
    x1 = fold(x1, k, x4);
    while (size >= 16) {
        x1 = fold(x1, k, load(p));
        p += 16;
        size -= 16;
    }
    return reduce(x1);
}

enum class Implementation { Zlib, Clmul };

Implementation detectImplementation() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1")) return Implementation::Clmul;
    return Implementation::Zlib;
}

const Implementation sImplementation = detectImplementation();

#endif

}  // namespace

uint32_t KQUZipCrc32(uint32_t crc, const void* bytes, size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
#ifdef KQU_CRC_HAS_CLMUL
    if (sImplementation == Implementation::Clmul && size >= 64) {
        size_t chunk = size & ~size_t{15};
        crc = ~clmulCrc32(~crc, p, chunk);
        p += chunk;
        size -= chunk;
    }
#endif
    return size ? zlibCrc32(crc, p, size) : crc;
}

const char* KQUZipCrc32Implementation() {
#ifdef KQU_CRC_HAS_CLMUL
    if (sImplementation == Implementation::Clmul) return "pclmulqdq";
#endif
    return "zlib";
}

}  // namespace kqu
