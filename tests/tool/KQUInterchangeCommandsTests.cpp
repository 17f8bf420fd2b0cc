// kqu strings, plist and path as a user tries them: Python reads what plist prints, and
// exit statuses say inside/outside and found/not found.
#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquStrings, WriteThenReadEscapedAndSorted) {
    TempDir dir;
    writeFile(dir.file("in.txt"), "b\nSay \"hi\"\r\nA\\B\n\nc\t*/\n");
    expectRuns("strings",
               {{"write --comment 'x */ y' t.strings in.txt", "wrote 4 entries to t.strings\n", 0},
                {"read t.strings",
                 "\"A\\\\B\" = \"A\\\\B\";\n\"Say \\\"hi\\\"\" = \"Say \\\"hi\\\"\";\n\"b\" = "
                 "\"b\";\n\"c\\t*/\" = \"c\\t*/\";\n",
                 0},
                {"write u.strings - < /dev/null && printf '\\377\\n' | " + sq(KQU_TOOL_PATH) +
                     " strings write u.strings",
                 "wrote 0 entries to u.strings\nkqu: line 1 is not UTF-8\n", 1}},
               Compare::Whole, "cd " + sq(dir.path()) + " &&");
}

TEST(KquPlist, PrintsXMLThatPythonReadsAndLocalizes) {
    TempDir dir;
    const std::string cd = "cd " + sq(dir.path()) + " && ";
    std::string out;
    ASSERT_EQ(
        runCommand(
            cd +
            "python3 -c \"import plistlib; open('in.plist', 'wb').write(plistlib.dumps({'_LOCALIZABLE_': "
            "{'a': 1}, 'more': {'b': [True, 2.5]}}, fmt=plistlib.FMT_BINARY))\""),
        0);
    kquOk("plist --localize in.plist > out.plist", cd);
    runCommand(cd + "python3 -c \"import plistlib; print(plistlib.load(open('out.plist', 'rb')))\"", &out);
    EXPECT_EQ(out, "{'a': 1, 'b': [True, 2.5]}\n") << readFile(dir.file("out.plist"));
    auto run = runKqu("plist - < /dev/null");
    EXPECT_THAT(run.output, StartsWith("kqu: standard input: "));
    EXPECT_EQ(run.status, 1);
}

TEST(KquPath, RelativeInsideAndFind) {
    TempDir dir;
    writeFile(dir.file("z"), "");
    expectRuns("path",
               {{"relative --backtrack /a/x /a/b/c", "../../x", 0},
                {"relative /a/x /a/b/c", "kqu: /a/x has no relative path from /a/b/c", 1},
                {"inside /a/b ../x /a/b", "outside", 1},
                {"inside /a/b c/./d /a", "inside", 0},
                {"find " + dir.path() + " x/y/z", dir.file("z"), 0},
                {"inside a b", "kqu: path inside: expected PATH COMPONENT BASE, got 2 operands", 2}},
               Compare::FirstLine);
}

}  // namespace
}  // namespace kqu::test
