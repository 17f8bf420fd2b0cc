// Keys for existing documents: the stored iteration count is untrusted.
#include <gtest/gtest.h>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

KQUDataRef verifierFor(std::string_view passphrase, uint32_t count) {
    return KQUCryptoUtils::generatePassphraseVerifierForKey(
        KQUCryptoKey::createAes128KeyFromPassphrase(passphrase, count));
}

TEST(KQUVerifierKey, RightWrongAndUnsupported) {
    auto verifier = verifierFor("right", 5000);
    KQUVerifierKeyResult result;
    auto key = KQUCryptoUtils::keyFromPassphraseForVerifier("right", *verifier, &result);
    ASSERT_TRUE(key);
    EXPECT_EQ(result, KQUVerifierKeyResult::Ok);
    EXPECT_EQ(key->iterationCount(), 5000u);
    EXPECT_FALSE(KQUCryptoUtils::keyFromPassphraseForVerifier("wrong", *verifier, &result));
    EXPECT_EQ(result, KQUVerifierKeyResult::WrongPassphrase);
    KQUData other = *verifier;
    other[0] = 2;  // version 2
    EXPECT_FALSE(KQUCryptoUtils::keyFromPassphraseForVerifier("right", other, &result));
    EXPECT_EQ(result, KQUVerifierKeyResult::UnsupportedVerifier);
}

TEST(KQUVerifierKey, CountsAboveTheLimitAreRefusedBeforeDeriving) {
    // A count that would take half an hour to derive; made from raw key bytes in no time.
    uint8_t raw[16] = {1};
    auto verifier =
        KQUCryptoUtils::generatePassphraseVerifierForKey(KQUCryptoKey::createWithKeyBytes(raw, 0x7FFFFFFF));
    KQUVerifierKeyResult result;
    EXPECT_FALSE(KQUCryptoUtils::keyFromPassphraseForVerifier("any", *verifier, &result));
    EXPECT_EQ(result, KQUVerifierKeyResult::IterationCountTooLarge);
    EXPECT_EQ(KQUCryptoUtils::maximumKeyDerivationIterationCount(), 1'000'000u);

    // The limit is a user default: lowered below a document's count, that document is refused.
    auto verifier5000 = verifierFor("right", 5000);
    test::ScopedDefault lower(KQUMaximumKeyDerivationIterationCountKey, "4999");
    EXPECT_FALSE(KQUCryptoUtils::keyFromPassphraseForVerifier("right", *verifier5000, &result));
    EXPECT_EQ(result, KQUVerifierKeyResult::IterationCountTooLarge);
}

}  // namespace
}  // namespace kqu
