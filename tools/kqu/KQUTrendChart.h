// The pictures kqu draws: the trend-line chart of `kqu trend --svg`, the round axis ticks
// it uses, and the one way both pictures reach their destination.
//
// Drawing is a pure function of its input: the same data, model and locale give the same
// bytes. Tick labels and the equation are rendered in the current locale (set it with
// KQUScopedLocaleOverride before calling). Plain functions; one thread at a time, as the
// number formats they use are.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kqutility/foundation/KQUAttributedString.h"
#include "tools/kqu/KQUToolOutput.h"

namespace kqu::tool {

// Round ticks covering [minimum, maximum]: 5 to 10 values, evenly spaced by 1, 2, 2.5 or
// 5 times a power of ten, the first at or below minimum and the last at or above
// maximum. Each value is the nearest double to its decimal (0.3, not 0.30000000000000004).
// An empty span is widened around its value first.
std::vector<double> KQUNiceTicks(double minimum, double maximum);

struct KQUTrendChart {
    std::string title;
    std::string xTitle, yTitle;  // the axes' names (none when empty)
    double width = 800;
    double height = 500;
    std::vector<std::pair<double, double>> points;  // finite (x, y) data points
    size_t omittedPoints = 0;                       // rows left out: a missing or non-finite value
    // A fitted curve, sampled densely across the points' x range; or, for a moving
    // average, the trend points joined in order.
    std::function<double(double)> curve{};
    std::vector<std::pair<double, double>> trendPoints{};
    std::optional<KQUAttributedString> equation{};  // runs marked with KQUSuperscriptAttributeName
    std::optional<double> rSquared{};
};

// The chart as an SVG document: dots (class "point"), the curve (class "trend"), axes with
// tick labels (classes "x-tick", "y-tick") from the chart-label rendering of a decimal
// format, the title, the equation with superscript and subscript runs as tspans (classes
// "sup", "sub") shifted off the baseline, R² beside it, the axes' names (classes "x-title",
// "y-title"), and a note (class "note") counting the points left out.
std::string KQUTrendChartSvg(const KQUTrendChart& chart);

// Writes bytes to an output opened early (so that a refused destination is reported
// before any work is done) and commits it: a file appears only when complete.
void KQUToolWriteWholeOutput(KQUToolOutput& output, std::string_view bytes);

}  // namespace kqu::tool
