// Undo records: the entries of an undo stack (KQUUndoStack).
//
// A stack is a chain of records from the newest (top) to the oldest (bottom). Group marks
// bracket the records of one user action: a KQUUndoBeginMark opens a group and carries its
// action name (the group identifier), a KQUUndoEndMark closes it; groups nest. Between the
// marks lie recorded calls: KQUUndoLightInvocation, a one-argument call target.f(argument)
// whose argument it retains, and KQUUndoInvocation, any closure over the target.
//
// A deactivated record is passed over when its group is replayed; a deactivated mark no
// longer counts as a mark (that is how two merged groups replay as one).
//
// Ownership: each record owns the next older record (next()); the stack owns the top.
// previous() points to the next newer record, and the top's previous() to the bottom, so
// the bottom is one step away. Destroying a record destroys the chain below it without
// recursion. A record's target is held weakly (see KQUUndoTargetRef); undo sessions, which
// nothing else keeps, are retained. Records belong to the thread of their undo manager.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kqutility/undo/KQUUndoManagerProtocol.h"

namespace kqu {

class KQUUndoSession;
class KQUUndoStack;

class KQUUndoObject {
public:
    enum class Kind : uint8_t { Object, BeginMark, EndMark, Invocation, LightInvocation };

    KQUUndoObject() = default;
    explicit KQUUndoObject(KQUUndoTargetRef target) : mTarget(std::move(target)) {}
    virtual ~KQUUndoObject();
    KQUUndoObject(const KQUUndoObject&) = delete;
    KQUUndoObject& operator=(const KQUUndoObject&) = delete;

    Kind kind() const { return mKind; }
    bool isBeginMark() const { return mKind == Kind::BeginMark && !mIsDeactivated; }
    bool isEndMark() const { return mKind == Kind::EndMark && !mIsDeactivated; }
    bool isDeactivatedBeginMark() const { return mKind == Kind::BeginMark && mIsDeactivated; }
    bool isDeactivatedEndMark() const { return mKind == Kind::EndMark && mIsDeactivated; }
    // A begin or end mark, active or not.
    bool isMark() const { return mKind == Kind::BeginMark || mKind == Kind::EndMark; }
    bool isLightInvocation() const { return mKind == Kind::LightInvocation; }

    // The target's identity, nullptr when the record has none.
    const void* target() const { return mTarget.identity; }
    const KQUUndoTargetRef& targetRef() const { return mTarget; }
    // A recorded call replaces its target only with one of the type it was made for
    // (NSInvalidArgumentException otherwise). A session target is retained.
    void setTarget(KQUUndoTargetRef target);
    bool isUndoSessionTarget() const;
    bool isDeactivated() const { return mIsDeactivated; }
    void setIsDeactivated(bool deactivated) { mIsDeactivated = deactivated; }

    // The retained argument's identity (one-argument calls), else nullptr.
    virtual const void* argument() const { return nullptr; }
    // The call's name, else nullptr.
    virtual const char* selector() const { return nullptr; }
    // Replays the record. The base raises NSInternalInconsistencyException
    // "- invoke is Subclass responsability" unless deactivated.
    virtual void invoke(KQUUndoSession* session);
    // Told when the record is discarded without being replayed.
    virtual void willBePruned() {}
    virtual std::string description() const;

    // The next older record, or nullptr for the bottom.
    KQUUndoObject* next() const { return mNext.get(); }
    // The next newer record; the top's points to the bottom.
    KQUUndoObject* previous() const { return mPrevious; }

protected:
    explicit KQUUndoObject(Kind kind) : mKind(kind) {}
    KQUUndoObject(Kind kind, KQUUndoTargetRef target) : mTarget(std::move(target)), mKind(kind) {}
    // "(null)" without a target.
    std::string targetClassName() const;

private:
    friend class KQUUndoStack;

    std::unique_ptr<KQUUndoObject> mNext;
    KQUUndoObject* mPrevious = nullptr;
    KQUUndoTargetRef mTarget;
    Kind mKind = Kind::Object;
    bool mIsDeactivated = false;
};

class KQUUndoBeginMark final : public KQUUndoObject {
public:
    KQUUndoBeginMark() : KQUUndoObject(Kind::BeginMark) {}
    const std::optional<std::string>& groupIdentifier() const { return mGroupIdentifier; }
    void setGroupIdentifier(std::optional<std::string> identifier) {
        mGroupIdentifier = std::move(identifier);
    }
    std::string description() const override;

private:
    std::optional<std::string> mGroupIdentifier;
};

class KQUUndoEndMark final : public KQUUndoObject {
public:
    KQUUndoEndMark() : KQUUndoObject(Kind::EndMark) {}
    std::string description() const override;
};

// A general recorded call: action(target).
class KQUUndoInvocation : public KQUUndoObject {
public:
    using Action = std::function<void(void* target, const std::shared_ptr<void>& argument)>;

    KQUUndoInvocation(KQUUndoTargetRef target, KQUSelectorName selector, Action action)
        : KQUUndoInvocation(Kind::Invocation, std::move(target), selector, std::move(action)) {}
    // The record a manager makes for a registered call.
    static std::unique_ptr<KQUUndoInvocation> fromCall(KQUUndoCall call);

    const char* selector() const override { return mSelector.c_str(); }
    // Calls the action on the live target; a target that has gone is skipped with a log line.
    void invoke(KQUUndoSession* session) override;
    std::string description() const override;

protected:
    KQUUndoInvocation(Kind kind, KQUUndoTargetRef target, KQUSelectorName selector, Action action)
        : KQUUndoObject(kind, std::move(target)), mSelector(selector), mAction(std::move(action)) {}
    void call(const std::shared_ptr<void>& argument);

private:
    KQUSelectorName mSelector;
    Action mAction;
};

// A one-argument call: action(target, argument), the argument retained.
class KQUUndoLightInvocation final : public KQUUndoInvocation {
public:
    KQUUndoLightInvocation(KQUUndoTargetRef target, KQUSelectorName selector, KQUUndoArgumentRef argument,
                           Action action)
        : KQUUndoInvocation(Kind::LightInvocation, std::move(target), selector, std::move(action)),
          mArgument(std::move(argument)) {}

    const void* argument() const override { return mArgument.identity(); }
    const KQUUndoArgumentRef& argumentRef() const { return mArgument; }
    void invoke(KQUUndoSession* session) override;
    // Sends willBePrunedFromUndo() to an argument that implements KQUUndoPrunable.
    void willBePruned() override;
    std::string description() const override;

private:
    KQUUndoArgumentRef mArgument;
};

namespace detail {
// "0x..." for an identity.
std::string undoAddress(const void* p);
}  // namespace detail

}  // namespace kqu
