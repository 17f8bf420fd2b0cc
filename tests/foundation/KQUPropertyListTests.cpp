// Property lists: plistlib's known answers (binary, XML), hostile binary lists, the writer read by plistlib.
#include "kqutility/foundation/KQUPropertyList.h"

#include <cmath>

#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

using test::fromHex;

std::string bytesOf(const KQUData& d) { return std::string(d.begin(), d.end()); }

// plistlib.dumps of the dictionary below, binary form (keys sorted, "hello" shared).
constexpr const char* kPlistlibBinary =
    "62706c6973743030de0102030405060708090a0b0c0d0e0f141516171018191a1b1c1c1d1e53617272536269675464"
    "6174615464617465516653696e74536d6178536d696e536e6567547265616c517352736851745175a4101112131001"
    "5178a0d0130000010000000000430001ff3340f7ca500000000008137fffffffffffffff1380000000000000001"
    "3fffffffffffffffb233ff80000000000005568656c6c6f096700630061006600e90020d83dde000825292d323739"
    "3d4145494e505355575c5e6061626b6f7879828b949da3a40000000000000101000000000000001f0000000000000000"
    "00000000000000b3";

// plistlib.dumps of the same dictionary, XML form, with the line breaks between elements taken out.
constexpr const char* kPlistlibXML =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//X//DTD PLIST 1.0//EN\" "
    "\"http://127.0.0.1:9/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>"
    "<key>arr</key><array><integer>1</integer><string>x</string><array/><dict/></array>"
    "<key>big</key><integer>1099511627776</integer><key>data</key><data>\n\tAAH/\n\t</data>"
    "<key>date</key><date>2001-01-02T03:04:05Z</date><key>f</key><false/><key>int</key><integer>1</integer>"
    "<key>max</key><integer>9223372036854775807</integer>"
    "<key>min</key><integer>-9223372036854775808</integer><key>neg</key><integer>-5</integer>"
    "<key>real</key><real>1.5</real><key>s</key><string>hello</string>"
    "<key>sh</key><string>hello</string><key>t</key><true/><key>u</key><string>caf\u00e9 \U0001F600</string>"
    "</dict>\n</plist>\n";

KQUValue expectedValue() {
    return KQUValue(KQUValueDictionary{
        {"arr", KQUValue(KQUValueArray{KQUValue(1), KQUValue("x"), KQUValue(KQUValueArray{}),
                                       KQUValue(KQUValueDictionary{})})},
        {"big", KQUValue(int64_t(1) << 40)},
        {"data", KQUValue(KQUData{0x00, 0x01, 0xff})},
        {"date", KQUValue(KQUDate{86400 + 3 * 3600 + 4 * 60 + 5})},
        {"f", KQUValue(false)},
        {"int", KQUValue(1)},
        {"max", KQUValue(INT64_MAX)},
        {"min", KQUValue(INT64_MIN)},
        {"neg", KQUValue(-5)},
        {"real", KQUValue(1.5)},
        {"s", KQUValue("hello")},
        {"sh", KQUValue("hello")},
        {"t", KQUValue(true)},
        {"u", KQUValue("caf\u00e9 \U0001F600")}});
}

TEST(KQUPropertyList, ReadsWhatPlistlibWroteInBothForms) {
    for (auto [bytes, form] : {std::pair{bytesOf(fromHex(kPlistlibBinary)), KQUPropertyListFormat::Binary},
                               std::pair{std::string(kPlistlibXML), KQUPropertyListFormat::XML}}) {
        std::string error;
        KQUPropertyListFormat format{};
        auto value = KQUPropertyListFromBytes(bytes, &error, &format);
        ASSERT_TRUE(value) << error;
        EXPECT_TRUE(format == form && *value == expectedValue());
    }
}

// A binary list assembled from objects (each a byte string); references are one byte, offsets two.
std::string binaryList(const std::vector<std::string>& objects, uint64_t top = 0, uint64_t countOverride = 0) {
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    uint64_t table = out.size();
    for (uint64_t o : offsets) out += {static_cast<char>(o >> 8), static_cast<char>(o & 0xff)};
    out += std::string("\0\0\0\0\0\0\2\1", 8);  // offsets of two bytes, references of one
    for (uint64_t v : {countOverride ? countOverride : objects.size(), top, table})
        for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift);  // big-endian
    return out;
}

