#include "kqutility/undo/KQUUndoSession.h"

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUNull.h"
#include "kqutility/undo/KQUUndoManager.h"

namespace kqu {

namespace {
void callBeginUndo(void* session, const std::shared_ptr<void>& argument) {
    static_cast<KQUUndoSession*>(session)->beginUndo(argument);
}
void callEndUndo(void* session, const std::shared_ptr<void>& argument) {
    static_cast<KQUUndoSession*>(session)->endUndo(argument);
}
}  // namespace

KQUUndoSession::KQUUndoSession(KQUUndoManager* manager, uint32_t actionFlags,
                               std::shared_ptr<KQUUndoSessionDelegate> delegate,
                               std::shared_ptr<void> targetCookie)
    : mUndoSessionDelegate(std::move(delegate)),
      mTargetCookie(std::move(targetCookie)),
      mActionFlags(actionFlags) {
    setUndoManager(manager);
}

KQUUndoManager* KQUUndoSession::undoManager() const {
    return mUndoManager.lock().get();
}

void KQUUndoSession::setUndoManager(KQUUndoManager* manager) {
    mUndoManager =
        manager ? std::weak_ptr<KQUUndoManager>(manager->lifetimeHandle()) : std::weak_ptr<KQUUndoManager>();
}

void KQUUndoSession::beginUndo(const std::shared_ptr<void>&) {
    KQUUndoManager* manager = undoManager();
    if (!manager) {
        KQU_OBJECT_ASSERT_FAILURE("No undo manager.");
        return;
    }
    std::shared_ptr<KQUUndoSession> self = shared_from_this();
    manager->setCurrentSession(self);
    manager->setPendingSession(nullptr);
    if (manager->isUndoingOrRedoing() && mUndoSessionDelegate)
        mUndoSessionDelegate->beginUndoSessionWithTargetCookie(mTargetCookie, mActionFlags);
    manager->registerUndoObject(std::make_unique<KQUUndoLightInvocation>(
        KQUUndoTargetRef::retaining(self), KQUSelectorName("endUndo:"), nullptr, callEndUndo));
    KQU_OBJECT_ASSERT(manager->currentSession() == self, "Bad current session.");
}

void KQUUndoSession::endUndo(const std::shared_ptr<void>&) {
    KQUUndoManager* manager = undoManager();
    if (!manager) {
        KQU_OBJECT_ASSERT_FAILURE("No undo manager.");
        return;
    }
    std::shared_ptr<KQUUndoSession> self = shared_from_this();
    if (manager->isUndoingOrRedoing()) {
        KQU_OBJECT_ASSERT(mUndoSessionDelegate != nullptr, "No delegate.");
        if (mUndoSessionDelegate)
            mUndoSessionDelegate->endUndoSessionWithTargetCookie(mTargetCookie, mActionFlags);
    }
    runSessionActions(manager->isUndoing() ? manager->redoStack() : manager->undoStack());
    manager->registerUndoObject(std::make_unique<KQUUndoLightInvocation>(
        KQUUndoTargetRef::retaining(self), KQUSelectorName("beginUndo:"), KQUUndoArgumentRef(KQUNull::null()),
        callBeginUndo));
    manager->setCurrentSession(nullptr);
}

void KQUUndoSession::runSessionActions(KQUUndoStack&) {}

}  // namespace kqu
