// What the keychain tests share: the Secret Service that tests/keychain/secret-service-session
// starts for each test (or the reason there is none), and generic items unique to a test,
// so that tests run together against one keyring never see each other's items.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "kqutility/crypto/KQUCryptoUtils.h"

namespace kqu::test {

// Empty when the harness started a Secret Service for this process, else why not.
inline std::string secretServiceUnavailableReason() {
    if (const char* skip = std::getenv("KQU_TEST_SECRET_SERVICE_SKIP")) return skip;
    if (!std::getenv("KQU_TEST_SECRET_SERVICE"))
        return "no private Secret Service: run through tests/keychain/secret-service-session (ctest does)";
    return {};
}

#define KQU_REQUIRE_SECRET_SERVICE()                                                  \
    do {                                                                              \
        std::string kquReason = ::kqu::test::secretServiceUnavailableReason();        \
        if (!kquReason.empty()) GTEST_SKIP() << "Secret Service tests: " << kquReason; \
    } while (0)

// 16 random bytes followed by suffix.
inline std::string uniqueGenericItem(std::string_view suffix = {}) {
    auto uuid = KQUCryptoUtils::generateVersion4Uuid();
    return std::string(reinterpret_cast<const char*>(uuid->data()), uuid->size()) + std::string(suffix);
}

}  // namespace kqu::test
