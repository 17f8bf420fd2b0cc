// Undo sessions: a bracket around a series of registrations whose delegate is told before
// and after the series is undone or redone (for example so that a view can suspend its
// layout while a long series replays, and lay out once at the end).
//
// A session is made by KQUUndoManager::beginUndoSession() and ended with endUndoSession()
// or cancelUndoSession(). On the stack the span reads, from old to new: a record of
// endUndo(), the session's actions, a record of beginUndo() placed inside the span's last
// group. Undoing replays them newest first, so the delegate hears "begin", the actions
// run, and it hears "end"; redo mirrors it. Across a span of several groups the session
// stays current from the first undo to the last.
//
// Ownership: the records of a session retain it; the session retains its delegate and
// cookie and refers to its manager without keeping it (the reference lapses when the
// manager goes). Sessions are made with std::make_shared (they hand out shared_from_this)
// and belong to their manager's thread. Subclasses may override runSessionActions().
#pragma once

#include <cstdint>
#include <memory>

namespace kqu {

class KQUUndoManager;
class KQUUndoStack;

class KQUUndoSessionDelegate {
public:
    virtual ~KQUUndoSessionDelegate() = default;
    virtual void beginUndoSessionWithTargetCookie(const std::shared_ptr<void>& cookie, uint32_t flags) = 0;
    virtual void endUndoSessionWithTargetCookie(const std::shared_ptr<void>& cookie, uint32_t flags) = 0;
};

// Action flag: the session's groups may not be merged with others.
inline constexpr uint32_t KQUUndoSessionNoCoalescingFlag = 2;

class KQUUndoSession : public std::enable_shared_from_this<KQUUndoSession> {
public:
    KQUUndoSession(KQUUndoManager* manager, uint32_t actionFlags,
                   std::shared_ptr<KQUUndoSessionDelegate> delegate, std::shared_ptr<void> targetCookie);
    virtual ~KQUUndoSession() = default;
    KQUUndoSession(const KQUUndoSession&) = delete;
    KQUUndoSession& operator=(const KQUUndoSession&) = delete;

    const std::shared_ptr<KQUUndoSessionDelegate>& undoSessionDelegate() const {
        return mUndoSessionDelegate;
    }
    void setUndoSessionDelegate(std::shared_ptr<KQUUndoSessionDelegate> delegate) {
        mUndoSessionDelegate = std::move(delegate);
    }
    const std::shared_ptr<void>& targetCookie() const { return mTargetCookie; }
    void setTargetCookie(std::shared_ptr<void> cookie) { mTargetCookie = std::move(cookie); }
    uint32_t actionFlags() const { return mActionFlags; }
    void setActionFlags(uint32_t flags) { mActionFlags = flags; }
    // nullptr once the manager has gone.
    KQUUndoManager* undoManager() const;
    void setUndoManager(KQUUndoManager* manager);

    // Makes the session current, tells the delegate "begin" when undoing or redoing, and
    // records endUndo() (the argument is ignored).
    virtual void beginUndo(const std::shared_ptr<void>& argument);
    // Tells the delegate "end" when undoing or redoing, runs runSessionActions() and
    // records beginUndo(); the session is no longer current.
    virtual void endUndo(const std::shared_ptr<void>& argument);
    bool canCoalesce() const { return (mActionFlags & KQUUndoSessionNoCoalescingFlag) == 0; }
    // A hook for subclasses, called with the stack the session's end is recorded on.
    virtual void runSessionActions(KQUUndoStack& stack);

private:
    std::shared_ptr<KQUUndoSessionDelegate> mUndoSessionDelegate;
    std::shared_ptr<void> mTargetCookie;
    uint32_t mActionFlags;
    std::weak_ptr<KQUUndoManager> mUndoManager;
};

}  // namespace kqu
