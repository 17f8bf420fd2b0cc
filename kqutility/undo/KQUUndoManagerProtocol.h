// The undo-manager interface that editing code calls through: text views, menus and the
// command manager hold a KQUUndoManagerProtocol and never need to know which manager
// (normally kqu::KQUUndoManager) sits behind it.
//
// A recorded call is a closure plus the identity of its target. The target is held weakly:
// when it has gone by the time the call is undone or redone, the call is skipped (and the
// manager logs it), so an object that goes away without removing its actions does no harm.
// An object that is not itself owned by a std::shared_ptr gets a weak handle from a
// KQUUndoTargetAnchor member. Two forms exist:
//
//     // a one-argument call, target.setColor(argument); the argument is retained
//     undo.registerUndoWithTarget(shape, "setColor:", oldColor, &Shape::setColor);
//     // any call, capturing what it needs
//     undo.registerUndoInvocation(shape, "moveBy:", [dx, dy](Shape& s) { s.moveBy(-dx, -dy); });
//
// The selector is a name for descriptions and look-ups, kept by pointer: a string literal,
// or KQUSelectorName::intern() for a name made at run time.
//
// The argument of a one-argument call may implement KQUUndoPrunable (told when its record
// is thrown away without being replayed) and KQUUndoMakeEmpty (marks it in descriptions).
//
// Managers post their notifications (the names below) to the default notification centre
// with notificationObject() as the object. Like the managers themselves, the interface is
// used from one thread, normally the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace kqu {

inline constexpr const char* NSUndoManagerCheckpointNotification = "NSUndoManagerCheckpointNotification";
inline constexpr const char* NSUndoManagerDidOpenUndoGroupNotification =
    "NSUndoManagerDidOpenUndoGroupNotification";
inline constexpr const char* NSUndoManagerWillCloseUndoGroupNotification =
    "NSUndoManagerWillCloseUndoGroupNotification";
inline constexpr const char* NSUndoManagerWillUndoChangeNotification =
    "NSUndoManagerWillUndoChangeNotification";
inline constexpr const char* NSUndoManagerDidUndoChangeNotification =
    "NSUndoManagerDidUndoChangeNotification";
inline constexpr const char* NSUndoManagerWillRedoChangeNotification =
    "NSUndoManagerWillRedoChangeNotification";
inline constexpr const char* NSUndoManagerDidRedoChangeNotification =
    "NSUndoManagerDidRedoChangeNotification";
inline constexpr const char* KQUUndoManagerStopCoalescingNotification =
    "KQUUndoManagerStopCoalescingNotification";

// The name of a recorded call. Made implicitly from a string literal (checked at compile
// time); intern() keeps a run-time name for the life of the process.
class KQUSelectorName {
public:
    consteval KQUSelectorName(const char* name) : mName(name) {}
    static KQUSelectorName intern(std::string_view name);

    const char* c_str() const { return mName; }
    std::string_view view() const { return mName; }
    bool operator==(const KQUSelectorName& other) const { return view() == other.view(); }

private:
    struct Interned {};
    KQUSelectorName(const char* name, Interned) : mName(name) {}
    const char* mName;
};

// The argument of a one-argument call is told when its record is discarded unreplayed
// (the oldest group dropped, the target's actions removed).
class KQUUndoPrunable {
public:
    virtual ~KQUUndoPrunable() = default;
    virtual void willBePrunedFromUndo() = 0;
};

// An argument that empties something (shown as "MakeEmpty" in record descriptions).
class KQUUndoMakeEmpty {
public:
    virtual ~KQUUndoMakeEmpty() = default;
    virtual bool isMakeEmpty() const = 0;
};

// The target of a recorded call: held weakly (or, for targets that nothing else keeps,
// such as undo sessions, retained), with its identity and static type beside it.
struct KQUUndoTargetRef {
    std::weak_ptr<void> object;
    const void* identity = nullptr;
    const std::type_info* type = nullptr;
    std::shared_ptr<void> retained;

