#include "tools/kqu/KQUTrendChart.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/foundation/KQUSvgWriter.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolOutput.h"

namespace kqu::tool {
namespace {

// integer × 10^exponent, correctly rounded where the power of ten is exact.
double decimalValue(double integer, int exponent) {
    return exponent >= 0 ? integer * std::pow(10.0, exponent) : integer / std::pow(10.0, -exponent);
}

std::vector<double> evenlySpaced(double minimum, double maximum, int count) {
    std::vector<double> values;
    // Halves first: the difference of two large doubles may not be one.
    const double step = maximum / (count - 1) - minimum / (count - 1);
    for (int i = 0; i < count; ++i) values.push_back(i + 1 == count ? maximum : minimum + i * step);
    return values;
}

// Pixel coordinates stay within what a renderer handles (a curve may leave the plot).
double clampPixel(double v) {
    return std::clamp(v, -1e5, 1e5);
}

constexpr double kCharacterWidth = 7.0;  // of a 12 px sans-serif digit, roughly
constexpr const char* kFont = "DejaVu Sans, Helvetica, Arial, sans-serif";

struct Extent {
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();
    void add(double v) {
        if (!std::isfinite(v)) return;
        minimum = std::min(minimum, v);
        maximum = std::max(maximum, v);
    }
    bool empty() const { return minimum > maximum; }
};

std::string utf8(const std::u16string& text) {
    return KQUUTF8FromUTF16(text);
}

// The equation's runs as tspans: a superscript run rises and a subscript run sinks by a
// fraction of the font size, in a smaller size, and the next run returns to the baseline
// (dy moves the pen for everything after it). Returns how far off the baseline the pen
// is left, for what follows to return.
double writeEquation(KQUSvgWriter& svg, const KQUAttributedString& equation, double fontSize) {
    const double small = std::round(fontSize * 0.72);
    auto offsetOf = [&](int level) {
        return level > 0 ? -0.42 * fontSize : level < 0 ? 0.28 * fontSize : 0.0;
    };
    int current = 0;
    uint64_t index = 0;
    const auto& text = equation.string();
    while (index < equation.length()) {
        KQURange run{};
        const KQUValue* value = equation.attribute(KQUSuperscriptAttributeName, index, &run);
        int level = value ? static_cast<int>(value->integerValue()) : 0;
        level = level > 0 ? 1 : level < 0 ? -1 : 0;
        const uint64_t end = std::min<uint64_t>(run.location + run.length, equation.length());
        std::string piece = utf8(text.substr(index, end - index));
        const double dy = offsetOf(level) - offsetOf(current);
        if (level == 0 && dy == 0) {
            svg.text(piece);
        } else if (level == 0) {
            svg.element("tspan", {{"dy", dy}}, piece);
        } else {
            svg.element("tspan", {{"class", level > 0 ? "sup" : "sub"}, {"dy", dy}, {"font-size", small}},
                        piece);
        }
        current = level;
        index = end;
    }
    return offsetOf(current);
}

}  // namespace

std::vector<double> KQUNiceTicks(double minimum, double maximum) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) return {};
    if (minimum > maximum) std::swap(minimum, maximum);
    if (!(maximum > minimum)) {
        const double pad = minimum == 0 ? 1 : std::fabs(minimum) * 0.1;
        minimum -= pad;
        maximum += pad;
    }
    const double span = maximum - minimum;
    if (!std::isfinite(span) || span < std::fabs(maximum) * 1e-12) return evenlySpaced(minimum, maximum, 5);
    // Steps from the largest down: 5, 2.5, 2 and 1 times a power of ten, each a whole
    // number of tenths (so 2.5 needs no fraction). Each step is at most twice the next,
    // so the first that gives 5 ticks or more gives 10 at most.
    const int top = static_cast<int>(std::floor(std::log10(span))) + 1;
    for (int power = top; power >= top - 3; --power) {
        for (int tenths : {50, 25, 20, 10}) {
            const int exponent = power - 1;
            const double step = decimalValue(tenths, exponent);
            const double first = std::floor(minimum / step), last = std::ceil(maximum / step);
            if (last - first + 1 < 5 || last - first + 1 > 10) continue;
            std::vector<double> values;
            for (double k = first; k <= last; ++k) values.push_back(decimalValue(k * tenths, exponent));
            return values;
        }
    }
    return evenlySpaced(minimum, maximum, 5);
}

