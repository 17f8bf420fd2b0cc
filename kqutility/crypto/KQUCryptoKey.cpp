#include "kqutility/crypto/KQUCryptoKey.h"

#include <climits>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "kqutility/diagnostics/KQULog.h"

namespace kqu {

KQUCryptoKey::KQUCryptoKey(Private, uint32_t iterationCount) : mIterationCount(iterationCount) {}

KQUCryptoKey::~KQUCryptoKey() {
    OPENSSL_cleanse(mKey.data(), mKey.size());
}

KQUCryptoKeyRef KQUCryptoKey::createAes128KeyFromPassphrase(std::string_view passphrase,
                                                            uint32_t iterationCount) {
    // PKCS5_PBKDF2_HMAC takes int counts and lengths; larger values cannot be derived here.
    if (iterationCount == 0 || iterationCount > INT_MAX || passphrase.size() > INT_MAX) {
        KQULogError("Cannot derive a key with iteration count {} from a passphrase of {} bytes",
                    iterationCount, passphrase.size());
        return nullptr;
    }
    auto key = std::make_shared<KQUCryptoKey>(Private{}, iterationCount);
    // An empty string_view may carry a null pointer, which the derivation does not accept.
    const char* bytes = passphrase.empty() ? "" : passphrase.data();
    if (PKCS5_PBKDF2_HMAC(bytes, static_cast<int>(passphrase.size()),
                          reinterpret_cast<const unsigned char*>(KQUKeyDerivationSalt.data()),
                          static_cast<int>(KQUKeyDerivationSalt.size()), static_cast<int>(iterationCount),
                          EVP_sha1(), static_cast<int>(key->mKey.size()), key->mKey.data()) != 1) {
        KQULogError("Key derivation with iteration count {} failed", iterationCount);
        return nullptr;
    }
    return key;
}

KQUCryptoKeyRef KQUCryptoKey::createWithKeyBytes(std::span<const uint8_t> bytes, uint32_t iterationCount) {
    if (bytes.size() != kKeyLength) return nullptr;
    auto key = std::make_shared<KQUCryptoKey>(Private{}, iterationCount);
    std::copy(bytes.begin(), bytes.end(), key->mKey.begin());
    return key;
}

}  // namespace kqu
