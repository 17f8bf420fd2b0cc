// The run-loop hooks that the host application drives. The library has no event loop of
// its own; a host that wants per-event behaviour (the undo manager's automatic groups)
// calls two things from its loop:
//
//     for (;;) {
//         handle(nextEvent());
//         kqu::KQUEndOfEvent();                                 // closes per-event work
//         kqu::KQURunLoop::currentRunLoop()->runOneIteration(); // runs deferred performs
//     }
//
// KQURunLoop keeps, per thread, the actions deferred with performAtOrder(): each runs once,
// during the next runOneIteration() in one of its modes, lower orders first and, within an
// order, in the order they were scheduled. Actions scheduled while an iteration runs wait
// for the next iteration; an action cancelled while an iteration runs is not run.
// KQUEndOfEvent() calls the end-of-event handlers that parts of the library install
// (in the order they were added, on the calling thread).
//
// Threads: currentRunLoop() is the calling thread's run loop; performs may be scheduled and
// cancelled from any thread (the run loop locks its list) but run on the thread that calls
// runOneIteration(). Handlers may be added and removed from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kqu {

inline constexpr const char* NSDefaultRunLoopMode = "NSDefaultRunLoopMode";

class KQURunLoop {
public:
    using PerformToken = uint64_t;  // 0 is never handed out

    // The calling thread's run loop, made on first use. Holders of a std::weak_ptr can
    // cancel their performs safely even after the thread has ended.
    static const std::shared_ptr<KQURunLoop>& currentRunLoop();

    KQURunLoop() = default;
    KQURunLoop(const KQURunLoop&) = delete;
    KQURunLoop& operator=(const KQURunLoop&) = delete;

    // Runs action once, during the next iteration run in one of modes.
    PerformToken performAtOrder(std::function<void()> action, uint32_t order, std::vector<std::string> modes);
    // True when the perform was still waiting (it will not run now).
    bool cancelPerform(PerformToken token);
    // Runs the performs waiting for mode; answers how many ran. An exception from an
    // action passes to the caller; the performs after it stay scheduled.
    size_t runOneIteration(std::string_view mode = NSDefaultRunLoopMode);
    size_t pendingPerformCount() const;

private:
    struct Perform {
        PerformToken token;
        uint32_t order;
        std::vector<std::string> modes;
        std::function<void()> action;
    };

    mutable std::mutex mLock;
    std::vector<Perform> mPerforms;  // sorted by (order, token)
    PerformToken mNextToken = 1;
};

using KQUEndOfEventHandlerToken = uint64_t;

// Installs a handler called by every KQUEndOfEvent(); answers a token for removal.
KQUEndOfEventHandlerToken KQUAddEndOfEventHandler(std::function<void()> handler);
void KQURemoveEndOfEventHandler(KQUEndOfEventHandlerToken token);
// The host calls this at the end of every event it handles. Handlers run over a copy of
// the list, so one may add or remove handlers.
void KQUEndOfEvent();

}  // namespace kqu
