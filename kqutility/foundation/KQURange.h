// Text ranges: a location and a length in characters (UTF-16 code units), both unsigned
// 64-bit, with KQUNotFound as the location of "not found". A range's end is location +
// length; code that needs the end computes it without wrapping (see
// kqutility/interchange/KQURangeAdditions.h), since a caller may hand in any two values.
// A plain value: copy it freely, from any thread.
#pragma once

#include <cstdint>

namespace kqu {

inline constexpr uint64_t KQUNotFound = 2147483647;

struct KQURange {
    uint64_t location = 0, length = 0;
    bool operator==(const KQURange&) const = default;
};

}  // namespace kqu
