// The models at their edges: equation text and superscripts, degenerate statistics, refusals, mended faults.
#include <cmath>
#include <memory>
#include <optional>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/regression/KQUCurveRegressionModels.h"
#include "kqutility/regression/KQULeastSquares.h"
#include "kqutility/regression/KQULinearRegressionModel.h"
#include "kqutility/regression/KQUMovingAverageRegressionModel.h"
#include "support/KQUTestSupport.h"

namespace {

using namespace kqu;

using ScopedLocale = KQUScopedLocaleOverride;  // coefficients render in the library's current locale

const auto utf8 = [](std::u16string_view s) { return KQUUTF8FromUTF16(s); };

// The superscript runs of an equation ("location,length,value" each), walked through the effective ranges.
std::string superscripts(const KQUAttributedString& s) {
    std::string runs;
    for (uint64_t i = 0; i < s.length();) {
        KQURange range;
        const KQUValue* v = s.attribute(KQUSuperscriptAttributeName, i, &range);
        if (v) runs += fmt::format(" {},{},{}", range.location, range.length, v->integerValue());
        i = range.location + range.length;
    }
    return runs.empty() ? runs : runs.substr(1);
}

TEST(KQURegressionModel, CoefficientTextFollowsMagnitudeAndLocale) {
    const std::tuple<const char*, double, const char16_t*> cases[] = {
        {"en_US", 1234567, u"1.235E+6"},  {"en_US", 12345.6, u"12346"},
        {"en_US", 123.456, u"123.46"},    {"en_US", 0.00001234, u"1.234E-5"},
        {"en_US", -2.5, u"-2.5"},         {"en_US", 1234.56, u"1234.6"},
        {"en_US", 12.34567, u"12.346"},   {"en_US", 1.000049, u"1"},
        {"en_US", 0.00012345, u"0.0001"}, {"de_DE", 123.456, u"123,46"},
        {"de_DE", 1234567, u"1,235E+6"},  {"en_US", 12345678.5, u"1.235E+7"},
    };
    for (const auto& [name, value, text] : cases) {
        ScopedLocale locale(name);
        EXPECT_EQ(utf8(KQURegressionModel::formattedStringWithCoefficient(value)), utf8(text))
            << name << " " << value;
    }
}

using V = std::vector<double>;

enum Kind { Linear, Polynomial, Logarithmic, Power, Exponential };
const char* const kModelNames[] = {"KQULinearRegressionModel", "KQUPolynomialRegressionModel",
                                   "KQULogarithmicRegressionModel", "KQUPowerRegressionModel",
                                   "KQUExponentialRegressionModel"};

template <typename Model>
std::unique_ptr<KQUFittedRegressionModel> fit(const V& xs, const V& ys, int k, bool affine, double c) {
    return std::make_unique<Model>(xs, ys, k, affine, c);
}
decltype(&fit<KQULinearRegressionModel>) const kFits[] = {
    fit<KQULinearRegressionModel>, fit<KQUPolynomialRegressionModel>, fit<KQULogarithmicRegressionModel>,
    fit<KQUPowerRegressionModel>, fit<KQUExponentialRegressionModel>};
std::unique_ptr<KQUFittedRegressionModel> make(Kind kind, const V& xs, const V& ys, int k, bool affine,
                                               double c) {
    return kFits[kind](xs, ys, k, affine, c);
}

TEST(KQURegressionModel, EquationsAndTheirSuperscripts) {
    ScopedLocale locale("en_US");
    const V x3{1, 2, 3}, x4{1, 2, 3, 4}, x12{1, 2, 3, 4, 2, 1, 5, 3};  // x12: two variables of four points
    const double l2 = std::log(2.0), e = 1e-20 * std::exp(1.0);
    // Two-variable logarithmic (xl, yl), power (xp, yp) and exponential (xe, ye) fits.
    const V xl{1, 2, 4, 8, 3, 1, 2, 5}, xp{1, 2, 3, 2, 1, 2}, yp{8, 4, 72}, xe{0, 1, 2, 0, 0, 1, 1, 2};
    const V yl{1 + 3 * std::log(3.0), 1 + 2 * l2, 1 + 2 * std::log(4.0) + 3 * l2,
               1 + 2 * std::log(8.0) + 3 * std::log(5.0)};
    const V ye{2, 2 * std::exp(2.5), 2 * std::exp(3.5), 2 * std::exp(3.0)};
    const char16_t *logEquation = u"y = 3ln(x2) + 2ln(x) + 1", *expEquation = u"y = 2exp(1x)exp(1.5x2)";
    // Model, xs, ys, k, affine, constant, plain and attributed equation, superscript runs.
    const std::tuple<Kind, V, V, int, bool, double, const char16_t*, const char16_t*, const char*> cases[] = {
        {Linear, x4, {4, 5, 6, 7}, 1, true, 0, u"y = 1x + 3", u"y = x + 3", ""},
        {Linear, x4, {3, 2, 1, 0}, 1, true, 0, u"y = -1x + 4", u"y = -x + 4", ""},
        {Linear, x12, {9, 8, 22, 18}, 2, false, 1, u"y = 3x2 + 2x + 1", u"y = 3x2 + 2x + 1", "6,1,-1"},
        {Linear, x4, {5, 5, 5, 5}, 1, false, 5, u"y = 5", u"y = 5", ""},
        {Linear, x4, {0, 0, 0, 0}, 1, true, 0, u"y = 0", u"y = 0", ""},
        {Polynomial, x4, {6, 17, 34, 57}, 2, true, 0, u"y = 3x^2 + 2x + 1", u"y = 3x2 + 2x + 1", "6,1,1"},
        {Polynomial, x4, {4, 11, 22, 37}, 2, true, 0, u"y = 2x^2 + 1x + 1", u"y = 2x2 + x + 1", "6,1,1"},
        {Logarithmic, xl, yl, 2, true, 0, logEquation, logEquation, "9,1,-1"},
        {Power, x3, {2, 8, 18}, 1, true, 1, u"y = 2x^2", u"y = 2x2", "6,1,1"},
        {Power, x3, {2, 8, 18}, 1, false, 1, u"y = x^2.736", u"y = x2.736", "5,5,1"},
        {Power, {1, 4, 9}, {3, 1.5, 1}, 1, true, 1, u"y = 3x^(-0.5)", u"y = 3x-0.5", "6,4,1"},
        {Power, xp, yp, 2, false, 1, u"y = x^2 x2^3", u"y = x2x23", "5,1,1 7,1,-1 8,1,1"},
        {Exponential, xe, ye, 2, false, 2, expEquation, u"y = 2exe1.5x2", "6,1,1 8,5,1"},
        // Prints "1" but is not 1: the plain equation compares the number, the other the text.
        {Power, x3, {1.00001, 4.00004, 9.00009}, 1, true, 1, u"y = 1x^2", u"y = x2", "5,1,1"},
        // A constant below 1e-16 is written as 0.
        {Exponential, x3, {e, e * std::exp(1.0), e * std::exp(2.0)}, 1, true, 1, u"y = 0", u"y = 0", ""},
    };
    for (const auto& [kind, xs, ys, k, affine, constant, plain, attributedText, runs] : cases) {
        SCOPED_TRACE(utf8(plain));
        auto model = make(kind, xs, ys, k, affine, constant);
        ASSERT_TRUE(model->isModelValid()) << model->errorType();
        EXPECT_EQ(utf8(model->simpleEquationString()), utf8(plain));
        KQUAttributedString attributed = model->equationString();
        EXPECT_EQ(utf8(attributed.string()), utf8(attributedText));
        EXPECT_EQ(superscripts(attributed), runs);
    }
    // The first quadratic above, estimated past its points: 3·5² + 2·5 + 1.
    EXPECT_NEAR(make(Polynomial, x4, {6, 17, 34, 57}, 2, true, 0)->estimateForX(V{5}), 86.0, 1e-9);
}

TEST(KQURegressionModel, PowerFitEstimatesAndKeepsItsConstant) {
    const V x{1, 2, 3}, y{2, 8, 18};
    auto estimated = KQUPowerRegressionModel::affine(x, y, 1);
    EXPECT_NEAR(estimated.coefficientAtIndex(0), std::log(2.0), 1e-15);
    for (const auto& model : {estimated, KQUPowerRegressionModel::nonAffine(x, y, 1, 2.0)}) {
        EXPECT_NEAR(model.coefficients().back(), 2.0, 1e-15);  // the fixed constant is no coefficient
        EXPECT_NEAR(model.estimateForX(V{4}), 32.0, 1e-13);
    }
    // With 1 fixed the fit runs on ln y = β ln x: β = 2 + ln2·ln6 / (ln²2 + ln²3).
    auto fixed1 = KQUPowerRegressionModel::nonAffine(x, y, 1, 1.0);
    EXPECT_NEAR(fixed1.coefficientAtIndex(0), 2.7360149169762336, 1e-14);
    EXPECT_NEAR(fixed1.rSquared(), 0.9599306981190922, 1e-14);
}

TEST(KQURegressionModel, DegenerateStatisticsFollowIeeeArithmetic) {
    // Two points: df 0, so the standard errors and F are not finite; the fit itself stands.
    auto two = KQULinearRegressionModel::affine(V{1, 3}, V{2, 6}, 1);
    ASSERT_TRUE(two.isModelValid());
    EXPECT_NEAR(two.coefficientAtIndex(1), 2.0, 1e-15);
    EXPECT_EQ(two.degreesFreedom(), 0);
    for (double v : {two.standardError(), two.fStatistic(), two.coefficientStandardErrorAtIndex(0)})
        EXPECT_FALSE(std::isfinite(v));
    // A fixed constant is taken off before the fit and added back by the estimate.
    auto five = KQULinearRegressionModel::nonAffine(V{1, 2, 3, 4}, V{7.5, 9, 11.5, 13}, 1, 5.0);
    EXPECT_NEAR(five.estimateForX(V{10}), 5 + 10 * five.coefficientAtIndex(0), 1e-12);
    EXPECT_TRUE(std::isnan(five.estimateForX(V{})));
}

TEST(KQURegressionModel, ValuesToBeLogTransformedMustBePositive) {
    kqu::test::ContinueAfterAssertions continuing;
    const V x{1, 2, 3};
    // Name, model, xs, ys, affine, constant, error.
    const std::tuple<const char*, Kind, V, V, bool, double, int> cases[] = {
        {"power, y = 0", Power, x, {1, 0, 3}, true, 1, 2},
        {"power, y < 0", Power, x, {1, -2, 3}, true, 1, 2},
        {"power, x = 0", Power, {0, 1, 2}, x, true, 1, 2},
        {"power, c = -1", Power, x, x, false, -1, 2},
        {"exponential, y = 0", Exponential, x, {0, 1, 2}, true, 1, 2},
        {"exponential, c = 0", Exponential, x, x, false, 0, 2},
        {"exponential, x <= 0 is fine", Exponential, {-1, 0, 1}, x, true, 1, 0},
        {"logarithmic, x = 0", Logarithmic, {0, 1, 2}, x, true, 0, 2},
        {"logarithmic, y <= 0 is fine", Logarithmic, x, {-1, 0, 1}, true, 0, 0}};
    for (const auto& [name, kind, xs, ys, affine, constant, error] : cases) {
        auto model = make(kind, xs, ys, 1, affine, constant);
        EXPECT_EQ(model->errorType(), error) << name;
        EXPECT_EQ(model->numCoefficients() == 0, error != 0) << name;
    }
}

TEST(KQURegressionModel, MovingAverageSkipsMissingValuesAndRunsBackwards) {
    using O = std::optional<double>;
    const std::vector<O> xs{1, 2, 3, 4, 5}, ys{10, std::nullopt, 30, 40, 50};
    KQUMovingAverageRegressionModel model(xs, ys, 2);
    ASSERT_TRUE(model.isModelValid());
    ASSERT_EQ(model.numTrendPoint(), 4);
    const double want[4][2] = {{5, 45}, {4, 35}, {3, 30}, {2, 10}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::make_pair(model.trendXValueAtIndex(i), model.trendYValueAtIndex(i)),
                  std::make_pair(want[i][0], want[i][1]));
    // A missing x drops its position; a window without any y drops it too.
    KQUMovingAverageRegressionModel gaps(std::vector<O>{1, 2, std::nullopt, 4},
                                         std::vector<O>{std::nullopt, std::nullopt, 3, 4}, 2);
    ASSERT_EQ(gaps.numTrendPoint(), 1);
    EXPECT_EQ(gaps.trendYValueAtIndex(0), 3.5);
}

TEST(KQURegressionModel, MovingAverageRefusals) {
    kqu::test::ContinueAfterAssertions continuing;
    kqu::test::LogCapture log;
    using O = std::optional<double>;
    const std::vector<O> five{1, 2, 3, 4, 5};
    for (int period : {1, 5, 0, -3}) {
        KQUMovingAverageRegressionModel model(five, five, period);
        EXPECT_EQ(model.errorType(), KQURegressionErrorPeriod) << period;
    }
    EXPECT_TRUE(log.contains("Invalid period number in moving average mode."));
    // Fault: unequal lengths were read past the shorter array.
    KQUMovingAverageRegressionModel unequal(five, std::vector<O>{1, 2, 3}, 2);
    EXPECT_EQ(std::pair(unequal.errorType(), unequal.numTrendPoint()),
              std::pair(int(KQURegressionErrorPeriod), 0));
    // Fault: trend points outside the list read memory that was never stored.
    KQUMovingAverageRegressionModel model(five, five, 2);
    for (int index : {-1, 4, 1000}) {
        EXPECT_TRUE(std::isnan(model.trendXValueAtIndex(index))) << index;
        EXPECT_TRUE(std::isnan(model.trendYValueAtIndex(index))) << index;
    }
    EXPECT_TRUE(log.contains("Invalid index for moving average trend line."));
    EXPECT_EQ(model.rSquared(), 0.0);
    EXPECT_TRUE(log.contains("Moving average trend line does not have r-squared value."));
}

// Fault: buffers that cannot be had give error 1 (the allocation alone fails); ASan's new aborts instead.
TEST(KQURegressionModel, MovingAverageWithoutMemoryIsErrorOne) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer aborts on an impossible allocation";
#endif
    kqu::test::ContinueAfterAssertions continuing;
    kqu::test::LogCapture log;
    std::optional<double> one[1];
    const size_t huge = size_t(1) << 60;
    std::span<const std::optional<double>> xs(one, huge), ys(one, huge);
    KQUMovingAverageRegressionModel model(xs, ys, 2);
    EXPECT_EQ(model.errorType(), KQURegressionErrorAllocation);
    EXPECT_TRUE(log.contains("malloc in KQUMovingAverageRegressionModel failed."));
}

