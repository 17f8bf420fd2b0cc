// The cryptor on its own. Ciphertexts are `openssl enc -aes-128-cbc -K <key> -iv <iv>`
// outputs; the key is PBKDF2 of "password" with 4000 iterations, the IV 00..0f.
#include <gtest/gtest.h>

#include <optional>

#include "kqutility/crypto/KQUCryptor.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "tests/support/KQUCryptoTestSupport.h"
#include "tests/support/KQUScriptedStream.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {
namespace {

// Plaintext 100..139 (40 bytes): three blocks, the last with 8 bytes of padding.
const char* kForty =
    "e3ac54500da126a48d3f88e13a69e3b3826e9dd5c77166126146dcac1f62f023d65517684d4d3a50751f2b830359fb89";

class KQUCryptorTest : public ::testing::Test {
protected:
    KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("password", 4000);
    KQUData iv = counting(0, 16);

    std::unique_ptr<KQUCryptor> make(KQUCryptorOperation operation,
                                     const KQUCryptoKeyRef& withKey = nullptr) {
        return KQUCryptor::create(withKey ? withKey : key, operation,
                                  reinterpret_cast<const char*>(iv.data()), 16);
    }
    // Decrypts cipher with one 64-byte request: the plaintext length, or nullopt on failure.
    std::optional<uint32_t> decryptedLength(const KQUData& cipher, KQUError* error = nullptr) {
        auto cryptor = make(KQUCryptorOperation::Decrypt);
        auto source = KQUMemoryInputStream::create(KQUMakeData(cipher));
        char buffer[64];
        uint32_t n = 0;
        if (!cryptor->cryptDataFromStream(*source, buffer, sizeof buffer, &n, error)) return std::nullopt;
        return n;
    }
};

TEST_F(KQUCryptorTest, EveryRequestSizeAndSourcePieceGivesTheSamePlaintext) {
    const KQUData cipher = fromHex(kForty);
    for (uint32_t piece : {0u, 1u, 15u, 16u, 17u}) {  // 0: a source that lends its bytes
        for (uint32_t request = 1; request <= 50; ++request) {
            SCOPED_TRACE(::testing::Message() << piece << "/" << request);
            auto cryptor = make(KQUCryptorOperation::Decrypt);
            std::shared_ptr<KQUInputStream> source = KQUMemoryInputStream::create(KQUMakeData(cipher));
            if (piece)
                source = std::make_shared<ScriptedInputStream>(cipher,
                                                               ScriptedInputStream::Script{.piece = piece});
            KQUData plain;
            std::vector<char> buffer(request);
            uint32_t n = 0;
            do {
                ASSERT_TRUE(cryptor->cryptDataFromStream(*source, buffer.data(), request, &n));
                plain.insert(plain.end(), buffer.begin(), buffer.begin() + n);
                // Requests are filled completely until the data runs out.
                EXPECT_TRUE(n == 0 || n == request || plain.size() == 40);
            } while (n);
            EXPECT_EQ(toHex(plain), toHex(counting(100, 40)));
            ASSERT_TRUE(cryptor->cryptDataFromStream(*source, buffer.data(), request, &n));
            EXPECT_EQ(n, 0u);  // and stays at the end
        }
    }
}

// Fault: a zero-byte request ran the final step (overran leftovers or "checked padding" mid-ciphertext).
TEST_F(KQUCryptorTest, ZeroByteRequestsTouchNothing) {
    auto cryptor = make(KQUCryptorOperation::Decrypt);
    ScriptedInputStream source(fromHex(kForty), {.piece = 48});
    char buffer[40];
    uint32_t n = 99;
    // {where in buffer, request, bytes expected}: nothing is read at first; 5 bytes leave 11 over, kept
    // through a zero request; then the rest, and the end.
    const uint32_t steps[][3] = {{0, 0, 0}, {0, 5, 5}, {5, 0, 0}, {5, 35, 35}, {0, 40, 0}};
    for (const auto& [at, request, expected] : steps) {
        ASSERT_TRUE(cryptor->cryptDataFromStream(source, buffer + at, request, &n));
        EXPECT_EQ(n, expected) << at << "+" << request;
        EXPECT_TRUE(at + request > 0 || source.position() == 0) << "the first zero request read the source";
    }
    EXPECT_EQ(toHex(reinterpret_cast<uint8_t*>(buffer), 40), toHex(counting(100, 40)));
}

TEST_F(KQUCryptorTest, EveryPaddingValueIsCheckedAndStripped) {
    // A last block ending in p copies of p decrypts to 16 - p bytes; any other ending fails.
    auto encryptRaw = [&](const KQUData& block) {  // CBC of one block without padding
        auto cryptor = make(KQUCryptorOperation::Encrypt);
        KQUMemoryOutputStream out;
        EXPECT_TRUE(cryptor->cryptDataFromBuffer(reinterpret_cast<const char*>(block.data()), 16, out, true));
        return KQUData(out.data()->begin(), out.data()->begin() + 16);
    };
    for (int p = 0; p <= 17; ++p) {  // 0 and 17: a last byte that is no padding length
        KQUData block = counting(0x30, 16);
        for (int i = std::max(16 - p, 0); i < 16; ++i) block[i] = static_cast<uint8_t>(p);
        block[15] = static_cast<uint8_t>(p);
        auto expected = p >= 1 && p <= 16 ? std::optional<uint32_t>(16 - p) : std::nullopt;
        EXPECT_EQ(decryptedLength(encryptRaw(block)), expected) << p;
    }
    // One padding byte that disagrees with the rest.
    EXPECT_EQ(decryptedLength(encryptRaw(concat(counting(0x30, 12), {5, 4, 4, 4}))), std::nullopt);
}

// Fault: a call in the wrong direction reported the assertion and went on, garbage as success.
TEST_F(KQUCryptorTest, WrongDirectionIsAnAssertionAndAFailure) {
    auto decryptor = make(KQUCryptorOperation::Decrypt);
    auto encryptor = make(KQUCryptorOperation::Encrypt);
    KQUMemoryOutputStream out;
    auto source = KQUMemoryInputStream::create(KQUMakeData(fromHex(kForty)));
    char buffer[48];
    uint32_t n = 7;
    EXPECT_ASSERTION_FAILURE((void)decryptor->cryptDataFromBuffer("abc", 3, out, true));
    EXPECT_ASSERTION_FAILURE((void)encryptor->cryptDataFromStream(*source, buffer, 48, &n));
    {
        ContinueAfterAssertions continuing;
        LogCapture log;
        KQUError error;
        EXPECT_FALSE(decryptor->cryptDataFromBuffer("abc", 3, out, true, nullptr, &error));
        EXPECT_EQ(error.code, KQUCryptorErrorWrongDirection);
        EXPECT_TRUE(out.data()->empty());
        EXPECT_FALSE(encryptor->cryptDataFromStream(*source, buffer, 48, &n, &error));
        EXPECT_EQ(error.code, KQUCryptorErrorWrongDirection);
        EXPECT_EQ(n, 0u);
        EXPECT_TRUE(log.contains("Decryption to stream not supported"));
        EXPECT_TRUE(log.contains("Encryption from stream not supported"));
    }
    // Neither was harmed for its own direction.
    ASSERT_TRUE(decryptor->cryptDataFromStream(*source, buffer, 48, &n));
    EXPECT_EQ(n, 40u);
}

TEST_F(KQUCryptorTest, CreationNeedsAKeyAndABlockOfIv) {
    LogCapture log;
    const char* ivBytes = reinterpret_cast<const char*>(iv.data());
    EXPECT_EQ(KQUCryptor::create(nullptr, KQUCryptorOperation::Encrypt, ivBytes, 16), nullptr);
    EXPECT_EQ(KQUCryptor::create(key, KQUCryptorOperation::Encrypt, ivBytes, 8), nullptr);
    EXPECT_TRUE(log.contains("trying to create crypt handle."));
}

// Fault: finished was set before the padding check, so the request after a failure saw a clean end.
TEST_F(KQUCryptorTest, FailuresAreFinal) {
    auto wrong = KQUCryptoKey::createAes128KeyFromPassphrase("passw0rd", 4000);
    auto cryptor = make(KQUCryptorOperation::Decrypt, wrong);
    auto source = KQUMemoryInputStream::create(KQUMakeData(fromHex(kForty)));
    char buffer[64];
    uint32_t n = 0;
    KQUError first, again;
    ASSERT_FALSE(cryptor->cryptDataFromStream(*source, buffer, sizeof buffer, &n, &first));
    EXPECT_EQ(first.domain, KQUOSStatusErrorDomain);
    EXPECT_EQ(first.code, KQUCryptorErrorBadPadding);
    EXPECT_EQ(KQUCryptorFailureMessage(first),
              "KQUCryptor failed. Decryption failed: the last block's padding is invalid (wrong key or "
              "damaged data)");
    EXPECT_TRUE(cryptor->hasFailed());
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(cryptor->cryptDataFromStream(*source, buffer, sizeof buffer, &n, &again));
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(again.code, first.code);
    }
    EXPECT_FALSE(cryptor->cryptDataFromStream(*source, buffer, 0, &n));
}

}  // namespace
}  // namespace kqu::test
