#include "kqutility/interchange/KQURangeAdditions.h"

#include <algorithm>
#include <limits>

namespace kqu {
namespace {

// Ends are compared exactly in 128 bits, so that (5, 2^64 - 1) ends past everything
// instead of at 4.
using Wide = unsigned __int128;
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

Wide end(KQURange r) {
    return Wide(r.location) + r.length;
}
uint64_t held(Wide v) {
    return v > kMax ? kMax : static_cast<uint64_t>(v);
}
// The location "end of A, or its last character when A has any".
KQURange pinnedAtEnd(KQURange a) {
    return {held(a.length > 0 ? end(a) - 1 : end(a)), 0};
}

}  // namespace

uint64_t KQUMaxRange(KQURange r) {
    return held(end(r));
}

KQURange KQUIntersectionRange(KQURange a, KQURange b) {
    uint64_t start = std::max(a.location, b.location);
    Wide stop = std::min(end(a), end(b));
    if (stop <= start) return {0, 0};
    return {start, static_cast<uint64_t>(stop - start)};  // at most min(al, bl)
}

bool NSRangeIntersectsRange(KQURange a, KQURange b) {
    return KQUIntersectionRange(a, b).length > 0;
}

bool NSIntersectsRangeExclusive(KQURange a, KQURange b) {
    return end(b) > a.location && b.location < end(a);
}

KQURange NSIntersectionRangeWithEdge(KQURange a, KQURange b, bool edge) {
    KQURange result = KQUIntersectionRange(a, b);
    if (result == KQURange{0, 0}) {
        bool bothAtZero = a.location == 0 && b.location == 0 && (a.length == 0 || b.length == 0);
        if (!bothAtZero) result = {KQUNotFound, 0};
    }
    if (!edge) return result;
    if (end(a) == b.location) return {b.location, 0};
    if (a.location == end(b)) return {a.location, 0};
    return result;
}

KQURange NSIntersectionRangePinned(KQURange a, KQURange b) {
    Wide m = std::min(end(a), end(b));
    if (a.location >= b.location && end(b) > a.location)
        return {a.location, static_cast<uint64_t>(m - a.location)};
    if (a.location > b.location) {  // and B ends at or before a
        if (end(b) < a.location) return {a.location, 0};
        return pinnedAtEnd(a);
    }
    if (end(a) > b.location) return {b.location, static_cast<uint64_t>(m - b.location)};
    return pinnedAtEnd(a);
}

KQURange NSAdjustRangeForReplace(KQURange r, KQURange x, uint64_t yl) {
    Wide rE = end(r), xE = end(x);
    if (rE <= x.location) return r;
    if (xE <= r.location)
        return {held(Wide(r.location - x.length) + yl), r.length};  // x.length <= r.location
    if (x == r) return {r.location, yl};
    if (x.location <= r.location)
        return {held(Wide(x.location) + yl), rE > xE ? static_cast<uint64_t>(rE - xE) : 0};
    // X starts inside R. rl + yl - xl is the length when it is one; otherwise R runs to
    // the end of the replacement.
    Wide grown = Wide(r.length) + yl;
    if (grown >= x.length) return {r.location, held(grown - x.length)};
    return {r.location, held(Wide(x.location - r.location) + yl)};
}

bool KQULocationInRanges(uint64_t location, std::span<const KQURange> ranges) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const KQURange& r) { return r.location <= location && location < end(r); });
}

void cleanupRangesWithMaxRange(std::vector<KQURange>& ranges, uint64_t maxRange) {
    if (ranges.size() == 1) {
        KQURange& r = ranges.front();
        if (maxRange < r.location)
            r = {maxRange, 0};
        else if (maxRange < end(r))
            r.length = maxRange - r.location;
        return;
    }
    std::vector<KQURange> kept;
    kept.reserve(ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
        KQURange r = ranges[i];
        bool locationOK = r.location != KQUNotFound && r.location <= maxRange;
        bool acceptable = locationOK && r.length != KQUNotFound && end(r) <= maxRange;
        if (!acceptable) {
            if (i + 1 != ranges.size()) continue;
            r = locationOK ? KQURange{r.location, maxRange - r.location} : KQURange{maxRange, 0};
        }
        if (kept.empty() || (r.length > 0 && r.location >= end(kept.back()))) kept.push_back(r);
    }
    if (kept.size() >= 2 && kept.front().length == 0) kept.erase(kept.begin());
    ranges = std::move(kept);
}

}  // namespace kqu
