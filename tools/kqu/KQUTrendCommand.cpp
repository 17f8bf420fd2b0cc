// kqu trend: fits a trend line to CSV data and prints its equation and statistics.
//
// Input lines are "x1[,x2...],y" with C-locale numbers (a header line is allowed first);
// every line has the same number of fields. The fit is one of the library's trend-line
// models; --json writes one object for programs to read; --svg draws the points and the
// trend line as a chart (one x column; rows with a missing or non-finite value are left
// out of the fit and the picture, and counted under it).
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>

#include <fmt/format.h>
#include <unicode/unistr.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/regression/KQUCurveRegressionModels.h"
#include "kqutility/regression/KQULinearRegressionModel.h"
#include "kqutility/regression/KQUMovingAverageRegressionModel.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUTrendChart.h"

namespace kqu::tool {
namespace {

enum class Kind { Linear, Polynomial, Logarithmic, Power, Exponential, MovingAverage };

struct ModelChoice {
    Kind kind;
    int parameter = 0;  // polynomial order or moving-average period
};

int parseCount(const std::string& text, const std::string& model) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0)
        throw KQUToolError(fmt::format("--model {}: expected a whole number after ':'", model));
    return value;
}

ModelChoice parseModel(const std::string& model) {
    if (model == "linear") return {Kind::Linear};
    if (model == "log") return {Kind::Logarithmic};
    if (model == "power") return {Kind::Power};
    if (model == "exp") return {Kind::Exponential};
    if (model.rfind("poly:", 0) == 0) return {Kind::Polynomial, parseCount(model.substr(5), model)};
    if (model.rfind("ma:", 0) == 0) return {Kind::MovingAverage, parseCount(model.substr(3), model)};
    throw KQUToolError(fmt::format("unknown model '{}'; use linear, poly:N, log, power, exp or ma:N", model));
}

// ---------------------------------------------------------------------------------------
// CSV input

std::string trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

// Splits on commas; a field in double quotes may hold commas and "" for a quote.
std::vector<std::string> splitFields(std::string_view line) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && trim(field).empty()) {
            field.clear();
            quoted = true;
        } else if (c == ',') {
            fields.push_back(trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(trim(field));
    return fields;
}

// A finite C-locale number filling the whole field; nullopt otherwise. Text that names
// a number too large for a double (1e400) is refused too, never turned into infinity.
std::optional<double> parseNumber(const std::string& field) {
    std::string_view text = field;
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || end != text.data() + text.size()) return std::nullopt;
    // Out of range: from_chars leaves value alone. Underflow rounds to 0 or a subnormal.
    if (error == std::errc::result_out_of_range)
        value = std::strtod(std::string(text).c_str(), nullptr);
    else if (error != std::errc())
        return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// "nan", "inf", "-infinity" and numbers too large for a double: the values a chart
// leaves out rather than refusing the whole file.
bool isNonFiniteNumber(const std::string& field) {
    double value = 0;
    auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || end != field.data() + field.size()) return false;
    return error == std::errc::result_out_of_range || !std::isfinite(value);
}

struct Table {
    std::vector<std::vector<std::optional<double>>> columns;  // x columns then y
    size_t rows = 0;
    std::vector<std::string> header;  // the column names, when the first line holds them
};

struct ReadOptions {
    bool allowMissing = false;
    bool nonFiniteAsMissing = false;
    bool singleX = false;
    const char* singleXReason = "this model takes one x column";
};

