#include "kqutility/system/KQUMemoryChecks.h"

#include <atomic>
#include <cmath>
#include <mutex>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUUserDefaults.h"

namespace kqu {

namespace {
constexpr uint64_t kMegabyte = 1u << 20;
constexpr uint64_t kCap = 4096 * kMegabyte;

struct Figures {
    bool initialized = false;
    uint64_t pageSize = 0;
    uint64_t totalPageCount = 0;
    uint64_t overheadPageCount = 0;
    KQUPhysicalMemory probe;
};

std::mutex sLock;
Figures sFigures;
std::optional<KQUPhysicalMemory> sInjected;
std::atomic<int> sIgnore{-1};  // -1 not read yet

// The figures, filled on first success; a copy, so callers need no lock.
Figures figures() {
    std::lock_guard guard(sLock);
    if (sFigures.initialized) return sFigures;
    KQUPhysicalMemory memory = sInjected ? *sInjected : KQUProbePhysicalMemory();
    if (!memory.known()) return {};
    Figures f;
    f.probe = memory;
    f.pageSize = memory.pageSize;
    f.totalPageCount = std::min(memory.usableBytes, kCap) / memory.pageSize;
    const uint64_t capped = f.totalPageCount * f.pageSize;
    double factor = capped <= 512 * kMegabyte ? 0.75 : capped <= 1024 * kMegabyte ? 0.5
                                                   : capped <= 2048 * kMegabyte   ? 0.3
                                                                                  : 0.2;
    f.overheadPageCount = static_cast<uint64_t>(static_cast<double>(f.totalPageCount) * factor);
    f.initialized = true;
    sFigures = f;
    return f;
}

double pagesNeeded(uint32_t cellCount, double bytesPerCell, uint64_t pageSize) {
    return bytesPerCell * static_cast<double>(cellCount) / static_cast<double>(pageSize);
}

uint64_t megabytes(const Figures& f) { return f.totalPageCount * f.pageSize / kMegabyte; }
}  // namespace

uint64_t KQUMemoryTotalPageCount() { return figures().totalPageCount; }

uint64_t KQUMemoryEstimatedMemoryInMegabytes() {
    Figures f = figures();
    return (f.totalPageCount - f.overheadPageCount) * f.pageSize / kMegabyte;
}

KQUPhysicalMemory KQUMemoryProbeResult() { return figures().probe; }

bool ignoreMemoryChecks() {
    int ignore = sIgnore.load(std::memory_order_acquire);
    if (ignore < 0) {
        ignore = KQUUserDefaults::standardUserDefaults().boolForKey(KQUIgnoreMemoryChecksKey) ? 1 : 0;
        sIgnore.store(ignore, std::memory_order_release);
    }
    return ignore == 1;
}

bool isThereEnoughMemory(uint32_t cellCount, double bytesPerCell) {
    if (ignoreMemoryChecks()) return true;
    Figures f = figures();
    if (!f.initialized) return true;
    const uint64_t r = megabytes(f);
    const double available = static_cast<double>(f.totalPageCount - f.overheadPageCount);
    bool enough;
    if (r < 512) {
        enough = pagesNeeded(cellCount, bytesPerCell, f.pageSize) <= available;
    } else if (r == 512) {
        enough = cellCount <= 510000;
    } else if (r < 1024) {
        enough = cellCount <= 1000000;
    } else if (r == 1024) {
        enough = cellCount <= 1200000;
    } else {
        // More memory never admits less than 1024 MB does; beyond that, the estimate decides.
        enough = cellCount <= 1200000 || pagesNeeded(cellCount, bytesPerCell, f.pageSize) <= available;
    }
    if (!enough)
        KQULogInfo("Not enough memory to open a document with {} cells on a machine with {} MB of RAM", cellCount, r);
    return enough;
}

bool isThereEnoughMemoryToImport(uint32_t cellCount, double bytesPerCell) {
    if (ignoreMemoryChecks()) return true;
    Figures f = figures();
    if (!f.initialized) return true;
    const uint64_t capped = f.totalPageCount * f.pageSize;
    double available = static_cast<double>(f.totalPageCount - f.overheadPageCount);
    if (capped <= 1024 * kMegabyte)
        available = std::floor(available * 0.45);
    else if (capped <= 2048 * kMegabyte)
        available = std::floor(available * 0.8);
    if (pagesNeeded(cellCount, bytesPerCell, f.pageSize) <= available) return true;
    KQULogInfo("Not enough memory to import a document with {} cells on a machine with {} MB of RAM", cellCount,
               megabytes(f));
    return false;
}

void KQUMemoryResetForTesting(std::optional<KQUPhysicalMemory> memory) {
    std::lock_guard guard(sLock);
    sFigures = {};
    sInjected = std::move(memory);
    sIgnore.store(-1, std::memory_order_release);
}

}  // namespace kqu
