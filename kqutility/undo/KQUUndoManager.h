// The undo manager of a document.
//
// It keeps two stacks of undo records (KQUUndoStack): actions to undo and actions to redo.
// Every change registers one or more recorded calls; calls are grouped, one group per user
// action, and undo replays the newest group, whose calls register their inverses on the
// redo stack (and redo the other way round). On top of that it offers:
//   - nested groups (beginUndoGrouping/endUndoGrouping) and automatic per-event groups:
//     with groupsByEvent() (the default) the first registration of an event opens a group
//     that closes at the end of the event (the host calls KQUEndOfEvent(), or, after
//     setEndsTopLevelGroupingsAfterRunLoopIterations(true), the run loop's next iteration
//     does);
//   - action names kept in the groups, and the menu titles made from them;
//   - a process-wide pending action name for code that does not know the manager;
//   - coalescing: merging the open group into the previous one (typing);
//   - undo sessions (KQUUndoSession.h).
// It posts the notifications named in KQUUndoManagerProtocol.h to the default
// notification centre with notificationObject() as the object.
//
// The active stack is the redo stack while undoing and the undo stack at all other times;
// registrations, groups and action names go to it.
//
// Errors: misuse of the nesting rules throws NSInternalInconsistencyException with the
// texts below; misuse of sessions and coalescing is an assertion failure after which the
// call does nothing. An exception from an action being undone or redone passes to the
// caller after the manager has returned to its normal state (the replay group closed, the
// undoing/redoing flags and the current manager cleared).
//
// Ownership and threads: records hold their targets weakly (a target that has gone is
// skipped). The manager may live anywhere (it hands out lifetimeHandle() where a weak
// reference to it is needed). It belongs to one thread, normally the main thread; the
// process-wide state (the pending action name, the managers awaiting the end of the event)
// is guarded so that managers of different threads do not disturb each other, and the
// current manager is per thread. Destroying a manager never throws and cancels the closing
// still scheduled for it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQURunLoop.h"
#include "kqutility/undo/KQUUndoManagerProtocol.h"
#include "kqutility/undo/KQUUndoBoxedCall.h"
#include "kqutility/undo/KQUUndoSession.h"
#include "kqutility/undo/KQUUndoStack.h"

namespace kqu {

// Everything a manager keeps besides the coalescing state.
struct KQUUndoData {
    std::shared_ptr<KQUUndoSession> mPendingSession;
    std::shared_ptr<KQUUndoSession> mCurrentSession;
    KQUUndoStack mUndoStack;
    KQUUndoStack mRedoStack;
    std::vector<std::string> mRunLoopModes{NSDefaultRunLoopMode};
    int mDisabled = 0;
    struct Flags {
        uint32_t undoing : 1;
        uint32_t redoing : 1;
        uint32_t registeredForCallback : 1;
        uint32_t postingCheckpointNotification : 1;
        uint32_t groupsByEvent : 1;
        uint32_t reserved : 27;
    } mFlags{0, 0, 0, 0, 1, 0};
    // The target named by prepareWithInvocationTarget().
    KQUUndoTargetRef mTarget;
    // The run-loop perform that closes the automatic group, when one is scheduled.
    std::weak_ptr<KQURunLoop> mScheduledRunLoop;
    KQURunLoop::PerformToken mScheduledPerform = 0;
};

class KQUUndoManager : public KQUUndoManagerProtocol {
public:
    KQUUndoManager();
    ~KQUUndoManager() override;
    KQUUndoManager(const KQUUndoManager&) = delete;
    KQUUndoManager& operator=(const KQUUndoManager&) = delete;

    // The manager replaying a record on this thread at this moment, or nullptr.
    static KQUUndoManager* currentUndoManager();
    static void setCurrentUndoManager(KQUUndoManager* manager);

    // A pointer to this manager that expires (as a std::weak_ptr) when the manager is
    // destroyed. Holding it does not keep the manager alive.
    std::shared_ptr<KQUUndoManager> lifetimeHandle() { return mAnchor.handle(this); }

