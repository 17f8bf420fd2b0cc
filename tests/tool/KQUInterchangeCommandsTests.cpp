// kqu strings, plist and path as a user tries them: Python reads what plist prints, and
// exit statuses say inside/outside and found/not found.
#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

TEST(KquStrings, WriteThenReadEscapedAndSorted) {
    TempDir dir;
    writeFile(dir.file("in.txt"), "b\nSay \"hi\"\r\nA\\B\n\nc\t*/\n");
    const std::string t = sq(dir.file("t.strings")), u = sq(dir.file("u.strings"));
    // (The file's bytes against Python's encoder are KQUStringFile's.)
    expectRuns(
        "strings",
        {{"write --comment 'x */ y' " + t + " " + sq(dir.file("in.txt")),
          "wrote 4 entries to " + dir.file("t.strings") + "\n", 0},
         {"read " + t,
          "\"A\\\\B\" = \"A\\\\B\";\n\"Say \\\"hi\\\"\" = \"Say \\\"hi\\\"\";\n\"b\" = \"b\";\n\"c\\t*/\" = "
          "\"c\\t*/\";\n",
          0},
         {"write " + u + " - < /dev/null && printf '\\377\\n' | " + sq(KQU_TOOL_PATH) + " strings write " + u,
          "wrote 0 entries to " + dir.file("u.strings") + "\nkqu: line 1 is not UTF-8\n", 1}});
}

TEST(KquPlist, PrintsXMLThatPythonReadsAndLocalizes) {
    TempDir dir;
    ASSERT_EQ(
        runCommand("/usr/bin/python3 -c \"import plistlib, sys; sys.stdout.buffer.write(plistlib.dumps("
                   "{'_LOCALIZABLE_': {'a': 1}, 'more': {'b': [True, 2.5]}}, fmt=plistlib.FMT_BINARY))\" > " +
                   sq(dir.file("in.plist"))),
        0);
    auto run = runKqu("plist --localize " + sq(dir.file("in.plist")) + " > " + sq(dir.file("out.plist")));
    EXPECT_EQ(run.status, 0) << run.output;
    std::string out;
    EXPECT_EQ(
        runCommand("/usr/bin/python3 -c \"import plistlib, sys; v = plistlib.load(open(sys.argv[1], 'rb')); "
                   "sys.exit(v != {'a': 1, 'b': [True, 2.5]})\" " +
                       sq(dir.file("out.plist")),
                   &out),
        0)
        << readFile(dir.file("out.plist"));
    run = runKqu("plist - < /dev/null");
    EXPECT_TRUE(run.output.starts_with("kqu: standard input: ")) << run.output;
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
