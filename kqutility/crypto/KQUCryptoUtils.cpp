#include "kqutility/crypto/KQUCryptoUtils.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <mutex>

#include <fmt/format.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <unicode/utf8.h>

#include "kqutility/crypto/KQUCryptoUtilsTesting.h"
#include "kqutility/crypto/KQUCryptor.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "kqutility/streams/KQUMemoryStreams.h"

namespace kqu {

namespace {

constexpr size_t kVerifierHeaderLength = 8;
constexpr size_t kVerifierIvOffset = 8;
constexpr size_t kVerifierCipherOffset = 24;
constexpr size_t kVerifierCipherLength = 80;
constexpr size_t kVerifierNonceLength = 32;

std::mutex sRandomSourceLock;
std::shared_ptr<const KQUCryptoUtils::RandomSource> sRandomSource;

bool systemRandomBytes(uint8_t* buffer, size_t length) {
    while (length > 0) {
        int chunk = static_cast<int>(std::min<size_t>(length, INT_MAX));
        if (RAND_bytes(buffer, chunk) != 1) return false;
        buffer += chunk;
        length -= static_cast<size_t>(chunk);
    }
    return true;
}

// A buffer of secret bytes, wiped when it goes away.
template <size_t N>
struct SecretBytes {
    uint8_t bytes[N];
    ~SecretBytes() { OPENSSL_cleanse(bytes, N); }
};

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

struct VerifierHeader {
    uint16_t version = 0;
    uint16_t format = 0;
    uint32_t iterationCount = 0;
};

uint16_t readLittleEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t readLittleEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::optional<VerifierHeader> readVerifierHeader(std::span<const uint8_t> verifier) {
    if (verifier.size() < kVerifierHeaderLength) return std::nullopt;
    return VerifierHeader{readLittleEndian16(verifier.data()), readLittleEndian16(verifier.data() + 2),
                          readLittleEndian32(verifier.data() + 4)};
}

bool isSupported(const VerifierHeader& header) {
    return header.version == KQUPassphraseVerifierVersion && header.format == KQUPassphraseVerifierFormat;
}

bool isValidUtf8(std::span<const uint8_t> bytes) {
    if (bytes.size() > INT32_MAX) return false;
    int32_t length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes.data(), i, length, c);
        if (c < 0) return false;
    }
    return true;
}

}  // namespace

bool KQUCryptoUtils::generateRandomDataInBuffer(void* buffer, size_t length) {
    std::shared_ptr<const RandomSource> source;
    {
        std::lock_guard guard(sRandomSourceLock);
        source = sRandomSource;
    }
    auto bytes = static_cast<uint8_t*>(buffer);
    bool ok = source ? (*source)(bytes, length) : systemRandomBytes(bytes, length);
    if (!ok) KQULogError("Could not generate {} random bytes", length);
    return ok;
}

std::optional<std::array<uint8_t, 16>> KQUCryptoUtils::generateVersion4Uuid() {
    std::array<uint8_t, 16> uuid;
    if (!generateRandomDataInBuffer(uuid.data(), uuid.size())) return std::nullopt;
    uuid[6] = static_cast<uint8_t>((uuid[6] & 0x0F) | 0x40);
    uuid[8] = static_cast<uint8_t>((uuid[8] & 0x3F) | 0x80);
    return uuid;
}

std::string KQUUuidString(std::span<const uint8_t, 16> uuid) {
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < uuid.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        fmt::format_to(std::back_inserter(text), "{:02x}", uuid[i]);
    }
    return text;
}

KQUCryptoUtils::RandomSource KQUCryptoUtilsTesting::setRandomSource(KQUCryptoUtils::RandomSource source) {
    std::lock_guard guard(sRandomSourceLock);
    auto previous = std::move(sRandomSource);
    sRandomSource = source ? std::make_shared<const KQUCryptoUtils::RandomSource>(std::move(source)) : nullptr;
    return previous ? *previous : KQUCryptoUtils::RandomSource();
}

uint32_t KQUCryptoUtils::ivLengthForKey(const KQUCryptoKey& key) {
    return key.keyType() == KQUCryptoKey::KQUCryptoKeyTypeAes128 ? 16 : 0;
}

