// Stacking-order moves: the documented examples, hand-computed cases at the ends and the
// separator, the removal-by-equality faults, and a property test over random arrays with
// repeats and equal but distinct elements. Clustering by key identity and key value.
#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kqutility/collections/KQUArrayOrdering.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

using Obj = std::shared_ptr<std::string>;
using Array = std::vector<Obj>;

// One object per letter; '|' is the separator.
struct Letters {
    std::map<char, Obj> objects;
    Obj operator[](char c) {
        auto& o = objects[c];
        if (!o) o = std::make_shared<std::string>(1, c);
        return o;
    }
    Array array(const std::string& text) {
        Array a;
        for (char c : text) a.push_back(c == '|' ? nullptr : (*this)[c]);
        return a;
    }
    KQUMutablePointerSet<std::string> selection(const std::string& text) {
        KQUMutablePointerSet<std::string> s;
        for (char c : text) s.addObject((*this)[c].get());
        return s;
    }
};

std::string text(const Array& a) {
    std::string t;
    for (const auto& o : a) t += o ? *o : "|";
    return t;
}

TEST(ArrayOrdering, KnownMoves) {
    struct Case {
        const char *array, *selection;
        int operation;
        const char* after;  // nullptr: cannot be performed
    } cases[] = {
        {"abcd", "cd", 0, nullptr},
        {"abcd", "cd", 1, "cdab"},
        {"abcd", "cd", 2, nullptr},
        {"abcd", "cd", 3, "acdb"},
        {"abcde", "be", 2, "acbde"},
        {"abcd", "a", 3, nullptr},
        {"abcd", "ad", 2, "bacd"},
        {"abcd", "ad", 3, "abdc"},
        {"abcd", "bd", 0, "acbd"},
        {"abcd", "", 1, nullptr},
        {"abcd", "x", 0, nullptr},
        // layered
        {"ab|cd", "bc", 2 + 10, "ab|dc"},
        {"ab|cd", "bc", 4 + 10, "abc|d"},
        {"ab|cd", "bc", 5 + 10, "a|cdb"},
        {"a|b", "a", 0 + 10, nullptr},
        {"a|b", "a", 1 + 10, nullptr},
        {"a|b", "a", 2 + 10, nullptr},
        {"a|b", "a", 3 + 10, nullptr},
        {"a|b", "a", 5 + 10, "|ba"},
        {"a|b", "a", 4 + 10, nullptr},
        {"ab|cd", "bd", 0 + 10, nullptr},  // packed at the end of each layer
        {"ab|cd", "ad", 0 + 10, "ba|cd"},
        {"ab|cd", "c", 3 + 10, nullptr},
        {"ab|cd", "d", 3 + 10, "ab|dc"},
        {"ab|cd", "bc", 1 + 10, "ba|cd"},
        {"ab|cd", "ac", 3 + 10, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.array << " {" << c.selection << "} " << c.operation);
        Letters l;
        Array a = l.array(c.array);
        auto selection = l.selection(c.selection);
        bool layered = c.operation >= 10;
        auto op = KQUArrayOrderingOperation(c.operation % 10);
        bool can = layered ? canPerformLayeredOrderingOperation(a, op, selection)
                           : canPerformOrderingOperation(a, op, selection);
        EXPECT_EQ(can, c.after != nullptr);
        if (!can) continue;
        layered ? performLayeredOrderingOperation(a, op, selection)
                : performOrderingOperation(a, op, selection);
        EXPECT_EQ(text(a), c.after);
    }
}

TEST(ArrayOrdering, MovesByIdentityAndPosition) {
    Letters l;
    Obj equalToA = std::make_shared<std::string>("a");
    Array a{l['a'], l['b'], equalToA, l['a'], l['c']};
    performOrderingOperation(a, KQUArrayOrderingMoveToEnd, l.selection("a"));
    EXPECT_EQ(a, (Array{l['b'], equalToA, l['c'], l['a'], l['a']}));  // the equal one stays, the repeat moves
}

