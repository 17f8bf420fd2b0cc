// Dictionaries that never copy their keys, holding their values by std::shared_ptr:
//
//   KQUNoCopyDictionary<K, V>              keys shared (kept alive), compared by value
//                                          (K's operator== and std::hash<K>)
//   KQUPointerKeyDictionary<K, V>          keys K*, not kept alive, compared by address
//   KQURetainedPointerKeyDictionary<K, V>  keys shared (kept alive), compared by address
//
// Identity keys are hashed by address (KQUContainerObjectPointerHash), so a key object
// may change its value while it is a key. A value-compared key must not change its value
// while it is a key, or it cannot be found again. A KQUPointerKeyDictionary does not keep
// its keys alive: remove an entry before the key object goes.
//
// Iteration (begin/end, keys()) replaces the key enumerator; each element is a
// (key, value) pair in unspecified order. Changing the dictionary while iterating
// invalidates the iteration. nullptr is neither a key nor a value: setObject throws
// NSInvalidArgumentException for either. Used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "kqutility/collections/KQUPointerSet.h"
#include "kqutility/foundation/KQULogSink.h"

namespace kqu {
namespace detail {

// Hash and equality of shared keys by value, with look-up by a plain K.
template <typename K>
struct ValueKeyHash {
    using is_transparent = void;
    size_t operator()(const K& key) const { return std::hash<K>{}(key); }
    size_t operator()(const std::shared_ptr<K>& key) const { return std::hash<K>{}(*key); }
};
template <typename K>
struct ValueKeyEqual {
    using is_transparent = void;
    static const K& value(const K& k) { return k; }
    static const K& value(const std::shared_ptr<K>& k) { return *k; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
        return value(a) == value(b);
    }
};

// The map shared by the three dictionaries; KeyHolder is what the table stores (K* or
// std::shared_ptr<K>), Lookup what callers look up with.
template <typename KeyHolder, typename Lookup, typename V, typename Hash, typename Equal>
class KeyedDictionary {
public:
    using Storage = std::unordered_map<KeyHolder, std::shared_ptr<V>, Hash, Equal>;
    using const_iterator = typename Storage::const_iterator;

    KeyedDictionary() = default;
    // A size hint.
    explicit KeyedDictionary(size_t capacity) { mMap.reserve(capacity); }

    [[nodiscard]] size_t count() const { return mMap.size(); }
    // The value under key, or nullptr.
    [[nodiscard]] std::shared_ptr<V> objectForKey(Lookup key) const {
        auto it = mMap.find(key);
        return it == mMap.end() ? nullptr : it->second;
    }
    // Stores value under key, replacing (and releasing) a previous value; the key already
    // in the table stays. Throws NSInvalidArgumentException for a null key or value.
    void setObject(std::shared_ptr<V> value, KeyHolder key) {
        if (!value || !key) raiseInsertNil(mSetMethod);
        auto it = mMap.find(key);
        if (it != mMap.end())
            it->second = std::move(value);
        else
            mMap.emplace(std::move(key), std::move(value));
    }
    void removeObjectForKey(Lookup key) {
        auto it = mMap.find(key);
        if (it != mMap.end()) mMap.erase(it);
    }
    void removeAllObjects() { mMap.clear(); }
    [[nodiscard]] std::vector<KeyHolder> keys() const {
        std::vector<KeyHolder> result;
        result.reserve(mMap.size());
        for (const auto& entry : mMap) result.push_back(entry.first);
        return result;
    }
    const_iterator begin() const { return mMap.begin(); }
    const_iterator end() const { return mMap.end(); }

protected:
    KeyedDictionary(size_t capacity, std::string_view setMethod) : mSetMethod(setMethod) {
        mMap.reserve(capacity);
    }
    std::string_view mSetMethod = "-[KQUNoCopyDictionary setObject:forKey:]";
    Storage mMap;
};

}  // namespace detail

template <typename K, typename V>
class KQUNoCopyDictionary
    : public detail::KeyedDictionary<std::shared_ptr<K>, const K&, V, detail::ValueKeyHash<K>,
                                     detail::ValueKeyEqual<K>> {
public:
    using detail::KeyedDictionary<std::shared_ptr<K>, const K&, V, detail::ValueKeyHash<K>,
                                  detail::ValueKeyEqual<K>>::KeyedDictionary;
};

template <typename K, typename V>
class KQURetainedPointerKeyDictionary
    : public detail::KeyedDictionary<std::shared_ptr<K>, const K*, V, KQUContainerObjectPointerHash,
                                     KQUContainerObjectPointerEqual> {
    using Base = detail::KeyedDictionary<std::shared_ptr<K>, const K*, V, KQUContainerObjectPointerHash,
                                         KQUContainerObjectPointerEqual>;

public:
    KQURetainedPointerKeyDictionary() : KQURetainedPointerKeyDictionary(0) {}
    explicit KQURetainedPointerKeyDictionary(size_t capacity)
        : Base(capacity, "-[KQURetainedPointerKeyDictionary setObject:forKey:]") {}
};

template <typename K, typename V>
class KQUPointerKeyDictionary : public detail::KeyedDictionary<K*, const K*, V, KQUContainerObjectPointerHash,
                                                               KQUContainerObjectPointerEqual> {
    using Base = detail::KeyedDictionary<K*, const K*, V, KQUContainerObjectPointerHash,
                                         KQUContainerObjectPointerEqual>;

public:
    KQUPointerKeyDictionary() : KQUPointerKeyDictionary(0) {}
    explicit KQUPointerKeyDictionary(size_t capacity)
        : Base(capacity, "-[KQUPointerKeyDictionary setObject:forKey:]") {}

    // "<(KQUPointerKeyDictionary*) 0x…>{\n", one "\t<key address> = <value>\n" per entry,
    // then "}"; values print through {fmt} when they can, else as their address.
    [[nodiscard]] std::string debugDescription() const {
        std::string text = fmt::format("<(KQUPointerKeyDictionary*) {}>{{\n", detail::fullHex(this));
        for (const auto& [key, value] : this->mMap)
            text += fmt::format("\t{} = {}\n", detail::fullHex(key), detail::describeObject(value.get()));
        return text + "}";
    }
    // Logs "===== map of <address> ======" and one "<key> ==> <value>" line of addresses
    // per entry.
    void printPointerMap() const {
        KQULogMessage(fmt::format("===== map of {} ======", detail::fullHex(this)));
        for (const auto& [key, value] : this->mMap)
            KQULogMessage(fmt::format("{} ==> {}", detail::fullHex(key), detail::fullHex(value.get())));
    }
};

}  // namespace kqu