KQUDataRef KQUCryptoUtils::generatePassphraseVerifierForKey(const KQUCryptoKeyRef& key) {
    if (!key) {
        KQULogError("Cannot make a passphrase verifier without a key");
        return nullptr;
    }
    if (key->keyType() != KQUCryptoKey::KQUCryptoKeyTypeAes128) {
        KQU_ASSERT_FAILURE("Unsupported key type");
        return nullptr;
    }
    auto data = std::make_shared<KQUData>();
    data->reserve(KQUPassphraseVerifierLength);
    KQUMemoryOutputStream stream(data);
    uint32_t count = key->iterationCount();
    const uint8_t header[kVerifierHeaderLength] = {
        KQUPassphraseVerifierVersion & 0xFF, KQUPassphraseVerifierVersion >> 8,
        KQUPassphraseVerifierFormat & 0xFF,  KQUPassphraseVerifierFormat >> 8,
        static_cast<uint8_t>(count),         static_cast<uint8_t>(count >> 8),
        static_cast<uint8_t>(count >> 16),   static_cast<uint8_t>(count >> 24)};
    stream.writeBuffer(reinterpret_cast<const char*>(header), sizeof header);

    // Without working random bytes the verifier would be predictable; no verifier at all
    // is the only safe answer.
    uint8_t iv[16];
    SecretBytes<kVerifierNonceLength> nonce;
    if (!generateRandomDataInBuffer(iv, sizeof iv) ||
        !generateRandomDataInBuffer(nonce.bytes, kVerifierNonceLength)) {
        KQULogError("Could not make a passphrase verifier: the random source failed");
        return nullptr;
    }
    stream.writeBuffer(reinterpret_cast<const char*>(iv), sizeof iv);

    auto cryptor =
        KQUCryptor::create(key, KQUCryptorOperation::Encrypt, reinterpret_cast<const char*>(iv), sizeof iv);
    if (!cryptor) return nullptr;
    KQUError error;
    if (!cryptor->cryptDataFromBuffer(reinterpret_cast<const char*>(nonce.bytes), kVerifierNonceLength,
                                      stream, false, nullptr, &error))
        throw KQUException(NSGenericException, KQUCryptorFailureMessage(error));
    auto digest = sha256HashFromData(nonce.bytes);
    if (!digest) return nullptr;
    bool ok = cryptor->cryptDataFromBuffer(reinterpret_cast<const char*>(digest->data()), digest->size(),
                                           stream, true, nullptr, &error);
    OPENSSL_cleanse(digest->data(), digest->size());
    if (!ok) throw KQUException(NSGenericException, KQUCryptorFailureMessage(error));
    return data;
}

bool KQUCryptoUtils::checkKey(const KQUCryptoKeyRef& key, std::span<const uint8_t> verifier) noexcept {
    try {
        if (!key) return false;
        auto header = readVerifierHeader(verifier);
        if (!header || !isSupported(*header) || header->iterationCount != key->iterationCount()) return false;
        // Exactly the 104 bytes: bytes after the verifier mean it is not one of ours.
        if (verifier.size() != kVerifierCipherOffset + kVerifierCipherLength) return false;

        auto cryptor =
            KQUCryptor::create(key, KQUCryptorOperation::Decrypt,
                               reinterpret_cast<const char*>(verifier.data() + kVerifierIvOffset), 16);
        if (!cryptor) return false;
        // Only the 80 bytes of ciphertext: the padding check must see their last block.
        auto cipher = KQUMemoryInputStream::create(
            KQUMakeData(KQUData(verifier.begin() + kVerifierCipherOffset,
                                verifier.begin() + kVerifierCipherOffset + kVerifierCipherLength)));
        SecretBytes<2 * kVerifierNonceLength> plain;
        uint32_t total = 0;
        while (total < sizeof plain.bytes) {
            uint32_t n = 0;
            if (!cryptor->cryptDataFromStream(*cipher, reinterpret_cast<char*>(plain.bytes) + total,
                                              sizeof plain.bytes - total, &n))
                return false;
            if (n == 0) break;
            total += n;
        }
        if (total != sizeof plain.bytes) return false;
        // The end must follow: this request runs the padding check on the last block.
        SecretBytes<16> more;
        uint32_t extra = 0;
        if (!cryptor->cryptDataFromStream(*cipher, reinterpret_cast<char*>(more.bytes), sizeof more.bytes,
                                          &extra) ||
            extra != 0)
            return false;
        auto digest = sha256HashFromData(std::span<const uint8_t>(plain.bytes, kVerifierNonceLength));
        if (!digest) return false;
        return CRYPTO_memcmp(digest->data(), plain.bytes + kVerifierNonceLength, digest->size()) == 0;
    } catch (const std::exception& e) {
        KQULogError("Passphrase verifier check failed: {}", e.what());
        return false;
    }
}

