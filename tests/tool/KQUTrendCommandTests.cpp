// kqu trend as a user meets it: CSV files as spreadsheets write them, every model, the
// JSON object read back by Python's json module, and the refusals.
#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace {

using kqu::test::TempDir;

std::string kqu(const std::string& arguments, int* status, bool withStderr = true) {
    std::string output;
    *status = kqu::test::runCommand(
        std::string(KQU_TOOL_PATH) + " " + arguments + (withStderr ? " 2>&1" : " 2>/dev/null"), &output);
    return output;
}

TEST(KquTrend, EveryModelPrintsItsEquationAndStatistics) {
    // The fits themselves are the regression tests'; here the CSV reading, the options and
    // the printed layout.
    TempDir dir;
    // A spreadsheet's export: byte-order mark, quoted header, CRLF line ends.
    kqu::test::writeFile(
        dir.file("line.csv"),
        "\xEF\xBB\xBF\"x\",\"y\"\r\n1,2.1\r\n2,3.9\r\n3,6.2\r\n4,7.8\r\n5,10.1\r\n6,12.2\r\n");
    kqu::test::writeFile(dir.file("power.csv"), "x,y\n1,2\n2,8\n3,18\n");
    kqu::test::writeFile(dir.file("plane.csv"), "x1,x2,y\n1,2,13\n2,1,12\n3,5,26\n4,3,22\n");
    kqu::test::writeFile(dir.file("ma.csv"), "day,sales\n1,10\n2,\n3,30\n4,40\n5,50\n");
    struct Case {
        std::string options, file;
        std::vector<std::string> lines;  // each must appear as a whole line
    } cases[] = {
        {"--model linear", "line.csv", {"y = 2.02x - 0.02", "DF 4"}},
        {"--model linear --intercept 5", "plane.csv", {"y = 3x2 + 2x + 5", "C 5"}},
        {"--model poly:2", "power.csv", {"y = 2x^2"}},
        {"--model log --locale de_DE", "line.csv", {"y = 5,4926ln(x) + 1,0272"}},
        {"--model ma:2", "ma.csv", {"5 45", "4 35", "3 30", "2 10"}},
    };
    for (const auto& c : cases) {
        int status;
        std::string out = kqu("trend " + c.options + " " + dir.file(c.file), &status);
        EXPECT_EQ(status, 0) << c.options << "\n" << out;
        for (const auto& line : c.lines)
            EXPECT_NE(("\n" + out).find("\n" + line + "\n"), std::string::npos) << c.options << "\n" << out;
    }
}

// Python reads the object; it prints the fields a caller would use, one per line.
std::string readJson(const std::string& arguments, const std::string& input, int* status) {
    TempDir dir;
    kqu::test::writeFile(dir.file("in.csv"), input);
    kqu::test::writeFile(dir.file("read.py"),
                         "import json, sys\n"
                         "d = json.load(sys.stdin)\n"
                         "e = d['error']\n"
                         "def g(v):\n"
                         "    if isinstance(v, list): return '[' + ' '.join(g(x) for x in v) + ']'\n"
                         "    return 'null' if v is None else '%.12g' % v\n"
                         "print(d['model'], d['equation'], e and e['type'], e and e['message'])\n"
                         "print(g(d['coefficients']), g(d['standardErrors']), g(d['standardError']),\n"
                         "      g(d['degreesOfFreedom']), g(d.get('points')))\n");
    std::string out;
    int kquStatus = kqu::test::runCommand(std::string(KQU_TOOL_PATH) + " trend --json " + arguments + " " +
                                              dir.file("in.csv") + " 2>/dev/null > " + dir.file("out.json"),
                                          nullptr);
    *status = kquStatus;
    EXPECT_EQ(
        kqu::test::runCommand("/usr/bin/python3 " + dir.file("read.py") + " < " + dir.file("out.json"), &out),
        0)
        << kqu::test::readFile(dir.file("out.json"));
    return out;
}

TEST(KquTrend, JsonObjectReadsBackInPython) {
    int status;
    // Exact: coefficients (1, 2) for y = 2x + 1; two points leave df 0, so no standard error.
    EXPECT_EQ(readJson("--model linear", "1,3\n2,5\n", &status),
              "linear y = 2x + 1 None None\n[1 2] [null null] null 0 null\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readJson("--model ma:2", "x,y\n1,10\n2,\n3,30\n", &status),
              "ma:2 None None None\nnull null null null [[3 30] [2 10]]\n");
    // An invalid model: exit 1, the object still written, with the error.
    EXPECT_EQ(readJson("--model poly:3", "1,1\n2,4\n3,9\n", &status),
              "poly:3 None 3 4 coefficients need at least 4 points, found 3\nnull null null null null\n");
    EXPECT_EQ(status, 1);
}

TEST(KquTrend, BadInputIsNamedByLine) {
    TempDir dir;
    struct Case {
        std::string arguments, input, message;
    } cases[] = {
        {"--model linear", "x,y\n1,2\nabc,3\n", "kqu: line 3: not a number: 'abc'\n"},
        {"--model linear", "1,2\n2,3\n3,4\n4,5\n5,6\n6,7\n7,\n", "kqu: line 7: missing value\n"},
        {"--model linear", "1,2,3\n2,3\n", "kqu: line 2: expected 3 fields, found 2\n"},
        {"--model poly:2", "1,2,3\n",
         "kqu: line 1: this model takes one x column: expected 2 fields, found 3\n"},
        {"--model ma:2 --intercept 3", "1,2\n",
         "kqu: a moving average has no constant: --no-intercept and "
         "--intercept do not apply\n"},
        {"--model ma:5", "1,2\n2,3\n3,4\n",
         "kqu: the moving-average period must be from 2 to the number of points - 1 (2), was 5\n"},
        {"--model cubic", "1,2\n",
         "kqu: unknown model 'cubic'; use linear, poly:N, log, power, exp or ma:N\n"},
        {"--model linear --intercept x", "1,2\n", "kqu: --intercept: not a number: 'x'\n"},
        {"--model linear", "1,2\n2,1e400\n", "kqu: line 2: not a number: '1e400'\n"},
        {"--model linear", "x,y\n\n", "kqu: standard input: no data points\n"},
        {"--model poly:0 --no-intercept", "1,2\n2,3\n",
         "kqu: nothing to fit: the constant is fixed and no x term is left\n"},
    };
    for (const auto& c : cases) {
        kqu::test::writeFile(dir.file("in.csv"), c.input);
        int status;
        std::string out = kqu("trend " + c.arguments + " - < " + dir.file("in.csv"), &status);
        EXPECT_EQ(out, c.message) << c.arguments;
        EXPECT_EQ(status, 1) << c.arguments;
    }
}

}  // namespace
