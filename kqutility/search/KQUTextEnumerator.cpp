#include "kqutility/search/KQUTextEnumerator.h"

#include <algorithm>
#include <exception>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {
namespace {

// A read-only search scope opened by the enumerator on a position: closed when the step
// ends, also when the host throws (a throwing end during that unwinding is dropped so the
// first exception goes on; otherwise the host's exception from the end passes).
class ReadOnlyScope {
public:
    explicit ReadOnlyScope(KQUSearchPosition& position) : mPosition(position) {
        mOpen = mPosition.beginSearchingWithReplace(false);
    }
    ~ReadOnlyScope() noexcept(false) {
        if (!mOpen) return;
        if (std::uncaught_exceptions() > mExceptions) {
            try {
                mPosition.endSearchingWithCommit(false);
            } catch (...) {
            }
        } else {
            mPosition.endSearchingWithCommit(false);
        }
    }
    ReadOnlyScope(const ReadOnlyScope&) = delete;
    ReadOnlyScope& operator=(const ReadOnlyScope&) = delete;
    bool isOpen() const { return mOpen; }

private:
    KQUSearchPosition& mPosition;
    bool mOpen = false;
    int mExceptions = std::uncaught_exceptions();
};

std::string keyOf(KQUSearchPosition& position) {
    return position.searchPositionKey().value_or(std::string());
}

}  // namespace

KQUTextEnumerator::CacheUse::CacheUse() {
    KQUTextEnumeratorCache::acquireShared();
}

KQUTextEnumerator::CacheUse::~CacheUse() {
    KQUTextEnumeratorCache::releaseShared();
}

KQUTextEnumerator::KQUTextEnumerator(int flags, KQUTextServices* services)
    : mServices(services), mFlags(flags) {
    if (!has(KQUTextEnumeratorSelectionFlag) || !mServices) return;
    mInitialSearchPosition = mServices->activeSearchPositionWithFlags(2);
    if (!mInitialSearchPosition) return;
    KQUSearchPosition& initial = *mInitialSearchPosition;
    initial.setRange({0, 0});
    std::optional<ReadOnlyScope> scope;
    if (!initial.hasStorage() && initial.textIsActive()) {
        scope.emplace(initial);
        if (!scope->isOpen()) return;
    }
    // Only a position with a storage can say whether its text has a selection; asking
    // one without would report a scope that was never opened.
    if (KQUTextStorage* storage = initial.storageIfAny()) {
        KQUTextController* controller = storage->controller();
        mInitialSearchPositionHasSelection = controller && controller->hasSelection().value_or(false);
    }
}

KQUTextEnumerator::KQUTextEnumerator(int flags, KQUTextServices* services,
                                     const KQUSearchPositionRef& initialPosition)
    : KQUTextEnumerator(flags, services) {
    if (initialPosition) mInitialSearchPosition = initialPosition->copy();
}

KQUTextEnumerator::KQUTextEnumerator(int flags, KQUTextServices* services,
                                     const KQUSearchPositionRef& initialPosition,
                                     std::vector<KQUSearchPositionRef> topLevelSearchPositions)
    : KQUTextEnumerator(flags, services, initialPosition) {
    mTopLevelSearchPositions = std::move(topLevelSearchPositions);
    mTopLevelGiven = true;
}

KQUTextEnumerator::~KQUTextEnumerator() = default;

// ---- Stepping ---------------------------------------------------------------------------

KQUSearchPositionRef KQUTextEnumerator::resultForCurrent() {
    KQURange range = rangeWithLength();
    KQUSearchPositionRef result = mCurrentSearchPosition->copy();
    result->setRange(range);
    return result;
}

KQUSearchPositionRef KQUTextEnumerator::next() {
    if (mDone) return nullptr;
    if (!mInitialized) {
        mInitialized = true;
        if (!mTopLevelGiven && mServices)
            mTopLevelSearchPositions = mServices->allSearchPositionsForFlags(mFlags);
        validateTopLevelSearchPositions();
        if (mTopLevelSearchPositions.empty()) {
            mDone = true;
            return nullptr;
        }
        if (mInitialSearchPosition &&
            !validateInitialSearchPosition(mInitialSearchPosition, mTopLevelSearchPositions))
            mInitialSearchPosition.reset();
        if (!mInitialSearchPosition)
            mInitialSearchPosition = has(KQUTextEnumeratorBackwardFlag) ? mTopLevelSearchPositions.back()
                                                                        : mTopLevelSearchPositions.front();
        mCurrentSearchPosition = mInitialSearchPosition;
        KQUSearchPositionRef result = resultForCurrent();
        mWrapState = 1;
        return result;
    }

    KQUSearchPositionRef candidate = nextChildSearchPosition(mCurrentSearchPosition);
    if (!candidate && !has(KQUTextEnumeratorNoSiblingsFlag))
        candidate = nextSiblingSearchPosition(mCurrentSearchPosition);
    if (!candidate) candidate = nextParentSearchPosition(mCurrentSearchPosition);
    if (!candidate) {
        candidate = nextTopLevelSearchPosition(mCurrentSearchPosition);
    } else {
        candidate->setUseDisplayString(mUseDisplayString);
    }
    if (candidate)
        mCurrentSearchPosition = candidate;
    else if (mTopLevelSearchPositions.size() >= 2)
        KQU_OBJECT_ASSERT_FAILURE("Should not be able to get in this state.");
    if (didWrap(*mCurrentSearchPosition)) {
        mDone = true;
        return nullptr;
    }
    return resultForCurrent();
}

