// KQUTextEnumerator visits every searchable text of a document in reading order for find,
// replace, spelling and search statistics: from the insertion point or within the
// selection, forward or backward, descending into texts nested in attachments, and
// stopping when it is back where it started. Each nextSearchPosition() is a fresh copy of
// a position (KQUSearchPosition.h) whose range is the part the caller is to search;
// nullptr ends the enumeration.
//
//     KQUTextEnumerator enumerator(KQUTextEnumeratorDescendFlag, &documentServices);
//     while (auto position = enumerator.nextSearchPosition()) search(*position);
//
// An enumerator is used once. While any enumerator lives, the positions share one
// KQUTextEnumeratorCache of group data; the last one to go ends it. The text services
// (not owned) and every host object reached through them must outlive the enumerator.
// Misuse and inconsistent host data are reported through KQUAssertionHandler and the
// enumeration goes on; a selected position without a top-level text throws
// KQUException(NSInternalInconsistencyException, "No top item."). Scopes the enumerator
// opens on positions are closed again even when the host throws.
//
// Threads: one thread at a time, like every position of the process.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "kqutility/foundation/KQUCharacterSet.h"
#include "kqutility/search/KQUSearchPosition.h"

namespace kqu {

// The bits of the flags word that the enumerator reads; the others are passed through to
// the host with every call that takes flags.
inline constexpr int KQUTextEnumeratorDescendFlag = 0x1000;              // into nested texts
inline constexpr int KQUTextEnumeratorSegmentsFlag = 0x2000;             // cut ranges; no repeat filter
inline constexpr int KQUTextEnumeratorNoSiblingsFlag = 0x4000;           // go up instead of sideways
inline constexpr int KQUTextEnumeratorAlternativeCriteriaFlag = 0x8000;  // sibling criteria 11 to 14
inline constexpr int KQUTextEnumeratorBackwardFlag = 0x10000;
inline constexpr int KQUTextEnumeratorSelectionFlag = 0x20000;   // only selected positions
inline constexpr int KQUTextEnumeratorSingleLoopFlag = 0x40000;  // stop after one wrap

class KQUTextEnumerator {
public:
    KQUTextEnumerator(int flags, KQUTextServices* services);
    // Starts at a copy of initialPosition.
    KQUTextEnumerator(int flags, KQUTextServices* services, const KQUSearchPositionRef& initialPosition);
    // Also takes the top-level texts instead of asking the host.
    KQUTextEnumerator(int flags, KQUTextServices* services, const KQUSearchPositionRef& initialPosition,
                      std::vector<KQUSearchPositionRef> topLevelSearchPositions);
    ~KQUTextEnumerator();
    KQUTextEnumerator(const KQUTextEnumerator&) = delete;
    KQUTextEnumerator& operator=(const KQUTextEnumerator&) = delete;

    // The next position to search, or nullptr when the enumeration is over.
    [[nodiscard]] KQUSearchPositionRef nextSearchPosition();
    // The unfiltered core of nextSearchPosition().
    [[nodiscard]] KQUSearchPositionRef next();
    void setUseDisplayString(bool use) { mUseDisplayString = use; }

    // ---- The steps, also callable
    KQUSearchPositionRef topLevelSearchPosition(const KQUSearchPositionRef& position);
    KQUSearchPositionRef parentSearchPosition(const KQUSearchPositionRef& position);
    bool isSearchPositionEqualToOrChildOfSearchPosition(const KQUSearchPositionRef& position,
                                                        const KQUSearchPositionRef& ancestor);
    bool isInitialSibling(const KQUSearchPosition& position) const;
    bool searchPositionIsSelected(const KQUSearchPositionRef& position);
    bool alreadyEnumeratedSearchPosition(KQUSearchPosition& position) const;
    void validateTopLevelSearchPositions();
    bool validateInitialSearchPosition(const KQUSearchPositionRef& position,
                                       const std::vector<KQUSearchPositionRef>& positions);
    KQUSearchPositionRef nextChildSearchPosition(const KQUSearchPositionRef& position);
    KQUSearchPositionRef nextSiblingSearchPosition(const KQUSearchPositionRef& position);
    KQUSearchPositionRef nextParentSearchPosition(const KQUSearchPositionRef& position);
    KQUSearchPositionRef nextTopLevelSearchPosition(const KQUSearchPositionRef& position);
    // The range of the current position to hand out. Never passes the text's length.
    KQURange rangeWithLength();
    bool didWrap(KQUSearchPosition& position);

    const std::vector<KQUSearchPositionRef>& topLevelSearchPositions() const {
        return mTopLevelSearchPositions;
    }

private:
    // Holds one use of the shared cache for the enumerator's whole life (also when its
    // construction throws half way).
    struct CacheUse {
        CacheUse();
        ~CacheUse();
        CacheUse(const CacheUse&) = delete;
        CacheUse& operator=(const CacheUse&) = delete;
    };
    bool has(int flag) const { return (mFlags & flag) != 0; }
    KQUSearchPositionRef resultForCurrent();

    CacheUse mCacheUse;
    KQUTextServices* mServices;
    int mFlags;
    KQUSearchPositionRef mInitialSearchPosition;
    KQUSearchPositionRef mCurrentSearchPosition;
    std::vector<KQUSearchPositionRef> mTopLevelSearchPositions;
    bool mTopLevelGiven = false;
    std::vector<KQUSearchPositionRef> mSelectedSearchPositions;
    bool mDone = false, mInitialized = false;
    int mWrapState = 0;
    std::unordered_set<std::string> mProcessedSearchPositionKeys;
    std::optional<std::unordered_set<std::string>> mWrapData;
    bool mInitialSearchPositionHasSelection = false;
    bool mUseDisplayString = false;
    bool mDidLoop = false;
};

// Lists the text and table controllers of a document: the services of each position of
// an enumerator made with flags plus the no-siblings flag (and the descend flag when
// attachments is true). services must outlive the iterator.
class KQUTextAndTableIterator {
public:
    KQUTextAndTableIterator(KQUTextServices* services, int flags, bool attachments);
    // The next controller's services, nullptr at the end.
    KQUSearchServices* nextTextOrTableController();

private:
    KQUTextEnumerator mTE;
};

// The run of characters of set that starts at the first such character at or after index:
// (location, length) in UTF-16 code units, a surrogate pair counting as one character;
// {KQUNotFound, 0} when there is none or index is at or past the end.
[[nodiscard]] KQURange KQURangeOfCharactersFromSet(std::u16string_view text, const KQUCharacterSet& set,
                                                   uint64_t index);

}  // namespace kqu
