// The curved trend lines: least-squares fits on transformed data, sharing the core and
// the data layout of KQULinearRegressionModel (see KQURegressionModel.h).
//
//   polynomial   y = β₀ + Σ β_q x^q          or c + Σ βᵢ x^(i+1)     (one x column, order p)
//   logarithmic  y = β₀ + Σ βᵢ ln xᵢ         or c + Σ βᵢ ln x_(i+1)
//   power        y = e^β₀ · Π xᵢ^βᵢ          or c · Π x_(i+1)^βᵢ    (fitted on ln y, ln x)
//   exponential  y = e^β₀ · Π e^(βᵢxᵢ)       or c · Π e^(βᵢx_(i+1)) (fitted on ln y)
//
// The power and exponential constants multiply, so intercept() is 1 when it is estimated
// and their R² is measured in logarithmic space. A value that must be log-transformed and
// is not positive (x for logarithmic and power, y and c for power and exponential) gives
// error 2; NaN passes and gives NaN results. The singularity check (error 4) is made on
// the matrix actually fitted. Immutable once made; see KQURegressionModel.h for threads.
#pragma once

#include "kqutility/regression/KQURegressionModel.h"

namespace kqu {

class KQUPolynomialRegressionModel : public KQUFittedRegressionModel {
public:
    KQUPolynomialRegressionModel(std::span<const double> xs, std::span<const double> ys, int xOrder,
                                 bool makeAffine, double desiredIntercept);
    static KQUPolynomialRegressionModel affine(std::span<const double> xs, std::span<const double> ys,
                                               int xOrder) {
        return {xs, ys, xOrder, true, 0.0};
    }
    static KQUPolynomialRegressionModel nonAffine(std::span<const double> xs, std::span<const double> ys,
                                                  int xOrder, double desiredIntercept) {
        return {xs, ys, xOrder, false, desiredIntercept};
    }

    int regressionType() const override { return KQURegressionTypePolynomial; }
    std::u16string simpleEquationString() const override;
    KQUAttributedString equationString() const override;
    double estimateForX(std::span<const double> x) const override;
    double estimateFor1DX(double x) const;
};

class KQULogarithmicRegressionModel : public KQUFittedRegressionModel {
public:
    KQULogarithmicRegressionModel(std::span<const double> xs, std::span<const double> ys, int xDimension,
                                  bool makeAffine, double desiredIntercept);
    static KQULogarithmicRegressionModel affine(std::span<const double> xs, std::span<const double> ys,
                                                int xDimension) {
        return {xs, ys, xDimension, true, 0.0};
    }
    static KQULogarithmicRegressionModel nonAffine(std::span<const double> xs, std::span<const double> ys,
                                                   int xDimension, double desiredIntercept) {
        return {xs, ys, xDimension, false, desiredIntercept};
    }

    int regressionType() const override { return KQURegressionTypeLogarithmic; }
    std::u16string simpleEquationString() const override;
    KQUAttributedString equationString() const override;
    double estimateForX(std::span<const double> x) const override;
};

class KQUPowerRegressionModel : public KQUFittedRegressionModel {
public:
    KQUPowerRegressionModel(std::span<const double> xs, std::span<const double> ys, int xDimension,
                            bool makeAffine, double desiredIntercept);
    static KQUPowerRegressionModel affine(std::span<const double> xs, std::span<const double> ys,
                                          int xDimension) {
        return {xs, ys, xDimension, true, 1.0};
    }
    static KQUPowerRegressionModel nonAffine(std::span<const double> xs, std::span<const double> ys,
                                             int xDimension, double desiredIntercept) {
        return {xs, ys, xDimension, false, desiredIntercept};
    }

    int regressionType() const override { return KQURegressionTypePower; }
    std::u16string simpleEquationString() const override;
    KQUAttributedString equationString() const override;
    double estimateForX(std::span<const double> x) const override;
};

class KQUExponentialRegressionModel : public KQUFittedRegressionModel {
public:
    KQUExponentialRegressionModel(std::span<const double> xs, std::span<const double> ys, int xDimension,
                                  bool makeAffine, double desiredIntercept);
    static KQUExponentialRegressionModel affine(std::span<const double> xs, std::span<const double> ys,
                                                int xDimension) {
        return {xs, ys, xDimension, true, 1.0};
    }
    static KQUExponentialRegressionModel nonAffine(std::span<const double> xs, std::span<const double> ys,
                                                   int xDimension, double desiredIntercept) {
        return {xs, ys, xDimension, false, desiredIntercept};
    }

    int regressionType() const override { return KQURegressionTypeExponential; }
    std::u16string simpleEquationString() const override;
    KQUAttributedString equationString() const override;
    double estimateForX(std::span<const double> x) const override;
};

}  // namespace kqu
