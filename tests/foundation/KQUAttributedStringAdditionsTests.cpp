// Styled-text additions: tables found by the identity of their table, attachments removed by run.
#include "kqutility/foundation/KQUAttributedStringAdditions.h"

#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

KQUValue styleIn(const std::shared_ptr<const KQUTextTable>& table, uint32_t row) {
    std::vector<std::shared_ptr<const KQUTextBlock>> blocks{std::make_shared<const KQUTextBlock>(table, row, 0)};
    return KQUValue(std::shared_ptr<const KQUObject>(std::make_shared<const KQUParagraphStyle>(blocks)));
}

// "intro\n" T1 rows "r1\n" "r2\n", "mid\n", T2 row "s1\n", "end" (no final line break).
struct Document {
    std::shared_ptr<const KQUTextTable> t1 = std::make_shared<const KQUTextTable>(1);
    std::shared_ptr<const KQUTextTable> t2 = std::make_shared<const KQUTextTable>(1);
    KQUAttributedString text;
    Document() {
        text.append(u"intro\n");
        text.append(u"r1\n", {{KQUParagraphStyleAttributeName, styleIn(t1, 0)}});
        text.append(u"r2\r\n", {{KQUParagraphStyleAttributeName, styleIn(t1, 1)}});
        text.append(u"mid\n");
        text.append(u"s1\n", {{KQUParagraphStyleAttributeName, styleIn(t2, 0)}});
        text.append(u"end");
    }
};

TEST(KQUAttributedStringAdditions, FindsEachTableByTheIdentityOfItsTable) {
    Document d;
    const uint64_t length = d.text.length();  // 6 + 3 + 4 + 4 + 3 + 3 = 23
    const std::tuple<uint64_t, std::optional<std::u16string>, KQURange> cases[] = {
        {0, u"r1\nr2\r\n", {6, 7}},  {7, u"r1\nr2\r\n", {6, 7}}, {13, u"s1\n", {17, 3}},
        {19, u"s1\n", {17, 3}},       {20, std::nullopt, {20, 3}}, {23, std::nullopt, {23, 0}},
        {500, std::nullopt, {length, 0}},  // once a wrapped length
    };
    for (const auto& [index, table, range] : cases) {
        KQURange got{99, 99};
        auto found = KQUNextTableStringFromIndex(d.text, index, &got);
        EXPECT_EQ(found ? std::optional(found->string()) : std::nullopt, table) << index;
        EXPECT_EQ(got, range) << index;
    }
    EXPECT_EQ(KQUStringWithoutTables(d.text).string(), u"intro\nmid\nend");
    KQUAttributedString plain = KQUStringWithoutTableAttributes(d.text);
    EXPECT_EQ(plain.string(), d.text.string());
    EXPECT_FALSE(KQUNextTableStringFromIndex(plain, 0, nullptr));
}

TEST(KQUAttributedStringAdditions, AttachmentsLinksAndDeletedCharacters) {
    KQUAttributedString text(u"see ");
    auto attachment = std::make_shared<const KQUTextAttachment>("a.png");
    text.append(u"\uFFFC", {{KQUAttachmentAttributeName, KQUValue(std::shared_ptr<const KQUObject>(attachment))}});
    text.append(u" here", {{"bold", KQUValue(true)}});
    KQUAttributedString without = KQUStringWithoutAttachments(text);
    EXPECT_EQ(without.string(), u"see  here");
    EXPECT_EQ(without.attributes(5).count("bold"), 1u);

    KQUAttributedString link = KQUHyperlinkFromString(u"site", "https://example.org/a%20b");
    KQURange run;
    const auto& attributes = link.attributes(0, &run);
    EXPECT_EQ(run.length, 4u);
    EXPECT_EQ(*attributes.at(KQULinkAttributeName).string(), "https://example.org/a%20b");
    EXPECT_EQ(attributes.at(KQUUnderlineStyleAttributeName), KQUValue(1));
    auto blue = attributes.at(KQUForegroundColorAttributeName).object<KQUColor>();
    ASSERT_TRUE(blue);
    EXPECT_EQ(std::tuple(blue->red(), blue->green(), blue->blue()), std::tuple(0.0, 0.0, 1.0));

    auto set = KQUCharacterSet::withCharacters(u"e\U0001F600");
    KQUAttributedString emoji(u"e\U0001F600x");
    emoji.append(u"eye", {{"bold", KQUValue(true)}});
    KQUAttributedString deleted = KQUDeleteCharactersFromSet(emoji, set);
    EXPECT_EQ(deleted.string(), u"xy");
    EXPECT_EQ(deleted.attributes(1).count("bold"), 1u);
    EXPECT_EQ(KQUCarriageReturnAttributedString().string(), u"\r");
}

}  // namespace
}  // namespace kqu
