// Delimited text, in the same run:
//  - chunking a generated 100 MB comma-separated file (UTF-16 in memory) into the flat cell
//    vector vs a bare memchr scan for the delimiter over its UTF-8 bytes (want >= 0.3); the
//    UTF-8 to UTF-16 conversion is reported on its own, and beside it the chunker keeping
//    the text it is handed (no copy) and its counting pass (no cells kept);
//  - the whole process: `kqu csv --count FILE` vs Python's csv.reader counting the rows of
//    the same file (reported).
// The file mixes short and long cells, quoted cells with delimiters, doubled quotes and line
// breaks, empty cells and non-ASCII text.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <unistd.h>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "KQUBenchSupport.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/search/KQUStringChunker.h"

namespace {

constexpr size_t kBytes = 100u << 20;

const std::string& utf8() {
    static const std::string sText = [] {
        std::mt19937 random(18);
        const char* words[] = {"alpha",       "beta",
                               "gamma",       "delta",
                               "12.5",        "2026-12-06",
                               "K\xC3\xB6ln", "\xE4\xB8\xAD\xE6\x96\x87",
                               "x",           "a longer note about the row"};
        std::string text;
        text.reserve(kBytes + 1024);
        while (text.size() < kBytes) {
            for (int column = 0; column < 8; ++column) {
                if (column) text += ',';
                unsigned kind = random() % 16;
                if (kind == 0) continue;  // empty
                if (kind == 1) {
                    text += "\"quoted, with \"\"quotes\"\"\nand a line\"";
                    continue;
                }
                text += words[random() % 10];
                if (kind < 6) text += words[random() % 10];
            }
            text += (random() % 4 == 0) ? "\r\n" : "\n";
        }
        return text;
    }();
    return sText;
}

const std::u16string& utf16() {
    static const std::u16string sText = *kqu::KQUUTF16FromUTF8(utf8());
    return sText;
}

void BM_Utf8ToUtf16(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(kqu::KQUUTF16FromUTF8(utf8()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8().size()));
}

void BM_Chunk(benchmark::State& state) {
    const std::u16string& text = utf16();
    for (auto _ : state) {
        uint64_t rows = 0;
        auto chunks = kqu::KQUStringChunker::chunkArrayFromString(text, u',', true, nullptr, &rows);
        benchmark::DoNotOptimize(chunks.size());
        state.counters["rows"] = static_cast<double>(rows);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8().size()));
}

// The same, handing the chunker a text it keeps (no copy); the copy made for it here is
// not timed.
void BM_ChunkTakingString(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::u16string text = utf16();
        state.ResumeTiming();
        auto chunks = kqu::KQUStringChunker::chunkArrayTakingString(std::move(text), u',', true);
        benchmark::DoNotOptimize(chunks.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8().size()));
}

class NoSink final : public kqu::KQUStringChunkSink {
public:
    void cell(std::u16string_view text) override { mUnits += text.size(); }
    void nullCell() override {}
    void endOfRow() override {}
    uint64_t mUnits = 0;
};

void BM_ChunkScanOnly(benchmark::State& state) {
    const std::u16string& text = utf16();
    for (auto _ : state) {
        NoSink sink;
        kqu::KQUStringChunker::scan(text, u',', true, sink);
        benchmark::DoNotOptimize(sink.mUnits);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8().size()));
}

void BM_MemchrDelimiter(benchmark::State& state) {
    const std::string& text = utf8();
    for (auto _ : state) {
        size_t count = 0;
        const char* p = text.data();
        const char* end = p + text.size();
        while ((p = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(end - p))))) {
            ++count;
            ++p;
        }
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8().size()));
}

std::string fileOnDisk() {
    static const std::string sPath = [] {
        std::string path = fmt::format("/tmp/kqu-bench-csv-{}.csv", ::getpid());
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(utf8().data(), 1, utf8().size(), f) != utf8().size()) std::abort();
        std::fclose(f);
        return path;
    }();
    return sPath;
}

void runProcess(benchmark::State& state, const std::string& command) {
    for (auto _ : state)
        if (std::system((command + " >/dev/null").c_str()) != 0) state.SkipWithError(command.c_str());
}

void BM_ProcessKquCount(benchmark::State& state) {
    runProcess(state, fmt::format("'{}' csv --count '{}'", KQU_TOOL_PATH, fileOnDisk()));
}

void BM_ProcessPythonCsv(benchmark::State& state) {
    runProcess(
        state,
        fmt::format("/usr/bin/python3 -c 'import csv,sys; print(sum(1 for _ in csv.reader(open(sys.argv[1], "
                    "newline=\"\", encoding=\"utf-8\"))))' '{}'",
                    fileOnDisk()));
}

BENCHMARK(BM_Utf8ToUtf16)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(2);
BENCHMARK(BM_Chunk)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(2);
BENCHMARK(BM_ChunkTakingString)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(2);
BENCHMARK(BM_ChunkScanOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(2);
BENCHMARK(BM_MemchrDelimiter)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(2);
BENCHMARK(BM_ProcessKquCount)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2);
BENCHMARK(BM_ProcessPythonCsv)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2);

}  // namespace

int main(int argc, char** argv) {
    int status = kqu::bench::runWithRatios(argc, argv,
                                           {{"BM_Chunk", "BM_MemchrDelimiter", 0.3},
                                            {"BM_ChunkTakingString", "BM_MemchrDelimiter", 0.0},
                                            {"BM_ChunkScanOnly", "BM_MemchrDelimiter", 0.0},
                                            {"BM_ProcessKquCount", "BM_ProcessPythonCsv", 0.0}});
    std::remove(fileOnDisk().c_str());
    return status;
}
