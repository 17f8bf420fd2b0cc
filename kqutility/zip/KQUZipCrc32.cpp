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

// The same folding with 512-bit registers: four registers of four 128-bit lanes each fold
// 256 bytes per round (2048 bits ahead), then fold into one register (512 bits ahead) and
// into one lane (128 bits ahead). size >= 256 and a multiple of 16.
alignas(16) const uint64_t kFold16[2] = {0x011542778a, 0x01322d1430};

// The compiler's own intrinsic headers trip -Wuninitialized (their "undefined" vectors
// initialise themselves) once inlined here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wpsabi"

#define KQU_CRC_WIDE_TARGET __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

KQU_CRC_WIDE_TARGET inline __m512i foldWide(__m512i x, __m512i k, __m512i y) {
    __m512i low = _mm512_clmulepi64_epi128(x, k, 0x00);
    __m512i high = _mm512_clmulepi64_epi128(x, k, 0x11);
    return _mm512_ternarylogic_epi64(low, high, y, 0x96);  // low ^ high ^ y
}

KQU_CRC_WIDE_TARGET inline __m512i loadWide(const unsigned char* p) {
    return _mm512_loadu_si512(reinterpret_cast<const void*>(p));
}

KQU_CRC_WIDE_TARGET uint32_t wideClmulCrc32(uint32_t crc, const unsigned char* p, size_t size) {
    __m512i x0 =
        _mm512_xor_si512(loadWide(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i x1 = loadWide(p + 64), x2 = loadWide(p + 128), x3 = loadWide(p + 192);
    p += 256;
    size -= 256;
    __m512i k = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(kFold16)));
    while (size >= 256) {
        x0 = foldWide(x0, k, loadWide(p));
        x1 = foldWide(x1, k, loadWide(p + 64));
        x2 = foldWide(x2, k, loadWide(p + 128));
        x3 = foldWide(x3, k, loadWide(p + 192));
        p += 256;
        size -= 256;
    }
    k = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(kFold4)));
    x0 = foldWide(x0, k, x1);
    x0 = foldWide(x0, k, x2);
    x0 = foldWide(x0, k, x3);
    __m128i k1 = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
    __m128i lane = _mm512_extracti32x4_epi32(x0, 0);
    lane = fold(lane, k1, _mm512_extracti32x4_epi32(x0, 1));
    lane = fold(lane, k1, _mm512_extracti32x4_epi32(x0, 2));
    lane = fold(lane, k1, _mm512_extracti32x4_epi32(x0, 3));
    while (size >= 16) {
        lane = fold(lane, k1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        p += 16;
        size -= 16;
    }
    return reduce(lane);
}

#pragma GCC diagnostic pop

enum class Implementation { Zlib, Clmul, WideClmul };

Implementation detectImplementation() {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) return Implementation::Zlib;
    if (__builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512vl"))
        return Implementation::WideClmul;
    return Implementation::Clmul;
}

const Implementation sImplementation = detectImplementation();

#endif

}  // namespace

namespace {

#ifndef KQU_CRC_HAS_CLMUL
enum class Implementation { Zlib };
const Implementation sImplementation = Implementation::Zlib;
#endif

uint32_t crc32Using(Implementation implementation, uint32_t crc, const unsigned char* p, size_t size) {
#ifdef KQU_CRC_HAS_CLMUL
    if (implementation == Implementation::WideClmul && size >= 256) {
        size_t chunk = size & ~size_t{15};
        crc = ~wideClmulCrc32(~crc, p, chunk);
        p += chunk;
        size -= chunk;
    } else if (implementation != Implementation::Zlib && size >= 64) {
        size_t chunk = size & ~size_t{15};
        crc = ~clmulCrc32(~crc, p, chunk);
        p += chunk;
        size -= chunk;
    }
#endif
    return size ? zlibCrc32(crc, p, size) : crc;
}

const char* nameOf(Implementation implementation) {
#ifdef KQU_CRC_HAS_CLMUL
    if (implementation == Implementation::WideClmul) return "vpclmulqdq";
    if (implementation == Implementation::Clmul) return "pclmulqdq";
#endif
    (void)implementation;
    return "zlib";
}

}  // namespace

uint32_t KQUZipCrc32(uint32_t crc, const void* bytes, size_t size) {
    return crc32Using(sImplementation, crc, static_cast<const unsigned char*>(bytes), size);
}

const char* KQUZipCrc32Implementation() {
    return nameOf(sImplementation);
}

bool KQUZipCrc32Using(std::string_view implementation, uint32_t crc, const void* bytes, size_t size,
                      uint32_t* result) {
    // Only what this processor can run: the chosen implementation and the ones below it.
    for (auto candidate : {
#ifdef KQU_CRC_HAS_CLMUL
             Implementation::WideClmul, Implementation::Clmul,
#endif
             Implementation::Zlib}) {
        if (static_cast<int>(candidate) > static_cast<int>(sImplementation)) continue;
        if (implementation == nameOf(candidate)) {
            *result = crc32Using(candidate, crc, static_cast<const unsigned char*>(bytes), size);
            return true;
        }
    }
    return false;
}

}  // namespace kqu
