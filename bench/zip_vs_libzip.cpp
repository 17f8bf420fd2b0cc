// The zip engine side by side with libzip on the same generated packages, in one process.
//
// Each workload runs alternately for libzip and for KQUtility (PAIRS pairs, default 5) and
// prints the ratio libzip time / our time of every pair, then its minimum and median:
//
//   read-deflated   every entry of the deflated package read to its end (CRCs checked)
//   read-stored     the same for the stored package
//   write-deflated  the package's contents written deflated, level 8 for both
//   write-stored    the same stored
//   open-100000     open a package of 100,000 small entries and look up every name
//   remove-one      remove one entry from the deflated package into a new file (our side
//                   is the path of kqu zip rm: every kept entry copied as stored)
//   remove-locked   our remove-one path holding the package's rewrite lock (KQUFileLock, as
//                   kqu zip rm does) against the same path without it (ratio unlocked /
//                   locked; libzip is not involved)
//   collisions      opening 200,000 entries whose names all have one std::hash value
//                   against 200,000 ordinary names of the same length (ratio ordinary /
//                   colliding; libzip is not involved)
//   memory          peak and retained heap bytes per entry while opening 100,000 entries
//
// Packages are generated with fixed seeds: XML, text and CSV parts and about 15 %
// incompressible binary, a few hundred entries, PACKAGE_MB megabytes in all (default 64;
// the figures in the issue used 200). Heap bytes are counted by wrapping malloc.
//
//   bench_zip_vs_libzip [PAIRS] [PACKAGE_MB] [DIR]   (packages kept in DIR when given)
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/foundation/KQUFileLock.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"

// ---- Heap accounting -------------------------------------------------------------------

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<int64_t> sLive{0};
std::atomic<int64_t> sPeak{0};
void count(int64_t delta) {
    int64_t now = sLive.fetch_add(delta) + delta;
    int64_t peak = sPeak.load(std::memory_order_relaxed);
    while (now > peak && !sPeak.compare_exchange_weak(peak, now)) {
    }
}
int64_t usable(void* p) {
    return p ? static_cast<int64_t>(malloc_usable_size(p)) : 0;
}
}  // namespace

extern "C" {
void* malloc(size_t n) noexcept {
    void* p = __libc_malloc(n);
    count(usable(p));
    return p;
}
void free(void* p) noexcept {
    count(-usable(p));
    __libc_free(p);
}
void* calloc(size_t a, size_t b) noexcept {
    void* p = __libc_calloc(a, b);
    count(usable(p));
    return p;
}
void* realloc(void* old, size_t n) noexcept {
    int64_t before = usable(old);
    void* p = __libc_realloc(old, n);
    if (p || n == 0) count(usable(p) - before);
    return p;
}
int posix_memalign(void** out, size_t alignment, size_t n) noexcept {
    void* p = __libc_memalign(alignment, n);
    if (!p) return ENOMEM;
    count(usable(p));
    *out = p;
    return 0;
}
void* aligned_alloc(size_t alignment, size_t n) noexcept {
    void* p = __libc_memalign(alignment, n);
    count(usable(p));
    return p;
}
void* memalign(size_t alignment, size_t n) noexcept {
    void* p = __libc_memalign(alignment, n);
    count(usable(p));
    return p;
}
}

