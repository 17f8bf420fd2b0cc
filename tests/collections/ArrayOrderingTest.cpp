// Stacking-order moves (known cases, misuse, properties over random arrays) and clustering.
#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kqutility/collections/KQUArrayOrdering.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;

namespace {

using Obj = std::shared_ptr<std::string>;
using Array = std::vector<Obj>;
using Selection = KQUMutablePointerSet<std::string>;

// One object per letter; '|' is the separator.
struct Letters {
    std::map<char, Obj> objects;
    Obj operator[](char c) { return objects.emplace(c, std::make_shared<std::string>(1, c)).first->second; }
    Array array(const std::string& text) {
        Array a;
        for (char c : text) a.push_back(c == '|' ? nullptr : (*this)[c]);
        return a;
    }
    Selection selection(const std::string& text) {
        Selection s;
        for (char c : text) s.addObject((*this)[c].get());
        return s;
    }
};

std::string text(const Array& a) {
    std::string t;
    for (const auto& o : a) t += o ? *o : "|";
    return t;
}

// The layered functions for arrays with a separator, the plain ones otherwise.
bool layered(const Array& a) {
    return std::find(a.begin(), a.end(), nullptr) != a.end();
}
bool can(const Array& a, int op, const Selection& s) {
    auto o = KQUArrayOrderingOperation(op);
    return layered(a) ? canPerformLayeredOrderingOperation(a, o, s) : canPerformOrderingOperation(a, o, s);
}
void perform(Array& a, int op, const Selection& s) {
    auto o = KQUArrayOrderingOperation(op);
    layered(a) ? performLayeredOrderingOperation(a, o, s) : performOrderingOperation(a, o, s);
}

TEST(ArrayOrdering, KnownMoves) {
    // Array, selection, operation, the array after it or nullptr: cannot be performed.
    const std::tuple<const char*, const char*, int, const char*> cases[] = {
        // clang-format off
        {"abcd", "cd", 0, nullptr}, {"abcd", "cd", 1, "cdab"}, {"abcd", "cd", 2, nullptr}, {"abcd", "cd", 3, "acdb"},
        {"abcde", "be", 2, "acbde"}, {"abcd", "a", 3, nullptr}, {"abcd", "ad", 2, "bacd"}, {"abcd", "ad", 3, "abdc"},
        {"abcd", "bd", 0, "acbd"}, {"abcd", "", 1, nullptr}, {"abcd", "x", 0, nullptr},
        {"ab|cd", "bc", 2, "ab|dc"}, {"ab|cd", "bc", 4, "abc|d"}, {"ab|cd", "bc", 5, "a|cdb"},
        {"a|b", "a", 0, nullptr}, {"a|b", "a", 1, nullptr}, {"a|b", "a", 2, nullptr}, {"a|b", "a", 3, nullptr},
        {"a|b", "a", 4, nullptr}, {"a|b", "a", 5, "|ba"}, {"ab|cd", "bd", 0, nullptr} /* packed in each layer */,
        {"ab|cd", "ad", 0, "ba|cd"}, {"ab|cd", "c", 3, nullptr}, {"ab|cd", "d", 3, "ab|dc"},
        {"ab|cd", "bc", 1, "ba|cd"}, {"ab|cd", "ac", 3, nullptr},
        // clang-format on
    };
    test::ContinueAfterAssertions goOn;  // performing an impossible plain move asserts, then does nothing
    test::LogCapture quiet;
    for (const auto& [array, selection, operation, after] : cases) {
        Letters l;
        Array a = l.array(array);
        EXPECT_EQ(can(a, operation, l.selection(selection)), after != nullptr)
            << array << " {" << selection << "} " << operation;
        perform(a, operation, l.selection(selection));  // an impossible move is reported and changes nothing
        EXPECT_EQ(text(a), after ? after : array) << array << " {" << selection << "} " << operation;
    }
}

TEST(ArrayOrdering, MovesByPositionAndMisuse) {
    Letters l;
    Obj equalToA = std::make_shared<std::string>("a");
    Array a{l['a'], l['b'], equalToA, l['a'], l['c']};
    perform(a, KQUArrayOrderingMoveToEnd, l.selection("a"));
    EXPECT_EQ(a, (Array{l['b'], equalToA, l['c'], l['a'], l['a']}));  // the equal one stays, the repeat moves

    a = l.array("abc");
    EXPECT_THROW((void)can(a, 4, l.selection("a")), KQUException);
    EXPECT_THROW(perform(a, KQUArrayOrderingMoveToStart, l.selection("a")), KQUException);
    test::ContinueAfterAssertions goOn;
    test::LogCapture log;
    EXPECT_FALSE(canPerformLayeredOrderingOperation(a, KQUArrayOrderingMoveToEnd, l.selection("a")));
    performLayeredOrderingOperation(a, KQUArrayOrderingMoveToEnd, l.selection("a"));
    EXPECT_EQ(text(a), "abc");
    EXPECT_TRUE(log.contains("Missing the layer separator"));
}

// Random arrays: can-perform says exactly whether the array changes, every element stays (by identity),
// unselected ones keep their order, and elements stay in their layer but those moved across on purpose.
TEST(ArrayOrdering, PropertiesOverRandomArrays) {
    std::mt19937 random(17);
    Array pool;
    for (const char* s : {"a", "b", "c", "a", "b", "d"}) pool.push_back(std::make_shared<std::string>(s));
    test::ContinueAfterAssertions goOn;  // performing an impossible plain move asserts, then does nothing
    test::LogCapture quiet;
    for (int round = 0; round < 4000; ++round) {
        Array array;
        for (int layer = 0; layer <= round % 2; ++layer) {
            if (layer == 1) array.push_back(nullptr);
            for (int n = int(random() % 9); n > 0; --n) array.push_back(pool[random() % pool.size()]);
        }
        Selection selection;
        for (const auto& o : pool)
            if (random() % 3 == 0) selection.addObject(o.get());
        auto isSelected = [&](const Obj& o) { return o && selection.containsObject(o.get()); };
        auto unselected = [&](Array a) { return std::erase_if(a, isSelected), a; };
        auto sorted = [](Array a) { return std::sort(a.begin(), a.end()), a; };
        size_t separator = size_t(std::find(array.begin(), array.end(), nullptr) - array.begin());
        for (int op = 0; op < (layered(array) ? 6 : 4); ++op) {
            Array after = array;
            perform(after, op, selection);
            ASSERT_EQ(can(array, op, selection), after != array) << text(array) << " op " << op;
            ASSERT_EQ(sorted(after), sorted(array));
            ASSERT_EQ(unselected(after), unselected(array));
            // The first layer's elements: the same, but for those moved across by 4 and 5.
            std::multiset<Obj> expected, got(after.begin(), std::find(after.begin(), after.end(), nullptr));
            for (size_t i = 0; i < array.size(); ++i)
                if (i < separator ? !(op == 5 && isSelected(array[i])) : op == 4 && isSelected(array[i]))
                    expected.insert(array[i]);
            ASSERT_EQ(got, expected) << text(array) << " op " << op;
        }
    }
}

TEST(ArrayOrdering, ClusteringOwnsItsKeys) {
    Letters l;
    Array a = l.array("ab|c");
    a.push_back(std::make_shared<std::string>("a"));
    auto freshKey = [](const Obj& o) { return std::make_shared<std::string>(*o == "c" ? "odd" : "even"); };
    auto byIdentity = clusterObjectsUsingSelector(a, freshKey);
    EXPECT_EQ(byIdentity.count(), 4u);  // every key object is a new one
    for (const auto& [key, members] : byIdentity)
        EXPECT_TRUE(members->count() == 1 &&
                    (*key == "odd" || *key == "even"));  // keys alive: read under ASan
    auto byValue = clusterObjectsByIdentityUsingSelector(a, freshKey);
    ASSERT_EQ(byValue.count(), 2u);
    EXPECT_EQ(byValue.objectForKey("even")->count(), 3u);
    EXPECT_TRUE(byValue.objectForKey("odd")->containsObject(l['c'].get()));

    EXPECT_THROW((void)clusterObjectsByIdentityUsingSelector(a, [](const Obj&) { return Obj(); }),
                 KQUException);
    test::ContinueAfterAssertions goOn;
    test::LogCapture log;
    auto skipped = clusterObjectsUsingSelector(a, [&](const Obj& o) { return o == l['b'] ? Obj() : l['k']; });
    EXPECT_EQ(skipped.objectForKey(l['k'].get())->count(), 3u);
    EXPECT_TRUE(log.contains("invalid nil value for variable/parameter key"));
}

}  // namespace
