// Unique identifiers against a plain std::unordered_map<std::string, …>, in the same run:
// interning and registering 1,000,000 names ("Shape-0" … "Shape-999999") in one namespace,
// then looking up identifier -> object and object -> identifier for every one. The
// baseline does the same inserts and look-ups with a string-keyed map and its reverse
// (object address -> name). Want >= 0.7. Items processed are the 3,000,000 operations
// (insert, two look-ups) of one iteration, so the report gives time per operation; the
// namespace teardown is left out of the timing in both.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "KQUBenchSupport.h"
#include "kqutility/identity/KQUUID.h"

namespace {

constexpr size_t kNames = 1'000'000;

struct Fixture {
    std::vector<std::string> names;
    std::vector<std::shared_ptr<void>> objects;
    Fixture() {
        names.reserve(kNames);
        objects.reserve(kNames);
        for (size_t i = 0; i < kNames; ++i) {
            names.push_back("Shape-" + std::to_string(i));
            objects.push_back(std::make_shared<int>(static_cast<int>(i)));
        }
    }
};

const Fixture& fixture() {
    static const Fixture sFixture;
    return sFixture;
}

void BM_UIDRegistry(benchmark::State& state) {
    const Fixture& f = fixture();
    std::vector<kqu::KQUUIDRef> uids(kNames);
    for (auto _ : state) {
        auto ns = std::make_unique<kqu::KQUUIDNamespace>();
        for (size_t i = 0; i < kNames; ++i) {
            uids[i] = kqu::KQUUIDManager::uidInNamespace(*ns, f.names[i]);
            kqu::KQUUIDManager::registerUID(uids[i], f.objects[i]);
        }
        size_t found = 0;
        for (size_t i = 0; i < kNames; ++i) {
            found += kqu::KQUUIDManager::objectForUID(uids[i].get()) != nullptr;
            found += kqu::KQUUIDManager::uidForObject(f.objects[i].get(), *ns) != nullptr;
        }
        benchmark::DoNotOptimize(found);
        state.PauseTiming();
        for (auto& uid : uids) uid.reset();
        ns.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kNames * 3));
}

void BM_UnorderedMapRegistry(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        auto byName = std::make_unique<std::unordered_map<std::string, std::shared_ptr<void>>>();
        auto byObject = std::make_unique<std::unordered_map<const void*, const std::string*>>();
        for (size_t i = 0; i < kNames; ++i) {
            auto [it, inserted] = byName->emplace(f.names[i], f.objects[i]);
            (*byObject)[f.objects[i].get()] = &it->first;
        }
        size_t found = 0;
        for (size_t i = 0; i < kNames; ++i) {
            found += byName->find(f.names[i])->second != nullptr;
            found += byObject->find(f.objects[i].get())->second != nullptr;
        }
        benchmark::DoNotOptimize(found);
        state.PauseTiming();
        byObject.reset();
        byName.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kNames * 3));
}

BENCHMARK(BM_UIDRegistry)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(3);
BENCHMARK(BM_UnorderedMapRegistry)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv, {{"BM_UIDRegistry", "BM_UnorderedMapRegistry", 0.7}});
}
