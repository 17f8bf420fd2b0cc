// Stacking-order moves over arrays of shared objects, the tests that say beforehand
// whether a move would change anything (to enable a menu command), and grouping of
// objects by a key.
//
// The array is a std::vector<std::shared_ptr<T>> in stacking order. The selection is any
// identity set (KQUPointerSet, KQURetainedPointerSet, ...: anything answering count() and
// containsObject(const T*)); an element is selected when its object is a member, so every
// occurrence of a selected object moves and an unselected element equal to a selected one
// stays where it is. Moves take elements out by position, never by comparing values.
//
// A layered array holds one null element as the separator: the elements before it form
// the first layer, those after it the second. Layered moves keep each element in its
// layer, except operations 4 and 5, which move selected elements into the other layer.
//
// can…Operation answers true exactly when perform…Operation would change the array.
// Misuse goes to KQUAssertionHandler and the function carries on: an invalid operation
// answers false and moves nothing; performing an impossible plain move asserts and then
// does nothing; a layered array without separator asserts, answers false and moves
// nothing.
//
// Clustering calls the key function on each non-null element in order and groups the
// elements under the keys it answers. Beware the names, kept from the library's history:
// clusterObjectsUsingSelector groups by key identity, clusterObjectsByIdentityUsingSelector
// by key equality. Either result holds its keys alive; the element sets hold the elements
// by address (the array keeps them alive). A null key asserts and its element is skipped.
//
// Plain functions over the caller's containers: one thread at a time per array.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "kqutility/collections/KQUPointerDictionary.h"
#include "kqutility/collections/KQUPointerSet.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"

