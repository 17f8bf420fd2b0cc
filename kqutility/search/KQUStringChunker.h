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
// chunkArrayFromString() collects the sequence into a KQUStringChunkArray, which keeps one
// copy of the text and views every cell in it (nothing is allocated per cell), so cells
// live as long as the array and no longer; chunkArrayTakingString() keeps the caller's text
// instead of a copy. scan() hands the same sequence to a sink, for callers that stream the
// cells (the kqu tool) or only count them; it borrows the text for the call only. Plain
// functions: thread-safe; an array is read-only once made and may be read from several
// threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
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

// Memory for a chunk array's large buffers. Blocks of 4 MiB or more are anonymous mappings
// that ask for transparent huge pages: filling a fresh 100 MB buffer page by page costs
// more than chunking the text into it, and a 2 MiB page faults in once instead of 512
// times. Smaller blocks come from malloc. Contents are undefined when allocated. Owned by
// one object; moves with it.
class KQUChunkerBlock {
public:
    KQUChunkerBlock() = default;
    // Throws std::bad_alloc.
    explicit KQUChunkerBlock(size_t bytes);
    ~KQUChunkerBlock();
    KQUChunkerBlock(KQUChunkerBlock&& other) noexcept;
    KQUChunkerBlock& operator=(KQUChunkerBlock&& other) noexcept;
    KQUChunkerBlock(const KQUChunkerBlock&) = delete;
    KQUChunkerBlock& operator=(const KQUChunkerBlock&) = delete;

    void* data() const { return mData; }
    size_t size() const { return mBytes; }
    // Moves to a new block of bytes, keeping the first used bytes. Throws std::bad_alloc
    // (this block unchanged).
    void grow(size_t bytes, size_t used);

private:
    void release() noexcept;
    void* mData = nullptr;
    size_t mBytes = 0;
    void* mMapping = nullptr;  // the whole mapping, when the block is mapped
    size_t mMappingBytes = 0;
};

// The chunks of one text. The array owns one copy of the text, in which every cell's text
// lies (quotes and line breaks unescaped in place), and eight bytes per chunk: nothing is
// allocated per cell. Chunks are made on access; a cell's text stays valid while the array
// lives and is not assigned to. Move-only.
class KQUStringChunkArray {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = KQUStringChunk;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = KQUStringChunk;

        const_iterator() = default;
        const_iterator(const KQUStringChunkArray* array, size_t index) : mArray(array), mIndex(index) {}
        KQUStringChunk operator*() const { return (*mArray)[mIndex]; }
        const_iterator& operator++() {
            ++mIndex;
            return *this;
        }
        const_iterator operator++(int) {
            auto old = *this;
            ++mIndex;
            return old;
        }
        bool operator==(const const_iterator&) const = default;

    private:
        const KQUStringChunkArray* mArray = nullptr;
        size_t mIndex = 0;
    };
    using iterator = const_iterator;
    using value_type = KQUStringChunk;

    KQUStringChunkArray() = default;
    KQUStringChunkArray(KQUStringChunkArray&&) noexcept = default;
    KQUStringChunkArray& operator=(KQUStringChunkArray&&) noexcept = default;

    [[nodiscard]] size_t size() const { return mCount; }
    [[nodiscard]] bool empty() const { return mCount == 0; }
    KQUStringChunk operator[](size_t index) const {
        const Chunk& c = static_cast<const Chunk*>(mChunks.data())[index];
        if (c.length != 0) return KQUStringChunk::cell(std::u16string_view(text() + c.offset, c.length));
        return c.offset == kEndOfRow ? KQUStringChunk::endOfRow() : KQUStringChunk::null();
    }
    KQUStringChunk front() const { return (*this)[0]; }
    KQUStringChunk back() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }
    // The same chunks in the same order, texts compared by content.
    bool operator==(std::span<const KQUStringChunk> other) const;

    // How a chunk is kept: a cell is [offset, offset + length) of the array's text; length
    // 0 is the null cell, or the end of a row when offset is kEndOfRow.
    struct Chunk {
        uint32_t offset;
        uint32_t length;
    };
    static constexpr uint32_t kEndOfRow = UINT32_MAX;

private:
    friend class KQUStringChunker;
    const char16_t* text() const {
        return mCopiedText.data() ? static_cast<const char16_t*>(mCopiedText.data()) : mTakenText.data();
    }
    std::u16string mTakenText;     // the text handed over, or
    KQUChunkerBlock mCopiedText;   // a copy of the text
    KQUChunkerBlock mChunks;       // mCount Chunk records
    size_t mCount = 0;
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
    // be null). The array keeps a copy of text. Texts of 4,294,967,295 code units or more
    // throw std::length_error.
    [[nodiscard]] static KQUStringChunkArray chunkArrayFromString(std::u16string_view text, char16_t separator,
                                                                  bool allowQuotedText = true,
                                                                  uint64_t* columnsRead = nullptr,
                                                                  uint64_t* rowsRead = nullptr);
    // The same, keeping text itself instead of a copy (for large texts the caller no longer
    // needs: nothing is copied).
    [[nodiscard]] static KQUStringChunkArray chunkArrayTakingString(std::u16string text, char16_t separator,
                                                                    bool allowQuotedText = true,
                                                                    uint64_t* columnsRead = nullptr,
                                                                    uint64_t* rowsRead = nullptr);

    // The same sequence handed to sink.
    static void scan(std::u16string_view text, char16_t separator, bool allowQuotedText,
                     KQUStringChunkSink& sink, uint64_t* columnsRead = nullptr, uint64_t* rowsRead = nullptr);

private:
    // Chunks source[0, length) into array, whose text is text: source itself, or a buffer the
    // source is copied to as it is read.
    static void chunkInto(KQUStringChunkArray& array, const char16_t* source, char16_t* text, size_t length,
                          char16_t separator, bool allowQuotedText, uint64_t* columnsRead, uint64_t* rowsRead);
};

}  // namespace kqu
