// The least-squares core and equation builders shared by the fitted trend-line models.
// Private to kqutility/regression: nothing outside the room includes it.
//
// KQUSolveLeastSquares takes the design matrix and target by value and lets LAPACK
// overwrite them: no copy of X is kept. What it computes, and why:
//  - coefficients from dgels (QR), whose condition is cond(X), not cond(X)²;
//  - SSE as the sum of squares of rows n..m-1 that dgels leaves in the right-hand side
//    (Qᵀb below R), which is never negative and loses nothing to cancellation;
//  - the centred SST from deviations about b₀ + Σ(bᵢ − b₀)/m, so equal targets give 0;
//  - the diagonal of (XᵀX)⁻¹ = (RᵀR)⁻¹ from R itself (dpotri), on request;
//  - error 4 when a column of X is a combination of the others to working precision
//    (dgels itself only refuses an exact zero on R's diagonal, which rounding hides).
// Dimensions are checked before any BLAS or LAPACK call, which would otherwise end the
// process on a bad one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUAttributedString.h"

namespace kqu::detail {

// True when m points, n columns and an xs of xsSize values for `columns` columns of m
// values can go to BLAS/LAPACK: m >= 1, n >= 1, m >= n, all within 32-bit counts.
bool KQUValidLeastSquaresShape(size_t m, int64_t n, int64_t columns, size_t xsSize);

struct KQULeastSquaresResult {
    int errorType = 0;
    std::vector<double> coefficients;     // n values once dgels succeeded
    double sse = 0, sst = 0;              // set once dgels succeeded
    std::vector<double> inverseDiagonal;  // diag (XᵀX)⁻¹ when asked for and errorType is 0
};

// X: m×n column-major, b: m values, both consumed. centred: SST about the mean (the
// constant is estimated) rather than uncentred. failureMessage is reported through the
// assertion handler when dgels fails or the shape is refused. May throw std::bad_alloc.
KQULeastSquaresResult KQUSolveLeastSquares(std::vector<double> X, std::vector<double> b, size_t m, size_t n,
                                           bool centred, bool wantInverseDiagonal,
                                           std::string_view failureMessage);

// Reports failureMessage through the assertion handler and answers error 3.
int KQUReportSolverFailure(std::string_view failureMessage);

// The equation text of the additive models (linear, polynomial, logarithmic).
enum class KQUAdditiveForm { Linear, Polynomial, Logarithmic };
std::u16string KQUAdditiveSimpleEquation(KQUAdditiveForm form, std::span<const double> coefficients,
                                         bool affine, double intercept);
KQUAttributedString KQUAdditiveAttributedEquation(KQUAdditiveForm form, std::span<const double> coefficients,
                                                  bool affine, double intercept);

// The equation text of the multiplicative models (power, exponential).
enum class KQUMultiplicativeForm { Power, Exponential };
std::u16string KQUMultiplicativeSimpleEquation(KQUMultiplicativeForm form,
                                               std::span<const double> coefficients, bool affine,
                                               double intercept);
KQUAttributedString KQUMultiplicativeAttributedEquation(KQUMultiplicativeForm form,
                                                        std::span<const double> coefficients, bool affine,
                                                        double intercept);

std::u16string KQUUtf16(std::string_view ascii);

}  // namespace kqu::detail
