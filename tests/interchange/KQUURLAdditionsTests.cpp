// Typed URLs, escaping against urllib.parse.quote, hosts against idna (UTS #46), RFC 3986 resolution.
#include <fmt/format.h>

#include "kqutility/interchange/KQUURLAdditions.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

std::string urlOrDash(std::string_view typed) {
    auto url = KQURFC1808URLWithUserEnteredString(typed);
    return url ? url->absoluteString() : "-";
}

TEST(URLAdditions, TypedAddressesBecomeURLs) {
    const std::pair<const char*, const char*> cases[] = {
        {"www.example.com/a b", "http://www.example.com/a%20b"},
        {"http:///path", "http:///path"},  // an empty host passes unchanged
        {"user@host:8080/p", "-"},         // "user@host" is taken as the scheme
        {"b\u00fccher.de", "http://xn--bcher-kva.de"},
        {"http://%FF/", "-"},  // escapes that are not UTF-8 give no host
        {"HTTP://WWW.Example.COM/A", "HTTP://www.example.com/A"},
        {"x.org/100%zz", "http://x.org/100%25zz"},
        {"x.org/p#a b#c d", "http://x.org/p%23a%20b#c%20d"},
        {"http://x.org:abc/", "-"},  // the port must be numeric
        {"http://a_b.com/", "-"},    // STD3 rules
        {"mailto:someone", "mailto://someone"},
    };
    for (auto [typed, url] : cases) EXPECT_EQ(urlOrDash(typed), url) << typed;
}

TEST(URLAdditions, EscapingAgreesWithPythonQuote) {
    std::string text;
    for (int c = 1; c < 0x80; ++c) text.push_back(static_cast<char>(c));
    text += "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80";
    test::TempDir dir;
    test::writeFile(dir.file("in"), text);
    std::string output;
    ASSERT_EQ(test::runCommand(fmt::format("/usr/bin/python3 -c \"import sys, urllib.parse as u; "
                                           "s = open(sys.argv[1], encoding='utf-8', newline='').read(); "
                                           "print(u.quote(s, safe=\\\"!\\$&'()*+,;=:@/?\\\")); "
                                           "print(u.quote(s, safe=\\\"!'()*/\\\"))\" '{}'",
                                           dir.file("in")),
                               &output),
              0);
    EXPECT_EQ(output, KQUStringByPercentEscaping(text) + "\n" + KQUProperlyEscapedString(text) + "\n");
    EXPECT_EQ(std::vector<bool>({KQUContainsPercentEscapes("100%"), KQUContainsPercentEscapes("%4g"),
                                 KQUContainsPercentEscapes("a%4Fb")}),
              std::vector<bool>({false, false, true}));
    EXPECT_EQ(KQUImproperlyEscapedString("a/b:c%"), "a_47_b_58_c_37_");
}

TEST(URLAdditions, HostsAgreeWithPythonIdna) {
    const std::vector<std::string> hosts = {
        "b\xc3\xbc" "cher.de", "\xe4\xbe\x8b\xe3\x81\x88.\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88",
        "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80.\xd1\x80\xd1\x84", "Stra\xc3\x9f" "e.de",
        "\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac.gr", "EXAMPLE.Com",
        "\xd9\x85\xd8\xab\xd8\xa7\xd9\x84.\xd8\xa5\xd8\xae\xd8\xaa\xd8\xa8\xd8\xa7\xd8\xb1",
        "\xe0\xa4\x89\xe0\xa4\xa6\xe0\xa4\xbe\xe0\xa4\xb9\xe0\xa4\xb0\xe0\xa4\xa3.in", "a_b.com", "a..b",
        "-lead.com", "xn--zz.com",
    };
    test::TempDir dir;
    std::string lines;
    for (const auto& h : hosts) lines += h + "\n";
    test::writeFile(dir.file("hosts"), lines);
    std::string output;
    ASSERT_EQ(test::runCommand(fmt::format("/usr/bin/python3 -c \"import sys, idna\n"
                                           "for h in open(sys.argv[1], encoding='utf-8').read().split():\n"
                                           "  try: print(idna.encode(h, uts46=True, std3_rules=True, "
                                           "transitional=False).decode())\n"
                                           "  except Exception: print('-')\" '{}'",
                                           dir.file("hosts")),
                               &output),
              0);
    std::string ours;
    for (const auto& h : hosts) ours += KQUASCIIHostName(h).value_or("-") + "\n";
    EXPECT_EQ(ours, output);
}

TEST(URLAdditions, FileAndRelativeURLs) {
    EXPECT_EQ(KQUFilePathURLWithEscapes("/tmp/a b;c")->absoluteString(), "file://localhost/tmp/a%20b%3Bc");
    EXPECT_EQ(KQUFilePathURLWithEscapes("a b")->absoluteString(), "file:a%20b");
    EXPECT_TRUE(KQUURLIsRelative(*KQURelativeURLWithEscapes("a b?")) &&
                !KQUURLIsRelative(*KQUFilePathURLWithEscapes("/x")));
    // RFC 3986 section 5.4.
    auto base = KQUURL::fromString("http://a/b/c/d;p?q");
    const std::pair<const char*, const char*> cases[] = {
        {"g", "http://a/b/c/g"},      {"../g", "http://a/b/g"},       {"../../../g", "http://a/g"},
        {"?y", "http://a/b/c/d;p?y"}, {"#s", "http://a/b/c/d;p?q#s"}, {"//g", "http://g"},
        {"./g/.", "http://a/b/c/g/"}, {"", "http://a/b/c/d;p?q"},     {"g:h", "g:h"}};
    for (auto [reference, resolved] : cases) {
        auto url = KQUURL::fromString(reference, *base);
        EXPECT_EQ(url ? url->absoluteString() : "-", resolved) << reference;
    }
    EXPECT_TRUE(KQUURLIsRelative(*KQUURL::fromString("g", *base)) &&
                !KQUURLIsRelative(*KQUURL::fromString("http://a/g", *base)));
    auto parts = KQUURL::fromString("http://u@[::1]:8080/p?q#f");
    EXPECT_EQ(parts->host().value_or("-") + " " + parts->port().value_or("-"), "[::1] 8080");
    for (const char* bad : {"a b", "http://x/%g0", "1http://x", ":x", "http://x:8o/", "http://[::1/"})
        EXPECT_FALSE(KQUURL::fromString(bad)) << bad;
}

}  // namespace
}  // namespace kqu
