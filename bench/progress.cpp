// Timing and progress costs: a stopwatch's start and stop against a bare pair of
// clock_gettime calls, advanceProgress three stages deep while reports are rate-limited,
// and a whole `kqu zip create` of a 200 MiB tree with its bar drawn on a pseudo-terminal
// against the same run with --quiet (interleaved, so load on the machine hits both alike).
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "KQUBenchSupport.h"
#include "kqutility/diagnostics/KQUStopwatch.h"
#include "kqutility/progress/KQUProgressContext.h"

namespace {

void BM_BareClockPair(benchmark::State& state) {
    struct timespec a, b;
    for (auto _ : state) {
        clock_gettime(CLOCK_MONOTONIC, &a);
        clock_gettime(CLOCK_MONOTONIC, &b);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
}
BENCHMARK(BM_BareClockPair);

void BM_StopwatchStartStop(benchmark::State& state) {
    kqu::Stopwatch watch("bench");
    for (auto _ : state) {
        watch.Reset();
        watch.Start();
        watch.Stop();
        benchmark::DoNotOptimize(watch.StopTime());
    }
}
BENCHMARK(BM_StopwatchStartStop);

void BM_AdvanceProgressThreeDeep(benchmark::State& state) {
    using kqu::KQUProgressContext;
    KQUProgressContext::createContextForCurrentThread();
    KQUProgressContext::createStageWithSteps(1e12, 100);
    KQUProgressContext::createStageWithSteps(1e12, 1e12);
    KQUProgressContext::createStageWithSteps(1e15, 1e12);
    for (auto _ : state) KQUProgressContext::advanceProgress(1);
    KQUProgressContext::removeContextForCurrentThread();
}
BENCHMARK(BM_AdvanceProgressThreeDeep);

// ---- whole process ---------------------------------------------------------------------

std::string sTree;

void makeTree() {
    if (!sTree.empty()) return;
    char pattern[] = "/tmp/kqubench.XXXXXX";
    sTree = mkdtemp(pattern);
    std::filesystem::create_directories(sTree + "/src");
    std::mt19937_64 random(7);
    std::string chunk(1 << 20, '\0');
    // 200 files of 1 MiB: half text-like (deflated), half random (stored).
    for (int i = 0; i < 200; ++i) {
        for (size_t j = 0; j < chunk.size(); j += 8) {
            uint64_t r = random();
            for (int k = 0; k < 8; ++k) chunk[j + k] = i % 2 ? char(r >> (8 * k)) : char('a' + (r >> (8 * k)) % 13);
        }
        std::ofstream(sTree + "/src/f" + std::to_string(i), std::ios::binary) << chunk;
    }
}

// Runs kqu zip create with stderr on a fresh pseudo-terminal, draining it; seconds taken.
double runCreate(bool quiet) {
    std::string archive = sTree + "/out.zip";
    std::filesystem::remove(archive);
    int master = -1;
    auto start = std::chrono::steady_clock::now();
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        if (chdir(sTree.c_str()) != 0) _exit(126);
        if (quiet)
            execl(KQU_TOOL_PATH, "kqu", "zip", "create", "--quiet", "out.zip", "src", static_cast<char*>(nullptr));
        else
            execl(KQU_TOOL_PATH, "kqu", "zip", "create", "out.zip", "src", static_cast<char*>(nullptr));
        _exit(127);
    }
    char buffer[4096];
    while (read(master, buffer, sizeof buffer) > 0) {
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "kqu zip create failed\n");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration runs both, alternating which goes first; reports bar time / quiet time.
void BM_ZipCreateBarVsQuiet(benchmark::State& state) {
    makeTree();
    double bar = 0, quiet = 0;
    int round = 0;
    for (auto _ : state) {
        if (round++ % 2) {
            quiet += runCreate(true);
            bar += runCreate(false);
        } else {
            bar += runCreate(false);
            quiet += runCreate(true);
        }
    }
    state.counters["quiet_s"] = quiet / round;
    state.counters["bar_s"] = bar / round;
    state.counters["ratio_quiet_over_bar"] = quiet / bar;  // want >= 0.98
    std::printf("ratio kqu zip create bar/quiet (interleaved, %d pairs) = %.3f (want >= 0.98)%s\n", round,
                quiet / bar, quiet / bar >= 0.98 ? "" : "  MISSED");
}
BENCHMARK(BM_ZipCreateBarVsQuiet)->Iterations(4)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    int status = kqu::bench::runWithRatios(argc, argv, {{"BM_StopwatchStartStop", "BM_BareClockPair", 0.8}});
    if (!sTree.empty()) std::filesystem::remove_all(sTree);
    return status;
}
