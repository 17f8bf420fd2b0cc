#include <fmt/format.h>
#include <gtest/gtest.h>

#include "search/KQUMockSearchHost.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;

namespace {

TEST(KQUSearchPosition, KeysMatchingAndDescription) {
    MockDocument doc;
    MockText& text = doc.addText("T", 4);
    MockText& other = doc.addText("U", 4);
    auto p = KQUSearchPosition::searchPositionWithSearchServices(&text, {3, 2}, {10, 4});
    const std::string root =
        fmt::format("{}", static_cast<const void*>(static_cast<KQUSearchServices*>(&text)));
    EXPECT_EQ(p->searchPositionKey(), root + " 2 3");
    EXPECT_EQ(p->searchPositionKeyWithRange(), root + " 2 3 10 4");
    p->setRange({11, 0});
    EXPECT_EQ(p->searchPositionKeyWithRange(), root + " 2 3 11 0");

    auto a = KQUSearchPosition::searchPositionWithSearchServices(&text, {5, 3});
    auto b = KQUSearchPosition::searchPositionWithSearchServices(&text, {5, 4});
    auto elsewhere = KQUSearchPosition::searchPositionWithSearchServices(&other, {5, 3});
    // Same cell, with locations, with ranges, another cell, ignoring cells, another text.
    EXPECT_EQ((std::vector<bool>{a->matches(*b, true, false), a->matchesWithLocations(*b, true),
                                 a->matches(*b, true, true), a->matches(*p, true, false),
                                 a->matches(*p, false, false), a->matches(*elsewhere, false, false)}),
              (std::vector<bool>{true, true, false, false, true, false}));
    EXPECT_EQ(a->indexOfMatchInSearchPositionArray({p, b}, true, false), 1u);
    EXPECT_EQ(a->indexOfMatchInSearchPositionArray({p}, true, true), KQUNotFound);

    auto none = KQUSearchPosition::searchPositionWithSearchServices(nullptr, {0, 0});
    EXPECT_FALSE(none->matches(*none, false, false) || none->searchPositionKey() ||
                 none->searchPositionKeyWithRange() || none->length() || none->string());
}

TEST(KQUSearchPosition, ScopesReachTheHostOncePerOutermostPair) {
    MockDocument doc;
    MockText& text = doc.addText("T", 4);
    auto p = KQUSearchPosition::searchPositionWithSearchServices(&text, {0, 0});
    ASSERT_TRUE(p->beginSearchingWithReplace(true));
    ASSERT_TRUE(p->beginSearchingWithReplace(false));
    p->endSearchingWithCommit(true);
    p->endSearchingWithCommit(true);
    EXPECT_EQ(std::tuple(doc.beginCount, doc.endCount), std::tuple(1, 1));
    EXPECT_ASSERTION_FAILURE(p->endSearchingWithCommit(false));  // "Mismatched calls to begin and end."
    EXPECT_EQ(doc.endCount, 1);
    {
        // A read-only scope ended with commit: reported, and the commit still passed on.
        ContinueAfterAssertions keepGoing;
        LogCapture log;
        ASSERT_TRUE(p->beginSearchingWithReplace(false));
        p->endSearchingWithCommit(true);
        EXPECT_TRUE(log.contains("Cannot commit if read is TRUE"));
        EXPECT_EQ(doc.commits, (std::vector<bool>{true, true}));
    }
    doc.beginAnswer = false;
    EXPECT_FALSE(p->beginSearchingWithReplace(false) || p->searchLevel());
}

TEST(KQUSearchPosition, BorrowingNeedsAStorageAndEndsWithoutTheHost) {
    MockDocument doc;
    MockText& text = doc.addText("T", 4);
    MockText& bare = doc.addText("B", 4);
    bare.answersStorage = false;
    auto lender = KQUSearchPosition::searchPositionWithSearchServices(&text, {2, 1});
    auto noStorage = KQUSearchPosition::searchPositionWithSearchServices(&bare, {0, 0});
    auto borrower = KQUSearchPosition::searchPositionWithSearchServices(&bare, {0, 0});
    {
        ContinueAfterAssertions keepGoing;
        LogCapture log;
        EXPECT_FALSE(borrower->beginUsingStorageFromSearchPosition(*noStorage) || borrower->searchLevel() ||
                     borrower->hasStorage());
        EXPECT_TRUE(log.contains("No storage."));
    }
    ASSERT_TRUE(lender->beginSearchingWithReplace(true));
    ASSERT_TRUE(borrower->beginUsingStorageFromSearchPosition(*lender));
    EXPECT_EQ(std::tuple(borrower->storageIfAny(), borrower->range()),
              std::tuple(static_cast<KQUTextStorage*>(&text), KQURange{2, 1}));
    borrower->endSearchingWithCommit(false);
    EXPECT_EQ(doc.endCount, 0);  // the lender's editing stays open
    lender->endSearchingWithCommit(true);
    EXPECT_EQ(doc.endCount, 1);
}

class HostPosition : public KQUSearchPosition {
public:
    void activatePage() override { ++pages; }
    int pages = 0;

protected:
    KQUSearchPositionRef makeEmptyCopy() const override { return std::make_shared<HostPosition>(); }
};

TEST(KQUSearchPosition, CopyKeepsTheClassAndFieldsButNoScope) {
    MockDocument doc;
    auto p = std::make_shared<HostPosition>();
    p->initWithSearchServices(&doc.addText("T", 4), {1, 2}, {3, 1});
    ASSERT_TRUE(p->beginSearchingWithReplace(false));
    auto c = std::dynamic_pointer_cast<HostPosition>(p->copy());
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->matches(*p, true, true) && c->searchLevel() == 0);
    EXPECT_ASSERTION_FAILURE(KQUSearchPosition().activatePage());
}

