#include "kqutility/diagnostics/KQUStopwatch.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULogSink.h"

namespace kqu {

namespace {
std::once_flag sCalibration;
// Written once under sCalibration, read afterwards: call_once orders the two.
double sMethodCallOverhead = 0;

// Stopwatches calibrate when they are made, so starting and stopping cost only the clock.
inline double now() { return KQUClockMicroseconds(); }
}  // namespace

double CGetMicroseconds() {
    Stopwatch::Initialize();
    return now();
}

void Stopwatch::Initialize() {
    std::call_once(sCalibration, [] {
        // The clock ticks in nanoseconds, so the divisor from ticks to microseconds is 1000.
        double first = KQUClockMicroseconds();
        double second = KQUClockMicroseconds();
        sMethodCallOverhead = (second - first) / 10.0;
    });
}

double Stopwatch::GetMicroseconds() { return CGetMicroseconds(); }

double Stopwatch::MethodCallOverhead() {
    Initialize();
    return sMethodCallOverhead;
}

Stopwatch::Stopwatch(std::string name, bool startNow) : mName(std::move(name)) {
    Initialize();
    if (startNow) Start();
}

Stopwatch::~Stopwatch() {
    if (mState == Running) Stop();
}

void Stopwatch::Lap() {
    if (mState == Running) mLaps.push_back(now());
}

double Stopwatch::StartTime() const {
    return mState == NotStarted ? -1.0 : static_cast<double>(mStartNanoseconds) / 1e3;
}

double Stopwatch::StopTime() const {
    return mState == NotStarted ? -1.0 : static_cast<double>(mStopNanoseconds) / 1e3;
}

double Stopwatch::ElapsedTime() const {
    if (mState != Stopped) return 0;
    return std::max(0.0, static_cast<double>(mStopNanoseconds - mStartNanoseconds) / 1e3 - MethodCallOverhead());
}

double Stopwatch::LapTime(size_t index) const {
    if (index < 1 || index > mLaps.size()) return -1.0;
    return mLaps[index - 1];
}

void Stopwatch::LogElapsedTime() const {
    double span = mState == Stopped ? static_cast<double>(mStopNanoseconds - mStartNanoseconds) / 1e3 : -1.0;
    double elapsed = std::max(0.0, span - MethodCallOverhead());
    const char* unit = "microseconds";
    if (elapsed > 1000) {
        elapsed /= 1000;
        unit = "milliseconds";
        if (elapsed > 1000) {
            elapsed /= 1000;
            unit = "seconds";
        }
    }
    KQULogMessage(fmt::format("{}: {:#x} [ {:f} {} ]", mName, reinterpret_cast<uintptr_t>(this), elapsed, unit));
}

ProfileManager& ProfileManager::sharedProfileManager() {
    static ProfileManager sShared;
    return sShared;
}

void ProfileManager::clear() {
    KQULogMessage("Clearing profiling tasks");
    mProfileTaskArray.clear();
}

void ProfileManager::writeProfilingInfo(FILE* stream) {
    double total = 0;
    for (const auto& task : mProfileTaskArray) total += task.exclusiveTime();
    std::stable_sort(mProfileTaskArray.begin(), mProfileTaskArray.end(), TaskInfo::comparator);
    // With nothing charged every share would be 0/0; a share of nothing is 0 %.
    auto share = [total](double time) { return total > 0 ? 100.0 * time / total : 0.0; };
    std::fprintf(stream, "\nTotal Time: %g seconds\n", total / 1e6);
    std::fprintf(stream, "Exclusive\t\t Inclusive\t\t Calls\t Name\n");
    for (const auto& task : mProfileTaskArray)
        std::fprintf(stream, "% 6.2f%%\t\t% 6.2f%%\t% 10d\t %s\n", share(task.exclusiveTime()),
                     share(task.inclusiveTime()), task.calls(), task.name().c_str());
    std::fprintf(stream, "\n\n");
    std::fflush(stream);
    mProfileTaskArray.clear();
}

void ProfileManager::addTime(double microseconds, std::string_view name) {
    // Every bit of bookkeeping happens before a failure is reported, so that a handler
    // that throws leaves the stack balanced.
    const double time = std::max(0.0, microseconds);
    const double descendants = popDescendantsTime();
    addToDescendantsTime(time);
    TaskInfo& task = mProfileTaskArray[findTask(name)];
    task.setInclusiveTime(task.inclusiveTime() + time);
    task.setExclusiveTime(task.exclusiveTime() + time - std::max(0.0, descendants));
    task.incrementCalls();
    KQU_OBJECT_ASSERT(microseconds >= 0, "Negative time in profile task");
    KQU_OBJECT_ASSERT(descendants >= 0, "Negative time in profile task descendants");
}

size_t ProfileManager::findTask(std::string_view name) {
    auto position = std::lower_bound(mProfileTaskArray.begin(), mProfileTaskArray.end(), name,
                                     [](const TaskInfo& task, std::string_view key) {
                                         // Byte order, as strcmp compares.
                                         return std::string_view(task.name()) < key;
                                     });
    size_t index = static_cast<size_t>(position - mProfileTaskArray.begin());
    if (position == mProfileTaskArray.end() || position->name() != name) addTask(TaskInfo(std::string(name)), index);
    return index;
}

void ProfileManager::addTask(TaskInfo task, size_t index) {
    bool present = std::any_of(mProfileTaskArray.begin(), mProfileTaskArray.end(),
                               [&](const TaskInfo& t) { return t.name() == task.name(); });
    KQU_OBJECT_ASSERT(!present, "Task being added a second time");
    if (present) return;
    index = std::min(index, mProfileTaskArray.size());
    mProfileTaskArray.insert(mProfileTaskArray.begin() + static_cast<std::ptrdiff_t>(index), std::move(task));
}

bool ProfileManager::pushDescendantsTime() {
    if (mStackTop >= kStackSize - 1) {
        KQU_OBJECT_ASSERT_FAILURE("Too many pushes in profiling code");
        return false;
    }
    mDescendantsTimeStack[++mStackTop] = 0;
    return true;
}

double ProfileManager::popDescendantsTime() {
    if (mStackTop <= 0) {
        KQU_OBJECT_ASSERT_FAILURE("Too many pops in profiling code");
        return 0;
    }
    return mDescendantsTimeStack[mStackTop--];
}

ProfileTask::ProfileTask(std::string_view name, ProfileManager& manager) : mManager(manager) {
    if (manager.profileLevel() <= 0) return;
    mName = name;
    mTiming = manager.pushDescendantsTime();
    if (mTiming) mStopwatch.Start();
}

ProfileTask::~ProfileTask() {
    if (!mTiming) return;
    mStopwatch.Stop();
    try {
        mManager.addTime(mStopwatch.ElapsedTime(), mName);
    } catch (...) {
        // The assertion handler has already reported the failure; an exception leaving a
        // destructor would end the process.
    }
}

}  // namespace kqu
