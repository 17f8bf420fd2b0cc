#include "kqutility/search/KQUSearchPosition.h"

#include <typeinfo>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUScopeExit.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {
namespace {

std::shared_ptr<KQUTextEnumeratorCache> sTextEnumeratorCache;
// Guards calculateGroupIndex against re-entry through the host's drawables.
bool sCalculateGroupIndex = false;

std::string rootOf(KQUSearchServices* parentServices) {
    return fmt::format("{}", fmt::ptr(parentServices));
}

}  // namespace

// ---- KQUTextEnumeratorCache -------------------------------------------------------------

std::shared_ptr<KQUTextEnumeratorCache> KQUTextEnumeratorCache::currentTextEnumeratorCache() {
    return sTextEnumeratorCache;
}

std::shared_ptr<KQUTextEnumeratorCacheEntry> KQUTextEnumeratorCache::objectForKey(
    const std::string& key) const {
    return mCache ? mCache->objectForKey(key) : nullptr;
}

void KQUTextEnumeratorCache::setObject(std::shared_ptr<KQUTextEnumeratorCacheEntry> object,
                                       const std::string& key) {
    if (!mCache) mCache = std::make_unique<KQUNoCopyDictionary<std::string, KQUTextEnumeratorCacheEntry>>();
    mCache->setObject(std::move(object), std::make_shared<std::string>(key));
}

void KQUTextEnumeratorCache::decrementUsageCount() {
    if (mUsageCount == 0) {
        KQULogError("KQUTextEnumeratorCache: decrementUsageCount");
        return;
    }
    --mUsageCount;
}

std::shared_ptr<KQUTextEnumeratorCache> KQUTextEnumeratorCache::acquireShared() {
    if (!sTextEnumeratorCache) sTextEnumeratorCache = std::make_shared<KQUTextEnumeratorCache>();
    sTextEnumeratorCache->incrementUsageCount();
    return sTextEnumeratorCache;
}

void KQUTextEnumeratorCache::releaseShared() {
    if (!sTextEnumeratorCache) return;
    sTextEnumeratorCache->decrementUsageCount();
    if (sTextEnumeratorCache->usageCount() == 0) sTextEnumeratorCache.reset();
}

// ---- Creation and copying ---------------------------------------------------------------

KQUSearchPositionRef KQUSearchPosition::searchPositionWithSearchServices(KQUSearchServices* services,
                                                                         KQURange range) {
    return searchPositionWithSearchServices(services, {}, range);
}

KQUSearchPositionRef KQUSearchPosition::searchPositionWithSearchServices(KQUSearchServices* services,
                                                                         KQUSearchCoordinates coordinates,
                                                                         KQURange range) {
    auto position = std::make_shared<KQUSearchPosition>();
    position->initWithSearchServices(services, coordinates, range);
    return position;
}

std::vector<KQUSearchPositionRef> KQUSearchPosition::searchPositionsFromSearchServices(
    const std::vector<KQUSearchServices*>& services) {
    std::vector<KQUSearchPositionRef> positions;
    positions.reserve(services.size());
    for (auto* s : services) positions.push_back(searchPositionWithSearchServices(s, {0, 0}));
    return positions;
}

void KQUSearchPosition::initWithSearchServices(KQUSearchServices* services, KQUSearchCoordinates coordinates,
                                               KQURange range) {
    setSearchServices(services, std::nullopt, KQUNotFound);
    takeServicesStorage();
    mCoordinates = coordinates;
    setRange(range);
}

KQUSearchPositionRef KQUSearchPosition::makeEmptyCopy() const {
    return std::make_shared<KQUSearchPosition>();
}

void KQUSearchPosition::takeServicesStorage() {
    mRetainedStorage.reset();
    mStorage = nullptr;
    if (!mSearchServices) return;
    if (auto storage = mSearchServices->storage()) mStorage = *storage;
}

void KQUSearchPosition::copyFieldsFrom(KQUSearchPosition& source) {
    // Group data is computed on the source first, so that the copy shares it.
    const std::vector<KQUDrawable*>* cache = source.groupCache();
    uint64_t index = source.groupIndex();
    std::optional<std::vector<KQUDrawable*>> cacheCopy;
    if (cache) cacheCopy = *cache;
    mCoordinates = source.mCoordinates;
    mCookie = source.mCookie;
    mPage = source.mPage;
    mWPFrame = source.mWPFrame;
    mTextIsActive = source.mTextIsActive;
    mSelection = source.mSelection;
    mUseDisplayString = source.mUseDisplayString;
    KQURange range = source.mRange;
    setSearchServices(source.mSearchServices, std::move(cacheCopy), index);
    setRange(range);
    mSearchingCount = 0;
    mBorrowedScope = false;
    takeServicesStorage();
}