KQUSearchPositionRef KQUTextEnumerator::nextSearchPosition() {
    for (;;) {
        KQUSearchPositionRef position = next();
        if (!position) return nullptr;
        std::string key = keyOf(*position);
        if (!has(KQUTextEnumeratorSegmentsFlag) && mProcessedSearchPositionKeys.count(key)) continue;
        if (has(KQUTextEnumeratorSelectionFlag) && !searchPositionIsSelected(position)) continue;
        mProcessedSearchPositionKeys.insert(std::move(key));
        return position;
    }
}

// ---- Steps ------------------------------------------------------------------------------

KQUSearchPositionRef KQUTextEnumerator::topLevelSearchPosition(const KQUSearchPositionRef& position) {
    KQUSearchPositionRef top = position ? position->copy() : nullptr;
    if (!top) throw KQUException(NSInternalInconsistencyException, "No top item.");
    while (KQUSearchPositionRef parent = top->parentSearchPosition()) top = parent;
    return top;
}

KQUSearchPositionRef KQUTextEnumerator::parentSearchPosition(const KQUSearchPositionRef& position) {
    return position ? position->parentSearchPosition() : nullptr;
}

bool KQUTextEnumerator::isSearchPositionEqualToOrChildOfSearchPosition(const KQUSearchPositionRef& position,
                                                                       const KQUSearchPositionRef& ancestor) {
    if (!position || !ancestor) return false;
    const std::string target = keyOf(*ancestor);
    for (KQUSearchPositionRef p = position; p; p = p->parentSearchPosition())
        if (keyOf(*p) == target) return true;
    return false;
}

bool KQUTextEnumerator::isInitialSibling(const KQUSearchPosition& position) const {
    return position.coordinates().row == 0 && position.coordinates().column == 0;
}

bool KQUTextEnumerator::searchPositionIsSelected(const KQUSearchPositionRef& position) {
    if (mInitialSearchPositionHasSelection && mInitialSearchPosition &&
        position->matches(*mInitialSearchPosition, true, false))
        return true;
    if (position->indexOfMatchInSearchPositionArray(mSelectedSearchPositions, true,
                                                    mInitialSearchPositionHasSelection) != KQUNotFound)
        return true;
    for (KQUSearchPositionRef p = position->parentSearchPosition(); p; p = p->parentSearchPosition())
        if (p->indexOfMatchInSearchPositionArray(mSelectedSearchPositions, true, false) != KQUNotFound)
            return true;
    return false;
}

bool KQUTextEnumerator::alreadyEnumeratedSearchPosition(KQUSearchPosition& position) const {
    return mProcessedSearchPositionKeys.count(keyOf(position)) != 0;
}

void KQUTextEnumerator::validateTopLevelSearchPositions() {
    std::vector<KQUSearchPositionRef> list;
    if (has(KQUTextEnumeratorSelectionFlag)) {
        mSelectedSearchPositions = mTopLevelSearchPositions;
        for (auto it = mSelectedSearchPositions.rbegin(); it != mSelectedSearchPositions.rend(); ++it)
            list.push_back(topLevelSearchPosition(*it));
    } else {
        list = mTopLevelSearchPositions;
    }
    std::erase_if(list,
                  [](const KQUSearchPositionRef& p) { return !p || p->parentSearchPosition() != nullptr; });
    for (size_t i = 0; i < list.size(); ++i) {
        KQUSearchServices* services = list[i]->searchServices();
        list.erase(
            std::remove_if(list.begin() + static_cast<ptrdiff_t>(i) + 1, list.end(),
                           [&](const KQUSearchPositionRef& p) { return p->searchServices() == services; }),
            list.end());
    }
    mTopLevelSearchPositions = std::move(list);
}