// Fault: these shapes reached BLAS/LAPACK, whose error handler ends the process.
TEST(KQURegressionModel, BadShapesAreRefusedBeforeAnySolverCall) {
    kqu::test::ContinueAfterAssertions continuing;
    kqu::test::LogCapture log;
    const V one{1}, two{1, 2};
    // Name, model, xs, ys, k, affine, constant.
    const std::tuple<const char*, Kind, V, V, int, bool, double> cases[] = {
        {"m = 0", Linear, {}, {}, 1, true, 0},
        {"m < n", Linear, one, one, 1, true, 0},
        {"k = 0, fixed constant", Linear, {}, two, 0, false, 1},
        {"xs too short", Linear, two, {1, 2, 3}, 1, true, 0},
        {"negative k", Linear, two, two, -1, true, 0},
        {"order 0, fixed constant", Polynomial, two, two, 0, false, 1},
        {"order beyond the points", Polynomial, two, two, 2, true, 0},
        {"power, m = 0", Power, {}, {}, 1, true, 1},
        {"exponential, m < n", Exponential, one, one, 1, true, 1},
        {"logarithmic, xs too long", Logarithmic, {1, 2, 3}, two, 1, true, 0}};
    for (const auto& [name, kind, xs, ys, k, affine, constant] : cases) {
        auto model = make(kind, xs, ys, k, affine, constant);
        EXPECT_EQ(model->errorType(), KQURegressionErrorSolver) << name;
        EXPECT_TRUE(log.contains(
            k == 0 && kind == Polynomial
                ? std::string("Order 0 and intercept is being set in the KQUPolynomialRegressionModel.")
                : fmt::format("dels_ in {} failed.", kModelNames[kind])))
            << name;
        // Fault: the getters read arrays that were never made.
        EXPECT_TRUE(std::isnan(model->coefficientAtIndex(0))) << name;
    }
    // m, n, columns, size of xs, valid.
    const std::tuple<size_t, int64_t, int64_t, size_t, bool> shapes[] = {
        {3, 2, 1, 3, true},
        {3, 3, 3, 9, true},
        {0, 1, 1, 0, false},
        {2, 3, 3, 6, false},
        {3, 0, 0, 0, false},
        {3, 2, 1, 4, false},
        {size_t(1) << 31, 1, 1, size_t(1) << 31, false},
        {4, int64_t(1) << 31, 1, 4, false},
        {size_t(1) << 30, 2, 2, size_t(1) << 31, true},
        {3, 2, 1, (size_t(1) << 63) + 3, false}};
    for (const auto& [m, n, columns, xsSize, valid] : shapes)
        EXPECT_EQ(detail::KQUValidLeastSquaresShape(m, n, columns, xsSize), valid)
            << m << "x" << n << " with " << xsSize;
}

