#include "kqutility/search/KQUStringChunker.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kqu {
namespace {

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
    InPlaceOutput(char16_t* text, std::vector<KQUStringChunkArray::Chunk>& chunks) : mText(text), mChunks(chunks) {}
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
        mChunks.push_back({static_cast<uint32_t>(mStart), static_cast<uint32_t>(mEnd - mStart)});
        mStart = mEnd = 0;
    }
    void endOfRow() { mChunks.push_back({KQUStringChunkArray::kEndOfRow, 0}); }

private:
    char16_t* mText;
    std::vector<KQUStringChunkArray::Chunk>& mChunks;
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

KQUStringChunkArray KQUStringChunker::chunkArrayFromString(std::u16string_view text, char16_t separator,
                                                           bool allowQuotedText, uint64_t* columnsRead,
                                                           uint64_t* rowsRead) {
    return chunkArrayTakingString(std::u16string(text), separator, allowQuotedText, columnsRead, rowsRead);
}

KQUStringChunkArray KQUStringChunker::chunkArrayTakingString(std::u16string text, char16_t separator,
                                                             bool allowQuotedText, uint64_t* columnsRead,
                                                             uint64_t* rowsRead) {
    if (text.size() >= KQUStringChunkArray::kEndOfRow)
        throw std::length_error("KQUStringChunker: text of 4294967295 code units or more");
    KQUStringChunkArray array;
    array.mText = std::move(text);
    // Most cells hold a few code units: a guess that rarely needs to grow (what is not
    // written to is never touched).
    array.mChunks.reserve(array.mText.size() / 4 + 16);
    InPlaceOutput out(array.mText.data(), array.mChunks);
    scanInto(std::u16string_view(array.mText), separator, allowQuotedText, out, columnsRead, rowsRead);
    return array;
}

}  // namespace kqu
