// kqu json check / format, kqu url, kqu email: the layout against Python's
// json.dumps(indent=2, ensure_ascii=False), positions of errors, statuses.
#include <fmt/format.h>

#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

TEST(KquJson, CheckReportsLineColumnAndReason) {
    TempDir dir;
    struct Case {
        std::string text, message;
    } cases[] = {
        {" {\"a\": [1, {}]}\n\n", ""},
        {"[1 2]", "1:4: expected ',' or ']'"},
        {"[\n  \"\xc3\xa9\" x]", "2:7: expected ',' or ']'"},  // columns count characters
        {std::string(600, '[') + std::string(600, ']'), "1:513: nesting deeper than 512 levels"},
    };
    for (const auto& c : cases) {
        writeFile(dir.file("in.json"), c.text);
        auto run = runKqu("json check " + dir.file("in.json"));
        EXPECT_EQ(run.status, c.message.empty() ? 0 : 1) << c.text;
        EXPECT_EQ(run.output, c.message.empty() ? "" : "kqu: " + dir.file("in.json") + ":" + c.message + "\n");
    }
    auto run = runKqu("json check - <" + dir.file("in.json"));
    EXPECT_EQ(run.output, "kqu: -:1:513: nesting deeper than 512 levels\n");
}

TEST(KquJson, FormatLaysOutAsPythonIndentTwo) {
    TempDir dir;
    const std::string text = "{\"b\": [1, [], {}, {\"c\": null, \"d\": [true, false]}], \"a\": \"\xc3\xa9\\n\\u0001\","
                             " \"e\": -17, \"b\": \"later\"}";
    writeFile(dir.file("in.json"), text);
    std::string expected;
    ASSERT_EQ(runCommand(fmt::format("/usr/bin/python3 -c \"import json,sys; "
                                     "print(json.dumps(json.load(open(sys.argv[1], encoding='utf-8')), indent=2, "
                                     "ensure_ascii=False))\" '{}'",
                                     dir.file("in.json")),
                         &expected),
              0);
    auto run = runKqu("json format " + dir.file("in.json"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, expected);
    run = runKqu("json format --compact - <" + dir.file("in.json"));
    EXPECT_EQ(run.output, "{\"b\":\"later\",\"a\":\"\xc3\xa9\\n\\u0001\",\"e\":-17}\n");
}

TEST(KquAddresses, OneLinePerTextStatusOneWhenAnyFails) {
    auto run = runKqu("url 'www.example.com/a b' 'b\xc3\xbc" "cher.de' 'http://%FF/'");
    EXPECT_EQ(run.output, "http://www.example.com/a%20b\nhttp://xn--bcher-kva.de\n-\n");
    EXPECT_EQ(run.status, 1);
    run = runKqu("email 'Ed <ed@a.test>' 'Group:;' 'John (x@y.z) <john>'");
    EXPECT_EQ(run.output, "legal\ted@a.test\nillegal\tGroup:;\nillegal\tjohn\n");
    EXPECT_EQ(run.status, 1);
}

}  // namespace
}  // namespace kqu::test
