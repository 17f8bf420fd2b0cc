#include <gtest/gtest.h>

#include "kqutility/foundation/KQUStringTable.h"

namespace kqu {
namespace {

TEST(KQUStringTable, ParsesQuotedBareAndShorthandEntriesWithComments) {
    std::string error;
    auto table = KQUParseStringTable(
        "\xEF\xBB\xBF/* a block\n comment */\n"
        "\"&Undo %@\" = \"Undo %@\"; // trailing comment\n"
        "Bare.key_1 = value-2;\n"
        "\"Same\";\n"
        "\"dup\" = \"first\"; \"dup\" = \"second\";\n",
        &error);
    ASSERT_TRUE(table) << error;
    EXPECT_EQ(*table,
              (KQUStringTable{
                  {"&Undo %@", "Undo %@"}, {"Bare.key_1", "value-2"}, {"Same", "Same"}, {"dup", "second"}}));
}

TEST(KQUStringTable, DecodesEscapesIntoUTF8) {
    auto table = KQUParseStringTable(R"("k" = "a\"b\\c\n\t\u00e9\U20AC\ud83d\ude00";)");
    ASSERT_TRUE(table);
    // é = C3 A9, € = E2 82 AC, 😀 (U+1F600) = F0 9F 98 80
    EXPECT_EQ(table->at("k"), "a\"b\\c\n\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(KQUStringTable, RejectsMalformedTablesWithTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"a\" = \"b\"", "line 1: expected ';' after an entry"},
        {"\"a\" = \"b\";\n\"c\" = \"d", "line 2: unterminated string"},
        {"\"a\" = ;", "line 1: expected a quoted string"},
        {"/* open", "line 1: unterminated comment"},
        {"\"a\" = \"\\q\";", "line 1: unknown escape \\q"},
        {"\"a\" = \"\\ud800x\";", "line 1: unpaired surrogate in \\u escape"},
        {"\"a\" = \"\\u12G4\";", "line 1: bad hex digit in \\u escape"},
        {"\xFF\xFE\"\0a\0\"\0", "line 1: UTF-16 string table has an odd number of bytes"},
    };
    for (auto [text, expected] : cases) {
        std::string error;
        EXPECT_FALSE(KQUParseStringTable(text, &error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
}

TEST(KQUStringTable, LocalizedStringsComeFromTheEmbeddedUndoStrings) {
    EXPECT_EQ(KQULocalizedString("&Undo", "UndoStrings"), "Undo");
    EXPECT_EQ(KQULocalizedString("&Redo %@", "UndoStrings"), "Redo %@");
    EXPECT_EQ(KQULocalizedString("No such key", "UndoStrings"), "No such key");
    EXPECT_EQ(KQULocalizedString("&Undo", "NoSuchTable"), "&Undo");
}

TEST(KQUStringTable, FormatsPlaceholdersWithoutReadingArgumentsAsFormats) {
    EXPECT_EQ(KQUFormatLocalizedString("Undo %@", {"Typing"}), "Undo Typing");
    EXPECT_EQ(KQUFormatLocalizedString("%2$@ before %1$@, 100%%", {"a", "b"}), "b before a, 100%");
    EXPECT_EQ(KQUFormatLocalizedString("Undo %@", {"50%@ {}"}), "Undo 50%@ {}");
    EXPECT_EQ(KQUFormatLocalizedString("%@ and %@", {"one"}), "one and ");
    EXPECT_EQ(KQUFormatLocalizedString("trailing %", {}), "trailing %");
}

}  // namespace
}  // namespace kqu
