// Identity sets and dictionaries, and pairs: membership, ownership per family, refusals, faults.
#include <memory>
#include <string>
#include <unordered_set>

#include "kqutility/collections/KQUPair.h"
#include "kqutility/collections/KQUPointerDictionary.h"
#include "kqutility/collections/KQUPointerSet.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
// Equal to nothing, itself included, like a NaN.
struct Never {
    bool operator==(const Never&) const { return false; }
};
}  // namespace kqu
template <>
struct std::hash<kqu::Never> {
    size_t operator()(const kqu::Never&) const { return 1; }
};

using namespace kqu;

namespace {

using Str = std::shared_ptr<std::string>;
Str str(const char* s) {
    return std::make_shared<std::string>(s);
}

TEST(PointerCollections, EqualStringsAreTwoPointerMembersAndOneNoCopyKey) {
    Str a = str("key"), b = str("key");
    KQUMutablePointerSet<std::string> set{a.get(), b.get(), a.get()};
    EXPECT_TRUE(set.count() == 2 && !set.containsObject(str("key").get()));

    KQUNoCopyDictionary<std::string, int> dict;
    dict.setObject(std::make_shared<int>(1), a);
    dict.setObject(std::make_shared<int>(2), b);
    ASSERT_EQ(dict.count(), 1u);
    // The value last set, under the very key object first set (not a copy), held by the dictionary.
    EXPECT_EQ(std::tuple(a.use_count(), b.use_count()), std::tuple(2L, 1L));
    EXPECT_EQ(std::tuple(*dict.objectForKey("key"), dict.keys()[0]), std::tuple(2, a));
}

TEST(PointerCollections, RetentionPerFamily) {
    Str o = str("o"), v = str("v");
    {
        KQUMutablePointerSet<std::string> plain{o.get()};
        KQUCountedPointerSet<std::string> counted;
        counted.addObject(o.get());
        KQUPointerKeyDictionary<std::string, std::string> byAddress;
        byAddress.setObject(v, o.get());
        EXPECT_EQ(std::tuple(o.use_count(), v.use_count()), std::tuple(1L, 2L));  // values are held
    }
    KQUMutableRetainedPointerSet<std::string> retained;
    KQUCountedRetainedPointerSet<std::string> counted;
    for (int i = 0; i < 2; ++i) retained.addObject(o), counted.addObject(o);
    // One reference per set, however often added.
    EXPECT_EQ(std::tuple(o.use_count(), counted.countForObject(o.get())), std::tuple(3L, size_t(2)));
    retained.removeObject(o.get());
    counted.removeObject(o.get());
    EXPECT_TRUE(counted.containsObject(o.get()) && o.use_count() == 2);
    counted.removeObject(o.get());
    EXPECT_EQ(o.use_count(), 1);
}

TEST(PointerCollections, RetainedPointerKeyDictionaryFindsAKeyWhoseValueChanged) {
    KQURetainedPointerKeyDictionary<std::string, int> dict;
    Str key = str("a");
    dict.setObject(std::make_shared<int>(7), key);
    *key = "a value long enough to hash differently";
    ASSERT_TRUE(dict.objectForKey(key.get()));
    EXPECT_EQ(*dict.objectForKey(key.get()), 7);
    EXPECT_FALSE(dict.objectForKey(str("a value long enough to hash differently").get()));
    EXPECT_EQ(key.use_count(), 2);
}

TEST(PointerCollections, Refusals) {
    Str a = str("a");
    EXPECT_KQU_THROW((void)(KQUPointerSet<std::string>{a.get(), nullptr}), NSInvalidArgumentException,
                     "-[KQUPointerSet initWithObjects:count:]: attempt to insert nil");
    EXPECT_KQU_THROW((void)(KQURetainedPointerSet<std::string>{a, nullptr}), NSInvalidArgumentException,
                     "-[KQURetainedPointerSet initWithObjects:count:]: attempt to insert nil");
    EXPECT_KQU_THROW((void)KQUCountedRetainedPointerSet<std::string>(0x10000000), NSInvalidArgumentException,
                     "invalid capacity: 268435456");
    EXPECT_KQU_THROW((KQUPointerKeyDictionary<std::string, std::string>().setObject(nullptr, a.get())),
                     NSInvalidArgumentException,
                     "-[KQUPointerKeyDictionary setObject:forKey:]: attempt to insert nil");
}

TEST(Pairs, EmptySlotsAndIdenticalObjectsAreEqual) {
    KQUPair<std::string> empty, halfEmpty(str("a"), nullptr);
    EXPECT_TRUE(empty == empty && halfEmpty == KQUMutablePair<std::string>(str("a"), nullptr));
    EXPECT_FALSE(halfEmpty == empty);
    std::unordered_set<KQUPair<std::string>> set{empty, halfEmpty};
    EXPECT_TRUE(set.count(KQUPair<std::string>()) == 1 &&
                set.count(KQUPair<std::string>(str("a"), nullptr)) == 1);

    auto never = std::make_shared<Never>();
    KQUPair<Never> same(never, never);
    EXPECT_TRUE(same == KQUPair<Never>(same));
    EXPECT_FALSE(same == KQUPair<Never>(std::make_shared<Never>(), never));

    KQUPair<std::string> ab(str("a"), str("b"));
    KQUMutablePair<std::string> ab2(str("a"), str("b"));
    EXPECT_TRUE(ab == ab2 && ab.hash() == ab2.hash());
    EXPECT_EQ(std::tuple(ab.description(), halfEmpty.description()), std::tuple("a, b", "a, (null)"));
}

TEST(Pairs, CopiesOwnWhatTheyCopy) {
    std::string second = "second";
    KQUPairNonRetainedSecond<std::string> pair(str("first"), &second);
    auto copy = pair.copy();
    EXPECT_EQ(copy.second(), &second);  // the same non-owned object, not a fresh orphan
    EXPECT_TRUE(copy.first() != pair.first() && *copy.first() == "first" && copy == pair);
    auto mutableCopy = pair.mutableCopy();
    EXPECT_TRUE(mutableCopy.second().get() != &second && mutableCopy.second().use_count() == 1 &&
                mutableCopy == pair);

    KQUPair<std::string> shared(str("x"), str("y"));
    EXPECT_NE(shared.copy().first(), shared.first());
    EXPECT_EQ(KQUPair<std::string>(shared).first(), shared.first());
}

}  // namespace
