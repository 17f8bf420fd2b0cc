// KQUSearchPosition: one place in a document's forest of texts, as find, replace and
// spelling see it: which services own the text, which table cell, which character range.
// A position can be copied, compared and turned into a string key; it opens and closes
// search scopes on its services; it moves to the first, last, next or previous text of
// its services (criteria below); and it knows its parent position (the character of the
// enclosing text where its attachment sits) and its index among a group's drawables.
//
// Criteria passed to KQUSearchServices::incrementSearchPosition by the library:
//   0 first text, 1 last text, 2/3 next/previous, 5/6 first nested text forward/backward,
//   7/8 the same within the selection, 9/10 next/previous within the selection, 11/12 as
//   9/10 and 13/14 as 2/3 under the enumerator's alternative-criteria flag.
//
// Positions are held by KQUSearchPositionRef (std::shared_ptr). copy() makes a position of
// the receiver's own class: a host subclass (the one that implements activatePage)
// overrides makeEmptyCopy(). The services, page and non-retained storage are raw pointers
// whose objects must outlive the position (see KQUSearchServices.h); the cookie, selection,
// text frame and a retained storage are shared.
//
// Group data (the group's drawables and the index of each) is shared by all positions of
// one enumeration through KQUTextEnumeratorCache, which exists while a KQUTextEnumerator
// does. Misuse is reported through KQUAssertionHandler and the call goes on with the
// stated fallback. Threads: one thread at a time for all positions of a process.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "kqutility/collections/KQUPointerDictionary.h"
#include "kqutility/search/KQUSearchServices.h"

namespace kqu {

// Group data kept by the shared cache: a group's drawables ("gc <address>") or the index
// of each root identifier among them ("gi <address>").
struct KQUTextEnumeratorCacheEntry {
    std::vector<KQUDrawable*> drawables;
    std::unordered_map<std::string, uint64_t> indexByRoot;
};

// The store for group data shared by all positions of one enumeration. At most one exists
// (currentTextEnumeratorCache()); KQUTextEnumerator creates it and ends its life.
class KQUTextEnumeratorCache {
public:
    static std::shared_ptr<KQUTextEnumeratorCache> currentTextEnumeratorCache();

    [[nodiscard]] std::shared_ptr<KQUTextEnumeratorCacheEntry> objectForKey(const std::string& key) const;
    void setObject(std::shared_ptr<KQUTextEnumeratorCacheEntry> object, const std::string& key);
    void incrementUsageCount() { ++mUsageCount; }
    // Lowering a count of 0 logs "KQUTextEnumeratorCache: decrementUsageCount" and leaves it.
    void decrementUsageCount();
    [[nodiscard]] uint64_t usageCount() const { return mUsageCount; }

    // For KQUTextEnumerator: makes the shared instance when there is none, and drops it.
    static std::shared_ptr<KQUTextEnumeratorCache> acquireShared();
    static void releaseShared();

private:
    std::unique_ptr<KQUNoCopyDictionary<std::string, KQUTextEnumeratorCacheEntry>> mCache;
    uint64_t mUsageCount = 0;
};

class KQUSearchPosition : public std::enable_shared_from_this<KQUSearchPosition> {
public:
    KQUSearchPosition() = default;
    virtual ~KQUSearchPosition() = default;
    KQUSearchPosition(const KQUSearchPosition&) = delete;
    KQUSearchPosition& operator=(const KQUSearchPosition&) = delete;

    static KQUSearchPositionRef searchPositionWithSearchServices(KQUSearchServices* services, KQURange range);
    static KQUSearchPositionRef searchPositionWithSearchServices(KQUSearchServices* services,
                                                                 KQUSearchCoordinates coordinates,
                                                                 KQURange range);
    // One new position per services, range (0, 0), in order.
    static std::vector<KQUSearchPositionRef> searchPositionsFromSearchServices(
        const std::vector<KQUSearchServices*>& services);
    // Fills a fresh position as the creation functions do (for subclasses).
    void initWithSearchServices(KQUSearchServices* services, KQUSearchCoordinates coordinates,
                                KQURange range);

