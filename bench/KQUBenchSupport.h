// Ratios between benchmarks measured in the same run.
//
// A benchmark program registers its benchmarks as usual and names the pairs to compare;
// KQU_BENCHMARK_MAIN runs them all and then prints one line per pair:
//
//     ratio BM_Buffered/BM_Pread = 0.97 (want >= 0.90)
//
// The ratio is the baseline's time per iteration divided by the subject's, so a value
// above 1 means the subject is faster (for equal work per iteration, this is the ratio
// of throughputs).
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace kqu::bench {

struct Ratio {
    std::string subject;
    std::string baseline;
    double wantAtLeast;
    double wantAtMost = 0;  // 0: no upper bound
};

class RatioReporter : public ::benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.iterations <= 0 || run.run_type != Run::RT_Iteration) continue;
            // With repetitions, the best one stands: other work on the machine only slows runs down.
            double perIteration = run.real_accumulated_time / static_cast<double>(run.iterations);
            std::string name = run.run_name.function_name;
            auto it = seconds.find(name);
            if (it == seconds.end() || perIteration < it->second) seconds[name] = perIteration;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
    ::benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    ::benchmark::RunSpecifiedBenchmarks(&reporter);
    ::benchmark::Shutdown();
    int missed = 0;
    for (const auto& r : ratios) {
        auto s = reporter.seconds.find(r.subject);
        auto b = reporter.seconds.find(r.baseline);
        if (s == reporter.seconds.end() || b == reporter.seconds.end()) continue;
        double ratio = b->second / s->second;
        bool ok = ratio >= r.wantAtLeast && (r.wantAtMost == 0 || ratio <= r.wantAtMost);
        if (!ok) ++missed;
        if (r.wantAtMost > 0)
            std::printf("ratio %s/%s = %.3f (want %.2f to %.2f)%s\n", r.subject.c_str(), r.baseline.c_str(), ratio,
                        r.wantAtLeast, r.wantAtMost, ok ? "" : "  MISSED");
        else
            std::printf("ratio %s/%s = %.3f (want >= %.2f)%s\n", r.subject.c_str(), r.baseline.c_str(), ratio,
                        r.wantAtLeast, ok ? "" : "  MISSED");
    }
    return 0;
}

}  // namespace kqu::bench
