// The passphrase verifier, hint encoding, digests and random source. Known answers:
// digests from Python's hashlib; the verifier from struct.pack("<HHI", 1, 1, 4000) + IV +
// `openssl enc -aes-128-cbc -K <key> -iv <IV>` of nonce + sha256(nonce).
#include <gtest/gtest.h>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "tests/support/KQUCryptoTestSupport.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {
namespace {

// Key "password", 4000 iterations; IV a0..af; nonce 40..5f.
const char* kKnownVerifier =
    "01000100a00f0000a0a1a2a3a4a5a6a7a8a9aaabacadaeaf143e3f5c99ea27748db5f16f3f7d5ebfeee03ef1330d1f318265a55b"
    "0778b06cb2b8e3655a74c360a6d6deb5b52dc8eefd47ac094a956e684af382f1a5e9c3f5442054b6e4ee470067ba2a7b8e432f9"
    "8";

class KQUPassphraseVerifier : public ::testing::Test {
protected:
    KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("password", 4000);
    KQUData known = fromHex(kKnownVerifier);
};

TEST_F(KQUPassphraseVerifier, MatchesAndChecksAnIndependentlyComputedVerifier) {
    {
        ScriptedRandom random(concat(counting(0xa0, 16), counting(0x40, 32)));
        auto verifier = KQUCryptoUtils::generatePassphraseVerifierForKey(key);
        ASSERT_TRUE(verifier);
        EXPECT_EQ(toHex(*verifier), kKnownVerifier);
    }
    EXPECT_TRUE(KQUCryptoUtils::checkKey(key, known));
    // Fault mended: the right key used to pass a verifier with bytes after its 104.
    for (size_t extra : {1, 16, 20}) {
        auto longer = known;
        longer.insert(longer.end(), extra, 0xEE);
        EXPECT_FALSE(KQUCryptoUtils::checkKey(key, longer)) << extra;
    }
}

// Fault: a failing random source used to be ignored, returning a predictable verifier.
TEST_F(KQUPassphraseVerifier, NoVerifierWhenTheRandomSourceFails) {
    LogCapture log;
    for (int failAt : {0, 1}) {  // the IV, then the nonce
        ScriptedRandom random({}, failAt);
        EXPECT_EQ(KQUCryptoUtils::generatePassphraseVerifierForKey(key), nullptr) << failAt;
    }
    EXPECT_EQ(KQUCryptoUtils::generatePassphraseVerifierForKey(nullptr), nullptr);
}

TEST_F(KQUPassphraseVerifier, AnswersFalseForWrongKeysAndDamagedVerifiers) {
    EXPECT_FALSE(
        KQUCryptoUtils::checkKey(KQUCryptoKey::createAes128KeyFromPassphrase("Password", 4000), known));
    EXPECT_FALSE(KQUCryptoUtils::checkKey(nullptr, known));
    // The right key bytes claiming another count.
    EXPECT_FALSE(KQUCryptoUtils::checkKey(KQUCryptoKey::createWithKeyBytes(key->keyBytes(), 10000), known));
    for (size_t length : {0, 3, 4, 8, 24, 103}) {
        KQUData cut(known.begin(), known.begin() + length);
        EXPECT_FALSE(KQUCryptoUtils::checkKey(key, cut)) << length;
    }
    for (size_t bit = 0; bit < known.size() * 8; ++bit) {
        auto flipped = known;
        flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(KQUCryptoUtils::checkKey(key, flipped)) << "bit " << bit;
    }
}

TEST(KQUCryptoUtils, Version4UuidSetsVersionAndVariantBitsOnly) {
    // Known answers from the UUID layout: version nibble 4 in byte 6, variant 10xx in byte 8.
    for (const auto& [fill, text] :
         {std::pair<uint8_t, const char*>{0x00, "00000000-0000-4000-8000-000000000000"},
          {0xff, "ffffffff-ffff-4fff-bfff-ffffffffffff"}}) {
        ScriptedRandom random(KQUData(16, fill));
        auto uuid = KQUCryptoUtils::generateVersion4Uuid();
        EXPECT_EQ(uuid ? KQUUuidString(*uuid) : "none", text);
    }
    LogCapture log;
    ScriptedRandom failing({}, 0);
    EXPECT_FALSE(KQUCryptoUtils::generateVersion4Uuid());
}

TEST(KQUCryptoUtils, HintIsItsUtf8BytesAndDecodingRefusesWhatIsNotUtf8) {
    for (std::string hint : {"Grandma's cat \xe2\x80\x94 Mieze \xf0\x9f\x90\x88", ""}) {
        auto encoded = KQUCryptoUtils::encodePassphraseHint(hint);
        EXPECT_EQ(std::string(encoded.begin(), encoded.end()), hint);
        EXPECT_EQ(KQUCryptoUtils::decodePassphraseHint(encoded), hint);
    }
    for (std::string_view bad :
         {"\xff", "\xc0\xaf", "\xe2\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ok\x80"})
        EXPECT_EQ(KQUCryptoUtils::decodePassphraseHint(KQUData(bad.begin(), bad.end())), std::nullopt) << bad;
}

// Fault: a field longer than its 16-bit length must be refused before anything is written.
TEST(KQUCryptoUtils, HintEncodingRefusesWhatCannotBeStored) {
    EXPECT_EQ(KQUCryptoUtils::encodePassphraseHint(std::string(65531, 'h')).size(), 65531u);
    EXPECT_KQU_THROW(KQUCryptoUtils::encodePassphraseHint(std::string(65532, 'h')),
                     "NSInvalidArgumentException", "Passphrase hint is too long");
    EXPECT_KQU_THROW(KQUCryptoUtils::encodePassphraseHint("caf\xe9"), "NSInvalidArgumentException",
                     "Passphrase hint is not valid UTF-8");
}

TEST(KQUCryptoUtils, Sha256KnownAnswersOfStringsAndStorages) {
    EXPECT_EQ(toHex(*KQUCryptoUtils::sha256HashFromString("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(KQUSha256HexHashString(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // A storage is read to its end.
    struct Storage {
        KQUDataRef bytes;
        std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStream() const {
            return KQUMemoryInputStream::create(bytes);
        }
    };
    std::string text = patternBytes(1 << 20);
    EXPECT_EQ(KQUCryptoUtils::sha256HashFromStorage(Storage{KQUMakeData(text)}),
              KQUCryptoUtils::sha256HashFromString(text));
}

}  // namespace
}  // namespace kqu::test
