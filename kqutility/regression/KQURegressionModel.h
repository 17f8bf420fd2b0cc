// Trend-line models: the base class every chart trend line derives from, the shared base
// of the least-squares fits, and the plain statistics functions they use.
//
// A chart builds one model per trend line from spans of doubles, checks isModelValid(),
// then reads values and equation text. The data layout shared by every fit: m points
// (m = ys.size()), k variables, xs holding k columns of m values (variable j of point i
// is xs[j*m + i]). With an estimated constant the design matrix X has a leading column of
// ones and coefficient 0 is the constant; with a fixed constant c coefficient i belongs to
// variable i+1.
//
// Models never throw: every failure, an allocation that cannot be had included, is
// recorded as an error type (KQURegressionError...) and the object is still made.
// Coefficients come from a QR least-squares solve (LAPACK dgels), never from the normal
// equations, and the statistics are computed so that no digits are lost to cancellation.
//
// Immutable once constructed: read from any thread. Equation strings go through the
// number-rendering function; build them on one thread at a time per locale change.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUAttributedString.h"

namespace kqu {

// errorType() values.
inline constexpr int KQURegressionErrorNone = 0;
inline constexpr int KQURegressionErrorAllocation = 1;
inline constexpr int KQURegressionErrorNotPositive = 2;  // a value to be log-transformed is <= 0
inline constexpr int KQURegressionErrorSolver = 3;       // bad dimensions, or dgels failed
inline constexpr int KQURegressionErrorSingular = 4;     // XᵀX singular (see the covariance below)
inline constexpr int KQURegressionErrorPeriod = 5;       // bad moving-average period or lengths
inline constexpr int KQURegressionErrorInversion = 6;    // inverting XᵀX failed

// regressionType() values.
inline constexpr int KQURegressionTypeLinear = 0;
inline constexpr int KQURegressionTypePolynomial = 1;
inline constexpr int KQURegressionTypeLogarithmic = 2;
inline constexpr int KQURegressionTypePower = 3;
inline constexpr int KQURegressionTypeExponential = 4;
inline constexpr int KQURegressionTypeMovingAverage = 5;

class KQURegressionModel {
public:
    virtual ~KQURegressionModel() = default;

    virtual int regressionType() const = 0;
    virtual double rSquared() const = 0;
    // "y = 3x^2 + 2x + 1": the equation as plain text.
    virtual std::u16string simpleEquationString() const = 0;
    // The same equation with indices and powers marked by KQUSuperscriptAttributeName.
    virtual KQUAttributedString equationString() const = 0;
    // The fitted value at x (one value per variable); NaN when x is too short.
    virtual double estimateForX(std::span<const double> x) const = 0;

    bool isModelValid() const { return mErrorType == KQURegressionErrorNone; }
    int errorType() const { return mErrorType; }

    // The display form of one coefficient in the current locale: the magnitude picks
    // the pattern ("#" from 10000, "#.####" from 0.0001, scientific beyond 1e6 and below).
    static std::u16string formattedStringWithCoefficient(double value);

protected:
    KQURegressionModel() = default;
    int mErrorType = KQURegressionErrorNone;
};

// The shared state of the least-squares models (linear, polynomial, logarithmic, power,
// exponential): coefficients, whether the constant was estimated, the fixed constant.
class KQUFittedRegressionModel : public KQURegressionModel {
public:
    // Empty unless the solve succeeded.
    std::span<const double> coefficients() const { return mCoefficients; }
    int numCoefficients() const { return static_cast<int>(mCoefficients.size()); }
    // NaN for an index outside 0..numCoefficients()-1 (an invalid model has none).
    double coefficientAtIndex(int index) const;
    bool isAffine() const { return mAffine; }
    // The fixed constant c; 0 (additive models) or 1 (multiplicative) when estimated.
    double intercept() const { return mIntercept; }
    double rSquared() const override { return mRSquared; }

protected:
    // Runs the shared least-squares core on a design matrix and target already built
    // (both consumed) and stores the coefficients, R² and error type. failureMessage is
    // reported when the shape is refused or the solve fails. May throw std::bad_alloc.
    void solveTransformed(std::vector<double> X, std::vector<double> b, size_t m, size_t n,
                          std::string_view failureMessage);
    // Forgets everything computed and records error 1.
    void recordAllocationFailure();

    std::vector<double> mCoefficients;
    bool mAffine = false;
    double mIntercept = 0;
    double mRSquared = 0;
};

// (XᵀX)⁻¹ for X, m rows by n columns column-major, into out (n*n values, column-major),
// from the triangular factor of a QR factorisation of a copy of X. Returns 0, or
// 1 (no memory), 3 (m < 1, n < 1, m < n, counts beyond 32 bits, spans too short),
// 4 (singular: some column is a combination of the others to working precision, that
// is |R_jj| <= max(m,n)·2⁻⁵²·‖column j‖), 6 (the inversion failed).
[[nodiscard]] int KQURegressionModelCovarianceMatrix(std::span<const double> X, int n, int m,
                                                     std::span<double> out);

// The standard error of the mean of v (two passes; NaN for fewer than two values).
double KQUStandardError(std::span<const double> v);
// The sample standard deviation and mean of v; either pointer may be null.
void KQUStandardDeviationAndMean(std::span<const double> v, double* outStdDev, double* outMean);

}  // namespace kqu
