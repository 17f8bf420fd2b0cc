// Identity dictionary and matrix reads against the plain standard containers, in the same
// run:
//  - inserting then looking up 1,000,000 keys in KQUPointerKeyDictionary vs
//    std::unordered_map<const void*, std::shared_ptr<…>> (want >= 0.8);
//  - reading every cell of a full 1000-row x 100-column KQUNonretainedMatrix1D through its
//    accessor function vs indexing a std::vector<T*> (reported).
// Keys are 16 bytes apart, as heap objects are.
#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "KQUBenchSupport.h"
#include "kqutility/collections/KQUMatrix1D.h"
#include "kqutility/collections/KQUPointerDictionary.h"

namespace {

constexpr size_t kKeys = 1'000'000;
constexpr uint16_t kRows = 1000, kColumns = 100;

using Key = std::array<char, 16>;

const std::vector<Key>& keys() {
    static const std::vector<Key> sKeys(kKeys);
    return sKeys;
}

void BM_PointerKeyDictionary(benchmark::State& state) {
    auto value = std::make_shared<int>(1);
    for (auto _ : state) {
        kqu::KQUPointerKeyDictionary<const Key, int> dict;
        for (const Key& k : keys()) dict.setObject(value, &k);
        int64_t found = 0;
        for (const Key& k : keys()) found += *dict.objectForKey(&k);
        benchmark::DoNotOptimize(found);
    }
}

void BM_UnorderedMap(benchmark::State& state) {
    auto value = std::make_shared<int>(1);
    for (auto _ : state) {
        std::unordered_map<const void*, std::shared_ptr<int>> map;
        for (const Key& k : keys()) map[&k] = value;
        int64_t found = 0;
        for (const Key& k : keys()) found += *map.find(&k)->second;
        benchmark::DoNotOptimize(found);
    }
}

std::vector<int>& cellObjects() {
    static std::vector<int> sObjects(size_t(kRows) * kColumns, 1);
    return sObjects;
}

void BM_Matrix1DAccessor(benchmark::State& state) {
    kqu::KQUNonretainedMatrix1D<int> matrix(kRows, kColumns);
    for (uint16_t r = 0; r < kRows; ++r)
        for (uint16_t c = 0; c < kColumns; ++c)
            matrix.setObject(&cellObjects()[size_t(r) * kColumns + c], {c, r});
    auto access = matrix.objectAccessorFunction();
    for (auto _ : state) {
        int64_t sum = 0;
        for (uint16_t r = 0; r < kRows; ++r)
            for (uint16_t c = 0; c < kColumns; ++c) sum += *access(matrix, {c, r});
        benchmark::DoNotOptimize(sum);
    }
}

void BM_VectorIndex(benchmark::State& state) {
    std::vector<int*> cells;
    for (int& o : cellObjects()) cells.push_back(&o);
    for (auto _ : state) {
        int64_t sum = 0;
        for (size_t r = 0; r < kRows; ++r)
            for (size_t c = 0; c < kColumns; ++c) sum += *cells[r * kColumns + c];
        benchmark::DoNotOptimize(sum);
    }
}

BENCHMARK(BM_PointerKeyDictionary)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);
BENCHMARK(BM_UnorderedMap)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);
BENCHMARK(BM_Matrix1DAccessor)->Unit(benchmark::kMicrosecond)->MinTime(0.3)->Repetitions(3);
BENCHMARK(BM_VectorIndex)->Unit(benchmark::kMicrosecond)->MinTime(0.3)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv,
                                     {{"BM_PointerKeyDictionary", "BM_UnorderedMap", 0.8},
                                      {"BM_Matrix1DAccessor", "BM_VectorIndex", 0.0}});
}
