// kqu csv: cells as tab-separated lines or JSON arrays, from standard input or a file.
#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquCsv, DelimitersQuotesAndStandardInput) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        // printf format, options, output
        // A spreadsheet's export: byte-order mark, quoted delimiters, doubled quotes, a CRLF
        // inside quotes, an empty cell, non-ASCII text and a backslash.
        {"\\357\\273\\277name,note,\\r\\n\"Zo\\303\\253, A.\",\"said "
         "\"\"hi\"\"\\r\\nthen\\tleft\",C:\\\\x\\r\\n",
         "", "name\tnote\t\nZo\u00eb, A.\tsaid \"hi\"\\nthen\\tleft\tC:\\\\x\n"},
        {"a,\"b\\r\\nc\",\\\\,", "--json", "[\"a\",\"b\\nc\",\"\\\\\",null]\n"},
        {"a;\"b;c\"\\n1;2\\n", "--delimiter ';'", "a\tb;c\n1\t2\n"},
        {"a\\tb\\n", "--delimiter tab --json", "[\"a\",\"b\"]\n"},
        {"\"a,b\",c", "--no-quotes", "\"a\tb\"\tc\n"},
        {"x\\302\\247y\\302\\247z", "--delimiter \u00a7 --count", "1 3\n"},
        {"a,b\\r\\n\\r\\nc\\n", "--count", "3 2\n"},
    };
    for (const auto& [input, options, expected] : cases)
        expectRuns("csv", {{std::string(options) + " -", expected, 0}}, Compare::Whole,
                   fmt::format("printf '{}' |", input));
    TempDir dir;
    writeFile(dir.file("latin1.csv"), "caf\xe9,1\n");
    expectRuns(
        "csv",
        {{sq(dir.file("latin1.csv")), "kqu: " + dir.file("latin1.csv") + ": not UTF-8 text\n", 1},
         {sq(dir.file("missing.csv")), "kqu: " + dir.file("missing.csv") + ": no such file\n", 1},
         {"--delimiter '\"' -", "kqu: --delimiter: a double quote cannot separate cells\n", 1},
         {"--delimiter ab -",
          "kqu: --delimiter: expected one character of the Basic Multilingual Plane or \"tab\", not 'ab'\n",
          1}},
        Compare::Whole, "true |");
    expectRuns("csv", {{"--json --count -", "kqu: --json and --count cannot be combined\n", 2}},
               Compare::BeforeUsage, "true |");
}

}  // namespace
}  // namespace kqu::test