KQUSearchPositionRef KQUSearchPosition::copy() {
    KQUSearchPositionRef result = makeEmptyCopy();
    result->copyFieldsFrom(*this);
    return result;
}

void KQUSearchPosition::setToSearchPosition(const KQUSearchPosition* position) {
    if (!position) {
        KQU_OBJECT_ASSERT_FAILURE("Bad search position input.");
        return;
    }
    if (position == this) {
        mSearchingCount = 0;
        mBorrowedScope = false;
        takeServicesStorage();
        return;
    }
    copyFieldsFrom(const_cast<KQUSearchPosition&>(*position));
}

// ---- Accessors --------------------------------------------------------------------------

void KQUSearchPosition::setRange(KQURange range) {
    mRange = range;
    flushKeys();
}

void KQUSearchPosition::setCoordinates(KQUSearchCoordinates coordinates) {
    mCoordinates = coordinates;
    flushKeys();
}

void KQUSearchPosition::setStorage(std::shared_ptr<KQUTextStorage> storage) {
    mStorage = storage.get();
    mRetainedStorage = std::move(storage);
}

KQUTextStorage* KQUSearchPosition::storage() {
    if (!mStorage) KQU_OBJECT_ASSERT_FAILURE("call beginSearching on the search Services prior to using.");
    return mStorage;
}

uint64_t KQUSearchPosition::length() {
    if (mStorage) return mStorage->length();
    if (mSearchServices) return mSearchServices->stringLengthForSearchPosition(*this);
    return 0;
}

std::optional<std::u16string> KQUSearchPosition::string() {
    if (mStorage) return mStorage->string();
    if (mSearchServices) return mSearchServices->stringForSearchPosition(*this);
    return std::nullopt;
}

// ---- Keys and comparison ----------------------------------------------------------------

std::optional<std::string> KQUSearchPosition::searchPositionKey() {
    if (!mSearchServices) return std::nullopt;
    if (!mSearchPositionKey)
        mSearchPositionKey =
            fmt::format("{} {} {}", mIdentifier.value_or("0x0"), mCoordinates.row, mCoordinates.column);
    return mSearchPositionKey;
}

std::optional<std::string> KQUSearchPosition::searchPositionKeyWithRange() {
    if (!mSearchServices) return std::nullopt;
    if (!mSearchPositionWithRangeKey)
        mSearchPositionWithRangeKey =
            fmt::format("{} {} {} {} {}", mIdentifier.value_or("0x0"), mCoordinates.row, mCoordinates.column,
                        mRange.location, mRange.length);
    return mSearchPositionWithRangeKey;
}

void KQUSearchPosition::flushKeys() {
    mSearchPositionKey.reset();
    mSearchPositionWithRangeKey.reset();
}

bool KQUSearchPosition::matches(const KQUSearchPosition& other, bool matchCoordinates,
                                bool matchRanges) const {
    if (!mSearchServices || parentAttachmentSearchServices() != other.parentAttachmentSearchServices())
        return false;
    if (matchCoordinates && !(mCoordinates == other.mCoordinates)) return false;
    if (matchRanges && !(mRange == other.mRange)) return false;
    return true;
}

bool KQUSearchPosition::matchesWithLocations(const KQUSearchPosition& other, bool matchLocations) const {
    if (!matches(other, true, false)) return false;
    return !matchLocations || mRange.location == other.mRange.location;
}

uint64_t KQUSearchPosition::indexOfMatchInSearchPositionArray(
    const std::vector<KQUSearchPositionRef>& positions, bool matchCoordinates, bool matchRanges) const {
    for (size_t i = 0; i < positions.size(); ++i)
        if (positions[i] && matches(*positions[i], matchCoordinates, matchRanges)) return i;
    return KQUNotFound;
}

// ---- Search scopes ----------------------------------------------------------------------

bool KQUSearchPosition::beginSearchingWithReplace(bool withReplace) {
    if (mSearchServices && mSearchingCount == 0) {
        if (!mSearchServices->beginSearching(*this, withReplace)) return false;
        mWithReplace = withReplace;
        mBorrowedScope = false;
    }
    ++mSearchingCount;
    return true;
}

