#include "kqutility/search/KQUStringChunker.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kqu {
namespace {

constexpr size_t kMappedMinimum = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
constexpr char16_t kQuote = u'"';
constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kCarriageReturn = u'\r';

// The index of the first code unit at or after i that is a, b, LF or CR; n when none.
// Runs of ordinary text are skipped eight code units at a time where SSE2 exists, so that
// long cells cost little more than copying them.
size_t findBreak(const char16_t* p, size_t i, size_t n, char16_t a, char16_t b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    const __m128i vlf = _mm_set1_epi16(kLineFeed);
    const __m128i vcr = _mm_set1_epi16(kCarriageReturn);
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)),
                                   _mm_or_si128(_mm_cmpeq_epi16(v, vlf), _mm_cmpeq_epi16(v, vcr)));
        int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
    }
#endif
    for (; i < n; ++i) {
        char16_t c = p[i];
        if (c == a || c == b || c == kLineFeed || c == kCarriageReturn) return i;
    }
    return n;
}

// The field being read: a view of the source while it is one contiguous run (the common
// case, copied once into its cell), else an owned buffer.
class Field {
public:
    bool empty() const { return mUseBuffer ? mBuffer.empty() : mView.empty(); }
    void appendRun(std::u16string_view run) {
        if (!mUseBuffer && mView.empty()) {
            mView = run;
            return;
        }
        materialise();
        mBuffer.append(run);
    }
    void appendCharacter(char16_t c) {
        materialise();
        mBuffer.push_back(c);
    }
    std::u16string_view text() const { return mUseBuffer ? std::u16string_view(mBuffer) : mView; }
    void clear() {
        mBuffer.clear();
        mView = {};
        mUseBuffer = false;
    }

private:
    void materialise() {
        if (mUseBuffer) return;
        mBuffer.assign(mView);
        mView = {};
        mUseBuffer = true;
    }
    std::u16string mBuffer;
    std::u16string_view mView;
    bool mUseBuffer = false;
};

// Fields handed to a sink as they are finished.
class SinkOutput {
public:
    explicit SinkOutput(KQUStringChunkSink& sink) : mSink(sink) {}
    bool fieldEmpty() const { return mField.empty(); }
    void appendRun(std::u16string_view run) { mField.appendRun(run); }
    void appendCharacter(char16_t c, size_t) { mField.appendCharacter(c); }
    void finishField() {
        if (mField.empty())
            mSink.nullCell();
        else
            mSink.cell(mField.text());
        mField.clear();
    }
    void endOfRow() { mSink.endOfRow(); }

private:
    KQUStringChunkSink& mSink;
    Field mField;
};

// Fields unescaped in place in the text being scanned (the array's own copy): each cell
// starts where its first code unit lies, and what follows a removed quote or the LF of a
// CRLF moves back within the cell. Writing never passes the code unit being read, so the
// scan reads only text not yet written over; a cell made of one run is not moved at all.
class InPlaceOutput {
public:
    using Chunk = KQUStringChunkArray::Chunk;

    InPlaceOutput(char16_t* text, size_t expectedChunks)
        : mText(text), mChunks(expectedChunks * sizeof(Chunk)), mCapacity(expectedChunks) {}
    bool fieldEmpty() const { return mEnd == mStart; }
    void appendRun(std::u16string_view run) {
        auto from = static_cast<size_t>(run.data() - mText);
        if (mEnd == mStart) {
            mStart = from;
            mEnd = from + run.size();
            return;
        }
        if (from != mEnd) std::memmove(mText + mEnd, run.data(), run.size() * sizeof(char16_t));
        mEnd += run.size();
    }
    void appendCharacter(char16_t c, size_t at) {
        if (mEnd == mStart) mStart = mEnd = at;
        mText[mEnd++] = c;
    }
    void finishField() {
        push({static_cast<uint32_t>(mStart), static_cast<uint32_t>(mEnd - mStart)});
        mStart = mEnd = 0;
    }
    void endOfRow() { push({KQUStringChunkArray::kEndOfRow, 0}); }