TEST(KQURegressionModel, GettersOutsideTheCoefficientsAnswerNaN) {
    auto model = KQULinearRegressionModel::affine(V{1, 2, 3}, V{2, 4, 7}, 1);
    for (int index : {-1, 2, 100}) {
        EXPECT_TRUE(std::isnan(model.coefficientAtIndex(index))) << index;
        EXPECT_TRUE(std::isnan(model.coefficientStandardErrorAtIndex(index))) << index;
    }
}

// Fault: SSE as S − ŷ·b came out −1.4e-14 here, making every standard error NaN; likewise KQUStandardError.
TEST(KQURegressionModel, SumsOfSquaresNeverTurnNegative) {
    V x, y;
    for (double v : {0.3, 0.6, 0.9, 1.2, 1.5, 1.8}) x.push_back(v), y.push_back(3 * v + 0.7);
    auto model = KQULinearRegressionModel::affine(x, y, 1);
    EXPECT_GE(model.errorSumSquares(), 0);
    EXPECT_FALSE(std::isnan(model.coefficientStandardErrorAtIndex(0)) ||
                 std::isnan(model.coefficientStandardErrorAtIndex(1)));
    for (double value : {0.1, 1e9 + 0.3, -7.7}) EXPECT_EQ(KQUStandardError(V(7, value)), 0) << value;
}

