// What the keychain tests share: the Secret Service that tests/keychain/secret-service-session
// starts for each test (or the reason there is none), and generic items unique to a test,
// so that tests run together against one keyring never see each other's items.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/crypto/KQUKeychainUtils.h"

namespace kqu::test {

// Empty when the harness started a Secret Service for this process, else why not.
inline std::string secretServiceUnavailableReason() {
    if (const char* skip = std::getenv("KQU_TEST_SECRET_SERVICE_SKIP")) return skip;
    if (!std::getenv("KQU_TEST_SECRET_SERVICE"))
        return "no private Secret Service: run through tests/keychain/secret-service-session (ctest does)";
    return {};
}

#define KQU_REQUIRE_SECRET_SERVICE()                                                   \
    do {                                                                               \
        std::string kquReason = ::kqu::test::secretServiceUnavailableReason();         \
        if (!kquReason.empty()) GTEST_SKIP() << "Secret Service tests: " << kquReason; \
    } while (0)

// 16 random bytes followed by suffix.
inline std::string uniqueGenericItem(std::string_view suffix = {}) {
    auto uuid = KQUCryptoUtils::generateVersion4Uuid();
    return std::string(reinterpret_cast<const char*>(uuid->data()), uuid->size()) + std::string(suffix);
}

// Stores passphrase under item: "" when stored, else the error's code and text.
inline std::string storePassphrase(KQUKeychainStore& store, std::string_view passphrase,
                                   std::string_view item, std::string_view account = "me",
                                   std::string_view label = "label", std::string_view service = "svc",
                                   std::string_view description = "desc") {
    KQUError error;
    if (KQUKeychainUtils::setPassphrase(store, passphrase, item, service, description, label, account,
                                        &error))
        return "";
    return fmt::format("{} {}", error.code, error.description);
}

// "<account>:<passphrase>" when found, else "<error domain> <code> <account>" (the account starts
// "untouched").
inline std::string lookup(KQUKeychainStore& store, std::string_view item) {
    std::string account = "untouched";
    KQUSecretBuffer passphrase;
    KQUError error;
    if (KQUKeychainUtils::lookupGenericItem(store, item, &account, &passphrase, &error))
        return account + ":" + std::string(passphrase.view());
    return fmt::format("{} {} {}", error.domain, error.code, account);
}

}  // namespace kqu::test
