// Plain geometry records: points, sizes and rectangles in floating-point coordinates.
// Text ranges live in KQURange.h and come along with this header.
#pragma once

#include "kqutility/foundation/KQURange.h"

namespace kqu {

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

}  // namespace kqu
