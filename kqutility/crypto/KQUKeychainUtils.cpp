#include "kqutility/crypto/KQUKeychainUtils.h"

#include <mutex>
#include <vector>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/foundation/KQUUserDefaults.h"

namespace kqu {

namespace {

// One keychain operation at a time in this process: a store is not meant for two threads,
// and a find followed by writes must not interleave with another.
std::recursive_mutex sKeychainLock;

bool isUtf8(std::string_view text) { return KQUUTF16FromUTF8(text).has_value(); }

void requireText(std::string_view text, std::string_view what) {
    if (!isUtf8(text) || text.find('\0') != std::string_view::npos)
        throw KQUException(NSInvalidArgumentException,
                           fmt::format("The keychain item's {} is not UTF-8 text without NUL characters", what));
}

std::shared_ptr<KQUKeychainStore> processStoreOrFail(KQUError* error) { return KQUKeychainStore::processStore(error); }

}  // namespace

std::string KQUKeychainHexString(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

void KQUSetKeychainError(KQUError* error, int code, std::string description) {
    if (!error) return;
    error->domain = KQUOSStatusErrorDomain;
    error->code = code;
    error->description = std::move(description);
}

std::shared_ptr<KQUKeychainStore> KQUKeychainStore::create(std::string_view name) {
    if (name == KQUKeychainSecretServiceStoreName) return KQUMakeSecretServiceKeychainStore();
    if (name == KQUKeychainFileStoreName) return KQUMakeFileKeychainStore(KQUDefaultKeychainFilePath());
    return nullptr;
}

std::shared_ptr<KQUKeychainStore> KQUKeychainStore::processStore(KQUError* error) {
    static const std::string sName =
        KQUUserDefaults::standardUserDefaults().stringForKey(KQUKeychainStoreKey).value_or(
            KQUKeychainSecretServiceStoreName);
    static const std::shared_ptr<KQUKeychainStore> sStore = create(sName);
    if (!sStore)
        KQUSetKeychainError(error, KQUKeychainNotAvailableError,
                            fmt::format("The user default {} is \"{}\": it must be \"{}\" or \"{}\"", KQUKeychainStoreKey,
                                        sName, KQUKeychainSecretServiceStoreName, KQUKeychainFileStoreName));
    return sStore;
}

bool KQUKeychainUtils::setPassphrase(std::string_view passphrase, std::string_view genericItem,
                                     std::string_view service, std::string_view description,
                                     std::string_view label, std::string_view account, KQUError* error) {
    std::lock_guard guard(sKeychainLock);
    auto store = processStoreOrFail(error);
    return store && setPassphrase(*store, passphrase, genericItem, service, description, label, account, error);
}

bool KQUKeychainUtils::setPassphrase(KQUKeychainStore& store, std::string_view passphrase,
                                     std::string_view genericItem, std::string_view service,
                                     std::string_view description, std::string_view label,
                                     std::string_view account, KQUError* error) {
    if (!isUtf8(passphrase))
        throw KQUException(NSInvalidArgumentException, "The passphrase is not UTF-8 text");
    requireText(service, "service");
    requireText(description, "description");
    requireText(label, "label");
    requireText(account, "account");
    std::lock_guard guard(sKeychainLock);
    auto lock = store.lockForWriting(error);
    if (!lock) return false;
    std::vector<KQUKeychainItem> found;
    if (!store.findItems(genericItem, &found, error, KQUKeychainFindScope::References)) {
        // Storing anyway would add a second item beside one we could not see.
        KQULogError("Got error during lookup when {} keychain item for generic item: {} ({})", "creating",
                    KQUKeychainHexString(genericItem), error ? error->description : std::string());
        return false;
    }
    KQUKeychainItem item{.genericItem = std::string(genericItem),
                         .service = std::string(service),
                         .description = std::string(description),
                         .label = std::string(label),
                         .account = std::string(account),
                         .secret = KQUSecretBuffer(passphrase),
                         .reference = nullptr};
    if (found.empty()) return store.createItem(item, error);
    item.reference = found.front().reference;
    if (!store.updateItem(item, error)) return false;
    for (size_t i = 1; i < found.size(); ++i)
        if (!store.removeItem(found[i], error)) return false;
    return true;
}

bool KQUKeychainUtils::lookupGenericItem(std::string_view genericItem, std::string* account,
                                         KQUSecretBuffer* passphrase, KQUError* error) {
    std::lock_guard guard(sKeychainLock);
    auto store = processStoreOrFail(error);
    return store && lookupGenericItem(*store, genericItem, account, passphrase, error);
}

bool KQUKeychainUtils::lookupGenericItem(KQUKeychainStore& store, std::string_view genericItem,
                                         std::string* account, KQUSecretBuffer* passphrase, KQUError* error) {
    std::lock_guard guard(sKeychainLock);
    std::vector<KQUKeychainItem> found;
    // Accounts cost the Secret Service a call per item: only when asked for.
    if (!store.findItems(genericItem, &found, error,
                         account ? KQUKeychainFindScope::Everything : KQUKeychainFindScope::Secrets))
        return false;
    if (found.empty()) {
        KQUSetKeychainError(error, KQUKeychainItemNotFoundError,
                            fmt::format("No keychain item for generic item {}", KQUKeychainHexString(genericItem)));
        return false;
    }
    const KQUKeychainItem& item = found.front();
    for (size_t i = 1; i < found.size(); ++i) {
        if (!(found[i].secret == item.secret) || found[i].account != item.account) {
            KQUSetKeychainError(error, KQUKeychainStoreFailedError,
                                fmt::format("{} different keychain items for generic item {}: store the passphrase "
                                            "again to keep one",
                                            found.size(), KQUKeychainHexString(genericItem)));
            return false;
        }
    }
    if (!isUtf8(item.secret.view())) {
        KQUSetKeychainError(error, KQUKeychainUndecodableSecretError,
                            fmt::format("The keychain item for generic item {} holds a secret that is not UTF-8 text",
                                        KQUKeychainHexString(genericItem)));
        return false;
    }
    if (account) *account = item.account;
    if (passphrase) *passphrase = KQUSecretBuffer(item.secret.view());
    return true;
}

bool KQUKeychainUtils::removeGenericItem(std::string_view genericItem, KQUError* error) {
    std::lock_guard guard(sKeychainLock);
    auto store = processStoreOrFail(error);
    return store && removeGenericItem(*store, genericItem, error);
}

bool KQUKeychainUtils::removeGenericItem(KQUKeychainStore& store, std::string_view genericItem, KQUError* error) {
    std::lock_guard guard(sKeychainLock);
    auto lock = store.lockForWriting(error);
    if (!lock) return false;
    std::vector<KQUKeychainItem> found;
    if (!store.findItems(genericItem, &found, error, KQUKeychainFindScope::References)) return false;
    for (const auto& item : found)
        if (!store.removeItem(item, error)) return false;
    return true;
}

}  // namespace kqu