Table readTable(std::istream& in, const ReadOptions& options) {
    Table table;
    std::string line;
    size_t lineNumber = 0, fieldCount = 0;
    bool firstContent = true;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (lineNumber == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (trim(line).empty()) continue;
        std::vector<std::string> fields = splitFields(line);
        if (firstContent) {
            firstContent = false;
            fieldCount = fields.size();
            if (fieldCount < 2)
                throw KQUToolError(fmt::format("line {}: expected x and y separated by a comma", lineNumber));
            if (options.singleX && fieldCount != 2)
                throw KQUToolError(fmt::format("line {}: {}: expected 2 fields, found {}", lineNumber,
                                               options.singleXReason, fieldCount));
            table.columns.resize(fieldCount);
            bool header = false;
            // "nan" is a value a chart leaves out, not a column name.
            for (const auto& f : fields)
                header = header || (!f.empty() && !parseNumber(f) &&
                                    !(options.nonFiniteAsMissing && isNonFiniteNumber(f)));
            if (header) {
                table.header = fields;
                continue;
            }
        }
        if (fields.size() != fieldCount)
            throw KQUToolError(
                fmt::format("line {}: expected {} fields, found {}", lineNumber, fieldCount, fields.size()));
        for (size_t j = 0; j < fieldCount; ++j) {
            if (fields[j].empty() || (options.nonFiniteAsMissing && isNonFiniteNumber(fields[j]))) {
                if (!options.allowMissing)
                    throw KQUToolError(fmt::format("line {}: missing value", lineNumber));
                table.columns[j].push_back(std::nullopt);
                continue;
            }
            auto value = parseNumber(fields[j]);
            if (!value) throw KQUToolError(fmt::format("line {}: not a number: '{}'", lineNumber, fields[j]));
            table.columns[j].push_back(*value);
        }
        ++table.rows;
    }
    return table;
}

// ---------------------------------------------------------------------------------------
// Output

std::string utf8(const std::u16string& text) {
    std::string out;
    icu::UnicodeString(text.data(), static_cast<int32_t>(text.size())).toUTF8String(out);
    return out;
}

std::string number(double v) {
    return std::isnan(v) ? "nan" : fmt::format("{}", v);
}