    KQUChunkerBlock takeChunks() { return std::move(mChunks); }
    size_t count() const { return mCount; }

private:
    void push(Chunk chunk) {
        if (mCount == mCapacity) grow();
        static_cast<Chunk*>(mChunks.data())[mCount++] = chunk;
    }
    // The guess was short: twice the room, the chunks so far copied over.
    void grow() {
        size_t capacity = std::max<size_t>(mCapacity * 2, 16);
        KQUChunkerBlock larger(capacity * sizeof(Chunk));
        if (mCount) std::memcpy(larger.data(), mChunks.data(), mCount * sizeof(Chunk));
        mChunks = std::move(larger);
        mCapacity = capacity;
    }

    char16_t* mText;
    KQUChunkerBlock mChunks;
    size_t mCapacity;
    size_t mCount = 0;
    size_t mStart = 0;
    size_t mEnd = 0;
};

template <class Output>
void scanInto(std::u16string_view text, char16_t separator, bool allowQuotedText, Output& out,
              uint64_t* columnsRead, uint64_t* rowsRead) {
    const char16_t* p = text.data();
    const size_t n = text.size();
    // The quote and the line breaks are tested first, so a separator that is one of them
    // never splits fields (with quotes off, a quote separator is plain text).
    const bool separatorSplits =
        separator != kQuote && separator != kLineFeed && separator != kCarriageReturn;
    // Stand-ins for "no such character" that findBreak may compare against harmlessly.
    const char16_t outsideA = separatorSplits ? separator : kLineFeed;
    const char16_t outsideB = allowQuotedText ? kQuote : kLineFeed;

    bool inQuotes = false;
    bool lastWasEndOfRow = false;
    uint64_t rowCount = 0, columnCount = 0, maxColumnCount = 0;

    auto finishField = [&] {
        out.finishField();
        ++columnCount;
        lastWasEndOfRow = false;
    };
    auto finishRow = [&] {
        finishField();
        out.endOfRow();
        lastWasEndOfRow = true;
        if (columnCount > maxColumnCount) maxColumnCount = columnCount;
        ++rowCount;
        columnCount = 0;
    };

    size_t i = 0;
    while (i < n) {
        size_t end = inQuotes ? findBreak(p, i, n, kQuote, kQuote) : findBreak(p, i, n, outsideA, outsideB);
        if (end > i) out.appendRun(std::u16string_view(p + i, end - i));
        i = end;
        if (i >= n) break;
        const char16_t c = p[i];
        if (c == kQuote && allowQuotedText) {
            if (!inQuotes) {
                if (out.fieldEmpty())
                    inQuotes = true;
                else
                    out.appendCharacter(kQuote, i);
            } else if (i + 1 < n && p[i + 1] == kQuote) {
                out.appendCharacter(kQuote, i);
                ++i;
            } else {
                inQuotes = false;
            }
        } else if (c == kLineFeed || c == kCarriageReturn) {
            const size_t at = i;
            if (c == kCarriageReturn && i + 1 < n && p[i + 1] == kLineFeed) ++i;
            if (inQuotes)
                out.appendCharacter(kLineFeed, at);
            else
                finishRow();
        } else if (c == separator && !inQuotes) {
            finishField();
        } else {
            // A quote with quoted text off, or a stand-in character that is ordinary here.
            out.appendCharacter(c, i);
        }
        ++i;
    }
    if (!(out.fieldEmpty() && lastWasEndOfRow)) finishRow();
    if (columnsRead) *columnsRead = maxColumnCount;
    if (rowsRead) *rowsRead = rowCount;
}

}  // namespace

bool KQUStringChunkArray::operator==(std::span<const KQUStringChunk> other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
}

void KQUStringChunker::scan(std::u16string_view text, char16_t separator, bool allowQuotedText,
                            KQUStringChunkSink& sink, uint64_t* columnsRead, uint64_t* rowsRead) {
    SinkOutput out(sink);
    scanInto(text, separator, allowQuotedText, out, columnsRead, rowsRead);
}

