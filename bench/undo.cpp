// Undo registration and replay at scale: 1,000,000 one-argument records in 10,000 groups
// of 100, registered and then undone group by group. The baseline is the plainest undo
// log there is, a std::vector of std::function closures holding the same weak target and
// shared argument, filled and then popped and called, in the same process.
//
// The program replaces the global operator new to count allocations and live heap bytes:
// registration may allocate at most once per record (the record itself), and the memory
// per record is the growth of the live heap (allocator slack and group marks included).
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include <benchmark/benchmark.h>

#include "kqutility/undo/KQUUndoManager.h"

namespace {

bool gCounting = false;
uint64_t gAllocations = 0;
int64_t gLiveBytes = 0;

void* allocate(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    if (gCounting) ++gAllocations;
    gLiveBytes += static_cast<int64_t>(malloc_usable_size(p));
    return p;
}

void release(void* p) noexcept {
    if (!p) return;
    gLiveBytes -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kGroups = 10'000;
constexpr int kPerGroup = 100;
constexpr double kRecords = double(kGroups) * kPerGroup;

struct Target {
    uint64_t sum = 0;
    void step(const std::shared_ptr<int>& amount) { sum += static_cast<uint64_t>(*amount); }
};

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

struct Results {
    double registerNs = 0, registerBaselineNs = 0;
    double undoNs = 0, undoBaselineNs = 0;
    double bytesPerRecord = 0, baselineBytesPerRecord = 0;
    double allocationsPerRegistration = 0;
} gResults;

std::unique_ptr<kqu::KQUUndoManager> registerAll(const std::shared_ptr<Target>& target,
                                                 const std::shared_ptr<int>& argument, double* elapsed,
                                                 uint64_t* allocations) {
    auto manager = std::make_unique<kqu::KQUUndoManager>();
    manager->setGroupsByEvent(false);
    uint64_t before = gAllocations;
    auto start = Clock::now();
    for (int g = 0; g < kGroups; ++g) {
        manager->beginUndoGrouping();
        gCounting = true;  // only the registrations, not the group marks
        for (int r = 0; r < kPerGroup; ++r)
            manager->registerUndoWithTarget(target, "step:", argument, &Target::step);
        gCounting = false;
        manager->endUndoGrouping();
    }
    *elapsed = seconds(start, Clock::now());
    *allocations = gAllocations - before;
    return manager;
}

using Baseline = std::vector<std::function<void()>>;

Baseline baselineRegisterAll(const std::shared_ptr<Target>& target, const std::shared_ptr<int>& argument,
                             double* elapsed) {
    Baseline log;
    auto start = Clock::now();
    for (int i = 0; i < kGroups * kPerGroup; ++i)
        log.push_back([weak = std::weak_ptr<Target>(target), argument] {
            if (auto t = weak.lock()) t->step(argument);
        });
    *elapsed = seconds(start, Clock::now());
    return log;
}

void BM_RegisterLightRecords(benchmark::State& state) {
    auto target = std::make_shared<Target>();
    auto argument = std::make_shared<int>(1);
    double ours = 0, baseline = 0, bytes = 0, baselineBytes = 0;
    uint64_t allocations = 0;
    for (auto _ : state) {
        double elapsed, baseElapsed;
        uint64_t n;
        int64_t live = gLiveBytes;
        auto manager = registerAll(target, argument, &elapsed, &n);
        bytes += double(gLiveBytes - live);
        live = gLiveBytes;
        Baseline log = baselineRegisterAll(target, argument, &baseElapsed);
        baselineBytes += double(gLiveBytes - live);
        ours += elapsed;
        baseline += baseElapsed;
        allocations += n;
        state.SetIterationTime(elapsed);
    }
    double iterations = double(state.iterations());
    gResults.registerNs = ours / iterations / kRecords * 1e9;
    gResults.registerBaselineNs = baseline / iterations / kRecords * 1e9;
    gResults.bytesPerRecord = bytes / iterations / kRecords;
    gResults.baselineBytesPerRecord = baselineBytes / iterations / kRecords;
    gResults.allocationsPerRegistration = double(allocations) / iterations / kRecords;
    state.counters["ns_per_registration"] = gResults.registerNs;
    state.counters["baseline_ns"] = gResults.registerBaselineNs;
    state.counters["ratio_to_baseline"] = gResults.registerNs / gResults.registerBaselineNs;
    state.counters["bytes_per_record"] = gResults.bytesPerRecord;
    state.counters["baseline_bytes"] = gResults.baselineBytesPerRecord;
    state.counters["allocs_per_registration"] = gResults.allocationsPerRegistration;
}
BENCHMARK(BM_RegisterLightRecords)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_UndoAllGroups(benchmark::State& state) {
    auto target = std::make_shared<Target>();
    auto argument = std::make_shared<int>(1);
    double ours = 0, baseline = 0;
    for (auto _ : state) {
        double unused;
        uint64_t n;
        auto manager = registerAll(target, argument, &unused, &n);
        target->sum = 0;
        auto start = Clock::now();
        for (int g = 0; g < kGroups; ++g) manager->undo();
        double elapsed = seconds(start, Clock::now());
        if (target->sum != uint64_t(kRecords) || manager->canUndo())
            state.SkipWithError("not every record was undone");

        Baseline log = baselineRegisterAll(target, argument, &unused);
        target->sum = 0;
        start = Clock::now();
        while (!log.empty()) {
            log.back()();
            log.pop_back();
        }
        double baseElapsed = seconds(start, Clock::now());
        if (target->sum != uint64_t(kRecords)) state.SkipWithError("the baseline missed records");
        ours += elapsed;
        baseline += baseElapsed;
        state.SetIterationTime(elapsed);
    }
    double iterations = double(state.iterations());
    gResults.undoNs = ours / iterations / kRecords * 1e9;
    gResults.undoBaselineNs = baseline / iterations / kRecords * 1e9;
    state.counters["ns_per_undone_record"] = gResults.undoNs;
    state.counters["baseline_ns"] = gResults.undoBaselineNs;
    state.counters["ratio_to_baseline"] = gResults.undoNs / gResults.undoBaselineNs;
}
BENCHMARK(BM_UndoAllGroups)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Results& r = gResults;
    std::printf(
        "undo: registration %.1f ns/record (baseline %.1f, ratio %.2f); undo %.1f ns/record (baseline %.1f, "
        "ratio "
        "%.2f); memory %.1f bytes/record (baseline %.1f, ratio %.2f); %.3f allocations per registration "
        "(limit 1: "
        "%s)\n",
        r.registerNs, r.registerBaselineNs, r.registerNs / r.registerBaselineNs, r.undoNs, r.undoBaselineNs,
        r.undoNs / r.undoBaselineNs, r.bytesPerRecord, r.baselineBytesPerRecord,
        r.bytesPerRecord / r.baselineBytesPerRecord, r.allocationsPerRegistration,
        r.allocationsPerRegistration <= 1.0 ? "met" : "MISSED");
    return r.allocationsPerRegistration <= 1.0 ? 0 : 1;
}
