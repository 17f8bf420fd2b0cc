// String-table files (bytes against Python's UTF-16), localizable property lists, defaults from bundles.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "kqutility/foundation/KQUPropertyList.h"
#include "kqutility/foundation/KQUStringTable.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/interchange/KQURegisteredDefaults.h"
#include "kqutility/interchange/KQUStringFile.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

TEST(KQUStringFile, WritesSortedUTF16LittleEndianAsPython) {
    test::TempDir dir;
    KQUStringFile file;
    file.addString(u"b", u"c");
    file.addString(u"A");
    file.addString(u"c");
    ASSERT_TRUE(file.writeToFile(dir.file("t.strings")));
    // ('\ufeff' + '"A" = "A";\n\n/* c */\n"b" = "b";\n\n"c" = "c";\n\n').encode('utf-16-le')
    EXPECT_EQ(test::toHex(test::readFile(dir.file("t.strings"))),
              "fffe22004100220020003d0020002200410022003b000a000a002f002a002000630020002a002f000a00220062002200"
              "20003d0020002200620022003b000a000a0022006300220020003d0020002200630022003b000a000a00");
}

TEST(KQUStringFile, EveryTableWrittenReadsBack) {
    test::TempDir dir;
    const std::u16string strings[] = {u"say \"hi\"", u"back\\slash", u"two\nlines\r\tend", u"\U0001F600 astral",
                                      u"ends with \\", u"\\u0041 stays"};
    KQUStringFile file;
    for (const auto& s : strings) file.addString(s, u"a */ comment **/ here*");
    file.addString(u"é", u"*/");
    ASSERT_TRUE(file.writeToFile(dir.file("t.strings")));
    std::string error;
    auto table = KQUParseStringTable(test::readFile(dir.file("t.strings")), &error);
    ASSERT_TRUE(table) << error;
    EXPECT_EQ(table->size(), std::size(strings) + 1);
    for (const auto& s : strings) {
        auto key = KQUUTF8FromUTF16(s);
        EXPECT_EQ(table->count(key) ? table->at(key) : "missing", key);
    }
    // Keys with equal folding keep the order they were added in (stable sort).
    KQUStringFile equal;
    for (auto s : {u"b", u"B", u"a", u"\u00DF", u"ss"}) equal.addString(s);
    std::vector<std::u16string> order;
    (void)equal.fileContents();
    for (const auto& e : equal.entries()) order.push_back(e.key());
    EXPECT_EQ(order, (std::vector<std::u16string>{u"a", u"b", u"B", u"\u00DF", u"ss"}));
    EXPECT_FALSE(file.writeToFile(dir.file("missing/t.strings")));
}

TEST(KQUStringFile, TheReaderTakesUTF16WithAByteOrderMarkStrictly) {
    auto utf16 = [](std::u16string_view text, bool little) {
        std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char16_t c : text) {
            char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
            out += little ? lo : hi;
            out += little ? hi : lo;
        }
        return out;
    };
    for (bool little : {true, false}) {
        auto table = KQUParseStringTable(utf16(u"\"k\U0001F600\" = \"v\u00e9\";", little));
        EXPECT_EQ(table ? table->at("k\U0001F600") : "-", "v\u00e9");
        std::string error;
        EXPECT_FALSE(KQUParseStringTable(utf16(u"\"k\xD800\" = \"v\";", little), &error));
        EXPECT_NE(error.find("unpaired surrogate"), std::string::npos);
        EXPECT_FALSE(KQUParseStringTable(utf16(u"\"k\" = \"v\";", little) + "x", &error));
        EXPECT_NE(error.find("odd number"), std::string::npos);
    }
}

KQUValue plist(const char* xml) {
    std::string error;
    auto value = KQUPropertyListFromBytes(xml, &error);
    EXPECT_TRUE(value) << error;
    if (!value) return KQUValue();
    return *value;  // not value_or: GCC 12 under ASan sees the variant as uninitialised there
}

TEST(KQULocalizedPList, ResolvesMarkersInInsertionOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {"<dict><key>_LOCALIZABLE_</key><dict><key>a</key><integer>1</integer></dict></dict>",
         "<dict><key>a</key><integer>1</integer></dict>"},
        {"<dict><key>_LOCALIZABLE_</key><array><string>x</string></array>"
         "<key>more</key><array><string>y</string></array></dict>",
         "<array><string>x</string><string>y</string></array>"},
        {"<dict><key>z</key><dict><key>a</key><integer>1</integer><key>b</key><integer>2</integer></dict>"
         "<key>_LOCALIZABLE_</key><dict><key>b</key><integer>3</integer></dict>"
         "<key>c</key><dict><key>_LOCALIZABLE_</key><dict><key>a</key><integer>4</integer></dict></dict></dict>",
         "<dict><key>a</key><integer>4</integer><key>b</key><integer>3</integer></dict>"},
        {"<array><dict><key>_LOCALIZABLE_</key><string>s</string></dict><integer>5</integer></array>",
         "<array><string>s</string><integer>5</integer></array>"},
    };
    for (auto [input, output] : cases) EXPECT_EQ(KQULocalizedPList(plist(input)), plist(output)) << input;
}