// Fault: seven equal targets gave SST ≈ 1.3e-33 through the one-pass mean, and R² ≈ −1e16.
TEST(KQURegressionModel, EqualTargetsGiveExactlyZeroTotalSumOfSquares) {
    const V x{1, 2, 3, 4, 5, 6, 7}, y(7, 0.1);
    auto model = KQULinearRegressionModel::affine(x, y, 1);
    // SST exactly 0, SSE forced to 0, R² = 0/0.
    EXPECT_EQ(V({model.regressionSumSquares(), model.errorSumSquares(), model.standardError()}), V(3, 0.0));
    EXPECT_TRUE(std::isnan(model.rSquared()));
    auto poly = KQUPolynomialRegressionModel::affine(x, y, 2);
    EXPECT_TRUE(std::isnan(poly.rSquared()));
}

// Fault: the one-pass variance cancels to 0 for a large mean.
TEST(KQURegressionModel, StandardDeviationOfLargeValuesKeepsItsDigits) {
    const V v{1e9, 1e9 + 1, 1e9 + 2, 1e9 + 3, 1e9 + 4};
    double sd = 0, mean = 0;
    KQUStandardDeviationAndMean(v, &sd, &mean);
    EXPECT_EQ(std::pair(mean, sd), std::pair(1e9 + 2, std::sqrt(2.5)));
    EXPECT_DOUBLE_EQ(KQUStandardError(v), std::sqrt(2.5) / std::sqrt(5.0));
    KQUStandardDeviationAndMean(v, nullptr, &mean);  // either pointer may be null
    EXPECT_TRUE(std::isnan(KQUStandardError(V{})));
}

