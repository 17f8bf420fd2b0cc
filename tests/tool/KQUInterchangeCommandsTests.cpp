// kqu strings, plist and path as a user tries them: Python reads what plist prints, and
// exit statuses say inside/outside and found/not found.
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

std::string kqu(const std::string& arguments, int* status) {
    std::string output;
    *status = test::runCommand(std::string(KQU_TOOL_PATH) + " " + arguments + " 2>&1", &output);
    return output;
}

TEST(KquStrings, WriteThenReadEscapedAndSorted) {
    test::TempDir dir;
    test::writeFile(dir.file("in.txt"), "b\nSay \"hi\"\r\nA\\B\n\nc\t*/\n");
    int status;
    EXPECT_EQ(kqu("strings write --comment 'x */ y' " + dir.file("t.strings") + " " + dir.file("in.txt"), &status),
              "wrote 4 entries to " + dir.file("t.strings") + "\n");
    EXPECT_EQ(status, 0);
    // (The file's bytes against Python's encoder are KQUStringFile's.)
    EXPECT_EQ(kqu("strings read " + dir.file("t.strings"), &status),
              "\"A\\\\B\" = \"A\\\\B\";\n\"Say \\\"hi\\\"\" = \"Say \\\"hi\\\"\";\n\"b\" = \"b\";\n\"c\\t*/\" = \"c\\t*/\";\n");
    EXPECT_EQ(kqu("strings write " + dir.file("u.strings") + " - < /dev/null && printf '\\377\\n' | " +
                      std::string(KQU_TOOL_PATH) + " strings write " + dir.file("u.strings"),
                  &status),
              "wrote 0 entries to " + dir.file("u.strings") + "\nkqu: line 1 is not UTF-8\n");
    EXPECT_EQ(status, 1);
}

TEST(KquPlist, PrintsXMLThatPythonReadsAndLocalizes) {
    test::TempDir dir;
    std::string out;
    ASSERT_EQ(test::runCommand("/usr/bin/python3 -c \"import plistlib, sys; sys.stdout.buffer.write(plistlib.dumps("
                               "{'_LOCALIZABLE_': {'a': 1}, 'more': {'b': [True, 2.5]}}, fmt=plistlib.FMT_BINARY))\" > " +
                                   dir.file("in.plist"),
                               &out),
              0);
    int status;
    std::string xml = kqu("plist --localize " + dir.file("in.plist"), &status);
    EXPECT_EQ(status, 0) << xml;
    test::writeFile(dir.file("out.plist"), xml);
    EXPECT_EQ(test::runCommand("/usr/bin/python3 -c \"import plistlib, sys; v = plistlib.load(open(sys.argv[1], 'rb')); "
                               "sys.exit(v != {'a': 1, 'b': [True, 2.5]})\" " + dir.file("out.plist"),
                               &out),
              0)
        << xml;
    EXPECT_EQ(kqu("plist - < /dev/null", &status).rfind("kqu: standard input: ", 0), 0u);
    EXPECT_EQ(status, 1);
}

TEST(KquPath, RelativeInsideAndFind) {
    test::TempDir dir;
    test::writeFile(dir.file("z"), "");
    const std::tuple<std::string, std::string, int> cases[] = {
        {"path relative --backtrack /a/x /a/b/c", "../../x\n", 0},
        {"path relative /a/x /a/b/c", "kqu: /a/x has no relative path from /a/b/c\n", 1},
        {"path inside /a/b ../x /a/b", "outside\n", 1},
        {"path inside /a/b c/./d /a", "inside\n", 0},
        {"path find " + dir.path() + " x/y/z", dir.file("z") + "\n", 0},
        {"path inside a b", "kqu: path inside: expected PATH COMPONENT BASE, got 2 operands", 2},
    };
    for (const auto& [arguments, output, expected] : cases) {
        int status;
        std::string got = kqu(arguments, &status);
        EXPECT_EQ(got.substr(0, output.size()), output) << arguments;
        EXPECT_EQ(status, expected) << arguments;
    }
}

}  // namespace