TEST(KQULocalizedPList, WrongKindsAreAssertionFailures) {
    const std::pair<const char*, const char*> cases[] = {
        {"<dict><key>_LOCALIZABLE_</key><dict/><key>x</key><array/></dict>", "expected dictionary"},
        {"<dict><key>_LOCALIZABLE_</key><array/><key>x</key><string>s</string></dict>", "expected array"},
        {"<dict><key>_LOCALIZABLE_</key><integer>1</integer><key>x</key><array/></dict>", "unexpected type"},
    };
    for (auto [text, message] : cases) EXPECT_ASSERTION_FAILURE((void)KQULocalizedPList(plist(text)));
    // Continuing, the failure is logged, the wrong part is left out and the rest is merged.
    test::ContinueAfterAssertions go;
    for (auto [text, message] : cases) {
        test::LogCapture log;
        (void)KQULocalizedPList(plist(text));
        EXPECT_TRUE(log.contains(std::string("KQULocalizedPList() - ") + message)) << text;
    }
    EXPECT_EQ(KQULocalizedPList(plist(cases[0].first)), KQUValue(KQUValueDictionary{}));
}

class RegisteredDefaults : public ::testing::Test {
protected:
    void TearDown() override {
        KQUBundle::setMainBundle(nullptr);
        KQUBundle::setLoadedFrameworks({});
        KQUUserDefaults::resetStandardUserDefaults();
    }
    std::shared_ptr<const KQUBundle> bundle(const std::string& path, const char* defaults) {
        ::mkdir(path.c_str(), 0700);
        ::mkdir((path + "/Resources").c_str(), 0700);
        if (defaults) test::writeFile(path + "/Resources/Defaults.plist", defaults);
        return KQUBundle::create(path);
    }
    test::TempDir dir;
};

TEST_F(RegisteredDefaults, FrameworksInLoadOrderThenTheApplication) {
    auto app = bundle(dir.file("App"), "<plist><dict><key>k</key><string>app</string></dict></plist>");
    ::mkdir(dir.file("App/Frameworks").c_str(), 0700);
    auto one = bundle(dir.file("App/Frameworks/One"),
                      "<plist><dict><key>k</key><string>one</string><key>one</key><true/></dict></plist>");
    auto none = bundle(dir.file("App/Frameworks/None"), nullptr);
    auto bad = bundle(dir.file("App/Frameworks/Bad"), "<plist><array/></plist>");
    auto two = bundle(dir.file("App/Frameworks/Two"),
                      "<plist><dict><key>two</key><string>2</string><key>late</key><integer>1</integer></dict></plist>");
    auto outside = bundle(dir.file("Elsewhere"), "<plist><dict><key>outside</key><true/></dict></plist>");
    auto after = bundle(dir.file("App/Frameworks/After"), "<plist><dict><key>after</key><true/></dict></plist>");
    KQUBundle::setMainBundle(app);
    KQUBundle::setLoadedFrameworks({one, none, bad, two, outside, after});
    KQUUserDefaults::resetStandardUserDefaults();
    auto& defaults = KQUUserDefaults::standardUserDefaults();
    test::ScopedDefault warnings("KQULogLevel", "warning");
    test::LogCapture log;
    KQURegisterDefaultsFromFrameworksAndApplication(defaults);
    // The application wins; Two is not lost behind None and Bad; the walk stops at the framework outside.
    EXPECT_EQ(
        std::tuple(defaults.stringForKey("k"), defaults.boolForKey("one"), defaults.stringForKey("two")),
        std::tuple(std::optional<std::string>("app"), true, std::optional<std::string>("2")));
    EXPECT_FALSE(defaults.objectForKey("outside") || defaults.objectForKey("after"));
    EXPECT_TRUE(log.contains("does not hold a dictionary")) << "Bad is reported";
    EXPECT_FALSE(KQURegisterDefaultsFromBundle(defaults, *none));
}

}  // namespace
}  // namespace kqu
