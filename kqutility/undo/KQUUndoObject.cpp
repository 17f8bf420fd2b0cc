#include "kqutility/undo/KQUUndoObject.h"

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/undo/KQUUndoSession.h"

namespace kqu {

std::string detail::undoAddress(const void* p) {
    return fmt::format("0x{:x}", reinterpret_cast<uintptr_t>(p));
}

KQUUndoObject::~KQUUndoObject() {
    // Each record owns the one below it; unlinking one at a time keeps the teardown of a
    // chain of a million records from recursing a million deep.
    std::unique_ptr<KQUUndoObject> older = std::move(mNext);
    while (older) older = std::move(older->mNext);
}

void KQUUndoObject::setTarget(KQUUndoTargetRef target) {
    if (mKind == Kind::Invocation || mKind == Kind::LightInvocation) {
        if (mTarget.type && target.type && *mTarget.type != *target.type)
            throw KQUException(
                NSInvalidArgumentException,
                fmt::format("Cannot give the undo action {} a target of type {}; it expects {}", selector(),
                            detail::demangledTypeName(*target.type),
                            detail::demangledTypeName(*mTarget.type)));
    }
    if (target.type && *target.type == typeid(KQUUndoSession) && !target.retained)
        target.retained = target.lock();
    mTarget = std::move(target);
}

bool KQUUndoObject::isUndoSessionTarget() const {
    return mTarget.type && *mTarget.type == typeid(KQUUndoSession);
}

void KQUUndoObject::invoke(KQUUndoSession*) {
    if (!mIsDeactivated)
        throw KQUException(NSInternalInconsistencyException, "- invoke is Subclass responsability");
}

std::string KQUUndoObject::targetClassName() const {
    return mTarget.type && mTarget.identity ? detail::demangledTypeName(*mTarget.type)
                                            : std::string("(null)");
}

std::string KQUUndoObject::description() const {
    return fmt::format("target: {} {} -- Deactivated: {}", targetClassName(), detail::undoAddress(target()),
                       int(mIsDeactivated));
}

std::string KQUUndoBeginMark::description() const {
    return fmt::format("beginUndoGrouping -- Deactivated: {}", int(isDeactivated()));
}

std::string KQUUndoEndMark::description() const {
    return fmt::format("endUndoGrouping -- Deactivated: {}", int(isDeactivated()));
}

std::unique_ptr<KQUUndoInvocation> KQUUndoInvocation::fromCall(KQUUndoCall call) {
    if (call.light)
        return std::make_unique<KQUUndoLightInvocation>(std::move(call.target), call.selector,
                                                        std::move(call.argument), std::move(call.action));
    return std::make_unique<KQUUndoInvocation>(std::move(call.target), call.selector, std::move(call.action));
}

void KQUUndoInvocation::call(const std::shared_ptr<void>& argument) {
    const KQUUndoTargetRef& ref = targetRef();
    std::shared_ptr<void> target = ref.lock();
    if (!target) {
        if (ref.identity)
            KQULogWarning("Skipping the undo action {} of {} {}: its target no longer exists", selector(),
                          targetClassName(), detail::undoAddress(ref.identity));
        return;
    }
    if (mAction) mAction(target.get(), argument);
}

void KQUUndoInvocation::invoke(KQUUndoSession*) {
    if (!isDeactivated()) call(nullptr);
}

std::string KQUUndoInvocation::description() const {
    return fmt::format("target: {} {} -- selector:{}", targetClassName(), detail::undoAddress(target()),
                       selector());
}

void KQUUndoLightInvocation::invoke(KQUUndoSession*) {
    if (!isDeactivated()) call(mArgument.object);
}

void KQUUndoLightInvocation::willBePruned() {
    if (KQUUndoPrunable* prunable = mArgument.traits->prunable(mArgument.object.get()))
        prunable->willBePrunedFromUndo();
}

std::string KQUUndoLightInvocation::description() const {
    const KQUUndoArgumentTraits& traits = *mArgument.traits;
    void* argument = mArgument.object.get();
    return fmt::format("target: {} {} -- Deactivated: {} -- {} -- selector:{} -- arg:{} {}",
                       targetClassName(), detail::undoAddress(target()), int(isDeactivated()),
                       traits.respondsToIsMakeEmpty(argument) ? "MakeEmpty" : "", selector(),
                       argument ? detail::demangledTypeName(*traits.type) : std::string("none"),
                       detail::undoAddress(argument));
}

}  // namespace kqu
