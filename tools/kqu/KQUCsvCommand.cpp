// kqu csv: splits delimited text into rows and cells as a table does when text is pasted
// into it, and prints them for people (tab-separated lines), for programs (JSON arrays)
// or as counts.
//
//     $ printf 'a,"b,c"\n1,\n' | kqu csv -
//     a	b,c
//     1
//     $ kqu csv --count data.csv
//     2 2
//
// The input is UTF-8 (a leading byte-order mark is dropped) read whole; the cells come
// from KQUStringChunker and are written as they are found.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fmt/format.h>

#include "kqutility/foundation/KQUScopeExit.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/search/KQUStringChunker.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

// The input's bytes, in memory that asks for huge pages when large: in a virtual machine,
// faulting in a fresh 100 MB buffer 4 KiB at a time costs more than splitting the text.
struct Input {
    KQUChunkerBlock block;
    size_t size = 0;
    std::string_view bytes() const { return {static_cast<const char*>(block.data()), size}; }
};

Input readWhole(const std::string& path) {
    int fd = STDIN_FILENO;
    size_t expected = size_t{1} << 16;
    if (path != "-") {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0)
            throw KQUToolError(errno == ENOENT ? fmt::format("{}: no such file", path)
                                               : fmt::format("{}: {}", path, std::strerror(errno)));
        if (S_ISDIR(status.st_mode)) throw KQUToolError(fmt::format("{}: not a regular file", path));
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) throw KQUToolError(fmt::format("{}: {}", path, std::strerror(errno)));
        if (S_ISREG(status.st_mode)) expected = static_cast<size_t>(status.st_size) + 1;  // + 1: sees the end
    }
    KQUScopeExit closeFile([fd] {
        if (fd != STDIN_FILENO) ::close(fd);
    });
    Input input{KQUChunkerBlock(expected)};
    for (;;) {
        if (input.size == input.block.size())
            input.block.grow(input.size * 2, input.size);  // more than expected
        ssize_t got =
            ::read(fd, static_cast<char*>(input.block.data()) + input.size, input.block.size() - input.size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw KQUToolError(fmt::format("{}: {}", path, std::strerror(errno)));
        if (got == 0) break;
        input.size += static_cast<size_t>(got);
    }
    return input;
}

char16_t parseDelimiter(const std::string& text) {
    if (text == "tab") return u'\t';
    auto utf16 = KQUUTF16FromUTF8(text);
    if (!utf16 || utf16->size() != 1)
        throw KQUToolError(
            fmt::format("--delimiter: expected one character of the Basic Multilingual Plane or "
                        "\"tab\", not '{}'",
                        text));
    char16_t c = (*utf16)[0];
    if (c == u'"') throw KQUToolError("--delimiter: a double quote cannot separate cells");
    if (c == u'\n' || c == u'\r') throw KQUToolError("--delimiter: a line break cannot separate cells");
    return c;
}

// Writes to standard output through a large buffer; a failed write ends the command.
class Output {
public:
    ~Output() { flushQuietly(); }
    std::string& buffer() { return mBuffer; }
    void maybeFlush() {
        if (mBuffer.size() >= (1u << 20)) flush();
    }
    void flush() {
        if (!mBuffer.empty() && std::fwrite(mBuffer.data(), 1, mBuffer.size(), stdout) != mBuffer.size())
            throw KQUToolError(fmt::format("standard output: {}", std::strerror(errno)));
        mBuffer.clear();
        if (std::fflush(stdout) != 0)
            throw KQUToolError(fmt::format("standard output: {}", std::strerror(errno)));
    }

private:
    void flushQuietly() {
        if (!mBuffer.empty()) std::fwrite(mBuffer.data(), 1, mBuffer.size(), stdout);
    }
    std::string mBuffer;
};

// A line per row, cells tab-separated; \, tab, LF and CR escaped so that each row stays
// one line and cells stay apart.
class TextSink final : public KQUStringChunkSink {
public:
    explicit TextSink(Output& output) : mOut(output) {}
    void cell(std::u16string_view text) override {
        separate();
        for (char c : KQUUTF8FromUTF16(text)) {
            switch (c) {
                case '\\':
                    mOut.buffer() += "\\\\";
                    break;
                case '\t':
                    mOut.buffer() += "\\t";
                    break;
                case '\n':
                    mOut.buffer() += "\\n";
                    break;
                case '\r':
                    mOut.buffer() += "\\r";
                    break;
                default:
                    mOut.buffer() += c;
            }
        }
    }
    void nullCell() override { separate(); }
    void endOfRow() override {
        mOut.buffer() += '\n';
        mFirst = true;
        mOut.maybeFlush();
    }

private:
    void separate() {
        if (!mFirst) mOut.buffer() += '\t';
        mFirst = false;
    }
    Output& mOut;
    bool mFirst = true;
};

