#include <gtest/gtest.h>

#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/format/KQUNumberFormat.h"
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
    EXPECT_EQ(kqu("number parse --locale en_US 1,234.5 '$5' '15 %' 1E3 '-1 1/2'", &status),
              "1234.5 decimal -\n5 currency USD\n0.15 percentage -\n1000 scientific -\n-1.5 fraction -\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kqu("number parse --locale=de_DE 1.234,5 12abc \"$(printf '\\377')\" -- --locale", &status),
              "1234.5 decimal -\nnot a number\nnot a number\nnot a number\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(kqu("number parse --locale en_US --currency chf 'CHF 5'", &status), "5 currency CHF\n");
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

namespace {

TEST(KquNumberFormat, OneLinePerValueAsTheFormatRendersIt) {
    struct Case {
        std::string arguments;
        std::string expected;
    };
    const Case cases[] = {
        {"--type currency 1234.565 -5 nan inf -1e-8", "$1,234.57\n-$5.00\nNaN\n∞\n-$0.00\n"},
        {"--type currency --accounting -5", "$\t(5.00)\n"},
        {"--type decimal --places auto --no-grouping 1234.125 0x10", "1234.125\n16\n"},
        {"--format '#,##0.0#' 1234.5 -0.125", "1,234.5\n-0.13\n"},
        {"--type base --radix 16 --twos-complement -255 --base-places 4 255", "FFFFFF01\n00FF\n"},
        {"--type currency --locale de_DE 1234.5 -- -2", "1.234,50\u00a0€\n-2,00\u00a0€\n"},
    };
    for (const auto& c : cases) {
        int status;
        EXPECT_EQ(kqu("number format --locale en_US " + c.arguments, &status), c.expected) << c.arguments;
        EXPECT_EQ(status, 0) << c.arguments;
    }
}

TEST(KquNumberFormat, AnythingButNumbersIsRefusedBeforePrinting) {
    struct Case {
        std::string arguments;
        std::string expected;
        int status;
    };
    const Case cases[] = {
        {"--type decimal 5 abc 6", "kqu: not a number: abc\n", 1},
        {"--type decimal --places 40 1", "kqu: --places must be a whole number from 0 to 30, not '40'\n", 1},
        {"--type money 1", "kqu: --type must be one of decimal, currency, percentage, scientific, fraction, base, "
                           "not 'money'\n",
         2},
        {"5", "kqu: give either --format PATTERN or --type TYPE\n", 2},
        {"--type decimal --bogus 5", "kqu: unknown option --bogus\n", 2},
        {"--format 0.0 --places 2 5", "kqu: --places goes with --type, not --format\n", 2},
    };
    for (const auto& c : cases) {
        int status;
        std::string output = kqu("number format " + c.arguments, &status);
        size_t usage = output.find("\nusage:");  // usage errors go on with the usage line
        EXPECT_EQ(usage == std::string::npos ? output : output.substr(0, usage + 1), c.expected) << c.arguments;
        EXPECT_EQ(status, c.status) << c.arguments;
    }
}

// Mended fault: rendering reconfigured two shared formatters, so a result depended on the
// calls before it. Render A, B, A in one process and compare with fresh processes.
TEST(KquNumberFormat, ResultsDoNotDependOnEarlierCalls) {
    KQUScopedLocaleOverride locale("en_US");
    struct Step {
        KQUNumberFormat::Ptr format;
        std::string arguments;
    };
    const Step steps[] = {
        {KQUNumberFormat::createCustom({.formatString = u"0.###"}), "--format 0.###"},
        {KQUNumberFormat::create({.valueType = 1, .decimalPlaces = 2, .currencyCode = "EUR"}),
         "--type currency --currency EUR"},
        {KQUNumberFormat::create({.valueType = 1, .decimalPlaces = 2}), "--type currency"},
        {KQUNumberFormat::createCustom({.formatString = u"0.0'x"}), "--format \"0.0'x\""},  // refused by ICU
        {KQUNumberFormat::create({.formatString = u"0.###", .decimalPlaces = 1}), ""},
    };
    std::vector<std::string> inProcess;
    for (int round = 0; round < 2; ++round)
        for (const auto& step : steps) inProcess.push_back(KQUUTF8FromUTF16(step.format->stringFromDouble(2.675)));
    EXPECT_EQ(inProcess[0], "2.675");
    EXPECT_EQ(inProcess[1], "€2.68");
    EXPECT_EQ(inProcess[2], "$2.68");
    EXPECT_EQ(inProcess[3], "2.675");  // the locale's decimal pattern
    EXPECT_EQ(inProcess[4], "2.7");
    for (size_t i = 0; i < 4; ++i) {
        int status;
        EXPECT_EQ(kqu("number format --locale en_US " + steps[i].arguments + " 2.675", &status), inProcess[i] + "\n")
            << steps[i].arguments;
        EXPECT_EQ(inProcess[i + 5], inProcess[i]);
    }
}

}  // namespace