namespace {

using namespace kqu;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double seconds(const std::function<void()>& work) {
    auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void fail(const std::string& message) {
    fmt::print(stderr, "bench_zip_vs_libzip: {}\n", message);
    std::exit(1);
}

// ---- Content ---------------------------------------------------------------------------

struct Part {
    std::string name;
    std::string data;
};

std::string makeXml(std::mt19937_64& random, size_t size) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<document>\n";
    static const char* words[] = {"alpha", "table", "cell", "value", "style", "row", "column", "sheet", "chart"};
    while (s.size() < size)
        s += fmt::format("  <{} id=\"{}\" ref=\"{}\">{} {}</{}>\n", words[random() % 9], random() % 100000,
                         random() % 977, words[random() % 9], random() % 1000, words[random() % 9]);
    s.resize(size);
    return s;
}

std::string makeText(std::mt19937_64& random, size_t size) {
    static const char* words[] = {"the", "document", "package", "holds", "parts", "of", "text", "and",
                                  "numbers", "written", "by", "people", "every", "day", "with", "care"};
    std::string s;
    while (s.size() < size) {
        s += words[random() % 16];
        s += random() % 12 == 0 ? ".\n" : " ";
    }
    s.resize(size);
    return s;
}

std::string makeCsv(std::mt19937_64& random, size_t size) {
    std::string s = "id,date,amount,category,comment\n";
    for (uint64_t i = 0; s.size() < size; ++i)
        s += fmt::format("{},2024-{:02}-{:02},{}.{:02},cat{},\"note {}\"\n", i, random() % 12 + 1, random() % 28 + 1,
                         random() % 10000, random() % 100, random() % 20, random() % 500);
    s.resize(size);
    return s;
}

std::string makeBinary(std::mt19937_64& random, size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint64_t v = random();
        std::memcpy(s.data() + i, &v, 8);
    }
    return s;
}

// A few hundred parts of packageBytes in all: about 15 % binary by size.
std::vector<Part> makeParts(size_t packageBytes) {
    std::mt19937_64 random(20261206);
    std::vector<Part> parts;
    size_t total = 0;
    size_t average = std::max<size_t>(packageBytes / 300, 4096);
    for (int i = 0; total < packageBytes; ++i) {
        size_t size = std::min(packageBytes - total, average / 4 + random() % (average * 3 / 2));
        Part part;
        switch (i % 20) {
            case 0:
            case 1:
            case 2:
                part = {fmt::format("Data/image{:04}.bin", i), makeBinary(random, size)};
                break;
            case 3:
            case 4:
            case 5:
            case 6:
                part = {fmt::format("Tables/table{:04}.csv", i), makeCsv(random, size)};
                break;
            case 7:
            case 8:
            case 9:
                part = {fmt::format("Text/notes{:04}.txt", i), makeText(random, size)};
                break;
            default:
                part = {fmt::format("Content/part{:04}.xml", i), makeXml(random, size)};
                break;
        }
        total += part.data.size();
        parts.push_back(std::move(part));
    }
    return parts;
}

// ---- Our side --------------------------------------------------------------------------

void ourWrite(const std::string& path, const std::vector<Part>& parts, bool deflate) {
    KQUZipArchiveOutputStream zip(path);
    for (const auto& part : parts) {
        zip.beginEntry(part.name, deflate, part.data.size());
        zip.writeBuffer(part.data.data(), static_cast<uint32_t>(part.data.size()));
    }
    zip.close();
}

uint64_t ourReadAll(const std::string& path) {
    KQUZipArchive archive(path);
    std::vector<char> buffer(262144);
    uint64_t total = 0;
    for (const auto& entry : archive.allEntries()) {
        auto stream = entry->inputStream();
        while (uint32_t n = stream->readToBuffer(buffer.data(), static_cast<uint32_t>(buffer.size()))) total += n;
        stream->close();
    }
    return total;
}

size_t ourOpenAndLookUp(const std::string& path, const std::vector<std::string>& names) {
    KQUZipArchive archive(path);
    size_t found = 0;
    for (const auto& name : names) found += archive.entryWithName(name) != nullptr;
    return found;
}

// What kqu zip rm does: every kept entry copied as stored into a new file, then renamed.
void ourRemove(const std::string& path, const std::string& name, const std::string& out) {
    KQUZipArchive archive(path);
    auto entries = archive.allEntries();
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a->localHeaderOffset() < b->localHeaderOffset(); });
    std::string temporary = out + ".tmp";
    KQUZipArchiveOutputStream zip(temporary);
    for (const auto& entry : entries)
        if (entry->name() != name) zip.copyEntry(*entry);
    zip.close();
    if (::rename(temporary.c_str(), out.c_str()) != 0) fail("rename");
}

