// Zip writer throughput against the raw libraries doing the same work, on 200 MiB of
// compressible data written into one entry in 256 KiB pieces:
//
//   deflated entry              vs  zlib raw deflate (level 8, memory level 9) + write(2)   want >= 0.90
//   stored entry                vs  write(2)                                                 want >= 0.80
//     (and, for information, vs write(2) of the same bytes at the same file offsets)
//   encrypted deflated entry    vs  zlib deflate + EVP AES-128-CBC + write(2)                want >= 0.85
//
// Every case writes its output to a file in the temporary directory and removes it. The
// machine is shared, so each benchmark runs subject and baseline alternately within the
// same iterations and compares their process CPU time (user + system, which includes the
// write(2) calls) as well as their wall time; the ratio (baseline time / subject time) is
// reported as a counter and in a final line per pair.
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <zlib.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"

namespace {

constexpr size_t kSize = 200u << 20;
constexpr uint32_t kPiece = 256 << 10;

// Document-like text: tags, words and numbers with some variety, about 4:1 under deflate.
const std::string& data() {
    static const std::string text = [] {
        static const char* words[] = {"alpha",  "table",  "cell",   "value", "chart", "series",
                                      "label",  "format", "number", "date",  "style", "paragraph",
                                      "column", "row",    "sheet",  "total"};
        std::string t;
        t.reserve(kSize + 256);
        uint32_t state = 12345;
        while (t.size() < kSize) {
            state = state * 1103515245u + 12345u;
            t += "<c r=\"";
            t += std::to_string(state % 100000);
            t += "\" s=\"";
            t += words[(state >> 8) % 16];
            t += "\">";
            t += words[(state >> 12) % 16];
            t += ' ';
            t += std::to_string((state >> 4) % 1000);
            t += "</c>\n";
        }
        t.resize(kSize);
        return t;
    }();
    return text;
}

std::string outputPath() {
    return "/tmp/kqu-bench-zip-write-" + std::to_string(::getpid());
}

int openOutput() {
    int fd = ::open(outputPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    return fd;
}

void writeAll(int fd, const void* bytes, size_t size) {
    auto p = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n <= 0) std::abort();
        p += n;
        size -= static_cast<size_t>(n);
    }
}

kqu::KQUCryptoKeyRef key() {
    static auto k = kqu::KQUCryptoKey::createAes128KeyFromPassphrase("benchmark", 10);
    return k;
}

void writeWithZip(bool compressed, kqu::KQUCryptoKeyRef cryptoKey) {
    const std::string& d = data();
    kqu::KQUZipArchiveOutputStream zip(outputPath(), cryptoKey);
    zip.beginEntry("Index.xml", compressed, d.size());
    for (size_t at = 0; at < d.size(); at += kPiece) zip.writeBuffer(d.data() + at, kPiece);
    zip.close();
}

// zlib alone: deflate into a 256 KiB buffer, write each full buffer; optionally encrypt
// each buffer with AES-128-CBC before writing.
void rawDeflate(bool encrypt) {
    const std::string& d = data();
    std::vector<unsigned char> out(kPiece), cipher(kPiece + 32);
    unsigned char iv[16] = {};
    {
        int fd = openOutput();
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        if (encrypt) EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key()->keyBytes().data(), iv);
        auto emit = [&](const unsigned char* bytes, size_t size) {
            if (!encrypt) return writeAll(fd, bytes, size);
            int n = 0;
            EVP_EncryptUpdate(ctx, cipher.data(), &n, bytes, static_cast<int>(size));
            writeAll(fd, cipher.data(), static_cast<size_t>(n));
        };
        z_stream z{};
        deflateInit2(&z, 8, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        z.next_out = out.data();
        z.avail_out = kPiece;
        for (size_t at = 0; at < d.size(); at += kPiece) {
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(d.data() + at));
            z.avail_in = kPiece;
            while (z.avail_in > 0) {
                if (z.avail_out == 0) {
                    emit(out.data(), kPiece);
                    z.next_out = out.data();
                    z.avail_out = kPiece;
                }
                deflate(&z, Z_NO_FLUSH);
            }
        }
        int result;
        do {
            result = deflate(&z, Z_FINISH);
            emit(out.data(), kPiece - z.avail_out);
            z.next_out = out.data();
            z.avail_out = kPiece;
        } while (result == Z_OK);
        deflateEnd(&z);
        if (encrypt) {
            int n = 0;
            EVP_EncryptFinal_ex(ctx, cipher.data(), &n);
            writeAll(fd, cipher.data(), static_cast<size_t>(n));
        }
        EVP_CIPHER_CTX_free(ctx);
        ::close(fd);
    }
}

