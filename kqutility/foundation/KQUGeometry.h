// Plain geometry and range records: points, sizes and rectangles in floating-point
// coordinates, and text ranges (unsigned location and length, with KQUNotFound as the
// location of "not found"). Compute range ends in 64 bits.
#pragma once

#include <cstdint>

namespace kqu {

inline constexpr uint64_t KQUNotFound = 2147483647;

struct KQUPoint {
    double x = 0, y = 0;
    bool operator==(const KQUPoint&) const = default;
};

struct KQUSize {
    double width = 0, height = 0;
    bool operator==(const KQUSize&) const = default;
};

struct KQURect {
    KQUPoint origin;
    KQUSize size;
    bool operator==(const KQURect&) const = default;
};

struct KQURange {
    uint64_t location = 0, length = 0;
    bool operator==(const KQURange&) const = default;
};

}  // namespace kqu
