#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

std::string kqu(const std::string& arguments, int* status) {
    std::string output;
    *status = test::runCommand(std::string(KQU_TOOL_PATH) + " " + arguments + " 2>&1", &output);
    return output;
}

TEST(KquNumberParse, OneLinePerTextAndStatusOneWhenAnyFails) {
    int status;
    EXPECT_EQ(kqu("number parse --locale en_US 1,234.5 '$5' -5 '15 %' 1E3 '-1 1/2' '(1,234)'", &status),
              "1234.5 decimal -\n5 currency USD\n-5 decimal -\n0.15 percentage -\n1000 scientific -\n"
              "-1.5 fraction -\n-1234 decimal -\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kqu("number parse --locale=de_DE 1.234,5 12abc -- --locale", &status),
              "1234.5 decimal -\nnot a number\nnot a number\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(kqu("number parse --locale en_US --currency chf 'CHF 5' \"$(printf '\\377')\"", &status),
              "5 currency CHF\nnot a number\n");
    EXPECT_EQ(status, 1);
    // C locale environments read numbers as American English does.
    std::string output;
    EXPECT_EQ(test::runCommand("LC_ALL=C LANG=C " + std::string(KQU_TOOL_PATH) + " number parse 1,234.5", &output), 0);
    EXPECT_EQ(output, "1234.5 decimal -\n");
}

TEST(KquNumberParse, BadOptionsAreRefused) {
    int status;
    EXPECT_EQ(kqu("number parse --locale qq_ZZ 5", &status), "kqu: unknown locale 'qq_ZZ'\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(kqu("number parse --currency DOLLARS 5", &status), "kqu: unknown currency code 'DOLLARS'\n");
    const std::string usage = "usage: kqu number parse [--locale L] [--currency C] TEXT...\n";
    EXPECT_EQ(kqu("number parse --locale", &status), "kqu: option --locale needs a value\n" + usage);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(kqu("number parse", &status), "kqu: no TEXT given\n" + usage);
    EXPECT_EQ(status, 2);
}

}  // namespace
