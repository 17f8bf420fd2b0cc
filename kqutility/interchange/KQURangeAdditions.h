// Range arithmetic for text selections: overlap tests with and without edges, where an
// empty intersection is pinned, how a range moves when text is replaced, membership of a
// location in a list of ranges, and the cleaning of a selection list against a text
// length. Locations and lengths count UTF-16 code units.
//
// For A = (a, al) and B = (b, bl), the ends aE = a + al and bE = b + bl are computed
// without wrapping: a range whose end lies past 2^64 - 1 is taken to end there, never to
// wrap round to a small value. I is the intersection (max(a, b), min(aE, bE) - max(a, b))
// when that length is above 0, else (0, 0); ranges that only touch therefore have I = (0, 0).
// Where a result's location cannot be represented it is held at 2^64 - 1.
//
// Pure functions of their arguments, callable from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kqutility/foundation/KQURange.h"

namespace kqu {

// The end of r (location + length), or 2^64 - 1 when that sum is not representable.
[[nodiscard]] uint64_t KQUMaxRange(KQURange r);
// I as defined above.
[[nodiscard]] KQURange KQUIntersectionRange(KQURange a, KQURange b);

// True when I has a length above 0.
[[nodiscard]] bool NSRangeIntersectsRange(KQURange a, KQURange b);
// True when bE > a and b < aE (an empty range lying strictly inside the other counts).
[[nodiscard]] bool NSIntersectsRangeExclusive(KQURange a, KQURange b);
// I, except that an empty I is (0, 0) only for two ranges at 0 of which one is empty and
// (KQUNotFound, 0) otherwise; with edge set, ranges that touch meet in an empty range at
// the touching point ((b, 0) when aE = b, else (a, 0) when a = bE).
[[nodiscard]] KQURange NSIntersectionRangeWithEdge(KQURange a, KQURange b, bool edge);
// The intersection, or where an empty one sits: at the start of A when B lies before it,
// at the end of A (its last character when A is not empty) when B lies after it.
[[nodiscard]] KQURange NSIntersectionRangePinned(KQURange a, KQURange b);
// Range r after the characters of replaced were replaced by replacementLength characters.
// When the replaced range starts inside r and runs past its end, r keeps its start and
// runs to the end of the replacement unless r.length + replacementLength - replaced.length
// is a length (>= 0), which then stands.
[[nodiscard]] KQURange NSAdjustRangeForReplace(KQURange r, KQURange replaced, uint64_t replacementLength);
// True when some range holds location (r.location <= location < end of r).
[[nodiscard]] bool KQULocationInRanges(uint64_t location, std::span<const KQURange> ranges);
// Cleans a selection list against the maximum location maxRange, in place:
//  - a single range is clamped into [0, maxRange];
//  - of several, a range lying past maxRange (or whose location or length is KQUNotFound)
//    is removed, except the last, which is clamped; a range is kept when it is the first
//    one kept, or when it is not empty and starts at or after the end of the range kept
//    before it;
//  - when two or more remain and the first is empty, it is removed.
void cleanupRangesWithMaxRange(std::vector<KQURange>& ranges, uint64_t maxRange);

}  // namespace kqu
