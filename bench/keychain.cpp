// Keychain look-ups.
//
// BM_LibraryFind finds an item's passphrase through KQUKeychainUtils on the Secret Service;
// BM_SecretPasswordLookup is the bare libsecret call for the same item on the same daemon
// (the library also reads every match, to refuse ones that disagree);
// BM_LibraryFindWithAccount also asks for the account, which costs a property call. They run
// only under tests/keychain/secret-service-session, which starts a private daemon:
//
//     tests/keychain/secret-service-session build/bench/bench_keychain
//
// run plainly, they are skipped rather than touch the desktop's real keyring.
// BM_FileStoreFind finds one item among 1,000 in the file store.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <libsecret/secret.h>

#include "KQUBenchSupport.h"
#include "kqutility/crypto/KQUKeychainUtils.h"

namespace {

using namespace kqu;

const std::string kItem("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 16);
const char* kItemHex = "0102030405060708090a0b0c0d0e0f10";

bool secretServiceStarted(benchmark::State& state) {
    if (std::getenv("KQU_TEST_SECRET_SERVICE")) return true;
    state.SkipWithError("needs a private Secret Service: run through tests/keychain/secret-service-session");
    return false;
}

std::shared_ptr<KQUKeychainStore> secretServiceWithItem() {
    static auto store = [] {
        auto s = KQUMakeSecretServiceKeychainStore();
        KQUError error;
        if (!KQUKeychainUtils::setPassphrase(*s, "bench passphrase", kItem, "kqu", "bench", "bench", "me", &error))
            std::fprintf(stderr, "bench_keychain: %s\n", error.description.c_str());
        return s;
    }();
    return store;
}

// The passphrase alone, as the baseline finds it: a search and a GetSecrets call.
void BM_LibraryFind(benchmark::State& state) {
    if (!secretServiceStarted(state)) return;
    auto store = secretServiceWithItem();
    for (auto _ : state) {
        KQUSecretBuffer passphrase;
        if (!KQUKeychainUtils::lookupGenericItem(*store, kItem, nullptr, &passphrase)) state.SkipWithError("lookup");
        benchmark::DoNotOptimize(passphrase.data());
    }
}

// With the account too: one property call more per item.
void BM_LibraryFindWithAccount(benchmark::State& state) {
    if (!secretServiceStarted(state)) return;
    auto store = secretServiceWithItem();
    for (auto _ : state) {
        KQUSecretBuffer passphrase;
        std::string account;
        if (!KQUKeychainUtils::lookupGenericItem(*store, kItem, &account, &passphrase)) state.SkipWithError("lookup");
        benchmark::DoNotOptimize(passphrase.data());
    }
}

void BM_SecretPasswordLookup(benchmark::State& state) {
    if (!secretServiceStarted(state)) return;
    secretServiceWithItem();
    SecretSchema schema{};
    schema.name = "KQUtility.GenericPassword";
    schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    schema.attributes[0] = {"gena", SECRET_SCHEMA_ATTRIBUTE_STRING};
    for (auto _ : state) {
        GError* error = nullptr;
        gchar* passphrase = secret_password_lookup_sync(&schema, nullptr, &error, "gena", kItemHex, nullptr);
        if (!passphrase) state.SkipWithError("secret_password_lookup_sync");
        if (error) g_error_free(error);
        benchmark::DoNotOptimize(passphrase);
        secret_password_free(passphrase);
    }
}

void BM_FileStoreFind(benchmark::State& state) {
    auto directory = std::filesystem::temp_directory_path() / ("kqu-bench-keychain-" + std::to_string(getpid()));
    auto store = KQUMakeFileKeychainStore((directory / "kqutility" / "keychain").string());
    for (int i = 0; i < 1000; ++i) {
        std::string item = kItem + std::to_string(i);
        if (!KQUKeychainUtils::setPassphrase(*store, "passphrase " + std::to_string(i), item, "kqu",
                                             "document passphrase", "kqu: document " + std::to_string(i), "me")) {
            state.SkipWithError("could not fill the file store");
            return;
        }
    }
    const std::string wanted = kItem + "500";
    for (auto _ : state) {
        KQUSecretBuffer passphrase;
        if (!KQUKeychainUtils::lookupGenericItem(*store, wanted, nullptr, &passphrase)) state.SkipWithError("lookup");
        benchmark::DoNotOptimize(passphrase.data());
    }
    std::filesystem::remove_all(directory);
}

BENCHMARK(BM_LibraryFind)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_LibraryFindWithAccount)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_SecretPasswordLookup)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_FileStoreFind)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // The machine is shared: interleaved repetitions expose subject and baseline to the
    // same load, and the best repetition of each stands.
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave.data());
    int count = static_cast<int>(arguments.size());
    return kqu::bench::runWithRatios(count, arguments.data(), {{"BM_LibraryFind", "BM_SecretPasswordLookup", 0.8}});
}
