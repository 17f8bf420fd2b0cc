#include "kqutility/foundation/KQUClock.h"

namespace kqu {

std::atomic<KQUClockSource> detail::gClockSource{nullptr};

namespace {
std::atomic<int64_t> sManualNow{0};

int64_t manualNow() { return sManualNow.load(std::memory_order_relaxed); }

std::atomic<KQUWallClockSource> sWallSource{nullptr};
std::atomic<double> sManualWallNow{0};

double manualWallNow() { return sManualWallNow.load(std::memory_order_relaxed); }
}  // namespace

KQUClockSource KQUSetClockSource(KQUClockSource source) { return detail::gClockSource.exchange(source); }

KQUManualClock::KQUManualClock(int64_t startNanoseconds) {
    sManualNow.store(startNanoseconds);
    mPrevious = KQUSetClockSource(&manualNow);
}

KQUManualClock::~KQUManualClock() { KQUSetClockSource(mPrevious); }

void KQUManualClock::setNanoseconds(int64_t nanoseconds) { sManualNow.store(nanoseconds); }

void KQUManualClock::advanceNanoseconds(int64_t nanoseconds) { sManualNow.fetch_add(nanoseconds); }

double KQUWallClockSeconds() {
    if (KQUWallClockSource source = sWallSource.load(std::memory_order_relaxed)) [[unlikely]]
        return source();
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

KQUWallClockSource KQUSetWallClockSource(KQUWallClockSource source) { return sWallSource.exchange(source); }

KQUManualWallClock::KQUManualWallClock(double startSeconds) {
    sManualWallNow.store(startSeconds);
    mPrevious = KQUSetWallClockSource(&manualWallNow);
}

KQUManualWallClock::~KQUManualWallClock() { KQUSetWallClockSource(mPrevious); }

void KQUManualWallClock::setSeconds(double seconds) { sManualWallNow.store(seconds); }

void KQUManualWallClock::advanceSeconds(double seconds) {
    double now = sManualWallNow.load();
    while (!sManualWallNow.compare_exchange_weak(now, now + seconds)) {
    }
}

}  // namespace kqu