KQUChunkerBlock::KQUChunkerBlock(size_t bytes) {
    if (bytes >= kMappedMinimum) {
        // Over-allocated by one huge page so that the block can start on a huge-page
        // boundary: only whole aligned 2 MiB ranges are given huge pages.
        size_t length = bytes + kHugePage;
        void* mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping != MAP_FAILED) {
            auto start = (reinterpret_cast<uintptr_t>(mapping) + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
            mData = reinterpret_cast<void*>(start);
            ::madvise(mData, bytes, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
            mMapping = mapping;
            mMappingBytes = length;
            mBytes = bytes;
            return;
        }
    }
    mData = std::malloc(std::max<size_t>(bytes, 1));
    if (!mData) throw std::bad_alloc();
    mBytes = bytes;
}

KQUChunkerBlock::~KQUChunkerBlock() {
    release();
}

KQUChunkerBlock::KQUChunkerBlock(KQUChunkerBlock&& other) noexcept
    : mData(std::exchange(other.mData, nullptr)),
      mBytes(std::exchange(other.mBytes, 0)),
      mMapping(std::exchange(other.mMapping, nullptr)),
      mMappingBytes(std::exchange(other.mMappingBytes, 0)) {}

KQUChunkerBlock& KQUChunkerBlock::operator=(KQUChunkerBlock&& other) noexcept {
    if (this != &other) {
        release();
        mData = std::exchange(other.mData, nullptr);
        mBytes = std::exchange(other.mBytes, 0);
        mMapping = std::exchange(other.mMapping, nullptr);
        mMappingBytes = std::exchange(other.mMappingBytes, 0);
    }
    return *this;
}

void KQUChunkerBlock::release() noexcept {
    if (mMapping)
        ::munmap(mMapping, mMappingBytes);
    else
        std::free(mData);
    mData = mMapping = nullptr;
    mBytes = mMappingBytes = 0;
}

KQUStringChunkArray KQUStringChunker::chunkArrayFromString(std::u16string_view text, char16_t separator,
                                                           bool allowQuotedText, uint64_t* columnsRead,
                                                           uint64_t* rowsRead) {
    if (text.size() >= KQUStringChunkArray::kEndOfRow)
        throw std::length_error("KQUStringChunker: text of 4294967295 code units or more");
    KQUStringChunkArray array;
    array.mCopiedText = KQUChunkerBlock(text.size() * sizeof(char16_t));
    auto* copy = static_cast<char16_t*>(array.mCopiedText.data());
    if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
    chunkInto(array, copy, text.size(), separator, allowQuotedText, columnsRead, rowsRead);
    return array;
}

KQUStringChunkArray KQUStringChunker::chunkArrayTakingString(std::u16string text, char16_t separator,
                                                             bool allowQuotedText, uint64_t* columnsRead,
                                                             uint64_t* rowsRead) {
    if (text.size() >= KQUStringChunkArray::kEndOfRow)
        throw std::length_error("KQUStringChunker: text of 4294967295 code units or more");
    KQUStringChunkArray array;
    array.mTakenText = std::move(text);
    chunkInto(array, array.mTakenText.data(), array.mTakenText.size(), separator, allowQuotedText, columnsRead,
              rowsRead);
    return array;
}

void KQUStringChunker::chunkInto(KQUStringChunkArray& array, char16_t* text, size_t length, char16_t separator,
                                 bool allowQuotedText, uint64_t* columnsRead, uint64_t* rowsRead) {
    // Most cells hold a few code units: a guess that rarely needs to grow (what is not
    // written to is never touched).
    InPlaceOutput out(text, length / 4 + 16);
    scanInto(std::u16string_view(text, length), separator, allowQuotedText, out, columnsRead, rowsRead);
    array.mCount = out.count();
    array.mChunks = out.takeChunks();
}

}  // namespace kqu
