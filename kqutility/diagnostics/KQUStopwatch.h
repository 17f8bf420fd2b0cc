// Microsecond stopwatches and the hierarchical task profiler built on them.
//
// A Stopwatch times one span (with laps) on the library's monotonic clock (KQUClock); the
// first timing call calibrates once per process how long reading the clock takes, and
// ElapsedTime() subtracts that overhead. A Stopwatch is a plain value, used by one thread.
//
// The profiler charges time to named tasks: a ProfileTask on the stack marks a task, and
// when it goes out of scope its time goes to its name as inclusive time and as exclusive
// time (inclusive minus the time of the tasks nested inside it):
//
//     void layout() { ProfileTask task("layout"); ... }
//     ProfileManager::sharedProfileManager().writeProfilingInfo();   // report to stderr
//
// ProfileManager is not thread-safe: profile from one thread. Task names are copied.
// Consistency failures (too many pushes or pops, negative times) go to the assertion
// handler; a ProfileTask's destructor never lets an exception out.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUClock.h"

namespace kqu {

// Now, in microseconds of the monotonic clock.
[[nodiscard]] double CGetMicroseconds();

class Stopwatch {
public:
    explicit Stopwatch(std::string name = {}, bool startNow = false);
    ~Stopwatch();
    Stopwatch(const Stopwatch&) = default;
    Stopwatch& operator=(const Stopwatch&) = default;
    Stopwatch(Stopwatch&&) = default;
    Stopwatch& operator=(Stopwatch&&) = default;

    // Inline, so that what a stopwatch adds to the span it times is the clock alone.
    void Start() {  // only when not started
        if (mState != NotStarted) return;
        mStartNanoseconds = KQUClockNanoseconds();
        mState = Running;
    }
    void Stop() {  // only while running
        if (mState != Running) return;
        mStopNanoseconds = KQUClockNanoseconds();
        mState = Stopped;
    }
    void Lap();    // while running: records now
    void Reset() {  // back to not started; laps stay
        mState = NotStarted;
        mStartNanoseconds = mStopNanoseconds = 0;
    }

    [[nodiscard]] double StartTime() const;  // -1.0 when not started
    [[nodiscard]] double StopTime() const;   // -1.0 when not started
    // stop - start - calibrated overhead (at least 0) once stopped; otherwise 0.
    [[nodiscard]] double ElapsedTime() const;
    [[nodiscard]] size_t Laps() const { return mLaps.size(); }
    // The i-th lap time, counted from 1; -1.0 outside 1...Laps().
    [[nodiscard]] double LapTime(size_t index) const;
    // Logs "name: 0x<address> [ value unit ]" in micro-, milli- or seconds.
    void LogElapsedTime() const;

    static void Initialize();  // calibration; runs once, on first use of any timing call
    [[nodiscard]] static double GetMicroseconds();
    [[nodiscard]] static double MethodCallOverhead();

    enum State { NotStarted = 0, Running = 1, Stopped = 2 };
    [[nodiscard]] State state() const { return mState; }

private:
    std::string mName;
    std::vector<double> mLaps;
    State mState = NotStarted;
    // Kept as clock ticks; converted to microseconds when read.
    int64_t mStartNanoseconds = 0;
    int64_t mStopNanoseconds = 0;
};

class TaskInfo {
public:
    explicit TaskInfo(std::string name) : mTaskName(std::move(name)) {}

    const std::string& name() const { return mTaskName; }
    double exclusiveTime() const { return mExclusiveTime; }
    double inclusiveTime() const { return mInclusiveTime; }
    void setExclusiveTime(double time) { mExclusiveTime = time; }
    void setInclusiveTime(double time) { mInclusiveTime = time; }
    int calls() const { return mCalls; }
    void incrementCalls() { ++mCalls; }
    // Orders by exclusive time, largest first.
    static bool comparator(const TaskInfo& a, const TaskInfo& b) { return a.mExclusiveTime > b.mExclusiveTime; }

private:
    std::string mTaskName;
    double mExclusiveTime = 0;
    double mInclusiveTime = 0;
    int mCalls = 0;
};

class ProfileManager {
public:
    static constexpr int kStackSize = 5000;

    // Created on first use, at level 1; lives until the process ends.
    static ProfileManager& sharedProfileManager();

    ProfileManager() = default;
    ProfileManager(const ProfileManager&) = delete;
    ProfileManager& operator=(const ProfileManager&) = delete;

    void startProfiling() { ++mProfileLevel; }
    void stopProfiling() { --mProfileLevel; }
    int profileLevel() const { return mProfileLevel; }
    // Logs "Clearing profiling tasks" and drops every task.
    void clear();
    // The report (shares of the total exclusive time), then drops every task.
    void writeProfilingInfo(FILE* stream = stderr);
    // Charges microseconds to the task name, minus the time of its finished children.
    void addTime(double microseconds, std::string_view name);
    // The index of name, inserted in byte order when missing.
    size_t findTask(std::string_view name);
    void addTask(TaskInfo task, size_t index);
    // Opens a slot for a task's children; false (and an assertion) when the stack is full.
    [[nodiscard]] bool pushDescendantsTime();
    // The top slot, closing it; 0 (and an assertion) when only the base slot is open.
    double popDescendantsTime();
    void addToDescendantsTime(double microseconds) { mDescendantsTimeStack[mStackTop] += microseconds; }

    const std::vector<TaskInfo>& tasks() const { return mProfileTaskArray; }
    int stackTop() const { return mStackTop; }

private:
    std::vector<TaskInfo> mProfileTaskArray;
    int mProfileLevel = 1;
    int mStackTop = 0;
    std::array<double, kStackSize> mDescendantsTimeStack{};
};

class ProfileTask {
public:
    explicit ProfileTask(std::string_view name, ProfileManager& manager = ProfileManager::sharedProfileManager());
    ~ProfileTask();
    ProfileTask(const ProfileTask&) = delete;
    ProfileTask& operator=(const ProfileTask&) = delete;

private:
    ProfileManager& mManager;
    std::string mName;
    bool mTiming = false;  // false when profiling was off or the stack was full
    Stopwatch mStopwatch;
};

}  // namespace kqu
