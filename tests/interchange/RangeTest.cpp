// Range arithmetic against models (integer sets, edits of a labelled array), examples, ends near 2^64.
#include <limits>
#include <set>
#include <vector>

#include "kqutility/interchange/KQURangeAdditions.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

std::vector<KQURange> smallRanges() {
    std::vector<KQURange> all;
    for (uint64_t location = 0; location <= 8; ++location)
        for (uint64_t length = 0; length <= 8; ++length) all.push_back({location, length});
    return all;
}

std::set<uint64_t> members(KQURange r) {
    std::set<uint64_t> s;
    for (uint64_t i = r.location; i < r.location + r.length; ++i) s.insert(i);
    return s;
}

TEST(RangeAdditions, IntersectionsAgainstIntegerSets) {
    for (KQURange a : smallRanges())
        for (KQURange b : smallRanges()) {
            SCOPED_TRACE(testing::Message() << "(" << a.location << "," << a.length << ") (" << b.location
                                            << "," << b.length << ")");
            std::set<uint64_t> sa = members(a), common;
            for (uint64_t i : members(b))
                if (sa.count(i)) common.insert(i);
            KQURange expected = common.empty() ? KQURange{0, 0} : KQURange{*common.begin(), common.size()};
            if (!common.empty()) {
                ASSERT_EQ(*common.rbegin() + 1 - expected.location, expected.length);  // contiguous
            }
            EXPECT_EQ(KQUIntersectionRange(a, b), expected);
            EXPECT_EQ(NSRangeIntersectsRange(a, b), !common.empty());
            // Exclusive: open interiors overlap on a half-step grid; an empty range is its point.
            auto interior = [](KQURange r, uint64_t t) {
                return r.length ? 2 * r.location < t && t < 2 * (r.location + r.length) : t == 2 * r.location;
            };
            bool meets = false;
            for (uint64_t t = 0; t <= 40; ++t) meets = meets || (interior(a, t) && interior(b, t));
            meets = meets && (a.length || b.length);
            EXPECT_EQ(NSIntersectsRangeExclusive(a, b), meets);
            if (!common.empty()) {
                EXPECT_EQ(NSIntersectionRangeWithEdge(a, b, false), expected);
                EXPECT_EQ(NSIntersectionRangePinned(a, b), expected);
            } else {
                EXPECT_EQ(NSIntersectionRangePinned(a, b).length, 0u);
            }
            // Ranges that only touch meet at the touching point.
            bool endsAtB = a.location + a.length == b.location;
            if (common.empty() && (endsAtB || b.location + b.length == a.location)) {
                EXPECT_EQ(NSIntersectionRangeWithEdge(a, b, true),
                          (KQURange{endsAtB ? b.location : a.location, 0}));
            }
        }
}

TEST(RangeAdditions, EdgesAndPins) {
    // a, b, intersection with edge, without, pinned.
    const std::tuple<KQURange, KQURange, KQURange, KQURange, KQURange> cases[] = {
        // clang-format off
        {{0, 5}, {5, 3}, {5, 0}, {KQUNotFound, 0}, {4, 0}},
        {{5, 3}, {0, 5}, {5, 0}, {KQUNotFound, 0}, {7, 0}},  // B touches A's start: pinned at A's last character
        {{5, 3}, {0, 2}, {KQUNotFound, 0}, {KQUNotFound, 0}, {5, 0}},
        {{0, 0}, {0, 4}, {0, 0}, {0, 0}, {0, 0}}, {{3, 0}, {0, 3}, {3, 0}, {KQUNotFound, 0}, {3, 0}},
        {{2, 4}, {3, 1}, {3, 1}, {3, 1}, {3, 1}},
        // clang-format on
    };
    for (const auto& [a, b, edge, noEdge, pinned] : cases)
        EXPECT_EQ(std::tuple(NSIntersectionRangeWithEdge(a, b, true),
                             NSIntersectionRangeWithEdge(a, b, false), NSIntersectionRangePinned(a, b)),
                  std::tuple(edge, noEdge, pinned));
}

