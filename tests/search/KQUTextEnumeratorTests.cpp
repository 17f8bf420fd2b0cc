#include <fmt/format.h>
#include <gtest/gtest.h>

#include "kqutility/search/KQUTextEnumerator.h"
#include "search/KQUMockSearchHost.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;

namespace {

// body (100, an attachment at 30 holding body.1 of 5 and body.2 of 7), a 2 x 2 table, tail (20).
struct Document {
    MockDocument doc;
    MockText* body = &doc.addText("body", 100);
    MockAttachment* attachment = &doc.attach(*body, 30, {5, 7});
    MockText* tail = &doc.addText("tail", 20);
    Document() {
        doc.table = std::make_unique<MockTable>(doc, 2, 2);
        doc.topLevel = {body, doc.table.get(), tail};
    }
    // Every position handed out, as "name (location, length)"; a cap turns a loop into a failure.
    std::vector<std::string> collect(KQUTextEnumerator& enumerator) {
        std::vector<std::string> out;
        for (auto p = enumerator.nextSearchPosition(); p && out.size() <= 100;
             p = enumerator.nextSearchPosition()) {
            std::string cell = p->searchServices() == doc.table.get()
                                   ? fmt::format(" r{}c{}", p->coordinates().row, p->coordinates().column)
                                   : "";
            out.push_back(fmt::format("{}{} ({}, {})", doc.nameOf(p->searchServices()), cell,
                                      p->range().location, p->range().length));
            EXPECT_LE(p->range().location + p->range().length, p->length())
                << out.back() << " passes the text";
        }
        EXPECT_LE(out.size(), 100u) << "the enumeration does not end";
        return out;
    }
    std::vector<std::string> run(int flags, KQUSearchPositionRef initial = nullptr) {
        KQUTextEnumerator enumerator(flags, &doc, initial);
        return collect(enumerator);
    }
};

using Sequence = std::vector<std::string>;

TEST(KQUTextEnumerator, ForwardAndBackwardWithDescendAndSegments) {
    Document d;
    const int flags = KQUTextEnumeratorDescendFlag | KQUTextEnumeratorSegmentsFlag;
    EXPECT_EQ(d.run(flags), (Sequence{"body (0, 30)", "body.1 (0, 5)", "body.2 (0, 7)", "body (31, 69)",
                                      "table r0c0 (0, 10)", "table r0c1 (0, 11)", "table r1c0 (0, 12)",
                                      "table r1c1 (0, 13)", "tail (0, 20)"}));
    EXPECT_EQ(d.run(flags | KQUTextEnumeratorBackwardFlag),
              (Sequence{"tail (0, 0)", "table r1c1 (0, 13)", "table r1c0 (0, 12)", "table r0c1 (0, 11)",
                        "table r0c0 (0, 10)", "body (31, 69)", "body.2 (0, 7)", "body.1 (0, 5)",
                        "body (0, 30)", "tail (0, 20)"}));
    EXPECT_EQ(d.doc.beginCount, d.doc.endCount);
}

TEST(KQUTextEnumerator, RepeatsFilteredAndSingleLoop) {
    Document d;
    auto atTail = KQUSearchPosition::searchPositionWithSearchServices(d.tail, {5, 0});
    EXPECT_EQ(d.run(KQUTextEnumeratorDescendFlag),
              (Sequence{"body (0, 0)", "body.1 (0, 0)", "body.2 (0, 0)", "table r0c0 (0, 0)",
                        "table r0c1 (0, 0)", "table r1c0 (0, 0)", "table r1c1 (0, 0)", "tail (0, 0)"}));
    EXPECT_EQ(d.run(0, atTail), (Sequence{"tail (5, 0)", "body (0, 0)", "table r0c0 (0, 0)",
                                          "table r0c1 (0, 0)", "table r1c0 (0, 0)", "table r1c1 (0, 0)"}));
    EXPECT_EQ(d.run(KQUTextEnumeratorSingleLoopFlag, atTail), (Sequence{"tail (5, 0)"}));
    EXPECT_EQ(d.run(KQUTextEnumeratorNoSiblingsFlag),
              (Sequence{"body (0, 0)", "table r0c0 (0, 0)", "tail (0, 0)"}));
}

TEST(KQUTextEnumerator, SegmentsWrapAroundTheInitialLocation) {
    MockDocument doc;
    MockText& only = doc.addText("only", 100);
    doc.topLevel = {&only};
    KQUTextEnumerator e(KQUTextEnumeratorSegmentsFlag, &doc,
                        KQUSearchPosition::searchPositionWithSearchServices(&only, {57, 0}));
    auto first = e.nextSearchPosition(), second = e.nextSearchPosition();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(std::tuple(first->range(), second->range()), std::tuple(KQURange{57, 43}, KQURange{0, 57}));
    EXPECT_FALSE(e.nextSearchPosition() || e.nextSearchPosition());

    KQUTextEnumerator plain(0, &doc);  // one text, no start: one position
    EXPECT_TRUE(plain.nextSearchPosition());
    EXPECT_FALSE(plain.nextSearchPosition());
}

TEST(KQUTextEnumerator, SelectionKeepsSelectedTexts) {
    Document d;
    d.doc.active = KQUSearchPosition::searchPositionWithSearchServices(d.body, {12, 3});
    // The host lists the selected positions: a nested text and one table cell.
    auto nested = KQUSearchPosition::searchPositionWithSearchServices(d.attachment->nested[0], {0, 0});
    auto cell = KQUSearchPosition::searchPositionWithSearchServices(d.doc.table.get(), {0, 1}, {0, 0});
    const int flags = KQUTextEnumeratorSelectionFlag | KQUTextEnumeratorDescendFlag;
    KQUTextEnumerator e(flags, &d.doc, nullptr, {nested, cell});
    EXPECT_EQ(d.collect(e), (Sequence{"body.1 (0, 0)", "table r1c0 (0, 0)"}));
    EXPECT_EQ(d.doc.active->range(), (KQURange{0, 0}));
    KQUTextEnumerator orphan(flags, &d.doc, nullptr, {nested, nullptr});
    EXPECT_KQU_THROW((void)orphan.nextSearchPosition(), NSInternalInconsistencyException, "No top item.");
}

TEST(KQUTextEnumerator, SelectionStartAsksOnlyWithAStorageAndClosesOnlyItsScope) {
    Document d;
    // No storage, text not active: nothing to ask, no scope.
    d.body->answersStorage = false;
    d.doc.active = KQUSearchPosition::searchPositionWithSearchServices(d.body, {0, 0});
    { KQUTextEnumerator e(KQUTextEnumeratorSelectionFlag, &d.doc); }
    EXPECT_EQ(d.doc.beginCount + d.doc.endCount, 0);
    // No storage, text active: the scope opened here is closed here.
    d.doc.active->setTextIsActive(true);
    { KQUTextEnumerator e(KQUTextEnumeratorSelectionFlag, &d.doc); }
    EXPECT_EQ(std::tuple(d.doc.beginCount, d.doc.endCount), std::tuple(1, 1));
    // A scope the host opened stays open.
    d.body->answersStorage = true;
    d.doc.active = KQUSearchPosition::searchPositionWithSearchServices(d.body, {0, 0});
    ASSERT_TRUE(d.doc.active->beginSearchingWithReplace(true));
    { KQUTextEnumerator e(KQUTextEnumeratorSelectionFlag, &d.doc); }
    EXPECT_EQ(std::tuple(d.doc.active->searchLevel(), d.doc.endCount), std::tuple(1u, 1));
}

TEST(KQUTextEnumerator, BadChildLocationAndBogusRangesStayInsideTheText) {
    ContinueAfterAssertions keepGoing;
    ScopedDefault warnings("KQULogLevel", "10");
    LogCapture log;
    Document d;
    d.attachment->reportedIndex = 10;  // found at 30, reported at 10: behind a start at 20
    const int flags = KQUTextEnumeratorDescendFlag | KQUTextEnumeratorSegmentsFlag;
    auto seq = d.run(flags, KQUSearchPosition::searchPositionWithSearchServices(d.body, {20, 0}));
    EXPECT_EQ(seq.empty() ? "" : seq[0], "body (20, 80)");
    EXPECT_TRUE(log.contains("Bad child location."));
    Document e;
    auto beyond = KQUSearchPosition::searchPositionWithSearchServices(e.tail, {150, 0});
    seq = e.run(KQUTextEnumeratorSegmentsFlag | KQUTextEnumeratorBackwardFlag, beyond);
    EXPECT_EQ(seq.empty() ? "" : seq[0], "tail (0, 20)");
    EXPECT_TRUE(log.contains("Bogus data sent to KQUTextEnumerator."));
}

TEST(KQUTextEnumerator, HostFailureClosesTheChildScope) {
    Document d;
    d.body->throwOnIncrement = true;
    KQUTextEnumerator e(KQUTextEnumeratorDescendFlag | KQUTextEnumeratorSegmentsFlag, &d.doc);
    EXPECT_THROW((void)e.nextSearchPosition(), std::runtime_error);
    EXPECT_EQ(std::tuple(d.doc.beginCount, d.doc.endCount), std::tuple(1, 1));
}

TEST(KQUTextEnumerator, CacheLivesAsLongAsAnEnumerator) {
    Document d;
    auto a = std::make_unique<KQUTextEnumerator>(0, &d.doc);
    auto cache = KQUTextEnumeratorCache::currentTextEnumeratorCache();
    auto b = std::make_unique<KQUTextEnumerator>(0, &d.doc);
    EXPECT_TRUE(cache && KQUTextEnumeratorCache::currentTextEnumeratorCache() == cache);
    a.reset();
    EXPECT_EQ(KQUTextEnumeratorCache::currentTextEnumeratorCache(), cache);
    b.reset();
    EXPECT_FALSE(KQUTextEnumeratorCache::currentTextEnumeratorCache());
}

TEST(KQUTextEnumerator, TextAndTableIteratorListsControllers) {
    Document d;
    KQUTextAndTableIterator it(&d.doc, 0, true);
    std::vector<std::string> names;
    while (auto* s = it.nextTextOrTableController()) names.push_back(d.doc.nameOf(s));
    EXPECT_EQ(names, (Sequence{"body", "body.1", "table", "tail"}));
}

TEST(KQUTextEnumerator, RangeOfCharactersFromSet) {
    const auto& ws = KQUCharacterSet::whitespace();
    auto smile = KQUCharacterSet::withCharacters(u"\U0001F600");
    EXPECT_EQ(KQURangeOfCharactersFromSet(u"ab  cd", ws, 0), (KQURange{2, 2}));
    EXPECT_EQ(KQURangeOfCharactersFromSet(u"ab  cd", ws, 4), (KQURange{KQUNotFound, 0}));
    EXPECT_EQ(KQURangeOfCharactersFromSet(u"ab  cd", ws, 99), (KQURange{KQUNotFound, 0}));
    EXPECT_EQ(KQURangeOfCharactersFromSet(u"a\U0001F600\U0001F600b", smile, 0), (KQURange{1, 4}));
}

}  // namespace
