#include "kqutility/identity/KQUObjectFlusher.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUSystemInfo.h"
#include "kqutility/foundation/KQUUserDefaults.h"

namespace kqu {

uint64_t KQUObjectFlusher::budgetForMemory(uint64_t physicalBytes, std::optional<double> percentage) {
    double p = percentage.value_or(0.0);
    // NaN would pass any clamp and has no integer value: it counts as no setting.
    if (p == 0.0 || std::isnan(p))
        p = 0.25;
    else
        p = std::clamp(p, 0.01, 1.0);
    long double bytes = static_cast<long double>(physicalBytes) * p;
    constexpr long double kLargest = static_cast<long double>(std::numeric_limits<uint64_t>::max());
    if (bytes >= kLargest) return std::numeric_limits<uint64_t>::max();
    return bytes <= 0 ? 0 : static_cast<uint64_t>(bytes);
}

uint64_t KQUObjectFlusher::defaultBudget() {
    std::optional<double> percentage;
    if (KQUUserDefaults::standardUserDefaults().objectForKey(KQUImageCachePercentageKey))
        percentage = KQUUserDefaults::standardUserDefaults().doubleForKey(KQUImageCachePercentageKey);
    return budgetForMemory(KQUProbePhysicalMemory().usableBytes, percentage);
}

KQUObjectFlusher& KQUObjectFlusher::instance() {
    static KQUObjectFlusher sInstance([] {
        uint64_t budget = defaultBudget();
        KQULogInfo("Object flusher setting maxBytes to {:g} MB", static_cast<double>(budget) / 1048576.0);
        return budget;
    }());
    return sInstance;
}

KQUObjectFlusher::KQUObjectFlusher(uint64_t maxBytes) : mMaximumMemoryToUse(maxBytes) {}

void KQUObjectFlusher::objectAddedData(const std::shared_ptr<KQUFlushable>& object) {
    if (!object) return;
    uint64_t size = object->bytesUsed();
    std::lock_guard lock(mLock);
    forget(object.get());
    makeRoomForObjectOfSize(size);
    Entry entry{object, size, object->isFlushable(), {}};
    if (entry.flushable) entry.position = mData.insert(mData.end(), object.get());
    mEntries.insert_or_assign(object.get(), std::move(entry));
    mTotalMemoryUsed += size;
}

void KQUObjectFlusher::objectTouched(const std::shared_ptr<KQUFlushable>& object) {
    if (!object) return;
    uint64_t size = object->bytesUsed();
    std::lock_guard lock(mLock);
    touch(object.get(), size);
}

void KQUObjectFlusher::objectRemoved(const KQUFlushable* object) {
    std::lock_guard lock(mLock);
    forget(object);
}

uint64_t KQUObjectFlusher::totalMemoryUsed() const {
    std::lock_guard lock(mLock);
    return mTotalMemoryUsed;
}

bool KQUObjectFlusher::isTrackedAsFlushable(const KQUFlushable* object) const {
    std::lock_guard lock(mLock);
    auto found = mEntries.find(object);
    return found != mEntries.end() && found->second.flushable;
}

bool KQUObjectFlusher::isTrackedAsNonFlushable(const KQUFlushable* object) const {
    std::lock_guard lock(mLock);
    auto found = mEntries.find(object);
    return found != mEntries.end() && !found->second.flushable;
}

std::string KQUObjectFlusher::description() const {
    std::lock_guard lock(mLock);
    std::string list;
    for (const KQUFlushable* object : mData)
        list += fmt::format("{}{}", list.empty() ? "" : ", ", static_cast<const void*>(object));
    return fmt::format("mData: ({}), mMaximumMemoryToUse: {}", list, maxBytes());
}

void KQUObjectFlusher::makeRoomForObjectOfSize(uint64_t size) {
    const size_t passes = 2 * mData.size();
    for (size_t pass = 0; pass < passes; ++pass) {
        uint64_t budget = maxBytes();
        if (mData.empty() || (mTotalMemoryUsed <= budget && size <= budget - mTotalMemoryUsed)) break;
        const KQUFlushable* key = mData.front();
        std::shared_ptr<KQUFlushable> object = mEntries.at(key).object.lock();
        if (!object) {  // gone without telling: forget it, never call it
            forget(key);
            continue;
        }
        object->flushLocalData();
        uint64_t newSize = object->bytesUsed();
        if (newSize == 0) {
            forget(key);
            continue;
        }
        // flushLocalData may have removed the object (or re-added it as non-flushable):
        // only an object still in the LRU list is moved or re-filed.
        auto entry = mEntries.find(key);
        if (entry == mEntries.end() || !entry->second.flushable) continue;
        touch(key, newSize);
        if (!object->isFlushable()) {
            mData.erase(entry->second.position);
            entry->second.flushable = false;
        }
    }
}

void KQUObjectFlusher::forget(const KQUFlushable* object) {
    auto found = mEntries.find(object);
    if (found == mEntries.end()) return;
    mTotalMemoryUsed -= found->second.size;
    if (found->second.flushable) mData.erase(found->second.position);
    mEntries.erase(found);
}

void KQUObjectFlusher::touch(const KQUFlushable* object, uint64_t newSize) {
    auto found = mEntries.find(object);
    if (found == mEntries.end() || !found->second.flushable) return;
    Entry& entry = found->second;
    mTotalMemoryUsed -= entry.size;
    mData.splice(mData.end(), mData, entry.position);
    entry.size = newSize;
    mTotalMemoryUsed += newSize;
}

}  // namespace kqu