TEST(KQUPropertyList, RefusesHostileBinaryLists) {
    using S = std::string;
    std::vector<std::string> nested;  // 200 arrays, each holding the next
    for (int i = 0; i < 200; ++i) nested.push_back(S("\xa1") + static_cast<char>(i + 1));
    nested.push_back(S("\x10\x07"));
    // Ten objects, each an array of 16 references to the next: 16^9 values if expanded.
    std::vector<std::string> laughs;
    for (int i = 0; i < 9; ++i) laughs.push_back(S("\xaf\x10\x10") + S(16, static_cast<char>(i + 1)));
    laughs.push_back(S("\x10\x01"));
    const std::tuple<const char*, std::string, const char*> cases[] = {
        // what, bytes, reason
        {"too short", "bplist00", "too short"},
        {"reference past the objects", binaryList({S("\xa1\x05")}), "refers to object 5 of 1"},
        {"object count past the table", binaryList({S("\x10\x01")}, 0, 1000), "offset table lies outside"},
        {"top past the objects", binaryList({S("\x10\x01")}, 3), "no top object"},
        {"cycle", binaryList({S("\xa1\x01"), S("\xa1\x00", 2)}), "reference cycle"},
        {"string past the end", binaryList({S("\x5f\x10\xff") + "abc"}), "runs past"},
        {"length marker not an integer", binaryList({S("\x5f\x50") + "abc"}), "bad length"},
        {"non-string key", binaryList({S("\xd1\x01\x01"), S("\x10\x01")}), "key is not a string"},
        {"UID", binaryList({S("\x80\x01")}), "UIDs"},
        {"unpaired surrogate", binaryList({S("\x61\xd8\x00", 3)}), "unpaired surrogate"},
        {"non-ASCII byte", binaryList({S("\x51\xe9")}), "non-ASCII"},
        {"128-bit integer", binaryList({S("\x14") + S(7, '\0') + S("\x01") + S(8, '\0')}), "out of range"},
        {"unknown marker", binaryList({S("\x70")}), "unknown"},
        {"too deep", binaryList(nested), "nested deeper than 128"},
        {"shared objects expanding", binaryList(laughs), "more than 100000 values"},
        {"other version", "bplist15" + S(40, '\0'), "unsupported binary"},
    };
    KQUPropertyListLimits limits{.maxDepth = 128, .maxValues = 100000};
    for (const auto& [what, bytes, reason] : cases) {
        std::string error;
        EXPECT_FALSE(KQUPropertyListFromBytes(bytes, &error, nullptr, limits)) << what;
        EXPECT_NE(error.find(reason), std::string::npos) << what << ": " << error;
    }
    // Sharing within the budget decodes, each use counted: 1 + 16 * (1 + 16) = 273 values.
    std::string twoLevels = binaryList({S("\xaf\x10\x10") + S(16, '\x01'), S("\xaf\x10\x10") + S(16, '\x02'), S("\x10\x01")});
    std::string error;
    auto shared = KQUPropertyListFromBytes(twoLevels, &error, nullptr, {.maxValues = 273});
    ASSERT_TRUE(shared) << error;
    EXPECT_EQ(shared->array()->at(15).array()->at(15), KQUValue(1));
    EXPECT_FALSE(KQUPropertyListFromBytes(twoLevels, &error, nullptr, {.maxValues = 272}));
}

