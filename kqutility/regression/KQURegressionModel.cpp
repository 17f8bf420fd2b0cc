#include "kqutility/regression/KQURegressionModel.h"

#include <cmath>

#include "kqutility/format/KQUNumberRendering.h"

namespace kqu {

std::u16string KQURegressionModel::formattedStringWithCoefficient(double value) {
    double a = std::fabs(value);
    const char16_t* pattern = u"0.###E+0";
    int valueType = 3;
    if (a >= 1e6) {
    } else if (a >= 10000) {
        pattern = u"#", valueType = 0;
    } else if (a >= 1000) {
        pattern = u"#.#", valueType = 0;
    } else if (a >= 100) {
        pattern = u"#.##", valueType = 0;
    } else if (a >= 10) {
        pattern = u"#.###", valueType = 0;
    } else if (a >= 0.0001) {
        pattern = u"#.####", valueType = 0;
    }
    return KQUNumberFormatterStringFromDoubleWithFormat(value, valueType, pattern, false, 0, 0, false,
                                                        std::nullopt, false);
}

double KQUFittedRegressionModel::coefficientAtIndex(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= mCoefficients.size()) return NAN;
    return mCoefficients[static_cast<size_t>(index)];
}

namespace {

// Two passes: the mean taken as v₀ + Σ(vᵢ − v₀)/n, so equal values give exactly 0
// deviations, then the sum of squared deviations, which is never negative.
void meanAndSumOfSquares(std::span<const double> v, double& mean, double& squares) {
    if (v.empty()) {
        mean = squares = NAN;
        return;
    }
    double shift = v[0], deviations = 0;
    for (double x : v) deviations += x - shift;
    mean = shift + deviations / static_cast<double>(v.size());
    squares = 0;
    for (double x : v) squares += (x - mean) * (x - mean);
}

}  // namespace

double KQUStandardError(std::span<const double> v) {
    double mean, squares;
    meanAndSumOfSquares(v, mean, squares);
    double n = static_cast<double>(v.size());
    return std::sqrt(squares / (n - 1)) / std::sqrt(n);
}

void KQUStandardDeviationAndMean(std::span<const double> v, double* outStdDev, double* outMean) {
    double mean, squares;
    meanAndSumOfSquares(v, mean, squares);
    if (outMean) *outMean = mean;
    if (outStdDev) *outStdDev = std::sqrt(squares / (static_cast<double>(v.size()) - 1));
}

}  // namespace kqu
