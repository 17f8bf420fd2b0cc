// The moving-average trend line: not a fit but a list of averaged points that a chart
// joins. Each point is taken at a data position whose x exists, and its y is the mean of
// the y values present among that position and the period - 1 before it. Points are
// stored from the last data position backwards.
//
//     KQUMovingAverageRegressionModel ma(xs, ys, 3);   // xs, ys: std::optional<double>
//     for (int i = 0; i < ma.numTrendPoint(); ++i) plot(ma.trendXValueAtIndex(i), ma.trendYValueAtIndex(i));
//
// A period outside 2..count-1, or xs and ys of different lengths, give error 5. A moving
// average has no R², equation or estimate: those report an assertion failure and answer
// 0, empty text or 0. Immutable once made; read from any thread.
#pragma once

#include <optional>

#include "kqutility/regression/KQURegressionModel.h"

namespace kqu {

class KQUMovingAverageRegressionModel : public KQURegressionModel {
public:
    KQUMovingAverageRegressionModel(std::span<const std::optional<double>> xs,
                                    std::span<const std::optional<double>> ys, int numPeriod);

    int regressionType() const override { return KQURegressionTypeMovingAverage; }
    double rSquared() const override;
    std::u16string simpleEquationString() const override;
    KQUAttributedString equationString() const override;
    double estimateForX(std::span<const double> x) const override;

    int numTrendPoint() const { return static_cast<int>(mTrendXValues.size()); }
    // NaN, after reporting "Invalid index for moving average trend line.", outside
    // 0..numTrendPoint()-1.
    double trendXValueAtIndex(int index) const;
    double trendYValueAtIndex(int index) const;

private:
    std::vector<double> mTrendXValues;
    std::vector<double> mTrendYValues;
};

}  // namespace kqu
