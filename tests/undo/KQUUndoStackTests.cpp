#include <fmt/format.h>
#include <gtest/gtest.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUNull.h"
#include "support/KQUTestSupport.h"
#include "undo/KQUUndoTestSupport.h"

namespace kqu {
namespace {

using namespace test;
using Names = std::vector<std::string>;

// An argument that counts how often it was pruned, into a shared log.
struct PrunableArgument : KQUUndoPrunable {
    PrunableArgument(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
    void willBePrunedFromUndo() override { log.push_back(name); }
    std::vector<std::string>& log;
    std::string name;
};

std::unique_ptr<KQUUndoObject> prunableRecord(const std::shared_ptr<Journal>& journal,
                                              std::vector<std::string>& log, std::string name) {
    return std::make_unique<KQUUndoLightInvocation>(
        KQUUndoTargetRef(journal), KQUSelectorName("prunable:"),
        KQUUndoArgumentRef(std::make_shared<PrunableArgument>(log, std::move(name))),
        [](void*, const std::shared_ptr<void>&) {});
}

TEST(KQUUndoStack, NestingErrorsRaiseAndLeaveTheStackAsItWas) {
    KQUUndoStack stack;
    EXPECT_KQU_THROW(
        stack.markEnd(), NSInternalInconsistencyException,
        fmt::format("push: -- KQUUndoStack {} pushing more ends than begins onto stack", address(&stack)));
    EXPECT_TRUE(stack.isEmpty());

    // A begin mark on top with no group open: only reachable by reactivating a mark.
    auto mark = std::make_unique<KQUUndoBeginMark>();
    mark->setIsDeactivated(true);
    KQUUndoObject* raw = mark.get();
    stack.push(std::move(mark));
    EXPECT_EQ(stack.count(), 0u);
    raw->setIsDeactivated(false);
    EXPECT_KQU_THROW(stack.popUndoObject(), NSInternalInconsistencyException,
                     fmt::format("popUndoObject -- KQUUndoStack {} popping more begins than ends from stack",
                                 address(&stack)));
    EXPECT_EQ(stack.topUndoObject(), raw);

    KQUUndoStack open;
    open.markBegin();
    EXPECT_KQU_THROW(open.popAndInvoke(nullptr), NSInternalInconsistencyException,
                     test::invalidState("popAndInvoke:", "KQUUndoStack", &open,
                                        "call endUndoGrouping on undo manager before calling this method"));
    EXPECT_EQ(open.deepCount(), 1u);

    KQUUndoStack empty;
    EXPECT_KQU_THROW(empty.setGroupIdentifier("x"), NSInternalInconsistencyException,
                     test::invalidState("setGroupIdentifier:", "KQUUndoStack", &empty,
                                        "calling setGroupIdentifier with no begin group mark"));
    EXPECT_FALSE(empty.groupIdentifier());
    EXPECT_ASSERTION_FAILURE(empty.next(nullptr));
}

TEST(KQUUndoStack, LimitDropsTheOldestGroupAndPrunesItsRecordsOldestFirst) {
    KQUUndoStack stack;
    auto journal = std::make_shared<Journal>();
    std::vector<std::string> pruned;
    stack.setMax(2);
    for (const char* group : {"g1", "g2", "g3"}) {
        stack.markBegin();
        stack.setGroupIdentifier(group);
        stack.push(prunableRecord(journal, pruned, std::string(group) + ".a"));
        stack.markBegin();  // nested groups go with their top-level group
        stack.push(prunableRecord(journal, pruned, std::string(group) + ".b"));
        stack.markEnd();
        stack.markEnd();
    }
    EXPECT_EQ(shape(stack), "[g2 . [ . ] ] [g3 . [ . ] ]");
    EXPECT_EQ(pruned, (Names{"g1.a", "g1.b"}));
    EXPECT_TRUE(stackIsConsistent(stack));

    // Lowering the limit drops down to it at once; while a group is open, it applies when it closes.
    stack.setMax(1);
    EXPECT_EQ(pruned, (Names{"g1.a", "g1.b", "g2.a", "g2.b"}));
    stack.markBegin();
    EXPECT_EQ(stack.count(), 2u);
    stack.markEnd();
    EXPECT_EQ(shape(stack), "[ ]");
    EXPECT_TRUE(stackIsConsistent(stack));
}

TEST(KQUUndoStack, ReplayingAGroupRunsItsRecordsNewestFirstWithNestedGroups) {
    KQUUndoStack stack;
    auto journal = std::make_shared<Journal>();
    build(stack, "[ a [ b c ] deactivated d ]", journal);
    stack.topUndoObject()->next()->next()->setIsDeactivated(true);
    EXPECT_EQ(shape(stack), "[ a [ b c ] -deactivated d ]");
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(journal->take(), (Names{"d", "c", "b", "a"}));
    EXPECT_TRUE(stack.isEmpty());

    // A group of marks only answers NO, and so does an empty stack.
    build(stack, "[ ]", journal);
    EXPECT_FALSE(stack.popAndInvoke(nullptr));
    EXPECT_FALSE(stack.popAndInvoke(nullptr));
    EXPECT_TRUE(stackIsConsistent(stack));
}

TEST(KQUUndoStack, CollapsingSkipsClosedGroupsNestedInTheOpenGroup) {
    // The open group holds two closed nested groups. Merging must take the open top-level
    // group (into "previous"), never the two nested groups into each other.
    KQUUndoStack stack;
    auto journal = std::make_shared<Journal>();
    build(stack, "[ previous ] [ [ nested-1 ] [ nested-2 ]", journal);
    ASSERT_EQ(stack.count(), 2u);
    // Merged once (the marks between deactivated): a second collapse in the same group changes nothing.
    for (int twice = 0; twice < 2; ++twice) {
        stack.collapseCurrentGroupIntoPriorGroup(nullptr);
        EXPECT_EQ(shape(stack), "[ previous -] -[ [ nested-1 ] [ nested-2 ]");
        EXPECT_EQ(stack.totalBeginMarks(), 3u);
        EXPECT_EQ(stack.totalEndMarks(), 2u);
        EXPECT_TRUE(stackIsConsistent(stack));
    }
    stack.markEnd();
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(journal->take(), (Names{"nested-2", "nested-1", "previous"}));
    EXPECT_TRUE(stack.isEmpty());

    // Without a previous group nothing is merged and the open group still counts.
    build(stack, "[ [ nested-1 ] [ nested-2 ]", journal);
    stack.collapseCurrentGroupIntoPriorGroup(nullptr);
    EXPECT_EQ(shape(stack), "[ [ nested-1 ] [ nested-2 ]");
    EXPECT_EQ(stack.count(), 1u);
    EXPECT_TRUE(stackIsConsistent(stack));

    // Only at nesting level 1.
    build(stack, "[", journal);
    EXPECT_ASSERTION_FAILURE(stack.collapseCurrentGroupIntoPriorGroup(nullptr));
}

TEST(KQUUndoStack, PurgingATargetRemovesGroupsItLeavesEmptyAtEveryLevel) {
    KQUUndoStack stack;
    auto doomed = std::make_shared<Journal>();
    auto kept = std::make_shared<Journal>();
    std::vector<std::string> pruned;

    // Goes whole: a group whose only records sit in a nested group. Stays: a group with records of
    // both targets (without its emptied nested group), and an emptied open group.
    build(stack, "[ kept-1 ] [ [", kept);
    stack.push(prunableRecord(doomed, pruned, "nested"));
    build(stack, "] ] [ kept-2 [ ~x ] ] [ ~open", kept, doomed);
    ASSERT_EQ(stack.count(), 4u);

    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_TRUE(stackIsConsistent(stack));
    EXPECT_EQ(shape(stack), "[ kept-1 ] [ kept-2 ] [");
    EXPECT_EQ(stack.count(), 3u);
    EXPECT_EQ(stack.nestingLevel(), 1u);
    EXPECT_EQ(pruned, Names{"nested"});

    stack.markEnd();  // close the open group, emptied earlier: no later purge empties it
    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_EQ(stack.count(), 3u);
    EXPECT_TRUE(stackIsConsistent(stack));
    EXPECT_FALSE(stack.popAndInvoke(nullptr));
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(kept->take(), Names{"kept-2"});

    // A merged group whose records all go is removed as one group.
    build(stack, "[ ~m1 ] [ ~m2", kept, doomed);
    stack.collapseCurrentGroupIntoPriorGroup(nullptr);
    stack.markEnd();
    EXPECT_EQ(stack.count(), 2u);
    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_EQ(shape(stack), "[ kept-1 ]");
    EXPECT_EQ(stack.count(), 1u);
    EXPECT_TRUE(stackIsConsistent(stack));

    // The only target of the only group: the stack empties.
    stack.removeAllObjectsWithTarget(kept.get());
    EXPECT_TRUE(stack.isEmpty());
    EXPECT_TRUE(stackIsConsistent(stack));
}

TEST(KQUUndoStack, GroupIdentifierIsTheTopLevelGroupsEvenInsideNestedGroups) {
    KQUUndoStack stack;
    stack.markBegin();
    stack.setGroupIdentifier("outer");
    build(stack, "[ [", nullptr);
    stack.setGroupIdentifier("Typing");  // inside the innermost group, it lands on the open top-level group
    build(stack, "] ] ] [", nullptr);
    EXPECT_EQ(shape(stack), "[Typing [ [ ] ] ] [");
    EXPECT_EQ(stack.groupIdentifier(), std::nullopt);  // the new open group has no name yet
}

TEST(KQUUndoStack, ARecordWhoseTargetHasGoneIsSkippedWithALogLine) {
    KQUUndoStack stack;
    auto kept = std::make_shared<Journal>();
    auto gone = std::make_shared<Journal>();
    build(stack, "[ kept ~gone ]", kept, gone);
    gone.reset();
    test::ScopedDefault level(KQULOG_LEVEL, "warning");
    test::LogCapture log;
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(kept->entries, std::vector<std::string>{"kept"});
    EXPECT_TRUE(log.contains("Skipping the undo action write: of "));
    EXPECT_TRUE(log.contains("its target no longer exists"));
}

TEST(KQUUndoStack, SessionsRecordsAreDeactivatedAtMostThreeAndNotTheBottom) {
    KQUUndoStack stack;
    auto session = std::make_shared<KQUUndoSession>(nullptr, 0, nullptr, nullptr);
    auto sessionRecord = [&](std::shared_ptr<void> argument) {
        return std::make_unique<KQUUndoLightInvocation>(
            KQUUndoTargetRef::retaining(session), KQUSelectorName("beginUndo:"), KQUUndoArgumentRef(argument),
            [](void*, const std::shared_ptr<void>&) {});
    };
    stack.markBegin();
    for (int i = 0; i < 4; ++i) stack.push(sessionRecord(i == 0 ? KQUNull::null() : nullptr));
    stack.markEnd();
    KQUUndoObject* oldest = stack.bottomUndoObject()->previous();
    EXPECT_TRUE(stack.isBeginSession(oldest));
    EXPECT_FALSE(stack.isBeginSession(oldest->previous()));
    EXPECT_TRUE(oldest->isUndoSessionTarget());

    stack.deactivateUndoSession(session.get(), nullptr);
    EXPECT_EQ(shape(stack), "[ . -. -. -. ]");
}

TEST(KQUUndoStack, TearingDownAMillionRecordsDoesNotRecurse) {
    auto stack = std::make_unique<KQUUndoStack>();
    stack->markBegin();
    for (int i = 0; i < 1'000'000; ++i) stack->push(std::make_unique<KQUUndoObject>());
    stack->markBegin();  // left open: teardown checks nothing
    EXPECT_EQ(stack->deepCount(), 1'000'002u);
    EXPECT_NO_THROW(stack.reset());
}

}  // namespace
}  // namespace kqu
