// The AES-128 document key derived from a user's passphrase.
//
// A key is PBKDF2 with HMAC-SHA1 over the passphrase bytes, the fixed 8-byte salt
// "dezUdodo" (the same for every document and every user), the key's iteration count and
// a 16-byte output. It is immutable after creation and shared read-only (KQUCryptoKeyRef)
// by the cryptors, the encrypted streams and the zip reader and writer, on any number of
// threads. The key bytes are wiped from memory when the last holder lets go.
//
//     auto key = KQUCryptoKey::createAes128KeyFromPassphrase(typed, KQUCryptoUtils::
//                    iterationCountFromPassphraseVerifier(storedVerifier));
//     if (key && KQUCryptoUtils::checkKey(key, storedVerifier)) ...
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kqu {

// The iteration count applications use for new keys.
inline constexpr uint32_t KQUCurrentKeyDerivationIterationCount = 4000;

// The salt of every key derivation: the 8 ASCII bytes "dezUdodo".
inline constexpr std::string_view KQUKeyDerivationSalt{"dezUdodo", 8};

class KQUCryptoKey;
using KQUCryptoKeyRef = std::shared_ptr<const KQUCryptoKey>;

class KQUCryptoKey {
public:
    // The library's only key type.
    static constexpr int KQUCryptoKeyTypeAes128 = 0;
    static constexpr size_t kKeyLength = 16;

    // Derives a key from exactly the bytes of passphrase (no terminator, encoding or
    // normalisation is applied; the caller chooses the bytes). nullptr when the
    // derivation fails, which includes an iteration count of 0 or above INT32_MAX.
    static KQUCryptoKeyRef createAes128KeyFromPassphrase(
        std::string_view passphrase, uint32_t iterationCount = KQUCurrentKeyDerivationIterationCount);
    // A key from 16 raw key bytes (a key kept elsewhere, or one agreed with another
    // program); iterationCount is what verifiers made with it record. nullptr unless
    // bytes holds exactly 16 bytes.
    static KQUCryptoKeyRef createWithKeyBytes(std::span<const uint8_t> bytes, uint32_t iterationCount);

    ~KQUCryptoKey();
    KQUCryptoKey(const KQUCryptoKey&) = delete;
    KQUCryptoKey& operator=(const KQUCryptoKey&) = delete;

    int keyType() const { return KQUCryptoKeyTypeAes128; }
    uint32_t iterationCount() const { return mIterationCount; }
    // The raw key bytes, for the cipher and for showing the key to a person who asked.
    std::span<const uint8_t, kKeyLength> keyBytes() const { return mKey; }

private:
    struct Private {};

public:
    KQUCryptoKey(Private, uint32_t iterationCount);  // use the create functions

private:
    std::array<uint8_t, kKeyLength> mKey{};
    uint32_t mIterationCount;
};

}  // namespace kqu