TEST(KQUPropertyList, RefusesMalformedXML) {
    const std::pair<const char*, const char*> cases[] = {
        {"<plist><integer>9223372036854775808</integer></plist>", "out of range"},
        {"<plist><integer>12a</integer></plist>", "not a number"},
        {"<plist><real>1.5x</real></plist>", "not a number"},
        {"<plist><date>2001-02-29T00:00:00Z</date></plist>", "not an ISO 8601"},
        {"<plist><data>AA*B</data></plist>", "not base64"},
        {"<plist><dict><key>a</key></dict></plist>", "no value"},
        {"<plist><dict><string>a</string><true/></dict></plist>", "where a <key> belongs"},
        {"<plist><string>a</string><string>b</string></plist>", "one value"},
        {"<plist><set/></plist>", "unknown element <set>"},
        {"<plist><string>a<b/></string></plist>", "holds an element"},
        {"<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><string>&e;</string></plist>", "entity reference &e;"},
        {"<!DOCTYPE plist [<!ENTITY e SYSTEM \"/etc/passwd\">]><plist><string>&e;</string></plist>", "entity"},
        {"<plist><string>unterminated</plist>", "not a well-formed"},
    };
    for (auto [text, reason] : cases) {
        std::string error;
        EXPECT_FALSE(KQUPropertyListFromBytes(text, &error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
    }
    std::string deep;
    for (int i = 0; i < 20; ++i) deep = "<array>" + deep + "</array>";
    std::string error;
    EXPECT_FALSE(KQUPropertyListFromBytes(deep, &error, nullptr, {.maxDepth = 10}));
    EXPECT_NE(error.find("nested deeper"), std::string::npos) << error;
    auto hex = KQUPropertyListFromBytes("<plist><integer> 0x1F </integer></plist>");
    EXPECT_TRUE(hex && *hex == KQUValue(31));
}

TEST(KQUPropertyList, DatesAgainstPythonDatetime) {
    // datetime(2001, 1, 1) + timedelta(seconds=s), printed by Python.
    const std::pair<double, const char*> cases[] = {
        {0, "2001-01-01T00:00:00Z"},           {1e9, "2032-09-09T01:46:40Z"},
        {-978307200, "1970-01-01T00:00:00Z"},  {730900800, "2024-02-29T12:00:00Z"},
        {-0.5, "2000-12-31T23:59:59Z"},        {-63113904000, "0001-01-01T00:00:00Z"},
        {252423993599, "9999-12-31T23:59:59Z"},
    };
    for (auto [seconds, text] : cases) {
        EXPECT_EQ(KQUPropertyListDateString(KQUDate{seconds}).value_or("none"), text) << seconds;
        EXPECT_EQ(KQUPropertyListDateFromString(text).value_or(KQUDate{0.25}).timeIntervalSinceReferenceDate,
                  std::floor(seconds));
    }
    EXPECT_FALSE(KQUPropertyListDateString(KQUDate{252423993600}) ||
                 KQUPropertyListDateString(KQUDate{std::nan("")}));
    EXPECT_EQ(KQUPropertyListDateFromString("2001-01Z")->timeIntervalSinceReferenceDate, 0);
    for (const char* bad : {"2001-01-01T00:00:00", "2001-13-01T00:00:00Z", "2001-1-01Z", "2001-01-01T24:00:00Z"})
        EXPECT_FALSE(KQUPropertyListDateFromString(bad)) << bad;
}

TEST(KQUPropertyList, PlistlibReadsWhatTheWriterWrote) {
    test::TempDir dir;
    KQUValue value(KQUValueDictionary{
        {"text", KQUValue("a<b>&c\r\nd\t\u00e9\U0001F600")},
        {"k<&>", KQUValue(KQUValueArray{KQUValue(-7), KQUValue(INT64_MIN), KQUValue(0.1), KQUValue(-1e300)})},
        {"data", KQUValue(KQUData{0, 1, 2, 3, 250})},
        {"long", KQUValue(KQUData(100, 0x41))},
        {"when", KQUValue(KQUDate{730900800.75})},
        {"empty", KQUValue(KQUValueDictionary{})},
        {"flags", KQUValue(KQUValueArray{KQUValue(true), KQUValue(false), KQUValue(KQUValueArray{})})},
    });
    ASSERT_TRUE(KQUWriteXMLPropertyListToFile(value, dir.file("out.plist")));
    test::writeFile(dir.file("check.py"), R"(import plistlib, sys, datetime
v = plistlib.load(open(sys.argv[1], 'rb'))
want = {'text': 'a<b>&c\r\nd\t\u00e9\U0001F600', 'k<&>': [-7, -2**63, 0.1, -1e300],
        'data': bytes([0, 1, 2, 3, 250]), 'long': b'A' * 100,
        'when': datetime.datetime(2024, 2, 29, 12, 0, 0), 'empty': {}, 'flags': [True, False, []]}
sys.exit(0 if v == want and list(v) == list(want) else print(v) or 1)
)");
    std::string output;
    EXPECT_EQ(test::runCommand("/usr/bin/python3 " + dir.file("check.py") + " " + dir.file("out.plist"), &output), 0)
        << output;
    // And it reads back, the date cut to its second.
    auto back = KQUPropertyListFromFile(dir.file("out.plist"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->find("when")->date()->timeIntervalSinceReferenceDate, 730900800);
    EXPECT_EQ(*back->find("text"), *value.find("text"));
}

TEST(KQUPropertyList, WriterRefusesWhatTheFormCannotHold) {
    for (const KQUValue& v : {KQUValue(), KQUValue(KQUValueArray{KQUValue()}), KQUValue("bell\a"),
                              KQUValue(std::string("\xff")), KQUValue(KQUDate{1e15})})
        EXPECT_KQU_THROW((void)KQUXMLPropertyListFromValue(v), NSInvalidArgumentException, "");
    std::string error;
    EXPECT_FALSE(KQUPropertyListFromFile("/nonexistent/x.plist", &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

}  // namespace
}  // namespace kqu
