// Sets whose members are compared by identity (their address), never by value: two
// distinct but equal objects are two members. Each family comes as a template over the
// member's type T:
//
//   KQUPointerSet<T>, KQUMutablePointerSet<T>                 hold T*, do not own members
//   KQURetainedPointerSet<T>, KQUMutableRetainedPointerSet<T> hold std::shared_ptr<T>
//   KQUCountedPointerSet<T>, KQUCountedRetainedPointerSet<T>  count how often each was added
//
// A non-retaining set does not keep its members alive: remove a member before the last
// reference to it goes, or the set holds a dangling address (it never dereferences one,
// but answers it). Retaining sets hold one reference per member (counted ones: one per
// member, whatever its count). Look-ups take a plain `const T*` in every family.
// Iteration order is unspecified. Copying a set copies its members' pointers, never the
// objects. A set is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kqutility/collections/KQUCollectionsSupport.h"

namespace kqu {

// The identity hash of the collections: the object's address shifted right by 4 bits
// (heap objects are 16-byte aligned, so the low bits carry nothing).
struct KQUContainerObjectPointerHash {
    using is_transparent = void;
    size_t operator()(const void* object) const noexcept { return reinterpret_cast<uintptr_t>(object) >> 4; }
    template <typename T>
    size_t operator()(const std::shared_ptr<T>& object) const noexcept {
        return (*this)(static_cast<const void*>(object.get()));
    }
};

// Identity equality over raw and shared pointers alike.
struct KQUContainerObjectPointerEqual {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const noexcept {
        return address(a) == address(b);
    }

private:
    static const void* address(const void* p) { return p; }
    template <typename T>
    static const void* address(const std::shared_ptr<T>& p) {
        return p.get();
    }
};

namespace detail {

template <typename T>
T* memberAddress(T* p) {
    return p;
}
template <typename T>
T* memberAddress(const std::shared_ptr<T>& p) {
    return p.get();
}

// The read-only part shared by the plain and retained families; Member is T* or
// std::shared_ptr<T>.
template <typename T, typename Member>
class IdentitySet {
public:
    using Object = T;
    using Storage = std::unordered_set<Member, KQUContainerObjectPointerHash, KQUContainerObjectPointerEqual>;
    using const_iterator = typename Storage::const_iterator;

    [[nodiscard]] size_t count() const { return mMembers.size(); }
    [[nodiscard]] bool containsObject(const T* object) const {
        return mMembers.find(object) != mMembers.end();
    }
    // The member identical to object, or an empty member.
    [[nodiscard]] Member member(const T* object) const {
        auto it = mMembers.find(object);
        return it == mMembers.end() ? Member() : *it;
    }
    [[nodiscard]] Member anyObject() const { return mMembers.empty() ? Member() : *mMembers.begin(); }
    [[nodiscard]] std::vector<Member> allObjects() const { return {mMembers.begin(), mMembers.end()}; }
    template <typename Other>
    [[nodiscard]] bool isSubsetOfSet(const Other& other) const {
        for (const auto& m : mMembers)
            if (!other.containsObject(memberAddress(m))) return false;
        return true;
    }
    template <typename Other>
    [[nodiscard]] bool intersectsSet(const Other& other) const {
        for (const auto& m : mMembers)
            if (other.containsObject(memberAddress(m))) return true;
        return false;
    }
    template <typename Other>
    [[nodiscard]] bool isEqualToSet(const Other& other) const {
        return count() == other.count() && isSubsetOfSet(other);
    }
    const_iterator begin() const { return mMembers.begin(); }
    const_iterator end() const { return mMembers.end(); }

protected:
    IdentitySet() = default;
    IdentitySet(std::span<const Member> objects, std::string_view method) {
        mMembers.reserve(objects.size());
        for (const auto& object : objects) {
            if (!memberAddress(object)) raiseInsertNil(method);
            mMembers.insert(object);
        }
    }
    Storage mMembers;
};

// The mutating part, added on top of a read-only family.
template <typename Base, typename Member>
class MutableIdentitySet : public Base {
public:
    using Object = typename Base::Object;
    MutableIdentitySet() = default;
    // A capacity above 4 is passed on as a size hint.
    explicit MutableIdentitySet(size_t capacity) {
        if (capacity > 4) this->mMembers.reserve(capacity);
    }
    using Base::Base;

    // Adding nullptr does nothing; adding a member again does nothing.
    void addObject(Member object) {
        if (memberAddress(object)) this->mMembers.insert(std::move(object));
    }
    void addObjectsFromArray(std::span<const Member> objects) {
        for (const auto& object : objects) addObject(object);
    }
    void removeObject(const Object* object) {
        auto it = this->mMembers.find(object);
        if (it != this->mMembers.end()) this->mMembers.erase(it);
    }
    void removeAllObjects() { this->mMembers.clear(); }
    template <typename Other>
    void unionSet(const Other& other) {
        for (const auto& m : other) addObject(m);
    }
    template <typename Other>
    void minusSet(const Other& other) {
        for (const auto& m : other) removeObject(memberAddress(m));
    }
    template <typename Other>
    void intersectSet(const Other& other) {
        std::erase_if(this->mMembers,
                      [&](const Member& m) { return !other.containsObject(memberAddress(m)); });
    }
};

// A counted set: each member carries how many more times it was added than removed.
template <typename T, typename Member>
class CountedIdentitySet {
public:
    using Object = T;
    using Storage =
        std::unordered_map<Member, size_t, KQUContainerObjectPointerHash, KQUContainerObjectPointerEqual>;

