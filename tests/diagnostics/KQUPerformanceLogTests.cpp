#include "kqutility/diagnostics/KQUPerformanceLog.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQUNotificationCenter.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

class KQUPerformanceLogTest : public ::testing::Test {
protected:
    void SetUp() override { KQUPerformanceLog::resetPerformanceLoggingEnabled(); }
    void TearDown() override { SetUp(); }
};

TEST_F(KQUPerformanceLogTest, NestedStartsStopWithoutStartAndNotifications) {
    test::ScopedDefault enabled(kKQUPerformanceLogEnabled, "YES");
    KQUManualClock clock;
    KQUPerformanceLog log;
    std::vector<const void*> changed;
    KQUScopedObserver observer(KQUNotificationCenter::defaultCenter(), KQUPerformanceTestResultChangedNotification,
                               nullptr, [&](const KQUNotification& n) { changed.push_back(n.object); });

    test::LogCapture messages;
    log.stopTestForCategory("open", "parse");  // never started
    EXPECT_TRUE(messages.contains("KQUPerformanceTestResult parse is not running, stop ignored."));
    const auto* parse = log.resultForCategory("open", "parse");
    ASSERT_NE(parse, nullptr);
    EXPECT_EQ(parse->numberOfTimings(), 0);

    log.startTestForCategory("open", "parse");
    clock.advanceSeconds(1);
    log.startTestForCategory("open", "parse");
    clock.advanceSeconds(1);
    log.stopTestForCategory("open", "parse");
    EXPECT_TRUE(changed.empty()) << "an inner stop finishes nothing";
    clock.advanceSeconds(1);
    log.stopTestForCategory("open", "parse");
    EXPECT_EQ(parse->numberOfTimings(), 1);
    EXPECT_DOUBLE_EQ(parse->lastDuration(), 3.0);
    EXPECT_EQ(changed, std::vector<const void*>{parse});

    log.startTestForCategory("open", "parse");
    clock.advanceSeconds(1);
    log.stopTestForCategory("open", "parse");
    EXPECT_EQ(parse->numberOfTimings(), 2);
    EXPECT_EQ(std::vector<double>(
                  {parse->totalDuration(), parse->aveDuration(), parse->minDuration(), parse->maxDuration()}),
              std::vector<double>({4.0, 2.0, 1.0, 3.0}));
}

TEST_F(KQUPerformanceLogTest, SummaryLinesPerCategory) {
    test::ScopedDefault enabled(kKQUPerformanceLogEnabled, "YES");
    KQUManualClock clock;
    KQUPerformanceLog log;
    const std::tuple<const char*, const char*, int64_t> timings[] = {{"zip", "write", 1'500'000'000},
                                                                     {"Open", "tiny", 4'000'000},
                                                                     {"Open", "Read 100%", 250'000'000},
                                                                     {"Open", "", 500'000'000},
                                                                     {"Open", "inflate", 10'000'000}};
    for (auto [category, name, nanoseconds] : timings) {
        log.startTestForCategory(category, name);
        clock.advanceNanoseconds(nanoseconds);
        log.stopTestForCategory(category, name);
    }
    test::LogCapture messages;
    log.dumpToConsole();
    EXPECT_EQ(messages.messages(),
              (std::vector<std::string>{
                  "KQUPerformanceLog: Total time spent in Open: 0.76 seconds (inflate: 0.01s, Read 100%: 0.25s)",
                  "KQUPerformanceLog: Total time spent in zip: 1.50 seconds (write: 1.50s)"}));
    EXPECT_EQ(log.resultForCategory("zip", "write"), nullptr) << "the dump drops the results";
}

TEST(KQUUptime, AgreesWithProcUptime) {
    double procUptime = std::stod(test::readFile("/proc/uptime")), uptime = KQUUptime();
    EXPECT_GE(uptime, procUptime);
    EXPECT_LT(uptime, procUptime + 5);
}

}  // namespace
}  // namespace kqu
