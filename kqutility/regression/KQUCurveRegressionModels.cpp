#include "kqutility/regression/KQUCurveRegressionModels.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/regression/KQULeastSquares.h"

namespace kqu {

using detail::KQUAdditiveForm;
using detail::KQUMultiplicativeForm;

void KQUFittedRegressionModel::solveTransformed(std::vector<double> X, std::vector<double> b, size_t m,
                                                size_t n, std::string_view failureMessage) {
    auto fitted =
        detail::KQUSolveLeastSquares(std::move(X), std::move(b), m, n, mAffine, false, failureMessage);
    mErrorType = fitted.errorType;
    if (fitted.coefficients.empty()) return;
    mCoefficients = std::move(fitted.coefficients);
    mRSquared = 1 - fitted.sse / fitted.sst;
}

void KQUFittedRegressionModel::recordAllocationFailure() {
    mCoefficients = {};
    mRSquared = 0;
    mErrorType = KQURegressionErrorAllocation;
}

namespace {

// Checks the shape (error 3 with the model's solver report) and builds X: the column of
// ones when affine, then each value of xs through transform, in storage order. A value
// transform refuses stops with error 2. Returns the error type.
template <typename Transform>
int buildDesign(std::span<const double> xs, size_t m, int64_t columns, bool affine, std::string_view failure,
                Transform transform, std::vector<double>& X) {
    const int64_t n = columns + (affine ? 1 : 0);
    if (!detail::KQUValidLeastSquaresShape(m, n, columns, xs.size()))
        return detail::KQUReportSolverFailure(failure);
    X.resize(m * static_cast<size_t>(n));
    auto out = X.begin();
    if (affine) out = std::fill_n(out, m, 1.0);
    for (double x : xs) {
        if (!transform(x, *out++)) return KQURegressionErrorNotPositive;
    }
    return 0;
}

bool logOf(double v, double& out) {
    if (v <= 0) return false;  // NaN passes
    out = std::log(v);
    return true;
}

// ln y − ln c for the multiplicative models; error 2 for y <= 0 or, when c != 1, c <= 0.
int logTarget(std::span<const double> ys, double c, std::vector<double>& b) {
    b.resize(ys.size());
    for (size_t i = 0; i < ys.size(); ++i)
        if (!logOf(ys[i], b[i])) return KQURegressionErrorNotPositive;
    if (c != 1.0) {
        double lnC;
        if (!logOf(c, lnC)) return KQURegressionErrorNotPositive;
        for (double& v : b) v -= lnC;
    }
    return 0;
}

std::vector<double> shiftedTarget(std::span<const double> ys, double c) {
    std::vector<double> b(ys.begin(), ys.end());
    if (c != 0)
        for (double& v : b) v -= c;
    return b;
}

// Whether x holds a value for every variable of n coefficients.
bool enoughValues(std::span<const double> x, size_t n, bool affine) {
    return n > 0 && x.size() >= (affine ? n - 1 : n);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Polynomial

KQUPolynomialRegressionModel::KQUPolynomialRegressionModel(std::span<const double> xs,
                                                           std::span<const double> ys, int xOrder,
                                                           bool makeAffine, double desiredIntercept) {
    static constexpr const char* failure = "dels_ in KQUPolynomialRegressionModel failed.";
    mAffine = makeAffine;
    mIntercept = makeAffine ? 0.0 : desiredIntercept;
    // No column to fit: reported, then refused as a bad shape by the solver below.
    if (!makeAffine && xOrder == 0)
        KQU_ASSERT_FAILURE("Order 0 and intercept is being set in the KQUPolynomialRegressionModel.");
    try {
        const size_t m = ys.size();
        const int64_t n = int64_t(xOrder) + (makeAffine ? 1 : 0);
        if (!detail::KQUValidLeastSquaresShape(m, n, 1, xs.size()) || xOrder < 0) {
            mErrorType = detail::KQUReportSolverFailure(failure);
            return;
        }
        std::vector<double> X(m * static_cast<size_t>(n));
        auto out = X.begin();
        if (makeAffine) out = std::fill_n(out, m, 1.0);
        for (int q = 1; q <= xOrder; ++q)
            for (double x : xs) *out++ = std::pow(x, q);
        solveTransformed(std::move(X), shiftedTarget(ys, mIntercept), m, static_cast<size_t>(n), failure);
    } catch (const std::bad_alloc&) {
        recordAllocationFailure();
    }
}

double KQUPolynomialRegressionModel::estimateFor1DX(double x) const {
    const size_t n = mCoefficients.size();
    if (n == 0) return NAN;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        int power = static_cast<int>(mAffine ? i : i + 1);
        sum += power == 0 ? mCoefficients[i] : mCoefficients[i] * std::pow(x, power);
    }
    return sum + mIntercept;
}

double KQUPolynomialRegressionModel::estimateForX(std::span<const double> x) const {
    return x.empty() ? NAN : estimateFor1DX(x[0]);
}

std::u16string KQUPolynomialRegressionModel::simpleEquationString() const {
    return detail::KQUAdditiveSimpleEquation(KQUAdditiveForm::Polynomial, mCoefficients, mAffine, mIntercept);
}

KQUAttributedString KQUPolynomialRegressionModel::equationString() const {
    return detail::KQUAdditiveAttributedEquation(KQUAdditiveForm::Polynomial, mCoefficients, mAffine,
                                                 mIntercept);
}

// ---------------------------------------------------------------------------------------
// Logarithmic

KQULogarithmicRegressionModel::KQULogarithmicRegressionModel(std::span<const double> xs,
                                                             std::span<const double> ys, int xDimension,
                                                             bool makeAffine, double desiredIntercept) {
    static constexpr const char* failure = "dels_ in KQULogarithmicRegressionModel failed.";
    mAffine = makeAffine;
    mIntercept = makeAffine ? 0.0 : desiredIntercept;
    try {
        const size_t m = ys.size();
        std::vector<double> X;
        mErrorType = buildDesign(xs, m, xDimension, makeAffine, failure, logOf, X);
        if (mErrorType != 0) return;
        const size_t n = X.size() / m;
        solveTransformed(std::move(X), shiftedTarget(ys, mIntercept), m, n, failure);
    } catch (const std::bad_alloc&) {
        recordAllocationFailure();
    }
}

double KQULogarithmicRegressionModel::estimateForX(std::span<const double> x) const {
    const size_t n = mCoefficients.size();
    if (!enoughValues(x, n, mAffine)) return NAN;
    double sum = mAffine ? mCoefficients[0] : 0.0;
    for (size_t i = mAffine ? 1 : 0; i < n; ++i) sum += mCoefficients[i] * std::log(x[mAffine ? i - 1 : i]);
    return sum + mIntercept;
}

std::u16string KQULogarithmicRegressionModel::simpleEquationString() const {
    return detail::KQUAdditiveSimpleEquation(KQUAdditiveForm::Logarithmic, mCoefficients, mAffine,
                                             mIntercept);
}

KQUAttributedString KQULogarithmicRegressionModel::equationString() const {
    return detail::KQUAdditiveAttributedEquation(KQUAdditiveForm::Logarithmic, mCoefficients, mAffine,
                                                 mIntercept);
}

// ---------------------------------------------------------------------------------------
// Power

KQUPowerRegressionModel::KQUPowerRegressionModel(std::span<const double> xs, std::span<const double> ys,
                                                 int xDimension, bool makeAffine, double desiredIntercept) {
    static constexpr const char* failure = "dels_ in KQUPowerRegressionModel failed.";
    mAffine = makeAffine;
    mIntercept = makeAffine ? 1.0 : desiredIntercept;
    try {
        const size_t m = ys.size();
        std::vector<double> X, b;
        mErrorType = buildDesign(xs, m, xDimension, makeAffine, failure, logOf, X);
        if (mErrorType == 0) mErrorType = logTarget(ys, mIntercept, b);
        if (mErrorType != 0) return;
        const size_t n = X.size() / m;
        solveTransformed(std::move(X), std::move(b), m, n, failure);
    } catch (const std::bad_alloc&) {
        recordAllocationFailure();
    }
}

double KQUPowerRegressionModel::estimateForX(std::span<const double> x) const {
    const size_t n = mCoefficients.size();
    if (!enoughValues(x, n, mAffine)) return NAN;
    double product = mAffine ? std::exp(mCoefficients[0]) : 1.0;
    for (size_t i = mAffine ? 1 : 0; i < n; ++i)
        product *= std::pow(x[mAffine ? i - 1 : i], mCoefficients[i]);
    return product * mIntercept;
}

std::u16string KQUPowerRegressionModel::simpleEquationString() const {
    return detail::KQUMultiplicativeSimpleEquation(KQUMultiplicativeForm::Power, mCoefficients, mAffine,
                                                   mIntercept);
}

KQUAttributedString KQUPowerRegressionModel::equationString() const {
    return detail::KQUMultiplicativeAttributedEquation(KQUMultiplicativeForm::Power, mCoefficients, mAffine,
                                                       mIntercept);
}

// ---------------------------------------------------------------------------------------
// Exponential

KQUExponentialRegressionModel::KQUExponentialRegressionModel(std::span<const double> xs,
                                                             std::span<const double> ys, int xDimension,
                                                             bool makeAffine, double desiredIntercept) {
    static constexpr const char* failure = "dels_ in KQUExponentialRegressionModel failed.";
    mAffine = makeAffine;
    mIntercept = makeAffine ? 1.0 : desiredIntercept;
    try {
        const size_t m = ys.size();
        std::vector<double> X, b;
        auto same = [](double v, double& out) {
            out = v;
            return true;
        };
        mErrorType = buildDesign(xs, m, xDimension, makeAffine, failure, same, X);
        if (mErrorType == 0) mErrorType = logTarget(ys, mIntercept, b);
        if (mErrorType != 0) return;
        const size_t n = X.size() / m;
        solveTransformed(std::move(X), std::move(b), m, n, failure);
    } catch (const std::bad_alloc&) {
        recordAllocationFailure();
    }
}

double KQUExponentialRegressionModel::estimateForX(std::span<const double> x) const {
    const size_t n = mCoefficients.size();
    if (!enoughValues(x, n, mAffine)) return NAN;
    double product = mAffine ? std::exp(mCoefficients[0]) : 1.0;
    for (size_t i = mAffine ? 1 : 0; i < n; ++i)
        product *= std::exp(x[mAffine ? i - 1 : i] * mCoefficients[i]);
    return product * mIntercept;
}

std::u16string KQUExponentialRegressionModel::simpleEquationString() const {
    return detail::KQUMultiplicativeSimpleEquation(KQUMultiplicativeForm::Exponential, mCoefficients, mAffine,
                                                   mIntercept);
}

KQUAttributedString KQUExponentialRegressionModel::equationString() const {
    return detail::KQUMultiplicativeAttributedEquation(KQUMultiplicativeForm::Exponential, mCoefficients,
                                                       mAffine, mIntercept);
}

}  // namespace kqu
