#include <gtest/gtest.h>

#include "kqutility/foundation/KQUAttributedString.h"
#include "support/KQUTestSupport.h"

namespace {

using kqu::KQUAttributedString;
using kqu::KQURange;
using kqu::KQUValue;
constexpr const char* kSup = kqu::KQUSuperscriptAttributeName;

TEST(KQUAttributedString, AttributesKeepTheirRangesInUtf16Units) {
    // "x²" written with a non-BMP letter first: ranges count code units, not characters.
    KQUAttributedString s(u"\U0001D465 = a");
    s.append(u"12", {{kSup, KQUValue(1)}});
    s.append(u"b");
    ASSERT_EQ(s.length(), 9u);
    auto effective = [&s](uint64_t index) {
        KQURange range;
        s.attribute(kSup, index, &range);
        return range;
    };
    EXPECT_EQ(s.attribute(kSup, 0), nullptr);
    EXPECT_EQ(effective(0), (KQURange{0, 6}));
    EXPECT_EQ(s.attribute(kSup, 7)->integerValue(), 1);
    EXPECT_EQ(effective(7), (KQURange{6, 2}));
    // A second attribute splits runs, but a name's effective range spans them.
    s.addAttribute("font", KQUValue("Serif"), {5, 2});
    KQURange run;
    s.attributes(6, &run);
    EXPECT_EQ(run, (KQURange{6, 1}));
    EXPECT_EQ(effective(6), (KQURange{6, 2}));
    s.addAttribute(kSup, KQUValue(-1), {7, 2});
    EXPECT_EQ(effective(8), (KQURange{7, 2}));
    EXPECT_EQ(effective(5), (KQURange{0, 6}));
}

TEST(KQUAttributedString, EqualityIgnoresHowRunsWereBuilt) {
    KQUAttributedString a(u"x23");
    a.addAttribute(kSup, KQUValue(-1), {1, 1});
    a.addAttribute(kSup, KQUValue(1), {2, 1});
    KQUAttributedString b(u"x");
    b.append(u"2", {{kSup, KQUValue(-1)}});
    b.append(u"3", {{kSup, KQUValue(1)}});
    EXPECT_EQ(a, b);
    KQUAttributedString c = b;
    c.addAttribute(kSup, KQUValue(1), {1, 1});
    EXPECT_NE(a, c);
    c.addAttribute(kSup, KQUValue(-1), {1, 1});
    EXPECT_EQ(a, c);
    c.removeAttribute(kSup, {0, 3});
    EXPECT_EQ(c, KQUAttributedString(u"x23"));
    EXPECT_NE(KQUAttributedString(u"y = "), KQUAttributedString(u"y ="));
    a.append(a);
    EXPECT_EQ(a.string(), u"x23x23");
    EXPECT_EQ(a.attribute(kSup, 5)->integerValue(), 1);
}

TEST(KQUAttributedString, RangesPastTheEndAreRefused) {
    KQUAttributedString s(u"abc");
    const std::pair<KQURange, bool> cases[] = {
        {{0, 3}, true},  {{3, 0}, true},           {{2, 2}, false},
        {{4, 0}, false}, {{1, UINT64_MAX}, false}, {{UINT64_MAX, 2}, false},
    };
    for (const auto& [range, ok] : cases) {
        if (ok) {
            EXPECT_NO_THROW(s.addAttribute(kSup, KQUValue(1), range));
        } else {
            EXPECT_KQU_THROW(s.addAttribute(kSup, KQUValue(1), range), kqu::NSRangeException, "");
            EXPECT_KQU_THROW(s.removeAttribute(kSup, range), kqu::NSRangeException, "");
        }
    }
    EXPECT_KQU_THROW(s.attribute(kSup, 3), kqu::NSRangeException, "");
    EXPECT_KQU_THROW(KQUAttributedString().attributes(0), kqu::NSRangeException, "");
}

}  // namespace
