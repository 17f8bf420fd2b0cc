// kqu json check / format, kqu url, kqu email: the layout against Python's
// json.dumps(indent=2, ensure_ascii=False), positions of errors, statuses.
#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquJson, CheckReportsLineColumnAndReason) {
    TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {" {\"a\": [1, {}]}\n\n", ""},
        {std::string(600, '[') + std::string(600, ']'), "1:513: nesting deeper than 512 levels"},
    };
    for (const auto& [text, message] : cases) {
        writeFile(dir.file("in.json"), text);
        auto run = runKqu("json check " + dir.file("in.json"));
        EXPECT_EQ(run.status, message.empty() ? 0 : 1) << text;
        EXPECT_EQ(run.output, message.empty() ? "" : "kqu: " + dir.file("in.json") + ":" + message + "\n");
    }
    EXPECT_EQ(runKqu("json check - <" + dir.file("in.json")).output,
              "kqu: -:1:513: nesting deeper than 512 levels\n");
}

TEST(KquJson, FormatLaysOutAsPythonIndentTwo) {
    TempDir dir;
    writeFile(dir.file("in.json"),
              "{\"b\": [1, [], {}, {\"c\": null, \"d\": [true, false]}], \"a\": \"\xc3\xa9\\n\\u0001\","
              " \"e\": -17, \"b\": \"later\"}");
    const std::string expected = runPython(dir,
                                           "import json, sys\nprint(json.dumps(json.load(open(sys.argv[1], "
                                           "encoding='utf-8')), indent=2, ensure_ascii=False))\n",
                                           sq(dir.file("in.json")));
    expectRuns("json", {{"format " + dir.file("in.json"), expected, 0},
                        {"format --compact - <" + dir.file("in.json"),
                         "{\"b\":\"later\",\"a\":\"\xc3\xa9\\n\\u0001\",\"e\":-17}\n", 0}});
}

TEST(KquAddresses, OneLinePerTextStatusOneWhenAnyFails) {
    expectRuns("", {{"url 'www.example.com/a b' 'b\u00fccher.de' 'http://%FF/'",
                     "http://www.example.com/a%20b\nhttp://xn--bcher-kva.de\n-\n", 1},
                    {"email 'Ed <ed@a.test>' 'Group:;' 'John (x@y.z) <john>'",
                     "legal\ted@a.test\nillegal\tGroup:;\nillegal\tjohn\n", 1}});
}

}  // namespace
}  // namespace kqu::test
