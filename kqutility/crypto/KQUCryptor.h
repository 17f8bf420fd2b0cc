// The cryptor: AES-128-CBC with PKCS #7 padding over one byte sequence, in pieces.
//
// One cryptor serves one direction and one pass. An encrypting cryptor takes plaintext in
// any number of calls and writes ciphertext to a stream as the cipher produces it; the
// call with finished = true writes the last block with its padding. A decrypting cryptor
// pulls ciphertext from a stream on demand and fills the caller's buffer: every request
// is filled completely until the data runs out, the request that reaches the end gets
// what is left (the padding is checked and stripped there), and later requests get 0
// bytes. Decrypted bytes that do not fit a request (always fewer than one block) are
// handed out first by the next one.
//
// Failures are returned as false with a KQUError in KQUOSStatusErrorDomain whose code is
// one of KQUCryptorErrorCode. A failure is final: every later call fails with the same
// error, so damaged or truncated data can never end as a clean end of data.
//
// Memory is constant per cryptor: a 256 KiB working buffer and one block of leftover
// bytes. The key is shared; the cryptor itself belongs to one thread at a time (normally
// to one encrypted stream). Nonce and plaintext remnants are wiped when it goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu {

enum class KQUCryptorOperation : int { Encrypt = 0, Decrypt = 1 };

// Codes of the errors a cryptor reports (domain KQUOSStatusErrorDomain).
enum KQUCryptorErrorCode : int {
    KQUCryptorErrorCipherFailure = 1,    // the cipher library refused the operation
    KQUCryptorErrorBadLength = 2,        // ciphertext ends inside a block, or holds no block
    KQUCryptorErrorBadPadding = 3,       // the final block's padding is wrong: wrong key or damaged data
    KQUCryptorErrorWrongDirection = 4,   // encrypting with a decrypting cryptor or the reverse
    KQUCryptorErrorAlreadyFinished = 5,  // encrypting after the final block was written
    KQUCryptorErrorStreamFailure = 6,    // the target or source stream threw; the pass is lost
};

// The failure reason that goes with a cryptor error's description.
std::string KQUCryptorFailureReason(const KQUError& error);
// "KQUCryptor failed. <description>: <failure reason>", the reason of the NSGenericException
// that the streams and the verifier raise for a cryptor failure.
std::string KQUCryptorFailureMessage(const KQUError& error);

class KQUCryptor {
public:
    static constexpr uint32_t kWorkingBufferSize = 262144;

    // nullptr (after logging "Got CSSM error <code> trying to create crypt handle." or
    // "... trying to init handle for crypt.") when key is null, ivLength is not the key's
    // IV length (16) or the cipher cannot be set up.
    static std::unique_ptr<KQUCryptor> create(KQUCryptoKeyRef key, KQUCryptorOperation operation,
                                              const char* iv, size_t ivLength);
    ~KQUCryptor();
    KQUCryptor(const KQUCryptor&) = delete;
    KQUCryptor& operator=(const KQUCryptor&) = delete;

    KQUCryptorOperation operation() const { return mOperation; }
    uint32_t blockSize() const { return 16; }
    const KQUCryptoKeyRef& key() const { return mKey; }
    // True once a call has failed; every later call fails with the same error.
    bool hasFailed() const;

    // Encrypts length bytes and writes the ciphertext to target; with finished, also the
    // last block and its padding. When crc32 is given, every byte written to target is
    // folded into *crc32 (zlib's crc32, the zip CRC). A zero-length call without finished
    // does nothing. Exceptions of target pass through (and fail the cryptor). Calling this
    // on a decrypting cryptor is an assertion failure ("Decryption to stream not
    // supported") and then returns false.
    [[nodiscard]] bool cryptDataFromBuffer(const char* bytes, size_t length, KQUOutputStream& target,
                                           bool finished, uint32_t* crc32 = nullptr,
                                           KQUError* error = nullptr);

    // Fills buffer with up to length decrypted bytes read from source; *bytesRead gets the
    // count (0 at the end, and for a zero-length request, which touches nothing). Reads
    // from a KQUBufferedInputStreamProtocol source borrow its bytes instead of copying.
    // Exceptions of source pass through (and fail the cryptor). Calling this on an
    // encrypting cryptor is an assertion failure ("Encryption from stream not supported")
    // and then returns false.
    [[nodiscard]] bool cryptDataFromStream(KQUInputStream& source, char* buffer, uint32_t length,
                                           uint32_t* bytesRead, KQUError* error = nullptr);

private:
    struct Private {};

public:
    KQUCryptor(Private, KQUCryptoKeyRef key, KQUCryptorOperation operation);  // use create()

private:
    struct Impl;

    KQUCryptoKeyRef mKey;
    KQUCryptorOperation mOperation;
    std::unique_ptr<Impl> mImpl;
};

}  // namespace kqu