struct GroupFixture {
    MockDocument doc;
    MockDrawable group;
    MockAttachment* attachment;
    MockDrawable shapes[4];
    GroupFixture() {
        attachment = &doc.attach(doc.addText("page", 50), 0, {5, 6, 7});
        attachment->outer = nullptr;  // a group floats on the page
        attachment->group = &group;
        for (int i = 0; i < 3; ++i) shapes[i].text = attachment->nested[static_cast<size_t>(i)];
        group.members = {&shapes[0], &shapes[1], &shapes[2]};
    }
    KQUSearchPositionRef on(int i) {
        return KQUSearchPosition::searchPositionWithSearchServices(shapes[i].text, {0, 0});
    }
};

TEST(KQUSearchPosition, GroupStepsFirstLastNextPrevious) {
    GroupFixture f;
    // clang-format off
    for (auto [from, criteria, expected] : {std::tuple{1, 0, "page.1"}, {1, 1, "page.3"}, {0, 2, "page.2"},
                                            {1, 2, "page.3"}, {2, 2, "(none)"}, {2, 3, "page.2"}, {0, 3, "(none)"}}) {
        // clang-format on
        auto p = f.on(from);
        EXPECT_EQ(std::tuple(p->groupIndex(), p->groupCount()), std::tuple(uint64_t(from), uint64_t(3)));
        const bool moved = p->incrementSearchPositionWithCriteria(criteria, 0);
        EXPECT_EQ(moved ? f.doc.nameOf(p->searchServices()) : "(none)", expected) << from << " " << criteria;
    }
}

TEST(KQUSearchPosition, GroupIndexAndCacheCountTheSameDrawables) {
    GroupFixture f;
    MockDrawable rootless;  // answers hasSearchPosition, but its position has no services
    f.group.members = {&f.shapes[0], &rootless, &f.shapes[1]};
    auto p = f.on(1);
    EXPECT_EQ(std::tuple(p->groupIndex(), p->groupCount()), std::tuple(uint64_t(1), uint64_t(2)));
    EXPECT_EQ(p->searchPositionForGroupIndex(p->groupIndex())->searchServices(), f.shapes[1].text);
    auto first = f.on(0);
    ASSERT_TRUE(first->incrementSearchPositionWithCriteria(2, 0));
    EXPECT_EQ(first->searchServices(), f.shapes[1].text);
}

TEST(KQUSearchPosition, HostFailureDuringGroupIndexClearsTheGuard) {
    GroupFixture f;
    f.group.throwOnCall = 2;  // the first call tells that it is a group, the second lists it
    auto p = f.on(2);
    EXPECT_THROW((void)p->calculateGroupIndex(), std::runtime_error);
    EXPECT_EQ(p->calculateGroupIndex(), 2u);
}

TEST(KQUSearchPosition, ParentIsTheAttachmentCharacter) {
    MockDocument doc;
    MockText& body = doc.addText("body", 100);
    MockAttachment& a = doc.attach(body, 30, {5});
    auto parent =
        KQUSearchPosition::searchPositionWithSearchServices(a.nested[0], {0, 0})->parentSearchPosition();
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->searchServices(), static_cast<KQUSearchServices*>(&body));
    EXPECT_EQ(parent->range(), (KQURange{30, 0}));
    EXPECT_FALSE(KQUSearchPosition::searchPositionWithSearchServices(&body, {0, 0})->parentSearchPosition());
}

}  // namespace
