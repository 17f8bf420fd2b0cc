// Purging a target removes only the groups that the purge itself empties.
#include <gtest/gtest.h>

#include "kqutility/undo/KQUUndoStack.h"
#include "tests/undo/KQUUndoTestSupport.h"

using namespace kqu;

TEST(KQUUndoStackPurge, KeepsGroupsThatWereAlreadyEmpty) {
    KQUUndoStack stack;
    auto doomed = std::make_shared<test::Journal>();
    auto kept = std::make_shared<test::Journal>();
    stack.markBegin();
    stack.push(test::journalRecord(kept, "kept"));
    stack.markEnd();
    // An explicitly named group with nothing in it: the Undo menu still shows it.
    stack.markBegin();
    stack.setGroupIdentifier("Named");
    stack.markEnd();
    // A nested empty group beside a record of the target keeps its outer group alive.
    stack.markBegin();
    stack.push(test::journalRecord(doomed, "inner-sibling"));
    stack.markBegin();
    stack.markEnd();
    stack.markEnd();
    // Emptied by the purge: goes.
    stack.markBegin();
    stack.push(test::journalRecord(doomed, "doomed"));
    stack.markEnd();
    ASSERT_EQ(stack.count(), 4u);

    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_TRUE(test::stackIsConsistent(stack));
    EXPECT_EQ(stack.count(), 3u);
    EXPECT_EQ(stack.deepCount(), 9u);  // B kept E, B E, B B E E
    EXPECT_FALSE(stack.popAndInvoke(nullptr));  // the outer group with the nested empty one
    EXPECT_EQ(stack.groupIdentifier(), "Named");
}