TEST(ArrayOrdering, MisuseAssertsAndMovesNothing) {
    Letters l;
    Array a = l.array("abc");
    EXPECT_THROW((void)canPerformOrderingOperation(a, KQUArrayOrderingOperation(4), l.selection("a")),
                 KQUException);
    EXPECT_THROW(performOrderingOperation(a, KQUArrayOrderingMoveToStart, l.selection("a")), KQUException);
    test::ContinueAfterAssertions goOn;
    test::LogCapture log;
    EXPECT_FALSE(canPerformLayeredOrderingOperation(a, KQUArrayOrderingMoveToEnd, l.selection("a")));
    performLayeredOrderingOperation(a, KQUArrayOrderingMoveToEnd, l.selection("a"));
    EXPECT_EQ(text(a), "abc");
    EXPECT_TRUE(log.contains("Missing the layer separator"));
}

// Every operation on random arrays: can-perform says exactly whether the array changes,
// every element stays (by identity), unselected ones keep their order, and elements stay
// in their layer except the ones moved across on purpose.
TEST(ArrayOrdering, PropertiesOverRandomArrays) {
    std::mt19937 random(17);
    std::vector<Obj> pool;
    for (const char* s : {"a", "b", "c", "a", "b", "d"}) pool.push_back(std::make_shared<std::string>(s));
    test::ContinueAfterAssertions goOn;  // performing an impossible plain move asserts, then does nothing
    test::LogCapture quiet;
    for (int round = 0; round < 4000; ++round) {
        bool layered = round % 2;
        Array array;
        for (int layer = 0; layer < (layered ? 2 : 1); ++layer) {
            if (layer == 1) array.push_back(nullptr);
            for (int n = int(random() % 9); n > 0; --n) array.push_back(pool[random() % pool.size()]);
        }
        KQUMutablePointerSet<std::string> selection;
        for (const auto& o : pool)
            if (random() % 3 == 0) selection.addObject(o.get());
        auto isSelected = [&](const Obj& o) { return o && selection.containsObject(o.get()); };
        auto layerOf = [](const Array& a, size_t i) {
            return size_t(std::find(a.begin(), a.end(), nullptr) - a.begin()) < i ? 1 : 0;
        };
        for (int op = 0; op < (layered ? 6 : 4); ++op) {
            auto operation = KQUArrayOrderingOperation(op);
            Array after = array;
            bool can = layered ? canPerformLayeredOrderingOperation(array, operation, selection)
                               : canPerformOrderingOperation(array, operation, selection);
            layered ? performLayeredOrderingOperation(after, operation, selection)
                    : performOrderingOperation(after, operation, selection);
            ASSERT_EQ(can, after != array) << text(array) << " op " << op;
            auto sorted = [](Array a) {
                std::sort(a.begin(), a.end());
                return a;
            };
            ASSERT_EQ(sorted(after), sorted(array));
            Array before, now;
            std::copy_if(array.begin(), array.end(), std::back_inserter(before),
                         [&](auto& o) { return !isSelected(o); });
            std::copy_if(after.begin(), after.end(), std::back_inserter(now),
                         [&](auto& o) { return !isSelected(o); });
            ASSERT_EQ(now, before);
            // Selected elements per layer: unchanged, except the crossing ones for 4 and 5.
            std::multiset<Obj> layers[2][2];
            for (size_t i = 0; i < array.size(); ++i) {
                int layer = layerOf(array, i);
                bool crosses = isSelected(array[i]) && ((op == 4 && layer == 1) || (op == 5 && layer == 0));
                layers[0][crosses ? 1 - layer : layer].insert(array[i]);
            }
            for (size_t i = 0; i < after.size(); ++i) layers[1][layerOf(after, i)].insert(after[i]);
            ASSERT_EQ(layers[1][0], layers[0][0]);
            ASSERT_EQ(layers[1][1], layers[0][1]);
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
    for (const auto& [key, members] : byIdentity) {
        EXPECT_EQ(members->count(), 1u);
        EXPECT_TRUE(*key == "odd" || *key == "even");  // alive: read under ASan
    }
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
}  // namespace kqu