// ---- libzip side -----------------------------------------------------------------------

void zipCheck(bool ok, const char* what) {
    if (!ok) fail(fmt::format("libzip: {} failed", what));
}

void libzipWrite(const std::string& path, const std::vector<Part>& parts, bool deflate) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    zipCheck(zip, "zip_open");
    for (const auto& part : parts) {
        zip_source_t* source = zip_source_buffer(zip, part.data.data(), part.data.size(), 0);
        zipCheck(source, "zip_source_buffer");
        zip_int64_t index = zip_file_add(zip, part.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        zipCheck(index >= 0, "zip_file_add");
        zipCheck(zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                          deflate ? 8 : 0) == 0,
                 "zip_set_file_compression");
    }
    zipCheck(zip_close(zip) == 0, "zip_close");
}

uint64_t libzipReadAll(const std::string& path) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    zipCheck(zip, "zip_open");
    std::vector<char> buffer(262144);
    uint64_t total = 0;
    zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
        zipCheck(file, "zip_fopen_index");
        zip_int64_t n;
        while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0) total += static_cast<uint64_t>(n);
        zipCheck(n == 0, "zip_fread");
        zip_fclose(file);
    }
    zip_discard(zip);
    return total;
}

size_t libzipOpenAndLookUp(const std::string& path, const std::vector<std::string>& names) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    zipCheck(zip, "zip_open");
    size_t found = 0;
    for (const auto& name : names) found += zip_name_locate(zip, name.c_str(), 0) >= 0;
    zip_discard(zip);
    return found;
}

void libzipRemove(const std::string& path, const std::string& name, const std::string& out) {
    fs::copy_file(path, out, fs::copy_options::overwrite_existing);  // libzip rewrites in place
    int error = 0;
    zip_t* zip = zip_open(out.c_str(), 0, &error);
    zipCheck(zip, "zip_open");
    zip_int64_t index = zip_name_locate(zip, name.c_str(), 0);
    zipCheck(index >= 0 && zip_delete(zip, static_cast<zip_uint64_t>(index)) == 0, "zip_delete");
    zipCheck(zip_close(zip) == 0, "zip_close");
}

// ---- Pairs and ratios ------------------------------------------------------------------

struct Result {
    std::string workload;
    std::vector<double> ratios;
    double want;
};

std::vector<Result> sResults;

void pairs(const std::string& workload, int count, double want, const std::function<void()>& baseline,
           const std::function<void()>& ours) {
    if (count == 0) return;
    Result result{workload, {}, want};
    baseline();  // warm both once: page cache, heap
    ours();
    for (int i = 0; i < count; ++i) {
        double theirs = seconds(baseline);
        double mine = seconds(ours);
        result.ratios.push_back(theirs / mine);
        fmt::print("  {:<15} pair {}: baseline {:.4f} s, ours {:.4f} s, ratio {:.2f}\n", workload, i + 1, theirs,
                   mine, theirs / mine);
        std::fflush(stdout);
    }
    sResults.push_back(std::move(result));
}

// ---- Names that collide under std::hash -------------------------------------------------

// libstdc++'s std::hash of a byte string (64-bit _Hash_bytes, seed 0xc70f6907): every
// 8-byte block is mixed by an invertible function and folded in by xor and multiply, so
// for a fixed first block the second block that reaches a given state can be computed.
constexpr uint64_t kMul = (uint64_t{0xc6a4a793} << 32) + 0x5bd1e995;
constexpr uint64_t shiftMix(uint64_t v) {
    return v ^ (v >> 47);
}
uint64_t inverseOf(uint64_t a) {
    uint64_t x = a;  // Newton's iteration for the inverse modulo 2^64
    for (int i = 0; i < 6; ++i) x *= 2 - a * x;
    return x;
}
uint64_t mixBlock(uint64_t k) {
    return shiftMix(k * kMul) * kMul;
}
uint64_t unmixBlock(uint64_t d) {
    static const uint64_t inverse = inverseOf(kMul);
    return shiftMix(d * inverse) * inverse;  // shiftMix undoes itself for shifts above 32
}

