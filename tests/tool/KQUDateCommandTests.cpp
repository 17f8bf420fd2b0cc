// kqu date format as a user runs it, under a zone far from GMT: what it shows is GMT.
#include <gtest/gtest.h>

#include "tests/tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquDateFormat, ShowsInstantsInGMT) {
    const std::tuple<std::string, std::string, int> cases[] = {
        {"--rfc1123 2024-03-14T17:30:00+02:00 1994-11-06T08:49:37Z",
         "Thu, 14 Mar 2024 15:30:00 GMT\nSun, 06 Nov 1994 08:49:37 GMT\n", 0},
        {"--iso8601 2024-03-14T10:30:00.5-05:00", "2024-03-14T15:30:00+0000\n", 0},
        {"--locale en_US --pattern 'EEEE, MMMM d, y HH:mm' 2024-03-14T15:30Z",
         "Thursday, March 14, 2024 15:30\n", 0},
        {"--style none,none 2024-03-14T15:30:00Z", "\n", 0},
        {"--iso8601 now", "", 0},
        {"--rfc1123 2024-02-30T00:00:00Z",
         "kqu: '2024-02-30T00:00:00Z' is no instant: give ISO 8601 with a zone (2024-03-14T15:30:00Z, "
         "2024-03-14T17:30:00+02:00) or now\n",
         1},
        {"--rfc1123 2024-03-14T15:30:00", "", 1},  // no zone
        {"--locale qq_ZZ --iso8601 now", "kqu: unknown locale 'qq_ZZ'\n", 1},
        {"--iso8601 --rfc1123 now", "", 2},
        {"--style medium 2024-03-14T15:30:00Z", "", 2},
        {"--style huge,none 2024-03-14T15:30:00Z", "", 2},
    };
    for (const auto& [arguments, expected, status] : cases) {
        auto run = runKqu("date format " + arguments, "TZ=Pacific/Kiritimati");
        EXPECT_EQ(run.status, status) << arguments << "\n" << run.output;
        EXPECT_TRUE(expected.empty() || run.output == expected) << arguments << "\n" << run.output;
    }
}

}  // namespace
}  // namespace kqu::test
