#include "kqutility/undo/KQUUndoManager.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUNotificationCenter.h"
#include "kqutility/foundation/KQUScopeExit.h"

namespace kqu {

namespace {

constexpr const char* kClassName = "KQUUndoManager";
constexpr uint32_t kEndOfEventOrder = 350000;

thread_local KQUUndoManager* sCurrentUndoManager = nullptr;
std::atomic<bool> sEndsTopLevelGroupingsAfterRunLoopIterations{false};

struct PendingActionName {
    std::mutex lock;
    std::optional<std::string> name;
};
PendingActionName& pendingName() {
    static PendingActionName sPending;
    return sPending;
}

// The managers whose automatic group closes at the end of the event. They are held
// without ownership: a manager takes itself out when it is destroyed, from the waiting
// list and from the list being worked through.
struct ManagersNeedingTopLevelGroupingsEnded {
    std::mutex lock;
    std::vector<KQUUndoManager*> waiting;
    std::vector<KQUUndoManager*> inFlight;
};
ManagersNeedingTopLevelGroupingsEnded& sUndoManagersNeedingTopLevelGroupingsEnded() {
    static ManagersNeedingTopLevelGroupingsEnded sManagers;
    return sManagers;
}

void installEndOfEventHandler() {
    static std::once_flag sOnce;
    std::call_once(sOnce, [] { KQUAddEndOfEventHandler([] { KQUUndoManager::endTopLevelGroupings(); }); });
}

// Clears the undoing or redoing flag however the replay ends.
class ReplayFlagScope {
public:
    ReplayFlagScope(KQUUndoData& data, bool redoing) : mData(data), mRedoing(redoing) {
        if (mRedoing)
            mData.mFlags.redoing = 1;
        else
            mData.mFlags.undoing = 1;
    }
    ~ReplayFlagScope() {
        if (mRedoing)
            mData.mFlags.redoing = 0;
        else
            mData.mFlags.undoing = 0;
    }
    ReplayFlagScope(const ReplayFlagScope&) = delete;
    ReplayFlagScope& operator=(const ReplayFlagScope&) = delete;

private:
    KQUUndoData& mData;
    bool mRedoing;
};

}  // namespace

KQUUndoManager::KQUUndoManager() : mUndoData(std::make_unique<KQUUndoData>()) {
    installEndOfEventHandler();
    // Made now so that they outlive every manager (static objects are destroyed in the
    // reverse order of their making).
    pendingName();
    sUndoManagersNeedingTopLevelGroupingsEnded();
}

KQUUndoManager::~KQUUndoManager() {
    cancelScheduledEndOfEvent();
    if (sCurrentUndoManager == this) sCurrentUndoManager = nullptr;
}

KQUUndoManager* KQUUndoManager::currentUndoManager() {
    return sCurrentUndoManager;
}
void KQUUndoManager::setCurrentUndoManager(KQUUndoManager* manager) {
    sCurrentUndoManager = manager;
}

std::string KQUUndoManager::stateError(std::string_view selector, std::string_view what) const {
    return fmt::format("{}: {} {} is in invalid state, {}", selector, kClassName, detail::undoAddress(this),
                       what);
}

void KQUUndoManager::post(const char* name) {
    KQUNotificationCenter::defaultCenter().postNotificationName(name, notificationObject());
}

// --- Registration ---------------------------------------------------------------------

void KQUUndoManager::registerUndoObject(std::unique_ptr<KQUUndoObject> record) {
    KQUUndoData& d = *mUndoData;
    if (d.mDisabled > 0) return;
    if (!isUndoingOrRedoing()) d.mRedoStack.removeAllObjects();
    prepareEventGrouping();
    if (d.mPendingSession) {
        if (d.mCurrentSession)
            KQU_OBJECT_ASSERT_FAILURE("Current session should be nil - begin called without calling end.");
        std::shared_ptr<KQUUndoSession> pending = d.mPendingSession;
        pending->beginUndo(nullptr);
    }
    KQUUndoStack& active = activeStack();
    if (active.nestingLevel() == 0)
        throw KQUException(NSInternalInconsistencyException,
                           stateError("registerUndoObject:", "must begin a group before registering undo\n"));
    active.push(std::move(record));
}

void KQUUndoManager::registerUndoCall(KQUUndoCall call) {
    // Checked first so that a disabled manager does not even make the record.
    if (mUndoData->mDisabled > 0) return;
    registerUndoObject(KQUUndoInvocation::fromCall(std::move(call)));
}

KQUUndoManagerProtocol& KQUUndoManager::prepareWithInvocationTarget(KQUUndoTargetRef target) {
    mUndoData->mTarget = std::move(target);
    return *this;
}

void KQUUndoManager::forwardInvocationCall(KQUUndoCall call) {
    KQUUndoData& d = *mUndoData;
    if (!d.mTarget.identity)
        throw KQUException(
            NSInternalInconsistencyException,
            fmt::format("{}: {} {} received forwarded invocation while invocation target is nil. Call "
                        "prepareWithInvocationTarget: before invoking {}",
                        "forwardInvocation:", kClassName, detail::undoAddress(this), call.selector.view()));
    if (call.target.type && d.mTarget.type && *call.target.type != *d.mTarget.type)
        throw KQUException(
            NSInvalidArgumentException,
            fmt::format("The call {} expects a target of type {}, but the prepared target is a {}",
                        call.selector.view(), detail::demangledTypeName(*call.target.type),
                        detail::demangledTypeName(*d.mTarget.type)));
    call.target = std::move(d.mTarget);
    call.light = false;
    d.mTarget = {};
    registerUndoCall(std::move(call));
}

void KQUUndoManager::registerUndoWithTarget(const std::shared_ptr<KQUUndoBoxedTarget>& target,
                                            std::string_view selector,
                                            std::span<const KQUUndoBoxedArgument> arguments) {
    if (!target)
        throw KQUException(NSInvalidArgumentException,
                           "-registerUndoWithTarget:selector:arguments: needs a target");
    std::vector<KQUUndoCallArgument> converted = KQUConvertUndoBoxedArguments(*target, selector, arguments);
    KQUSelectorName name = KQUSelectorName::intern(selector);
    KQUUndoCall call;
    call.target = KQUUndoTargetRef(target);
    call.selector = name;
    call.action = [name, converted = std::move(converted)](void* t, const std::shared_ptr<void>&) {
        static_cast<KQUUndoBoxedTarget*>(t)->performSelectorWithArguments(name.view(), converted);
    };
    registerUndoCall(std::move(call));
}

void KQUUndoManager::disableUndoRegistration() {
    ++mUndoData->mDisabled;
}

void KQUUndoManager::enableUndoRegistration() {
    if (mUndoData->mDisabled == 0)
        throw KQUException(NSInternalInconsistencyException,
                           stateError("enableUndoRegistration",
                                      "enableUndoRegistration may only be invoked with matching call to "
                                      "disableUndoRegistration\n"));
    --mUndoData->mDisabled;
}

// --- Groups ---------------------------------------------------------------------------

void KQUUndoManager::prepareEventGrouping() {
    KQUUndoData& d = *mUndoData;
    if (!d.mFlags.groupsByEvent || d.mFlags.registeredForCallback || activeStack().nestingLevel() != 0)
        return;
    d.mFlags.registeredForCallback = 1;
    // Scheduled before the group opens, so that the group is closed even if an observer
    // of the opening throws.
    scheduleEndOfEvent();
    beginUndoGrouping();
}

void KQUUndoManager::scheduleEndOfEvent() {
    KQUUndoData& d = *mUndoData;
    if (sEndsTopLevelGroupingsAfterRunLoopIterations) {
        const std::shared_ptr<KQURunLoop>& runLoop = KQURunLoop::currentRunLoop();
        d.mScheduledRunLoop = runLoop;
        d.mScheduledPerform = runLoop->performAtOrder([this] { processEndOfEventNotification(); },
                                                      kEndOfEventOrder, d.mRunLoopModes);
    } else {
        auto& managers = sUndoManagersNeedingTopLevelGroupingsEnded();
        std::lock_guard guard(managers.lock);
        if (std::find(managers.waiting.begin(), managers.waiting.end(), this) == managers.waiting.end())
            managers.waiting.push_back(this);
    }
}

void KQUUndoManager::cancelScheduledEndOfEvent() noexcept {
    KQUUndoData& d = *mUndoData;
    try {
        if (auto runLoop = d.mScheduledRunLoop.lock()) runLoop->cancelPerform(d.mScheduledPerform);
        d.mScheduledRunLoop.reset();
        d.mScheduledPerform = 0;
        auto& managers = sUndoManagersNeedingTopLevelGroupingsEnded();
        std::lock_guard guard(managers.lock);
        std::erase(managers.waiting, this);
        std::erase(managers.inFlight, this);
    } catch (...) {
        // Only a failing mutex could get here; nothing is left that could call this manager.
    }
}

void KQUUndoManager::processEndOfEventNotification() {
    KQUUndoData& d = *mUndoData;
    if (!d.mFlags.groupsByEvent || !d.mFlags.registeredForCallback) return;
    closeAutomaticGroup();
}

void KQUUndoManager::closeAutomaticGroup() {
    KQUUndoData& d = *mUndoData;
    try {
        processPendingData();
    } catch (...) {
        d.mFlags.registeredForCallback = 0;
        cancelScheduledEndOfEvent();
        if (activeStack().nestingLevel() > 0) endGrouping(true);
        throw;
    }
    d.mFlags.registeredForCallback = 0;
    cancelScheduledEndOfEvent();
    // The automatic group ends even while registration is disabled: left open, every
    // later event would pile into it.
    if (activeStack().nestingLevel() > 0)
        endGrouping(true);
    else
        KQULogWarning("The automatic undo group of {} was closed by someone else", detail::undoAddress(this));
}

void KQUUndoManager::endTopLevelGroupings() {
    auto& managers = sUndoManagersNeedingTopLevelGroupingsEnded();
    {
        std::lock_guard guard(managers.lock);
        if (managers.waiting.empty() && managers.inFlight.empty()) return;
        managers.inFlight.insert(managers.inFlight.end(), managers.waiting.begin(), managers.waiting.end());
        managers.waiting.clear();
    }
    for (;;) {
        KQUUndoManager* manager;
        {
            std::lock_guard guard(managers.lock);
            if (managers.inFlight.empty()) return;
            manager = managers.inFlight.front();
            managers.inFlight.erase(managers.inFlight.begin());
        }
        manager->processEndOfEventNotification();
    }
}

void KQUUndoManager::setEndsTopLevelGroupingsAfterRunLoopIterations(bool flag) {
    sEndsTopLevelGroupingsAfterRunLoopIterations = flag;
}

bool KQUUndoManager::endsTopLevelGroupingsAfterRunLoopIterations() {
    return sEndsTopLevelGroupingsAfterRunLoopIterations;
}

void KQUUndoManager::endTopLevelGroups() {
    KQU_OBJECT_ASSERT(groupingLevel() == 1,
                      "Attempt to end top level undo groups, but our grouping level wasn't 1!");
    endTopLevelGroupings();
}

void KQUUndoManager::beginUndoGrouping() {
    KQUUndoData& d = *mUndoData;
    if (d.mDisabled > 0) return;
    bool forward = !isUndoingOrRedoing();
    if (forward) prepareEventGrouping();
    if (!(d.mFlags.groupsByEvent && activeStack().nestingLevel() == 0)) postCheckpointNotification();
    activeStack().markBegin();
    if (forward) post(NSUndoManagerDidOpenUndoGroupNotification);
}

void KQUUndoManager::endUndoGrouping() {
    endGrouping(false);
}

void KQUUndoManager::endGrouping(bool evenIfDisabled) {
    if (mUndoData->mDisabled > 0 && !evenIfDisabled) return;
    postCheckpointNotification();
    if (activeStack().nestingLevel() == 0)
        throw KQUException(NSInternalInconsistencyException,
                           stateError("endUndoGrouping", "endUndoGrouping called with no matching begin\n"));
    if (!isUndoingOrRedoing()) {
        post(NSUndoManagerWillCloseUndoGroupNotification);
        mDidCoalesceUndoGroupCount = 0;
    }
    activeStack().markEnd();
}

void KQUUndoManager::postCheckpointNotification() {
    KQUUndoData& d = *mUndoData;
    if (d.mFlags.postingCheckpointNotification) return;
    d.mFlags.postingCheckpointNotification = 1;
    KQUScopeExit done([&] { d.mFlags.postingCheckpointNotification = 0; });
    post(NSUndoManagerCheckpointNotification);
}

// --- Names ----------------------------------------------------------------------------

void KQUUndoManager::setActionName(std::string_view name) {
    if (mUndoData->mDisabled > 0) return;
    prepareEventGrouping();
    setGroupIdentifier(std::string(name));
}

void KQUUndoManager::setGroupIdentifier(std::optional<std::string> identifier) {
    KQUUndoStack& active = activeStack();
    if (active.nestingLevel() == 0)
        throw KQUException(NSInternalInconsistencyException,
                           stateError("setActionName:", "must begin a group before registering undo\n"));
    active.setGroupIdentifier(std::move(identifier));
}

std::string KQUUndoManager::undoActionName() const {
    return undoStack().groupIdentifier().value_or("");
}
std::string KQUUndoManager::redoActionName() const {
    return redoStack().groupIdentifier().value_or("");
}

std::optional<std::string> KQUUndoManager::pendingActionName() {
    auto& pending = pendingName();
    std::lock_guard guard(pending.lock);
    return pending.name;
}

void KQUUndoManager::setPendingActionName(std::optional<std::string> name) {
    auto& pending = pendingName();
    std::lock_guard guard(pending.lock);
    pending.name = std::move(name);
}

void KQUUndoManager::setPendingActionNameForUndo(const std::string& name) {
    KQU_OBJECT_ASSERT(isUndoingOrRedoing(), "Not to be called except from Undo.");
    setPendingActionName(name);
}

void KQUUndoManager::processPendingData() {
    mDidDisableCoalescingForCurrentEvent = false;
    std::optional<std::string> name;
    {
        auto& pending = pendingName();
        std::lock_guard guard(pending.lock);
        name = std::move(pending.name);
        pending.name.reset();
    }
    if (!name) return;
    setActionName(*name);
    // Undoing or redoing the group sets the name again for the group the replay builds.
    registerUndoWithTarget(lifetimeHandle(),
                           "setPendingActionNameForUndo:", std::make_shared<const std::string>(*name),
                           [](KQUUndoManager& manager, const std::shared_ptr<const std::string>& n) {
                               manager.setPendingActionNameForUndo(*n);
                           });
}

// --- Undo and redo --------------------------------------------------------------------

void KQUUndoManager::undo() {
    KQUUndoData& d = *mUndoData;
    postCheckpointNotification();
    clearAnyPendingUndoSession();
    if (d.mFlags.registeredForCallback && d.mUndoStack.nestingLevel() == 1) {
        // The group of the current event is what the user means to undo: close it as the
        // end of the event would, pending action name included.
        closeAutomaticGroup();
    }
    if (d.mUndoStack.nestingLevel() != 0)
        throw KQUException(NSInternalInconsistencyException,
                           stateError("undo", "undo was called with too many nested undo groups"));
    undoNestedGroup();
}

void KQUUndoManager::undoNestedGroup() {
    KQUUndoData& d = *mUndoData;
    postCheckpointNotification();
    ReplayFlagScope undoing(d, false);
    if (d.mUndoStack.isEmpty()) return;
    if (!d.mUndoStack.topUndoObject()->isEndMark())
        throw KQUException(
            NSInternalInconsistencyException,
            stateError("undoNestedGroup", "call endUndoGrouping before calling this method\n"));
    post(NSUndoManagerWillUndoChangeNotification);
    replayTopGroup(d.mUndoStack, d.mRedoStack, false);
    post(NSUndoManagerDidUndoChangeNotification);
}

void KQUUndoManager::redo() {
    KQUUndoData& d = *mUndoData;
    if (!canRedo()) return;
    clearAnyPendingUndoSession();
    ReplayFlagScope redoing(d, true);
    if (d.mRedoStack.isEmpty()) return;
    if (!d.mRedoStack.topUndoObject()->isEndMark())
        throw KQUException(NSInternalInconsistencyException,
                           stateError("redo", "do not invoke this method while undoing\n"));
    post(NSUndoManagerWillRedoChangeNotification);
    replayTopGroup(d.mRedoStack, d.mUndoStack, true);
    post(NSUndoManagerDidRedoChangeNotification);
}

void KQUUndoManager::replayTopGroup(KQUUndoStack& source, KQUUndoStack& destination, bool redoing) {
    KQUUndoData& d = *mUndoData;
    const uint32_t destinationLevel = destination.nestingLevel();
    const int disabled = d.mDisabled;
    const uint64_t generation = mGeneration;
    try {
        beginUndoGrouping();
        if (d.mDisabled == 0) destination.setGroupIdentifier(source.groupIdentifier());
        source.popAndInvoke(this);
        processPendingData();
        if (redoing) postCheckpointNotification();
        // An action that removed all actions has taken the replay group with it.
        if (generation == mGeneration) endUndoGrouping();
    } catch (...) {
        if (generation == mGeneration) {
            // Back to where the replay started: the group built so far is closed (or removed
            // when it is empty) and registration is as enabled as it was.
            destination.closeGroupsDownTo(destinationLevel);
            d.mDisabled = disabled;
        }
        throw;
    }
}

bool KQUUndoManager::canRedo() {
    postCheckpointNotification();
    return mUndoData->mRedoStack.count() != 0;
}

void KQUUndoManager::removeAllActions() {
    KQUUndoData& d = *mUndoData;
    d.mUndoStack.removeAllObjects();
    d.mRedoStack.removeAllObjects();
    d.mTarget = {};
    d.mFlags.undoing = 0;
    d.mFlags.redoing = 0;
    d.mDisabled = 0;
    // A session whose records are gone cannot be ended or replayed properly any more.
    d.mPendingSession.reset();
    d.mCurrentSession.reset();
    if (d.mFlags.registeredForCallback) {
        d.mFlags.registeredForCallback = 0;
        cancelScheduledEndOfEvent();
    }
    ++mGeneration;
}

void KQUUndoManager::removeAllActionsWithTarget(const void* target) {
    KQUUndoData& d = *mUndoData;
    d.mUndoStack.removeAllObjectsWithTarget(target);
    d.mRedoStack.removeAllObjectsWithTarget(target);
    if (target && d.mTarget.identity == target) d.mTarget = {};
}

// --- Coalescing -----------------------------------------------------------------------

void KQUUndoManager::collapseCurrentGroupIntoPriorGroup() {
    if (mDidDisableCoalescingForCurrentEvent) return;
    if (isUndoingOrRedoing()) {
        KQU_OBJECT_ASSERT_FAILURE("Only call in the forward case.");
        return;
    }
    if (groupingLevel() < 1) {
        KQU_OBJECT_ASSERT_FAILURE("Only call when we have an open group.");
        return;
    }
    mUndoData->mUndoStack.collapseCurrentGroupIntoPriorGroup(this);
}

bool KQUUndoManager::shouldCoalesceTypingForText(const void* text, const void* target) const {
    for (const KQUUndoObject* r = undoStack().topUndoObject(); r; r = r->next()) {
        if (r->isEndMark()) continue;
        return r->isLightInvocation() && r->target() == target && r->argument() == text;
    }
    return false;
}

// --- Sessions -------------------------------------------------------------------------

std::shared_ptr<KQUUndoSession> KQUUndoManager::makeUndoSession(
    uint32_t actionFlags, std::shared_ptr<KQUUndoSessionDelegate> delegate,
    std::shared_ptr<void> targetCookie) {
    return std::make_shared<KQUUndoSession>(this, actionFlags, std::move(delegate), std::move(targetCookie));
}

void KQUUndoManager::beginUndoSession(uint32_t actionFlags, std::shared_ptr<KQUUndoSessionDelegate> delegate,
                                      std::shared_ptr<void> targetCookie) {
    KQUUndoData& d = *mUndoData;
    if (isUndoingOrRedoing()) {
        KQU_OBJECT_ASSERT_FAILURE("Only call in the forward case.");
        return;
    }
    if (d.mPendingSession || d.mCurrentSession) KQU_OBJECT_ASSERT_FAILURE("begin called without end.");
    d.mPendingSession = makeUndoSession(actionFlags, std::move(delegate), std::move(targetCookie));
}

void KQUUndoManager::endUndoSession() {
    KQUUndoData& d = *mUndoData;
    if (isUndoingOrRedoing()) {
        KQU_OBJECT_ASSERT_FAILURE("Only call in the forward case.");
        return;
    }
    d.mPendingSession.reset();
    if (d.mCurrentSession) registerEndUndoSession();
}

void KQUUndoManager::registerEndUndoSession() {
    KQUUndoData& d = *mUndoData;
    if (d.mDisabled > 0) return;
    KQU_OBJECT_ASSERT(!d.mPendingSession, "Pending session should be nil - end called prior to begin.");
    if (!d.mCurrentSession) {
        KQU_OBJECT_ASSERT_FAILURE("No current session.");
        return;
    }
    KQUUndoStack& active = activeStack();
    KQUUndoObject* top = active.topUndoObject();
    KQU_OBJECT_ASSERT(!(top && top->isBeginMark()),
                      "Should not be ending a session at the beginning of an undo group.");
    // The session's closing record goes inside the span's last group.
    std::unique_ptr<KQUUndoObject> endMark;
    if (top && top->isEndMark()) endMark = active.popUndoObject();
    std::shared_ptr<KQUUndoSession> session = d.mCurrentSession;
    try {
        session->endUndo(nullptr);
    } catch (...) {
        if (endMark) active.push(std::move(endMark));
        throw;
    }
    if (endMark) active.push(std::move(endMark));
}

void KQUUndoManager::cancelUndoSession() {
    KQUUndoData& d = *mUndoData;
    if (isUndoingOrRedoing()) {
        KQU_OBJECT_ASSERT_FAILURE("Only call in the forward case.");
        return;
    }
    d.mPendingSession.reset();
    if (!d.mCurrentSession) return;
    std::shared_ptr<KQUUndoSession> session = d.mCurrentSession;
    registerEndUndoSession();
    // The actions stay undoable; only the delegate is no longer told about them.
    activeStack().deactivateUndoSession(session.get(), this);
}

// --- Debugging ------------------------------------------------------------------------

std::string KQUUndoManager::description() const {
    return fmt::format("({}*) {} ({})\nRedo stack:\n{}Undo stack:\n{}", kClassName, detail::undoAddress(this),
                       mUndoData->mDisabled == 0 ? "enabled" : "disabled", redoStack().description(),
                       undoStack().description());
}

}  // namespace kqu