// count names of 19 bytes ("C" block A, block B, "xml") with one std::hash value; block A
// counts up, block B is solved for, and kept when it is printable ASCII without '/'.
std::vector<std::string> collidingNames(size_t count) {
    constexpr size_t kLength = 19;
    const uint64_t h0 = 0xc70f6907ull ^ (kLength * kMul);
    const uint64_t inverse = inverseOf(kMul);
    std::string reference = "Content/aaaaaaa.xml";
    uint64_t a0, b0;
    std::memcpy(&a0, reference.data(), 8);
    std::memcpy(&b0, reference.data() + 8, 8);
    uint64_t target = ((h0 ^ mixBlock(a0)) * kMul ^ mixBlock(b0)) * kMul;  // state after two blocks
    std::vector<std::string> names;
    for (uint64_t i = 0; names.size() < count; ++i) {
        char a[8];
        std::memcpy(a, "C", 1);
        uint64_t counter = i;
        for (int k = 1; k < 8; ++k, counter /= 64) a[k] = static_cast<char>('0' + counter % 64);
        uint64_t blockA;
        std::memcpy(&blockA, a, 8);
        uint64_t blockB = unmixBlock((target * inverse) ^ ((h0 ^ mixBlock(blockA)) * kMul));
        char b[8];
        std::memcpy(b, &blockB, 8);
        if (!std::all_of(b, b + 8, [](char c) { return c >= 0x20 && c < 0x7F && c != '/'; })) continue;
        names.push_back(std::string(a, 8) + std::string(b, 8) + "xml");
    }
    size_t expected = std::hash<std::string_view>{}(reference);
    for (const auto& name : names)
        if (std::hash<std::string_view>{}(name) != expected) fail("collision construction is wrong");
    return names;
}

int64_t residentKiB(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    int64_t value = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, std::strlen(field)) == 0) value = std::atoll(line + std::strlen(field));
    std::fclose(status);
    return value;
}

void writeSmallEntries(const std::string& path, const std::vector<std::string>& names) {
    KQUZipArchiveOutputStream zip(path);
    for (const auto& name : names) {
        zip.beginEntry(name, false, 4);
        zip.writeBuffer("data", 4);
    }
    zip.close();
}

