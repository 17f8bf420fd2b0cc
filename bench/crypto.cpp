// Encrypted stream and key derivation cost against OpenSSL called directly on the same
// bytes: writing 256 MiB through KQUCryptoOutputStream into a memory stream against one
// EVP AES-128-CBC encryption of the buffer, reading it back through KQUCryptoInputStream
// against one EVP decryption, and deriving a key against PKCS5_PBKDF2_HMAC.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "KQUBenchSupport.h"
#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"

namespace {

constexpr size_t kSize = 256u << 20;
constexpr uint32_t kWrite = 1u << 20;  // what a caller hands over per call
const unsigned char kIv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

const kqu::KQUCryptoKeyRef& key() {
    static kqu::KQUCryptoKeyRef k = kqu::KQUCryptoKey::createAes128KeyFromPassphrase("benchmark", 4000);
    return k;
}

const std::vector<uint8_t>& plaintext() {
    static std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kSize);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
        return b;
    }();
    return bytes;
}

// The encrypted stream of plaintext(), made once.
const kqu::KQUDataRef& encoded() {
    static kqu::KQUDataRef data = [] {
        auto out = std::make_shared<kqu::KQUMemoryOutputStream>();
        kqu::KQUCryptoOutputStream stream(out, key());
        stream.writeBuffer(reinterpret_cast<const char*>(plaintext().data()), static_cast<uint32_t>(kSize));
        stream.closeLocalStream();
        return kqu::KQUDataRef(out->data());
    }();
    return data;
}

struct Context {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    ~Context() { EVP_CIPHER_CTX_free(context); }
};

void BM_RawEvpEncrypt(benchmark::State& state) {
    const auto& plain = plaintext();
    std::vector<uint8_t> out(kSize + 32);
    for (auto _ : state) {
        Context c;
        int n = 0, m = 0;
        if (EVP_EncryptInit_ex(c.context, EVP_aes_128_cbc(), nullptr, key()->keyBytes().data(), kIv) != 1 ||
            EVP_EncryptUpdate(c.context, out.data(), &n, plain.data(), static_cast<int>(kSize)) != 1 ||
            EVP_EncryptFinal_ex(c.context, out.data() + n, &m) != 1)
            std::abort();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void encryptThroughStream(benchmark::State& state, bool crc) {
    const auto& plain = plaintext();
    // The baseline writes into memory that is already mapped; so does the stream, into a
    // memory stream whose storage is reused from one pass to the next.
    auto sink = std::make_shared<kqu::KQUData>(kSize + 64);
    for (auto _ : state) {
        sink->clear();  // keeps its capacity, as a memory stream that is reused would
        auto out = std::make_shared<kqu::KQUMemoryOutputStream>(sink);
        kqu::KQUCryptoOutputStream stream(out, key(), crc);
        for (size_t at = 0; at < kSize; at += kWrite)
            stream.writeBuffer(reinterpret_cast<const char*>(plain.data()) + at, kWrite);
        stream.closeLocalStream();
        if (sink->size() != kSize + 48) std::abort();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_StreamEncrypt(benchmark::State& state) {
    encryptThroughStream(state, false);
}
void BM_StreamEncryptWithCrc(benchmark::State& state) {
    encryptThroughStream(state, true);
}

void BM_RawEvpDecrypt(benchmark::State& state) {
    const auto& data = *encoded();
    std::vector<uint8_t> out(kSize + 64);
    for (auto _ : state) {
        Context c;
        int n = 0, m = 0;
        if (EVP_DecryptInit_ex(c.context, EVP_aes_128_cbc(), nullptr, key()->keyBytes().data(),
                               data.data()) != 1 ||
            EVP_DecryptUpdate(c.context, out.data(), &n, data.data() + 16,
                              static_cast<int>(data.size() - 16)) != 1 ||
            EVP_DecryptFinal_ex(c.context, out.data() + n, &m) != 1)
            std::abort();
        if (static_cast<size_t>(n + m) != kSize + 16) std::abort();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_StreamDecrypt(benchmark::State& state) {
    std::vector<char> out(kSize + 64);
    for (auto _ : state) {
        kqu::KQUCryptoInputStream stream(kqu::KQUMemoryInputStream::create(encoded()), key());
        size_t total = 0;
        while (uint32_t n = stream.readToBuffer(out.data() + total, kWrite)) total += n;
        if (total != kSize) std::abort();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_RawPbkdf2(benchmark::State& state) {
    unsigned char out[16];
    for (auto _ : state) {
        if (PKCS5_PBKDF2_HMAC("correct horse", 13, reinterpret_cast<const unsigned char*>("dezUdodo"), 8,
                              static_cast<int>(state.range(0)), EVP_sha1(), 16, out) != 1)
            std::abort();
        benchmark::DoNotOptimize(out);
    }
}

void BM_KeyDerivation(benchmark::State& state) {
    for (auto _ : state) {
        auto k = kqu::KQUCryptoKey::createAes128KeyFromPassphrase("correct horse",
                                                                  static_cast<uint32_t>(state.range(0)));
        if (!k) std::abort();
        benchmark::DoNotOptimize(k.get());
    }
}

BENCHMARK(BM_RawEvpEncrypt)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_StreamEncrypt)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_StreamEncryptWithCrc)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_RawEvpDecrypt)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_StreamDecrypt)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_RawPbkdf2)->Arg(4000)->Unit(benchmark::kMicrosecond)->MinTime(0.2)->Repetitions(12);
BENCHMARK(BM_KeyDerivation)->Arg(4000)->Unit(benchmark::kMicrosecond)->MinTime(0.2)->Repetitions(12);

}  // namespace

int main(int argc, char** argv) {
    // The machine is shared: interleaving the repetitions of all benchmarks exposes the
    // subject and its baseline to the same load, and the best repetition of each stands.
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave.data());
    int count = static_cast<int>(arguments.size());
    return kqu::bench::runWithRatios(count, arguments.data(),
                                     {{"BM_StreamEncrypt", "BM_RawEvpEncrypt", 0.85},
                                      {"BM_StreamDecrypt", "BM_RawEvpDecrypt", 0.85},
                                      {"BM_KeyDerivation", "BM_RawPbkdf2", 0.95, 1.05},
                                      {"BM_StreamEncryptWithCrc", "BM_RawEvpEncrypt", 0.0}});
}
