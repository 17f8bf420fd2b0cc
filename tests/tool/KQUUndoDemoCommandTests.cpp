// kqu undo-demo: typing merges into one undoable run, commands alternate between the
// stacks, and the menu titles follow.
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

TEST(KquUndoDemo, TypingMergesCommandsAlternateAndTheMenusFollow) {
    auto run = runKqu("undo-demo");
    EXPECT_EQ(run.output,
              "step             text                     undo menu            redo menu\n"
              "type:Hello       \"Hello\"                  Undo Typing          Redo\n"
              "type: world      \"Hello world\"            Undo Typing          Redo\n"
              "upper            \"HELLO WORLD\"            Undo Uppercase       Redo\n"
              "undo             \"Hello world\"            Undo Typing          Redo Uppercase\n"
              "undo             \"\"                       Undo                 Redo Typing\n"
              "redo             \"Hello world\"            Undo Typing          Redo Uppercase\n"
              "stop             \"Hello world\"            Undo Typing          Redo Uppercase\n"
              "type:!           \"Hello world!\"           Undo Typing          Redo\n");
    EXPECT_EQ(run.status, 0);

}

TEST(KquUndoDemo, BadStepsAreOneLineErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"redo", "kqu: nothing to redo\n"},
        {"jump", "kqu: unknown step \"jump\"; use type:TEXT, stop, upper, undo or redo\n"}};
    for (auto [step, message] : cases) {
        auto run = runKqu(std::string("undo-demo ") + step);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    }
}

}  // namespace
}  // namespace kqu::test
