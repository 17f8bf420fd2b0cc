// POSIX regular expressions (groups against Python's re), ranges, options; e-mail addresses (RFC 5322).
#include <fmt/format.h>

#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/interchange/KQURegularExpression.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

constexpr KQURange kNone{KQUNotFound, 0};

std::u16string u16(std::string_view s) { return *KQUUTF16FromUTF8(s); }

TEST(RegularExpression, GroupRangesAgreeWithPythonRe) {
    const std::pair<const char*, const char*> cases[] = {
        {"([a-z]+)@([a-z]+)\\.com", "mail bob@example.com now"},
        {"(x+)(y*)z", "aaxxxzz"},
        {"([0-9]+)-([0-9]+)?-", "tel 12--3"},
        {"((a)(b))c", "zabc"},
        {"[0-9]{2}(q)", "1q22q"},
        {"no", "match"},
    };
    std::string script = "import re\n";
    for (auto [pattern, subject] : cases)
        script += fmt::format(
            "m = re.search(r'{}', '{}')\nprint(' '.join('{{}},{{}}'.format(*m.span(i)) for i in "
            "range(m.re.groups + 1)) if m else '-')\n",
            pattern, subject);
    test::TempDir dir;
    test::writeFile(dir.file("match.py"), script);
    std::string expected;
    ASSERT_EQ(test::runCommand("/usr/bin/python3 " + dir.file("match.py"), &expected), 0);
    std::string ours;
    for (auto [pattern, subject] : cases) {
        auto re = KQURegularExpression::create(u16(pattern));
        ASSERT_TRUE(re) << pattern;
        KQURange groups[8];
        KQURange whole = re->matchedRangeForString(u16(subject), {KQUNotFound, 0}, groups, 8);
        if (whole == kNone) {
            ours += "-\n";
            continue;
        }
        auto span = [](KQURange r) {
            return r == kNone ? std::string("-1,-1") : fmt::format("{},{}", r.location, r.location + r.length);
        };
        ours += span(whole);
        for (size_t i = 0; i < re->numberOfSubexpressions(); ++i) ours += " " + span(groups[i]);
        ours += "\n";
        for (size_t i = re->numberOfSubexpressions(); i < 8; ++i) EXPECT_EQ(groups[i], kNone) << pattern;
    }
    EXPECT_EQ(ours, expected);
}

TEST(RegularExpression, RangesAreSubjectsAndStringIndices) {
    auto anchored = KQURegularExpression::create(u"^ab(c)$");
    KQURange group[3] = {{7, 7}, {7, 7}, {7, 7}};
    // "^" and "$" match at the range's ends; ranges are whole-string indices, a surrogate pair counting two.
    EXPECT_EQ(anchored->matchedRangeForString(u"\U0001F600xabcx", {3, 3}, group, 3), (KQURange{3, 3}));
    EXPECT_EQ(std::vector<KQURange>(group, group + 3), (std::vector<KQURange>{{5, 1}, kNone, kNone}));
    // Without a match the output is left alone; fewer slots than groups fill only those.
    KQURange untouched[1] = {{7, 7}};
    EXPECT_EQ(anchored->matchedRangeForString(u"xabcx", {0, 5}, untouched, 1), kNone);
    EXPECT_EQ(untouched[0], (KQURange{7, 7}));
    auto two = KQURegularExpression::create(u"(a)(b)");
    EXPECT_EQ(two->matchedRangeForCString("zab", {KQUNotFound, 0}, untouched, 1), (KQURange{1, 2}));
    EXPECT_EQ(untouched[0], (KQURange{1, 1}));
    // The C-string variant: the range bounds the search even without a terminating zero in it.
    EXPECT_EQ(two->matchedRangeForCString("abab", {1, 2}, nullptr, 0), kNone);
    EXPECT_EQ(two->matchedRangeForCString("abab", {2, 2}, nullptr, 0), (KQURange{2, 2}));
}