std::string KQUTrendChartSvg(const KQUTrendChart& chart) {
    const double width = chart.width, height = chart.height;
    Extent xs, ys;
    for (auto [x, y] : chart.points) xs.add(x), ys.add(y);
    for (auto [x, y] : chart.trendPoints) xs.add(x), ys.add(y);
    // The curve is sampled every two units of width across the data, and its values
    // widen the y axis so that it stays in view.
    std::vector<std::pair<double, double>> samples;
    if (chart.curve && !xs.empty()) {
        const int count = std::clamp(static_cast<int>(width / 2), 2, 4000);
        for (int i = 0; i < count; ++i) {
            const double x =
                i + 1 == count ? xs.maximum : xs.minimum + (xs.maximum - xs.minimum) * i / (count - 1);
            const double y = chart.curve(x);
            samples.emplace_back(x, y);
            ys.add(y);
        }
    }
    if (xs.empty()) xs.add(0), xs.add(1);
    if (ys.empty()) ys.add(0), ys.add(1);
    const std::vector<double> xTicks = KQUNiceTicks(xs.minimum, xs.maximum);
    const std::vector<double> yTicks = KQUNiceTicks(ys.minimum, ys.maximum);

    // Labels in the current locale, at most 3 decimals, with the locale's grouping.
    auto format =
        KQUNumberFormat::create({.decimalPlaces = kKQUNumberFormatterDecimalPlacesAsManyAsNecessary});
    auto label = [&](double v) { return utf8(format->chartLabelStringFromDouble(v)); };
    std::vector<std::string> xLabels, yLabels;
    size_t widestY = 1;
    for (double v : xTicks) xLabels.push_back(label(v));
    for (double v : yTicks) {
        yLabels.push_back(label(v));
        widestY = std::max(widestY, KQUUTF16FromUTF8(yLabels.back()).value_or(u"").size());
    }

    const bool hasNote = chart.omittedPoints > 0;
    const bool hasAxisTitles = !chart.xTitle.empty() || !chart.yTitle.empty();
    const double left = 20 + kCharacterWidth * static_cast<double>(widestY) + (hasAxisTitles ? 20 : 0);
    const double right = width - 40;
    const double top = chart.equation || chart.rSquared ? 76 : 52;
    const double bottom = height - (hasNote ? 62 : 40) - (hasAxisTitles ? 18 : 0);
    const double x0 = xTicks.front(), x1 = xTicks.back();
    const double y0 = yTicks.front(), y1 = yTicks.back();
    auto X = [&](double x) { return clampPixel(left + (x - x0) / (x1 - x0) * (right - left)); };
    auto Y = [&](double y) { return clampPixel(bottom - (y - y0) / (y1 - y0) * (bottom - top)); };

    KQUSvgWriter svg(width, height, chart.title);
    svg.element("rect", {{"width", width}, {"height", height}, {"fill", "#ffffff"}});
    svg.start("g", {{"font-family", kFont}, {"font-size", 12}, {"fill", "#222222"}});
    svg.element("text",
                {{"class", "title"},
                 {"x", width / 2},
                 {"y", 28},
                 {"font-size", 18},
                 {"font-weight", "bold"},
                 {"text-anchor", "middle"}},
                chart.title);
    if (chart.equation || chart.rSquared) {
        // The spaces around the operators sit at the edges of runs, where a renderer
        // would otherwise be free to drop them.
        svg.start(
            "text",
            {{"class", "equation"}, {"x", left}, {"y", 56}, {"font-size", 14}, {"xml:space", "preserve"}});
        const double shifted = chart.equation ? writeEquation(svg, *chart.equation, 14) : 0;
        if (chart.rSquared) {
            auto places = KQUNumberFormat::create({.decimalPlaces = 4});
            std::string text = "R\u00B2 = " + utf8(places->stringFromDouble(*chart.rSquared));
            svg.start("tspan", {{"class", "r-squared"}, {"dx", chart.equation ? 28.0 : 0.0}});
            if (shifted != 0) svg.attribute({"dy", -shifted});
            svg.text(text);
            svg.end();
        }
        svg.end();
    }

    // Grid, axes and tick labels.
    svg.start("g", {{"class", "grid"}, {"stroke", "#e4e4e4"}, {"stroke-width", 1}});
    for (double v : xTicks) svg.element("line", {{"x1", X(v)}, {"y1", top}, {"x2", X(v)}, {"y2", bottom}});
    for (double v : yTicks) svg.element("line", {{"x1", left}, {"y1", Y(v)}, {"x2", right}, {"y2", Y(v)}});
    svg.end();
    svg.element("path",
                {{"class", "axes"},
                 {"d", fmt::format("M{} {}V{}H{}", KQUSvgWriter::number(left), KQUSvgWriter::number(top),
                                   KQUSvgWriter::number(bottom), KQUSvgWriter::number(right))},
                 {"fill", "none"},
                 {"stroke", "#555555"},
                 {"stroke-width", 1}});
    svg.start("g", {{"text-anchor", "middle"}});
    for (size_t i = 0; i < xTicks.size(); ++i)
        svg.element("text", {{"class", "x-tick"}, {"x", X(xTicks[i])}, {"y", bottom + 18}}, xLabels[i]);
    svg.end();
    svg.start("g", {{"text-anchor", "end"}});
    for (size_t i = 0; i < yTicks.size(); ++i)
        svg.element("text", {{"class", "y-tick"}, {"x", left - 8}, {"y", Y(yTicks[i]) + 4}}, yLabels[i]);
    svg.end();
    if (!chart.xTitle.empty())
        svg.element(
            "text",
            {{"class", "x-title"}, {"x", (left + right) / 2}, {"y", bottom + 38}, {"text-anchor", "middle"}},
            chart.xTitle);
    if (!chart.yTitle.empty()) {
        const double x = 16, y = (top + bottom) / 2;
        svg.element("text",
                    {{"class", "y-title"},
                     {"x", x},
                     {"y", y},
                     {"text-anchor", "middle"},
                     {"transform",
                      fmt::format("rotate(-90 {} {})", KQUSvgWriter::number(x), KQUSvgWriter::number(y))}},
                    chart.yTitle);
    }

    // The trend line, cut where the model has no value, kept inside the plot.
    svg.start("clipPath", {{"id", "plot-area"}});
    svg.element("rect", {{"x", left}, {"y", top}, {"width", right - left}, {"height", bottom - top}});
    svg.end();
    std::string d;
    bool pen = false;
    auto extend = [&](double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) {
            pen = false;
            return;
        }
        d += fmt::format("{}{} {}", pen ? "L" : "M", KQUSvgWriter::number(X(x)), KQUSvgWriter::number(Y(y)));
        pen = true;
    };
    for (auto [x, y] : samples) extend(x, y);
    for (auto [x, y] : chart.trendPoints) extend(x, y);
    if (!d.empty())
        svg.element("path", {{"class", "trend"},
                             {"d", d},
                             {"fill", "none"},
                             {"stroke", "#cc3311"},
                             {"stroke-width", 2},
                             {"stroke-linejoin", "round"},
                             {"clip-path", "url(#plot-area)"}});

    svg.start("g", {{"fill", "#0077bb"}, {"stroke", "#ffffff"}, {"stroke-width", 0.75}});
    for (auto [x, y] : chart.points)
        svg.element("circle", {{"class", "point"}, {"cx", X(x)}, {"cy", Y(y)}, {"r", 3.5}});
    svg.end();

    if (hasNote)
        svg.element("text", {{"class", "note"}, {"x", left}, {"y", height - 16}, {"fill", "#666666"}},
                    fmt::format("{} point{} left out: a value missing or not finite", chart.omittedPoints,
                                chart.omittedPoints == 1 ? "" : "s"));
    svg.end();
    return svg.finish();
}

void KQUToolWriteWholeOutput(KQUToolOutput& output, std::string_view bytes) {
    auto stream = output.stream();
    constexpr size_t kChunk = 1 << 20;
    for (size_t at = 0; at < bytes.size(); at += kChunk) {
        const size_t n = std::min(kChunk, bytes.size() - at);
        stream->writeBuffer(bytes.data() + at, static_cast<uint32_t>(n));
    }
    output.commit();
}

}  // namespace kqu::tool
