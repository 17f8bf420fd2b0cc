// The multiple linear trend line y = c + Σ βᵢxᵢ (fixed constant c) or y = β₀ + Σ βᵢxᵢ
// (estimated constant), with the statistics a chart shows beside it: R², the standard
// error of the estimate, the F statistic, degrees of freedom, sums of squares and the
// standard error of each coefficient.
//
//     KQULinearRegressionModel model = KQULinearRegressionModel::affine(xs, ys, 1);
//     if (model.isModelValid()) label(model.simpleEquationString(), model.rSquared());
//
// See KQURegressionModel.h for the data layout, error types and thread rules. A failure
// of the covariance step (error 4 or 6) leaves the coefficients and statistics set but
// no standard errors. Statistics never computed read 0; the degenerate ones follow IEEE
// arithmetic (two points: df 0, infinite or NaN standard errors; equal y's: R² NaN).
#pragma once

#include "kqutility/regression/KQURegressionModel.h"

namespace kqu {

class KQULinearRegressionModel : public KQUFittedRegressionModel {
public:
    KQULinearRegressionModel(std::span<const double> xs, std::span<const double> ys, int xDimension,
                             bool makeAffine, double desiredIntercept);
    static KQULinearRegressionModel affine(std::span<const double> xs, std::span<const double> ys,
                                           int xDimension) {
        return {xs, ys, xDimension, true, 0.0};
    }
    static KQULinearRegressionModel nonAffine(std::span<const double> xs, std::span<const double> ys,
                                              int xDimension, double desiredIntercept) {
        return {xs, ys, xDimension, false, desiredIntercept};
    }

    int regressionType() const override { return KQURegressionTypeLinear; }
    std::u16string simpleEquationString() const override;
    KQUAttributedString equationString() const override;
    double estimateForX(std::span<const double> x) const override;

    // NaN outside 0..numCoefficients()-1 or when no standard errors were computed.
    double coefficientStandardErrorAtIndex(int index) const;
    std::span<const double> coefficientStandardErrors() const { return mCoefficientsStandardErrors; }
    double standardError() const { return mStandardError; }
    double fStatistic() const { return mFStatistic; }
    double degreesFreedom() const { return mDegreesFreedom; }
    double regressionSumSquares() const { return mRegressionSumSquares; }
    double errorSumSquares() const { return mErrorSumSquares; }

private:
    void fit(std::span<const double> xs, std::span<const double> ys, int k);

    std::vector<double> mCoefficientsStandardErrors;
    double mStandardError = 0, mFStatistic = 0, mDegreesFreedom = 0;
    double mRegressionSumSquares = 0, mErrorSumSquares = 0;
};

}  // namespace kqu
