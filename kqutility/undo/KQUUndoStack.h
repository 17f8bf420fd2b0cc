// One stack of undo records (see KQUUndoObject.h): the undo manager keeps one of actions
// to undo and one of actions to redo.
//
// The stack counts its top-level groups (count(), an open group included) and the nesting
// level of the group being built on top (nestingLevel(): 0 when every group is closed, n
// while n begin marks await their end marks). It pops and replays the top group, drops the
// oldest group when more than max() top-level groups are kept, merges the open group into
// the one before it (coalescing), and purges the records of one target. It knows nothing
// of notifications or sessions; the manager drives it.
//
// Nesting errors raise NSInternalInconsistencyException and leave the stack as it was.
// Push, pop and access to the bottom take constant time; dropping the oldest group
// touches only that group. Destroying a stack never throws and tells no record anything
// (as popping does not). A stack belongs to its manager's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kqutility/undo/KQUUndoObject.h"

namespace kqu {

class KQUUndoManager;

class KQUUndoStack {
public:
    KQUUndoStack() = default;
    ~KQUUndoStack();
    KQUUndoStack(const KQUUndoStack&) = delete;
    KQUUndoStack& operator=(const KQUUndoStack&) = delete;

    // Puts record on top; the stack owns it from then on. An active end mark with no open
    // group raises "pushing more ends than begins onto stack" (the record is discarded).
    // Closing a top-level group beyond max() drops the oldest group.
    void push(std::unique_ptr<KQUUndoObject> record);
    // Takes the top record off (it is not told willBePruned), or nullptr when empty.
    // Popping an active begin mark with no group open raises "popping more begins than
    // ends from stack".
    std::unique_ptr<KQUUndoObject> popUndoObject();
    void markBegin();
    void markEnd();

    // Pops the top group and replays its records, newest first, with manager (may be null)
    // as the current undo manager; nested groups replay with their enclosing group and
    // deactivated records and marks are passed over. Answers whether any record other than
    // a mark was popped. The top must be an end mark. When a record's call throws, the
    // rest of the group is closed again (an emptied remainder is removed), the current
    // manager is cleared, and the exception passes.
    bool popAndInvoke(KQUUndoManager* manager);

    // Merges the open top-level group (nestingLevel() must be 1) into the closed group
    // below it: both marks between them are deactivated, count() drops by one and the
    // manager is told didCoalesceUndoGroup(). Does nothing (after an assertion failure) at
    // another level or while the manager undoes or redoes, and nothing when there is no
    // prior group or the open group has already been merged.
    void collapseCurrentGroupIntoPriorGroup(KQUUndoManager* manager);
    // Deactivates up to three records whose target is session (not while the manager is
    // undoing or redoing).
    void deactivateUndoSession(const KQUUndoSession* session, KQUUndoManager* manager);
    // Removes every record whose target is target; a closed group left without records
    // (nested groups included) is removed too and count() follows. Open groups stay.
    void removeAllObjectsWithTarget(const void* target);
    // Unlinks and discards one record (told willBePruned). Counters are not changed: use it
    // for records other than marks.
    void removeObject(KQUUndoObject* record);
    // Discards every record (each told willBePruned) and resets the counters.
    void removeAllObjects();

    // The identifier (action name) of the open top-level group, or of the top group when
    // all are closed; nullopt when there is none or it has no name. Inside nested groups
    // this is still the top-level group's, which is the one the menu shows.
    std::optional<std::string> groupIdentifier() const;
    // Raises "... is in invalid state, calling setGroupIdentifier with no begin group mark"
    // when there is no such group.
    void setGroupIdentifier(std::optional<std::string> identifier);

    KQUUndoObject* topUndoObject() const { return mHead.get(); }
    KQUUndoObject* bottomUndoObject() const { return mHead ? mHead->mPrevious : nullptr; }
    // record's next older record; a null record is an assertion failure ("Bad current undo
    // object.") answering nullptr.
    KQUUndoObject* next(const KQUUndoObject* record) const;
    bool isEmpty() const { return !mHead; }
    uint32_t count() const { return mCount; }
    uint32_t max() const { return mMax; }
    // 0 means no limit; otherwise drops the oldest groups until count() <= max.
    void setMax(uint32_t max);
    uint32_t nestingLevel() const { return mNestingLevel; }

    // Brings the nesting level back down to level: an empty group on top is removed, any
    // other open group is closed with an end mark. Used to recover after a failed replay.
    void closeGroupsDownTo(uint32_t level);

    // Debugging.
    uint32_t deepCount() const;
    uint32_t totalBeginMarks() const;
    uint32_t totalEndMarks() const;
    bool isBeginMarkFollowedByEndMark() const;
    bool isBeginSession(const KQUUndoObject* record) const;
    std::string description() const;
    // Checks the links (every record's older neighbour points back to it, the top's
    // previous() is the bottom, the bottom has no older record), that the bottom is an
    // active begin mark, and that count() and nestingLevel() match the marks. On failure
    // answers false and says why in *problem.
    bool checkInvariant(std::string* problem = nullptr) const;

private:
    void removeBottom();
    std::unique_ptr<KQUUndoObject> unlink(KQUUndoObject* record);
    static void discard(std::unique_ptr<KQUUndoObject> record);
    std::string stateError(std::string_view selector, std::string_view what) const;

    std::unique_ptr<KQUUndoObject> mHead;
    uint32_t mMax = 0;
    uint32_t mCount = 0;
    uint32_t mNestingLevel = 0;
};

}  // namespace kqu
