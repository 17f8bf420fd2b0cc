#include "kqutility/progress/KQUProgressContext.h"

#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUClock.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

// A context on this thread with an observer recording the percentages it posts.
class Progress {
public:
    Progress() {
        KQUProgressContext::createContextForCurrentThread();
        KQUProgressContext::addProgressObserver(this, [this](const KQUNotification& n) {
            for (const auto& [key, value] : n.userInfo)
                if (key == KQUProgressPercentage) posted.push_back(value.doubleValue());
        });
    }
    ~Progress() {
        KQUProgressContext::removeProgressObserver(this);
        KQUProgressContext::removeContextForCurrentThread();
    }
    std::vector<double> posted;
};

TEST(KQUProgressContext, RootReportsAreRateLimited) {
    KQUManualClock clock;
    Progress progress;
    const std::pair<double, double> steps[] = {{0, 50},    {0.05, 52}, {0.01, 55},
                                               {0.01, 56}, {0.2, 57},  {0, 100}};
    for (auto [seconds, position] : steps) {
        clock.advanceSeconds(seconds);
        KQUProgressContext::setProgress(position);
    }
    EXPECT_EQ(progress.posted, (std::vector<double>{50, 55, 57, 100}));
}

TEST(KQUProgressContext, StagesMapIntoTheirShareOfTheParent) {
    KQUManualClock clock;
    Progress progress;
    KQUProgressContext::setProgress(30);
    KQUProgressContext::createStageWithSteps(10, 20);
    KQUProgressContext::advanceProgress(5);
    KQUProgressContext::createStageWithSteps(4);  // one of the 10 steps
    KQUProgressContext::advanceProgress(2);
    EXPECT_EQ(KQUProgressContext::currentPosition(), 2);
    KQUProgressContext::endStage();
    EXPECT_EQ(KQUProgressContext::currentPosition(), 6);
    KQUProgressContext::nextSubStageWillTakeThisManyOfMySteps(4);
    KQUProgressContext::createStageWithSteps(1);  // takes 4
    KQUProgressContext::endStage();
    EXPECT_EQ(KQUProgressContext::currentPosition(), 10);
    KQUProgressContext::setProgress(9);  // backwards: logged and applied
    KQUProgressContext::createStageWithSteps(1);  // takes 1 again
    KQUProgressContext::endStage();
    EXPECT_EQ(KQUProgressContext::currentPosition(), 10);
    KQUProgressContext::endStage();
    EXPECT_EQ(KQUProgressContext::currentPosition(), 50);
    EXPECT_EQ(progress.posted, (std::vector<double>{30, 40, 50}));
}

TEST(KQUProgressContext, OvershootClampsAndWarns) {
    Progress progress;
    test::ScopedDefault level("KQULogLevel", "10");
    test::LogCapture log;
    KQUProgressContext::createStageWithSteps(10, 100);
    KQUProgressContext::setProgress(12);
    EXPECT_EQ(KQUProgressContext::currentPosition(), 10);
    EXPECT_TRUE(log.contains("Progress 12 advanced past end of stage 10."));
    EXPECT_EQ(progress.posted, std::vector<double>{100});
}

TEST(KQUProgressContext, WithoutAContextEverythingIsANoOp) {
    std::vector<std::string> heard;
    KQUScopedObserver any(KQUNotificationCenter::defaultCenter(), KQUProgressNotification, nullptr,
                          [&](const KQUNotification& n) { heard.push_back(n.name); });
    KQUProgressContext::createStageWithSteps(10);
    KQUProgressContext::advanceProgress(5);
    KQUProgressContext::endStage();
    EXPECT_EQ(KQUProgressContext::currentPosition(), 0.0);
    EXPECT_EQ(KQUProgressContext::addProgressObserver(&heard, [](const KQUNotification&) {}), 0u);
    EXPECT_TRUE(heard.empty());
}

TEST(KQUProgressContext, ThreadsReportIndependently) {
    auto work = [](double stop, std::vector<double>* posted) {
        Progress progress;
        KQUProgressContext::createStageWithSteps(4, 100);
        for (int i = 0; i < 4 && i * 25 < stop; ++i) KQUProgressContext::advanceProgress(1);
        *posted = progress.posted;
    };
    std::vector<double> a, b;
    std::thread first(work, 50.0, &a);
    std::thread second(work, 100.0, &b);
    first.join();
    second.join();
    EXPECT_EQ(std::pair(a.back(), b.back()), std::pair(50.0, 100.0));
    EXPECT_FALSE(KQUProgressContext::contextExistsForCurrentThread());
}

// Mended: ending the root left no current stage (a crash next) and later stages parentless.
TEST(KQUProgressContext, EndingTheRootIsIgnored) {
    KQUManualClock clock;
    Progress progress;
    test::ScopedDefault level("KQULogLevel", "10");
    test::LogCapture log;
    KQUProgressContext::setProgress(10);
    KQUProgressContext::endStage();
    EXPECT_TRUE(log.contains("endStage called with only the root stage open; ignored."));
    EXPECT_EQ(KQUProgressContext::currentPosition(), 10);
    KQUProgressContext::createStageWithSteps(1000, 10);
    KQUProgressContext::advanceProgress(500);
    EXPECT_EQ(progress.posted.back(), 15);
}

// Mended: a stage of 0 (or NaN) steps never moved its parent, so its share was lost.
TEST(KQUProgressContext, EmptyAndNaNStagesStillMoveTheirParent) {
    for (double steps : {0.0, std::numeric_limits<double>::quiet_NaN(), -3.0}) {
        Progress progress;
        KQUProgressContext::createStageWithSteps(steps, 100);
        KQUProgressContext::endStage();
        EXPECT_EQ(KQUProgressContext::currentPosition(), 100) << steps;
        EXPECT_EQ(progress.posted, std::vector<double>{100}) << steps;
    }
}

}  // namespace
}  // namespace kqu
