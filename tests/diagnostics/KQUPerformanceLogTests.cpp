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
    void TearDown() override { KQUPerformanceLog::resetPerformanceLoggingEnabled(); }
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
    EXPECT_DOUBLE_EQ(parse->totalDuration(), 4.0);
    EXPECT_DOUBLE_EQ(parse->aveDuration(), 2.0);
    EXPECT_DOUBLE_EQ(parse->minDuration(), 1.0);
    EXPECT_DOUBLE_EQ(parse->maxDuration(), 3.0);
}

TEST_F(KQUPerformanceLogTest, SummaryLinesPerCategory) {
    test::ScopedDefault enabled(kKQUPerformanceLogEnabled, "YES");
    KQUManualClock clock;
    KQUPerformanceLog log;
    struct Timing {
        const char* category;
        const char* name;
        double seconds;
    };
    for (Timing t : std::vector<Timing>{{"zip", "write", 1.5},
                                        {"Open", "tiny", 0.004},
                                        {"Open", "Read 100%", 0.25},
                                        {"Open", "", 0.5},
                                        {"Open", "inflate", 0.01}}) {
        log.startTestForCategory(t.category, t.name);
        clock.advanceNanoseconds(static_cast<int64_t>(t.seconds * 1e9));
        log.stopTestForCategory(t.category, t.name);
    }
    test::LogCapture messages;
    log.dumpToConsole();
    EXPECT_EQ(messages.messages(),
              (std::vector<std::string>{
                  "KQUPerformanceLog: Total time spent in Open: 0.76 seconds (inflate: 0.01s, Read 100%: 0.25s)",
                  "KQUPerformanceLog: Total time spent in zip: 1.50 seconds (write: 1.50s)"}));
    EXPECT_EQ(log.resultForCategory("zip", "write"), nullptr) << "the dump drops the results";
}

TEST_F(KQUPerformanceLogTest, DisabledLogDoesNothing) {
    test::ScopedDefault disabled(kKQUPerformanceLogEnabled, "NO");
    KQUPerformanceLog log;
    log.startTestForCategory("open", "parse");
    log.stopTestForCategory("open", "parse");
    EXPECT_EQ(log.resultForCategory("open", "parse"), nullptr);
    test::LogCapture messages;
    log.dumpToConsole();
    EXPECT_TRUE(messages.messages().empty());
}

TEST(KQUUptime, AgreesWithProcUptime) {
    std::string text = test::readFile("/proc/uptime");
    double procUptime = std::stod(text);
    double uptime = KQUUptime();
    EXPECT_GE(uptime, procUptime);
    EXPECT_LT(uptime, procUptime + 5);
}

}  // namespace
}  // namespace kqu
