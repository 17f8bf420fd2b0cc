#include "kqutility/regression/KQULinearRegressionModel.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "kqutility/regression/KQULeastSquares.h"

namespace kqu {

namespace {
constexpr const char* kSolverFailure = "dels_ in KQULinearRegressionModel failed.";
}

KQULinearRegressionModel::KQULinearRegressionModel(std::span<const double> xs, std::span<const double> ys,
                                                   int xDimension, bool makeAffine, double desiredIntercept) {
    mAffine = makeAffine;
    mIntercept = makeAffine ? 0.0 : desiredIntercept;
    try {
        fit(xs, ys, xDimension);
    } catch (const std::bad_alloc&) {
        mCoefficients = {};
        mCoefficientsStandardErrors = {};
        mRSquared = mStandardError = mFStatistic = mDegreesFreedom = 0;
        mRegressionSumSquares = mErrorSumSquares = 0;
        mErrorType = KQURegressionErrorAllocation;
    }
}

void KQULinearRegressionModel::fit(std::span<const double> xs, std::span<const double> ys, int k) {
    const size_t m = ys.size();
    const int64_t n = int64_t(k) + (mAffine ? 1 : 0);
    if (!detail::KQUValidLeastSquaresShape(m, n, k, xs.size())) {
        mErrorType = detail::KQUReportSolverFailure(kSolverFailure);
        return;
    }
    std::vector<double> X(m * static_cast<size_t>(n));
    auto columns = X.begin();
    if (mAffine) columns = std::fill_n(columns, m, 1.0);
    std::copy(xs.begin(), xs.end(), columns);
    std::vector<double> b(ys.begin(), ys.end());
    if (mIntercept != 0)
        for (double& v : b) v -= mIntercept;

    auto fitted = detail::KQUSolveLeastSquares(std::move(X), std::move(b), m, static_cast<size_t>(n), mAffine,
                                               true, kSolverFailure);
    if (fitted.coefficients.empty()) {
        mErrorType = fitted.errorType;
        return;
    }
    mCoefficients = std::move(fitted.coefficients);
    const double sse = fitted.sse, sst = fitted.sst;
    const double df = static_cast<double>(m) - static_cast<double>(n);
    const double mse = sse / df;
    mRSquared = 1 - sse / sst;
    mDegreesFreedom = df;
    mStandardError = std::sqrt(mse);
    mErrorSumSquares = sse;
    // SST >= SSE in exact arithmetic (the constant-only or zero fit is a candidate).
    mRegressionSumSquares = sst - sse < 0 ? 0.0 : sst - sse;
    mFStatistic = (mRegressionSumSquares / k) / mse;
    mErrorType = fitted.errorType;
    if (mErrorType == 0) {
        mCoefficientsStandardErrors.resize(fitted.inverseDiagonal.size());
        for (size_t i = 0; i < fitted.inverseDiagonal.size(); ++i)
            mCoefficientsStandardErrors[i] = std::sqrt(fitted.inverseDiagonal[i]) * mStandardError;
    }
}

double KQULinearRegressionModel::coefficientStandardErrorAtIndex(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= mCoefficientsStandardErrors.size()) return NAN;
    return mCoefficientsStandardErrors[static_cast<size_t>(index)];
}

double KQULinearRegressionModel::estimateForX(std::span<const double> x) const {
    const size_t n = mCoefficients.size();
    const size_t variables = mAffine ? n - 1 : n;
    if (n == 0 || x.size() < variables) return NAN;
    double sum = mAffine ? mCoefficients[0] : 0.0;
    for (size_t i = 0; i < variables; ++i) sum += mCoefficients[mAffine ? i + 1 : i] * x[i];
    return sum + mIntercept;
}

std::u16string KQULinearRegressionModel::simpleEquationString() const {
    return detail::KQUAdditiveSimpleEquation(detail::KQUAdditiveForm::Linear, mCoefficients, mAffine,
                                             mIntercept);
}

KQUAttributedString KQULinearRegressionModel::equationString() const {
    return detail::KQUAdditiveAttributedEquation(detail::KQUAdditiveForm::Linear, mCoefficients, mAffine,
                                                 mIntercept);
}

}  // namespace kqu
