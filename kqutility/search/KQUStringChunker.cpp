#include "kqutility/search/KQUStringChunker.h"

#include "kqutility/search/KQUStringChunkerMasks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kqu {
namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kCarriageReturn = u'\r';

}  // namespace
}  // namespace kqu

namespace kqu::chunker {
namespace {

// The chunker looks at the text 64 code units at a time: a mask word has a bit set for each
// code unit the state machine must see (the separator, the quote, LF or CR), so runs of
// ordinary text, and separators or line breaks inside quotes, cost one bit test each
// instead of a branch per code unit. Masks are made for a batch of code units at once
// (copying them to the destination when the text is being copied, so that the text is read
// from memory once), by the widest vector instructions the processor has.
void masksScalar(const char16_t* src, char16_t* dst, size_t words, Stops stops, uint64_t* masks) {
    if (dst) std::memcpy(dst, src, words * kWord * sizeof(char16_t));
    for (size_t w = 0; w < words; ++w) masks[w] = maskOfWord(src + w * kWord, kWord, stops);
}

#if defined(__x86_64__)
// Lanes equal to one of the four stops are all ones.
inline __m128i stopsSse2(__m128i v, const __m128i (&stops)[4]) {
    return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, stops[0]), _mm_cmpeq_epi16(v, stops[1])),
                        _mm_or_si128(_mm_cmpeq_epi16(v, stops[2]), _mm_cmpeq_epi16(v, stops[3])));
}

void masksSse2(const char16_t* src, char16_t* dst, size_t words, Stops stops, uint64_t* masks) {
    const __m128i vstops[4] = {_mm_set1_epi16(static_cast<short>(stops.a)),
                               _mm_set1_epi16(static_cast<short>(stops.b)), _mm_set1_epi16(kLineFeed),
                               _mm_set1_epi16(kCarriageReturn)};
    for (size_t w = 0; w < words; ++w) {
        uint64_t mask = 0;
        for (size_t q = 0; q < 4; ++q) {
            size_t at = w * kWord + q * 16;
            __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at));
            __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at + 8));
            if (dst) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + at), v0);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + at + 8), v1);
            }
            // Each 16-bit hit (0 or -1) packs to one byte, so the byte mask is the unit mask.
            auto bits = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_packs_epi16(stopsSse2(v0, vstops), stopsSse2(v1, vstops))));
            mask |= uint64_t{bits} << (q * 16);
        }
        masks[w] = mask;
    }
}

// The same for sixteen lanes.
__attribute__((target("avx2"))) inline __m256i stopsAvx2(__m256i v, const __m256i (&stops)[4]) {
    return _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, stops[0]), _mm256_cmpeq_epi16(v, stops[1])),
                           _mm256_or_si256(_mm256_cmpeq_epi16(v, stops[2]), _mm256_cmpeq_epi16(v, stops[3])));
}

__attribute__((target("avx2"))) void masksAvx2(const char16_t* src, char16_t* dst, size_t words, Stops stops,
                                               uint64_t* masks) {
    const __m256i vstops[4] = {_mm256_set1_epi16(static_cast<short>(stops.a)),
                               _mm256_set1_epi16(static_cast<short>(stops.b)), _mm256_set1_epi16(kLineFeed),
                               _mm256_set1_epi16(kCarriageReturn)};
    for (size_t w = 0; w < words; ++w) {
        uint64_t mask = 0;
        for (size_t h = 0; h < 2; ++h) {
            size_t at = w * kWord + h * 32;
            __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + at));
            __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + at + 16));
            if (dst) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + at), v0);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + at + 16), v1);
            }
            // Packing works within 128-bit lanes (units 0-7, 16-23, 8-15, 24-31); the
            // permutation puts the four quarters back in order.
            __m256i packed = _mm256_permute4x64_epi64(
                _mm256_packs_epi16(stopsAvx2(v0, vstops), stopsAvx2(v1, vstops)), 0xD8);
            auto bits = static_cast<uint32_t>(_mm256_movemask_epi8(packed));
            mask |= uint64_t{bits} << (h * 32);
        }
        masks[w] = mask;
    }
}
#endif

}  // namespace