void report() {
    fmt::print("\n{:<15} {:>6} {:>7} {:>7}  ratios\n", "workload", "want", "min", "median");
    for (auto& result : sResults) {
        auto sorted = result.ratios;
        std::sort(sorted.begin(), sorted.end());
        double median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                          : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
        std::string all;
        for (double r : result.ratios) all += fmt::format(" {:.2f}", r);
        fmt::print("{:<15} {:>6.2f} {:>7.2f} {:>7.2f} {}{}\n", result.workload, result.want, sorted.front(), median,
                   all, median >= result.want ? "" : "  (below target)");
    }
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::max(0, std::atoi(argv[1])) : 5;  // 0: only the memory figures
    size_t megabytes = argc > 2 ? static_cast<size_t>(std::max(1, std::atoi(argv[2]))) : 64;
    bool keep = argc > 3;
    std::string dir = keep ? std::string(argv[3])
                           : (fs::temp_directory_path() / fmt::format("kqu-zip-vs-libzip-{}", ::getpid())).string();
    fs::create_directories(dir);
    auto file = [&](const std::string& name) { return dir + "/" + name; };

    auto parts = makeParts(count ? megabytes << 20 : 0);
    fmt::print("package: {} parts, {} MB; {} pairs per workload\n", parts.size(), megabytes, count);
    ourWrite(file("deflated.zip"), parts, true);
    ourWrite(file("stored.zip"), parts, false);
    fmt::print("deflated package {} bytes, stored package {} bytes\n", fs::file_size(file("deflated.zip")),
               fs::file_size(file("stored.zip")));

    pairs("read-deflated", count, 1.5, [&] { libzipReadAll(file("deflated.zip")); },
          [&] { ourReadAll(file("deflated.zip")); });
    pairs("read-stored", count, 2.0, [&] { libzipReadAll(file("stored.zip")); },
          [&] { ourReadAll(file("stored.zip")); });
    pairs("write-deflated", count, 1.0, [&] { libzipWrite(file("w-libzip.zip"), parts, true); },
          [&] { ourWrite(file("w-ours.zip"), parts, true); });
    if (count)  // equal sizes show that both compressed alike (same level)
        fmt::print("  write-deflated sizes: libzip {} bytes, ours {} bytes\n", fs::file_size(file("w-libzip.zip")),
                   fs::file_size(file("w-ours.zip")));
    pairs("write-stored", count, 3.0, [&] { libzipWrite(file("w-libzip.zip"), parts, false); },
          [&] { ourWrite(file("w-ours.zip"), parts, false); });
    std::string victim = parts.empty() ? std::string() : parts[parts.size() / 2].name;
    pairs("remove-one", count, 1.0, [&] { libzipRemove(file("deflated.zip"), victim, file("rm-libzip.zip")); },
          [&] { ourRemove(file("deflated.zip"), victim, file("rm-ours.zip")); });
    pairs("remove-locked", count, 0.98, [&] { ourRemove(file("deflated.zip"), victim, file("rm-ours.zip")); },
          [&] {
              auto lock = KQUFileLock::lockForRewriting(file("deflated.zip"), std::chrono::seconds(30));
              if (!lock) fail("lockForRewriting");
              ourRemove(file("deflated.zip"), victim, file("rm-ours.zip"));
          });
    parts.clear();
    parts.shrink_to_fit();

    std::vector<std::string> names;
    for (int i = 0; i < 100000; ++i) names.push_back(fmt::format("Content/sheet{:03}/cell{:06}.xml", i % 500, i));
    writeSmallEntries(file("many.zip"), names);
    pairs("open-100000", count, 8.0, [&] { libzipOpenAndLookUp(file("many.zip"), names); },
          [&] { ourOpenAndLookUp(file("many.zip"), names); });

    auto colliding = collidingNames(count ? 200000 : 0);
    std::vector<std::string> ordinary;
    for (size_t i = 0; i < colliding.size(); ++i) ordinary.push_back(fmt::format("Content/{:07}.xml", i));
    writeSmallEntries(file("colliding.zip"), colliding);
    writeSmallEntries(file("ordinary.zip"), ordinary);
    pairs("collisions", count, 0.8, [&] { ourOpenAndLookUp(file("ordinary.zip"), ordinary); },
          [&] { ourOpenAndLookUp(file("colliding.zip"), colliding); });

    // Heap: the most malloc'ed at once while opening, and what the open archive holds.
    // Resident: the peak resident set's growth while opening (free heap memory returned
    // first), which also counts memory mapped directly (our entry table).
    auto memory = [&](const char* who, const std::function<int64_t(int64_t)>& open) {
        ::malloc_trim(0);
        if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clear);  // resets the peak resident set size
            std::fclose(clear);
        }
        int64_t residentBefore = residentKiB("VmRSS:");
        int64_t base = sLive.load();
        sPeak.store(base);
        int64_t retained = open(base);
        int64_t residentPeak = residentKiB("VmHWM:");
        fmt::print("memory {:<7} heap peak {:.0f} bytes per entry, heap retained {:.0f}, resident peak {:.0f}\n",
                   who, double(sPeak.load() - base) / 100000, double(retained) / 100000,
                   double(residentPeak - residentBefore) * 1024 / 100000);
    };
    memory("libzip", [&](int64_t base) {
        int error = 0;
        zip_t* zip = zip_open(file("many.zip").c_str(), ZIP_RDONLY, &error);
        zipCheck(zip, "zip_open");
        int64_t retained = sLive.load() - base;
        zip_discard(zip);
        return retained;
    });
    memory("ours", [&](int64_t base) {
        KQUZipArchive archive(file("many.zip"));
        return sLive.load() - base;
    });
    report();
    if (!keep) fs::remove_all(dir);
    return 0;
}