void KQUSearchPosition::endSearchingWithCommit(bool commit) {
    if (mSearchingCount == 0) {
        KQU_OBJECT_ASSERT_FAILURE("Mismatched calls to begin and end.");
        return;
    }
    --mSearchingCount;
    if (mSearchingCount != 0) return;
    // A borrowed scope was never begun on the services: ending it there could close the
    // lender's own editing.
    if (std::exchange(mBorrowedScope, false) || !mSearchServices) return;
    if (commit && !mWithReplace) KQU_OBJECT_ASSERT_FAILURE("Cannot commit if read is TRUE");
    mSearchServices->endSearching(*this, commit);
}

bool KQUSearchPosition::beginUsingStorageFromSearchPosition(const KQUSearchPosition& position) {
    if (!position.mStorage) {
        KQU_OBJECT_ASSERT_FAILURE("No storage.");
        return false;
    }
    if (mSearchingCount == 0) {
        if (position.mRetainedStorage) {
            setStorage(position.mRetainedStorage);
        } else {
            mRetainedStorage.reset();
            mStorage = position.mStorage;
        }
        setRange(position.mRange);
        mBorrowedScope = true;
    }
    ++mSearchingCount;
    return true;
}

void KQUSearchPosition::resolveSearchServices() {
    KQUSearchServices* parent = parentAttachmentSearchServices();
    if (!parent || parent == mSearchServices) return;
    auto frame = parent->editWPFrame();
    if (!frame || !*frame || static_cast<KQUSearchServices*>((*frame)->controller()) != mSearchServices)
        return;
    KQUSearchCoordinates cell = parent->editCellID();
    setSearchServices(parent, std::nullopt, KQUNotFound);
    setCoordinates(cell);
    mSearchingCount = 0;
    mBorrowedScope = false;
    mStorage = nullptr;
    mRetainedStorage.reset();
}

// ---- Movement ---------------------------------------------------------------------------

bool KQUSearchPosition::incrementSearchPositionWithCriteria(int criteria, unsigned flags) {
    if (groupIndex() == KQUNotFound)
        return mSearchServices && mSearchServices->incrementSearchPosition(*this, criteria, flags);
    return incrementSearchPositionForGroupWithCriteria(criteria, flags);
}

bool KQUSearchPosition::incrementSearchPositionForGroupWithCriteria(int criteria, unsigned flags) {
    auto moveTo = [&](uint64_t index, int firstCriteria) {
        KQUSearchPositionRef entry = searchPositionForGroupIndex(index);
        if (!entry) {
            KQU_OBJECT_ASSERT_FAILURE("No group search position avaiilable.");
            return false;
        }
        if ((criteria == 9 || criteria == 11 || criteria == 10 || criteria == 12) &&
            !entry->isParentGroupSelected())
            return false;
        setToSearchPosition(entry.get());
        return mSearchServices && mSearchServices->incrementSearchPosition(*this, firstCriteria, flags);
    };
    const uint64_t count = groupCount();
    const uint64_t index = groupIndex();
    switch (criteria) {
        case 0:
            return moveTo(0, 0);
        case 1:
            return moveTo(count == 0 ? KQUNotFound : count - 1, 1);
        case 2:
        case 9:
        case 11:
        case 13:
            if (mSearchServices && mSearchServices->incrementSearchPosition(*this, criteria, flags))
                return true;
            return index != KQUNotFound && index + 1 < count && moveTo(index + 1, 0);
        case 3:
        case 10:
        case 12:
        case 14:
            if (mSearchServices && mSearchServices->incrementSearchPosition(*this, criteria, flags))
                return true;
            return index != KQUNotFound && index > 0 && moveTo(index - 1, 1);
        default:
            return mSearchServices && mSearchServices->incrementSearchPosition(*this, criteria, flags);
    }
}

// ---- Hierarchy and groups ---------------------------------------------------------------

KQUAttachment* KQUSearchPosition::parentAttachment() const {
    return mSearchServices ? mSearchServices->parentAttachment() : nullptr;
}

KQUSearchServices* KQUSearchPosition::parentAttachmentSearchServices() const {
    return mSearchServices ? mSearchServices->parentAttachmentSearchServices() : nullptr;
}

KQUSearchPositionRef KQUSearchPosition::parentSearchPosition() {
    KQUAttachment* attachment = parentAttachment();
    if (!attachment) return nullptr;
    KQUTextStorage* storage = attachment->parentStorage();
    if (!storage) return nullptr;
    uint64_t index = storage->charIndexFromAttachment(attachment);
    if (index == KQUNotFound) return nullptr;
    return searchPositionWithSearchServices(storage->controller(), {index, 0});
}