bool KQUTextEnumerator::validateInitialSearchPosition(const KQUSearchPositionRef& position,
                                                      const std::vector<KQUSearchPositionRef>& positions) {
    if (!position->isSearchable()) return false;
    position->setUseDisplayString(mUseDisplayString);
    if (position->indexOfMatchInSearchPositionArray(positions, true, false) != KQUNotFound) return true;
    if (has(KQUTextEnumeratorDescendFlag) &&
        topLevelSearchPosition(position)->indexOfMatchInSearchPositionArray(positions, false, false) !=
            KQUNotFound)
        return true;
    return false;
}

KQUSearchPositionRef KQUTextEnumerator::nextChildSearchPosition(const KQUSearchPositionRef& position) {
    if (!has(KQUTextEnumeratorDescendFlag) || !position) return nullptr;
    const bool backward = has(KQUTextEnumeratorBackwardFlag);
    KQUSearchPositionRef child;
    {
        ReadOnlyScope scope(*position);
        if (!scope.isOpen()) return nullptr;
        child = position->copy();
        int criteria = has(KQUTextEnumeratorSelectionFlag) ? (backward ? 8 : 7) : (backward ? 6 : 5);
        if (!child->incrementSearchPositionWithCriteria(criteria, static_cast<unsigned>(mFlags)))
            return nullptr;
    }
    child->setRange(backward ? KQURange{child->length(), 0} : KQURange{0, 0});
    return child;
}

KQUSearchPositionRef KQUTextEnumerator::nextSiblingSearchPosition(const KQUSearchPositionRef& position) {
    if (!position) return nullptr;
    const bool backward = has(KQUTextEnumeratorBackwardFlag);
    if (!position->canHaveSiblings()) {
        // The siblings are the parent attachment's texts.
        KQUAttachment* attachment = position->parentAttachment();
        if (!attachment) return nullptr;
        KQUTextStorage* sibling = nullptr;
        {
            ReadOnlyScope scope(*position);
            if (!scope.isOpen()) return nullptr;
            std::vector<KQUTextStorage*> storages = attachment->textStorages();
            auto it = std::find(storages.begin(), storages.end(), position->storageIfAny());
            int64_t index = 0;
            if (it != storages.end()) index = (it - storages.begin()) + (backward ? -1 : 1);
            if (index >= 0 && index < static_cast<int64_t>(storages.size()))
                sibling = storages[static_cast<size_t>(index)];
        }
        if (!sibling || !sibling->controller()) return nullptr;
        return KQUSearchPosition::searchPositionWithSearchServices(
            sibling->controller(), backward ? KQURange{sibling->length(), 0} : KQURange{0, 0});
    }
    int criteria = backward ? 3 : 2;
    if (has(KQUTextEnumeratorSelectionFlag)) criteria = backward ? 10 : 9;
    if (has(KQUTextEnumeratorAlternativeCriteriaFlag))
        criteria = criteria == 2 ? 13 : criteria == 3 ? 14 : criteria + 2;
    KQUSearchPositionRef sibling = position->copy();
    if (!sibling->incrementSearchPositionWithCriteria(criteria, static_cast<unsigned>(mFlags)))
        return nullptr;
    sibling->setRange(backward ? KQURange{sibling->length(), 0} : KQURange{0, 0});
    return sibling;
}

KQUSearchPositionRef KQUTextEnumerator::nextParentSearchPosition(const KQUSearchPositionRef& position) {
    KQUSearchPositionRef parent = parentSearchPosition(position);
    // Forward, the parent text goes on after the attachment character.
    if (parent && !has(KQUTextEnumeratorBackwardFlag)) parent->setLocation(parent->location() + 1);
    return parent;
}

KQUSearchPositionRef KQUTextEnumerator::nextTopLevelSearchPosition(const KQUSearchPositionRef& position) {
    if (!position) return nullptr;
    auto it = std::find_if(
        mTopLevelSearchPositions.begin(), mTopLevelSearchPositions.end(),
        [&](const KQUSearchPositionRef& p) { return p->searchServices() == position->searchServices(); });
    if (it == mTopLevelSearchPositions.end()) return nullptr;
    const bool backward = has(KQUTextEnumeratorBackwardFlag);
    size_t index = static_cast<size_t>(it - mTopLevelSearchPositions.begin());
    const size_t count = mTopLevelSearchPositions.size();
    if (!backward) {
        index = index + 1 == count ? 0 : index + 1;
        if (index == 0) mDidLoop = true;
    } else {
        if (index == 0) mDidLoop = true;
        index = index == 0 ? count - 1 : index - 1;
    }
    KQUSearchPositionRef entry = mTopLevelSearchPositions[index];
    (void)entry->incrementSearchPositionWithCriteria(backward ? 1 : 0, static_cast<unsigned>(mFlags));
    entry->setUseDisplayString(position->useDisplayString());
    entry->setRange(backward ? KQURange{entry->length(), 0} : KQURange{0, 0});
    return entry;
}

