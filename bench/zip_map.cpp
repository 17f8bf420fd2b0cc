// kqu zip map of large packages, as whole processes, against kqu zip list of the same
// package (the same open, one line per entry) in the same run.
//
//   MapN     kqu zip map --svg of a package of N small entries; reports the time per
//            entry and the SVG's size, both of which must stay flat (time) or bounded
//            (size) as N grows from 10,000 to 100,000.
//   ListN    kqu zip list --porcelain of the same package: the baseline.
//
// Target: Map100000 takes at most three times as long as List100000 (ratio >= 0.33).
// Packages are written once by the tests' byte builder (independent of the library's
// writer) into a scratch folder and are in the page cache while measured.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "KQUBenchSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

namespace {

std::string scratchDirectory() {
    static std::string dir = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "kqu-bench-map.XXXXXX").string();
        if (!::mkdtemp(templ.data())) std::abort();
        return templ;
    }();
    return dir;
}

// N entries named like a document's parts, 60 to 400 bytes each, every fourth deflated.
std::string packageOf(int64_t entries) {
    static std::map<int64_t, std::string> made;
    auto found = made.find(entries);
    if (found != made.end()) return found->second;
    const std::string path = fmt::format("{}/package-{}.zip", scratchDirectory(), entries);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    kqu::test::ZipByteBuilder builder;
    for (int64_t i = 0; i < entries; ++i) {
        std::string data(60 + static_cast<size_t>(i * 37 % 340), static_cast<char>('a' + i % 26));
        std::string local = builder.add(
            {.name = fmt::format("Data/part-{:06}.xml", i), .data = std::move(data), .deflate = i % 4 == 0});
        std::fwrite(local.data(), 1, local.size(), file);
    }
    std::string tail = builder.finish({.zip64End = entries >= 0xFFFF});
    std::fwrite(tail.data(), 1, tail.size(), file);
    if (std::fclose(file) != 0) std::abort();
    return made[entries] = path;
}

void runProcess(benchmark::State& state, const std::string& command) {
    for (auto _ : state)
        if (std::system((command + " >/dev/null").c_str()) != 0) state.SkipWithError(command.c_str());
}

void map(benchmark::State& state, int64_t entries) {
    const std::string package = packageOf(entries);
    const std::string out = scratchDirectory() + "/map.svg";
    runProcess(state, fmt::format("'{}' zip map --force --svg '{}' '{}'", KQU_TOOL_PATH, out, package));
    struct stat status {};
    ::stat(out.c_str(), &status);
    state.counters["svg_bytes"] = static_cast<double>(status.st_size);
    state.counters["per_entry"] =
        benchmark::Counter(static_cast<double>(entries),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The ratio reporter tells benchmarks apart by function name: one function per size.
void BM_Map10000(benchmark::State& state) {
    map(state, 10000);
}
void BM_Map100000(benchmark::State& state) {
    map(state, 100000);
}
void BM_List100000(benchmark::State& state) {
    runProcess(state, fmt::format("'{}' zip list --porcelain '{}'", KQU_TOOL_PATH, packageOf(100000)));
}

BENCHMARK(BM_Map10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(2);
BENCHMARK(BM_Map100000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(2);
BENCHMARK(BM_List100000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(2);

}  // namespace

int main(int argc, char** argv) {
    int status = kqu::bench::runWithRatios(argc, argv, {{"BM_Map100000", "BM_List100000", 0.33}});
    std::filesystem::remove_all(scratchDirectory());
    return status;
}