TEST(RangeAdditions, AdjustForReplaceAgainstAnEdit) {
    for (KQURange r : smallRanges())
        for (KQURange x : smallRanges())
            for (uint64_t yl = 0; yl <= 8; ++yl) {
                std::vector<int> edited;  // characters labelled 0..19, X replaced by 100, 101, ...
                for (int i = 0; i < 20; ++i)
                    if (uint64_t(i) < x.location || uint64_t(i) >= x.location + x.length) edited.push_back(i);
                for (uint64_t k = 0; k < yl; ++k)
                    edited.insert(edited.begin() + long(x.location + k), 100 + int(k));
                uint64_t rE = r.location + r.length, xE = x.location + x.length;
                bool startsInside = x.location > r.location && x.location < rE;
                // R keeps its characters outside X, and takes in Y when X is R or lies inside R.
                std::set<int> expected;
                for (uint64_t i = r.location; i < rE; ++i)
                    if (i < x.location || i >= xE) expected.insert(int(i));
                if ((x == r && r.length > 0) || startsInside)
                    for (uint64_t k = 0; k < yl; ++k) expected.insert(100 + int(k));
                KQURange got = NSAdjustRangeForReplace(r, x, yl);
                if (startsInside && xE > rE && r.length + yl >= x.length) {  // the stated formula stands
                    EXPECT_EQ(got, (KQURange{r.location, r.length + yl - x.length}));
                    continue;
                }
                EXPECT_EQ(got.length, expected.size());
                if (expected.empty()) continue;
                std::set<int> covered;
                for (uint64_t i = got.location; i < got.location + got.length && i < edited.size(); ++i)
                    covered.insert(edited[i]);
                ASSERT_EQ(covered, expected)
                    << r.location << "," << r.length << " " << x.location << "," << x.length;
            }
}

TEST(RangeAdditions, EndsNear2To64DoNotWrap) {
    KQURange huge{5, kMax};  // a wrapping end would be 4
    EXPECT_EQ(KQUMaxRange(huge), kMax);
    EXPECT_TRUE(NSIntersectsRangeExclusive(huge, {6, 1}));
    EXPECT_EQ(KQUIntersectionRange(huge, {6, 1}), (KQURange{6, 1}));
    EXPECT_TRUE(KQULocationInRanges(6, std::vector<KQURange>{huge}) &&
                !KQULocationInRanges(4, std::vector<KQURange>{huge}));
    EXPECT_FALSE(KQULocationInRanges(0, {}));
    EXPECT_EQ(NSAdjustRangeForReplace({kMax - 1, 1}, {0, 1}, 5), (KQURange{kMax, 1}));  // held, not wrapped
}

TEST(RangeAdditions, CleanupRanges) {
    const std::tuple<std::vector<KQURange>, uint64_t, std::vector<KQURange>> cases[] = {
        // in, max, out
        // clang-format off
        {{{0, 2}, {1, 3}, {5, 10}}, 8, {{0, 2}, {5, 3}}}, {{{2, 3}}, 10, {{2, 3}}}, {{{12, 3}}, 10, {{10, 0}}},
        {{{5, kMax}}, 10, {{5, 5}}}, {{{5, kMax}, {7, 1}}, 10, {{7, 1}}},  // far past the text, not ending at 4
        {{{20, 1}, {3, 2}, {4, 1}}, 10, {{3, 2}}},  // the first range kept is (3, 2)
        {{{0, 0}, {3, 2}}, 10, {{3, 2}}}, {{{0, 0}, {0, 0}}, 10, {{0, 0}}}, {{{KQUNotFound, 1}, {4, 2}}, 10, {{4, 2}}},
        {{{1, 2}, {KQUNotFound, 0}}, 10, {{1, 2}}}, {{{1, 2}, {6, KQUNotFound}}, 10, {{1, 2}, {6, 4}}},
        // clang-format on
    };
    for (auto [ranges, max, out] : cases) {
        cleanupRangesWithMaxRange(ranges, max);
        EXPECT_EQ(ranges, out);
    }
}

}  // namespace
}  // namespace kqu
