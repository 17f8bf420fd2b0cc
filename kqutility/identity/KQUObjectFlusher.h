// Keeps the memory used by cached object data (decoded images, for instance) under a
// budget derived from the machine's memory: when an object adds data and the budget would
// be exceeded, the least recently used objects are asked to drop their local data.
//
// Objects take part by implementing KQUFlushable and telling the flusher when they gain
// data (objectAddedData), use it (objectTouched) or lose it (objectRemoved). The flusher
// holds them weakly, keyed by address: an object that has gone is forgotten when it is
// met, never called. Its flushLocalData may call back into the flusher (to remove itself,
// say) on the same thread.
//
// The shared instance's budget is the "Image Cache Percentage" user default (a fraction:
// 0, absent or not a number mean 0.25; otherwise clamped to 0.01 .. 1.0) of the memory
// the process may use (KQUProbePhysicalMemory: the hardware lowered to cgroup limits),
// kept in 64 bits.
//
// Threads: adding, touching, removing and description() hold one recursive lock (so a
// flushLocalData that calls back in does not deadlock); maxBytes is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace kqu {

inline constexpr const char* KQUImageCachePercentageKey = "Image Cache Percentage";

class KQUFlushable {
public:
    virtual ~KQUFlushable() = default;
    // It can drop its local data now.
    virtual bool isFlushable() const = 0;
    virtual void flushLocalData() = 0;
    // Its current data size in bytes.
    virtual uint64_t bytesUsed() const = 0;
};

class KQUObjectFlusher {
public:
    // The shared flusher, its budget computed on first use (and logged at level 100).
    static KQUObjectFlusher& instance();
    // The budget for physicalBytes of memory at percentage (a fraction; nullopt, 0 or NaN:
    // 0.25), saturating at the largest 64-bit value.
    [[nodiscard]] static uint64_t budgetForMemory(uint64_t physicalBytes, std::optional<double> percentage);
    // The shared instance's budget: the user default over KQUProbePhysicalMemory().
    [[nodiscard]] static uint64_t defaultBudget();

    explicit KQUObjectFlusher(uint64_t maxBytes);
    KQUObjectFlusher(const KQUObjectFlusher&) = delete;
    KQUObjectFlusher& operator=(const KQUObjectFlusher&) = delete;

    void objectAddedData(const std::shared_ptr<KQUFlushable>& object);
    void objectTouched(const std::shared_ptr<KQUFlushable>& object);
    void objectRemoved(const KQUFlushable* object);

    uint64_t maxBytes() const { return mMaximumMemoryToUse.load(std::memory_order_relaxed); }
    void setMaxBytes(uint64_t maxBytes) { mMaximumMemoryToUse.store(maxBytes, std::memory_order_relaxed); }
    // The sum of the sizes recorded for the objects it tracks.
    uint64_t totalMemoryUsed() const;
    // "mData: (<address>, ...), mMaximumMemoryToUse: <budget>", least recently used first.
    std::string description() const;

    // For checks: whether object is in the LRU list / among the non-flushable objects.
    bool isTrackedAsFlushable(const KQUFlushable* object) const;
    bool isTrackedAsNonFlushable(const KQUFlushable* object) const;

private:
    struct Entry {
        std::weak_ptr<KQUFlushable> object;
        uint64_t size = 0;
        bool flushable = false;
        std::list<const KQUFlushable*>::iterator position;  // in mData when flushable
    };

    void makeRoomForObjectOfSize(uint64_t size);
    void forget(const KQUFlushable* object);
    void touch(const KQUFlushable* object, uint64_t newSize);

    mutable std::recursive_mutex mLock;
    // Least recently used first.
    std::list<const KQUFlushable*> mData;
    // Every tracked object, flushable or not, with its last reported size.
    std::unordered_map<const KQUFlushable*, Entry> mEntries;
    std::atomic<uint64_t> mMaximumMemoryToUse;
    uint64_t mTotalMemoryUsed = 0;
};

}  // namespace kqu
