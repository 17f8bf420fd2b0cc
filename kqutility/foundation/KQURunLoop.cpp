#include "kqutility/foundation/KQURunLoop.h"

#include <algorithm>

namespace kqu {

const std::shared_ptr<KQURunLoop>& KQURunLoop::currentRunLoop() {
    thread_local std::shared_ptr<KQURunLoop> sRunLoop = std::make_shared<KQURunLoop>();
    return sRunLoop;
}

KQURunLoop::PerformToken KQURunLoop::performAtOrder(std::function<void()> action, uint32_t order,
                                                    std::vector<std::string> modes) {
    std::lock_guard guard(mLock);
    PerformToken token = mNextToken++;
    // Tokens grow, so inserting after every perform of a lower or equal order keeps the
    // list sorted by (order, token).
    auto at = std::upper_bound(mPerforms.begin(), mPerforms.end(), order,
                               [](uint32_t o, const Perform& p) { return o < p.order; });
    mPerforms.insert(at, Perform{token, order, std::move(modes), std::move(action)});
    return token;
}

bool KQURunLoop::cancelPerform(PerformToken token) {
    std::lock_guard guard(mLock);
    auto it =
        std::find_if(mPerforms.begin(), mPerforms.end(), [&](const Perform& p) { return p.token == token; });
    if (it == mPerforms.end()) return false;
    mPerforms.erase(it);
    return true;
}

size_t KQURunLoop::runOneIteration(std::string_view mode) {
    // Decide up front which performs belong to this iteration; each is taken out of the
    // list just before it runs, so one cancelled meanwhile is skipped.
    std::vector<std::pair<uint32_t, PerformToken>> due;
    {
        std::lock_guard guard(mLock);
        for (const auto& p : mPerforms)
            if (std::find(p.modes.begin(), p.modes.end(), mode) != p.modes.end())
                due.emplace_back(p.order, p.token);
    }
    size_t ran = 0;
    for (const auto& [order, token] : due) {
        std::function<void()> action;
        {
            std::lock_guard guard(mLock);
            auto it = std::find_if(mPerforms.begin(), mPerforms.end(),
                                   [&, token = token](const Perform& p) { return p.token == token; });
            if (it == mPerforms.end()) continue;
            action = std::move(it->action);
            mPerforms.erase(it);
        }
        ++ran;
        action();
    }
    return ran;
}

size_t KQURunLoop::pendingPerformCount() const {
    std::lock_guard guard(mLock);
    return mPerforms.size();
}

namespace {

struct EndOfEventHandler {
    KQUEndOfEventHandlerToken token;
    std::shared_ptr<std::function<void()>> handler;
};

std::mutex sHandlersLock;
KQUEndOfEventHandlerToken sNextHandlerToken = 1;

std::vector<EndOfEventHandler>& handlers() {
    static std::vector<EndOfEventHandler> sHandlers;
    return sHandlers;
}

}  // namespace

KQUEndOfEventHandlerToken KQUAddEndOfEventHandler(std::function<void()> handler) {
    auto shared = std::make_shared<std::function<void()>>(std::move(handler));
    std::lock_guard guard(sHandlersLock);
    KQUEndOfEventHandlerToken token = sNextHandlerToken++;
    handlers().push_back({token, std::move(shared)});
    return token;
}

void KQURemoveEndOfEventHandler(KQUEndOfEventHandlerToken token) {
    std::lock_guard guard(sHandlersLock);
    std::erase_if(handlers(), [&](const EndOfEventHandler& h) { return h.token == token; });
}

void KQUEndOfEvent() {
    std::vector<EndOfEventHandler> copy;
    {
        std::lock_guard guard(sHandlersLock);
        copy = handlers();
    }
    for (const auto& h : copy) {
        bool stillInstalled;
        {
            std::lock_guard guard(sHandlersLock);
            stillInstalled = std::any_of(handlers().begin(), handlers().end(),
                                         [&](const EndOfEventHandler& e) { return e.token == h.token; });
        }
        if (stillInstalled) (*h.handler)();
    }
}

}  // namespace kqu
