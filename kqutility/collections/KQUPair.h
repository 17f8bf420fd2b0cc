// Two objects held together, for keys made of two parts and for answering two things at
// once.
//
//   KQUPair<A, B>                 holds both objects by std::shared_ptr
//   KQUMutablePair<A, B>          the same, with setFirst/setSecond
//   KQUPairNonRetainedSecond<A,B> holds the first by std::shared_ptr and the second by
//                                 address: the second must outlive the pair
//
// Either slot may be empty. Pairs of any of the three kinds compare equal when each slot
// matches: two empty slots match, identical objects match, otherwise the objects' own
// operator== decides. hash() (and std::hash of a pair) is the exclusive-or of the two
// objects' std::hash values, an empty slot counting 0, so equal pairs hash alike.
// Copying a pair object shares the same objects; copy() and mutableCopy() copy the
// objects themselves (except the non-owned second of KQUPairNonRetainedSecond, which the
// copy shares, since nothing would own a fresh one). A pair is a value: one thread at a
// time.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include <fmt/format.h>

#include "kqutility/collections/KQUCollectionsSupport.h"

namespace kqu {

template <typename A, typename B>
class KQUMutablePair;

namespace detail {

struct PairTag {};

template <typename T>
const T* slotAddress(const std::shared_ptr<T>& p) {
    return p.get();
}
template <typename T>
const T* slotAddress(const T* p) {
    return p;
}

template <typename X, typename Y>
bool slotsEqual(const X* x, const Y* y) {
    if (!x || !y) return !x && !y;
    if (static_cast<const void*>(x) == static_cast<const void*>(y)) return true;
    return *x == *y;
}

template <typename T>
size_t slotHash(const T* p) {
    return p ? std::hash<T>{}(*p) : 0;
}

template <typename A, typename B>
std::shared_ptr<A> copyOf(const std::shared_ptr<B>& p) {
    return p ? std::make_shared<A>(*p) : nullptr;
}

// What the three pair kinds have in common: the first slot, and the answers built on
// both slots. Derived classes supply second().
template <typename Derived, typename A>
class PairBase : public PairTag {
public:
    [[nodiscard]] const std::shared_ptr<A>& first() const { return mFirst; }
    [[nodiscard]] size_t hash() const {
        return slotHash(mFirst.get()) ^ slotHash(slotAddress(self().second()));
    }
    // "<first>, <second>", "(null)" for an empty slot.
    [[nodiscard]] std::string description() const {
        return fmt::format("{}, {}", describeObject(mFirst.get()),
                           describeObject(slotAddress(self().second())));
    }

protected:
    PairBase() = default;
    explicit PairBase(std::shared_ptr<A> first) : mFirst(std::move(first)) {}
    const Derived& self() const { return static_cast<const Derived&>(*this); }
    std::shared_ptr<A> mFirst;
};

}  // namespace detail

template <typename A, typename B = A>
class KQUPair : public detail::PairBase<KQUPair<A, B>, A> {
public:
    KQUPair() = default;
    KQUPair(std::shared_ptr<A> first, std::shared_ptr<B> second)
        : detail::PairBase<KQUPair<A, B>, A>(std::move(first)), mSecond(std::move(second)) {}

    [[nodiscard]] const std::shared_ptr<B>& second() const { return mSecond; }
    // A pair of fresh copies of both objects.
    [[nodiscard]] KQUPair copy() const {
        return {detail::copyOf<A>(this->mFirst), detail::copyOf<B>(mSecond)};
    }
    [[nodiscard]] KQUMutablePair<A, B> mutableCopy() const;

protected:
    std::shared_ptr<B> mSecond;
};

template <typename A, typename B = A>
class KQUMutablePair : public KQUPair<A, B> {
public:
    using KQUPair<A, B>::KQUPair;
    KQUMutablePair() = default;
    explicit KQUMutablePair(const KQUPair<A, B>& pair) : KQUPair<A, B>(pair) {}
    void setFirst(std::shared_ptr<A> first) { this->mFirst = std::move(first); }
    void setSecond(std::shared_ptr<B> second) { this->mSecond = std::move(second); }
};

template <typename A, typename B>
KQUMutablePair<A, B> KQUPair<A, B>::mutableCopy() const {
    return KQUMutablePair<A, B>(copy());
}

template <typename A, typename B = A>
class KQUPairNonRetainedSecond : public detail::PairBase<KQUPairNonRetainedSecond<A, B>, A> {
public:
    KQUPairNonRetainedSecond() = default;
    // second is not kept alive.
    KQUPairNonRetainedSecond(std::shared_ptr<A> first, B* second)
        : detail::PairBase<KQUPairNonRetainedSecond<A, B>, A>(std::move(first)), mSecond(second) {}

    [[nodiscard]] B* second() const { return mSecond; }
    // A copy of the first object with the same (still not owned) second object.
    [[nodiscard]] KQUPairNonRetainedSecond copy() const { return {detail::copyOf<A>(this->mFirst), mSecond}; }
    // A KQUMutablePair owning copies of both objects.
    [[nodiscard]] KQUMutablePair<A, B> mutableCopy() const {
        return {detail::copyOf<A>(this->mFirst), mSecond ? std::make_shared<B>(*mSecond) : nullptr};
    }

private:
    B* mSecond = nullptr;
};

template <typename P, typename Q>
requires(std::is_base_of_v<detail::PairTag, P>&& std::is_base_of_v<detail::PairTag, Q>) bool operator==(
    const P& p, const Q& q) {
    using detail::slotAddress;
    return detail::slotsEqual(p.first().get(), q.first().get()) &&
           detail::slotsEqual(slotAddress(p.second()), slotAddress(q.second()));
}

}  // namespace kqu

template <typename A, typename B>
struct std::hash<kqu::KQUPair<A, B>> {
    size_t operator()(const kqu::KQUPair<A, B>& p) const { return p.hash(); }
};
template <typename A, typename B>
struct std::hash<kqu::KQUMutablePair<A, B>> {
    size_t operator()(const kqu::KQUMutablePair<A, B>& p) const { return p.hash(); }
};
template <typename A, typename B>
struct std::hash<kqu::KQUPairNonRetainedSecond<A, B>> {
    size_t operator()(const kqu::KQUPairNonRetainedSecond<A, B>& p) const { return p.hash(); }
};