// headerBytes > 0: the data goes to the same file offsets as in the zip file (after the
// 31-byte local header), which costs the kernel's copy the same misalignment.
void rawWrite(size_t headerBytes) {
    const std::string& d = data();
    int fd = openOutput();
    if (headerBytes > 0) writeAll(fd, d.data(), headerBytes);
    for (size_t at = 0; at < d.size(); at += kPiece) writeAll(fd, d.data() + at, kPiece);
    ::close(fd);
}

struct Times {
    double cpu = 0, wall = 0;
};

double now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void timed(const std::function<void()>& work, Times& times) {
    double cpu = now(CLOCK_PROCESS_CPUTIME_ID), wall = now(CLOCK_MONOTONIC);
    work();
    times.cpu += now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    times.wall += now(CLOCK_MONOTONIC) - wall;
    ::unlink(outputPath().c_str());
}

struct Result {
    std::string name;
    double want, cpuRatio, wallRatio;
};
std::vector<Result>& results() {
    static std::vector<Result> r;
    return r;
}

// Subject and baseline in turn (the order alternating), so both see the same load.
void pair(benchmark::State& state, const char* name, double want, const std::function<void()>& subject,
          const std::function<void()>& baseline) {
    Times s, b;
    bool subjectFirst = true;
    for (auto _ : state) {
        if (subjectFirst) {
            timed(subject, s);
            timed(baseline, b);
        } else {
            timed(baseline, b);
            timed(subject, s);
        }
        subjectFirst = !subjectFirst;
    }
    double mib = static_cast<double>(state.iterations()) * static_cast<double>(kSize >> 20);
    state.counters["ratio_cpu"] = b.cpu / s.cpu;
    state.counters["ratio_wall"] = b.wall / s.wall;
    state.counters["subject_MiBps"] = mib / s.wall;
    state.counters["baseline_MiBps"] = mib / b.wall;
    results().push_back({name, want, b.cpu / s.cpu, b.wall / s.wall});
}

void BM_Deflated(benchmark::State& state) {
    pair(
        state, "deflated entry / raw deflate", 0.90, [] { writeWithZip(true, nullptr); },
        [] { rawDeflate(false); });
}
void BM_Stored(benchmark::State& state) {
    pair(
        state, "stored entry / write", 0.80, [] { writeWithZip(false, nullptr); }, [] { rawWrite(0); });
}
void BM_StoredSameOffsets(benchmark::State& state) {
    pair(
        state, "stored entry / write at the same file offsets", 0.80, [] { writeWithZip(false, nullptr); },
        [] { rawWrite(31); });
}
void BM_EncryptedDeflated(benchmark::State& state) {
    pair(
        state, "encrypted deflated entry / deflate + EVP", 0.85, [] { writeWithZip(true, key()); },
        [] { rawDeflate(true); });
}

}  // namespace

BENCHMARK(BM_Deflated)->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_Stored)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_StoredSameOffsets)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_EncryptedDeflated)->Unit(benchmark::kSecond)->Iterations(2);

int main(int argc, char** argv) {
    data();  // generated once, outside the timings
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    for (const auto& r : results())
        std::printf("ratio %s = %.3f by CPU time, %.3f by wall time (want >= %.2f)%s\n", r.name.c_str(),
                    r.cpuRatio, r.wallRatio, r.want, r.cpuRatio >= r.want ? "" : "  MISSED");
    return 0;
}