namespace kqu {

enum KQUArrayOrderingOperation : int {
    KQUArrayOrderingMoveToEnd = 0,
    KQUArrayOrderingMoveToStart = 1,
    KQUArrayOrderingMoveTowardsEnd = 2,
    KQUArrayOrderingMoveTowardsStart = 3,
    KQUArrayOrderingMoveToFirstLayer = 4,
    KQUArrayOrderingMoveToSecondLayer = 5,
};

template <typename S, typename T>
concept KQUObjectSelection = requires(const S& s, const T* object) {
    { s.count() } -> std::convertible_to<size_t>;
    { s.containsObject(object) } -> std::convertible_to<bool>;
};

namespace detail {

template <typename T, typename S>
std::vector<bool> selectedFlags(const std::vector<std::shared_ptr<T>>& array, const S& objects) {
    std::vector<bool> flags(array.size());
    for (size_t i = 0; i < array.size(); ++i) flags[i] = array[i] && objects.containsObject(array[i].get());
    return flags;
}

// True when a move of the selected elements of [lo, hi) towards one end would change the
// order: some selected element has an unselected one between it and that end.
inline bool canMoveWithin(const std::vector<bool>& selected, size_t lo, size_t hi, bool towardsEnd) {
    bool unselectedSeen = false;
    for (size_t k = 0; k < hi - lo; ++k) {
        size_t i = towardsEnd ? hi - 1 - k : lo + k;
        if (!selected[i])
            unselectedSeen = true;
        else if (unselectedSeen)
            return true;
    }
    return false;
}

// Moves the selected elements of [lo, hi) to one end of it, both groups keeping their order.
template <typename T>
void moveAllWithin(std::vector<std::shared_ptr<T>>& array, const std::vector<bool>& selected, size_t lo,
                   size_t hi, bool toEnd) {
    std::vector<std::shared_ptr<T>> moving, staying;
    for (size_t i = lo; i < hi; ++i) (selected[i] ? moving : staying).push_back(std::move(array[i]));
    auto& head = toEnd ? staying : moving;
    auto& tail = toEnd ? moving : staying;
    std::move(tail.begin(), tail.end(), std::move(head.begin(), head.end(), array.begin() + lo));
}

// Moves each selected element of [lo, hi) one place towards one end; a run of selected
// elements already at that end stays, everything behind it still moves.
template <typename T>
void stepWithin(std::vector<std::shared_ptr<T>>& array, const std::vector<bool>& selected, size_t lo,
                size_t hi, bool towardsEnd) {
    if (hi <= lo) return;
    if (towardsEnd) {
        size_t limit = hi - 1;  // the first index whose element cannot move
        for (size_t k = hi - lo; k-- > 0;) {
            size_t i = lo + k;
            if (!selected[i]) continue;
            if (i >= limit) {
                if (i == lo) break;
                limit = i - 1;
                continue;
            }
            std::swap(array[i], array[i + 1]);
        }
    } else {
        size_t limit = lo;
        for (size_t i = lo; i < hi; ++i) {
            if (!selected[i]) continue;
            if (i <= limit) {
                limit = i + 1;
                continue;
            }
            std::swap(array[i], array[i - 1]);
        }
    }
}

// The index of the separator (the first null element), or the size when there is none.
template <typename T>
size_t separatorIndex(const std::vector<std::shared_ptr<T>>& array) {
    return static_cast<size_t>(std::find(array.begin(), array.end(), nullptr) - array.begin());
}

}  // namespace detail

// Operations 0 to 3 over the whole array.
template <typename T, KQUObjectSelection<T> S>
[[nodiscard]] bool canPerformOrderingOperation(const std::vector<std::shared_ptr<T>>& array,
                                               KQUArrayOrderingOperation operation, const S& objects) {
    if (objects.count() == 0) return false;
    if (operation < KQUArrayOrderingMoveToEnd || operation > KQUArrayOrderingMoveTowardsStart) {
        KQU_ASSERT_FAILURE("Invalid KQUArrayOrderingOperation: {}", static_cast<int>(operation));
        return false;
    }
    bool towardsEnd = operation == KQUArrayOrderingMoveToEnd || operation == KQUArrayOrderingMoveTowardsEnd;
    return detail::canMoveWithin(detail::selectedFlags(array, objects), 0, array.size(), towardsEnd);
}

template <typename T, KQUObjectSelection<T> S>
void performOrderingOperation(std::vector<std::shared_ptr<T>>& array, KQUArrayOrderingOperation operation,
                              const S& objects) {
    if (!canPerformOrderingOperation(array, operation, objects)) {
        KQU_ASSERT_FAILURE("don't try to perform an operation that isn't possible");
        return;
    }
    auto selected = detail::selectedFlags(array, objects);
    switch (operation) {
        case KQUArrayOrderingMoveToEnd:
        case KQUArrayOrderingMoveToStart:
            detail::moveAllWithin(array, selected, 0, array.size(), operation == KQUArrayOrderingMoveToEnd);
            break;
        case KQUArrayOrderingMoveTowardsEnd:
        case KQUArrayOrderingMoveTowardsStart:
            detail::stepWithin(array, selected, 0, array.size(), operation == KQUArrayOrderingMoveTowardsEnd);
            break;
        default:
            KQU_ASSERT_FAILURE("Invalid KQUArrayOrderingOperation: {}", static_cast<int>(operation));
    }
}

// Operations 0 to 5 over a layered array.
template <typename T, KQUObjectSelection<T> S>
[[nodiscard]] bool canPerformLayeredOrderingOperation(const std::vector<std::shared_ptr<T>>& array,
                                                      KQUArrayOrderingOperation operation, const S& objects) {
    if (objects.count() == 0) return false;
    size_t separator = detail::separatorIndex(array);
    if (separator == array.size()) {
        KQU_ASSERT_FAILURE("Missing the layer separator");
        return false;
    }
    if (operation < KQUArrayOrderingMoveToEnd || operation > KQUArrayOrderingMoveToSecondLayer) {
        KQU_ASSERT_FAILURE("Invalid KQUArrayOrderingOperation: {}", static_cast<int>(operation));
        return false;
    }
    auto selected = detail::selectedFlags(array, objects);
    auto any = [&](size_t lo, size_t hi) {
        return std::find(selected.begin() + lo, selected.begin() + hi, true) != selected.begin() + hi;
    };
    if (operation == KQUArrayOrderingMoveToFirstLayer) return any(separator + 1, array.size());
    if (operation == KQUArrayOrderingMoveToSecondLayer) return any(0, separator);
    bool towardsEnd = operation == KQUArrayOrderingMoveToEnd || operation == KQUArrayOrderingMoveTowardsEnd;
    return detail::canMoveWithin(selected, separator + 1, array.size(), towardsEnd) ||
           detail::canMoveWithin(selected, 0, separator, towardsEnd);
}

template <typename T, KQUObjectSelection<T> S>
void performLayeredOrderingOperation(std::vector<std::shared_ptr<T>>& array,
                                     KQUArrayOrderingOperation operation, const S& objects) {
    size_t separator = detail::separatorIndex(array);
    if (separator == array.size()) {
        KQU_ASSERT_FAILURE("Missing the layer separator");
        return;
    }
    if (operation < KQUArrayOrderingMoveToEnd || operation > KQUArrayOrderingMoveToSecondLayer) {
        KQU_ASSERT_FAILURE("Invalid KQUArrayOrderingOperation: {}", static_cast<int>(operation));
        return;
    }
    auto selected = detail::selectedFlags(array, objects);
    size_t n = array.size();
    switch (operation) {
        case KQUArrayOrderingMoveToEnd:
        case KQUArrayOrderingMoveToStart: {
            bool toEnd = operation == KQUArrayOrderingMoveToEnd;
            detail::moveAllWithin(array, selected, 0, separator, toEnd);
            detail::moveAllWithin(array, selected, separator + 1, n, toEnd);
            break;
        }
        case KQUArrayOrderingMoveTowardsEnd:
        case KQUArrayOrderingMoveTowardsStart: {
            bool towardsEnd = operation == KQUArrayOrderingMoveTowardsEnd;
            detail::stepWithin(array, selected, 0, separator, towardsEnd);
            detail::stepWithin(array, selected, separator + 1, n, towardsEnd);
            break;
        }
        default: {
            // Into the other layer: the moving elements go to the end of that layer.
            bool up = operation == KQUArrayOrderingMoveToFirstLayer;
            std::vector<std::shared_ptr<T>> first, moving, second;
            for (size_t i = 0; i < n; ++i) {
                if (i == separator) continue;
                bool inFirst = i < separator;
                if (selected[i] && inFirst != up)
                    moving.push_back(std::move(array[i]));
                else
                    (inFirst ? first : second).push_back(std::move(array[i]));
            }
            auto& target = up ? first : second;
            target.insert(target.end(), std::make_move_iterator(moving.begin()),
                          std::make_move_iterator(moving.end()));
            auto out = std::move(first.begin(), first.end(), array.begin());
            *out++ = nullptr;
            std::move(second.begin(), second.end(), out);
        }
    }
}

// Groups the elements by the identity of the key keyOf answers (a std::shared_ptr<K>).
template <typename T, typename KeyOf>
[[nodiscard]] auto clusterObjectsUsingSelector(const std::vector<std::shared_ptr<T>>& array, KeyOf keyOf) {
    using K = typename std::invoke_result_t<KeyOf&, const std::shared_ptr<T>&>::element_type;
    KQURetainedPointerKeyDictionary<K, KQUMutablePointerSet<T>> clusters;
    for (const auto& element : array) {
        if (!element) continue;
        std::shared_ptr<K> key = keyOf(element);
        if (!key) {
            KQU_ASSERT_FAILURE("invalid nil value for variable/parameter {}", "key");
            continue;
        }
        auto set = clusters.objectForKey(key.get());
        if (!set) {
            set = std::make_shared<KQUMutablePointerSet<T>>();
            clusters.setObject(set, key);
        }
        set->addObject(element.get());
    }
    return clusters;
}

// Groups the elements by the value of the key keyOf answers (a std::shared_ptr<K>, K
// with operator== and std::hash); the first key object of each value is kept.
template <typename T, typename KeyOf>
[[nodiscard]] auto clusterObjectsByIdentityUsingSelector(const std::vector<std::shared_ptr<T>>& array,
                                                         KeyOf keyOf) {
    using K = typename std::invoke_result_t<KeyOf&, const std::shared_ptr<T>&>::element_type;
    KQUNoCopyDictionary<K, KQUMutablePointerSet<T>> clusters;
    for (const auto& element : array) {
        if (!element) continue;
        std::shared_ptr<K> key = keyOf(element);
        if (!key) {
            KQU_ASSERT_FAILURE("invalid nil value for variable/parameter {}", "key");
            continue;
        }
        auto set = clusters.objectForKey(*key);
        if (!set) {
            set = std::make_shared<KQUMutablePointerSet<T>>();
            clusters.setObject(set, key);
        }
        set->addObject(element.get());
    }
    return clusters;
}

}  // namespace kqu
