#include <stdexcept>

#include <gtest/gtest.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/undo/KQUCommand.h"
#include "support/KQUTestSupport.h"
#include "undo/KQUUndoTestSupport.h"

namespace kqu {
namespace {

// Writes each call it receives into calls ("w" will, "p" perform, "u" undo, "r" redo, "d" did) and lets
// each test set its policies.
class CountingCommand : public KQUCommand {
public:
    explicit CountingCommand(std::string name, KQUCommandManager* manager = nullptr)
        : KQUCommand(std::move(name)), mManager(manager) {}

    void perform() override {
        calls += "p";
        if (onPerform) onPerform();
    }
    void undo() override {
        calls += "u";
        if (failUndo) throw std::runtime_error("undo failed");
    }
    void redo() override { calls += "r"; }
    void willPerformCommand() override {
        calls += " w";
        currentDuringWill = mManager ? mManager->currentCommand().get() : nullptr;
    }
    void didPerformCommand() override { calls += "d"; }
    bool shouldClearUndoStackAfterCommand() const override { return clearsUndo; }
    bool commandManagerShouldCallDidPerformCommandForPerform() const override { return callsDid; }
    bool shouldSetActionName() const override { return setsName; }
    bool registersUndo() const override { return undoable; }

    std::string calls;
    bool clearsUndo = false, callsDid = true, setsName = true, undoable = true, failUndo = false;
    std::function<void()> onPerform;
    const KQUCommand* currentDuringWill = reinterpret_cast<const KQUCommand*>(1);

private:
    KQUCommandManager* mManager;
};

class KQUCommandTest : public test::UndoTest {
protected:
    std::shared_ptr<CountingCommand> command(std::string name) {
        return std::make_shared<CountingCommand>(std::move(name), commands.get());
    }

    std::shared_ptr<KQUUndoManager> undo = std::make_shared<KQUUndoManager>();
    std::unique_ptr<KQUCommandManager> commands = std::make_unique<KQUCommandManager>(undo);
};

TEST_F(KQUCommandTest, ACommandAlternatesBetweenTheStacksReachingItselfOnceEachTime) {
    auto bold = command("Bold");
    undo->beginUndoGrouping();
    commands->performCommand(bold);
    EXPECT_EQ(bold->currentDuringWill, nullptr);  // none yet while willPerformCommand runs
    EXPECT_EQ(test::shape(undo->undoStack()),
              "[Bold [ .");  // automatic group (named), explicit group, record
    EXPECT_EQ(undo->undoActionName(), "Bold");
    undo->endUndoGrouping();
    KQUEndOfEvent();
    EXPECT_FALSE(commands->isLocked());
    EXPECT_EQ(commands->currentCommand(), nullptr);

    undo->undo();
    EXPECT_EQ(undo->redoMenuItemTitle(), "Redo Bold");
    EXPECT_EQ(test::shape(undo->redoStack()), "[Bold . ]");
    undo->redo();
    undo->undo();
    undo->redo();
    EXPECT_EQ(undo->undoMenuItemTitle(), "Undo Bold");
    EXPECT_FALSE(commands->isLocked());
    EXPECT_TRUE(test::stacksAreConsistent(*undo));
    EXPECT_EQ(bold->calls, " wpd wud wrd wud wrd");
}

TEST_F(KQUCommandTest, PoliciesClearTheStacksKeepTheManagerLockedOrSkipTheName) {
    auto first = command("First");
    commands->performCommand(first);
    KQUEndOfEvent();
    undo->undo();
    auto clearing = command("Revert");
    clearing->clearsUndo = true;
    commands->performCommand(clearing);
    EXPECT_FALSE(undo->canUndo());
    EXPECT_FALSE(undo->canRedo());

    auto unnamed = command("Hidden");
    unnamed->setsName = false;
    commands->performCommand(unnamed);
    KQUEndOfEvent();
    EXPECT_TRUE(undo->canUndo());
    EXPECT_EQ(undo->undoActionName(), "");

    auto held = command("Drag");
    held->callsDid = false;
    commands->performCommand(held);
    EXPECT_TRUE(commands->isLocked());
    EXPECT_TRUE(commands->isCurrentCommand(held.get()));
    EXPECT_EQ(held->calls, " wp");
    commands->unlock();
    commands->clearCurrentCommand();
    EXPECT_EQ(commands->currentCommand(), nullptr);
}

TEST_F(KQUCommandTest, NestingIsReportedAndThenCarriedOut) {
    auto inner = command("Inner");
    auto outer = command("Outer");
    outer->onPerform = [&] { commands->performCommand(inner); };
    EXPECT_ASSERTION_FAILURE(commands->performCommand(outer));
    // The failed check threw (as checks do in tests): nothing is left locked or current.
    EXPECT_FALSE(commands->isLocked());
    EXPECT_EQ(commands->currentCommand(), nullptr);

    test::ContinueAfterAssertions carryOn;
    test::ScopedDefault level(KQULOG_LEVEL, "informational");
    test::LogCapture log;
    commands->performCommand(outer);
    EXPECT_EQ(inner->calls, " w wpd");  // the first, refused, attempt stopped after willPerformCommand
    EXPECT_EQ(outer->calls, " wp wpd");
    EXPECT_TRUE(
        log.contains("Cannot nest commands through the command manager.  You may allocate commands and drive "
                     "them locally if you wish."));
    EXPECT_TRUE(log.contains("Changing current command from Outer to Inner"));
    EXPECT_FALSE(commands->isLocked());
}

TEST_F(KQUCommandTest, AFailingCommandLeavesTheManagersUnlockedAndRegistrationEnabled) {
    auto failing = command("Fail");
    failing->onPerform = [] { throw std::runtime_error("perform failed"); };
    EXPECT_THROW(commands->performCommand(failing, false), std::runtime_error);
    EXPECT_TRUE(undo->isUndoRegistrationEnabled());
    EXPECT_FALSE(commands->isLocked());
    EXPECT_EQ(commands->currentCommand(), nullptr);
    EXPECT_THROW(commands->performCommand(failing, true), std::runtime_error);
    EXPECT_FALSE(commands->isLocked());

    // The next command runs normally, without "Cannot nest commands".
    auto next = command("Next");
    commands->performCommand(next);
    KQUEndOfEvent();
    next->failUndo = true;
    EXPECT_THROW(undo->undo(), std::runtime_error);
    EXPECT_FALSE(commands->isLocked());
    EXPECT_EQ(commands->currentCommand(), nullptr);
    EXPECT_FALSE(undo->isUndoing());
    EXPECT_TRUE(test::stacksAreConsistent(*undo));
}

TEST_F(KQUCommandTest, TheBaseCommandAndMisuseAreReported) {
    auto base = std::make_shared<KQUCommand>("Base");
    EXPECT_KQU_THROW(base->redo(), "AssertionFailure", "");
    test::ScopedDefault level(KQULOG_LEVEL, "error");
    test::LogCapture log;
    {
        test::ContinueAfterAssertions carryOn;
        base->perform();
        base->undo();
        EXPECT_FALSE(commands->isCurrentCommand(nullptr) && commands->currentCommand());
    }
    EXPECT_TRUE(log.contains("KQUCommand subclass must implement perform"));
    EXPECT_TRUE(log.contains("KQUCommand subclasses must implement undo"));
    EXPECT_TRUE(log.contains("Must provide a real command to -[KQUCommandManager isCurrentCommand:]"));
    EXPECT_KQU_THROW(commands->performCommand(nullptr), NSInvalidArgumentException, "");
}

}  // namespace
}  // namespace kqu
