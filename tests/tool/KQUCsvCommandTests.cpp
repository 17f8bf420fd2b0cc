#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

using namespace kqu::test;

namespace {

TEST(KquCsv, DelimitersQuotesAndStandardInput) {
    struct Case {
        const char* input;  // printf format
        const char* options;
        const char* expected;
    } cases[] = {
        // A spreadsheet's export: byte-order mark, quoted delimiters, doubled quotes, a CRLF
        // inside quotes, an empty cell, non-ASCII text and a backslash.
        {"\\357\\273\\277name,note,\\r\\n\"Zo\\303\\253, A.\",\"said \"\"hi\"\"\\r\\nthen\\tleft\",C:\\\\x\\r\\n", "",
         "name\tnote\t\nZo\u00eb, A.\tsaid \"hi\"\\nthen\\tleft\tC:\\\\x\n"},
        {"a,\"b\\r\\nc\",\\\\,", "--json", "[\"a\",\"b\\nc\",\"\\\\\",null]\n"},
        {"a;\"b;c\"\\n1;2\\n", "--delimiter ';'", "a\tb;c\n1\t2\n"},
        {"a\\tb\\n", "--delimiter tab --json", "[\"a\",\"b\"]\n"},
        {"\"a,b\",c", "--no-quotes", "\"a\tb\"\tc\n"},
        {"x\\302\\247y\\302\\247z", "--delimiter \u00a7 --count", "1 3\n"},
        {"a,b\\r\\n\\r\\nc\\n", "--count", "3 2\n"},
    };
    for (const auto& c : cases) {
        ToolRun run = runTool(std::string("csv ") + c.options + " -", fmt::format("printf '{}' |", c.input));
        EXPECT_EQ(run.status, 0) << c.input;
        EXPECT_EQ(run.output, c.expected) << c.input << " " << c.options;
    }
}

TEST(KquCsv, BadInputAndOptions) {
    TempDir dir;
    writeFile(dir.file("latin1.csv"), "caf\xe9,1\n");
    struct Case {
        std::string arguments;
        int status;
        std::string expected;
    } cases[] = {
        {"csv " + sq(dir.file("latin1.csv")), 1, "kqu: " + dir.file("latin1.csv") + ": not UTF-8 text\n"},
        {"csv " + sq(dir.file("missing.csv")), 1, "kqu: " + dir.file("missing.csv") + ": no such file\n"},
        {"csv --delimiter '\"' -", 1, "kqu: --delimiter: a double quote cannot separate cells\n"},
        {"csv --delimiter ab -", 1,
         "kqu: --delimiter: expected one character of the Basic Multilingual Plane or "
         "\"tab\", not 'ab'\n"},
    };
    for (const auto& c : cases) {
        ToolRun run = runTool(c.arguments, "true |");
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.output, c.expected) << c.arguments;
    }
    ToolRun run = runTool("csv --json --count -", "true |");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("--json and --count cannot be combined"), std::string::npos);
}

}  // namespace