bool KQUSearchPosition::isParentGroupSelected() {
    KQUSearchPositionRef parent = parentSearchPosition();
    if (!parent || !parent->mStorage) return false;
    KQUTextController* controller = parent->mStorage->controller();
    if (!controller) return false;
    auto selection = controller->selection();
    if (!selection || !*selection) return false;
    return (*selection)->containsCharacterAtIndex(parent->location()).value_or(false);
}

KQUDrawable* KQUSearchPosition::groupingDrawable() const {
    KQUAttachment* attachment = parentAttachment();
    KQUDrawable* drawable = attachment ? attachment->drawable() : nullptr;
    return drawable && drawable->flattenedDrawables() ? drawable : nullptr;
}

bool KQUSearchPosition::isGrouped() const {
    return groupingDrawable() != nullptr;
}

bool KQUSearchPosition::canHaveSiblings() const {
    if (isGrouped()) return true;
    return mSearchServices && mSearchServices->canHaveSiblings();
}

// The group's members as both the cache and the index count them: drawables whose
// position exists and has a root. (Two different filters would let an index name another
// drawable's entry.)
std::vector<KQUDrawable*> KQUSearchPosition::groupMembers(KQUDrawable* drawable) const {
    std::vector<KQUDrawable*> members;
    for (KQUDrawable* d : drawable->flattenedDrawables().value_or(std::vector<KQUDrawable*>{})) {
        if (!d || !d->hasSearchPosition()) continue;
        KQUSearchPositionRef position = d->searchPosition();
        if (position && position->searchPositionRoot()) members.push_back(d);
    }
    return members;
}

const std::vector<KQUDrawable*>* KQUSearchPosition::groupCache() {
    if (mGroupCacheIsDirty) {
        mGroupCache.reset();
        if (KQUDrawable* drawable = groupingDrawable()) {
            std::string key = fmt::format("gc {}", fmt::ptr(drawable));
            auto cache = KQUTextEnumeratorCache::currentTextEnumeratorCache();
            auto entry = cache ? cache->objectForKey(key) : nullptr;
            if (entry) {
                mGroupCache = entry->drawables;
            } else {
                mGroupCache = groupMembers(drawable);
                if (cache) {
                    auto stored = std::make_shared<KQUTextEnumeratorCacheEntry>();
                    stored->drawables = *mGroupCache;
                    cache->setObject(std::move(stored), key);
                }
            }
        }
        mGroupCacheIsDirty = false;
    }
    return mGroupCache ? &*mGroupCache : nullptr;
}

void KQUSearchPosition::setGroupCache(std::optional<std::vector<KQUDrawable*>> cache) {
    mGroupCache = std::move(cache);
    mGroupCacheIsDirty = false;
}

uint64_t KQUSearchPosition::calculateGroupIndex() {
    uint64_t index = KQUNotFound;
    if (sCalculateGroupIndex) {
        mGroupIndex = index;
        mGroupIndexIsDirty = false;
        return index;
    }
    sCalculateGroupIndex = true;
    KQUScopeExit clearGuard([] { sCalculateGroupIndex = false; });
    if (KQUDrawable* drawable = groupingDrawable()) {
        std::string key = fmt::format("gi {}", fmt::ptr(drawable));
        auto cache = KQUTextEnumeratorCache::currentTextEnumeratorCache();
        auto entry = cache ? cache->objectForKey(key) : nullptr;
        if (!entry) {
            entry = std::make_shared<KQUTextEnumeratorCacheEntry>();
            uint64_t number = 0;
            for (KQUDrawable* d : groupMembers(drawable))
                entry->indexByRoot[*d->searchPosition()->searchPositionRoot()] = number++;
            if (cache) cache->setObject(entry, key);
        }
        if (mIdentifier) {
            auto it = entry->indexByRoot.find(*mIdentifier);
            if (it != entry->indexByRoot.end()) index = it->second;
        }
    }
    mGroupIndex = index;
    mGroupIndexIsDirty = false;
    return index;
}

uint64_t KQUSearchPosition::groupIndex() {
    if (mGroupIndexIsDirty) calculateGroupIndex();
    return mGroupIndex;
}

uint64_t KQUSearchPosition::groupCount() {
    const auto* cache = groupCache();
    return cache ? cache->size() : 0;
}

KQUSearchPositionRef KQUSearchPosition::searchPositionForGroupIndex(uint64_t index) {
    const auto* cache = groupCache();
    if (!cache || index >= cache->size()) return nullptr;
    return (*cache)[index]->searchPosition();
}

