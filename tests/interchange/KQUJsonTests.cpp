// JSON against Python's json module (38-digit half-up decimals), plus where this reader means to differ.
#include <cmath>
#include <sstream>

#include <fmt/format.h>

#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/interchange/KQUJson.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

// Documents with escapes, surrogate pairs, lone surrogates, non-ASCII text, repeated keys
// and long numbers; each line "hex(text) hex(expected compact text)".
constexpr const char* kGenerator = R"PY(
import json, random, sys, decimal
from decimal import Decimal
ctx = decimal.Context(prec=38, rounding=decimal.ROUND_HALF_UP)
def num(d):
    d = ctx.plus(d)
    if d.is_zero(): return "0"
    return format(d.normalize(ctx), "f")
def string(s):
    s = s.encode("utf-16", "surrogatepass").decode("utf-16", "replace")
    t = json.dumps(s, ensure_ascii=False)
    if any(c in s for c in '"\\') or any(ord(c) < 32 for c in s):
        t = t.replace("\u2028", "\\u2028").replace("\u2029", "\\u2029")
    return t
def render(v):
    if isinstance(v, dict): return "{" + ",".join(string(k) + ":" + render(x) for k, x in v.items()) + "}"
    if isinstance(v, list): return "[" + ",".join(render(x) for x in v) + "]"
    if isinstance(v, str): return string(v)
    if v is True: return "true"
    if v is False: return "false"
    if v is None: return "null"
    return num(v)
R = random.Random(int(sys.argv[1]))
pieces = ["a", "Z", " ", "é", "\u4e2d", "\U0001F600", "\u2028", "/", "\u00a0", "\u007e"]
escapes = ['\\"', "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u0041", "\\u00e9", "\\ud83d\\ude00",
           "\\uD800", "\\udc00x", "\\u0001", "\\u001F", "\\u2029", "\\u0000"]
def ws(): return R.choice(["", "", " ", "\n", "\t ", "\r\n"])
def gstr():
    return '"' + "".join(R.choice(pieces) if R.random() < .6 else R.choice(escapes) for _ in range(R.randint(0, 8))) + '"'
def gnum():
    s = R.choice(["", "-"]) + R.choice(["0", str(R.randint(1, 10**R.randint(1, 45)))])
    if R.random() < .5: s += "." + str(R.randint(0, 10**R.randint(1, 30))).zfill(R.randint(1, 5))
    if R.random() < .4: s += R.choice("eE") + R.choice(["", "+", "-"]) + str(R.randint(0, 60))
    return s
def gval(d):
    r = R.random()
    if d < 4 and r < .25: return garr(d + 1)
    if d < 4 and r < .45: return gobj(d + 1)
    if r < .7: return gstr()
    if r < .9: return gnum()
    return R.choice(["true", "false", "null"])
def garr(d): return "[" + ws() + ("," + ws()).join(gval(d) + ws() for _ in range(R.randint(0, 4))) + "]"
def gobj(d):
    keys = [R.choice(['"k"', '"a"', gstr()]) for _ in range(R.randint(0, 4))]
    return "{" + ws() + ",".join(ws() + k + ws() + ":" + ws() + gval(d) + ws() for k in keys) + "}"
for i in range(400):
    text = R.choice([garr, gobj])(0)
    v = json.loads(text, parse_float=Decimal, parse_int=Decimal)
    print(text.encode("utf-8", "surrogatepass").hex(), render(v).encode("utf-8").hex())
)PY";

