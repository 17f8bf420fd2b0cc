// Styled-text additions: the attribute objects a document's text carries besides plain
// values (attachments, paragraph styles whose text blocks name the table they belong to,
// colours), and the operations that strip attachments and tables from styled text.
//
// Attribute objects are immutable and shared (std::shared_ptr inside KQUValue), and are
// compared by identity: two blocks belong to the same table exactly when they hold the
// same KQUTextTable object. A paragraph is the text up to and including its terminator
// (LF, CR, CR LF, U+2028, U+2029 or U+0085); its style is that of its first character,
// and it belongs to a table when that style has text blocks: the table of its first
// block. Ranges count UTF-16 units, as KQUAttributedString does.
//
// Plain functions over value types; thread-safe for distinct strings.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUAttributedString.h"
#include "kqutility/foundation/KQUCharacterSet.h"

namespace kqu {

inline constexpr const char* KQUAttachmentAttributeName = "NSAttachment";
inline constexpr const char* KQUParagraphStyleAttributeName = "NSParagraphStyle";
inline constexpr const char* KQULinkAttributeName = "NSLink";
inline constexpr const char* KQUForegroundColorAttributeName = "NSColor";
inline constexpr const char* KQUUnderlineStyleAttributeName = "NSUnderline";  // integer; 1 = single
inline constexpr int64_t KQUUnderlineStyleSingle = 1;

// A file embedded in text.
class KQUTextAttachment : public KQUObject {
public:
    explicit KQUTextAttachment(std::string fileName = {}, KQUData contents = {})
        : mFileName(std::move(fileName)), mContents(std::move(contents)) {}
    const std::string& fileName() const { return mFileName; }
    const KQUData& contents() const { return mContents; }

private:
    std::string mFileName;
    KQUData mContents;
};

// A table, known only by its identity and its shape.
class KQUTextTable : public KQUObject {
public:
    explicit KQUTextTable(uint32_t columns = 1) : mColumns(columns) {}
    uint32_t numberOfColumns() const { return mColumns; }

private:
    uint32_t mColumns;
};

// One cell of a table.
class KQUTextBlock : public KQUObject {
public:
    KQUTextBlock(std::shared_ptr<const KQUTextTable> table, uint32_t row, uint32_t column)
        : mTable(std::move(table)), mRow(row), mColumn(column) {}
    const std::shared_ptr<const KQUTextTable>& table() const { return mTable; }
    uint32_t row() const { return mRow; }
    uint32_t column() const { return mColumn; }

private:
    std::shared_ptr<const KQUTextTable> mTable;
    uint32_t mRow, mColumn;
};

class KQUParagraphStyle : public KQUObject {
public:
    enum class Alignment { Natural, Left, Right, Center, Justified };
    explicit KQUParagraphStyle(std::vector<std::shared_ptr<const KQUTextBlock>> textBlocks = {},
                               Alignment alignment = Alignment::Natural)
        : mTextBlocks(std::move(textBlocks)), mAlignment(alignment) {}
    const std::vector<std::shared_ptr<const KQUTextBlock>>& textBlocks() const { return mTextBlocks; }
    Alignment alignment() const { return mAlignment; }

private:
    std::vector<std::shared_ptr<const KQUTextBlock>> mTextBlocks;
    Alignment mAlignment;
};

class KQUColor : public KQUObject {
public:
    KQUColor(double red, double green, double blue, double alpha = 1) : mRGBA{red, green, blue, alpha} {}
    static std::shared_ptr<const KQUColor> blueColor();
    double red() const { return mRGBA[0]; }
    double green() const { return mRGBA[1]; }
    double blue() const { return mRGBA[2]; }
    double alpha() const { return mRGBA[3]; }

private:
    double mRGBA[4];
};

// The part of text in range (throws NSRangeException past the end).
[[nodiscard]] KQUAttributedString KQUAttributedSubstring(const KQUAttributedString& text, KQURange range);
// A copy without the runs that carry an attachment.
[[nodiscard]] KQUAttributedString KQUStringWithoutAttachments(const KQUAttributedString& text);
// A copy without the paragraphs of every table.
[[nodiscard]] KQUAttributedString KQUStringWithoutTables(const KQUAttributedString& text);
// A copy whose paragraph styles have lost their text blocks (the text stays).
[[nodiscard]] KQUAttributedString KQUStringWithoutTableAttributes(const KQUAttributedString& text);
// The first table at or after index (from the paragraph holding index on) and its range
// in *tableRange; when there is none, nullopt and (index, length - index); for an index
// at or past the end, nullopt and (length, 0).
[[nodiscard]] std::optional<KQUAttributedString> KQUNextTableStringFromIndex(const KQUAttributedString& text,
                                                                           uint64_t index, KQURange* tableRange);
// One shared string holding U+000D without attributes.
const KQUAttributedString& KQUCarriageReturnAttributedString();
// text with, over its whole length, the link url (the URL's absolute string), the
// foreground colour blue and single underlining.
[[nodiscard]] KQUAttributedString KQUHyperlinkFromString(std::u16string_view text, std::string_view url);
// A copy without the characters of set (a surrogate pair is one character).
[[nodiscard]] KQUAttributedString KQUDeleteCharactersFromSet(const KQUAttributedString& text,
                                                             const KQUCharacterSet& set);

}  // namespace kqu
