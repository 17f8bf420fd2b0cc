// Commands: an undoable change expressed as an object that knows how to perform, undo and
// redo itself, and the command manager that runs commands one at a time.
//
// Applications subclass KQUCommand and hand instances to KQUCommandManager::performCommand().
// The manager performs the command, registers it with its undo manager (any
// KQUUndoManagerProtocol, normally a KQUUndoManager) so that Undo and Redo reach it, and
// names the undo action after the command. Undoing calls the command's undo() and
// registers its redo; redoing calls redo() and registers its undo, so a command travels
// between the two stacks for as long as the user undoes and redoes, its name with it.
//
//     auto commands = std::make_shared<KQUCommandManager>(undoManager);
//     commands->performCommand(std::make_shared<BoldCommand>(text, range));  // "Undo Bold"
//
// Ownership: the manager retains its undo manager and the command being run; the undo
// records retain the command and refer to the command manager weakly. A command manager
// that goes away takes its undo actions with it. A command's target is not retained.
//
// Errors: running a command inside another through the same manager is an assertion
// failure, after which the inner command runs anyway. When perform(), undo() or redo()
// throws, the manager is unlocked, undo registration is enabled again, the current
// command is what it was before, and the exception passes. Main thread only: the lock is
// a re-entrancy guard, not a thread lock.
#pragma once

#include <memory>
#include <string>

#include "kqutility/undo/KQUUndoManagerProtocol.h"

namespace kqu {

class KQUCommand {
public:
    explicit KQUCommand(std::string name) : mName(std::move(name)) {}
    template <class T>
    KQUCommand(std::string name, const std::shared_ptr<T>& target)
        : mName(std::move(name)), mTarget(std::const_pointer_cast<std::remove_cv_t<T>>(target)) {}
    virtual ~KQUCommand() = default;
    KQUCommand(const KQUCommand&) = delete;
    KQUCommand& operator=(const KQUCommand&) = delete;

    const std::string& name() const { return mName; }
    void setName(std::string name) { mName = std::move(name); }
    // The object the command works on, while it exists.
    std::shared_ptr<void> target() const { return mTarget.lock(); }
    // The target as the type the subclass gave it.
    template <class T>
    std::shared_ptr<T> targetAs() const {
        return std::static_pointer_cast<T>(mTarget.lock());
    }
    virtual std::string description() const { return mName; }

    // To be overridden; the base versions are assertion failures that do nothing.
    virtual void perform();
    virtual void undo();
    virtual void redo();

    // Policies, with the base answers.
    virtual bool registersUndo() const { return true; }
    virtual bool shouldRegisterUndoForCommand() const { return true; }
    virtual bool commandManagerShouldRegisterUndoForCommand() const { return true; }
    virtual bool commandManagerShouldCallWillPerformCommandForPerform() const { return true; }
    virtual bool commandManagerShouldCallDidPerformCommandForPerform() const { return true; }
    virtual bool shouldSetActionName() const { return true; }
    virtual bool shouldClearUndoStackAfterCommand() const { return false; }
    virtual bool isCheckingWithHost() const { return false; }
    // Called around perform, undo and redo.
    virtual void willPerformCommand() {}
    virtual void didPerformCommand() {}

private:
    std::string mName;
    std::weak_ptr<void> mTarget;
};

class KQUCommandManager {
public:
    using CommandSelector = void (KQUCommandManager::*)(const std::shared_ptr<KQUCommand>&);

    explicit KQUCommandManager(std::shared_ptr<KQUUndoManagerProtocol> undoManager);
    // Removes the undo actions that name this manager.
    ~KQUCommandManager();
    KQUCommandManager(const KQUCommandManager&) = delete;
    KQUCommandManager& operator=(const KQUCommandManager&) = delete;

    const std::shared_ptr<KQUUndoManagerProtocol>& undoManager() const { return mUndoManager; }

    // Runs command undoably when its registersUndo() says so.
    void performCommand(const std::shared_ptr<KQUCommand>& command);
    // Undoable: perform, then register undoCommand() for it (as the command's policies
    // allow). Not undoable: perform with undo registration disabled, so that nothing the
    // command registers is kept. Then unlock, didPerformCommand() and clear the current
    // command, unless the command says the manager should not (it then stays current and
    // the manager locked until unlock() and clearCurrentCommand()).
    void performCommand(const std::shared_ptr<KQUCommand>& command, bool undoable);
    // The calls that the undo records make.
    void undoCommand(const std::shared_ptr<KQUCommand>& command);
    void redoCommand(const std::shared_ptr<KQUCommand>& command);
    // Registers selector(command) on this manager and names the undo action after the
    // command (when it has a name and shouldSetActionName()).
    void addCommandToUndoStack(const std::shared_ptr<KQUCommand>& command, CommandSelector selector);
    // Undo or redo a command, registering the opposite call for it.
    void replayCommand(const std::shared_ptr<KQUCommand>& command, void (KQUCommand::*replay)(), CommandSelector opposite);

    const std::shared_ptr<KQUCommand>& currentCommand() const { return mCurrentCommand; }
    // Logs "Changing current command from <old> to <new>" (informational) when replacing one.
    void setCurrentCommand(std::shared_ptr<KQUCommand> command);
    void clearCurrentCommand() { mCurrentCommand.reset(); }
    // nullptr is an assertion failure ("Must provide a real command to -[KQUCommandManager
    // isCurrentCommand:]").
    bool isCurrentCommand(const KQUCommand* command) const;

    void lock() { mLock = true; }
    void unlock() { mLock = false; }
    bool isLocked() const { return mLock; }

private:
    void reportNesting() const;

    std::shared_ptr<KQUUndoManagerProtocol> mUndoManager;
    bool mLock = false;
    std::shared_ptr<KQUCommand> mCurrentCommand;
    KQUUndoTargetAnchor mAnchor;
};

}  // namespace kqu
