// kqu duration format and kqu parse, run as a person would run them.
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace {

std::string kqu(const std::string& arguments, int* status) {
    std::string output;
    *status = kqu::test::runCommand(std::string(KQU_TOOL_PATH) + " " + arguments + " 2>&1", &output);
    return output;
}

TEST(KquDurationFormat, OneLinePerValue) {
    struct Case {
        std::string arguments, expected;
    };
    const Case cases[] = {
        {"--units h,m,s 3725 -90 59.6 nan", "1:02:05\n-0:01:30\n0:01:00\nNaN:NaN:NaN\n"},
        {"--units d,s --style short 93784", "1d 2h 3m 4s\n"},
        {"--units=m --style long --fill -1.5", "-0 minutes 2 seconds\n"},
        {"--pattern 'dddd hhhh' 90000", "1 day 1 hour\n"},
        {"--pattern h:ss 3599 3600", "0:3599\n1:00\n"},
        {"--pattern \"'took' m 'min'\" -- 150", "took 3 min\n"},
    };
    for (const auto& c : cases) {
        int status = -1;
        EXPECT_EQ(kqu("duration format " + c.arguments, &status), c.expected) << c.arguments;
        EXPECT_EQ(status, 0) << c.arguments;
    }
}

TEST(KquDurationFormat, BadArgumentsAreRefused) {
    struct Case {
        std::string arguments, firstLine;
        int status;
    };
    const Case cases[] = {
        {"5", "kqu: give either --pattern P or --units LIST", 2},
        {"--units h,x 5", "kqu: --units takes letters of w,d,h,m,s,f separated by commas, not 'h,x'", 2},
        {"--pattern h --fill 5", "kqu: --fill goes with --units, not --pattern", 2},
        {"--units h 5 five", "kqu: not a number of seconds: five", 1},
        {"--pattern \"'hours'\" 5", "kqu: the pattern shows no unit: use w, d, h, m, s or f outside quotes",
         1},
        {"--unit h 5", "kqu: unknown option --unit", 2},
    };
    for (const auto& c : cases) {
        int status = -1;
        const std::string output = kqu("duration format " + c.arguments, &status);
        EXPECT_EQ(output.substr(0, output.find('\n')), c.firstLine) << c.arguments;
        EXPECT_EQ(status, c.status) << c.arguments;
    }
}

TEST(KquParse, OneTabSeparatedLinePerTextAndStatusOneWhenAnyFails) {
    int status = -1;
    const std::string output =
        kqu("parse --locale en_US --now 2024-06-15T14:00:00+02:00 1,234.5 '2 hrs 5 min' -1:02.1234 xyz -3 "
            "3/14/24",
            &status);
    const std::string numbers =
        "number\t1234.5\tdecimal\t1234.5\n"
        "duration\t7500\thhh mmm\t0d 2h 5m\n"
        "duration\t-62.1234\tmm:ss.f\t-0d 0h 1m 2s 123ms\n"
        "none\tFailed to parse a number, date, or duration!\n"
        "number\t-3\tdecimal\t-3\n";
    ASSERT_EQ(output.substr(0, numbers.size()), numbers);
    // The date line: kind, instant, the pattern that matched (the locale's data), shown text.
    const std::string date = output.substr(numbers.size());
    EXPECT_EQ(date.substr(0, 26), "date\t2024-03-14T00:00:00Z\t");
    EXPECT_TRUE(date.ends_with("\t3/14/24\n")) << date;
    EXPECT_EQ(status, 1);

    EXPECT_EQ(kqu("parse --locale de_DE 1,5", &status), "number\t1.5\tdecimal\t1,5\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kqu("parse --now yesterday 5", &status),
              "kqu: --now takes an ISO 8601 instant with its zone (2024-06-15T12:00:00Z), not 'yesterday'\n");
    EXPECT_EQ(status, 1);
}

}  // namespace
