// Reading zip packages against the raw libraries beneath the reader, measured in one run.
//
//   ReadDeflated  every entry of a ~200 MiB package of deflated entries, through
//                 KQUZipArchive (CRC-32 and sizes verified), against raw zlib inflating
//                 the same streams read with pread. Target: ratio >= 0.9.
//   ReadStored    the same for a ~200 MiB package of stored entries, against a plain
//                 pread loop over the entries' bytes. Target: ratio >= 0.8.
//   Open/N        opening a package of N entries; reports the time per entry (it must
//                 stay flat as N grows), with a warm heap, and that of the first open.
//
// Baseline and reader alternate within each benchmark iteration, and each side's best
// pass counts, so that other load on the machine affects both alike. The packages are
// written to a scratch folder once, by the tests' byte builder (independent of the
// library's writer), and are in the page cache while measured.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipCrc32.h"
#include "tests/support/KQUZipTestBuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kChunk = 262144;
constexpr uint64_t kPackageSize = 200ull << 20;

struct Package {
    std::string path;
    struct Entry {
        uint64_t dataOffset, compressedSize, uncompressedSize;
    };
    std::vector<Entry> entries;
    uint64_t uncompressedTotal = 0;
};

std::string scratchDirectory() {
    static std::string dir = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "kqu-bench.XXXXXX").string();
        if (!::mkdtemp(templ.data())) std::abort();
        return templ;
    }();
    return dir;
}

// Text-like bytes: words from a vocabulary, numbers, punctuation (deflates about 3:1).
std::string textBlock(std::mt19937& random, size_t size) {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        std::mt19937 g(99);
        for (int i = 0; i < 4000; ++i) {
            std::string word;
            int length = 2 + static_cast<int>(g() % 9);
            for (int k = 0; k < length; ++k) word.push_back(static_cast<char>('a' + g() % 26));
            w.push_back(word);
        }
        return w;
    }();
    std::string out;
    out.reserve(size + 32);
    while (out.size() < size) {
        uint32_t r = random();
        if (r % 11 == 0)
            out += std::to_string(random() % 100000);
        else
            out += words[r % words.size()];
        out += r % 13 == 0 ? ".\n" : " ";
    }
    out.resize(size);
    return out;
}

// Writes a package whose entries come from make(i) until it holds targetSize bytes or count
// entries.
template <typename Make>
Package writePackage(const std::string& name, uint64_t targetSize, size_t count, bool deflate, Make make) {
    Package package;
    package.path = scratchDirectory() + "/" + name;
    FILE* file = std::fopen(package.path.c_str(), "wb");
    kqu::test::ZipByteBuilder builder;
    uint64_t offset = 0;
    for (size_t i = 0; offset < targetSize && i < count; ++i) {
        std::string data = make(i);
        kqu::test::TestEntry entry{.name = fmt::format("entry{:06}", i), .data = data, .deflate = deflate};
        if (deflate) entry.stored = kqu::test::rawDeflate(data, 1);
        uint64_t storedSize = entry.stored ? entry.stored->size() : data.size();
        std::string record = builder.add(entry);
        std::fwrite(record.data(), 1, record.size(), file);
        package.entries.push_back({offset + record.size() - storedSize, storedSize, data.size()});
        package.uncompressedTotal += data.size();
        offset += record.size();
    }
    // Zip64 end records only where the entry count needs them.
    std::string tail = builder.finish({.zip64End = package.entries.size() > 0xFFFE});
    std::fwrite(tail.data(), 1, tail.size(), file);
    std::fclose(file);
    return package;
}

const Package& deflatedPackage() {
    static Package package = writePackage("deflated.zip", kPackageSize, SIZE_MAX, true, [](size_t i) {
        std::mt19937 random(static_cast<uint32_t>(i));
        return textBlock(random, 700'000 + i % 7 * 100'000);
    });
    return package;
}