    // --- Registration -------------------------------------------------------------------
    using KQUUndoManagerProtocol::registerUndoWithTarget;
    void registerUndoCall(KQUUndoCall call) override;
    KQUUndoManagerProtocol& prepareWithInvocationTarget(KQUUndoTargetRef target) override;
    // Throws "<sel>: KQUUndoManager 0x... received forwarded invocation while invocation
    // target is nil. Call prepareWithInvocationTarget: before invoking <selector>" when no
    // target was prepared.
    void forwardInvocationCall(KQUUndoCall call) override;
    // Records target.performSelectorWithArguments(selector, converted arguments); see
    // KQUUndoBoxedCall.h for the conversions and their errors.
    void registerUndoWithTarget(const std::shared_ptr<KQUUndoBoxedTarget>& target, std::string_view selector,
                                std::span<const KQUUndoBoxedArgument> arguments);

    void disableUndoRegistration() override;
    // Throws "... enableUndoRegistration may only be invoked with matching call to
    // disableUndoRegistration\n" when registration is not disabled.
    void enableUndoRegistration() override;
    bool isUndoRegistrationEnabled() const override { return mUndoData->mDisabled == 0; }

    // --- Groups and names ---------------------------------------------------------------
    void beginUndoGrouping() override;
    // Throws "... endUndoGrouping called with no matching begin\n" with no group open.
    void endUndoGrouping() override;
    int groupingLevel() const override { return static_cast<int>(activeStack().nestingLevel()); }
    bool groupsByEvent() const override { return mUndoData->mFlags.groupsByEvent; }
    void setGroupsByEvent(bool groupsByEvent) override { mUndoData->mFlags.groupsByEvent = groupsByEvent; }
    std::vector<std::string> runLoopModes() const override { return mUndoData->mRunLoopModes; }
    void setRunLoopModes(std::vector<std::string> modes) override {
        mUndoData->mRunLoopModes = std::move(modes);
    }
    uint32_t levelsOfUndo() const override { return mUndoData->mUndoStack.max(); }
    void setLevelsOfUndo(uint32_t levels) override { mUndoData->mUndoStack.setMax(levels); }
    // Closes the automatic groups of every manager (assertion failure unless this one's
    // grouping level is 1).
    void endTopLevelGroups();

    // Names the open top-level group of the active stack (nothing while registration is
    // disabled). Throws "... must begin a group before registering undo\n" with no group.
    void setActionName(std::string_view name) override;
    std::string undoActionName() const override;
    std::string redoActionName() const override;

    static std::optional<std::string> pendingActionName();
    static void setPendingActionName(std::optional<std::string> name);

    // --- Undo and redo ------------------------------------------------------------------
    // Closes the automatic group of the current event first. Throws "... undo was called
    // with too many nested undo groups" while other groups are open.
    void undo() override;
    void undoNestedGroup() override;
    void redo() override;
    bool canUndo() override { return mUndoData->mUndoStack.count() != 0; }
    bool canRedo() override;
    bool isUndoing() const override { return mUndoData->mFlags.undoing; }
    bool isRedoing() const override { return mUndoData->mFlags.redoing; }
    bool isUndoingOrRedoing() const override { return isUndoing() || isRedoing(); }
    // Empties both stacks and returns to the initial state (registration enabled, no
    // session, no automatic group).
    void removeAllActions() override;
    void removeAllActionsWithTarget(const void* target) override;

    // --- Coalescing ---------------------------------------------------------------------
    void collapseCurrentGroupIntoPriorGroup();
    void disableCoalescingForCurrentEvent() { mDidDisableCoalescingForCurrentEvent = true; }
    bool didDisableCoalescingForCurrentEvent() const { return mDidDisableCoalescingForCurrentEvent; }
    uint32_t coalescingUndoGroupCount() const { return static_cast<uint32_t>(mDidCoalesceUndoGroupCount); }
    // True when the newest record on the undo stack (passing over end marks) is a
    // one-argument call to target whose argument is text: typing may be merged into it.
    bool shouldCoalesceTypingForText(const void* text, const void* target) const;

