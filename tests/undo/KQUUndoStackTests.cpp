#include <stdexcept>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUNull.h"
#include "support/KQUTestSupport.h"
#include "undo/KQUUndoTestSupport.h"

namespace kqu {
namespace {

using test::Journal;
using test::journalRecord;
using test::stackIsConsistent;

std::string address(const void* p) {
    return fmt::format("0x{:x}", reinterpret_cast<uintptr_t>(p));
}

// "<method>: KQUUndoStack <address> is in invalid state, <problem>\n"
std::string invalidState(std::string_view method, const KQUUndoStack& stack, std::string_view problem) {
    return fmt::format("{}: KQUUndoStack {} is in invalid state, {}\n", method, address(&stack), problem);
}

// Pushes a closed group holding one record per name.
void pushGroup(KQUUndoStack& stack, const std::shared_ptr<Journal>& journal,
               std::initializer_list<const char*> names) {
    stack.markBegin();
    for (const char* name : names) stack.push(journalRecord(journal, name));
    stack.markEnd();
}

// An argument that counts how often it was pruned, into a shared log.
struct PrunableArgument : KQUUndoPrunable {
    PrunableArgument(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
    void willBePrunedFromUndo() override { log.push_back(name); }
    std::vector<std::string>& log;
    std::string name;
};

std::unique_ptr<KQUUndoObject> failingRecord(const std::shared_ptr<Journal>& journal) {
    return std::make_unique<KQUUndoLightInvocation>(
        KQUUndoTargetRef(journal), KQUSelectorName("fail:"), nullptr,
        [](void*, const std::shared_ptr<void>&) { throw std::runtime_error("boom"); });
}

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
                     invalidState("popAndInvoke:", open,
                                  "call endUndoGrouping on undo manager before calling this method"));
    EXPECT_EQ(open.deepCount(), 1u);

    KQUUndoStack empty;
    EXPECT_KQU_THROW(
        empty.setGroupIdentifier("x"), NSInternalInconsistencyException,
        invalidState("setGroupIdentifier:", empty, "calling setGroupIdentifier with no begin group mark"));
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
    EXPECT_EQ(stack.count(), 2u);
    EXPECT_EQ(pruned, (std::vector<std::string>{"g1.a", "g1.b"}));
    EXPECT_EQ(static_cast<KQUUndoBeginMark*>(stack.bottomUndoObject())->groupIdentifier(), "g2");
    EXPECT_TRUE(stackIsConsistent(stack));

