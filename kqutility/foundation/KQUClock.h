// The library's one monotonic clock, for every timing it does: stopwatches, the profiler,
// performance logs and the rate limit of progress reports. It reads CLOCK_MONOTONIC, which
// never steps when the wall clock is set, so a measured span is never negative.
//
// Tests (and a host that replays recorded work) replace the source with
// KQUSetClockSource(); KQUManualClock is the usual way to do so for the span of a scope.
// The source is a plain function pointer held atomically, so reading the clock costs one
// relaxed load and a branch on top of clock_gettime. Any thread may read the clock; the
// source should be swapped while no other thread is timing anything.
//
// The wall clock (KQUWallClockSeconds) tells dates: seconds since 1970-01-01 00:00 UTC
// from CLOCK_REALTIME, for what records when something happened (tracked changes and
// their sessions). It is injectable the same way, through KQUSetWallClockSource() or a
// KQUManualWallClock for the span of a scope.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>

namespace kqu {

// A clock source answers nanoseconds of a monotonic time line.
using KQUClockSource = int64_t (*)();

namespace detail {
extern std::atomic<KQUClockSource> gClockSource;
}

// Nanoseconds of CLOCK_MONOTONIC (or of the installed source). Inline: stopwatches call it
// around the code they time, and a call into another unit would be part of what they measure.
[[nodiscard]] inline int64_t KQUClockNanoseconds() {
    if (KQUClockSource source = detail::gClockSource.load(std::memory_order_relaxed)) [[unlikely]]
        return source();
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
[[nodiscard]] inline double KQUClockMicroseconds() { return static_cast<double>(KQUClockNanoseconds()) / 1e3; }
[[nodiscard]] inline double KQUClockSeconds() { return static_cast<double>(KQUClockNanoseconds()) / 1e9; }

// Installs source (nullptr restores CLOCK_MONOTONIC) and returns the previous one.
KQUClockSource KQUSetClockSource(KQUClockSource source);

// A clock that moves only when told, installed for the life of the object. Only one may
// exist at a time (it is process-wide, like the clock it replaces).
class KQUManualClock {
public:
    explicit KQUManualClock(int64_t startNanoseconds = 1'000'000'000);
    ~KQUManualClock();
    KQUManualClock(const KQUManualClock&) = delete;
    KQUManualClock& operator=(const KQUManualClock&) = delete;

    void setNanoseconds(int64_t nanoseconds);
    void advanceNanoseconds(int64_t nanoseconds);
    void advanceMicroseconds(double microseconds) { advanceNanoseconds(static_cast<int64_t>(microseconds * 1e3)); }
    void advanceSeconds(double seconds) { advanceNanoseconds(static_cast<int64_t>(seconds * 1e9)); }

private:
    KQUClockSource mPrevious;
};

// --- Wall clock -------------------------------------------------------------------------

// A wall-clock source answers seconds since 1970-01-01 00:00 UTC.
using KQUWallClockSource = double (*)();

// Seconds since 1970-01-01 00:00 UTC from CLOCK_REALTIME (or the installed source).
[[nodiscard]] double KQUWallClockSeconds();

// Installs source (nullptr restores CLOCK_REALTIME) and returns the previous one.
KQUWallClockSource KQUSetWallClockSource(KQUWallClockSource source);

// A wall clock that moves only when told, installed for the life of the object. Only one
// may exist at a time.
class KQUManualWallClock {
public:
    explicit KQUManualWallClock(double startSeconds);
    ~KQUManualWallClock();
    KQUManualWallClock(const KQUManualWallClock&) = delete;
    KQUManualWallClock& operator=(const KQUManualWallClock&) = delete;

    void setSeconds(double seconds);
    void advanceSeconds(double seconds);

private:
    KQUWallClockSource mPrevious;
};

}  // namespace kqu
