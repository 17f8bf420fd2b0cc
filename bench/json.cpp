// JSON reading: a generated 100 MB document (an array of small records with strings,
// escapes, non-ASCII text, integers, reals, booleans and null).
//
// BM_JsonParse reports the reader's throughput in memory (bytes_per_second). The pair
// BM_KquJsonCheck / BM_PythonJsonLoad compares whole processes on the same file:
// `kqu json check FILE` against `python3 -c 'import json,sys; json.load(open(...))'`, one
// run each (want a ratio >= 1.0: the tool is at least as fast as Python's C-accelerated
// reader, start-up included).
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fmt/format.h>
#include <unistd.h>

#include "KQUBenchSupport.h"
#include "kqutility/interchange/KQUJson.h"

namespace {

constexpr size_t kSize = 100u * 1000u * 1000u;

const std::string& document() {
    static const std::string sText = [] {
        std::string text = "[";
        text.reserve(kSize + 4096);
        uint64_t x = 88172645463325252ULL;
        auto next = [&] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
        for (uint64_t i = 0; text.size() < kSize; ++i) {
            if (i) text += ",\n";
            fmt::format_to(std::back_inserter(text),
                           "{{\"id\": {}, \"name\": \"item {} caf\xc3\xa9\", \"tags\": [\"alpha\", \"beta\", \"{}\"], "
                           "\"score\": {}.{:06}, \"active\": {}, \"nested\": {{\"x\": -1.5e3, \"s\": "
                           "\"q\\\"uote\\\\n\\u00e9\", \"n\": null}}}}",
                           i, i, next() % 1000, next() % 1000, next() % 1000000, next() % 2 ? "true" : "false");
        }
        text += "]\n";
        return text;
    }();
    return sText;
}

const std::string& documentPath() {
    static const std::string sPath = [] {
        std::string path = fmt::format("/tmp/kqu-bench-json-{}.json", getpid());
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(document().data(), 1, document().size(), file);
        std::fclose(file);
        std::atexit([] { std::remove(documentPath().c_str()); });
        return path;
    }();
    return sPath;
}

void BM_JsonParse(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        auto value = kqu::KQUJson::parse(text);
        if (!value) state.SkipWithError("the document did not parse");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void runProcess(benchmark::State& state, const std::string& command) {
    const std::string& path = documentPath();
    for (auto _ : state) {
        if (std::system((command + " '" + path + "'").c_str()) != 0) state.SkipWithError("the command failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document().size()));
}

void BM_KquJsonCheck(benchmark::State& state) { runProcess(state, std::string("'") + KQU_TOOL_PATH + "' json check"); }

void BM_PythonJsonLoad(benchmark::State& state) {
    runProcess(state, "/usr/bin/python3 -c 'import json,sys; json.load(open(sys.argv[1]))'");
}

BENCHMARK(BM_JsonParse)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2);
BENCHMARK(BM_KquJsonCheck)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PythonJsonLoad)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv, {{"BM_KquJsonCheck", "BM_PythonJsonLoad", 1.0}});
}
