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
    const KQUData verifier = *verifierFor("right", 5000);
    KQUData version2 = verifier;
    version2[0] = 2;
    using enum KQUVerifierKeyResult;
    for (const auto& [passphrase, stored, expected] : {std::tuple{"right", verifier, Ok},
                                                       {"wrong", verifier, WrongPassphrase},
                                                       {"right", version2, UnsupportedVerifier}}) {
        KQUVerifierKeyResult result;
        auto key = KQUCryptoUtils::keyFromPassphraseForVerifier(passphrase, stored, &result);
        EXPECT_EQ(result, expected);
        EXPECT_EQ(key ? key->iterationCount() : 0u, expected == Ok ? 5000u : 0u);
    }
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
