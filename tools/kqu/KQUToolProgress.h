// Progress bars and phase timings for kqu's long commands (zip create, extract, test, rm,
// encrypt, decrypt, copy).
//
// A command makes one KQUToolProgress on the main thread for its whole run. It opens the
// thread's progress context (KQUProgressContext) with one stage over the total bytes;
// the command then wraps each entry or file in an Item of its bytes and calls advance()
// from its own copy loop. An observer draws one line on stderr,
//
//      42%  84.0 MiB of 200.0 MiB  112.3 MiB/s  ETA 0:01
//
// redrawn at most 10 times a second and at 100 %, and erased ("\r" ESC[K) before any log
// message, whenever the command calls erase() before printing, and at the end. Nothing is
// drawn when stderr is not a terminal or with --quiet, so scripts see the same output as
// before. With the default "PerformanceLogEnabled" set, phase() times the command's phases
// in the performance log under the command's name, dumped to the log when the command ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kqutility/diagnostics/KQUPerformanceLog.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUNotificationCenter.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {

// " 42%  84.0 MiB of 200.0 MiB  112.3 MiB/s  ETA 0:01"; a rate of 0 or less is not known yet.
std::string KQUFormatProgressLine(double percentage, uint64_t totalBytes, double bytesPerSecond);
// "512 B", "84.0 MiB": binary units, one decimal.
std::string KQUFormatBinaryBytes(double bytes);

class KQUToolProgress {
public:
    // command names the performance-log category ("zip create").
    KQUToolProgress(const KQUToolArguments& arguments, std::string command);
    ~KQUToolProgress();
    KQUToolProgress(const KQUToolProgress&) = delete;
    KQUToolProgress& operator=(const KQUToolProgress&) = delete;

    // Opens the stage over every item; call once, when the sizes are known.
    void begin(uint64_t totalBytes);
    // One entry or file: a stage of its bytes within the whole.
    class Item {
    public:
        Item(KQUToolProgress& progress, uint64_t bytes);
        ~Item();
        Item(const Item&) = delete;
        Item& operator=(const Item&) = delete;

    private:
        bool mOpen;
    };
    void advance(uint64_t bytes);
    // Takes the bar off the screen before the command prints; the next update redraws it.
    void erase();
    // Completes the work (the bar shows 100 %), then erases the bar and closes the context;
    // the destructor does the same, without the 100 % when an exception is leaving.
    void finish();

    // Times a phase of the command while alive (only with "PerformanceLogEnabled").
    class Phase {
    public:
        Phase(KQUToolProgress& progress, std::string name);
        ~Phase();
        Phase(const Phase&) = delete;
        Phase& operator=(const Phase&) = delete;

    private:
        KQUToolProgress& mProgress;
        std::string mName;
    };

private:
    void draw(double percentage);
    void close(bool completed);

    std::string mCommand;
    bool mDraw = false;
    bool mBegun = false;
    bool mOwnsContext = false;
    bool mShown = false;
    uint64_t mTotalBytes = 0;
    int64_t mStartNanoseconds = 0;
    int64_t mLastDrawNanoseconds = 0;
    double mLastPercentage = -1;
    KQUPerformanceLog mLog;
    KQULogSink mPreviousSink;
    bool mSinkInstalled = false;
};

}  // namespace kqu::tool