// Fault: power and log models judged XᵀX of the untransformed xs, singular here (x2 = 2·x1) unlike ln x.
TEST(KQURegressionModel, SingularityIsJudgedOnTheFittedMatrix) {
    const V xs{1, 2, 4, 2, 4, 8}, ys{3, 5, 9};
    EXPECT_EQ(KQUPowerRegressionModel::nonAffine(xs, ys, 2, 1.5).errorType(), 0);
    EXPECT_EQ(KQULogarithmicRegressionModel::nonAffine(xs, ys, 2, 0.5).errorType(), 0);
    // A truly singular fitted matrix is still refused.
    kqu::test::ContinueAfterAssertions continuing;
    EXPECT_EQ(KQULinearRegressionModel::nonAffine(V{0, 0, 0}, ys, 1, 1.0).errorType(),
              KQURegressionErrorSingular);
    EXPECT_EQ(KQULinearRegressionModel::nonAffine(xs, V{1, 2, 3}, 2, 1.0).errorType(),
              KQURegressionErrorSingular);
    // A repeated column after the ones leaves an exact zero, which dgels refuses itself (3).
    EXPECT_FALSE(
        KQUExponentialRegressionModel::affine(V{1, 2, 3, 4, 1, 2, 3, 4}, V{1, 2, 3, 4}, 2).isModelValid());
}

TEST(KQURegressionModel, CovarianceMatrixIsTheInverseOfXtX) {
    // X = [1 1; 1 2; 1 3]: XᵀX = [3 6; 6 14], inverse [14 -6; -6 3] / 6.
    const V X{1, 1, 1, 1, 2, 3};
    V out(4);
    ASSERT_EQ(KQURegressionModelCovarianceMatrix(X, 2, 3, out), 0);
    const double want[4] = {14.0 / 6, -1, -1, 0.5};
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(out[i], want[i], 1e-14) << i;
    EXPECT_EQ(KQURegressionModelCovarianceMatrix(V{1, 1, 1, 2, 2, 2}, 2, 3, out), KQURegressionErrorSingular);
    EXPECT_EQ(KQURegressionModelCovarianceMatrix(X, 3, 2, out), KQURegressionErrorSolver);
    EXPECT_EQ(KQURegressionModelCovarianceMatrix(X, 2, 3, std::span<double>(out).first(3)),
              KQURegressionErrorSolver);
}

}  // namespace