    // Lowering the limit drops down to it at once; while a group is open, the limit
    // applies when it closes.
    stack.setMax(1);
    EXPECT_EQ(pruned.size(), 4u);
    stack.markBegin();
    EXPECT_EQ(stack.count(), 2u);
    stack.markEnd();
    EXPECT_EQ(stack.deepCount(), 2u);
    EXPECT_TRUE(stackIsConsistent(stack));
}

TEST(KQUUndoStack, ReplayingAGroupRunsItsRecordsNewestFirstWithNestedGroups) {
    KQUUndoStack stack;
    auto journal = std::make_shared<Journal>();
    stack.markBegin();
    stack.push(journalRecord(journal, "a"));
    pushGroup(stack, journal, {"b", "c"});
    auto skipped = journalRecord(journal, "deactivated");
    skipped->setIsDeactivated(true);
    stack.push(std::move(skipped));
    stack.push(journalRecord(journal, "d"));
    stack.markEnd();
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(journal->take(), (std::vector<std::string>{"d", "c", "b", "a"}));
    EXPECT_TRUE(stack.isEmpty());

    // A group of marks only answers NO, and so does an empty stack.
    stack.markBegin();
    stack.markEnd();
    EXPECT_FALSE(stack.popAndInvoke(nullptr));
    EXPECT_FALSE(stack.popAndInvoke(nullptr));
    EXPECT_TRUE(stackIsConsistent(stack));
}

TEST(KQUUndoStack, CollapsingMergesTheOpenGroupIntoThePreviousOne) {
    KQUUndoStack stack;
    auto journal = std::make_shared<Journal>();
    pushGroup(stack, journal, {"1"});
    stack.markBegin();
    stack.push(journalRecord(journal, "2"));
    stack.collapseCurrentGroupIntoPriorGroup(nullptr);
    EXPECT_EQ(stack.count(), 1u);
    EXPECT_EQ(stack.totalEndMarks(), 0u);
    // Merged once: a second collapse in the same group changes nothing. (Replaying the
    // merged group: the manager's collapsing test.)
    stack.collapseCurrentGroupIntoPriorGroup(nullptr);
    EXPECT_EQ(stack.count(), 1u);
    stack.markEnd();
    EXPECT_TRUE(stackIsConsistent(stack));

    // Only at nesting level 1.
    stack.markBegin();
    stack.markBegin();
    EXPECT_ASSERTION_FAILURE(stack.collapseCurrentGroupIntoPriorGroup(nullptr));
}

TEST(KQUUndoStack, CollapsingSkipsClosedGroupsNestedInTheOpenGroup) {
    // The open group holds two closed nested groups. Merging must take the open top-level
    // group (into "previous"), never the two nested groups into each other.
    KQUUndoStack stack;
    auto journal = std::make_shared<Journal>();
    pushGroup(stack, journal, {"previous"});
    stack.markBegin();
    pushGroup(stack, journal, {"nested-1"});
    pushGroup(stack, journal, {"nested-2"});
    ASSERT_EQ(stack.count(), 2u);
    stack.collapseCurrentGroupIntoPriorGroup(nullptr);
    EXPECT_EQ(stack.count(), 1u);
    EXPECT_EQ(stack.totalBeginMarks(), 3u);  // previous's and the two nested ones
    EXPECT_TRUE(stackIsConsistent(stack));
    stack.markEnd();
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(journal->take(), (std::vector<std::string>{"nested-2", "nested-1", "previous"}));
    EXPECT_TRUE(stack.isEmpty());

    // Without a previous group nothing is merged and the open group still counts.
    stack.markBegin();
    pushGroup(stack, journal, {"nested-1"});
    pushGroup(stack, journal, {"nested-2"});
    stack.collapseCurrentGroupIntoPriorGroup(nullptr);
    EXPECT_EQ(stack.count(), 1u);
    EXPECT_EQ(stack.totalEndMarks(), 2u);
    EXPECT_TRUE(stackIsConsistent(stack));
}

TEST(KQUUndoStack, PurgingATargetRemovesGroupsItLeavesEmptyAtEveryLevel) {
    KQUUndoStack stack;
    auto doomed = std::make_shared<Journal>();
    auto kept = std::make_shared<Journal>();
    std::vector<std::string> pruned;

    pushGroup(stack, kept, {"kept-1"});
    // A top-level group whose only records sit in a nested group: both go.
    stack.markBegin();
    stack.markBegin();
    stack.push(prunableRecord(doomed, pruned, "nested"));
    stack.markEnd();
    stack.markEnd();
    // A group with records of both targets stays, its nested empty group goes.
    stack.markBegin();
    stack.push(journalRecord(kept, "kept-2"));
    stack.markBegin();
    stack.push(journalRecord(doomed, "x"));
    stack.markEnd();
    stack.markEnd();
    // An open group emptied by the purge stays open.
    stack.markBegin();
    stack.push(journalRecord(doomed, "open"));
    ASSERT_EQ(stack.count(), 4u);

    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_TRUE(stackIsConsistent(stack));
    EXPECT_EQ(stack.count(), 3u);
    EXPECT_EQ(stack.nestingLevel(), 1u);
    EXPECT_EQ(pruned, std::vector<std::string>{"nested"});
    EXPECT_EQ(stack.deepCount(), 7u);  // B kept-1 E, B kept-2 E, B(open)

    stack.markEnd();  // close the open group, emptied earlier: no later purge empties it
    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_EQ(stack.count(), 3u);
    EXPECT_TRUE(stackIsConsistent(stack));
    EXPECT_FALSE(stack.popAndInvoke(nullptr));
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(kept->take(), std::vector<std::string>{"kept-2"});

    // A merged group whose records all go is removed as one group.
    stack.markBegin();
    stack.push(journalRecord(doomed, "m1"));
    stack.markEnd();
    stack.markBegin();
    stack.push(journalRecord(doomed, "m2"));
    stack.collapseCurrentGroupIntoPriorGroup(nullptr);
    stack.markEnd();
    EXPECT_EQ(stack.count(), 2u);
    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_EQ(stack.count(), 1u);
    EXPECT_EQ(stack.deepCount(), 3u);
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
    stack.markBegin();
    stack.markBegin();
    // Set inside the innermost group, it lands on the open top-level group.
    stack.setGroupIdentifier("Typing");
    stack.markEnd();
    stack.markEnd();
    stack.markEnd();
    auto* bottom = static_cast<KQUUndoBeginMark*>(stack.bottomUndoObject());
    EXPECT_EQ(bottom->groupIdentifier(), "Typing");
    stack.markBegin();
    EXPECT_EQ(stack.groupIdentifier(), std::nullopt);  // the new open group has no name yet
}

TEST(KQUUndoStack, ARecordWhoseTargetHasGoneIsSkippedWithALogLine) {
    KQUUndoStack stack;
    auto kept = std::make_shared<Journal>();
    auto gone = std::make_shared<Journal>();
    stack.markBegin();
    stack.push(journalRecord(kept, "kept"));
    stack.push(journalRecord(gone, "gone"));
    stack.markEnd();
    gone.reset();
    test::ScopedDefault level(KQULOG_LEVEL, "warning");
    test::LogCapture log;
    EXPECT_TRUE(stack.popAndInvoke(nullptr));
    EXPECT_EQ(kept->entries, std::vector<std::string>{"kept"});
    EXPECT_TRUE(log.contains("Skipping the undo action write: of "));
    EXPECT_TRUE(log.contains("its target no longer exists"));
}

TEST(KQUUndoStack, AFailingRecordLeavesTheRestOfItsGroupClosedAndUndoable) {
    // Failing on the group's last record leaves nothing of it behind (the manager's tests
    // fail in the middle of a group).
    KQUUndoStack stack;
    auto journal = std::make_shared<Journal>();
    pushGroup(stack, journal, {"older"});
    stack.markBegin();
    stack.push(failingRecord(journal));
    stack.markEnd();
    EXPECT_THROW(stack.popAndInvoke(nullptr), std::runtime_error);
    EXPECT_EQ(stack.nestingLevel(), 0u);
    EXPECT_EQ(stack.count(), 1u);
    EXPECT_TRUE(stackIsConsistent(stack));
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
    int deactivated = 0;
    for (KQUUndoObject* r = stack.topUndoObject(); r; r = r->next())
        if (r->target() == session.get() && r->isDeactivated()) ++deactivated;
    EXPECT_EQ(deactivated, 3);
    EXPECT_FALSE(oldest->isDeactivated());
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
