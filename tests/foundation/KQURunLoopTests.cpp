// The run loop's ordered performs in their modes, and the end-of-event handlers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQURunLoop.h"

namespace kqu {
namespace {

TEST(KQURunLoop, RunsPerformsOnceByOrderThenSchedulingOrderInTheirModes) {
    KQURunLoop loop;
    std::vector<std::string> ran;
    loop.performAtOrder([&] { ran.push_back("late"); }, 500, {NSDefaultRunLoopMode});
    loop.performAtOrder([&] { ran.push_back("early-1"); }, 10, {NSDefaultRunLoopMode, "Modal"});
    loop.performAtOrder([&] { ran.push_back("modal-only"); }, 1, {"Modal"});
    loop.performAtOrder([&] { ran.push_back("early-2"); }, 10, {NSDefaultRunLoopMode});

    EXPECT_EQ(loop.runOneIteration(), 3u);
    EXPECT_EQ(ran, (std::vector<std::string>{"early-1", "early-2", "late"}));
    EXPECT_EQ(std::pair(loop.runOneIteration(), loop.pendingPerformCount()), std::pair(size_t{0}, size_t{1}));
    EXPECT_EQ(loop.runOneIteration("Modal"), 1u);
    EXPECT_EQ(ran.back(), "modal-only");
}

TEST(KQURunLoop, CancelledPerformsDoNotRunAndNewOnesWaitForTheNextIteration) {
    KQURunLoop loop;
    std::vector<int> ran;
    KQURunLoop::PerformToken second = 0;
    loop.performAtOrder(
        [&] {
            ran.push_back(1);
            EXPECT_TRUE(loop.cancelPerform(second));
            loop.performAtOrder([&] { ran.push_back(3); }, 0, {NSDefaultRunLoopMode});
        },
        1, {NSDefaultRunLoopMode});
    second = loop.performAtOrder([&] { ran.push_back(2); }, 2, {NSDefaultRunLoopMode});

    EXPECT_EQ(loop.runOneIteration(), 1u);
    EXPECT_EQ(ran, (std::vector<int>{1}));
    EXPECT_FALSE(loop.cancelPerform(second));
    EXPECT_EQ(loop.runOneIteration(), 1u);
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

TEST(KQUEndOfEvent, CallsInstalledHandlersInOrderUntilRemoved) {
    std::vector<int> calls;
    KQUEndOfEventHandlerToken b = 0;
    KQUEndOfEventHandlerToken a = KQUAddEndOfEventHandler([&] {
        calls.push_back(1);
        KQURemoveEndOfEventHandler(b);  // removed before its turn: not called
    });
    b = KQUAddEndOfEventHandler([&] { calls.push_back(2); });
    KQUEndOfEvent();
    KQURemoveEndOfEventHandler(a);
    KQUEndOfEvent();
    EXPECT_EQ(calls, (std::vector<int>{1}));
}

}  // namespace
}  // namespace kqu