void KQUSearchPosition::setSearchServices(KQUSearchServices* services,
                                          std::optional<std::vector<KQUDrawable*>> groupCache,
                                          uint64_t groupIndex) {
    mSearchServices = services;
    mIdentifier.reset();
    mDocument = nullptr;
    if (services) {
        mIdentifier = rootOf(services->parentAttachmentSearchServices());
        if (KQUTextServices* text = services->textServices()) mDocument = text->document();
    }
    flushKeys();
    if (groupIndex == KQUNotFound || !groupCache) {
        mGroupIndex = KQUNotFound;
        mGroupCache.reset();
        mGroupIndexIsDirty = mGroupCacheIsDirty = true;
    } else {
        mGroupIndex = groupIndex;
        mGroupCache = std::move(groupCache);
        mGroupIndexIsDirty = mGroupCacheIsDirty = false;
    }
}

std::shared_ptr<KQUTextEnumeratorCache> KQUSearchPosition::textEnumeratorCache() {
    return KQUTextEnumeratorCache::currentTextEnumeratorCache();
}

// ---- Forwarded --------------------------------------------------------------------------

unsigned KQUSearchPosition::textKind() const {
    return mSearchServices ? mSearchServices->textKind() : 0;
}
KQUTextServices* KQUSearchPosition::textServices() const {
    return mSearchServices ? mSearchServices->textServices() : nullptr;
}
bool KQUSearchPosition::isSearchable() const {
    return mSearchServices ? mSearchServices->isSearchable().value_or(true) : true;
}
bool KQUSearchPosition::canSpellCheck() {
    return mSearchServices ? mSearchServices->canSpellCheck(*this).value_or(true) : true;
}
bool KQUSearchPosition::isFormula() {
    return mSearchServices && mSearchServices->isFormulaForSearchPosition(*this);
}
void* KQUSearchPosition::wpTextCell() {
    return mSearchServices ? mSearchServices->wpTextCellFromSearchPosition(*this) : nullptr;
}
KQUTextStorage* KQUSearchPosition::editingStorage() {
    return mSearchServices ? mSearchServices->editingStorageFromSearchPosition(*this) : nullptr;
}
KQUSearchPositionRef KQUSearchPosition::activeSearchPosition() const {
    return mSearchServices ? mSearchServices->activeSearchPosition() : nullptr;
}
KQURange KQUSearchPosition::currentTextRange() const {
    return mSearchServices ? mSearchServices->currentTextRange() : KQURange{};
}
void KQUSearchPosition::setBackgroundSearchString(std::u16string_view text, bool grewOnly, bool matchCase,
                                                  bool wholeWords) {
    if (mSearchServices) mSearchServices->setBackgroundSearchString(text, grewOnly, matchCase, wholeWords);
}
int KQUSearchPosition::statisticsTrackingDepth() const {
    return mSearchServices ? mSearchServices->statisticsTrackingDepth() : 0;
}
void KQUSearchPosition::setStatisticsTrackingDepth(int depth) {
    if (mSearchServices) mSearchServices->setStatisticsTrackingDepth(depth);
}
KQUSearchStatistics KQUSearchPosition::getStatisticsUsingSearchEngine(void* engine, int milliseconds,
                                                                      int depth) {
    return mSearchServices
               ? mSearchServices->getStatisticsForSearchPosition(*this, engine, milliseconds, depth)
               : KQUSearchStatistics{};
}

void KQUSearchPosition::activateSearchPosition() {
    if (isGrouped()) parentAttachment()->endEditing();
    if (mSearchServices) mSearchServices->activateSearchPosition(*this);
}

void KQUSearchPosition::activatePage() {
    KQU_OBJECT_ASSERT_FAILURE("KQUSearchPosition subclass must implement activatePage");
}

std::string KQUSearchPosition::description() {
    std::string text = fmt::format("(KQUSearchPosition*) {}: ", fmt::ptr(this));
    if (!mSearchServices) return text;
    std::string storageText = "(null)";
    if (mStorage) {
        auto string = mStorage->stringWithoutNullTerminator();
        storageText = KQUUTF8FromUTF16(string ? *string : mStorage->string());
    }
    return text + fmt::format(
                      "SearchServices ({} *) {}; row {} column {}; Range {{{}, {}}}\n  Storage string \"{}\"",
                      detail::demangledTypeName(typeid(*mSearchServices)), fmt::ptr(mSearchServices),
                      mCoordinates.row, mCoordinates.column, mRange.location, mRange.length, storageText);
}

}  // namespace kqu
