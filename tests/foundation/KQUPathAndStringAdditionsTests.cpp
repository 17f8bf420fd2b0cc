// Path and string additions against Python: normpath/relpath, saxutils, re.split, strict codecs, uuid.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "kqutility/foundation/KQUPathAdditions.h"
#include "kqutility/foundation/KQUStringAdditions.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

TEST(KQUPathAdditions, NormalisesAsPythonNormpath) {
    // Python keeps a leading "//"; the normaliser collapses it like any other, so that row says "/".
    const std::pair<const char*, const char*> cases[] = {
        {"/.", "/"}, {"", ""}, {"c//a//", "c/a"}, {"..", ".."}, {"a//../", ""}, {"/./..", "/"},
        {"./../c/.", "../c"}, {"//d/d/..", "/d"}, {"../../a/./b/..", "../../a"}, {"a/../../b", "../b"},
        {"..//..", "../.."},
    };
    for (auto [path, normal] : cases) EXPECT_EQ(KQUNormalizePath(path), normal) << path;
    EXPECT_EQ(KQUStandardizePath("~/x/../y"), KQUNormalizePath(std::string(getenv("HOME")) + "/y"));
}

TEST(KQUPathAdditions, RelativePathsAsPythonRelpath) {
    // Path, base, answer with backtracking, answer without.
    const std::tuple<const char*, const char*, std::optional<std::string>, std::optional<std::string>>
        cases[] = {
            {"/a/b/c", "/a", "b/c", "b/c"},
            {"/a/x", "/a/b/c", "../../x", std::nullopt},
            {"a/b", "/a", std::nullopt, std::nullopt},  // relative against absolute: no answer
            {"", "a/b", "../..", std::nullopt},
            {"a", "../b", std::nullopt, std::nullopt},  // Python's answer names the cwd
            {"x/y", "x/y/z", "..", std::nullopt},
            {"a//b/./c", "a/b", "c", "c"},
            {"/a", "/", "a", "a"},
            {"/./a", "/a/./c/../.", "", ""},
            {"", "../../d/b/", std::nullopt, std::nullopt},
            {"a/..", "a/.", "..", std::nullopt},
        };
    for (const auto& [path, base, backtracking, plain] : cases)
        EXPECT_EQ(std::pair(KQUPathRelativeTo(path, base, true), KQUPathRelativeTo(path, base)),
                  std::pair(backtracking, plain))
            << path << " from " << base;
}

TEST(KQUPathAdditions, InsideBasePathUsesTheLexicalNormaliser) {
    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        {"/a/b", "../x", "/a/b", false},
        {"/a/b", "c/../d", "/a/b", true},
        {"a/b", "../../../x", "a/b", false},  // once counted as inside
        {"", "..", "", false},
        {"../a", "b", "..", true},
        {"/a/bc", "", "/a/b", false},
    };
    for (auto [path, component, base, inside] : cases)
        EXPECT_EQ(KQUIsPathCreatedByAppendingPathComponentInsideBasePath(path, component, base), inside)
            << path << " + " << component << " in " << base;
}

TEST(KQUPathAdditions, RelativeComponentPathStaysInsideTheDirectory) {
    test::TempDir dir;
    ::mkdir(dir.file("y").c_str(), 0700);
    test::writeFile(dir.file("y/z"), "");
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.path(), "x/y/z"), dir.file("y/z"));
    test::writeFile(dir.file("z"), "");
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.path(), "x/y/z"), dir.file("z"));  // shortest tail first
    ::mkdir(dir.file("inner").c_str(), 0700);
    test::writeFile(dir.file("secret"), "");  // reachable from inner/ only through ".."
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.path(), "q/y/w"), std::nullopt);
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.path(), "x/y/./z/"), dir.file("z"));
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.file("inner"), "../secret"), std::nullopt);
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.file("inner"), "../y/../secret"), std::nullopt);
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.path(), "/y"), std::nullopt);  // an absolute path is no tail
    EXPECT_EQ(KQUPathToRelativeComponentPath(dir.path(), "../y/q"), std::nullopt);
}

TEST(KQUStringAdditions, XMLEscapingAsSaxutils) {
    // escape(s), unescape(s) from xml.sax.saxutils.
    const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
        {u"a&b<c>d", u"a&amp;b&lt;c&gt;d", u"a&b<c>d"},
        {u"&gt;&lt;&amp;", u"&amp;gt;&amp;lt;&amp;amp;", u"><&"},
    };
    for (const auto& [text, escaped, unescaped] : cases) {
        EXPECT_EQ(KQUEscapeXML(text), escaped);
        EXPECT_EQ(KQUUnescapeXML(text), unescaped);
        EXPECT_EQ(KQUUnescapeXML(KQUEscapeXML(text)), text);
    }
}