TEST(RegularExpression, OptionsLongPatternsAndErrors) {
    const std::tuple<const char16_t*, unsigned, const char16_t*, KQURange> cases[] = {
        {u"ABC", kKQURegularExpressionCaseInsensitive, u"xabc", {1, 3}},
        {u"a.b", kKQURegularExpressionDotMatchesNewlines, u"a\nb", {0, 3}},
        {u"^b", 0, u"a\nb", {2, 1}},
        {u"a\\(b\\)*", kKQURegularExpressionBasicSyntax, u"abbb", {0, 4}},
        {u"a(b)+", kKQURegularExpressionBasicSyntax, u"abbxa(b)+", {4, 5}},  // "(" and "+" are literal
        {u"\u00e9t\u00e9", 0, u"x\u00e9t\u00e9", kNone},  // non-ASCII pattern characters compile as blanks
    };
    for (const auto& [pattern, options, subject, match] : cases) {
        auto re = KQURegularExpression::create(pattern, options);
        ASSERT_TRUE(re);
        EXPECT_EQ(re->matchedRangeForString(subject, {KQUNotFound, 0}, nullptr, 0), match);
    }
    auto re = KQURegularExpression::create(u"(x)" + std::u16string(70, u'a'));
    ASSERT_TRUE(re);
    EXPECT_EQ(re->matchedRangeForString(u"zx" + std::u16string(70, u'a'), {KQUNotFound, 0}, nullptr, 0),
              (KQURange{1, 71}));
    test::LogCapture log;
    EXPECT_FALSE(KQURegularExpression::create(u"a("));
    EXPECT_FALSE(KQURegularExpression::create(std::u16string(u"a\0b", 3)));
    EXPECT_EQ(log.messages().size(), 2u);
    EXPECT_TRUE(log.contains("*** KQURegularExpression::create: error"));
}

TEST(RegularExpression, CopiesKeepOptionsAndEqualityTakesThem) {
    auto folded = *KQURegularExpression::create(u"abc", kKQURegularExpressionCaseInsensitive);
    KQURegularExpression copy = folded;
    EXPECT_EQ(copy.matchedRangeForString(u"ABC", {0, 3}, nullptr, 0), (KQURange{0, 3}));
    auto plain = *KQURegularExpression::create(u"abc");
    EXPECT_TRUE(!(plain == folded) && plain.hash() != folded.hash());
    EXPECT_TRUE(copy == folded && copy.hash() == folded.hash());
}

TEST(EmailAddress, UncommentsAndJudgesLikeTheReferences) {
    // Address, uncommented (parseaddr's address where it defines one), legal.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"John Doe <jdoe@machine.example>", "jdoe@machine.example", true},
        {"Who? <one@y.test>", "one@y.test", true},
        {"\"Giant; \\\"Big\\\" Box\" <sysservices@example.net>", "sysservices@example.net", true},
        {"Pete(A nice \\) chap) <pete(his account)@silly.test(his host)>", "pete@silly.test", true},
        {"Name (comment (nested) more) <a@b.cd>", "a@b.cd", true},
        {"John (x@y.z) <john>", "john", false},  // the comment's "@" and "." do not count
        {"a.b@cd", "a.b@cd", false},             // the only "." comes before the "@"
        {"Undisclosed recipients:;", "Undisclosed recipients:;", false},  // a group, left as it is
        {"b@x.y z", "b@x.y z", false},
        {"caf\xc3\xa9@x.fr", "caf\xc3\xa9@x.fr", false},
    };
    for (const auto& [text, uncommented, legal] : cases) {
        std::u16string address = u16(text);
        EXPECT_EQ(KQUUTF8FromUTF16(KQUUncommentedAddressRespectingGroups(address)), uncommented) << text;
        EXPECT_EQ(KQUIsLegalEmailAddress(address), legal) << text;
    }
    EXPECT_EQ(KQUUncommentedAddress(u"  a   b  "), u"a b");
}

}  // namespace
}  // namespace kqu
