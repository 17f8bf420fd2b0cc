#include "kqutility/foundation/KQUStripedLock.h"

#include <cstddef>
#include <cstdint>

namespace kqu {

std::mutex& KQUStripedLock(KQULockTable table, const void* object) {
    constexpr size_t kStripes = 64;
    struct alignas(64) Stripe {
        std::mutex lock;
    };
    static Stripe sStripes[2][kStripes];
    auto address = reinterpret_cast<uintptr_t>(object);
    size_t index = static_cast<size_t>((address >> 4) ^ (address >> 12)) % kStripes;
    return sStripes[static_cast<int>(table)][index].lock;
}

}  // namespace kqu
