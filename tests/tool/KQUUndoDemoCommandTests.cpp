#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace {

std::string kqu(const std::string& arguments, int* status) {
    std::string output;
    *status = kqu::test::runCommand(std::string(KQU_TOOL_PATH) + " " + arguments + " 2>&1", &output);
    return output;
}

TEST(KquUndoDemo, TypingMergesCommandsAlternateAndTheMenusFollow) {
    int status;
    EXPECT_EQ(kqu("undo-demo", &status),
              "step             text                     undo menu            redo menu\n"
              "type:Hello       \"Hello\"                  Undo Typing          Redo\n"
              "type: world      \"Hello world\"            Undo Typing          Redo\n"
              "upper            \"HELLO WORLD\"            Undo Uppercase       Redo\n"
              "undo             \"Hello world\"            Undo Typing          Redo Uppercase\n"
              "undo             \"\"                       Undo                 Redo Typing\n"
              "redo             \"Hello world\"            Undo Typing          Redo Uppercase\n"
              "stop             \"Hello world\"            Undo Typing          Redo Uppercase\n"
              "type:!           \"Hello world!\"           Undo Typing          Redo\n");
    EXPECT_EQ(status, 0);
}

TEST(KquUndoDemo, StoppedTypingStartsANewUndoableRun) {
    int status;
    std::string out = kqu("undo-demo type:ab stop type:cd undo redo undo undo", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("undo             \"ab\"                     Undo Typing          Redo Typing\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("undo             \"\"                       Undo                 Redo Typing\n"),
              std::string::npos)
        << out;
}

TEST(KquUndoDemo, BadStepsAreOneLineErrors) {
    int status;
    std::string out = kqu("undo-demo redo", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("kqu: nothing to redo\n"), std::string::npos) << out;
    out = kqu("undo-demo jump", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("kqu: unknown step \"jump\"; use type:TEXT, stop, upper, undo or redo\n"),
              std::string::npos);
}

}  // namespace
