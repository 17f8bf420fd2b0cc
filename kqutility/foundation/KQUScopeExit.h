// KQUScopeExit runs a clean-up action when the scope that made it ends, by return or by
// exception, unless release() was called first. It replaces the hand-written
// "catch (...) { undo; throw; }" blocks: the clean-up is written once, next to the step it
// undoes, and the success path dismisses it.
//
//     int fd = ::open(...);
//     KQUScopeExit closeOnFailure([&] { ::close(fd); });
//     ...                       // anything here may throw
//     closeOnFailure.release(); // success: keep fd
//
// Ownership: the guard owns its action (moved in). It can be moved, not copied; a moved
// from guard does nothing. Threads: a guard belongs to the scope that made it. The action
// runs from a destructor and must not throw (a throwing action ends the program).
#pragma once

#include <type_traits>
#include <utility>

namespace kqu {

template <typename Action>
class [[nodiscard]] KQUScopeExit {
public:
    static_assert(std::is_nothrow_move_constructible_v<Action> || std::is_copy_constructible_v<Action>);

    explicit KQUScopeExit(Action action) noexcept(std::is_nothrow_move_constructible_v<Action>)
        : mAction(std::move(action)) {}
    KQUScopeExit(KQUScopeExit&& other) noexcept(std::is_nothrow_move_constructible_v<Action>)
        : mAction(std::move(other.mAction)), mActive(std::exchange(other.mActive, false)) {}
    KQUScopeExit(const KQUScopeExit&) = delete;
    KQUScopeExit& operator=(const KQUScopeExit&) = delete;
    KQUScopeExit& operator=(KQUScopeExit&&) = delete;

    ~KQUScopeExit() noexcept {
        if (mActive) mAction();
    }

    // Dismisses the guard: the action will not run.
    void release() noexcept { mActive = false; }

private:
    Action mAction;
    bool mActive = true;
};

}  // namespace kqu
