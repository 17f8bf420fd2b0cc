// kqu undo-demo: typing merges into one undoable run, commands alternate between the stacks, menus follow.
#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquUndoDemo, TypingMergesCommandsAlternateAndTheMenusFollow) {
    expectRuns("undo-demo", {{"", R"(step             text                     undo menu            redo menu
type:Hello       "Hello"                  Undo Typing          Redo
type: world      "Hello world"            Undo Typing          Redo
upper            "HELLO WORLD"            Undo Uppercase       Redo
undo             "Hello world"            Undo Typing          Redo Uppercase
undo             ""                       Undo                 Redo Typing
redo             "Hello world"            Undo Typing          Redo Uppercase
stop             "Hello world"            Undo Typing          Redo Uppercase
type:!           "Hello world!"           Undo Typing          Redo
)",
                              0}});
    expectRuns("undo-demo",
               {{"redo", "kqu: nothing to redo", 1},
                {"jump", "kqu: unknown step \"jump\"; use type:TEXT, stop, upper, undo or redo", 1}},
               Compare::FirstLine);
}

}  // namespace
}  // namespace kqu::test
