// kqu trend as a user meets it: CSV files as spreadsheets write them, the options, the
// JSON object read back by Python's json module, and the refusals. (The fits themselves
// are the regression tests'.)
#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquTrend, EveryModelPrintsItsEquationAndStatistics) {
    TempDir dir;
    // line.csv as a spreadsheet exports it: byte-order mark, quoted header, CRLF line ends.
    writeFiles(dir, {{"line.csv",
                      "\xEF\xBB\xBF\"x\",\"y\"\r\n1,2.1\r\n2,3.9\r\n3,6.2\r\n4,7.8\r\n5,10.1\r\n6,12.2\r\n"},
                     {"plane.csv", "x1,x2,y\n1,2,13\n2,1,12\n3,5,26\n4,3,22\n"},
                     {"ma.csv", "day,sales\n1,10\n2,\n3,30\n4,40\n5,50\n"}});
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // each line must appear whole
        {"--model linear line.csv", {"y = 2.02x - 0.02", "DF 4"}},
        {"--model linear --intercept 5 plane.csv", {"y = 3x2 + 2x + 5", "C 5"}},
        {"--model ma:2 ma.csv", {"5 45", "4 35", "3 30", "2 10"}},
    };
    for (const auto& [options, lines] : cases) {
        const std::string output = "\n" + kquOk("trend " + options, "cd " + sq(dir.path()) + " &&");
        for (const auto& line : lines) EXPECT_THAT(output, HasSubstr("\n" + line + "\n")) << options;
    }
}

TEST(KquTrend, JsonObjectReadsBackInPython) {
    // Python reads the object; it prints the fields a caller would use.
    TempDir dir;
    const char* read = R"(import json, sys
d = json.load(sys.stdin)
e = d['error']
def g(v):
    if isinstance(v, list): return '[' + ' '.join(g(x) for x in v) + ']'
    return 'null' if v is None else '%.12g' % v
print(d['model'], d['equation'], e and e['type'], e and e['message'])
print(g(d['coefficients']), g(d['standardErrors']), g(d['standardError']), g(d['degreesOfFreedom']),
      g(d.get('points')))
)";
    const std::tuple<std::string, std::string, std::string, int> cases[] = {
        // Exact: coefficients (1, 2) for y = 2x + 1; two points leave df 0, so no standard error.
        {"linear", "1,3\n2,5\n", "linear y = 2x + 1 None None\n[1 2] [null null] null 0 null\n", 0},
        {"ma:2", "x,y\n1,10\n2,\n3,30\n", "ma:2 None None None\nnull null null null [[3 30] [2 10]]\n", 0},
        // An invalid model: exit 1, the object still written, with the error.
        {"poly:3", "1,1\n2,4\n3,9\n",
         "poly:3 None 3 4 coefficients need at least 4 points, found 3\nnull null null null null\n", 1},
    };
    for (const auto& [model, input, expected, status] : cases) {
        writeFile(dir.file("in.csv"), input);
        auto run = runKqu("trend --json --model " + model + " in.csv 2>/dev/null > out.json",
                          "cd " + sq(dir.path()) + " &&");
        EXPECT_EQ(run.status, status) << model;
        EXPECT_EQ(runPython(dir, read, "< " + sq(dir.file("out.json"))), expected)
            << readFile(dir.file("out.json"));
    }
}

TEST(KquTrend, BadInputIsNamedByLine) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"linear", "x,y\n1,2\nabc,3\n", "line 3: not a number: 'abc'"},
        {"linear", "1,2\n2,3\n3,4\n4,5\n5,6\n6,7\n7,\n", "line 7: missing value"},
        {"linear", "1,2,3\n2,3\n", "line 2: expected 3 fields, found 2"},
        {"poly:2", "1,2,3\n", "line 1: this model takes one x column: expected 2 fields, found 3"},
        {"ma:2 --intercept 3", "1,2\n",
         "a moving average has no constant: --no-intercept and --intercept do not apply"},
        {"ma:5", "1,2\n2,3\n3,4\n",
         "the moving-average period must be from 2 to the number of points - 1 (2), was 5"},
        {"cubic", "1,2\n", "unknown model 'cubic'; use linear, poly:N, log, power, exp or ma:N"},
        {"linear --intercept x", "1,2\n", "--intercept: not a number: 'x'"},
        {"linear", "1,2\n2,1e400\n", "line 2: not a number: '1e400'"},
        {"linear", "x,y\n\n", "standard input: no data points"},
        {"poly:0 --no-intercept", "1,2\n2,3\n",
         "nothing to fit: the constant is fixed and no x term is left"},
    };
    for (const auto& [options, input, message] : cases)  // the input on standard input
        expectRuns("trend --model", {{options + " -", "kqu: " + message + "\n", 1}}, Compare::Whole,
                   "printf '%s' '" + input + "' |");
}

}  // namespace
}  // namespace kqu::test
