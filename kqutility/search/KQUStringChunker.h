// KQUStringChunker splits delimited text (tab- or comma-separated values, text pasted into
// a table) into rows and cells in one pass over its UTF-16 code units.
//
// The result is one flat vector: the cells of the first row, an end-of-row marker, the
// cells of the second row, a marker, and so on. A cell is its text, or the null cell when
// the field is empty. With quoted text allowed, a field that starts with a double quote
// runs to the matching quote: separators and line breaks inside it are text, a doubled
// quote is one quote, and every line break inside it (LF, CR or CRLF) becomes one LF. A
// quote in the middle of an unquoted field is text. Rows end at LF, CR or CRLF; a text
// that ends in a line break adds no empty row, and the empty text is one row holding one
// null cell. An unterminated quote runs to the end of the text.
//
// scan() hands the same sequence to a sink instead, for callers that stream the cells
// (the kqu tool) or only count them; chunkArrayFromString() collects it. Both borrow the
// text for the call only. Plain functions: thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kqu {

struct KQUStringChunk {
    enum class Kind : uint8_t { Text, Null, EndOfRow };
    Kind kind = Kind::Null;
    std::u16string text;  // Kind::Text only

    static KQUStringChunk endOfRow() { return {Kind::EndOfRow, {}}; }
    static KQUStringChunk null() { return {Kind::Null, {}}; }
    static KQUStringChunk cell(std::u16string_view text) { return {Kind::Text, std::u16string(text)}; }
    [[nodiscard]] bool isEndOfRow() const { return kind == Kind::EndOfRow; }
    [[nodiscard]] bool isNull() const { return kind == Kind::Null; }
    bool operator==(const KQUStringChunk&) const = default;
};

// Receives the chunks in order. text is valid only during the call.
class KQUStringChunkSink {
public:
    virtual ~KQUStringChunkSink() = default;
    virtual void cell(std::u16string_view text) = 0;  // never empty
    virtual void nullCell() = 0;
    virtual void endOfRow() = 0;
};

class KQUStringChunker {
public:
    // The cells of text split at separator (one UTF-16 code unit). A separator that is a
    // double quote or a line break acts as such and never splits fields. columnsRead
    // receives the widest row's number of cells, rowsRead the number of rows (either may
    // be null).
    [[nodiscard]] static std::vector<KQUStringChunk> chunkArrayFromString(std::u16string_view text,
                                                                          char16_t separator,
                                                                          bool allowQuotedText = true,
                                                                          uint64_t* columnsRead = nullptr,
                                                                          uint64_t* rowsRead = nullptr);

    // The same sequence handed to sink.
    static void scan(std::u16string_view text, char16_t separator, bool allowQuotedText,
                     KQUStringChunkSink& sink, uint64_t* columnsRead = nullptr, uint64_t* rowsRead = nullptr);
};

}  // namespace kqu
