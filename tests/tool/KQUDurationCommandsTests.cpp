// kqu duration format and kqu parse, run as a person would run them. (How each pattern
// renders is the duration formatter's tests'; here each option once.)
#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquDurationFormat, OneLinePerValue) {
    expectRuns("duration format",
               {{"--units h,m,s 3725 -90 59.6 nan", "1:02:05\n-0:01:30\n0:01:00\nNaN:NaN:NaN\n", 0},
                {"--units d,s --style short 93784", "1d 2h 3m 4s\n", 0},
                {"--units=m --style long --fill -1.5", "-0 minutes 2 seconds\n", 0},
                {"--pattern \"'took' m 'min'\" -- 150", "took 3 min\n", 0}});
    expectRuns(
        "duration format",
        {{"5", "kqu: give either --pattern P or --units LIST", 2},
         {"--units h,x 5", "kqu: --units takes letters of w,d,h,m,s,f separated by commas, not 'h,x'", 2},
         {"--pattern h --fill 5", "kqu: --fill goes with --units, not --pattern", 2},
         {"--units h 5 five", "kqu: not a number of seconds: five", 1},
         {"--pattern \"'hours'\" 5", "kqu: the pattern shows no unit: use w, d, h, m, s or f outside quotes",
          1},
         {"--unit h 5", "kqu: unknown option --unit", 2}},
        Compare::FirstLine);
}

TEST(KquParse, OneTabSeparatedLinePerTextAndStatusOneWhenAnyFails) {
    auto run =
        runKqu("parse --locale en_US --now 2024-06-15T14:00:00+02:00 1,234.5 '2 hrs 5 min' xyz 3/14/24");
    EXPECT_EQ(run.status, 1);
    // The date line: kind, instant, the pattern that matched (the locale's data), shown text.
    EXPECT_THAT(
        run.output,
        StartsWith("number\t1234.5\tdecimal\t1234.5\nduration\t7500\thhh mmm\t0d 2h 5m\n"
                   "none\tFailed to parse a number, date, or duration!\ndate\t2024-03-14T00:00:00Z\t"));
    EXPECT_THAT(run.output, EndsWith("\t3/14/24\n"));
    expectRuns(
        "parse",
        {{"--now yesterday 5",
          "kqu: --now takes an ISO 8601 instant with its zone (2024-06-15T12:00:00Z), not 'yesterday'\n",
          1}});
}

}  // namespace
}  // namespace kqu::test
