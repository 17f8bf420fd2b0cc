#include "kqutility/foundation/KQUClock.h"

namespace kqu {

std::atomic<KQUClockSource> detail::gClockSource{nullptr};

namespace {
std::atomic<int64_t> sManualNow{0};

int64_t manualNow() { return sManualNow.load(std::memory_order_relaxed); }
}  // namespace

KQUClockSource KQUSetClockSource(KQUClockSource source) { return detail::gClockSource.exchange(source); }

KQUManualClock::KQUManualClock(int64_t startNanoseconds) {
    sManualNow.store(startNanoseconds);
    mPrevious = KQUSetClockSource(&manualNow);
}

KQUManualClock::~KQUManualClock() { KQUSetClockSource(mPrevious); }

void KQUManualClock::setNanoseconds(int64_t nanoseconds) { sManualNow.store(nanoseconds); }

void KQUManualClock::advanceNanoseconds(int64_t nanoseconds) { sManualNow.fetch_add(nanoseconds); }

}  // namespace kqu
