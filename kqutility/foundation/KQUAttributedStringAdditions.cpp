#include "kqutility/foundation/KQUAttributedStringAdditions.h"

#include "kqutility/foundation/KQUICUSupport.h"

namespace kqu {

namespace {

// Appends text[range] to out, run by run.
void appendRange(KQUAttributedString& out, const KQUAttributedString& text, uint64_t start, uint64_t end) {
    for (uint64_t i = start; i < end;) {
        KQURange run;
        const auto& attributes = text.attributes(i, &run);
        uint64_t runEnd = std::min<uint64_t>(run.location + run.length, end);
        out.append(std::u16string_view(text.string()).substr(i, runEnd - i), attributes);
        i = runEnd;
    }
}

bool isParagraphEnd(char16_t c) { return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029 || c == 0x85; }

struct Paragraph {
    uint64_t start, end;
};

std::vector<Paragraph> paragraphs(const std::u16string& s) {
    std::vector<Paragraph> out;
    uint64_t start = 0;
    for (uint64_t i = 0; i < s.size(); ++i) {
        if (!isParagraphEnd(s[i])) continue;
        if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') ++i;
        out.push_back({start, i + 1});
        start = i + 1;
    }
    if (start < s.size()) out.push_back({start, s.size()});
    return out;
}

const KQUTextTable* tableOf(const KQUAttributedString& text, const Paragraph& p) {
    if (p.start >= p.end) return nullptr;
    const KQUValue* value = text.attribute(KQUParagraphStyleAttributeName, p.start);
    auto style = value ? value->object<KQUParagraphStyle>() : nullptr;
    if (!style || style->textBlocks().empty() || !style->textBlocks().front()) return nullptr;
    return style->textBlocks().front()->table().get();
}

}  // namespace

std::shared_ptr<const KQUColor> KQUColor::blueColor() {
    static const auto sBlue = std::make_shared<const KQUColor>(0, 0, 1, 1);
    return sBlue;
}

KQUAttributedString KQUAttributedSubstring(const KQUAttributedString& text, KQURange range) {
    if (range.location > text.length() || range.length > text.length() - range.location)
        text.attributes(text.length());  // throws NSRangeException with the class's own text
    KQUAttributedString out;
    appendRange(out, text, range.location, range.location + range.length);
    return out;
}

KQUAttributedString KQUStringWithoutAttachments(const KQUAttributedString& text) {
    KQUAttributedString out;
    for (uint64_t i = 0; i < text.length();) {
        KQURange run;
        const auto& attributes = text.attributes(i, &run);
        if (!attributes.count(KQUAttachmentAttributeName)) appendRange(out, text, i, run.location + run.length);
        i = run.location + run.length;
    }
    return out;
}

KQUAttributedString KQUStringWithoutTables(const KQUAttributedString& text) {
    KQUAttributedString out;
    for (const Paragraph& p : paragraphs(text.string()))
        if (!tableOf(text, p)) appendRange(out, text, p.start, p.end);
    return out;
}

KQUAttributedString KQUStringWithoutTableAttributes(const KQUAttributedString& text) {
    KQUAttributedString out = text;
    for (uint64_t i = 0; i < text.length();) {
        KQURange run;
        const KQUValue* value = text.attribute(KQUParagraphStyleAttributeName, i, &run);
        auto style = value ? value->object<KQUParagraphStyle>() : nullptr;
        if (style && !style->textBlocks().empty()) {
            auto plain = std::make_shared<const KQUParagraphStyle>(
                std::vector<std::shared_ptr<const KQUTextBlock>>{}, style->alignment());
            out.addAttribute(KQUParagraphStyleAttributeName, KQUValue(std::shared_ptr<const KQUObject>(plain)), run);
        }
        i = run.location + run.length;
    }
    return out;
}

std::optional<KQUAttributedString> KQUNextTableStringFromIndex(const KQUAttributedString& text, uint64_t index,
                                                               KQURange* tableRange) {
    const uint64_t length = text.length();
    if (index >= length) {
        if (tableRange) *tableRange = {length, 0};
        return std::nullopt;
    }
    auto all = paragraphs(text.string());
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].end <= index) continue;
        const KQUTextTable* table = tableOf(text, all[i]);
        if (!table) continue;
        size_t j = i;
        while (j + 1 < all.size() && tableOf(text, all[j + 1]) == table) ++j;
        KQURange range{all[i].start, all[j].end - all[i].start};
        if (tableRange) *tableRange = range;
        return KQUAttributedSubstring(text, range);
    }
    if (tableRange) *tableRange = {index, length - index};
    return std::nullopt;
}

const KQUAttributedString& KQUCarriageReturnAttributedString() {
    static const KQUAttributedString sString(u"\r");
    return sString;
}

KQUAttributedString KQUHyperlinkFromString(std::u16string_view text, std::string_view url) {
    KQUAttributedString::Attributes attributes{
        {KQULinkAttributeName, KQUValue(std::string(url))},
        {KQUForegroundColorAttributeName, KQUValue(std::shared_ptr<const KQUObject>(KQUColor::blueColor()))},
        {KQUUnderlineStyleAttributeName, KQUValue(KQUUnderlineStyleSingle)},
    };
    return KQUAttributedString(std::u16string(text), attributes);
}

KQUAttributedString KQUDeleteCharactersFromSet(const KQUAttributedString& text, const KQUCharacterSet& set) {
    const std::u16string& s = text.string();
    const icu::UnicodeSet& icuSet = KQUICUSet(set);
    KQUAttributedString out;
    for (uint64_t pos = 0; pos < s.size();) {
        auto keep = static_cast<uint64_t>(
            icuSet.span(s.data() + pos, static_cast<int32_t>(s.size() - pos), USET_SPAN_NOT_CONTAINED));
        appendRange(out, text, pos, pos + keep);
        pos += keep;
        if (pos < s.size())
            pos += static_cast<uint64_t>(
                icuSet.span(s.data() + pos, static_cast<int32_t>(s.size() - pos), USET_SPAN_CONTAINED));
    }
    return out;
}

}  // namespace kqu