uint64_t maskOfWord(const char16_t* p, size_t count, Stops stops) {
    uint64_t mask = 0;
    for (size_t k = 0; k < count; ++k) {
        char16_t c = p[k];
        if (c == stops.a || c == stops.b || c == kLineFeed || c == kCarriageReturn) mask |= uint64_t{1} << k;
    }
    return mask;
}

MaskFunction bestMaskFunction() {
    return maskFunctions().back();
}

std::vector<MaskFunction> maskFunctions() {
    std::vector<MaskFunction> functions{masksScalar};
#if defined(__x86_64__)
    functions.push_back(masksSse2);
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) functions.push_back(masksAvx2);
#endif
    return functions;
}

}  // namespace kqu::chunker

namespace kqu {
namespace {

constexpr size_t kMappedMinimum = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

using chunker::kWord;
using chunker::maskOfWord;
using chunker::Stops;

constexpr size_t kBatch = 1024;  // code units whose masks are made at once

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

// Fields handed to a sink as they are finished; runs are views of the text being scanned.
class SinkOutput {
public:
    SinkOutput(const char16_t* text, KQUStringChunkSink& sink) : mText(text), mSink(sink) {}
    bool fieldEmpty() const { return mField.empty(); }
    void appendRun(size_t from, size_t length) {
        if (length) mField.appendRun(std::u16string_view(mText + from, length));
    }
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
    const char16_t* mText;
    KQUStringChunkSink& mSink;
    Field mField;
};

// Fields unescaped in place in the array's own text: each cell starts where its first code
// unit lies, and what follows a removed quote or the LF of a CRLF moves back within the
// cell. Writing never passes the code unit being read, so the scan reads only text not yet
// written over; a cell made of one run is not moved at all.
class InPlaceOutput {
public:
    using Chunk = KQUStringChunkArray::Chunk;