    // --- Sessions -----------------------------------------------------------------------
    void beginUndoSession(uint32_t actionFlags, std::shared_ptr<KQUUndoSessionDelegate> delegate,
                          std::shared_ptr<void> targetCookie);
    void endUndoSession();
    void cancelUndoSession();
    void clearAnyPendingUndoSession() { mUndoData->mPendingSession.reset(); }

    // --- Used by the stacks, sessions and the library itself -----------------------------
    // Takes a record into the active stack (or drops it while registration is disabled).
    void registerUndoObject(std::unique_ptr<KQUUndoObject> record);
    void prepareEventGrouping();
    const std::shared_ptr<KQUUndoSession>& pendingSession() const { return mUndoData->mPendingSession; }
    void setPendingSession(std::shared_ptr<KQUUndoSession> session) {
        mUndoData->mPendingSession = std::move(session);
    }
    const std::shared_ptr<KQUUndoSession>& currentSession() const { return mUndoData->mCurrentSession; }
    void setCurrentSession(std::shared_ptr<KQUUndoSession> session) {
        mUndoData->mCurrentSession = std::move(session);
    }
    void registerEndUndoSession();
    void setGroupIdentifier(std::optional<std::string> identifier);
    void setPendingActionNameForUndo(const std::string& name);
    void processPendingData();
    // Closes the automatic group of the event (when groupsByEvent() and one is open),
    // whether or not registration is enabled.
    void processEndOfEventNotification();
    void didCoalesceUndoGroup() { ++mDidCoalesceUndoGroupCount; }
    void postCheckpointNotification();
    KQUUndoStack& undoStack() { return mUndoData->mUndoStack; }
    KQUUndoStack& redoStack() { return mUndoData->mRedoStack; }
    const KQUUndoStack& undoStack() const { return mUndoData->mUndoStack; }
    const KQUUndoStack& redoStack() const { return mUndoData->mRedoStack; }
    std::string description() const;

    // Closes the automatic groups of every manager waiting for the end of the event. Run
    // by KQUEndOfEvent(); installed when the first manager is made.
    static void endTopLevelGroupings();
    static void setEndsTopLevelGroupingsAfterRunLoopIterations(bool flag);
    static bool endsTopLevelGroupingsAfterRunLoopIterations();

protected:
    // Makes the session object for beginUndoSession(); subclasses may make their own.
    virtual std::shared_ptr<KQUUndoSession> makeUndoSession(uint32_t actionFlags,
                                                            std::shared_ptr<KQUUndoSessionDelegate> delegate,
                                                            std::shared_ptr<void> targetCookie);

private:
    KQUUndoStack& activeStack() {
        return mUndoData->mFlags.undoing ? mUndoData->mRedoStack : mUndoData->mUndoStack;
    }
    const KQUUndoStack& activeStack() const {
        return mUndoData->mFlags.undoing ? mUndoData->mRedoStack : mUndoData->mUndoStack;
    }
    void endGrouping(bool evenIfDisabled);
    void closeAutomaticGroup();
    void scheduleEndOfEvent();
    void cancelScheduledEndOfEvent() noexcept;
    void replayTopGroup(KQUUndoStack& source, KQUUndoStack& destination, bool redoing);
    void post(const char* name);
    std::string stateError(std::string_view selector, std::string_view what) const;

    bool mDidDisableCoalescingForCurrentEvent = false;
    std::unique_ptr<KQUUndoData> mUndoData;
    int mDidCoalesceUndoGroupCount = 0;
    // Bumped by removeAllActions(), so that a replay under way sees the stacks were reset.
    uint64_t mGeneration = 0;
    KQUUndoTargetAnchor mAnchor;
};

}  // namespace kqu
