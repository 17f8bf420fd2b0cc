// Trend-line fits at scale: 1,000,000 points. The baseline is the least any least-squares
// fit must do, measured in the same run: allocate and fill the design matrix and the
// right-hand side, ask dgels for its optimal workspace, and solve. The models add the
// totals, SSE, the rank check and (linear) the covariance from R on top of that.
//
//     ratio BM_LinearFit/BM_DgelsBaseline = ... (want >= 0.80)
//     ratio BM_PolynomialFit/BM_DgelsPolynomialBaseline = ... (reported)
#include <lapacke.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include <benchmark/benchmark.h>

#include "KQUBenchSupport.h"
#include "kqutility/regression/KQUCurveRegressionModels.h"
#include "kqutility/regression/KQULinearRegressionModel.h"

namespace {

constexpr size_t kPoints = 1'000'000;
constexpr int kVariables = 3;
constexpr int kOrder = 5;

struct Data {
    std::vector<double> xs, ys, x, polyY;
    Data() {
        uint64_t state = 12345;
        auto next = [&] {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<double>(state >> 11) * 0x1p-53;
        };
        xs.resize(kPoints * kVariables);
        for (double& v : xs) v = 10 * next();
        ys.resize(kPoints);
        x.resize(kPoints);
        polyY.resize(kPoints);
        for (size_t i = 0; i < kPoints; ++i) {
            ys[i] = 1 + 2 * xs[i] - 3 * xs[kPoints + i] + 0.5 * xs[2 * kPoints + i] + next();
            x[i] = 2 * next();
            polyY[i] = 1 - x[i] + 0.5 * std::pow(x[i], 3) - 0.1 * std::pow(x[i], 5) + 0.01 * next();
        }
    }
};

const Data& data() {
    static Data d;
    return d;
}

// Fills X (ones, then the columns `fill` writes), copies y, and solves with dgels.
template <typename Fill>
void dgelsBaseline(benchmark::State& state, int columns, const std::vector<double>& y, Fill fill) {
    const int m = static_cast<int>(kPoints), n = columns + 1;
    for (auto _ : state) {
        std::vector<double> X(kPoints * static_cast<size_t>(n));
        std::fill_n(X.begin(), kPoints, 1.0);
        fill(X.data() + kPoints);
        std::vector<double> b(y);
        double optimal = 0;
        if (LAPACKE_dgels_work(LAPACK_COL_MAJOR, 'N', m, n, 1, X.data(), m, b.data(), m, &optimal, -1) != 0)
            std::abort();
        std::vector<double> work(static_cast<size_t>(optimal));
        if (LAPACKE_dgels_work(LAPACK_COL_MAJOR, 'N', m, n, 1, X.data(), m, b.data(), m, work.data(),
                               static_cast<lapack_int>(work.size())) != 0)
            std::abort();
        benchmark::DoNotOptimize(b.data());
    }
}

void BM_DgelsBaseline(benchmark::State& state) {
    const auto& d = data();
    dgelsBaseline(state, kVariables, d.ys, [&](double* out) { std::copy(d.xs.begin(), d.xs.end(), out); });
}

void BM_LinearFit(benchmark::State& state) {
    const auto& d = data();
    for (auto _ : state) {
        auto model = kqu::KQULinearRegressionModel::affine(d.xs, d.ys, kVariables);
        if (!model.isModelValid()) std::abort();
        benchmark::DoNotOptimize(model.coefficientStandardErrorAtIndex(kVariables));
    }
}

void BM_DgelsPolynomialBaseline(benchmark::State& state) {
    const auto& d = data();
    dgelsBaseline(state, kOrder, d.polyY, [&](double* out) {
        for (int q = 1; q <= kOrder; ++q)
            for (double x : d.x) *out++ = std::pow(x, q);
    });
}

void BM_PolynomialFit(benchmark::State& state) {
    const auto& d = data();
    for (auto _ : state) {
        auto model = kqu::KQUPolynomialRegressionModel::affine(d.x, d.polyY, kOrder);
        if (!model.isModelValid()) std::abort();
        benchmark::DoNotOptimize(model.rSquared());
    }
}

BENCHMARK(BM_DgelsBaseline)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_LinearFit)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_DgelsPolynomialBaseline)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_PolynomialFit)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(
        argc, argv,
        {{"BM_LinearFit", "BM_DgelsBaseline", 0.8}, {"BM_PolynomialFit", "BM_DgelsPolynomialBaseline", 0.0}});
}