std::string jsonNumber(double v) {
    return std::isfinite(v) ? fmt::format("{:.17g}", v) : "null";
}

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += fmt::format("\\u{:04x}", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string jsonArray(std::span<const double> values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + jsonNumber(values[i]);
    return out + "]";
}

std::string errorMessage(int type, Kind kind, size_t points, int64_t coefficients, int period) {
    switch (type) {
        case KQURegressionErrorAllocation:
            return "not enough memory for the fit";
        case KQURegressionErrorNotPositive:
            if (kind == Kind::Logarithmic) return "a logarithmic fit needs every x > 0";
            if (kind == Kind::Power) return "a power fit needs every x > 0, every y > 0 and a constant > 0";
            return "an exponential fit needs every y > 0 and a constant > 0";
        case KQURegressionErrorSolver:
            if (coefficients < 1) return "nothing to fit: the constant is fixed and no x term is left";
            if (static_cast<int64_t>(points) < coefficients)
                return fmt::format("{} coefficients need at least {} points, found {}", coefficients,
                                   coefficients, points);
            return "the least-squares solve failed: the x columns are linearly dependent";
        case KQURegressionErrorSingular:
            return "the x columns are linearly dependent (X'X is singular)";
        case KQURegressionErrorPeriod:
            return fmt::format(
                "the moving-average period must be from 2 to the number of points - 1 ({}), was {}",
                points > 0 ? points - 1 : 0, period);
        case KQURegressionErrorInversion:
            return "inverting X'X failed";
    }
    return fmt::format("error {}", type);
}

// Assertion reports from the models go to the log; the tool says the same in its own
// words, so they are held back while the model is built and read.
class QuietLog {
public:
    QuietLog() : mPrevious(KQUSetLogSink([](std::string_view) {})) {}
    ~QuietLog() { KQUSetLogSink(std::move(mPrevious)); }

private:
    KQULogSink mPrevious;
};

std::unique_ptr<KQUFittedRegressionModel> fitModel(ModelChoice choice, std::span<const double> xs,
                                                   std::span<const double> ys, int k, bool affine, double c) {
    switch (choice.kind) {
        case Kind::Linear:
            return std::make_unique<KQULinearRegressionModel>(xs, ys, k, affine, c);
        case Kind::Polynomial:
            return std::make_unique<KQUPolynomialRegressionModel>(xs, ys, choice.parameter, affine, c);
        case Kind::Logarithmic:
            return std::make_unique<KQULogarithmicRegressionModel>(xs, ys, k, affine, c);
        case Kind::Power:
            return std::make_unique<KQUPowerRegressionModel>(xs, ys, k, affine, c);
        case Kind::Exponential:
            return std::make_unique<KQUExponentialRegressionModel>(xs, ys, k, affine, c);
        case Kind::MovingAverage:
            break;
    }
    return nullptr;
}

// Keeps the rows whose every value is present; returns how many went.
size_t dropIncompleteRows(Table& table) {
    std::vector<std::vector<std::optional<double>>> kept(table.columns.size());
    size_t rows = 0;
    for (size_t i = 0; i < table.rows; ++i) {
        bool complete = true;
        for (const auto& column : table.columns) complete = complete && column[i].has_value();
        if (!complete) continue;
        for (size_t j = 0; j < table.columns.size(); ++j) kept[j].push_back(table.columns[j][i]);
        ++rows;
    }
    const size_t dropped = table.rows - rows;
    table.columns = std::move(kept);
    table.rows = rows;
    return dropped;
}

// "WxH" in whole units, each from 200 to 20000.
std::pair<double, double> parseSize(const std::string& text) {
    const size_t x = text.find_first_of("xX");
    int w = 0, h = 0;
    bool ok = x != std::string::npos;
    if (ok) {
        auto [endW, errorW] = std::from_chars(text.data(), text.data() + x, w);
        auto [endH, errorH] = std::from_chars(text.data() + x + 1, text.data() + text.size(), h);
        ok = x > 0 && x + 1 < text.size() && errorW == std::errc() && errorH == std::errc() &&
             endW == text.data() + x && endH == text.data() + text.size();
    }
    if (!ok || w < 200 || h < 200 || w > 20000 || h > 20000)
        throw KQUToolError(
            fmt::format("--size: expected WxH with each from 200 to 20000, as in 800x500, not '{}'", text));
    return {w, h};
}

int runTrend(const KQUToolArguments& arguments) {
    auto modelText = arguments.value("--model");
    if (!modelText) throw KQUToolUsageError("--model is needed");
    const ModelChoice choice = parseModel(*modelText);
    const bool json = arguments.has("--json");
    const std::optional<std::string> svgPath = arguments.value("--svg");
    const bool svgToStandardOutput = svgPath && *svgPath == "-";
    if (svgToStandardOutput && json) throw KQUToolUsageError("--json and --svg - both want standard output");
    if (!svgPath && (arguments.has("--title") || arguments.has("--size")))
        throw KQUToolUsageError("--title and --size describe the chart: give --svg OUT.svg too");
    std::pair<double, double> size{800, 500};
    if (auto text = arguments.value("--size")) size = parseSize(*text);
    const bool multiplicative = choice.kind == Kind::Power || choice.kind == Kind::Exponential;
    bool affine = true;
    double constant = multiplicative ? 1.0 : 0.0;
    if (arguments.has("--no-intercept") && arguments.has("--intercept"))
        throw KQUToolError("use either --no-intercept or --intercept C, not both");
    if (choice.kind == Kind::MovingAverage &&
        (arguments.has("--no-intercept") || arguments.has("--intercept")))
        throw KQUToolError("a moving average has no constant: --no-intercept and --intercept do not apply");
    if (arguments.has("--no-intercept")) affine = false;
    if (auto text = arguments.value("--intercept")) {
        auto value = parseNumber(trim(*text));
        if (!value) throw KQUToolError(fmt::format("--intercept: not a number: '{}'", *text));
        affine = false;
        constant = *value;
    }
    std::optional<KQUScopedLocaleOverride> scopedLocale;
    if (auto name = arguments.value("--locale")) {
        KQULocale locale(*name);
        if (locale.identifier().empty() || !locale.isAvailable())
            throw KQUToolError(fmt::format("--locale: unknown locale '{}'", *name));
        scopedLocale.emplace(locale.identifier());
    }

    const std::string path = arguments.operands.empty() ? "-" : arguments.operands[0];
    // Opened first: a destination that is refused is said before anything is printed.
    std::optional<KQUToolOutput> svgOutput;
    if (svgPath) svgOutput.emplace(*svgPath, KQUToolOutputOptions{.replace = arguments.has("--force")});
    std::ifstream file;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file) throw KQUToolError(fmt::format("{}: cannot read", path));
    }
    std::istream& in = path == "-" ? std::cin : file;
    const bool movingAverage = choice.kind == Kind::MovingAverage;
    ReadOptions readOptions{.allowMissing = movingAverage || svgPath,
                            .nonFiniteAsMissing = svgPath.has_value(),
                            .singleX = movingAverage || choice.kind == Kind::Polynomial || svgPath};
    if (svgPath && !movingAverage && choice.kind != Kind::Polynomial)
        readOptions.singleXReason = "a chart shows one x column";
    Table table = readTable(in, readOptions);
    if (in.bad()) throw KQUToolError(fmt::format("{}: read error", path));
    const size_t readRows = table.rows;
    if (svgPath && !movingAverage) dropIncompleteRows(table);
    if (table.rows == 0)
        throw KQUToolError(fmt::format("{}: no data points", path == "-" ? "standard input" : path));

    std::optional<KQUTrendChart> chart;
    if (svgPath) {
        chart.emplace();
        chart->title =
            arguments.value("--title").value_or(path == "-" ? "standard input" : KQULastPathComponent(path));
        if (table.header.size() == 2) {
            chart->xTitle = table.header[0];
            chart->yTitle = table.header[1];
        }
        chart->width = size.first;
        chart->height = size.second;
        for (size_t i = 0; i < table.rows; ++i)
            if (table.columns[0][i] && table.columns[1][i])
                chart->points.emplace_back(*table.columns[0][i], *table.columns[1][i]);
        chart->omittedPoints = readRows - chart->points.size();
    }

    std::string out;  // the JSON object or the text lines
    int errorType = 0;
    std::string message;
    if (movingAverage) {
        std::vector<std::optional<double>> xs = table.columns.empty() ? decltype(xs){} : table.columns[0];
        std::vector<std::optional<double>> ys = table.columns.empty() ? decltype(ys){} : table.columns[1];
        QuietLog quiet;
        KQUMovingAverageRegressionModel model(xs, ys, choice.parameter);
        errorType = model.errorType();
        std::vector<std::pair<double, double>> points;
        for (int i = 0; i < model.numTrendPoint(); ++i)
            points.emplace_back(model.trendXValueAtIndex(i), model.trendYValueAtIndex(i));
        if (json) {
            out = fmt::format(
                "{{\"model\": {}, \"coefficients\": null, \"standardErrors\": null, "
                "\"rSquared\": null, \"standardError\": null, \"fStatistic\": null, "
                "\"degreesOfFreedom\": null, \"equation\": null, \"points\": [",
                jsonString(*modelText));
            for (size_t i = 0; i < points.size(); ++i)
                out += fmt::format("{}[{}, {}]", i ? ", " : "", jsonNumber(points[i].first),
                                   jsonNumber(points[i].second));
            out += "]";
        } else {
            for (auto [x, y] : points) out += fmt::format("{} {}\n", number(x), number(y));
        }
        // Stored from the last position backwards; the chart joins them left to right.
        if (chart) chart->trendPoints.assign(points.rbegin(), points.rend());
        if (errorType) message = errorMessage(errorType, choice.kind, table.rows, 0, choice.parameter);
    } else {
        const size_t m = table.rows;
        const int k = static_cast<int>(table.columns.empty() ? 0 : table.columns.size() - 1);
        std::vector<double> xs, ys;
        xs.reserve(m * static_cast<size_t>(k));
        for (int j = 0; j < k; ++j)
            for (const auto& v : table.columns[static_cast<size_t>(j)]) xs.push_back(*v);
        if (!table.columns.empty())
            for (const auto& v : table.columns.back()) ys.push_back(*v);
        QuietLog quiet;
        // Shared: the chart's curve evaluates the model after this block.
        std::shared_ptr<KQUFittedRegressionModel> model = fitModel(choice, xs, ys, k, affine, constant);
        errorType = model->errorType();
        const auto* linear = dynamic_cast<const KQULinearRegressionModel*>(model.get());
        const int64_t n = (choice.kind == Kind::Polynomial ? choice.parameter : k) + (affine ? 1 : 0);
        std::string equation = errorType ? "" : utf8(model->simpleEquationString());
        if (chart && !errorType) {
            chart->curve = [model](double x) { return model->estimateForX(std::span(&x, 1)); };
            chart->equation = model->equationString();
            chart->rSquared = model->rSquared();
        }
        if (json) {
            out = fmt::format(
                "{{\"model\": {}, \"coefficients\": {}, \"standardErrors\": {}, \"rSquared\": {}, "
                "\"standardError\": {}, \"fStatistic\": {}, \"degreesOfFreedom\": {}, "
                "\"equation\": {}",
                jsonString(*modelText), model->numCoefficients() ? jsonArray(model->coefficients()) : "null",
                linear && !linear->coefficientStandardErrors().empty()
                    ? jsonArray(linear->coefficientStandardErrors())
                    : "null",
                model->numCoefficients() ? jsonNumber(model->rSquared()) : "null",
                linear && linear->numCoefficients() ? jsonNumber(linear->standardError()) : "null",
                linear && linear->numCoefficients() ? jsonNumber(linear->fStatistic()) : "null",
                linear && linear->numCoefficients() ? jsonNumber(linear->degreesFreedom()) : "null",
                errorType ? "null" : jsonString(equation));
        } else if (!errorType) {
            out = equation + "\n" + fmt::format("R2 {}\n", number(model->rSquared()));
            if (linear)
                out += fmt::format("SE {}\nF {}\nDF {}\n", number(linear->standardError()),
                                   number(linear->fStatistic()), number(linear->degreesFreedom()));
            for (int i = 0; i < model->numCoefficients(); ++i) {
                out += fmt::format("B{} {}", i, number(model->coefficientAtIndex(i)));
                if (linear) out += " " + number(linear->coefficientStandardErrorAtIndex(i));
                out += "\n";
            }
            if (!affine) out += fmt::format("C {}\n", number(model->intercept()));
        }
        if (errorType) message = errorMessage(errorType, choice.kind, m, n, 0);
    }
    if (json) {
        out += errorType ? fmt::format(", \"error\": {{\"type\": {}, \"message\": {}}}}}\n", errorType,
                                       jsonString(message))
                         : ", \"error\": null}\n";
    }
    if (!svgToStandardOutput) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (std::fflush(stdout) != 0) throw KQUToolError("cannot write the output");
    }
    if (errorType) throw KQUToolError(message);
    if (chart) KQUToolWriteWholeOutput(*svgOutput, KQUTrendChartSvg(*chart));
    return 0;
}

