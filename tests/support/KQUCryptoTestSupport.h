// Helpers for the crypto suites: hex known answers and a scripted random source.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/crypto/KQUCryptoUtilsTesting.h"
#include "kqutility/foundation/KQUData.h"
#include "support/KQUTestSupport.h"

#include <zlib.h>

namespace kqu::test {

// While alive, the library's random bytes come from script, in order (then zeros), or
// the source fails from the failAt-th request on (0-based; -1 never).
class ScriptedRandom {
public:
    explicit ScriptedRandom(KQUData script, int failAt = -1) {
        KQUCryptoUtilsTesting::setRandomSource(
            [this, script = std::move(script), failAt](uint8_t* buffer, size_t length) {
                if (failAt >= 0 && mRequests >= failAt) return false;
                ++mRequests;
                for (size_t i = 0; i < length; ++i)
                    buffer[i] = mPosition < script.size() ? script[mPosition++] : 0;
                return true;
            });
    }
    ~ScriptedRandom() { KQUCryptoUtilsTesting::setRandomSource(nullptr); }
    ScriptedRandom(const ScriptedRandom&) = delete;
    ScriptedRandom& operator=(const ScriptedRandom&) = delete;

private:
    size_t mPosition = 0;
    int mRequests = 0;
};

// Bytes a, a+1, ... (mod 256).
inline KQUData counting(uint8_t first, size_t length) {
    KQUData bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// The zip CRC-32 as zlib computes it.
inline uint32_t zipCrc32(const KQUData& bytes) {
    return static_cast<uint32_t>(::crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

inline KQUData concat(KQUData a, const KQUData& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace kqu::test