TEST(KQUStringAdditions, SplittingAsReSplitOnOneClass) {
    auto set = KQUCharacterSet::withCharacters(u",;\U0001F600");
    const std::pair<std::u16string, std::vector<std::u16string>> cases[] = {
        {u"a,b;;c", {u"a", u"b", u"", u"c"}}, {u"", {u""}},
        {u",", {u"", u""}},                    {u";a;", {u"", u"a", u""}},
        {u"x\U0001F600y\U0001F600", {u"x", u"y", u""}},
    };
    for (const auto& [text, pieces] : cases) EXPECT_EQ(KQUPortableComponentsSeparatedByCharactersInSet(text, set), pieces);
}

TEST(KQUStringAdditions, RemovesAndQuotesCharactersOfASet) {
    auto set = KQUCharacterSet::withCharacters(u"ab\U0001F600");
    EXPECT_EQ(KQUStringByRemovingCharactersInSet(u"xaybz\U0001F600w\U0001F601", set), u"xyzw\U0001F601");
    EXPECT_EQ(KQUStringByRemovingCharactersInSet(u"abxab", set, KQUStringSearchAnchored), u"xab");
    EXPECT_EQ(KQUStringByRemovingCharactersInSet(u"abxab", set, KQUStringSearchBackwards), u"x");
    EXPECT_EQ(KQUStringByRemovingCharacter(u"a-b--c", u'-'), u"abc");
    auto csv = KQUCharacterSet::withCharacters(u",\"");
    EXPECT_EQ(KQUStringQuotedIfContainsCharacterSet(u"a\"b,c", csv), u"\"a\"\"b,c\"");
    EXPECT_EQ(KQUStringQuotedIfContainsCharacterSet(u"abc", csv), u"abc");
    std::u16string s = u"ac";
    KQUInsertCharacter(s, u'b', 1);
    EXPECT_EQ(s, u"abc");
    EXPECT_KQU_THROW(KQUInsertCharacter(s, u'x', 4), NSRangeException, "");
}

TEST(KQUStringAdditions, GuessedEncodingsAsPythonStrictDecoders) {
    // bytes.decode('utf-8'), then 'cp1252' (the system encoding), then the fallback.
    const std::tuple<std::string, const char*, std::optional<std::u16string>> cases[] = {
        {"caf\xc3\xa9", "ISO-8859-1", u"caf\u00e9"},
        {"caf\xe9", "ISO-8859-1", u"caf\u00e9"},
        {"\x80\x9f", "ISO-8859-1", u"\u20ac\u0178"},
        {"\xed\xa0\x80", "ISO-8859-1", u"\u00ed\u00a0\u20ac"},  // a surrogate is no UTF-8
    };
    for (const auto& [bytes, fallback, text] : cases)
        EXPECT_EQ(KQUStringWithDataBestGuessEncoding(bytes, fallback), text) << test::toHex(bytes);
    // With a system encoding that can fail (ASCII), the fallback is reached, unless it is the same.
    KQUSetSystemSingleByteEncoding("US-ASCII");
    EXPECT_EQ(KQUStringWithDataBestGuessEncoding("\x80\x9f", "ISO-8859-1"), u"\u0080\u009f");
    EXPECT_EQ(KQUStringWithDataBestGuessEncoding("\x80", "us-ascii"), std::nullopt);
    KQUSetSystemSingleByteEncoding("windows-1252");
    EXPECT_EQ(KQUStringWithDataInEncoding("a", "no-such-encoding"), std::nullopt);
}

TEST(KQUStringAdditions, UUIDsAreVersion4AsPythonParsesThem) {
    std::string args;
    for (int i = 0; i < 4; ++i) args += " " + KQUStringFromCFUUID().value_or("missing");
    std::string out;
    EXPECT_EQ(test::runCommand("/usr/bin/python3 -c \"import sys, uuid\n"
                               "for a in sys.argv[1:]:\n"
                               "    u = uuid.UUID(a)\n"
                               "    assert u.version == 4 and u.variant == uuid.RFC_4122 and a == str(u).upper(), a\" " +
                                   args,
                               &out),
              0)
        << out;
}

}  // namespace
}  // namespace kqu