KQUToolRegistration trendCommand({
    .name = "trend",
    .operands = "[FILE|-]",
    .summary = "Fit a trend line to CSV data (x1[,x2...],y per line)",
    .options = {{"--model", "MODEL", "linear, poly:N, log, power, exp or ma:N (needed)"},
                {"--no-intercept", "", "fit through the origin"},
                {"--intercept", "C", "fit with the intercept fixed at C"},
                {"--locale", "L", "the locale whose number format the equation is printed in"},
                {"--json", "", "one JSON object for programs to read"},
                {"--svg", "OUT",
                 "also draw the points and the trend line as an SVG chart ('-': standard output)"},
                {"--title", "T", "the chart's title (default: the input file's name)"},
                {"--size", "WxH", "the chart's size (default 800x500)"},
                {"--force", "", "replace OUT when it is an existing file"}},
    .minOperands = 0,
    .maxOperands = 1,
    .example = "kqu trend --model poly:2 data.csv",
    .details = "Input lines are \"x1[,x2...],y\" with C-locale numbers (a header line is allowed first); "
               "without FILE, or with '-', standard input is read.\n\n"
               "With --svg the data must have one x column; rows with a missing value or a non-finite one "
               "(nan, inf) are left out of the fit and the chart, and a note under the chart counts them. "
               "Tick labels and the equation follow --locale.",
    .run = runTrend,
});

}  // namespace
}  // namespace kqu::tool
