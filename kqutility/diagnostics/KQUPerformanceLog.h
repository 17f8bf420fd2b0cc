// Performance logs: named timings grouped by category (the stages of opening a document,
// say), each keeping its count and last, total, average, shortest and longest duration,
// summarised as one log line per category.
//
//     KQUPerformanceLog log;
//     log.startTestForCategory("open", "parse");  ...  log.stopTestForCategory("open", "parse");
//     log.dumpToConsole();   // "KQUPerformanceLog: Total time spent in open: 1.25 seconds (parse: 1.25s)"
//
// It costs nothing unless the user default "PerformanceLogEnabled" is set (read once per
// process; resetPerformanceLoggingEnabled() makes the next call read it again). Timings use
// the monotonic clock (KQUClock). Each finished timing posts
// "KQUPerformanceTestResultChanged" on the default notification centre, with the result's
// address as object. A log and its results belong to one thread at a time.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqu {

inline constexpr const char* kKQUPerformanceLogEnabled = "PerformanceLogEnabled";
inline constexpr const char* KQUPerformanceTestResultChangedNotification = "KQUPerformanceTestResultChanged";

class KQUPerformanceTestResult {
public:
    explicit KQUPerformanceTestResult(std::string name) : mName(std::move(name)) {}
    KQUPerformanceTestResult(const KQUPerformanceTestResult&) = delete;
    KQUPerformanceTestResult& operator=(const KQUPerformanceTestResult&) = delete;

    // Nested starts time only the outermost span.
    void start();
    // Ends the outermost span; a stop without a start is logged and ignored.
    void stop();

    const std::string& name() const { return mName; }
    int numberOfTimings() const { return mCount; }
    double lastDuration() const { return mRecentTime; }
    double totalDuration() const { return mTotalTime; }
    double aveDuration() const { return mAveTime; }
    double minDuration() const { return mMinTime; }
    double maxDuration() const { return mMaxTime; }
    // Orders by name, case-insensitively (negative, 0, positive).
    int compare(const KQUPerformanceTestResult& other) const;

private:
    std::string mName;
    int mStartCount = 0;
    std::optional<int64_t> mStartNanoseconds;
    int mCount = 0;
    double mTotalTime = 0, mRecentTime = 0, mAveTime = 0, mMinTime = 0, mMaxTime = 0;
};

class KQUPerformanceLog {
public:
    static bool isPerformanceLoggingEnabled();
    // Forgets the value read from the defaults (tests, and a host that changed it).
    static void resetPerformanceLoggingEnabled();

    bool isEnabled() const { return isPerformanceLoggingEnabled(); }
    void startTestForCategory(std::string_view category, std::string_view name);
    void stopTestForCategory(std::string_view category, std::string_view name);
    // One line per category to the log sink, then drops all results.
    void dumpToConsole();
    void reset() { mResults.clear(); }

    // The result, or nullptr when that test never ran.
    const KQUPerformanceTestResult* resultForCategory(std::string_view category, std::string_view name) const;

private:
    KQUPerformanceTestResult& getResult(std::string_view category, std::string_view name);

    // Results are held by pointer: their address is their identity in notifications.
    std::map<std::string, std::map<std::string, std::unique_ptr<KQUPerformanceTestResult>, std::less<>>, std::less<>>
        mResults;
};

// Seconds since the system booted (CLOCK_BOOTTIME); -1.0 (after perror("sysctl")) on failure.
[[nodiscard]] double KQUUptime();

}  // namespace kqu
