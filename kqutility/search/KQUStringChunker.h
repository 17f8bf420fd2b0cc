// KQUStringChunker splits delimited text (tab- or comma-separated values, text pasted into
// a table) into rows and cells in one pass over its UTF-16 code units.
//
// The result is one flat sequence: the cells of the first row, an end-of-row marker, the
// cells of the second row, a marker, and so on. A cell is its text, or the null cell when
// the field is empty. With quoted text allowed, a field that starts with a double quote
// runs to the matching quote: separators and line breaks inside it are text, a doubled
// quote is one quote, and every line break inside it (LF, CR or CRLF) becomes one LF. A
// quote in the middle of an unquoted field is text. Rows end at LF, CR or CRLF; a text
// that ends in a line break adds no empty row, and the empty text is one row holding one
// null cell. An unterminated quote runs to the end of the text.
//
// chunkArrayFromString() collects the sequence into a KQUStringChunkArray: every cell's
// text lies in one buffer the array owns (cells are views into it; nothing is allocated
// per cell), so the cells live as long as the array and no longer. scan() hands the same
// sequence to a sink instead, for callers that stream the cells (the kqu tool) or only
// count them. Both borrow the text for the call only. Plain functions: thread-safe; an
// array is read-only once made and may be read from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kqu {

// One element of the sequence. The text is a view: of the KQUStringChunkArray it came from,
// or of whatever the caller made it from. Equal chunks have the same kind and equal texts.
struct KQUStringChunk {
    enum class Kind : uint8_t { Text, Null, EndOfRow };
    Kind kind = Kind::Null;
    std::u16string_view text;  // Kind::Text only

    static constexpr KQUStringChunk endOfRow() { return {Kind::EndOfRow, {}}; }
    static constexpr KQUStringChunk null() { return {Kind::Null, {}}; }
    static constexpr KQUStringChunk cell(std::u16string_view text) { return {Kind::Text, text}; }
    [[nodiscard]] bool isEndOfRow() const { return kind == Kind::EndOfRow; }
    [[nodiscard]] bool isNull() const { return kind == Kind::Null; }
    bool operator==(const KQUStringChunk&) const = default;
};

// The chunks of one text and the buffer holding their texts. Move-only: moving keeps every
// cell's view valid (the buffer itself never moves).
class KQUStringChunkArray {
public:
    using value_type = KQUStringChunk;
    using const_iterator = std::vector<KQUStringChunk>::const_iterator;
    using iterator = const_iterator;

    KQUStringChunkArray() = default;
    KQUStringChunkArray(KQUStringChunkArray&&) noexcept = default;
    KQUStringChunkArray& operator=(KQUStringChunkArray&&) noexcept = default;
    KQUStringChunkArray(const KQUStringChunkArray&) = delete;
    KQUStringChunkArray& operator=(const KQUStringChunkArray&) = delete;

    [[nodiscard]] size_t size() const { return mChunks.size(); }
    [[nodiscard]] bool empty() const { return mChunks.empty(); }
    const KQUStringChunk& operator[](size_t index) const { return mChunks[index]; }
    const KQUStringChunk& front() const { return mChunks.front(); }
    const KQUStringChunk& back() const { return mChunks.back(); }
    const_iterator begin() const { return mChunks.begin(); }
    const_iterator end() const { return mChunks.end(); }
    // The same chunks in the same order, texts compared by content.
    bool operator==(std::span<const KQUStringChunk> other) const;

private:
    friend class KQUStringChunker;
    std::unique_ptr<char16_t[]> mText;
    std::vector<KQUStringChunk> mChunks;
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
    [[nodiscard]] static KQUStringChunkArray chunkArrayFromString(std::u16string_view text, char16_t separator,
                                                                  bool allowQuotedText = true,
                                                                  uint64_t* columnsRead = nullptr,
                                                                  uint64_t* rowsRead = nullptr);

    // The same sequence handed to sink.
    static void scan(std::u16string_view text, char16_t separator, bool allowQuotedText,
                     KQUStringChunkSink& sink, uint64_t* columnsRead = nullptr, uint64_t* rowsRead = nullptr);
};

}  // namespace kqu