KQURange KQUTextEnumerator::rangeWithLength() {
    KQUSearchPosition& current = *mCurrentSearchPosition;
    if (!has(KQUTextEnumeratorSegmentsFlag)) return current.range();
    const uint64_t loc = current.location();
    const uint64_t len = current.length();
    const bool sameText = keyOf(current) == keyOf(*mInitialSearchPosition);
    const uint64_t initLoc = mInitialSearchPosition->location();
    uint64_t childLoc = KQUNotFound;
    if (KQUSearchPositionRef child = nextChildSearchPosition(mCurrentSearchPosition)) {
        if (KQUSearchPositionRef parent = child->parentSearchPosition())
            childLoc = parent->location();
        else
            KQU_OBJECT_ASSERT_FAILURE("Bogus: no parent found.");
    }
    const bool backward = has(KQUTextEnumeratorBackwardFlag);
    // A child on the wrong side of the current location would make a negative length:
    // the segment then runs as if there were no child.
    if (childLoc != KQUNotFound && (backward ? childLoc >= loc : childLoc < loc)) {
        KQU_OBJECT_ASSERT_FAILURE("Bad child location.");
        childLoc = KQUNotFound;
    }
    const bool hasChild = childLoc != KQUNotFound;
    KQURange range;
    if (!backward) {
        if (loc < initLoc && sameText && (!hasChild || childLoc > initLoc))
            range = {loc, initLoc - loc};
        else if (hasChild)
            range = {loc, childLoc - loc};
        else if (loc > len) {
            KQULogWarning("Bogus data sent to KQUTextEnumerator.");
            range = {len, 0};
        } else
            range = {loc, len - loc};
    } else {
        if (loc > initLoc && sameText && (!hasChild || childLoc < initLoc))
            range = {initLoc, loc - initLoc};
        else if (hasChild)
            range = {childLoc + 1, loc - childLoc - 1};
        else
            range = {0, loc};
    }
    if (range.location > len || range.length > len - range.location) {
        KQULogWarning("Bogus data sent to KQUTextEnumerator.");
        range.location = std::min(range.location, len);
        range.length = std::min(range.length, len - range.location);
    }
    return range;
}

bool KQUTextEnumerator::didWrap(KQUSearchPosition& position) {
    if (mWrapState == 0) {
        mWrapState = 1;
        return false;
    }
    if (!mWrapData) {
        mWrapData.emplace();
        mWrapData->insert(mInitialSearchPosition->searchPositionKeyWithRange().value_or(std::string()));
    }
    std::string key = position.searchPositionKeyWithRange().value_or(std::string());
    if (mWrapData->count(key)) return true;
    mWrapData->insert(std::move(key));
    return mDidLoop && has(KQUTextEnumeratorSingleLoopFlag);
}

// ---- KQUTextAndTableIterator ------------------------------------------------------------

KQUTextAndTableIterator::KQUTextAndTableIterator(KQUTextServices* services, int flags, bool attachments)
    : mTE(flags | KQUTextEnumeratorNoSiblingsFlag | (attachments ? KQUTextEnumeratorDescendFlag : 0),
          services) {}

KQUSearchServices* KQUTextAndTableIterator::nextTextOrTableController() {
    KQUSearchPositionRef position = mTE.nextSearchPosition();
    return position ? position->searchServices() : nullptr;
}

// ---- Character runs ---------------------------------------------------------------------

namespace {

// The character at i and its length in code units (2 for a surrogate pair).
std::pair<char32_t, uint64_t> characterAt(std::u16string_view text, uint64_t i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
        return {0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00), 2};
    return {c, 1};
}

}  // namespace

KQURange KQURangeOfCharactersFromSet(std::u16string_view text, const KQUCharacterSet& set, uint64_t index) {
    uint64_t i = index;
    while (i < text.size()) {
        auto [c, width] = characterAt(text, i);
        if (set.contains(c)) {
            uint64_t end = i + width;
            while (end < text.size()) {
                auto [next, nextWidth] = characterAt(text, end);
                if (!set.contains(next)) break;
                end += nextWidth;
            }
            return {i, end - i};
        }
        i += width;
    }
    return {KQUNotFound, 0};
}

}  // namespace kqu
