#include "kqutility/regression/KQUMovingAverageRegressionModel.h"

#include <cmath>
#include <exception>

#include "kqutility/diagnostics/KQUAssertionHandler.h"

namespace kqu {

KQUMovingAverageRegressionModel::KQUMovingAverageRegressionModel(std::span<const std::optional<double>> xs,
                                                                 std::span<const std::optional<double>> ys,
                                                                 int numPeriod) {
    const size_t count = xs.size();
    // Unequal lengths would read past the shorter span; refused like a bad period.
    if (numPeriod < 2 || static_cast<size_t>(numPeriod) + 1 > count || ys.size() != count) {
        KQU_OBJECT_ASSERT_FAILURE("Invalid period number in moving average mode.");
        mErrorType = KQURegressionErrorPeriod;
        return;
    }
    const size_t period = static_cast<size_t>(numPeriod);
    try {
        mTrendXValues.reserve(count - period + 1);
        mTrendYValues.reserve(count - period + 1);
    } catch (const std::exception&) {  // bad_alloc, or length_error beyond max_size()
        mTrendXValues = {};
        mTrendYValues = {};
        KQU_OBJECT_ASSERT_FAILURE("malloc in KQUMovingAverageRegressionModel failed.");
        mErrorType = KQURegressionErrorAllocation;
        return;
    }
    for (size_t i = count; i-- > period - 1;) {
        if (!xs[i]) continue;
        double sum = 0;
        int found = 0;
        for (size_t j = i + 1 - period; j <= i; ++j) {
            if (ys[j]) {
                sum += *ys[j];
                ++found;
            }
        }
        if (found == 0) continue;
        // Reserved above: these never allocate.
        mTrendXValues.push_back(*xs[i]);
        mTrendYValues.push_back(sum / found);
    }
}

double KQUMovingAverageRegressionModel::trendXValueAtIndex(int index) const {
    if (index < 0 || index >= numTrendPoint()) {
        KQU_OBJECT_ASSERT_FAILURE("Invalid index for moving average trend line.");
        return NAN;
    }
    return mTrendXValues[static_cast<size_t>(index)];
}

double KQUMovingAverageRegressionModel::trendYValueAtIndex(int index) const {
    if (index < 0 || index >= numTrendPoint()) {
        KQU_OBJECT_ASSERT_FAILURE("Invalid index for moving average trend line.");
        return NAN;
    }
    return mTrendYValues[static_cast<size_t>(index)];
}

double KQUMovingAverageRegressionModel::rSquared() const {
    KQU_OBJECT_ASSERT_FAILURE("Moving average trend line does not have r-squared value.");
    return 0.0;
}

std::u16string KQUMovingAverageRegressionModel::simpleEquationString() const {
    KQU_OBJECT_ASSERT_FAILURE("Moving average trend line does not have equation string.");
    return {};
}

KQUAttributedString KQUMovingAverageRegressionModel::equationString() const {
    KQU_OBJECT_ASSERT_FAILURE("Moving average trend line does not have equation string.");
    return {};
}

double KQUMovingAverageRegressionModel::estimateForX(std::span<const double>) const {
    KQU_OBJECT_ASSERT_FAILURE("Moving average trend line should not use this method to retrieve values.");
    return 0.0;
}

}  // namespace kqu