    KQUUndoTargetRef() = default;
    template <class T>
    KQUUndoTargetRef(const std::shared_ptr<T>& target)
        : object(std::const_pointer_cast<std::remove_cv_t<T>>(target)),
          identity(target.get()),
          type(&typeid(T)) {}
    template <class T>
    static KQUUndoTargetRef retaining(const std::shared_ptr<T>& target) {
        KQUUndoTargetRef ref(target);
        ref.retained = std::const_pointer_cast<std::remove_cv_t<T>>(target);
        return ref;
    }

    // Null when there is no target or it has gone.
    std::shared_ptr<void> lock() const { return retained ? retained : object.lock(); }
    // A target was given and no longer exists.
    bool isGone() const { return identity && !retained && object.expired(); }
    bool isRetained() const { return retained != nullptr; }
};

struct KQUUndoArgumentTraits {
    const std::type_info* type;
    KQUUndoPrunable* (*prunable)(void* argument);
    bool (*respondsToIsMakeEmpty)(void* argument);
};

namespace detail {
template <class A, class Interface>
Interface* undoArgumentAs(void* argument) {
    if constexpr (std::is_base_of_v<Interface, A>) {
        return static_cast<A*>(argument);
    } else if constexpr (std::is_polymorphic_v<A>) {
        return dynamic_cast<Interface*>(static_cast<A*>(argument));
    } else {
        return nullptr;
    }
}
template <class A>
inline constexpr KQUUndoArgumentTraits undoArgumentTraits = {
    &typeid(A), [](void* a) { return a ? undoArgumentAs<A, KQUUndoPrunable>(a) : nullptr; },
    [](void* a) { return a && undoArgumentAs<A, KQUUndoMakeEmpty>(a) != nullptr; }};
template <>
inline constexpr KQUUndoArgumentTraits undoArgumentTraits<void> = {
    &typeid(void), [](void*) -> KQUUndoPrunable* { return nullptr; }, [](void*) { return false; }};
}  // namespace detail

// The retained argument of a one-argument call.
struct KQUUndoArgumentRef {
    std::shared_ptr<void> object;
    const KQUUndoArgumentTraits* traits = &detail::undoArgumentTraits<void>;

    KQUUndoArgumentRef() = default;
    KQUUndoArgumentRef(std::nullptr_t) {}
    template <class A>
    KQUUndoArgumentRef(std::shared_ptr<A> argument)
        : object(std::const_pointer_cast<std::remove_cv_t<A>>(std::move(argument))),
          traits(&detail::undoArgumentTraits<std::remove_cv_t<A>>) {}

    const void* identity() const { return object.get(); }
};

// A call recorded for undo, in the form every manager stores.
struct KQUUndoCall {
    KQUUndoTargetRef target;
    KQUSelectorName selector = "";
    KQUUndoArgumentRef argument;
    // Called with the (live) target and the argument.
    std::function<void(void* target, const std::shared_ptr<void>& argument)> action;
    // A one-argument call (registerUndoWithTarget) rather than a general invocation.
    bool light = false;
};

// Gives an object that is not owned by a std::shared_ptr weak handles to itself that
// expire when the anchor (a member of the object) is destroyed.
class KQUUndoTargetAnchor {
public:
    KQUUndoTargetAnchor() : mAnchor(std::make_shared<char>(0)) {}
    KQUUndoTargetAnchor(const KQUUndoTargetAnchor&) : KQUUndoTargetAnchor() {}
    KQUUndoTargetAnchor& operator=(const KQUUndoTargetAnchor&) { return *this; }

    template <class T>
    std::shared_ptr<T> handle(T* object) const {
        return std::shared_ptr<T>(mAnchor, object);
    }

private:
    std::shared_ptr<char> mAnchor;
};

class KQUUndoManagerProtocol {
public:
    virtual ~KQUUndoManagerProtocol() = default;