// A JSON array per row: strings, or null for an empty cell.
class JsonSink final : public KQUStringChunkSink {
public:
    explicit JsonSink(Output& output) : mOut(output) {}
    void cell(std::u16string_view text) override {
        separate();
        std::string& out = mOut.buffer();
        out += '"';
        for (char c : KQUUTF8FromUTF16(text)) {
            auto u = static_cast<unsigned char>(c);
            if (c == '"')
                out += "\\\"";
            else if (c == '\\')
                out += "\\\\";
            else if (c == '\n')
                out += "\\n";
            else if (c == '\r')
                out += "\\r";
            else if (c == '\t')
                out += "\\t";
            else if (u < 0x20 || u == 0x7f)
                out += fmt::format("\\u{:04x}", u);
            else
                out += c;
        }
        out += '"';
    }
    void nullCell() override {
        separate();
        mOut.buffer() += "null";
    }
    void endOfRow() override {
        mOut.buffer() += mFirst ? "[]\n" : "]\n";
        mFirst = true;
        mOut.maybeFlush();
    }

private:
    void separate() {
        mOut.buffer() += mFirst ? "[" : ",";
        mFirst = false;
    }
    Output& mOut;
    bool mFirst = true;
};

class CountingSink final : public KQUStringChunkSink {
public:
    void cell(std::u16string_view) override {}
    void nullCell() override {}
    void endOfRow() override {}
};

int runCsv(const KQUToolArguments& arguments) {
    const std::string& path = arguments.operands[0];
    const bool json = arguments.has("--json"), count = arguments.has("--count");
    if (json && count) throw KQUToolUsageError("--json and --count cannot be combined");
    char16_t delimiter = u',';
    if (auto value = arguments.value("--delimiter")) delimiter = parseDelimiter(*value);

    Input input = readWhole(path);
    std::string_view bytes = input.bytes();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    KQUChunkerBlock units(bytes.size() * sizeof(char16_t));  // never more UTF-16 units than bytes
    auto length = KQUUTF16FromUTF8Into(bytes, static_cast<char16_t*>(units.data()));
    if (!length) throw KQUToolError(fmt::format("{}: not UTF-8 text", path));
    input = {};
    const std::u16string_view text(static_cast<const char16_t*>(units.data()), *length);

    const bool quotes = !arguments.has("--no-quotes");
    if (count) {
        CountingSink sink;
        uint64_t columns = 0, rows = 0;
        KQUStringChunker::scan(text, delimiter, quotes, sink, &columns, &rows);
        fmt::print("{} {}\n", rows, columns);
        return 0;
    }
    Output output;
    if (json) {
        JsonSink sink(output);
        KQUStringChunker::scan(text, delimiter, quotes, sink);
    } else {
        TextSink sink(output);
        KQUStringChunker::scan(text, delimiter, quotes, sink);
    }
    output.flush();
    return 0;
}

KQUToolRegistration registration({
    .name = "csv",
    .operands = "FILE|-",
    .summary = "Split delimited text into rows and cells as a pasted table does",
    .options = {{"--delimiter", "C",
                 "the character between cells: one character, or \"tab\" (default: comma)"},
                {"--no-quotes", "", "double quotes are ordinary text (no quoted cells)"},
                {"--json", "", "one JSON array per row; null for an empty cell"},
                {"--count", "", "print only \"ROWS COLUMNS\" (COLUMNS: the widest row)"}},
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu csv --delimiter ';' --json export.csv",
    .details =
        "FILE is UTF-8 text (a leading byte-order mark is dropped); - reads standard input. A cell in "
        "double quotes may hold the delimiter, line breaks and doubled quotes (one quote each); a line "
        "break inside quotes becomes LF. Rows end at LF, CR or CRLF.\n\nWithout --json or --count each row "
        "is one line with its cells separated by tabs; a backslash, tab, LF and CR in a cell are written "
        "\\\\, \\t, \\n and \\r, and an empty cell as nothing.",
    .run = runCsv,
});

}  // namespace
}  // namespace kqu::tool
