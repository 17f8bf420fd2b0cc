// Key derivation against PBKDF2-HMAC-SHA1 values computed with Python's hashlib
// (hashlib.pbkdf2_hmac("sha1", passphrase, b"dezUdodo", count, 16)).
#include <gtest/gtest.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "tests/support/KQUCryptoTestSupport.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {
namespace {

TEST(KQUCryptoKey, DerivesPbkdf2HmacSha1WithTheFixedSaltOrRefuses) {
    const std::tuple<std::string_view, uint32_t, const char*> cases[] = {
        {"password", 4000, "f733029fce13a0d36a54ec97780c2009"},
        {"", 4000, "5e7e7357464753d12eb4308c03dc9b40"},
        {"correct horse battery staple", 10000, "4e45731e0523b5e7c5a58bc5845e7682"},
        {"p\xc3\xa4ssw\xc3\xb6rd", 1, "7c944ef3ae758a887fe21e9e1b03244a"},
        {"password", 1, "e0fd4cb05c5231842804e2f8bf951930"},
        {std::string_view("password\0x", 10), 1, "06c8b83ef81beb940e7151f7b03fb1c4"},  // zero byte included
        {"password", 0, "refused"},
        {"password", 0x80000000u, "refused"},
    };
    LogCapture log;
    for (const auto& [passphrase, iterations, expected] : cases) {
        auto key = KQUCryptoKey::createAes128KeyFromPassphrase(passphrase, iterations);
        EXPECT_EQ(key ? toHex(key->keyBytes()) : "refused", expected) << passphrase << " / " << iterations;
        EXPECT_EQ(key ? key->iterationCount() : iterations, iterations);
    }
    // Without a count, the current one.
    EXPECT_EQ(toHex(KQUCryptoKey::createAes128KeyFromPassphrase("password")->keyBytes()),
              std::get<2>(cases[0]));
}

TEST(KQUCryptoKey, RawKeyBytesMustBeOneKeyLong) {
    auto key = KQUCryptoKey::createWithKeyBytes(counting(1, 16), 1234);
    EXPECT_EQ(key ? toHex(key->keyBytes()) : "", toHex(counting(1, 16)));
    for (size_t length : {15, 17})
        EXPECT_EQ(KQUCryptoKey::createWithKeyBytes(counting(1, length), 1), nullptr);
}

}  // namespace
}  // namespace kqu::test
