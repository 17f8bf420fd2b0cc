#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUNotificationCenter.h"

namespace kqu {
namespace {

TEST(KQUNotificationCenter, FiltersByNameAndObjectAndKeepsRegistrationOrder) {
    KQUNotificationCenter center;
    int a = 0, b = 0;
    std::vector<std::string> heard;
    center.addObserver(nullptr, "Saved", nullptr,
                       [&](const KQUNotification& n) { heard.push_back("any:" + n.name); });
    center.addObserver(nullptr, "Saved", &a, [&](const KQUNotification&) { heard.push_back("a-only"); });
    center.addObserver(nullptr, "", nullptr,
                       [&](const KQUNotification& n) { heard.push_back("all:" + n.name); });

    auto post = [&](const char* name, const void* object) {
        heard.clear();
        center.postNotificationName(name, object);
        return heard;
    };
    EXPECT_EQ(post("Saved", &a), (std::vector<std::string>{"any:Saved", "a-only", "all:Saved"}));
    EXPECT_EQ(post("Saved", &b), (std::vector<std::string>{"any:Saved", "all:Saved"}));
    EXPECT_EQ(post("Closed", nullptr), (std::vector<std::string>{"all:Closed"}));
}

TEST(KQUNotificationCenter, ObserversMayRemoveThemselvesAndOthersDuringDelivery) {
    KQUNotificationCenter center;
    std::vector<int> calls;
    KQUObserverToken first = 0, third = 0;
    first = center.addObserver(nullptr, "N", nullptr, [&](const KQUNotification&) {
        calls.push_back(1);
        center.removeObserver(first);  // itself
        center.removeObserver(third);  // one still to be called in this delivery
    });
    center.addObserver(nullptr, "N", nullptr, [&](const KQUNotification&) {
        calls.push_back(2);
        // Added during delivery: first hears the next post.
        center.addObserver(nullptr, "N", nullptr, [&](const KQUNotification&) { calls.push_back(4); });
    });
    third = center.addObserver(nullptr, "N", nullptr, [&](const KQUNotification&) { calls.push_back(3); });

    center.postNotificationName("N", nullptr);
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
    calls.clear();
    center.postNotificationName("N", nullptr);
    EXPECT_EQ(calls, (std::vector<int>{2, 4}));
}

TEST(KQUNotificationCenter, ScopedObserverStopsListeningWhenDestroyedOrMoved) {
    KQUNotificationCenter center;
    int count = 0;
    {
        KQUScopedObserver observer(center, "N", nullptr, [&](const KQUNotification&) { ++count; });
        center.postNotificationName("N", nullptr);
        KQUScopedObserver moved = std::move(observer);
        observer.reset();  // the moved-from one owns nothing
        center.postNotificationName("N", nullptr);
    }
    center.postNotificationName("N", nullptr);
    EXPECT_EQ(std::pair(count, center.observerCount()), std::pair(2, size_t{0}));
}

TEST(KQUNotificationCenter, RemovesByObserverNameAndObject) {
    KQUNotificationCenter center;
    int observer = 0, other = 0, objectA = 0, objectB = 0, count = 0;
    auto bump = [&](const KQUNotification&) { ++count; };
    center.addObserver(&observer, "A", &objectA, bump);
    center.addObserver(&observer, "A", &objectB, bump);
    center.addObserver(&observer, "B", nullptr, bump);
    center.addObserver(&other, "A", nullptr, bump);

    center.removeObserver(&observer, "A", &objectA);
    center.postNotificationName("A", &objectA);
    EXPECT_EQ(count, 1);  // only other's
    center.removeObserver(&observer, "", nullptr);
    count = 0;
    center.postNotificationName("A", &objectB);
    center.postNotificationName("B", nullptr);
    EXPECT_EQ(std::pair(count, center.observerCount()), std::pair(1, size_t{1}));
    center.removeObserver(&other);
    EXPECT_EQ(center.observerCount(), 0u);
}

}  // namespace
}  // namespace kqu