    // --- Registration -------------------------------------------------------------------
    // Records target.action(argument) (action: a member function or a callable taking
    // (T&, const std::shared_ptr<A>&)); the argument is retained by the record.
    template <class T, class A, class F>
    void registerUndoWithTarget(const std::shared_ptr<T>& target, KQUSelectorName selector,
                                std::shared_ptr<A> argument, F action) {
        KQUUndoCall call;
        call.light = true;
        call.target = KQUUndoTargetRef(target);
        call.selector = selector;
        call.argument = KQUUndoArgumentRef(std::move(argument));
        call.action = [action](void* t, const std::shared_ptr<void>& a) {
            std::invoke(action, *static_cast<T*>(t), std::static_pointer_cast<A>(a));
        };
        registerUndoCall(std::move(call));
    }
    // Records action(target) (a member function or a callable taking T&).
    template <class T, class F>
    void registerUndoInvocation(const std::shared_ptr<T>& target, KQUSelectorName selector, F action) {
        KQUUndoCall call;
        call.target = KQUUndoTargetRef(target);
        call.selector = selector;
        call.action = [action = std::move(action)](void* t, const std::shared_ptr<void>&) {
            std::invoke(action, *static_cast<T*>(t));
        };
        registerUndoCall(std::move(call));
    }
    // The general entry point of both forms.
    virtual void registerUndoCall(KQUUndoCall call) = 0;

    // Two-step form: prepareWithInvocationTarget(target) names the target, and the next
    // forwardInvocation<T>() records its call for it (T must be the prepared target's type).
    virtual KQUUndoManagerProtocol& prepareWithInvocationTarget(KQUUndoTargetRef target) = 0;
    template <class T, class F>
    void forwardInvocation(KQUSelectorName selector, F action) {
        KQUUndoCall call;
        call.target.type = &typeid(T);
        call.selector = selector;
        call.action = [action = std::move(action)](void* t, const std::shared_ptr<void>&) {
            std::invoke(action, *static_cast<T*>(t));
        };
        forwardInvocationCall(std::move(call));
    }
    // call.target.type names the type the call expects; the manager supplies the target.
    virtual void forwardInvocationCall(KQUUndoCall call) = 0;

    virtual void disableUndoRegistration() = 0;
    virtual void enableUndoRegistration() = 0;
    virtual bool isUndoRegistrationEnabled() const = 0;

    // --- Groups and names ---------------------------------------------------------------
    virtual void beginUndoGrouping() = 0;
    virtual void endUndoGrouping() = 0;
    virtual int groupingLevel() const = 0;
    virtual bool groupsByEvent() const = 0;
    virtual void setGroupsByEvent(bool groupsByEvent) = 0;
    virtual std::vector<std::string> runLoopModes() const = 0;
    virtual void setRunLoopModes(std::vector<std::string> modes) = 0;
    virtual uint32_t levelsOfUndo() const = 0;
    virtual void setLevelsOfUndo(uint32_t levels) = 0;

    virtual void setActionName(std::string_view name) = 0;
    virtual std::string undoActionName() const = 0;
    virtual std::string redoActionName() const = 0;
    // "Undo <name>" when there is something named to undo, else "Undo" (texts from the
    // "UndoStrings" table); likewise for redo.
    virtual std::string undoMenuItemTitle();
    virtual std::string redoMenuItemTitle();
    virtual std::string undoMenuTitleForUndoActionName(std::string_view name) const;
    virtual std::string redoMenuTitleForUndoActionName(std::string_view name) const;

    // --- Undo and redo ------------------------------------------------------------------
    virtual void undo() = 0;
    virtual void undoNestedGroup() = 0;
    virtual void redo() = 0;
    virtual bool canUndo() = 0;
    virtual bool canRedo() = 0;
    virtual bool isUndoing() const = 0;
    virtual bool isRedoing() const = 0;
    virtual bool isUndoingOrRedoing() const { return isUndoing() || isRedoing(); }
    virtual void removeAllActions() = 0;
    // Removes every action whose target has this identity (the address of the object as
    // it was registered).
    virtual void removeAllActionsWithTarget(const void* target) = 0;

    // Posts KQUUndoManagerStopCoalescingNotification: listeners stop merging their typing
    // into the previous group.
    virtual void postStopCoalescingNotification();

    // The object the manager's notifications carry.
    const void* notificationObject() const { return this; }
};

}  // namespace kqu
