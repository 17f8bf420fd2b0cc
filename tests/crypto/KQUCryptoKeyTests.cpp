// Key derivation against PBKDF2-HMAC-SHA1 values computed with Python's hashlib
// (hashlib.pbkdf2_hmac("sha1", passphrase, b"dezUdodo", count, 16)).
#include <gtest/gtest.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "tests/crypto/KQUCryptoTestSupport.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {
namespace {

struct DerivationCase {
    std::string passphrase;
    uint32_t iterations;
    const char* key;
};

TEST(KQUCryptoKey, DerivesPbkdf2HmacSha1WithTheFixedSalt) {
    const DerivationCase cases[] = {
        {"password", 4000, "f733029fce13a0d36a54ec97780c2009"},
        {"", 4000, "5e7e7357464753d12eb4308c03dc9b40"},
        {"correct horse battery staple", 10000, "4e45731e0523b5e7c5a58bc5845e7682"},
        {"p\xc3\xa4ssw\xc3\xb6rd", 1, "7c944ef3ae758a887fe21e9e1b03244a"},
        {"password", 1, "e0fd4cb05c5231842804e2f8bf951930"},
    };
    for (const auto& c : cases) {
        auto key = KQUCryptoKey::createAes128KeyFromPassphrase(c.passphrase, c.iterations);
        ASSERT_TRUE(key) << c.passphrase;
        EXPECT_EQ(toHex(key->keyBytes()), c.key) << c.passphrase << " / " << c.iterations;
        EXPECT_EQ(key->iterationCount(), c.iterations);
        EXPECT_EQ(key->keyType(), 0);
    }
}

TEST(KQUCryptoKey, DefaultCountIsTheCurrentOneAndPassphraseBytesAreTakenExactly) {
    EXPECT_EQ(KQUCurrentKeyDerivationIterationCount, 4000u);
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase("password");
    ASSERT_TRUE(key);
    EXPECT_EQ(toHex(key->keyBytes()), "f733029fce13a0d36a54ec97780c2009");
    // An embedded zero byte is part of the passphrase, not its end.
    auto withZero = KQUCryptoKey::createAes128KeyFromPassphrase(std::string_view("password\0x", 10));
    ASSERT_TRUE(withZero);
    EXPECT_NE(toHex(withZero->keyBytes()), toHex(key->keyBytes()));
}

TEST(KQUCryptoKey, RefusesCountsItCannotDerive) {
    LogCapture log;
    EXPECT_EQ(KQUCryptoKey::createAes128KeyFromPassphrase("password", 0), nullptr);
    EXPECT_EQ(KQUCryptoKey::createAes128KeyFromPassphrase("password", 0x80000000u), nullptr);
}

TEST(KQUCryptoKey, RawKeyBytesMustBeOneKeyLong) {
    auto bytes = counting(1, 16);
    auto key = KQUCryptoKey::createWithKeyBytes(bytes, 1234);
    ASSERT_TRUE(key);
    EXPECT_EQ(toHex(key->keyBytes()), toHex(bytes));
    EXPECT_EQ(key->iterationCount(), 1234u);
    EXPECT_EQ(KQUCryptoKey::createWithKeyBytes(counting(1, 15), 1), nullptr);
    EXPECT_EQ(KQUCryptoKey::createWithKeyBytes(counting(1, 17), 1), nullptr);
}

}  // namespace
}  // namespace kqu::test
