#include "tools/kqu/KQUToolProgress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <exception>

#include <fmt/format.h>

#include "kqutility/foundation/KQUClock.h"
#include "kqutility/progress/KQUProgressContext.h"

namespace kqu::tool {

namespace {
constexpr int64_t kRedrawInterval = 100'000'000;  // 10 a second
constexpr const char* kErase = "\r\x1b[K";

void writeStderr(std::string_view text) {
    // Unbuffered and in one piece, so the bar never interleaves with itself.
    while (!text.empty()) {
        ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

std::string formatEta(double seconds) {
    if (!(seconds >= 0) || seconds > 359999) return "--:--";
    auto s = static_cast<uint64_t>(std::llround(seconds));
    if (s >= 3600) return fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60);
    return fmt::format("{}:{:02}", s / 60, s % 60);
}
}  // namespace

std::string KQUFormatBinaryBytes(double bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) return fmt::format("{:.0f} B", bytes);
    int unit = -1;
    do {
        bytes /= 1024;
        ++unit;
    } while (bytes >= 1024 && unit < 4);
    return fmt::format("{:.1f} {}", bytes, kUnits[unit]);
}

std::string KQUFormatProgressLine(double percentage, uint64_t totalBytes, double bytesPerSecond) {
    double done = static_cast<double>(totalBytes) * percentage / 100.0;
    std::string rate = bytesPerSecond > 0 ? KQUFormatBinaryBytes(bytesPerSecond) + "/s" : "--- B/s";
    double eta = bytesPerSecond > 0 ? (static_cast<double>(totalBytes) - done) / bytesPerSecond : -1;
    return fmt::format("{:3.0f}%  {} of {}  {}  ETA {}", std::floor(percentage), KQUFormatBinaryBytes(done),
                       KQUFormatBinaryBytes(static_cast<double>(totalBytes)), rate, formatEta(eta));
}

KQUToolProgress::KQUToolProgress(const KQUToolArguments& arguments, std::string command)
    : mCommand(std::move(command)) {
    mDraw = !arguments.has("--quiet") && ::isatty(STDERR_FILENO) == 1;
    if (mDraw) {
        mPreviousSink = KQUSetLogSink([this](std::string_view message) {
            erase();
            if (mPreviousSink)
                mPreviousSink(message);
            else
                writeStderr(KQUFormatLogLine(message) + "\n");
        });
        mSinkInstalled = true;
    }
}

KQUToolProgress::~KQUToolProgress() {
    close(std::uncaught_exceptions() == 0);
    if (mSinkInstalled) KQUSetLogSink(std::move(mPreviousSink));
    mLog.dumpToConsole();
}

void KQUToolProgress::finish() { close(true); }

void KQUToolProgress::close(bool completed) {
    if (mBegun) {
        mBegun = false;
        // A failed run stops where it was; only a finished one is drawn at 100 %.
        if (!completed) KQUProgressContext::removeProgressObserver(this);
        KQUProgressContext::endStage();
        KQUProgressContext::removeProgressObserver(this);
        if (mOwnsContext) KQUProgressContext::removeContextForCurrentThread();
    }
    erase();
}

void KQUToolProgress::begin(uint64_t totalBytes) {
    if (mBegun) return;
    mBegun = true;
    mTotalBytes = totalBytes;
    mStartNanoseconds = KQUClockNanoseconds();
    if (!KQUProgressContext::contextExistsForCurrentThread()) {
        KQUProgressContext::createContextForCurrentThread();
        mOwnsContext = true;
    }
    if (mDraw)
        KQUProgressContext::addProgressObserver(this, [this](const KQUNotification& notification) {
            for (const auto& [key, value] : notification.userInfo)
                if (key == KQUProgressPercentage) draw(value.doubleValue());
        });
    // A stage of at least one step, so that an empty run still reaches 100 %.
    KQUProgressContext::createStageWithSteps(std::max<double>(1, static_cast<double>(totalBytes)), 100);
}

KQUToolProgress::Item::Item(KQUToolProgress& progress, uint64_t bytes) : mOpen(progress.mBegun) {
    if (mOpen) KQUProgressContext::createStageWithSteps(static_cast<double>(bytes), static_cast<double>(bytes));
}

KQUToolProgress::Item::~Item() {
    if (mOpen) KQUProgressContext::endStage();
}

void KQUToolProgress::advance(uint64_t bytes) {
    if (mBegun) KQUProgressContext::advanceProgress(static_cast<double>(bytes));
}

void KQUToolProgress::erase() {
    if (!mShown) return;
    writeStderr(kErase);
    mShown = false;
}

void KQUToolProgress::draw(double percentage) {
    int64_t now = KQUClockNanoseconds();
    if (percentage < 100 && mShown && now - mLastDrawNanoseconds < kRedrawInterval) return;
    if (percentage >= 100 && mLastPercentage >= 100 && mShown) return;
    double seconds = static_cast<double>(now - mStartNanoseconds) / 1e9;
    double done = static_cast<double>(mTotalBytes) * percentage / 100.0;
    // A rate from less than a tenth of a second says little; show none until then.
    double rate = seconds >= 0.1 && done > 0 ? done / seconds : 0;
    writeStderr(std::string(kErase) + KQUFormatProgressLine(percentage, mTotalBytes, rate));
    mShown = true;
    mLastDrawNanoseconds = now;
    mLastPercentage = percentage;
}

KQUToolProgress::Phase::Phase(KQUToolProgress& progress, std::string name)
    : mProgress(progress), mName(std::move(name)) {
    mProgress.mLog.startTestForCategory(mProgress.mCommand, mName);
}

KQUToolProgress::Phase::~Phase() { mProgress.mLog.stopTestForCategory(mProgress.mCommand, mName); }

}  // namespace kqu::tool
