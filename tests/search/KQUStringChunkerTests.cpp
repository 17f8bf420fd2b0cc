#include <fmt/format.h>
#include <gtest/gtest.h>

#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/search/KQUStringChunker.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;

namespace {

// Rows as lines of cells "N" (null) or "S" + hex of the UTF-8, joined by "|", as the oracle writes.
std::string encode(const KQUStringChunkArray& chunks) {
    std::string out, row;
    for (const auto& c : chunks) {
        if (c.isEndOfRow())
            out += row + "\n", row.clear();
        else
            row += (row.empty() ? "" : "|") + (c.isNull() ? "N" : "S" + toHex(KQUUTF8FromUTF16(c.text)));
    }
    EXPECT_TRUE(row.empty()) << "the last row has no end-of-row marker";
    return out;
}

// Generated files read by Python's csv.reader, with this chunker's deliberate differences
// mapped: an empty cell is null, CR and CRLF inside quotes are LF, an empty line is one
// empty cell, the empty text one row of one empty cell, and a last row of only "" after a
// line break is not a row.
const char* kOracle = R"PY(
import csv, io, random, sys
out = sys.argv[1]
for seed in range(150):
    r = random.Random(seed)
    delim = r.choice([',', '\t', ';'])
    alphabet = ['a', 'b', 'Z', '1', ' ', '\u00e9', '\u4e2d', '\U0001F600', delim, '"', '\n', '\r', ',', ';', '\t']
    text = ''
    for i in range(r.randint(0, 8)):
        cells = []
        for j in range(r.randint(1, 5)):
            c = ''.join(r.choice(alphabet) for _ in range(r.choice([0, 0, 1, 2, 5, 12])))
            if any(ch in c for ch in (delim, '"', '\n', '\r')) or r.random() < 0.2:
                c = '"' + c.replace('"', '""') + '"'
            cells.append(c)
        text += delim.join(cells) + r.choice(['\n', '\r\n', '\r', '\n', ''] if i else ['\n', '\r\n', '\r'])
    if r.random() < 0.4:
        text = text.rstrip('\r\n')
    if r.random() < 0.1:
        text += '\n""'
    rows = list(csv.reader(io.StringIO(text, newline=''), delimiter=delim))
    if len(text) >= 3 and text.endswith('""') and text[-3] in '\r\n':
        rows.pop()
    rows = [[None if c == '' else c.replace('\r\n', '\n').replace('\r', '\n') for c in row] or [None] for row in rows]
    if text == '':
        rows = [[None]]
    with open('%s/case%d.csv' % (out, seed), 'w', encoding='utf-8', newline='') as f:
        f.write(text)
    with open('%s/case%d.expected' % (out, seed), 'w') as f:
        f.write('%d %d %d\n' % (ord(delim), len(rows), max(len(row) for row in rows)))
        for row in rows:
            f.write('|'.join('N' if c is None else 'S' + c.encode('utf-8').hex() for c in row) + '\n')
)PY";

TEST(KQUStringChunker, AgreesWithPythonCsvReader) {
    TempDir dir;
    writeFile(dir.file("oracle.py"), kOracle);
    std::string output;
    const std::string command =
        fmt::format("/usr/bin/python3 '{}' '{}' 2>&1", dir.file("oracle.py"), dir.path());
    ASSERT_EQ(runCommand(command, &output), 0) << output;
    for (int seed = 0; seed < 150; ++seed) {
        auto text = KQUUTF16FromUTF8(readFile(dir.file(fmt::format("case{}.csv", seed))));
        ASSERT_TRUE(text);
        const std::string expected = readFile(dir.file(fmt::format("case{}.expected", seed)));
        const unsigned delimiter = static_cast<unsigned>(std::stoul(expected));  // the first number
        uint64_t rows = 0, columns = 0;
        auto chunks =
            KQUStringChunker::chunkArrayFromString(*text, char16_t(delimiter), true, &columns, &rows);
        EXPECT_EQ(fmt::format("{} {} {}\n", delimiter, rows, columns) + encode(chunks), expected)
            << "case " << seed;
    }
}

const auto S = [](std::u16string_view t) { return KQUStringChunk::cell(t); };
const auto N = KQUStringChunk::null();
const auto E = KQUStringChunk::endOfRow();

// Where Python cannot answer: quotes off, separators that cannot split.
TEST(KQUStringChunker, QuotesOffAndSeparatorsThatCannotSplit) {
    // Text, separator, quotes, chunks, columns, rows.
    // clang-format off
    const std::tuple<std::u16string, char16_t, bool, std::vector<KQUStringChunk>, uint64_t, uint64_t> cases[] = {
        {u"\"a,b\",c", u',', false, {S(u"\"a"), S(u"b\""), S(u"c"), E}, 3, 1},
        {u"x\"\"y\r\n\"", u',', false, {S(u"x\"\"y"), E, S(u"\""), E}, 1, 2},
        {u"a\"b\"c", u'"', true, {S(u"a\"b\"c"), E}, 1, 1},
        {u"a\nb", u'\n', true, {S(u"a"), E, S(u"b"), E}, 1, 2},
        {u"1,2,3\n1,2,3,4,5\n\n", u',', true,
         {S(u"1"), S(u"2"), S(u"3"), E, S(u"1"), S(u"2"), S(u"3"), S(u"4"), S(u"5"), E, N, E}, 5, 3},
        {u"\"open, never closed\nstill", u',', true, {S(u"open, never closed\nstill"), E}, 1, 1},
    };
    // clang-format on
    for (const auto& [text, separator, quotes, expected, expectedColumns, expectedRows] : cases) {
        uint64_t columns = 0, rows = 0;
        auto chunks = KQUStringChunker::chunkArrayFromString(text, separator, quotes, &columns, &rows);
        EXPECT_EQ(std::tie(chunks, columns, rows), std::tie(expected, expectedColumns, expectedRows))
            << KQUUTF8FromUTF16(text);
    }
}

// Cells live in the array's own buffer, not in the source or the array's old place, at any length
// (the last case is long enough for buffers that ask for huge pages).
TEST(KQUStringChunker, CellsOutliveTheSourceAndFollowTheArray) {
    const std::u16string longCell(300, u'q');
    std::pair<std::u16string, std::vector<KQUStringChunk>> cases[] = {
        {u"ab,\"c\"\"d\"\r\n,x", {S(u"ab"), S(u"c\"d"), E, N, S(u"x"), E}},
        {longCell + u",\"\"\"\"", {S(longCell), S(u"\""), E}},
        {{}, {}},
    };
    for (int i = 0; i < 250000; ++i) {
        cases[2].first += u"ab,\"c\"\"d\"\r\n,x\n";
        cases[2].second.insert(cases[2].second.end(), {S(u"ab"), S(u"c\"d"), E, N, S(u"x"), E});
    }
    for (auto& [source, expected] : cases) {
        KQUStringChunkArray kept;
        {
            auto chunks = KQUStringChunker::chunkArrayFromString(source, u',');
            kept = std::move(chunks);
            std::fill(source.begin(), source.end(), u'#');
        }
        EXPECT_EQ(kept, expected) << expected.size();
    }
}

}  // namespace
