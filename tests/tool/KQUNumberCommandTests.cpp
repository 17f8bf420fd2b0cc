// kqu number parse / format: one line per operand, statuses, refusals (rendering is the format tests').
#include <gtest/gtest.h>

#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquNumberParse, OneLinePerTextAndStatusOneWhenAnyFails) {
    const std::string usage = "usage: kqu number parse [--locale L] [--currency C] TEXT...\n";
    expectRuns(
        "number parse",
        {{"--locale en_US 1,234.5 '$5' '15 %' 1E3 '-1 1/2'",
          "1234.5 decimal -\n5 currency USD\n0.15 percentage -\n1000 scientific -\n-1.5 fraction -\n", 0},
         {"--locale=de_DE 1.234,5 12abc \"$(printf '\\377')\" -- --locale",
          "1234.5 decimal -\nnot a number\nnot a number\nnot a number\n", 1},
         {"--locale en_US --currency chf 'CHF 5'", "5 currency CHF\n", 0},
         {"--locale qq_ZZ 5", "kqu: unknown locale 'qq_ZZ'\n", 1},
         {"--currency DOLLARS 5", "kqu: unknown currency code 'DOLLARS'\n", 1},
         {"--locale", "kqu: option --locale needs a value\n" + usage, 2},
         {"", "kqu: no TEXT given\n" + usage, 2}});
    // C locale environments read numbers as American English does.
    expectRuns("number parse", {{"1,234.5", "1234.5 decimal -\n", 0}}, Compare::Whole, "LC_ALL=C LANG=C");
}

TEST(KquNumberFormat, AnythingButNumbersIsRefusedBeforePrinting) {
    expectRuns(
        "number format",
        {{"--type decimal 5 abc 6", "kqu: not a number: abc\n", 1},
         {"--type decimal --places 40 1", "kqu: --places must be a whole number from 0 to 30, not '40'\n", 1},
         {"--type money 1",
          "kqu: --type must be one of decimal, currency, percentage, scientific, fraction, base, not "
          "'money'\n",
          2},
         {"5", "kqu: give either --format PATTERN or --type TYPE\n", 2},
         {"--type decimal --bogus 5", "kqu: unknown option --bogus\n", 2},
         {"--format 0.0 --places 2 5", "kqu: --places goes with --type, not --format\n", 2}},
        Compare::BeforeUsage);
}

// Mended fault: rendering reconfigured two shared formatters, so a result depended on the
// calls before it. Render A, B, A in one process and compare with fresh processes.
TEST(KquNumberFormat, ResultsDoNotDependOnEarlierCalls) {
    KQUScopedLocaleOverride locale("en_US");
    const std::pair<KQUNumberFormat::Ptr, std::string> steps[] = {
        {KQUNumberFormat::createCustom({.formatString = u"0.###"}), "--format 0.###"},
        {KQUNumberFormat::create({.valueType = 1, .decimalPlaces = 2, .currencyCode = "EUR"}),
         "--type currency --currency EUR"},
        {KQUNumberFormat::create({.valueType = 1, .decimalPlaces = 2}), "--type currency"},
        {KQUNumberFormat::createCustom({.formatString = u"0.0'x"}), "--format \"0.0'x\""},  // refused by ICU
        {KQUNumberFormat::create({.formatString = u"0.###", .decimalPlaces = 1}), ""},
    };
    std::vector<std::string> inProcess;
    for (int round = 0; round < 2; ++round)
        for (const auto& step : steps)
            inProcess.push_back(KQUUTF8FromUTF16(step.first->stringFromDouble(2.675)));
    // The fourth is the locale's decimal pattern.
    EXPECT_EQ(inProcess, std::vector<std::string>({"2.675", "€2.68", "$2.68", "2.675", "2.7", "2.675",
                                                   "€2.68", "$2.68", "2.675", "2.7"}));
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(runKqu("number format --locale en_US " + steps[i].second + " 2.675").output,
                  inProcess[i] + "\n")
            << steps[i].second;
}

}  // namespace
}  // namespace kqu::test