uint32_t KQUCryptoUtils::iterationCountFromPassphraseVerifier(std::span<const uint8_t> verifier) {
    auto header = readVerifierHeader(verifier);
    return header && isSupported(*header) ? header->iterationCount : 0;
}

bool KQUCryptoUtils::isEncryptionVersionAndFormatSupportedInPassphraseVerifier(
    std::span<const uint8_t> verifier) {
    if (verifier.size() < 4) return false;
    return readLittleEndian16(verifier.data()) == KQUPassphraseVerifierVersion &&
           readLittleEndian16(verifier.data() + 2) == KQUPassphraseVerifierFormat;
}

uint32_t KQUCryptoUtils::maximumKeyDerivationIterationCount() {
    int64_t value = KQUUserDefaults::standardUserDefaults().integerForKey(KQUMaximumKeyDerivationIterationCountKey);
    if (value <= 0) return KQUDefaultMaximumKeyDerivationIterationCount;
    return static_cast<uint32_t>(std::min<int64_t>(value, UINT32_MAX));
}

KQUCryptoKeyRef KQUCryptoUtils::keyFromPassphraseForVerifier(std::string_view passphrase,
                                                             std::span<const uint8_t> verifier,
                                                             KQUVerifierKeyResult* result) noexcept {
    auto finish = [result](KQUVerifierKeyResult r, KQUCryptoKeyRef key = nullptr) {
        if (result) *result = r;
        return key;
    };
    try {
        uint32_t count = iterationCountFromPassphraseVerifier(verifier);
        if (count == 0) return finish(KQUVerifierKeyResult::UnsupportedVerifier);
        if (count > maximumKeyDerivationIterationCount()) return finish(KQUVerifierKeyResult::IterationCountTooLarge);
        auto key = KQUCryptoKey::createAes128KeyFromPassphrase(passphrase, count);
        if (!key) return finish(KQUVerifierKeyResult::DerivationFailed);
        if (!checkKey(key, verifier)) return finish(KQUVerifierKeyResult::WrongPassphrase);
        return finish(KQUVerifierKeyResult::Ok, std::move(key));
    } catch (const std::exception& e) {
        KQULogError("Deriving a key for a passphrase verifier failed: {}", e.what());
        return finish(KQUVerifierKeyResult::DerivationFailed);
    }
}

KQUData KQUCryptoUtils::encodePassphraseHint(std::string_view hint) {
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(hint.data()), hint.size());
    if (bytes.size() > KQUPassphraseHintMaxLength)
        throw KQUException(NSInvalidArgumentException, "Passphrase hint is too long");
    if (!isValidUtf8(bytes))
        throw KQUException(NSInvalidArgumentException, "Passphrase hint is not valid UTF-8");
    return KQUData(bytes.begin(), bytes.end());
}

std::optional<std::string> KQUCryptoUtils::decodePassphraseHint(std::span<const uint8_t> encoded) {
    if (!isValidUtf8(encoded)) return std::nullopt;
    return std::string(encoded.begin(), encoded.end());
}

std::optional<KQUSha256Digest> KQUCryptoUtils::sha256HashFromData(std::span<const uint8_t> data) {
    KQUSha256Digest digest;
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        KQULogError("CC_SHA256 failed");
        return std::nullopt;
    }
    return digest;
}

std::optional<KQUSha256Digest> KQUCryptoUtils::sha256HashFromString(std::string_view utf8) {
    return sha256HashFromData(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()));
}

std::optional<KQUSha256Digest> KQUCryptoUtils::sha256HashFromStream(KQUBufferedInputStreamProtocol& stream) {
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        KQULogError("CC_SHA256 failed");
        return std::nullopt;
    }
    stream.disableSystemCaching();
    const char* bytes = nullptr;
    while (uint32_t n = stream.readToOwnBuffer(&bytes, UINT32_MAX)) {
        if (EVP_DigestUpdate(context.get(), bytes, n) != 1) {
            KQULogError("CC_SHA256 failed");
            return std::nullopt;
        }
    }
    KQUSha256Digest digest;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        KQULogError("CC_SHA256 failed");
        return std::nullopt;
    }
    return digest;
}

std::string KQUSha256HexHashString(std::string_view utf8) {
    auto digest = KQUCryptoUtils::sha256HashFromString(utf8);
    if (!digest) return {};
    std::string hex;
    hex.reserve(64);
    for (uint8_t byte : *digest) fmt::format_to(std::back_inserter(hex), "{:02x}", byte);
    return hex;
}

}  // namespace kqu
