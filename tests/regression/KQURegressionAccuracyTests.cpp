// Fits against exact answers (make_known_answers.py) within 100·cond(X)·2⁻⁵², which normal equations miss.
#include <cblas.h>
#include <lapacke.h>

#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "kqutility/regression/KQUCurveRegressionModels.h"
#include "kqutility/regression/KQULinearRegressionModel.h"
#include "regression/KQURegressionKnownAnswers.h"

namespace {

using kqu::test::kKQURegressionKnownAnswers;
using kqu::test::KQURegressionKnownAnswer;

double relativeError(std::span<const double> got, std::span<const double> want) {
    double difference = 0, size = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        difference += (got[i] - want[i]) * (got[i] - want[i]);
        size += want[i] * want[i];
    }
    return std::sqrt(difference / size);
}

double relativeError(double got, double want) {
    return std::fabs(got - want) / std::fabs(want);
}
const auto bound = [](const KQURegressionKnownAnswer& c) { return 100 * c.cond * std::ldexp(1.0, -52); };
const auto exactFit = [](const KQURegressionKnownAnswer& c) { return c.sse < 1e-20 * c.sst; };

TEST(KQURegressionAccuracy, CoefficientsAndStatisticsMatchExactAnswers) {
    for (const auto& c : kKQURegressionKnownAnswers) {
        SCOPED_TRACE(c.name);
        const double tolerance = bound(c);
        std::unique_ptr<kqu::KQUFittedRegressionModel> model;
        // The polynomial model keeps no standard errors: the linear model checks them on the powers.
        std::vector<double> powers;
        for (int q = 1; c.polynomial && q <= c.kOrOrder; ++q)
            for (double x : c.xs) powers.push_back(std::pow(x, q));
        if (c.polynomial)
            model = std::make_unique<kqu::KQUPolynomialRegressionModel>(c.xs, c.ys, c.kOrOrder, c.affine,
                                                                        c.intercept);
        if (!c.polynomial || (!exactFit(c) && c.affine)) {
            auto linear = std::make_unique<kqu::KQULinearRegressionModel>(c.polynomial ? powers : c.xs, c.ys,
                                                                          c.kOrOrder, c.affine, c.intercept);
            ASSERT_TRUE(linear->isModelValid());
            EXPECT_GE(linear->errorSumSquares(), 0);
            if (!exactFit(c)) {
                EXPECT_LE(relativeError(linear->errorSumSquares(), c.sse), tolerance);
                EXPECT_LE(relativeError(linear->standardError(), c.standardError), tolerance);
                EXPECT_LE(relativeError(linear->fStatistic(), c.fStatistic), tolerance);
                EXPECT_LE(relativeError(linear->coefficientStandardErrors(), c.standardErrors), tolerance);
            } else {  // the exact SSE is ~1e-31 from rounding: nothing may turn negative or NaN
                for (double e : linear->coefficientStandardErrors()) EXPECT_TRUE(std::isfinite(e));
            }
            if (!c.polynomial) model = std::move(linear);
        }
        ASSERT_TRUE(model->isModelValid()) << model->errorType();
        ASSERT_EQ(model->coefficients().size(), c.coefficients.size());
        EXPECT_LE(relativeError(model->coefficients(), c.coefficients), tolerance);
        EXPECT_LE(model->rSquared(), 1.0);
        EXPECT_LE(std::fabs(model->rSquared() - c.rSquared), tolerance);
    }
}

// Solves XᵀXβ = Xᵀy by LU, the textbook way, to show what the bound above rejects.
std::vector<double> normalEquations(const KQURegressionKnownAnswer& c) {
    const int m = static_cast<int>(c.ys.size()), n = c.kOrOrder + 1;
    std::vector<double> X(static_cast<size_t>(m * n), 1.0);
    for (int q = 1; q < n; ++q)
        for (int i = 0; i < m; ++i)
            X[static_cast<size_t>(q * m + i)] = std::pow(c.xs[static_cast<size_t>(i)], q);
    std::vector<double> xtx(static_cast<size_t>(n * n)), xty(static_cast<size_t>(n));
    cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans, n, n, m, 1.0, X.data(), m, X.data(), m, 0.0,
                xtx.data(), n);
    cblas_dgemv(CblasColMajor, CblasTrans, m, n, 1.0, X.data(), m, c.ys.data(), 1, 0.0, xty.data(), 1);
    std::vector<lapack_int> pivots(static_cast<size_t>(n));
    EXPECT_EQ(LAPACKE_dgesv(LAPACK_COL_MAJOR, n, 1, xtx.data(), n, pivots.data(), xty.data(), n), 0);
    return xty;
}

TEST(KQURegressionAccuracy, TheNormalEquationsFailTheBoundThatTheFitMeets) {
    for (const auto& c : kKQURegressionKnownAnswers) {
        if (std::string(c.name) != "degree 8 on 1..20") continue;
        auto model = kqu::KQUPolynomialRegressionModel::affine(c.xs, c.ys, 8);
        double fitError = relativeError(model.coefficients(), c.coefficients);
        double normalError = relativeError(normalEquations(c), c.coefficients);
        EXPECT_LE(fitError, bound(c));
        EXPECT_GT(normalError, bound(c)) << "normal equations " << normalError << ", QR " << fitError;
        return;
    }
    FAIL() << "case missing from the known answers";
}

}  // namespace