    // A position of the receiver's class with the same range, coordinates, cookie, page,
    // text frame, text-active flag, selection, display-string flag, services and group
    // data; no open scope, the services' storage (not retained).
    [[nodiscard]] KQUSearchPositionRef copy();
    // The same fields as copy(), applied to the receiver. nullptr reports "Bad search
    // position input.".
    void setToSearchPosition(const KQUSearchPosition* position);

    // ---- Accessors
    KQURange range() const { return mRange; }
    void setRange(KQURange range);
    uint64_t location() const { return mRange.location; }
    void setLocation(uint64_t location) { setRange({location, 0}); }
    KQUSearchCoordinates coordinates() const { return mCoordinates; }
    void setCoordinates(KQUSearchCoordinates coordinates);
    const std::shared_ptr<void>& cookie() const { return mCookie; }
    void setCookie(std::shared_ptr<void> cookie) { mCookie = std::move(cookie); }
    void* page() const { return mPage; }
    void setPage(void* page) { mPage = page; }
    const std::shared_ptr<KQUTextSelection>& selection() const { return mSelection; }
    void setSelection(std::shared_ptr<KQUTextSelection> selection) { mSelection = std::move(selection); }
    const std::shared_ptr<KQUWPFrame>& wpFrame() const { return mWPFrame; }
    void setWPFrame(std::shared_ptr<KQUWPFrame> frame) { mWPFrame = std::move(frame); }
    bool textIsActive() const { return mTextIsActive; }
    void setTextIsActive(bool active) { mTextIsActive = active; }
    bool useDisplayString() const { return mUseDisplayString; }
    void setUseDisplayString(bool use) { mUseDisplayString = use; }
    bool autoScrollToSelection() const { return mAutoScrollToSelection; }
    void setAutoScrollToSelection(bool scroll) { mAutoScrollToSelection = scroll; }
    bool initiatedEditing() const { return mInitiatedEditing; }
    void setInitiatedEditing(bool initiated) { mInitiatedEditing = initiated; }
    KQUSearchServices* searchServices() const { return mSearchServices; }
    void* document() const { return mDocument; }
    // The identifier: the parent-attachment services' address ("0x0" for none); nullopt
    // without services.
    const std::optional<std::string>& searchPositionRoot() const { return mIdentifier; }
    uint64_t searchLevel() const { return mSearchingCount; }
    bool beganSearchingWithReplace() const { return mWithReplace; }

    // Stores and keeps (shares) storage.
    void setStorage(std::shared_ptr<KQUTextStorage> storage);
    bool hasStorage() const { return mStorage != nullptr; }
    // The storage or nullptr, without the report storage() makes.
    KQUTextStorage* storageIfAny() const { return mStorage; }
    // Without a storage reports "call beginSearching on the search Services prior to
    // using." and answers nullptr.
    KQUTextStorage* storage();
    uint64_t length();
    std::optional<std::u16string> string();

    // Makes the services' own storage (not retained) the position's storage: for hosts
    // that move a position onto other services in incrementSearchPosition.
    void takeServicesStorage();

    // ---- Keys and comparison
    // "<identifier> <row> <column>" and "... <location> <length>"; nullopt without services.
    std::optional<std::string> searchPositionKey();
    std::optional<std::string> searchPositionKeyWithRange();
    void flushKeys();
    bool matches(const KQUSearchPosition& other, bool matchCoordinates, bool matchRanges) const;
    bool matchesWithRanges(const KQUSearchPosition& other, bool matchRanges) const {
        return matches(other, true, matchRanges);
    }
    // Coordinates always; with matchLocations the range locations only.
    bool matchesWithLocations(const KQUSearchPosition& other, bool matchLocations) const;
    // The first index whose element the receiver matches, else KQUNotFound.
    uint64_t indexOfMatchInSearchPositionArray(const std::vector<KQUSearchPositionRef>& positions,
                                               bool matchCoordinates, bool matchRanges) const;