    CountedIdentitySet() = default;
    // A capacity above 0x0FFFFFFF throws NSInvalidArgumentException "invalid capacity: <n>";
    // one above 4 is a size hint.
    explicit CountedIdentitySet(size_t capacity) {
        if (capacity > 0x0FFFFFFF) raiseInvalidCapacity(capacity);
        if (capacity > 4) mMembers.reserve(capacity);
    }

    [[nodiscard]] size_t count() const { return mMembers.size(); }
    [[nodiscard]] bool containsObject(const T* object) const {
        return mMembers.find(object) != mMembers.end();
    }
    [[nodiscard]] size_t countForObject(const T* object) const {
        auto it = mMembers.find(object);
        return it == mMembers.end() ? 0 : it->second;
    }
    [[nodiscard]] Member member(const T* object) const {
        auto it = mMembers.find(object);
        return it == mMembers.end() ? Member() : it->first;
    }
    // Adding nullptr does nothing.
    void addObject(Member object) {
        if (memberAddress(object)) ++mMembers[std::move(object)];
    }
    // Lowers the count; the member leaves when it reaches 0.
    void removeObject(const T* object) {
        auto it = mMembers.find(object);
        if (it != mMembers.end() && --it->second == 0) mMembers.erase(it);
    }
    void removeAllObjects() { mMembers.clear(); }

    // Walks the members (each once, whatever its count).
    class const_iterator {
    public:
        using value_type = Member;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        explicit const_iterator(typename Storage::const_iterator it) : mIt(it) {}
        const Member& operator*() const { return mIt->first; }
        const_iterator& operator++() {
            ++mIt;
            return *this;
        }
        const_iterator operator++(int) {
            auto old = *this;
            ++mIt;
            return old;
        }
        bool operator==(const const_iterator&) const = default;

    private:
        typename Storage::const_iterator mIt;
    };
    const_iterator begin() const { return const_iterator(mMembers.begin()); }
    const_iterator end() const { return const_iterator(mMembers.end()); }

private:
    Storage mMembers;
};

}  // namespace detail

template <typename T>
class KQUPointerSet : public detail::IdentitySet<T, T*> {
public:
    KQUPointerSet() = default;
    // Throws NSInvalidArgumentException when an object is nullptr.
    explicit KQUPointerSet(std::span<T* const> objects)
        : detail::IdentitySet<T, T*>(objects, "-[KQUPointerSet initWithObjects:count:]") {}
    KQUPointerSet(std::initializer_list<T*> objects) : KQUPointerSet(std::span<T* const>(objects)) {}
};

template <typename T>
class KQUMutablePointerSet : public detail::MutableIdentitySet<KQUPointerSet<T>, T*> {
public:
    using detail::MutableIdentitySet<KQUPointerSet<T>, T*>::MutableIdentitySet;
    KQUMutablePointerSet() = default;
    KQUMutablePointerSet(std::initializer_list<T*> objects)
        : KQUMutablePointerSet(std::span<T* const>(objects)) {}
};

template <typename T>
class KQURetainedPointerSet : public detail::IdentitySet<T, std::shared_ptr<T>> {
public:
    KQURetainedPointerSet() = default;
    // Throws NSInvalidArgumentException when an object is nullptr.
    explicit KQURetainedPointerSet(std::span<const std::shared_ptr<T>> objects)
        : detail::IdentitySet<T, std::shared_ptr<T>>(objects,
                                                     "-[KQURetainedPointerSet initWithObjects:count:]") {}
    KQURetainedPointerSet(std::initializer_list<std::shared_ptr<T>> objects)
        : KQURetainedPointerSet(std::span<const std::shared_ptr<T>>(objects)) {}
};

template <typename T>
class KQUMutableRetainedPointerSet
    : public detail::MutableIdentitySet<KQURetainedPointerSet<T>, std::shared_ptr<T>> {
public:
    using detail::MutableIdentitySet<KQURetainedPointerSet<T>, std::shared_ptr<T>>::MutableIdentitySet;
    KQUMutableRetainedPointerSet() = default;
    KQUMutableRetainedPointerSet(std::initializer_list<std::shared_ptr<T>> objects)
        : KQUMutableRetainedPointerSet(std::span<const std::shared_ptr<T>>(objects)) {}
};

template <typename T>
class KQUCountedPointerSet : public detail::CountedIdentitySet<T, T*> {
public:
    using detail::CountedIdentitySet<T, T*>::CountedIdentitySet;
};

template <typename T>
class KQUCountedRetainedPointerSet : public detail::CountedIdentitySet<T, std::shared_ptr<T>> {
public:
    using detail::CountedIdentitySet<T, std::shared_ptr<T>>::CountedIdentitySet;
};

}  // namespace kqu
