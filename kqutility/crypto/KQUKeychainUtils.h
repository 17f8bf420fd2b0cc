// KQUKeychainUtils remembers a document's passphrase in the user's keychain, so that an
// application can open the document without asking. Each passphrase is a generic-password
// item found by a generic item the application chooses (any bytes, such as a document's
// UUID), with a service, a description, a label and an account beside it:
//
//     KQUError error;
//     KQUKeychainUtils::setPassphrase(passphrase, uuid, "kqu", "document passphrase", "kqu: a.zip",
//                                     login, &error);
//     std::string account;
//     KQUSecretBuffer secret;
//     if (KQUKeychainUtils::lookupGenericItem(uuid, &account, &secret, &error)) ...
//     else if (error.code == KQUKeychainItemNotFoundError) ... // never stored
//
// The keychain is the store the user default "KQUKeychainStore" chooses (the desktop's
// Secret Service, or a plaintext file; see KQUKeychainStore.h); overloads take a store of
// the caller's. Exactly one item per generic item is the rule: storing updates one match
// in place and removes any others (left by other clients, or by another process storing
// the same item at the same moment), lookup never picks one of several that disagree, and
// removing removes every match.
//
// Failures answer false with a KQUError in KQUOSStatusErrorDomain (codes in
// KQUKeychainStore.h); nothing throws but misuse: texts that are not UTF-8 or hold NUL
// bytes throw NSInvalidArgumentException before the keychain is touched. Passphrases come
// back in a KQUSecretBuffer, wiped when it goes. Every function may be called from any
// thread; calls are serialised.
#pragma once

#include <string>
#include <string_view>

#include "kqutility/crypto/KQUKeychainStore.h"
#include "kqutility/crypto/KQUSecretBuffer.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

class KQUKeychainUtils {
public:
    KQUKeychainUtils() = delete;

    // Makes the item of genericItem hold these values, creating it when there is none.
    // When finding the item fails for any reason but "not found", answers false with that
    // error and changes nothing.
    [[nodiscard]] static bool setPassphrase(std::string_view passphrase, std::string_view genericItem,
                                            std::string_view service, std::string_view description,
                                            std::string_view label, std::string_view account,
                                            KQUError* error = nullptr);
    [[nodiscard]] static bool setPassphrase(KQUKeychainStore& store, std::string_view passphrase,
                                            std::string_view genericItem, std::string_view service,
                                            std::string_view description, std::string_view label,
                                            std::string_view account, KQUError* error = nullptr);

    // Fills the out-values given (either may be null) from the item of genericItem: an
    // item without account answers the empty account. false with KQUKeychainItemNotFoundError
    // when there is none, KQUKeychainUndecodableSecretError when its secret is not UTF-8,
    // KQUKeychainStoreFailedError when several items match and their passphrases or accounts
    // differ (which one is stale cannot be told; storing again mends it).
    [[nodiscard]] static bool lookupGenericItem(std::string_view genericItem, std::string* account,
                                                KQUSecretBuffer* passphrase, KQUError* error = nullptr);
    [[nodiscard]] static bool lookupGenericItem(KQUKeychainStore& store, std::string_view genericItem,
                                                std::string* account, KQUSecretBuffer* passphrase,
                                                KQUError* error = nullptr);

    // Removes every item of genericItem; true also when there was none.
    [[nodiscard]] static bool removeGenericItem(std::string_view genericItem, KQUError* error = nullptr);
    [[nodiscard]] static bool removeGenericItem(KQUKeychainStore& store, std::string_view genericItem,
                                                KQUError* error = nullptr);
};

}  // namespace kqu
