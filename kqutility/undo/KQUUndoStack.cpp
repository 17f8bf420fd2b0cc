#include "kqutility/undo/KQUUndoStack.h"

#include <vector>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/undo/KQUUndoManager.h"

namespace kqu {

namespace {

constexpr const char* kClassName = "KQUUndoStack";

// Tells a record it is being thrown away. What the record's argument does about it is not
// the stack's business: a failure there is logged and the stack carries on consistently.
void prune(KQUUndoObject* record) noexcept {
    try {
        record->willBePruned();
    } catch (const std::exception& e) {
        KQULogError("An undo record failed while being pruned: {}", e.what());
    } catch (...) {
        KQULogError("An undo record failed while being pruned");
    }
}

bool isDeactivatedMark(const KQUUndoObject* r) {
    return r->isDeactivatedBeginMark() || r->isDeactivatedEndMark();
}

}  // namespace

KQUUndoStack::~KQUUndoStack() {
    mHead.reset();
}

std::string KQUUndoStack::stateError(std::string_view selector, std::string_view what) const {
    return fmt::format("{}: {} {} is in invalid state, {}", selector, kClassName, detail::undoAddress(this),
                       what);
}

void KQUUndoStack::discard(std::unique_ptr<KQUUndoObject> record) {
    if (record) prune(record.get());
}

void KQUUndoStack::push(std::unique_ptr<KQUUndoObject> record) {
    if (!record) return;
    if (record->isEndMark() && mNestingLevel == 0)
        throw KQUException(NSInternalInconsistencyException,
                           fmt::format("{} -- {} {} pushing more ends than begins onto stack",
                                       "push:", kClassName, detail::undoAddress(this)));
    KQUUndoObject* r = record.get();
    KQUUndoObject* oldTop = mHead.get();
    r->mPrevious = oldTop ? oldTop->mPrevious : r;
    if (oldTop) oldTop->mPrevious = r;
    r->mNext = std::move(mHead);
    mHead = std::move(record);
    if (r->isEndMark()) {
        if (--mNestingLevel == 0 && mMax != 0 && mCount > mMax) removeBottom();
    } else if (r->isBeginMark()) {
        if (mNestingLevel++ == 0) ++mCount;
    }
}

std::unique_ptr<KQUUndoObject> KQUUndoStack::popUndoObject() {
    if (!mHead) return nullptr;
    if (mHead->isBeginMark() && mNestingLevel == 0)
        throw KQUException(NSInternalInconsistencyException,
                           fmt::format("{} -- {} {} popping more begins than ends from stack",
                                       "popUndoObject", kClassName, detail::undoAddress(this)));
    std::unique_ptr<KQUUndoObject> record = std::move(mHead);
    mHead = std::move(record->mNext);
    if (mHead) mHead->mPrevious = record->mPrevious;
    record->mPrevious = nullptr;
    if (record->isBeginMark()) {
        if (--mNestingLevel == 0) --mCount;
    } else if (record->isEndMark()) {
        ++mNestingLevel;
    }
    return record;
}

void KQUUndoStack::markBegin() {
    push(std::make_unique<KQUUndoBeginMark>());
}
void KQUUndoStack::markEnd() {
    push(std::make_unique<KQUUndoEndMark>());
}

namespace {
// Makes manager the current undo manager for one replayed record, and puts back the one
// before it however the record ends.
class CurrentManagerScope {
public:
    explicit CurrentManagerScope(KQUUndoManager* manager) : mPrevious(KQUUndoManager::currentUndoManager()) {
        KQUUndoManager::setCurrentUndoManager(manager);
    }
    ~CurrentManagerScope() { KQUUndoManager::setCurrentUndoManager(mPrevious); }
    CurrentManagerScope(const CurrentManagerScope&) = delete;
    CurrentManagerScope& operator=(const CurrentManagerScope&) = delete;

private:
    KQUUndoManager* mPrevious;
};
}  // namespace

bool KQUUndoStack::popAndInvoke(KQUUndoManager* manager) {
    if (mHead && !mHead->isEndMark())
        throw KQUException(
            NSInternalInconsistencyException,
            stateError("popAndInvoke:", "call endUndoGrouping on undo manager before calling this method\n"));
    const uint32_t entryLevel = mNestingLevel;
    bool poppedRecord = false;
    int64_t depth = 0;
    try {
        while (mHead) {
            if (mHead->isBeginMark()) {
                --depth;
                discard(popUndoObject());
            } else if (mHead->isEndMark()) {
                ++depth;
                discard(popUndoObject());
            } else {
                std::unique_ptr<KQUUndoObject> record = popUndoObject();
                if (!record->isMark()) poppedRecord = true;
                if (!record->isDeactivated()) {
                    CurrentManagerScope scope(manager);
                    record->invoke(manager ? manager->currentSession().get() : nullptr);
                }
            }
            if (depth <= 0) break;
        }
    } catch (...) {
        // What is left of the group stays undoable as a closed group of its own.
        closeGroupsDownTo(entryLevel);
        throw;
    }
    return poppedRecord;
}

void KQUUndoStack::closeGroupsDownTo(uint32_t level) {
    while (mNestingLevel > level) {
        KQUUndoObject* r = mHead.get();
        while (r && isDeactivatedMark(r)) r = r->next();
        if (r && r->isBeginMark()) {
            for (;;) {
                bool isOpeningMark = mHead.get() == r;
                discard(popUndoObject());
                if (isOpeningMark) break;
            }
        } else {
            markEnd();
        }
    }
}

void KQUUndoStack::removeBottom() {
    const char* const error = "Error while removing bottom of undo stack.";
    KQUUndoObject* bottom = bottomUndoObject();
    if (!bottom || !bottom->isBeginMark()) throw KQUException(NSInternalInconsistencyException, error);
    // Find the end mark that closes the bottom group before touching anything.
    KQUUndoObject* end = nullptr;
    int64_t level = 0;
    for (KQUUndoObject* r = bottom;; r = r->mPrevious) {
        if (r->isBeginMark()) {
            ++level;
        } else if (r->isEndMark() && --level == 0) {
            end = r;
            break;
        }
        if (r == mHead.get()) break;
    }
    if (!end) throw KQUException(NSInternalInconsistencyException, error);

    std::unique_ptr<KQUUndoObject> doomed;
    if (end == mHead.get()) {
        doomed = std::move(mHead);
    } else {
        KQUUndoObject* newBottom = end->mPrevious;
        doomed = std::move(newBottom->mNext);
        mHead->mPrevious = newBottom;
    }
    --mCount;
    // The group is off the stack already, so whatever the records do when told cannot
    // disturb it; tell them oldest first, then free them.
    for (KQUUndoObject* r = bottom;; r = r->mPrevious) {
        prune(r);
        if (r == end) break;
    }
}

void KQUUndoStack::setMax(uint32_t max) {
    mMax = max;
    if (mMax == 0) return;
    while (mCount > mMax) removeBottom();
}

void KQUUndoStack::collapseCurrentGroupIntoPriorGroup(KQUUndoManager* manager) {
    if (manager && manager->isUndoingOrRedoing()) {
        KQU_OBJECT_ASSERT_FAILURE("Do not collapse groupings during undo or redo.");
        return;
    }
    if (mNestingLevel != 1) {
        KQU_OBJECT_ASSERT_FAILURE(
            "Do not collapse nested groupings (> 1), and do not collapse if not in a particular grouping "
            "(==0)");
        return;
    }
    // Walk down to the begin mark of the open top-level group, counting the closed groups
    // nested inside it so that one of those is never taken for it.
    KQUUndoObject* bottom = bottomUndoObject();
    int64_t depth = mNestingLevel;
    for (KQUUndoObject* r = mHead.get(); r && r != bottom; r = r->next()) {
        if (isDeactivatedMark(r)) return;  // this group was merged already
        if (r->isEndMark()) {
            ++depth;
        } else if (r->isBeginMark() && --depth == 0) {
            KQUUndoObject* prior = r->next();
            if (!prior || !prior->isEndMark()) return;
            r->setIsDeactivated(true);
            prior->setIsDeactivated(true);
            --mCount;
            if (manager) manager->didCoalesceUndoGroup();
            return;
        }
    }
}

void KQUUndoStack::deactivateUndoSession(const KQUUndoSession* session, KQUUndoManager* manager) {
    if (!session || (manager && manager->isUndoingOrRedoing())) return;
    KQUUndoObject* bottom = bottomUndoObject();
    int found = 0;
    for (KQUUndoObject* r = mHead.get(); r && r != bottom && found < 3; r = r->next()) {
        if (r->target() == session) {
            r->setIsDeactivated(true);
            ++found;
        }
    }
}

void KQUUndoStack::removeAllObjectsWithTarget(const void* target) {
    if (!target || !mHead) return;
    // Oldest first, keeping the groups that are open at this point of the walk. Records of
    // the target go at once; a group goes with its marks only when this removal emptied
    // it: it lost records (its own, or nested groups that went) and nothing is left in
    // it. A group that was already empty (an explicitly named empty group) stays, and so
    // does a group that still holds one. Deactivated marks, the seams of merged groups,
    // are neither records nor marks here.
    struct OpenGroup {
        KQUUndoObject* begin;
        bool holdsSomething = false;
        bool lostSomething = false;
    };
    std::vector<OpenGroup> open;
    KQUUndoObject* r = bottomUndoObject();
    while (r) {
        KQUUndoObject* newer = r == mHead.get() ? nullptr : r->mPrevious;
        if (r->isBeginMark()) {
            open.push_back({r});
        } else if (r->isEndMark()) {
            if (!open.empty()) {
                OpenGroup group = open.back();
                open.pop_back();
                if (group.holdsSomething || !group.lostSomething) {
                    if (!open.empty()) open.back().holdsSomething = true;
                } else {
                    for (KQUUndoObject* x = group.begin;;) {
                        KQUUndoObject* after = x->mPrevious;
                        bool last = x == r;
                        removeObject(x);
                        if (last) break;
                        x = after;
                    }
                    if (open.empty())
                        --mCount;
                    else
                        open.back().lostSomething = true;
                }
            }
        } else if (!r->isMark()) {
            if (r->target() == target) {
                removeObject(r);
                if (!open.empty()) open.back().lostSomething = true;
            } else if (!open.empty()) {
                open.back().holdsSomething = true;
            }
        }
        r = newer;
    }
}

std::unique_ptr<KQUUndoObject> KQUUndoStack::unlink(KQUUndoObject* record) {
    KQUUndoObject* top = mHead.get();
    std::unique_ptr<KQUUndoObject> owned;
    if (record == top) {
        owned = std::move(mHead);
        mHead = std::move(owned->mNext);
        if (mHead) mHead->mPrevious = owned->mPrevious;
    } else {
        KQUUndoObject* newer = record->mPrevious;
        owned = std::move(newer->mNext);
        newer->mNext = std::move(owned->mNext);
        if (newer->mNext)
            newer->mNext->mPrevious = newer;
        else
            top->mPrevious = newer;  // the record was the bottom
    }
    owned->mPrevious = nullptr;
    return owned;
}

void KQUUndoStack::removeObject(KQUUndoObject* record) {
    if (!record || !mHead) return;
    discard(unlink(record));
}

void KQUUndoStack::removeAllObjects() {
    std::unique_ptr<KQUUndoObject> chain = std::move(mHead);
    mCount = 0;
    mNestingLevel = 0;
    for (KQUUndoObject* r = chain.get(); r; r = r->next()) prune(r);
}

namespace {
KQUUndoBeginMark* identifiedMark(KQUUndoObject* top, uint32_t nestingLevel) {
    int64_t counter = nestingLevel;
    for (KQUUndoObject* r = top; r; r = r->next()) {
        if (r->isEndMark()) {
            ++counter;
        } else if (r->isBeginMark() && counter > 0) {
            if (--counter == 0) return static_cast<KQUUndoBeginMark*>(r);
        }
    }
    return nullptr;
}
}  // namespace

std::optional<std::string> KQUUndoStack::groupIdentifier() const {
    KQUUndoBeginMark* mark = identifiedMark(mHead.get(), mNestingLevel);
    return mark ? mark->groupIdentifier() : std::nullopt;
}

void KQUUndoStack::setGroupIdentifier(std::optional<std::string> identifier) {
    KQUUndoBeginMark* mark = identifiedMark(mHead.get(), mNestingLevel);
    if (!mark)
        throw KQUException(
            NSInternalInconsistencyException,
            stateError("setGroupIdentifier:", "calling setGroupIdentifier with no begin group mark\n"));
    mark->setGroupIdentifier(std::move(identifier));
}

KQUUndoObject* KQUUndoStack::next(const KQUUndoObject* record) const {
    if (!record) {
        KQU_OBJECT_ASSERT_FAILURE("Bad current undo object.");
        return nullptr;
    }
    return record->next();
}

uint32_t KQUUndoStack::deepCount() const {
    uint32_t n = 0;
    for (KQUUndoObject* r = mHead.get(); r; r = r->next()) ++n;
    return n;
}

uint32_t KQUUndoStack::totalBeginMarks() const {
    uint32_t n = 0;
    for (KQUUndoObject* r = mHead.get(); r; r = r->next())
        if (r->isBeginMark()) ++n;
    return n;
}

uint32_t KQUUndoStack::totalEndMarks() const {
    uint32_t n = 0;
    for (KQUUndoObject* r = mHead.get(); r; r = r->next())
        if (r->isEndMark()) ++n;
    return n;
}

bool KQUUndoStack::isBeginMarkFollowedByEndMark() const {
    return mHead && mHead->isBeginMark() && mHead->next() && mHead->next()->isEndMark();
}

bool KQUUndoStack::isBeginSession(const KQUUndoObject* record) const {
    return record && record->isUndoSessionTarget() && record->argument() != nullptr;
}

std::string KQUUndoStack::description() const {
    std::string out = fmt::format("Count: {} calculatedCount: {}\n", mCount, deepCount());
    int64_t depth = mNestingLevel;
    int index = 0;
    for (KQUUndoObject* r = mHead.get(); r; r = r->next(), ++index) {
        out += fmt::format("{}. {}\n", index, r->description());
        if (r->isEndMark()) {
            ++depth;
        } else if (r->isBeginMark()) {
            if (depth > 0) --depth;
            const auto& identifier = static_cast<KQUUndoBeginMark*>(r)->groupIdentifier();
            out += std::string(static_cast<size_t>(depth), '.');
            out += fmt::format("\"{}\"\n", identifier ? *identifier : std::string("(null)"));
        }
    }
    return out;
}

bool KQUUndoStack::checkInvariant(std::string* problem) const {
    auto fail = [&](std::string what) {
        if (problem) *problem = std::move(what);
        return false;
    };
    if (!mHead) {
        if (mCount != 0 || mNestingLevel != 0)
            return fail(fmt::format("empty stack with count {} and nesting level {}", mCount, mNestingLevel));
        return true;
    }
    KQUUndoObject* bottom = mHead->mPrevious;
    if (!bottom) return fail("the top record has no link to the bottom");
    uint64_t records = 0;
    KQUUndoObject* last = nullptr;
    for (KQUUndoObject* r = mHead.get(); r; r = r->next()) {
        ++records;
        if (r->next() && r->next()->mPrevious != r)
            return fail(
                fmt::format("record {} is not the newer neighbour of the record below it", records - 1));
        last = r;
    }
    if (last != bottom) return fail("the top record's link does not reach the bottom record");
    if (!bottom->isBeginMark()) return fail("the bottom record is not an active begin mark");
    // Oldest first through the back links, which must reach the top in as many steps.
    uint64_t seen = 0;
    uint32_t groups = 0;
    int64_t level = 0;
    for (KQUUndoObject* r = bottom;; r = r->mPrevious) {
        ++seen;
        if (seen > records) return fail("the back links do not lead from the bottom to the top");
        if (r->isBeginMark()) {
            if (level++ == 0) ++groups;
        } else if (r->isEndMark()) {
            if (level-- == 0) return fail("an end mark closes no group");
        }
        if (r == mHead.get()) break;
    }
    if (seen != records) return fail("the back links skip records");
    if (groups != mCount)
        return fail(fmt::format("count is {} but the stack holds {} groups", mCount, groups));
    if (level != mNestingLevel)
        return fail(fmt::format("nesting level is {} but {} groups are open", mNestingLevel, level));
    return true;
}

}  // namespace kqu
