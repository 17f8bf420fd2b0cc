#include "kqutility/collections/KQUCollectionsSupport.h"

#include <cstdint>

#include "kqutility/foundation/KQUException.h"

namespace kqu::detail {

void raiseInsertNil(std::string_view method) {
    throw KQUException(NSInvalidArgumentException, fmt::format("{}: attempt to insert nil", method));
}

void raiseInvalidCapacity(size_t capacity) {
    throw KQUException(NSInvalidArgumentException, fmt::format("invalid capacity: {}", capacity));
}

std::string fullHex(const void* address) {
    return fmt::format("0x{:016x}", reinterpret_cast<uintptr_t>(address));
}

}  // namespace kqu::detail
