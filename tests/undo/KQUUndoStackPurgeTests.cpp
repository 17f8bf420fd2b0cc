// Purging a target removes only the groups that the purge itself empties.
#include <gtest/gtest.h>

#include "tests/undo/KQUUndoTestSupport.h"

using namespace kqu;

TEST(KQUUndoStackPurge, KeepsGroupsThatWereAlreadyEmpty) {
    KQUUndoStack stack;
    auto doomed = std::make_shared<test::Journal>();
    auto kept = std::make_shared<test::Journal>();
    // An explicitly named group with nothing in it (the Undo menu still shows it) stays, so does
    // a nested empty group beside a record of the target; the group the purge empties goes.
    test::build(stack, "[ kept ] [", kept);
    stack.setGroupIdentifier("Named");
    test::build(stack, "] [ ~inner-sibling [ ] ] [ ~doomed ]", kept, doomed);
    ASSERT_EQ(stack.count(), 4u);

    stack.removeAllObjectsWithTarget(doomed.get());
    EXPECT_TRUE(test::stackIsConsistent(stack));
    EXPECT_EQ(test::shape(stack), "[ kept ] [Named ] [ [ ] ]");
    EXPECT_EQ(stack.count(), 3u);
    EXPECT_FALSE(stack.popAndInvoke(nullptr));  // the outer group with the nested empty one
    EXPECT_EQ(stack.groupIdentifier(), "Named");
}
