#include "kqutility/undo/KQUCommand.h"

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

void KQUCommand::perform() {
    KQU_OBJECT_ASSERT_FAILURE("KQUCommand subclass must implement perform");
}
void KQUCommand::undo() {
    KQU_OBJECT_ASSERT_FAILURE("KQUCommand subclasses must implement undo");
}
void KQUCommand::redo() {
    KQU_OBJECT_ASSERT_FAILURE("KQUCommand subclasses must implement redo");
}

namespace {

// Puts the manager's lock and current command back as they were when a command started,
// should the command throw.
class CommandStateRestorer {
public:
    CommandStateRestorer(bool& lock, std::shared_ptr<KQUCommand>& current)
        : mLock(lock), mCurrent(current), mWasLocked(lock), mPreviousCommand(current) {}
    ~CommandStateRestorer() {
        if (mArmed) {
            mLock = mWasLocked;
            mCurrent = std::move(mPreviousCommand);
        }
    }
    CommandStateRestorer(const CommandStateRestorer&) = delete;
    CommandStateRestorer& operator=(const CommandStateRestorer&) = delete;
    void dismiss() { mArmed = false; }

private:
    bool& mLock;
    std::shared_ptr<KQUCommand>& mCurrent;
    bool mWasLocked;
    std::shared_ptr<KQUCommand> mPreviousCommand;
    bool mArmed = true;
};

KQUSelectorName selectorName(KQUCommandManager::CommandSelector selector) {
    if (selector == &KQUCommandManager::undoCommand) return "undoCommand:";
    if (selector == &KQUCommandManager::redoCommand) return "redoCommand:";
    return "commandManagerCall:";
}

}  // namespace

KQUCommandManager::KQUCommandManager(std::shared_ptr<KQUUndoManagerProtocol> undoManager)
    : mUndoManager(std::move(undoManager)) {
    if (!mUndoManager)
        throw KQUException(NSInvalidArgumentException, "A command manager needs an undo manager");
}

KQUCommandManager::~KQUCommandManager() {
    try {
        mUndoManager->removeAllActionsWithTarget(this);
    } catch (const std::exception& e) {
        KQULogError("Could not remove the undo actions of a command manager: {}", e.what());
    } catch (...) {
        KQULogError("Could not remove the undo actions of a command manager");
    }
}

void KQUCommandManager::reportNesting() const {
    if (mLock)
        KQU_OBJECT_ASSERT_FAILURE(
            "Cannot nest commands through the command manager.  You may allocate commands and drive them "
            "locally if "
            "you wish.");
}

void KQUCommandManager::performCommand(const std::shared_ptr<KQUCommand>& command) {
    if (!command)
        throw KQUException(NSInvalidArgumentException,
                           "-[KQUCommandManager performCommand:] needs a command");
    performCommand(command, command->registersUndo());
}

void KQUCommandManager::performCommand(const std::shared_ptr<KQUCommand>& command, bool undoable) {
    if (!command)
        throw KQUException(NSInvalidArgumentException,
                           "-[KQUCommandManager performCommand:undoable:] needs a command");
    CommandStateRestorer restorer(mLock, mCurrentCommand);
    setCurrentCommand(command);
    const bool callsWill = command->commandManagerShouldCallWillPerformCommandForPerform();
    if (callsWill) {
        clearCurrentCommand();
        command->willPerformCommand();
        setCurrentCommand(command);
    }
    reportNesting();
    if (callsWill) lock();

    if (undoable) {
        command->perform();
        if (command->shouldRegisterUndoForCommand() && command->commandManagerShouldRegisterUndoForCommand())
            addCommandToUndoStack(command, &KQUCommandManager::undoCommand);
    } else {
        mUndoManager->disableUndoRegistration();
        try {
            command->perform();
        } catch (...) {
            if (!mUndoManager->isUndoRegistrationEnabled()) mUndoManager->enableUndoRegistration();
            throw;
        }
        // A command that removed all actions has already enabled registration again.
        if (!mUndoManager->isUndoRegistrationEnabled()) mUndoManager->enableUndoRegistration();
    }

    if (command->commandManagerShouldCallDidPerformCommandForPerform()) {
        unlock();
        command->didPerformCommand();
        if (command->shouldClearUndoStackAfterCommand()) mUndoManager->removeAllActions();
        clearCurrentCommand();
    }
    restorer.dismiss();
}

void KQUCommandManager::undoCommand(const std::shared_ptr<KQUCommand>& command) {
    // Lands on the redo stack: the undo manager is undoing.
    replayCommand(command, &KQUCommand::undo, &KQUCommandManager::redoCommand);
}

void KQUCommandManager::redoCommand(const std::shared_ptr<KQUCommand>& command) {
    replayCommand(command, &KQUCommand::redo, &KQUCommandManager::undoCommand);
}

void KQUCommandManager::replayCommand(const std::shared_ptr<KQUCommand>& command, void (KQUCommand::*replay)(),
                                      CommandSelector opposite) {
    if (!command) return;
    CommandStateRestorer restorer(mLock, mCurrentCommand);
    command->willPerformCommand();
    setCurrentCommand(command);
    reportNesting();
    lock();
    ((*command).*replay)();
    addCommandToUndoStack(command, opposite);
    unlock();
    command->didPerformCommand();
    clearCurrentCommand();
    restorer.dismiss();
}

void KQUCommandManager::addCommandToUndoStack(const std::shared_ptr<KQUCommand>& command,
                                              CommandSelector selector) {
    mUndoManager->registerUndoWithTarget(mAnchor.handle(this), selectorName(selector), command, selector);
    if (!command->name().empty() && command->shouldSetActionName())
        mUndoManager->setActionName(command->name());
}

void KQUCommandManager::setCurrentCommand(std::shared_ptr<KQUCommand> command) {
    if (mCurrentCommand && command && mCurrentCommand != command)
        KQULogInfo("Changing current command from {} to {}", mCurrentCommand->description(),
                   command->description());
    mCurrentCommand = std::move(command);
}

bool KQUCommandManager::isCurrentCommand(const KQUCommand* command) const {
    if (!command)
        KQU_OBJECT_ASSERT_FAILURE("Must provide a real command to -[KQUCommandManager isCurrentCommand:]");
    return command == mCurrentCommand.get();
}

}  // namespace kqu
