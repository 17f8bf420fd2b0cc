#include "kqutility/diagnostics/KQUPerformanceLog.h"

#include <strings.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUNotificationCenter.h"
#include "kqutility/foundation/KQUUserDefaults.h"

namespace kqu {

namespace {
// -1 not read yet, else 0 or 1. Several threads may read the defaults at once on first use;
// they all store the same answer.
std::atomic<int> sEnabled{-1};

int compareIgnoringCase(std::string_view a, std::string_view b) {
    int c = ::strncasecmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0) return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}
}  // namespace

void KQUPerformanceTestResult::start() {
    if (!mStartNanoseconds) mStartNanoseconds = KQUClockNanoseconds();
    ++mStartCount;
}

void KQUPerformanceTestResult::stop() {
    if (mStartCount < 1) {
        KQULogError("KQUPerformanceTestResult {} is not running, stop ignored.", mName);
        return;
    }
    if (--mStartCount > 0) return;
    double duration =
        mStartNanoseconds ? static_cast<double>(KQUClockNanoseconds() - *mStartNanoseconds) / 1e9 : 0.0;
    mRecentTime = duration;
    mStartNanoseconds.reset();
    if (mCount == 0) {
        mTotalTime = mAveTime = mMinTime = mMaxTime = duration;
    } else {
        mMinTime = std::min(mMinTime, duration);
        mMaxTime = std::max(mMaxTime, duration);
        mTotalTime += duration;
        mAveTime = mTotalTime / (mCount + 1);
    }
    ++mCount;
    KQUNotificationCenter::defaultCenter().postNotificationName(KQUPerformanceTestResultChangedNotification, this);
}

int KQUPerformanceTestResult::compare(const KQUPerformanceTestResult& other) const {
    return compareIgnoringCase(mName, other.mName);
}

bool KQUPerformanceLog::isPerformanceLoggingEnabled() {
    int enabled = sEnabled.load(std::memory_order_acquire);
    if (enabled < 0) {
        enabled = KQUUserDefaults::standardUserDefaults().boolForKey(kKQUPerformanceLogEnabled) ? 1 : 0;
        sEnabled.store(enabled, std::memory_order_release);
    }
    return enabled == 1;
}

void KQUPerformanceLog::resetPerformanceLoggingEnabled() { sEnabled.store(-1, std::memory_order_release); }

KQUPerformanceTestResult& KQUPerformanceLog::getResult(std::string_view category, std::string_view name) {
    auto categoryIt = mResults.find(category);
    if (categoryIt == mResults.end()) categoryIt = mResults.emplace(std::string(category), decltype(categoryIt->second){}).first;
    auto& tests = categoryIt->second;
    auto it = tests.find(name);
    if (it == tests.end())
        it = tests.emplace(std::string(name), std::make_unique<KQUPerformanceTestResult>(std::string(name))).first;
    return *it->second;
}

void KQUPerformanceLog::startTestForCategory(std::string_view category, std::string_view name) {
    if (isEnabled()) getResult(category, name).start();
}

void KQUPerformanceLog::stopTestForCategory(std::string_view category, std::string_view name) {
    if (isEnabled()) getResult(category, name).stop();
}

const KQUPerformanceTestResult* KQUPerformanceLog::resultForCategory(std::string_view category,
                                                                     std::string_view name) const {
    auto categoryIt = mResults.find(category);
    if (categoryIt == mResults.end()) return nullptr;
    auto it = categoryIt->second.find(name);
    return it == categoryIt->second.end() ? nullptr : it->second.get();
}

void KQUPerformanceLog::dumpToConsole() {
    if (!isEnabled()) return;
    std::vector<const std::string*> categories;
    for (const auto& [category, tests] : mResults) categories.push_back(&category);
    std::stable_sort(categories.begin(), categories.end(),
                     [](const std::string* a, const std::string* b) { return compareIgnoringCase(*a, *b) < 0; });
    for (const std::string* category : categories) {
        std::vector<const KQUPerformanceTestResult*> results;
        for (const auto& [name, result] : mResults[*category]) results.push_back(result.get());
        std::stable_sort(results.begin(), results.end(),
                         [](const auto* a, const auto* b) { return a->compare(*b) < 0; });
        double total = 0;
        std::string list;
        for (const auto* result : results) {
            total += result->totalDuration();
            if (result->name().empty() || result->totalDuration() < 0.01) continue;
            if (!list.empty()) list += ", ";
            list += fmt::format("{}: {:.2f}s", result->name(), result->totalDuration());
        }
        // The line goes to the sink as plain text: nothing in it is a format any more.
        std::string line = fmt::format("KQUPerformanceLog: Total time spent in {}: {:.2f} seconds", *category, total);
        if (!list.empty()) line += fmt::format(" ({})", list);
        KQULogMessage(line);
    }
    mResults.clear();
}

double KQUUptime() {
    struct timespec sinceBoot;
    if (::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0) {
        std::perror("sysctl");
        return -1.0;
    }
    return static_cast<double>(sinceBoot.tv_sec) + static_cast<double>(sinceBoot.tv_nsec) / 1e9;
}

}  // namespace kqu
