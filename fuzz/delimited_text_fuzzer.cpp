// Feeds arbitrary text to the delimited-text chunker. The first byte picks the separator
// (among ordinary ones, a quote, a line break and a surrogate half) and whether quoted text
// is allowed; the rest is UTF-16 text (pairs of bytes). The chunker must never crash or
// read out of bounds, and must agree with a plain one-code-unit-at-a-time reading of the
// same rules (which the bulk copying and the vector scan must not change): the same cells,
// an end-of-row marker last, and rows and columns counted as the markers and widest row.
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "kqutility/search/KQUStringChunker.h"

namespace {

using kqu::KQUStringChunk;

// The cells' texts live in texts (a deque: adding one never moves the others).
std::vector<KQUStringChunk> reference(const std::u16string& text, char16_t separator, bool quotes,
                                      std::deque<std::u16string>& texts) {
    std::vector<KQUStringChunk> chunks;
    std::u16string field;
    bool inQuotes = false;
    auto finishField = [&] {
        chunks.push_back(field.empty() ? KQUStringChunk::null() : KQUStringChunk::cell(texts.emplace_back(field)));
        field.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        char16_t next = i + 1 < text.size() ? text[i + 1] : 0;
        if (c == u'"') {
            if (!quotes) {
                field += c;
            } else if (!inQuotes) {
                if (field.empty())
                    inQuotes = true;
                else
                    field += c;
            } else if (next == u'"') {
                field += c;
                ++i;
            } else {
                inQuotes = false;
            }
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && next == u'\n') ++i;
            if (inQuotes) {
                field += u'\n';
            } else {
                finishField();
                chunks.push_back(KQUStringChunk::endOfRow());
            }
        } else if (c == separator && !inQuotes) {
            finishField();
        } else {
            field += c;
        }
    }
    if (!(field.empty() && !chunks.empty() && chunks.back().isEndOfRow())) {
        finishField();
        chunks.push_back(KQUStringChunk::endOfRow());
    }
    return chunks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char16_t kSeparators[] = {u',', u'\t', u';', u'"', u'\n', u'\r', 0xD800, u'a'};
    const char16_t separator = kSeparators[data[0] % 8];
    const bool quotes = (data[0] & 8) == 0;
    std::u16string text;
    for (size_t i = 1; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

    uint64_t columns = 0, rows = 0;
    auto chunks = kqu::KQUStringChunker::chunkArrayFromString(text, separator, quotes, &columns, &rows);
    std::deque<std::u16string> texts;
    if (!(chunks == reference(text, separator, quotes, texts))) std::abort();
    uint64_t markers = 0, widest = 0, cells = 0;
    for (const auto& c : chunks) {
        if (c.isEndOfRow()) {
            ++markers;
            widest = cells > widest ? cells : widest;
            cells = 0;
        } else {
            if (c.kind == KQUStringChunk::Kind::Text && c.text.empty()) std::abort();
            ++cells;
        }
    }
    if (chunks.empty() || !chunks.back().isEndOfRow() || markers != rows || widest != columns) std::abort();
    return 0;
}
