// Temporary-directory removal and character removal against plain baselines, in the same
// run:
//  - removing a tree of 10,000 files in 100 directories by the descriptor walk of
//    KQUTemporaryDirectory vs std::filesystem::remove_all on an identical tree next to it
//    (want >= 0.9); the trees are made with the timer paused;
//  - KQUStringByRemovingCharactersInSet over 10 MB of text (5 M UTF-16 units) vs a bare
//    loop copying the units outside the same set, asked unit by unit (want >= 0.7).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "KQUBenchSupport.h"
#include "kqutility/foundation/KQUStringAdditions.h"
#include "kqutility/system/KQUTemporaryDirectory.h"

namespace {

// KQU_BENCH_TREE_DIRECTORIES makes the tree smaller on a machine too busy to create
// 10,000 files per iteration in reasonable time.
int treeDirectories() {
    static const int sCount = [] {
        const char* text = std::getenv("KQU_BENCH_TREE_DIRECTORIES");
        int n = text ? std::atoi(text) : 0;
        return n > 0 ? n : 100;
    }();
    return sCount;
}

void fillTree(const std::string& root) {
    for (int d = 0; d < treeDirectories(); ++d) {
        std::string dir = root + "/d" + std::to_string(d);
        ::mkdir(dir.c_str(), 0700);
        for (int f = 0; f < 100; ++f) {
            int fd = ::open((dir + "/f" + std::to_string(f)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            if (fd >= 0) ::close(fd);
        }
    }
}

void BM_TemporaryDirectoryRemoval(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto temp = kqu::KQUTemporaryDirectory::create(std::nullopt, "bench");
        if (!temp) {
            state.SkipWithError("no temporary directory");
            return;
        }
        fillTree(temp->fileName());
        state.ResumeTiming();
        temp.reset();
    }
}

void BM_FilesystemRemoveAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto temp = kqu::KQUTemporaryDirectory::create(std::nullopt, "bench");  // only for its parent
        if (!temp) {
            state.SkipWithError("no temporary directory");
            return;
        }
        std::string root = temp->fileName() + "-baseline";
        ::mkdir(root.c_str(), 0700);
        fillTree(root);
        state.ResumeTiming();
        std::filesystem::remove_all(root);
        state.PauseTiming();
        temp.reset();
        state.ResumeTiming();
    }
}

// Prose-like text: letters, spaces, punctuation, some accented and astral characters.
const std::u16string& text() {
    static const std::u16string sText = [] {
        std::mt19937 random(42);
        const std::u16string alphabet = u"abcdefghijklmnopqrstuvwxyz     ,.;\u00e9\u00fc\n\t";
        std::u16string t;
        t.reserve(5'000'000);
        while (t.size() < 5'000'000) t += alphabet[random() % alphabet.size()];
        return t;
    }();
    return sText;
}

const kqu::KQUCharacterSet& removed() {
    static const kqu::KQUCharacterSet sSet = kqu::KQUCharacterSet::withCharacters(u" ,.;\n\t");
    return sSet;
}

void BM_RemovingCharactersInSet(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(kqu::KQUStringByRemovingCharactersInSet(text(), removed()));
    state.SetBytesProcessed(state.iterations() * text().size() * 2);
}

void BM_BareLoop(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string out;
        out.reserve(text().size());
        for (char16_t c : text())
            if (!removed().contains(c)) out += c;
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * text().size() * 2);
}

BENCHMARK(BM_TemporaryDirectoryRemoval)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_FilesystemRemoveAll)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_RemovingCharactersInSet)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);
BENCHMARK(BM_BareLoop)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv,
                                     {{"BM_TemporaryDirectoryRemoval", "BM_FilesystemRemoveAll", 0.9},
                                      {"BM_RemovingCharactersInSet", "BM_BareLoop", 0.7}});
}