    // ---- Search scopes
    // Opens a scope; the outermost one asks the services (their false is answered, nothing
    // changed).
    [[nodiscard]] bool beginSearchingWithReplace(bool withReplace);
    // Closes a scope; the outermost one tells the services, unless it was borrowed.
    void endSearchingWithCommit(bool commit);
    // Opens a scope on another position's storage instead of asking the services. false,
    // with "No storage." reported and nothing changed, when that position has none.
    [[nodiscard]] bool beginUsingStorageFromSearchPosition(const KQUSearchPosition& position);
    // Moves a position that points at a table cell's inline editor onto the table.
    void resolveSearchServices();

    // ---- Movement
    [[nodiscard]] bool incrementSearchPositionWithCriteria(int criteria, unsigned flags);
    [[nodiscard]] bool incrementSearchPositionForGroupWithCriteria(int criteria, unsigned flags);

    // ---- Hierarchy and groups
    KQUSearchPositionRef parentSearchPosition();
    KQUAttachment* parentAttachment() const;
    KQUSearchServices* parentAttachmentSearchServices() const;
    bool isParentGroupSelected();
    bool isGrouped() const;
    bool canHaveSiblings() const;
    uint64_t groupIndex();
    uint64_t calculateGroupIndex();
    uint64_t groupCount();
    KQUSearchPositionRef searchPositionForGroupIndex(uint64_t index);
    const std::vector<KQUDrawable*>* groupCache();
    void setGroupCache(std::optional<std::vector<KQUDrawable*>> cache);
    void setSearchServices(KQUSearchServices* services, std::optional<std::vector<KQUDrawable*>> groupCache,
                           uint64_t groupIndex);
    static std::shared_ptr<KQUTextEnumeratorCache> textEnumeratorCache();

    // ---- Forwarded to the services (defaults without services or without the method)
    unsigned textKind() const;
    KQUTextServices* textServices() const;
    bool isSearchable() const;
    bool canSpellCheck();
    bool isFormula();
    void* wpTextCell();
    KQUTextStorage* editingStorage();
    KQUSearchPositionRef activeSearchPosition() const;
    KQURange currentTextRange() const;
    void setBackgroundSearchString(std::u16string_view text, bool grewOnly, bool matchCase, bool wholeWords);
    int statisticsTrackingDepth() const;
    void setStatisticsTrackingDepth(int depth);
    KQUSearchStatistics getStatisticsUsingSearchEngine(void* engine, int milliseconds, int depth);
    void activateSearchPosition();
    // A host subclass's duty; the base reports "KQUSearchPosition subclass must implement
    // activatePage".
    virtual void activatePage();

    std::string description();

protected:
    // An empty position of the receiver's class, for copy().
    virtual KQUSearchPositionRef makeEmptyCopy() const;

private:
    void copyFieldsFrom(KQUSearchPosition& source);
    KQUDrawable* groupingDrawable() const;
    std::vector<KQUDrawable*> groupMembers(KQUDrawable* drawable) const;

    KQUSearchServices* mSearchServices = nullptr;
    void* mDocument = nullptr;
    KQUTextStorage* mStorage = nullptr;
    std::shared_ptr<KQUTextStorage> mRetainedStorage;  // set when the storage is retained
    KQURange mRange{};
    KQUSearchCoordinates mCoordinates{};
    std::shared_ptr<void> mCookie;
    void* mPage = nullptr;
    std::shared_ptr<KQUTextSelection> mSelection;
    std::shared_ptr<KQUWPFrame> mWPFrame;
    bool mTextIsActive = false;
    uint64_t mSearchingCount = 0;
    bool mWithReplace = false;
    bool mBorrowedScope = false;  // the outermost scope came from beginUsingStorageFromSearchPosition
    std::optional<std::string> mIdentifier;
    uint64_t mGroupIndex = KQUNotFound;
    bool mAutoScrollToSelection = true;
    bool mInitiatedEditing = false;
    std::optional<std::vector<KQUDrawable*>> mGroupCache;
    std::optional<std::string> mSearchPositionKey, mSearchPositionWithRangeKey;
    bool mUseDisplayString = false;
    bool mGroupIndexIsDirty = true, mGroupCacheIsDirty = true;
};

}  // namespace kqu
