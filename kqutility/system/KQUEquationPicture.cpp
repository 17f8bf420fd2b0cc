#include "kqutility/system/KQUEquationPicture.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "kqutility/diagnostics/KQUAssertionHandler.h"

namespace kqu {

namespace {
constexpr std::array<uint8_t, 8> kSignature = {0x00, 0x98, 0x0A, 0x00, 0xF0, 0x68, 0x08, 0x00};
constexpr uint64_t kFirstOffset = 14;
constexpr uint64_t kSearchLimit = 1024;

std::mutex sProbeLock;
std::function<bool()> sMathTypeProbe;
}  // namespace

uint64_t KQUPictDataGetEgoSignatureOffset(std::span<const uint8_t> picture) {
    if (picture.size() <= kFirstOffset) return KQUEgoSignatureNotFound;
    const uint64_t end = std::min<uint64_t>(picture.size(), kSearchLimit);
    for (uint64_t s = kFirstOffset; s < end && s + kSignature.size() <= picture.size(); ++s) {
        if (std::equal(kSignature.begin(), kSignature.end(), picture.begin() + static_cast<std::ptrdiff_t>(s)))
            return s;
    }
    return KQUEgoSignatureNotFound;
}

uint32_t KQUEgoPictGetCreator(std::span<const uint8_t> picture) {
    uint64_t s = KQUPictDataGetEgoSignatureOffset(picture);
    if (s == KQUEgoSignatureNotFound) return 0;
    // The search starts at 14, so the four bytes at s - 14 always exist; an offset of
    // exactly 14 is the first valid one, not a failure.
    KQU_ASSERT(s >= kFirstOffset, "Invalid EGO signature offset");
    if (s < kFirstOffset) return 0;
    const uint8_t* p = picture.data() + (s - 14);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

float KQUEgoPictGetDescent(std::span<const uint8_t> picture) {
    uint64_t s = KQUPictDataGetEgoSignatureOffset(picture);
    if (s == KQUEgoSignatureNotFound) return 0.0f;
    KQU_ASSERT(s >= 10, "Invalid EGO signature offset");
    if (s < 10) return 0.0f;
    const uint8_t* p = picture.data() + (s - 10);
    return static_cast<float>(uint16_t(p[0]) << 8 | uint16_t(p[1]));
}

bool KQUPictDataIsEgoEquation(std::span<const uint8_t> picture) {
    uint32_t creator = KQUEgoPictGetCreator(picture);
    return creator == KQUMathTypeCreator || creator == KQUCWEECreator;
}

bool KQUIsMathTypeAvailable() {
    std::function<bool()> probe;
    {
        std::lock_guard guard(sProbeLock);
        probe = sMathTypeProbe;
    }
    return probe && probe();
}

void KQUSetMathTypeAvailabilityProbe(std::function<bool()> probe) {
    std::lock_guard guard(sProbeLock);
    sMathTypeProbe = std::move(probe);
}

}  // namespace kqu
