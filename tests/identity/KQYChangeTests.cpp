#include "kqutility/identity/KQYChange.h"

#include <gtest/gtest.h>
#include <unicode/timezone.h>

#include <cmath>
#include <unordered_set>

#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULocale.h"

namespace kqu {
namespace {

struct Author : KQYChangeAuthorProtocol {
    std::u16string mName;
    KQYColorSetRef mColors;
    Author(std::u16string n, KQYColorSetRef c) : mName(std::move(n)), mColors(std::move(c)) {}
    std::u16string name() const override { return mName; }
    KQYColorSetRef colorSet() const override { return mColors; }
    bool isEqualToAuthor(const KQYChangeAuthorProtocol& o) const override { return o.name() == mName; }
};

KQYAuthorRef author(std::u16string name, KQYColorSetRef colors = std::make_shared<int>(0)) {
    return std::make_shared<Author>(std::move(name), std::move(colors));
}

struct Change : KQYChange {
    uint32_t page = 0;
    KQURect container, bounds, group;
    KQYChange* parent = nullptr;
    std::vector<KQYChange*> children;
    Change(KQYSessionRef s, double date) : KQYChange(std::move(s), date) {}
    std::u16string changeDescriptionWithKind(int) const override { return u"Inserted"; }
    std::u16string changeTextWithCharLimit(unsigned) const override { return u"hello"; }
    uint32_t pageIndex() const override { return page; }
    KQURect containerBounds() const override { return container; }
    KQURect boundsOnPage() const override { return bounds; }
    KQURect hierarchicalBoundsOnPage() const override { return group; }
    KQYChange* parentChange() const override { return parent; }
    std::vector<KQYChange*> childChanges() const override { return children; }
    void adopt(Change& child) {
        children.push_back(&child);
        child.parent = this;
    }
};

TEST(KQYSessionTest, ValuesMatchingAndHashing) {
    KQUManualWallClock clock(1000.0);
    auto ann = author(u"Ann");
    auto s4 = std::make_shared<KQYSession>(4, ann);
    EXPECT_EQ(KQYSession::makeAfter(s4.get(), ann)->sessionValue(), 5u);
    EXPECT_EQ(KQYSession::makeAfter(nullptr, ann)->sessionValue(), 0u);

    std::pair<double, bool> cases[] = {
        {1000.5, true}, {999.0, true}, {1001.5, false}, {NAN, false}, {INFINITY, false}};
    for (auto [date, matches] : cases)
        EXPECT_EQ(s4->matchesSession(KQYSession(4, author(u"Ann"), date)), matches) << date;
    EXPECT_FALSE(s4->matchesSession(KQYSession(4, author(u"Bob"), 1000.0)) ||
                 s4->matchesSession(KQYSession(3, ann, 1000.0)));

    // Fault mended: equal sessions (same value, other author) must hash alike.
    std::unordered_set<KQYSession> sessions{*s4};
    EXPECT_TRUE(sessions.contains(KQYSession(4, author(u"Bob"), 5.0)));
}

TEST(KQYChangeTest, BubbleOrder) {
    auto s = std::make_shared<KQYSession>(0, author(u"Ann"), 0.0);
    Change early(s, 1.0), late(s, 2.0);
    // Pages first, whatever the positions.
    early.page = 3;
    late.page = 1;
    late.container.origin = {0, 500};
    EXPECT_EQ(late.bubbleOrderCompare(early), -1);
    // Same page, ungrouped: container y, then x; then the date.
    early.page = 1;
    early.container.origin = {10, 50};
    late.container.origin = {200, 40};
    EXPECT_EQ(late.bubbleOrderCompare(early), -1);
    late.container.origin = {10, 50};
    EXPECT_EQ(early.bubbleOrderCompare(late), -1);

    // A group: top (level 0) > middle > leaf (level 2); a loner elsewhere.
    Change top(s, 3.0), middle(s, 3.0), leaf(s, 3.0), loner(s, 3.0);
    for (Change* c : {&top, &middle, &leaf, &loner}) c->page = 1;
    top.adopt(middle);
    middle.adopt(leaf);
    top.container.origin = {0, 100};
    top.group = {{0, 100}, {50, 50}};
    loner.container.origin = {0, 50};
    loner.bounds = {{300, 300}, {10, 10}};
    auto both = [](const Change& x, const Change& y) {
        return std::pair(x.bubbleOrderCompare(y), y.bubbleOrderCompare(x));
    };
    EXPECT_EQ(both(top, leaf), std::pair(-1, 1));  // an ancestor first
    // The deeper change's parent stands in for it, from both sides, down to the top.
    EXPECT_EQ(both(leaf, loner), std::pair(1, -1));
    // The group-box step: a loner inside the group box comes first, even placed lower.
    loner.container.origin = {0, 900};
    EXPECT_EQ(loner.bubbleOrderCompare(top), 1);
    loner.bounds = {{20, 120}, {0, 0}};  // a zero size counts as 1
    EXPECT_EQ(both(loner, top), std::pair(-1, 1));
    EXPECT_EQ(leaf.bubbleOrderCompare(loner), 1);
}

TEST(KQYChangeTest, ToolTipAndMixedAuthors) {
    std::unique_ptr<icu::TimeZone> savedZone(icu::TimeZone::createDefault());
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    KQUSetCurrentLocaleOverride("en_US");
    auto ann = author(u"Ann");
    Change change(std::make_shared<KQYSession>(0, ann, 0.0), 93840.0);  // 1970-01-02 02:04 UTC
    KQUAttributedString tip = change.toolTipText();
    KQUSetCurrentLocaleOverride(std::nullopt);
    icu::TimeZone::adoptDefault(savedZone.release());

    const std::u16string& text = tip.string();
    EXPECT_EQ(text.substr(0, 17), u"Ann   1/2/70, 2:0");
    ASSERT_TRUE(text.ends_with(u"\nInserted: hello"));
    uint64_t boldStart = text.size() - std::u16string_view(u"Inserted: hello").size();
    KQURange range;
    const KQUValue* font = tip.attribute(KQUFontAttributeName, boldStart, &range);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(*font, KQUFontAttributeValue(KQUBoldSystemFontName, KQUSystemFontSize));
    EXPECT_EQ(range, (KQURange{boldStart, 9}));  // "Inserted:"
    EXPECT_EQ(*tip.attribute(KQUFontAttributeName, 0),
              KQUFontAttributeValue(KQUSystemFontName, KQUSystemFontSize));

    // Colour sets: the given author's first, then each other author's once; none missing.
    auto bobColors = std::make_shared<int>(2);
    auto bob = author(u"Bob", bobColors), noColors = author(u"Cy", nullptr);
    Change group(nullptr, 0.0), a(std::make_shared<KQYSession>(0, ann), 0.0),
        b(std::make_shared<KQYSession>(1, bob), 0.0), b2(std::make_shared<KQYSession>(2, bob), 0.0),
        c(std::make_shared<KQYSession>(3, noColors), 0.0);
    for (Change* child : {&a, &c, &b, &b2}) group.adopt(*child);
    std::vector<KQYColorSetRef> colorSets;
    EXPECT_TRUE(group.hasMixedAuthors(ann.get(), &colorSets));
    EXPECT_EQ(colorSets, (std::vector<KQYColorSetRef>{ann->colorSet(), bobColors}));
    EXPECT_FALSE(a.hasMixedAuthors(ann.get(), nullptr));
    EXPECT_TRUE(group.firstChildLeaf() == &a && a.rootChange() == &group);
}

}  // namespace
}  // namespace kqu