    InPlaceOutput(char16_t* text, size_t expectedChunks)
        : mText(text), mChunks(expectedChunks * sizeof(Chunk)), mCapacity(expectedChunks) {}
    bool fieldEmpty() const { return mEnd == mStart; }
    void appendRun(size_t from, size_t length) {
        if (length == 0) return;
        if (mEnd == mStart) {
            mStart = from;
            mEnd = from + length;
            return;
        }
        if (from != mEnd) std::memmove(mText + mEnd, mText + from, length * sizeof(char16_t));
        mEnd += length;
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
    // The guess was short: twice the room.
    void grow() {
        size_t capacity = std::max<size_t>(mCapacity * 2, 16);
        mChunks.grow(capacity * sizeof(Chunk), mCount * sizeof(Chunk));
        mCapacity = capacity;
    }

    char16_t* mText;
    KQUChunkerBlock mChunks;
    size_t mCapacity;
    size_t mCount = 0;
    size_t mStart = 0;
    size_t mEnd = 0;
};

// Reads src[0, n) and hands its fields to out. When copy is not null, the text is copied
// there as it is read (out works on the copy). Between two code units the scan stops at,
// text is one run: out gets it whole.
template <class Output>
void scanInto(const char16_t* src, char16_t* copy, size_t n, char16_t separator, bool allowQuotedText,
              Output& out, uint64_t* columnsRead, uint64_t* rowsRead) {
    // The quote and the line breaks are tested first, so a separator that is one of them
    // never splits fields (with quotes off, a quote separator is plain text). LF stands in
    // for a character that is not looked for.
    const bool separatorSplits =
        separator != kQuote && separator != kLineFeed && separator != kCarriageReturn;
    const Stops stops{separatorSplits ? separator : kLineFeed, allowQuotedText ? kQuote : kLineFeed};

    bool inQuotes = false;
    bool lastWasEndOfRow = false;
    uint64_t rowCount = 0, columnCount = 0, maxColumnCount = 0;
    size_t runStart = 0;  // the first code unit not yet handed to out

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
    auto isNext = [&](size_t i, char16_t c) { return i + 1 < n && src[i + 1] == c; };

    static const chunker::MaskFunction makeMasks = chunker::bestMaskFunction();  // chosen once
    uint64_t masks[kBatch / kWord];
    for (size_t batch = 0; batch < n; batch += kBatch) {
        const size_t count = std::min(kBatch, n - batch);
        const size_t fullWords = count / kWord, tail = count % kWord;
        makeMasks(src + batch, copy ? copy + batch : nullptr, fullWords, stops, masks);
        if (tail) {
            size_t at = batch + fullWords * kWord;
            if (copy) std::memcpy(copy + at, src + at, tail * sizeof(char16_t));
            masks[fullWords] = maskOfWord(src + at, tail, stops);
        }
        for (size_t w = 0; w < fullWords + (tail != 0); ++w) {
            for (uint64_t mask = masks[w]; mask != 0; mask &= mask - 1) {
                const size_t i = batch + w * kWord + static_cast<size_t>(__builtin_ctzll(mask));
                if (i < runStart) continue;  // taken with the code unit before it (CRLF, "")
                const char16_t c = src[i];
                if (c == kQuote && allowQuotedText) {
                    if (!inQuotes) {
                        // Only a field's first code unit opens quoted text; elsewhere a
                        // quote is text and the run goes on.
                        if (i == runStart && out.fieldEmpty()) {
                            inQuotes = true;
                            runStart = i + 1;
                        }
                    } else if (isNext(i, kQuote)) {
                        out.appendRun(runStart, i + 1 - runStart);  // one of the two quotes
                        runStart = i + 2;
                    } else {
                        out.appendRun(runStart, i - runStart);
                        inQuotes = false;
                        runStart = i + 1;
                    }
                } else if (c == kLineFeed || c == kCarriageReturn) {
                    const size_t next = c == kCarriageReturn && isNext(i, kLineFeed) ? i + 2 : i + 1;
                    if (inQuotes) {
                        if (c == kLineFeed) continue;  // text as it stands
                        out.appendRun(runStart, i - runStart);
                        out.appendCharacter(kLineFeed, i);
                    } else {
                        out.appendRun(runStart, i - runStart);
                        finishRow();
                    }
                    runStart = next;
                } else if (!inQuotes) {  // the separator
                    out.appendRun(runStart, i - runStart);
                    finishField();
                    runStart = i + 1;
                }
            }
        }
    }
    if (runStart < n) out.appendRun(runStart, n - runStart);
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
    SinkOutput out(text.data(), sink);
    scanInto(text.data(), nullptr, text.size(), separator, allowQuotedText, out, columnsRead, rowsRead);
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

void KQUChunkerBlock::grow(size_t bytes, size_t used) {
    KQUChunkerBlock larger(bytes);
    if (used) std::memcpy(larger.data(), mData, used);
    *this = std::move(larger);
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
    chunkInto(array, text.data(), static_cast<char16_t*>(array.mCopiedText.data()), text.size(), separator,
              allowQuotedText, columnsRead, rowsRead);
    return array;
}

KQUStringChunkArray KQUStringChunker::chunkArrayTakingString(std::u16string text, char16_t separator,
                                                             bool allowQuotedText, uint64_t* columnsRead,
                                                             uint64_t* rowsRead) {
    if (text.size() >= KQUStringChunkArray::kEndOfRow)
        throw std::length_error("KQUStringChunker: text of 4294967295 code units or more");
    KQUStringChunkArray array;
    array.mTakenText = std::move(text);
    chunkInto(array, array.mTakenText.data(), array.mTakenText.data(), array.mTakenText.size(), separator,
              allowQuotedText, columnsRead, rowsRead);
    return array;
}

void KQUStringChunker::chunkInto(KQUStringChunkArray& array, const char16_t* source, char16_t* text,
                                 size_t length, char16_t separator, bool allowQuotedText,
                                 uint64_t* columnsRead, uint64_t* rowsRead) {
    // Most cells hold a few code units: a guess that rarely needs to grow (what is not
    // written to is never touched).
    InPlaceOutput out(text, length / 4 + 16);
    scanInto(source, source == text ? nullptr : text, length, separator, allowQuotedText, out, columnsRead,
             rowsRead);
    array.mCount = out.count();
    array.mChunks = out.takeChunks();
}

}  // namespace kqu
