#include "kqutility/diagnostics/KQUStopwatch.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "kqutility/foundation/KQUClock.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

TEST(KQUStopwatch, LapsElapsedTimeAndBounds) {
    KQUManualClock clock(1'000'000);  // 1000 us
    const double overhead = Stopwatch::MethodCallOverhead();
    Stopwatch watch("w");
    EXPECT_EQ(watch.StartTime(), -1.0);
    watch.Stop();  // not running: ignored
    EXPECT_EQ(watch.StopTime(), -1.0);
    watch.Start();
    for (int micro : {10, 15}) {
        clock.advanceMicroseconds(micro);
        watch.Lap();
    }
    EXPECT_EQ(watch.ElapsedTime(), 0.0) << "never stopped";
    watch.Start();  // already running: the start time stays
    clock.advanceMicroseconds(5);
    watch.Stop();
    EXPECT_EQ(std::pair(watch.StartTime(), watch.StopTime()), std::pair(1000.0, 1030.0));
    EXPECT_DOUBLE_EQ(watch.ElapsedTime(), 30.0 - overhead);
    ASSERT_EQ(watch.Laps(), 2u);
    EXPECT_EQ(std::vector<double>({watch.LapTime(0), watch.LapTime(1), watch.LapTime(2), watch.LapTime(3)}),
              std::vector<double>({-1.0, 1010.0, 1025.0, -1.0}));
    watch.Reset();
    EXPECT_EQ(std::pair(watch.StopTime(), watch.Laps()), std::pair(-1.0, size_t{2}));
}

// Runs the report into a memory stream (the report empties the task list: take it first).
std::string report(ProfileManager& manager) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&buffer, &size);
    manager.writeProfilingInfo(stream);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

// The same report from Python's %-formatting of the same figures, in the order given.
std::string pythonReport(const std::vector<TaskInfo>& sorted) {
    std::string rows, total = "0";
    for (const auto& t : sorted) total += fmt::format("+{:.17g}", t.exclusiveTime());
    for (const auto& t : sorted)
        rows += fmt::format("('{}',{:.17g},{:.17g},{}),", t.name(), t.exclusiveTime(), t.inclusiveTime(), t.calls());
    std::string program = fmt::format(
        "import sys\n"
        "total={}\n"
        "rows=[{}]\n"
        "share=lambda v: 100.0*v/total if total>0 else 0.0\n"
        "out='\\nTotal Time: %g seconds\\n' % (total/1e6) + 'Exclusive\\t\\t Inclusive\\t\\t Calls\\t Name\\n'\n"
        "for n,e,i,c in rows: out += '% 6.2f%%\\t\\t% 6.2f%%\\t% 10d\\t %s\\n' % (share(e), share(i), c, n)\n"
        "sys.stdout.write(out + '\\n\\n')\n",
        total, rows);
    test::TempDir dir;
    test::writeFile(dir.file("r.py"), program);
    std::string output;
    EXPECT_EQ(test::runCommand("python3 " + dir.file("r.py"), &output), 0);
    return output;
}

TEST(KQUProfileManager, NestedTasksAndReportMatchPython) {
    KQUManualClock clock;
    ProfileManager manager;
    {
        ProfileTask outer("outer", manager);
        clock.advanceMicroseconds(200);
        for (int i = 0; i < 2; ++i) {
            ProfileTask inner("inner", manager);
            clock.advanceMicroseconds(50);
        }
        clock.advanceMicroseconds(700);
    }
    {
        std::string name = "Zeta";  // names are copied: the buffer goes before the report
        ProfileTask task(name, manager);
        name.assign("junk");
        clock.advanceMicroseconds(1000);
    }
    ASSERT_EQ(manager.tasks().size(), 3u);
    EXPECT_EQ(manager.tasks()[0].name(), "Zeta");  // kept in byte order: upper case first
    const TaskInfo &inner = manager.tasks()[1], &outer = manager.tasks()[2];
    EXPECT_EQ(std::pair(inner.calls(), manager.stackTop()), std::pair(2, 0));
    EXPECT_NEAR(outer.inclusiveTime(), 1000, 0.01);
    EXPECT_NEAR(outer.exclusiveTime(), 900, 0.02);
    EXPECT_NEAR(inner.inclusiveTime(), 100, 0.01);
    auto sorted = manager.tasks();
    std::string text = report(manager);
    std::stable_sort(sorted.begin(), sorted.end(), TaskInfo::comparator);
    EXPECT_EQ(text, pythonReport(sorted));
    EXPECT_TRUE(manager.tasks().empty());
}

TEST(KQUProfileManager, ZeroTotalPrintsZeroSharesAndLevelZeroChargesNothing) {
    KQUManualClock clock;
    ProfileManager manager;
    { ProfileTask still("still", manager); }  // charged, but with no time
    manager.stopProfiling();
    {
        ProfileTask ignored("ignored", manager);
        clock.advanceMicroseconds(10);
    }
    EXPECT_EQ(manager.stackTop(), 0);
    ASSERT_EQ(manager.tasks().size(), 1u);
    auto tasks = manager.tasks();
    std::string text = report(manager);
    EXPECT_EQ(text.find("nan"), std::string::npos) << text;
    EXPECT_EQ(text, pythonReport(tasks));
}

TEST(KQUProfileManager, StackMisuseIsReportedNeverThrownFromADestructor) {
    ProfileManager manager;
    test::LogCapture log;
    {
        ProfileTask task("popped", manager);
        EXPECT_EQ(manager.popDescendantsTime(), 0.0);  // the task's own slot, taken from under it
        // The task's destructor now pops at 0: the handler (which throws under tests) reports it.
    }
    EXPECT_TRUE(log.contains("Too many pops in profiling code"));
    EXPECT_EQ(manager.stackTop(), 0);
    test::ContinueAfterAssertions keepGoing;
    EXPECT_EQ(manager.popDescendantsTime(), 0.0);
    for (int i = 0; i < ProfileManager::kStackSize - 1; ++i) ASSERT_TRUE(manager.pushDescendantsTime());
    EXPECT_EQ(manager.stackTop(), 4999);
    EXPECT_FALSE(manager.pushDescendantsTime());
    EXPECT_TRUE(log.contains("Too many pushes in profiling code"));
    size_t before = manager.tasks().size();
    { ProfileTask refused("refused", manager); }
    EXPECT_EQ(manager.tasks().size(), before) << "a refused push charges nothing";
    EXPECT_EQ(manager.stackTop(), 4999);
}

TEST(KQUStopwatch, LogElapsedTimePicksTheUnit) {
    KQUManualClock clock;
    const double overhead = Stopwatch::MethodCallOverhead();
    for (auto [microseconds, unit] : {std::pair(500.0, "microseconds"), std::pair(2'500'000.0, "seconds")}) {
        test::LogCapture log;
        Stopwatch watch("load", true);
        clock.advanceMicroseconds(microseconds);
        watch.Stop();
        watch.LogElapsedTime();
        const double value = (microseconds - overhead) / (microseconds < 1e6 ? 1 : 1e6);
        EXPECT_EQ(log.messages(),
                  std::vector<std::string>{fmt::format("load: {:#x} [ {:f} {} ]",
                                                       reinterpret_cast<uintptr_t>(&watch), value, unit)});
    }
}

}  // namespace
}  // namespace kqu