TEST(Json, ReadsAndWritesAsPythonDoes) {
    std::string output;
    test::TempDir dir;
    test::writeFile(dir.file("gen.py"), kGenerator);
    ASSERT_EQ(test::runCommand(fmt::format("/usr/bin/python3 '{}' 7", dir.file("gen.py")), &output), 0);
    std::istringstream lines(output);
    std::string textHex, expectedHex;
    int count = 0;
    while (lines >> textHex >> expectedHex) {
        KQUData textBytes = test::fromHex(textHex), expectedBytes = test::fromHex(expectedHex);
        std::string text(textBytes.begin(), textBytes.end()), expected(expectedBytes.begin(), expectedBytes.end());
        auto utf8 = KQUJson::parse(text);
        ASSERT_TRUE(utf8) << text;
        EXPECT_EQ(KQUJson::stringFromObject(*utf8), expected) << text;
        EXPECT_TRUE(KQUJson::validate(text)) << text;
        auto utf16 = KQUJson::parse(*KQUUTF16FromUTF8(text));
        ASSERT_TRUE(utf16) << text;
        EXPECT_TRUE(*utf16 == *utf8) << text;
        ++count;
    }
    EXPECT_EQ(count, 400);
}

TEST(Json, AcceptsWhatPythonRefusesByDesign) {
    const std::pair<std::string, std::string> cases[] = {
        {"[]", "[]"},
        {"{ }", "{}"},
        {"[\"a\\u0041\"]", "[\"aA\"]"},
        {"[-0]", "[0]"},
        {"[007, 0.0100]", "[7,0.01]"},     // leading zeros
        {"\u3000[\u00a01\u2028]", "[1]"},  // Unicode white space
        {"[1] trailing {", "[1]"},         // text after the end
        {"[1e-200, 5e-129, 1e164]", "[0,0." + std::string(127, '0') + "1,1" + std::string(164, '0') + "]"},
        {"[99999999999999999999999999999999999999.5]", "[1" + std::string(38, '0') + "]"},
        {"[\"\\ud800\"]", "[\"\xef\xbf\xbd\"]"},  // a lone surrogate becomes U+FFFD
    };
    for (const auto& [text, compact] : cases) {
        auto value = KQUJson::parse(text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(KQUJson::stringFromObject(*value), compact) << text;
    }
    EXPECT_TRUE(KQUJson::arrayFromString(u"[1]") && !KQUJson::arrayFromString(u"{}"));
    EXPECT_TRUE(KQUJson::dictionaryFromString("{\"a\":1}") && !KQUJson::dictionaryFromString("[1]"));
}

TEST(Json, RefusesMalformedTextSayingWhereAndWhy) {
    const std::tuple<std::string, size_t, std::string> cases[] = {
        {"1", 0, "expected '[' or '{'"},
        {"[1,]", 3, "expected a value"},
        {"[1 2]", 3, "expected ',' or ']'"},
        {"[1.]", 3, "invalid number"},
        {"{1:2}", 1, "expected a string key"},
        {"{\"a\" 2}", 5, "expected ':'"},
        {"[\"a\tb\"]", 3, "control character in string"},
        {"[\"\xc2\x85\"]", 2, "control character in string"},
        {"[\"\xff\"]", 2, "invalid UTF-8"},
        {"[\"\xed\xa0\x80\"]", 2, "invalid UTF-8"},  // an encoded surrogate
        {"[\"\\x\"]", 2, "invalid escape"},
        {"[\"\\u12G4\"]", 6, "invalid \\u escape"},
        {"[\xd9\xa3]", 1, "expected a value"},  // ARABIC-INDIC DIGIT THREE is no digit here
        {"[tru]", 1, "invalid literal"},
        {"[1e165]", 1, "number out of range"},
        {"[\"abc", 5, "unexpected end of text"},
    };
    for (const auto& [text, offset, reason] : cases) {
        KQUJsonError error, checked;
        EXPECT_FALSE(KQUJson::parse(text, &error)) << text;
        EXPECT_EQ(std::pair(error.offset, error.reason), std::pair(offset, reason)) << text;
        EXPECT_FALSE(KQUJson::validate(text, &checked));
        EXPECT_EQ(checked.offset, error.offset) << text;
    }
    // Offsets of the UTF-16 reader count UTF-16 units.
    KQUJsonError error;
    EXPECT_FALSE(KQUJson::parse(u"[\"\U0001F600\", x]", &error));
    EXPECT_EQ(error.offset, 7u);
}

TEST(Json, NestingBeyondTheLimitFails) {
    for (size_t depth : {size_t(512), size_t(513), size_t(100000)}) {
        std::string text = std::string(depth, '[') + std::string(depth, ']');
        KQUJsonError error;
        auto value = KQUJson::parse(text, &error);
        EXPECT_EQ(value ? "parsed" : fmt::format("{} at {}", error.reason, error.offset),
                  depth <= 512 ? "parsed" : "nesting deeper than 512 levels at 512")
            << depth;
    }
}

TEST(Json, WriterEscapesEveryControlCharacterAndNeverWritesInvalidText) {
    // U+2028 alone stays raw; beside a character that needs escaping it is escaped too.
    EXPECT_EQ(KQUJson::stringFromObject(KQUValueArray{"\xe2\x80\xa8", "a\"b\xe2\x80\xa9", "\x01\x1f\x7f/"}),
              "[\"\xe2\x80\xa8\",\"a\\\"b\\u2029\",\"\\u0001\\u001f\\u007f/\"]");
    // DEL and U+0080-U+009F, which the reader takes only escaped, are written escaped.
    const std::string c1 = "\xc2\x80\xed\x80\xbd\xc2\x9f\xc2\xa0";
    EXPECT_EQ(KQUJson::stringFromObject(KQUValueArray{c1}), "[\"\\u0080\xed\x80\xbd\\u009f\xc2\xa0\"]");
    EXPECT_TRUE(KQUJson::parse(KQUJson::stringFromObject(KQUValueArray{c1})) == KQUValue(KQUValueArray{c1}));
    // Bytes that are not UTF-8 become U+FFFD; a raw U+2028 without specials stays raw.
    EXPECT_EQ(KQUJson::stringFromObject(KQUValueArray{"a\xff\xe2\x80\xa8", "\xc3"}),
              "[\"a\xef\xbf\xbd\xe2\x80\xa8\",\"\xef\xbf\xbd\"]");
    KQUValueDictionary d{{"b", true}, {"a", 1}, {"c", 0.1}, {"d", 1e300}, {"e", nullptr}, {"f", KQUValueArray{}}};
    EXPECT_EQ(KQUJson::stringFromObject(d), "{\"b\":true,\"a\":1,\"c\":0.1,\"d\":1e+300,\"e\":null,\"f\":[]}");
    EXPECT_EQ(KQUJson::prettyStringFromObject(KQUValueArray{1, KQUValueDictionary{{"k", KQUValueArray{}}}}),
              "[\n  1,\n  {\n    \"k\": []\n  }\n]");
    // Data and non-finite reals fail an assertion and are written as null.
    EXPECT_ASSERTION_FAILURE((void)KQUJson::stringFromObject(KQUValueArray{KQUData{1}}));
    test::ContinueAfterAssertions keepGoing;
    test::LogCapture log;
    EXPECT_EQ(KQUJson::stringFromObject(KQUValueArray{KQUData{1}, 1, std::nan(""), -INFINITY}), "[null,1,null,null]");
    EXPECT_TRUE(log.contains("KQUData doesn't support JSON encoding"));
}

TEST(Decimal, KeepsThirtyEightDigitsRoundingHalfUp) {
    const std::pair<std::string, std::string> cases[] = {
        {"123456789012345678901234567890123456785", "123456789012345678901234567890123456790"},
        {"-1.234567890123456789012345678901234567849", "-1.2345678901234567890123456789012345678"},
        {"-0.5e+3", "-500"},
        {"-0.000", "0"},
        {"1.50E1", "15"},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(KQUDecimal::fromString(text)->toString(), value) << text;
    EXPECT_EQ(KQUDecimal::fromString("0.1")->doubleValue(), 0.1);
    EXPECT_EQ(KQUDecimal(INT64_MIN).toString(), "-9223372036854775808");
    for (const char* bad : {"", "-", "1.", ".1", "1e", "+1", "1e999999999999999999999", "0x1"})
        EXPECT_FALSE(KQUDecimal::fromString(bad)) << bad;
}

}  // namespace
}  // namespace kqu
