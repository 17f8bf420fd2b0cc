// Class-wide crypto helpers: random bytes, the passphrase verifier, the passphrase hint
// encoding and SHA-256 digests.
//
// The passphrase verifier lets an application test a passphrase without decrypting any
// document part. It is 104 bytes, integers little-endian:
//
//     offset  size  content
//          0     2  version, 1
//          2     2  format, 1
//          4     4  iteration count with which the key was derived
//          8    16  initialisation vector (random)
//         24    80  AES-128-CBC under the key and that IV, PKCS #7 padded, of a random
//                   32-byte nonce followed by the SHA-256 digest of the nonce
//
// It holds nothing from which the key can be read back; only the right key decrypts the
// nonce into something whose digest matches. The passphrase hint is stored as the hint's
// UTF-8 bytes without terminator or length prefix.
//
// Random bytes come from OpenSSL's RAND_bytes unless the library's own tests install a
// source (KQUCryptoUtilsTesting.h, not installed). Every function may be called from any
// thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/foundation/KQUData.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu {

using KQUSha256Digest = std::array<uint8_t, 32>;

inline constexpr size_t KQUPassphraseVerifierLength = 104;
inline constexpr uint16_t KQUPassphraseVerifierVersion = 1;
inline constexpr uint16_t KQUPassphraseVerifierFormat = 1;
// The longest encoded hint: the zip extra field that stores it has a 16-bit payload size
// and spends 4 bytes of the payload on its tag.
inline constexpr size_t KQUPassphraseHintMaxLength = 65535 - 4;

// The iteration count in a package's verifier is untrusted: every reader derives a key
// with it before anything else, so a crafted count of 2^31 would tie a reader up for
// half an hour. keyFromPassphraseForVerifier refuses counts above this user default
// (factory value 1,000,000, 250 times what new keys use).
inline constexpr const char* KQUMaximumKeyDerivationIterationCountKey = "KQUMaximumKeyDerivationIterationCount";
inline constexpr uint32_t KQUDefaultMaximumKeyDerivationIterationCount = 1'000'000;

// How keyFromPassphraseForVerifier ended.
enum class KQUVerifierKeyResult {
    Ok,
    UnsupportedVerifier,     // not version 1, format 1
    IterationCountTooLarge,  // above maximumKeyDerivationIterationCount(): nothing was derived
    DerivationFailed,
    WrongPassphrase,
};

class KQUCryptoUtils {
public:
    KQUCryptoUtils() = delete;

    // Fills buffer with length bytes of the random source; false (after logging) when the
    // source fails, in which case the buffer's contents must not be used.
    using RandomSource = std::function<bool(uint8_t* buffer, size_t length)>;
    [[nodiscard]] static bool generateRandomDataInBuffer(void* buffer, size_t length);

    // A version-4 (random) UUID: 16 random bytes with the version nibble (byte 6, high
    // half) set to 4 and the variant bits (byte 8, top two) to binary 10. nullopt when the
    // random source fails.
    static std::optional<std::array<uint8_t, 16>> generateVersion4Uuid();

    // 16 for the AES-128 key type, 0 for any other.
    static uint32_t ivLengthForKey(const KQUCryptoKey& key);

    // A new verifier for key, with a fresh IV and nonce: two verifiers for one key differ
    // in bytes 8 to 103. nullptr (after logging) when key is null or of another type, or
    // when the random source or the digest fails. A cryptor failure throws
    // NSGenericException "KQUCryptor failed. <description>: <reason>".
    static KQUDataRef generatePassphraseVerifierForKey(const KQUCryptoKeyRef& key);
    // True exactly when verifier is version 1, format 1, records key's iteration count and
    // decrypts under key to a nonce and its digest. Never throws: a null key, a wrong
    // key, and a damaged or unknown verifier, or one of any length but 104 bytes, all
    // answer false.
    static bool checkKey(const KQUCryptoKeyRef& key, std::span<const uint8_t> verifier) noexcept;
    // The iteration count recorded in a version-1, format-1 verifier; 0 for anything else
    // (including data shorter than 8 bytes).
    static uint32_t iterationCountFromPassphraseVerifier(std::span<const uint8_t> verifier);
    // True when verifier holds at least 4 bytes and starts with version 1 and format 1.
    static bool isEncryptionVersionAndFormatSupportedInPassphraseVerifier(std::span<const uint8_t> verifier);
    // The largest stored iteration count keyFromPassphraseForVerifier derives with: the
    // user default KQUMaximumKeyDerivationIterationCountKey when it is a positive integer,
    // else KQUDefaultMaximumKeyDerivationIterationCount.
    static uint32_t maximumKeyDerivationIterationCount();
    // The key for an existing document: derived from passphrase with the verifier's
    // iteration count and checked against the verifier. nullptr, with the reason in
    // result, when the verifier is unsupported, asks for more iterations than allowed
    // (checked before deriving), or does not accept the key. Never throws.
    static KQUCryptoKeyRef keyFromPassphraseForVerifier(std::string_view passphrase,
                                                        std::span<const uint8_t> verifier,
                                                        KQUVerifierKeyResult* result = nullptr) noexcept;

    // The hint's UTF-8 bytes. Throws NSInvalidArgumentException "Passphrase hint is too
    // long" for more than KQUPassphraseHintMaxLength bytes and "Passphrase hint is not
    // valid UTF-8" for bytes that are not UTF-8, so a hint that could not be stored or
    // read back is refused before anything is written.
    static KQUData encodePassphraseHint(std::string_view hint);
    // The hint as UTF-8 text; nullopt when the bytes are not valid UTF-8.
    static std::optional<std::string> decodePassphraseHint(std::span<const uint8_t> encoded);

    // SHA-256 digests; nullopt (after logging "CC_SHA256 failed") when the digest fails.
    static std::optional<KQUSha256Digest> sha256HashFromData(std::span<const uint8_t> data);
    static std::optional<KQUSha256Digest> sha256HashFromString(std::string_view utf8);
    // Digest of everything the stream hands out from its current position to its end,
    // read with readToOwnBuffer and with system caching disabled.
    static std::optional<KQUSha256Digest> sha256HashFromStream(KQUBufferedInputStreamProtocol& stream);
    // Digest of a storage: any object whose bufferedInputStream() returns a pointer-like
    // handle to a KQUBufferedInputStreamProtocol (a data representation, for instance).
    template <typename Storage>
    static std::optional<KQUSha256Digest> sha256HashFromStorage(const Storage& storage) {
        auto stream = storage.bufferedInputStream();
        if (!stream) return std::nullopt;
        return sha256HashFromStream(*stream);
    }
};

// The canonical text of a 16-byte UUID: lower-case hex in groups of 8-4-4-4-12 digits.
std::string KQUUuidString(std::span<const uint8_t, 16> uuid);

// The SHA-256 digest of the string's bytes as 64 lower-case hexadecimal digits.
std::string KQUSha256HexHashString(std::string_view utf8);

}  // namespace kqu
