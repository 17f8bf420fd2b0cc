// kqu keychain store / find / delete: the passphrases the keychain remembers for packages
// and encrypted files, by TARGET: "hex:BYTES" (the generic item itself), a zip package
// (its document UUID) or another file (its first 16 bytes, the IV of an encrypted file).
// The store is the one the user default "KQUKeychainStore" picks.
#include <cstdio>

#include <fmt/format.h>

#include "kqutility/crypto/KQUKeychainUtils.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "tools/kqu/KQUPassphrase.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolKeychain.h"

namespace kqu::tool {
namespace {

KQUKeychainStore& store() {
    KQUError error;
    auto store = KQUKeychainStore::processStore(&error);
    if (!store) throw KQUToolError(fmt::format("keychain: {}", error.description));
    return *store;
}

std::string defaultLabel(const std::string& target) {
    return fmt::format("kqu: {}", target.starts_with("hex:") ? target : KQULastPathComponent(target));
}

int runStore(const KQUToolArguments& arguments) {
    const std::string& target = arguments.operands[0];
    std::string item = KQUToolKeychainTarget(target);
    KQUKeychainStore& keychain = store();
    KQUError error;
    if (!keychain.checkUsable(&error)) throw KQUToolError(fmt::format("keychain: {}", error.description));
    auto passphrase = KQUToolPassphrase(arguments, true, KQUPassphrasePurpose::Create);
    bool stored = KQUKeychainUtils::setPassphrase(
        keychain, passphrase->view(), item, arguments.value("--service").value_or("kqu"),
        arguments.value("--description").value_or("document passphrase"),
        arguments.value("--label").value_or(defaultLabel(target)),
        arguments.value("--account").value_or(KQUToolLoginName()), &error);
    if (!stored) throw KQUToolError(fmt::format("keychain: {}", error.description));
    return 0;
}

int runFind(const KQUToolArguments& arguments) {
    std::string item = KQUToolKeychainTarget(arguments.operands[0]);
    std::string account;
    KQUSecretBuffer passphrase;
    KQUError error;
    if (!KQUKeychainUtils::lookupGenericItem(store(), item, &account, &passphrase, &error)) {
        if (error.code == KQUKeychainItemNotFoundError)
            throw KQUToolError(fmt::format("{}: the keychain holds no passphrase for it", arguments.operands[0]));
        throw KQUToolError(fmt::format("keychain: {}", error.description));
    }
    fmt::print("account: {}\n", account);
    if (arguments.has("--show-passphrase")) {
        std::fwrite("passphrase: ", 1, 12, stdout);
        std::fwrite(passphrase.data(), 1, passphrase.size(), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}

int runDelete(const KQUToolArguments& arguments) {
    std::string item = KQUToolKeychainTarget(arguments.operands[0]);
    KQUError error;
    if (!KQUKeychainUtils::removeGenericItem(store(), item, &error))
        throw KQUToolError(fmt::format("keychain: {}", error.description));
    return 0;
}

const std::string kTargetDetails =
    "TARGET is hex:BYTES (the item's key itself), a zip package (its document UUID, written by 'kqu zip create "
    "--encrypt') or another file (its first 16 bytes: the IV of a file made by 'kqu encrypt'). The keychain is "
    "the desktop's Secret Service, or with the user default KQUKeychainStore set to \"file\" a plaintext file "
    "($XDG_DATA_HOME/kqutility/keychain): 'kqu defaults write KQUKeychainStore file'.";

KQUToolRegistration storeCommand({
    .name = "keychain store",
    .operands = "TARGET",
    .summary = "Remember a passphrase in the keychain",
    .options = {{"--service", "S", "the item's service (default: kqu)"},
                {"--label", "L", "the item's label (default: 'kqu: ' and TARGET's file name)"},
                {"--description", "D", "the item's description (default: document passphrase)"},
                {"--account", "A", "the item's account (default: your login name)"},
                KQUPassphraseFileToolOption},
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu keychain store --passphrase-file pass.txt report.zip",
    .details = kTargetDetails + "\n\nAn item already there for TARGET is updated (and any copies removed).",
    .run = runStore,
});
KQUToolRegistration findCommand({
    .name = "keychain find",
    .operands = "TARGET",
    .summary = "Show the keychain item of a package or file",
    .options = {{"--show-passphrase", "", "print the passphrase too"}},
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu keychain find report.zip",
    .details = kTargetDetails + "\n\nPrints 'account: A', then 'passphrase: P' when asked; exits 1 without an item.",
    .run = runFind,
});
KQUToolRegistration deleteCommand({
    .name = "keychain delete",
    .operands = "TARGET",
    .summary = "Forget the keychain's passphrase of a package or file",
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu keychain delete report.zip",
    .details = kTargetDetails + "\n\nRemoves every item for TARGET; exits 0 also when there was none.",
    .run = runDelete,
});

}  // namespace
}  // namespace kqu::tool
