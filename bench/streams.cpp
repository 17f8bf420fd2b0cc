// Stream layer throughput: buffered file reading against a plain pread loop, and the
// memory stream's lending against memcpy.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "KQUBenchSupport.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"

namespace {

constexpr int64_t kSize = 256LL << 20;
constexpr uint32_t kBlock = 256 << 10;

const std::string& bigFile() {
    static std::string path = [] {
        std::string p = "/tmp/kqu-bench-streams-" + std::to_string(::getpid());
        int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::string block(kBlock, '\0');
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
        for (int64_t done = 0; done < kSize; done += kBlock)
            if (::write(fd, block.data(), kBlock) != kBlock) std::abort();
        ::close(fd);
        std::atexit([] { ::unlink(("/tmp/kqu-bench-streams-" + std::to_string(::getpid())).c_str()); });
        return p;
    }();
    return path;
}

void BM_PreadLoop(benchmark::State& state) {
    void* buffer = nullptr;
    if (::posix_memalign(&buffer, 4096, kBlock) != 0) std::abort();
    for (auto _ : state) {
        int fd = ::open(bigFile().c_str(), O_RDONLY);
        int64_t offset = 0;
        while (offset < kSize) {
            ssize_t n = ::pread(fd, buffer, kBlock, offset);
            if (n <= 0) std::abort();
            offset += n;
        }
        benchmark::DoNotOptimize(buffer);
        ::close(fd);
    }
    std::free(buffer);
    state.SetBytesProcessed(state.iterations() * kSize);
}

void BM_BufferedFileRead(benchmark::State& state) {
    for (auto _ : state) {
        kqu::KQUBufferedInputStream s(kqu::KQUFileInputStream::create(bigFile()), kBlock);
        const char* lent;
        int64_t total = 0;
        while (uint32_t n = s.readToOwnBuffer(&lent, kBlock)) {
            benchmark::DoNotOptimize(lent);
            total += n;
        }
        if (total != kSize) std::abort();
    }
    state.SetBytesProcessed(state.iterations() * kSize);
}

kqu::KQUDataRef bigData() {
    static kqu::KQUDataRef data = std::make_shared<const kqu::KQUData>(kSize, uint8_t(0x5a));
    return data;
}

void BM_Memcpy(benchmark::State& state) {
    auto data = bigData();
    std::vector<char> destination(kSize);
    for (auto _ : state) {
        std::memcpy(destination.data(), data->data(), kSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kSize);
}

void BM_MemoryLend(benchmark::State& state) {
    auto data = bigData();
    for (auto _ : state) {
        auto s = kqu::KQUMemoryInputStream::create(data);
        const char* lent;
        int64_t total = 0;
        while (uint32_t n = s->readToOwnBuffer(&lent, kBlock)) {
            benchmark::DoNotOptimize(lent);
            total += n;
        }
        if (total != kSize) std::abort();
    }
    state.SetBytesProcessed(state.iterations() * kSize);
}

BENCHMARK(BM_PreadLoop)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_BufferedFileRead)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);
BENCHMARK(BM_MemoryLend)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv,
                                     {{"BM_BufferedFileRead", "BM_PreadLoop", 0.9}, {"BM_MemoryLend", "BM_Memcpy", 10.0}});
}