const Package& storedPackage() {
    static Package package = writePackage("stored.zip", kPackageSize, SIZE_MAX, false, [](size_t i) {
        std::mt19937 random(static_cast<uint32_t>(i));
        std::string data(1'000'000 + i % 5 * 50'000, '\0');
        for (auto& c : data) c = static_cast<char>(random());
        return data;
    });
    return package;
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best throughputs (bytes per second) of each side, for the final summary.
std::map<std::string, double> sBest;

void record(benchmark::State& state, const std::string& name, double baselineBest, double readerBest,
            double bytes) {
    double baseline = bytes / baselineBest, reader = bytes / readerBest;
    state.counters["baseline_GBps"] = baseline / 1e9;
    state.counters["reader_GBps"] = reader / 1e9;
    state.counters["ratio"] = reader / baseline;
    sBest[name] = reader / baseline;
}

uint64_t readEntries(kqu::KQUZipArchive& archive, std::vector<char>& buffer) {
    uint64_t total = 0;
    for (const auto& entry : archive.allEntries()) {
        auto stream = entry->inputStream();
        while (uint32_t n = stream->readToBuffer(buffer.data(), kChunk)) total += n;
    }
    return total;
}

void ReadDeflated(benchmark::State& state) {
    const Package& package = deflatedPackage();
    kqu::KQUZipArchive archive(package.path);
    int fd = ::open(package.path.c_str(), O_RDONLY);
    std::vector<char> input, output(kChunk);
    double rawBest = 1e9, readerBest = 1e9;
    for (auto _ : state) {
        auto start = Clock::now();
        uint64_t rawTotal = 0;
        for (const auto& entry : package.entries) {
            input.resize(entry.compressedSize);
            if (::pread(fd, input.data(), input.size(), static_cast<off_t>(entry.dataOffset)) !=
                static_cast<ssize_t>(input.size()))
                state.SkipWithError("short pread");
            z_stream z{};
            inflateInit2(&z, -15);
            z.next_in = reinterpret_cast<Bytef*>(input.data());
            z.avail_in = static_cast<uInt>(input.size());
            int result = Z_OK;
            while (result == Z_OK) {
                z.next_out = reinterpret_cast<Bytef*>(output.data());
                z.avail_out = kChunk;
                result = inflate(&z, Z_NO_FLUSH);
                rawTotal += kChunk - z.avail_out;
            }
            inflateEnd(&z);
        }
        rawBest = std::min(rawBest, seconds(start));
        start = Clock::now();
        uint64_t readerTotal = readEntries(archive, output);
        readerBest = std::min(readerBest, seconds(start));
        if (rawTotal != package.uncompressedTotal || readerTotal != package.uncompressedTotal)
            state.SkipWithError("wrong byte count");
    }
    ::close(fd);
    record(state, "deflated", rawBest, readerBest, static_cast<double>(package.uncompressedTotal));
    state.SetLabel(fmt::format("{} entries, {} MiB deflated, {} MiB inflated", package.entries.size(),
                               std::filesystem::file_size(package.path) >> 20,
                               package.uncompressedTotal >> 20));
}

// One pass over the stored entries with pread; with checkCrc, also the CRC-32 of each
// entry with the reader's own function (what verification alone costs).
uint64_t preadEntries(int fd, const Package& package, std::vector<char>& buffer, bool checkCrc) {
    uint64_t total = 0;
    for (const auto& entry : package.entries) {
        uint64_t done = 0;
        uint32_t crc = 0;
        while (done < entry.compressedSize) {
            size_t want = std::min<uint64_t>(kChunk, entry.compressedSize - done);
            ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(entry.dataOffset + done));
            if (n <= 0) break;
            if (checkCrc) crc = kqu::KQUZipCrc32(crc, buffer.data(), static_cast<size_t>(n));
            done += static_cast<uint64_t>(n);
        }
        benchmark::DoNotOptimize(crc);
        total += done;
    }
    return total;
}

void ReadStored(benchmark::State& state) {
    const Package& package = storedPackage();
    kqu::KQUZipArchive archive(package.path);
    int fd = ::open(package.path.c_str(), O_RDONLY);
    std::vector<char> buffer(kChunk);
    double preadBest = 1e9, checkedBest = 1e9, readerBest = 1e9;
    for (auto _ : state) {
        auto start = Clock::now();
        uint64_t preadTotal = preadEntries(fd, package, buffer, false);
        preadBest = std::min(preadBest, seconds(start));
        start = Clock::now();
        preadEntries(fd, package, buffer, true);
        checkedBest = std::min(checkedBest, seconds(start));
        start = Clock::now();
        uint64_t readerTotal = readEntries(archive, buffer);
        readerBest = std::min(readerBest, seconds(start));
        if (preadTotal != package.uncompressedTotal || readerTotal != package.uncompressedTotal)
            state.SkipWithError("wrong byte count");
    }
    ::close(fd);
    record(state, "stored", preadBest, readerBest, static_cast<double>(package.uncompressedTotal));
    // The CRC-32 that every entry must pass costs the difference; against a pread loop
    // that computes it too, the reader's own overhead shows.
    state.counters["ratio_to_pread_with_crc"] = checkedBest / readerBest;
    sBest["stored_with_crc"] = checkedBest / readerBest;
    state.SetLabel(fmt::format("{} entries, {} MiB, CRC-32 by {}", package.entries.size(),
                               package.uncompressedTotal >> 20, kqu::KQUZipCrc32Implementation()));
}

void Open(benchmark::State& state) {
    size_t count = static_cast<size_t>(state.range(0));
    static std::map<size_t, Package> packages;
    if (!packages.count(count))
        packages[count] = writePackage(fmt::format("open{}.zip", count), UINT64_MAX, count, false,
                                       [](size_t i) { return std::string(i % 3, 'x'); });
    const Package& package = packages[count];
    // The first open of a size also pays for the system mapping fresh memory for the
    // entries, which on a virtual machine costs more than parsing; it is reported apart.
    auto first = Clock::now();
    { kqu::KQUZipArchive archive(package.path); }
    state.counters["first_open_ns_per_entry"] = seconds(first) / static_cast<double>(count) * 1e9;
    double best = 1e9;
    for (auto _ : state) {
        auto start = Clock::now();
        kqu::KQUZipArchive archive(package.path);
        benchmark::DoNotOptimize(archive.entryCount());
        best = std::min(best, seconds(start));
    }
    double perEntry = best / static_cast<double>(count) * 1e9;
    state.counters["ns_per_entry"] = perEntry;
    sBest[fmt::format("open{}", count)] = perEntry;
}

BENCHMARK(ReadDeflated)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(ReadStored)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(Open)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    // Keep freed memory in the process, as a long-running application's heap does, so
    // that repeated opens measure the reader rather than the system's page faults.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, 64 << 20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (sBest.count("deflated"))
        fmt::print("zip_read: deflated entries at {:.2f}x raw zlib inflate (target 0.9)\n",
                   sBest["deflated"]);
    if (sBest.count("stored"))
        fmt::print(
            "zip_read: stored entries at {:.2f}x a plain pread loop (target 0.8), {:.2f}x a pread loop that "
            "also computes the CRC-32\n",
            sBest["stored"], sBest["stored_with_crc"]);
    if (sBest.count("open100000"))
        fmt::print(
            "zip_read: opening costs {:.0f} ns per entry at 100000 entries, {:.0f} ns at 10000 (ratio "
            "{:.2f}, "
            "flat means linear)\n",
            sBest["open100000"], sBest["open10000"], sBest["open100000"] / sBest["open10000"]);
    std::error_code ec;
    std::filesystem::remove_all(scratchDirectory(), ec);
    return 0;
}
