#include "kqutility/crypto/KQUCryptor.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <zlib.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"

namespace kqu {

namespace {

constexpr uint32_t kBlock = 16;

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// Where decrypted bytes go: the caller's buffer first, then (at most one block short of
// a block) the leftover buffer for the next request.
struct Output {
    char* next;
    uint64_t remaining;
    uint64_t delivered = 0;
};

}  // namespace

std::string KQUCryptorFailureReason(const KQUError& error) {
    switch (error.code) {
        case KQUCryptorErrorCipherFailure:
            return "the cipher reported an error";
        case KQUCryptorErrorBadLength:
            return "the encrypted data is incomplete (it does not end on a block boundary)";
        case KQUCryptorErrorBadPadding:
            return "the last block's padding is invalid (wrong key or damaged data)";
        case KQUCryptorErrorWrongDirection:
            return "the cryptor works in the other direction";
        case KQUCryptorErrorAlreadyFinished:
            return "the encryption was already finished";
        case KQUCryptorErrorStreamFailure:
            return "the stream beneath failed";
        default:
            return fmt::format("error {}", error.code);
    }
}

std::string KQUCryptorFailureMessage(const KQUError& error) {
    return fmt::format("KQUCryptor failed. {}: {}", error.description, KQUCryptorFailureReason(error));
}

struct KQUCryptor::Impl {
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context;
    // The working buffer: ciphertext on its way out (encryption) or in from a source that
    // cannot lend its bytes (decryption). Made on first use; wiped as far as it was used.
    std::unique_ptr<uint8_t[]> buffer;
    size_t bufferUsed = 0;

    // Decryption: ciphertext of a block not yet complete, the last decrypted block (held
    // back because it may be the padding block), and decrypted bytes that did not fit the
    // last request.
    uint8_t carry[kBlock];
    uint32_t carryLength = 0;
    uint8_t held[kBlock];
    bool heldValid = false;
    uint8_t leftover[kBlock];
    uint32_t leftoverStart = 0;
    uint32_t leftoverLength = 0;

    bool finished = false;
    bool failed = false;
    KQUError error;

    ~Impl() {
        if (buffer) OPENSSL_cleanse(buffer.get(), bufferUsed);
        OPENSSL_cleanse(carry, sizeof carry);
        OPENSSL_cleanse(held, sizeof held);
        OPENSSL_cleanse(leftover, sizeof leftover);
    }

    uint8_t* workingBuffer(size_t size) {
        // One block more than the working size: an encryption update may emit a block it
        // held back from the previous call.
        if (!buffer) buffer = std::make_unique_for_overwrite<uint8_t[]>(kWorkingBufferSize + kBlock);
        bufferUsed = std::max(bufferUsed, size);
        return buffer.get();
    }

    void deliver(Output& out, const uint8_t* bytes, uint32_t length) {
        uint32_t direct = static_cast<uint32_t>(std::min<uint64_t>(length, out.remaining));
        std::memcpy(out.next, bytes, direct);
        out.next += direct;
        out.remaining -= direct;
        out.delivered += direct;
        uint32_t surplus = length - direct;
        if (surplus) {
            // The reads are sized so that a request never gets more than one block short of
            // a block beyond what it asked for, and the leftover buffer is empty whenever
            // decrypting continues.
            if (leftoverLength != 0 || surplus > kBlock) {
                throw KQUException(NSInternalInconsistencyException, "Output block buffer should be empty");
            }
            std::memcpy(leftover, bytes + direct, surplus);
            leftoverStart = 0;
            leftoverLength = surplus;
        }
    }

    bool decryptUpdate(uint8_t* to, const uint8_t* from, uint32_t length) {
        int produced = 0;
        return EVP_DecryptUpdate(context.get(), to, &produced, from, static_cast<int>(length)) == 1 &&
               static_cast<uint32_t>(produced) == length;
    }

    // Decrypts whole blocks. The block held back so far is handed out, then every block
    // but the last; the last one is held back in turn.
    bool decryptBlocks(Output& out, const uint8_t* cipher, uint32_t blocks) {
        if (heldValid) deliver(out, held, kBlock);
        uint32_t delivered = (blocks - 1) * kBlock;
        uint32_t direct =
            static_cast<uint32_t>(std::min<uint64_t>(delivered, out.remaining / kBlock * kBlock));
        if (direct) {
            if (!decryptUpdate(reinterpret_cast<uint8_t*>(out.next), cipher, direct)) return false;
            out.next += direct;
            out.remaining -= direct;
            out.delivered += direct;
        }
        for (uint32_t offset = direct; offset < delivered; offset += kBlock) {
            uint8_t block[kBlock];
            bool ok = decryptUpdate(block, cipher + offset, kBlock);
            if (ok) deliver(out, block, kBlock);
            OPENSSL_cleanse(block, sizeof block);
            if (!ok) return false;
        }
        if (!decryptUpdate(held, cipher + delivered, kBlock)) return false;
        heldValid = true;
        return true;
    }

    // Takes n ciphertext bytes: completes a pending block, decrypts the whole blocks and
    // keeps a tail for the next read.
    bool consume(Output& out, const uint8_t* bytes, uint32_t n) {
        if (carryLength) {
            uint32_t take = std::min(kBlock - carryLength, n);
            std::memcpy(carry + carryLength, bytes, take);
            carryLength += take;
            bytes += take;
            n -= take;
            if (carryLength < kBlock) return true;
            carryLength = 0;
            if (!decryptBlocks(out, carry, 1)) return false;
        }
        uint32_t whole = n / kBlock * kBlock;
        if (whole && !decryptBlocks(out, bytes, whole / kBlock)) return false;
        carryLength = n - whole;
        std::memcpy(carry, bytes + whole, carryLength);
        return true;
    }

    // The source has run dry: the held block is the last one and carries the padding.
    int finish(Output& out) {
        finished = true;
        if (carryLength != 0 || !heldValid) return KQUCryptorErrorBadLength;
        // Checked without branching on the padding bytes, so the check takes the same time
        // whatever they are.
        uint32_t pad = held[kBlock - 1];
        uint32_t bad = static_cast<uint32_t>(pad == 0) | static_cast<uint32_t>(pad > kBlock);
        for (uint32_t i = 0; i < kBlock; ++i) {
            uint32_t inPadding = static_cast<uint32_t>(kBlock - 1 - i < pad);
            bad |= inPadding & static_cast<uint32_t>(held[i] != pad);
        }
        if (bad) return KQUCryptorErrorBadPadding;
        deliver(out, held, kBlock - pad);
        OPENSSL_cleanse(held, sizeof held);
        heldValid = false;
        return 0;
    }
};

KQUCryptor::KQUCryptor(Private, KQUCryptoKeyRef key, KQUCryptorOperation operation)
    : mKey(std::move(key)), mOperation(operation), mImpl(std::make_unique<Impl>()) {}

KQUCryptor::~KQUCryptor() = default;

std::unique_ptr<KQUCryptor> KQUCryptor::create(KQUCryptoKeyRef key, KQUCryptorOperation operation,
                                               const char* iv, size_t ivLength) {
    if (!key || key->keyType() != KQUCryptoKey::KQUCryptoKeyTypeAes128 || ivLength != kBlock || !iv) {
        KQULogError("Got CSSM error {} trying to create crypt handle.",
                    static_cast<int>(KQUCryptorErrorCipherFailure));
        return nullptr;
    }
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context) {
        KQULogError("Got CSSM error {} trying to create crypt handle.", static_cast<int>(ERR_get_error()));
        return nullptr;
    }
    auto keyBytes = key->keyBytes().data();
    auto ivBytes = reinterpret_cast<const unsigned char*>(iv);
    int ok = 0;
    if (operation == KQUCryptorOperation::Encrypt) {
        ok = EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, keyBytes, ivBytes);
    } else if (operation == KQUCryptorOperation::Decrypt) {
        // The padding is checked here rather than by the cipher, so that decrypted blocks
        // can go straight into the caller's buffer.
        ok = EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, keyBytes, ivBytes) == 1 &&
             EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1;
    }
    if (ok != 1) {
        KQULogError("Got CSSM error {} trying to init handle for crypt.", static_cast<int>(ERR_get_error()));
        return nullptr;
    }
    auto cryptor = std::make_unique<KQUCryptor>(Private{}, std::move(key), operation);
    cryptor->mImpl->context = std::move(context);
    return cryptor;
}

bool KQUCryptor::hasFailed() const {
    return mImpl->failed;
}

namespace {
KQUError makeError(KQUCryptorOperation operation, int code) {
    KQUError error;
    error.domain = KQUOSStatusErrorDomain;
    error.code = code;
    error.description = operation == KQUCryptorOperation::Encrypt ? "Encryption failed" : "Decryption failed";
    return error;
}
}  // namespace

bool KQUCryptor::cryptDataFromBuffer(const char* bytes, size_t length, KQUOutputStream& target, bool finished,
                                     uint32_t* crc32, KQUError* error) {
    Impl& s = *mImpl;
    if (mOperation != KQUCryptorOperation::Encrypt) {
        KQU_OBJECT_ASSERT_FAILURE("Decryption to stream not supported");
        if (error) *error = makeError(mOperation, KQUCryptorErrorWrongDirection);
        return false;
    }
    if (s.failed) {
        if (error) *error = s.error;
        return false;
    }
    if (s.finished) {
        if (error) *error = makeError(mOperation, KQUCryptorErrorAlreadyFinished);
        return false;
    }
    auto emit = [&](const uint8_t* out, int count) {
        if (count <= 0) return;
        target.writeBuffer(reinterpret_cast<const char*>(out), static_cast<uint32_t>(count));
        if (crc32) *crc32 = static_cast<uint32_t>(::crc32(*crc32, out, static_cast<uInt>(count)));
    };
    auto fail = [&](int code) {
        s.failed = true;
        s.error = makeError(mOperation, code);
        if (error) *error = s.error;
        return false;
    };
    try {
        auto input = reinterpret_cast<const unsigned char*>(bytes);
        while (length > 0) {
            uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(length, kWorkingBufferSize));
            uint8_t* out = s.workingBuffer(chunk + kBlock);
            int produced = 0;
            if (EVP_EncryptUpdate(s.context.get(), out, &produced, input, static_cast<int>(chunk)) != 1)
                return fail(KQUCryptorErrorCipherFailure);
            emit(out, produced);
            input += chunk;
            length -= chunk;
        }
        if (finished) {
            s.finished = true;
            uint8_t* out = s.workingBuffer(kBlock);
            int produced = 0;
            if (EVP_EncryptFinal_ex(s.context.get(), out, &produced) != 1)
                return fail(KQUCryptorErrorCipherFailure);
            emit(out, produced);
        }
    } catch (...) {
        // Part of the ciphertext may have reached the target; this pass cannot go on.
        fail(KQUCryptorErrorStreamFailure);
        throw;
    }
    return true;
}

bool KQUCryptor::cryptDataFromStream(KQUInputStream& source, char* buffer, uint32_t length,
                                     uint32_t* bytesRead, KQUError* error) {
    Impl& s = *mImpl;
    if (bytesRead) *bytesRead = 0;
    if (mOperation != KQUCryptorOperation::Decrypt) {
        KQU_OBJECT_ASSERT_FAILURE("Encryption from stream not supported");
        if (error) *error = makeError(mOperation, KQUCryptorErrorWrongDirection);
        return false;
    }
    if (s.failed) {
        if (error) *error = s.error;
        return false;
    }
    if (length == 0) return true;

    Output out{buffer, length};
    if (s.leftoverLength) {
        uint32_t take = std::min(length, s.leftoverLength);
        std::memcpy(out.next, s.leftover + s.leftoverStart, take);
        out.next += take;
        out.remaining -= take;
        out.delivered += take;
        s.leftoverStart += take;
        s.leftoverLength -= take;
    }
    auto fail = [&](int code) {
        s.failed = true;
        s.error = makeError(mOperation, code);
        if (error) *error = s.error;
        return false;
    };
    if (!s.finished && out.remaining > 0) {
        auto* lender = dynamic_cast<KQUBufferedInputStreamProtocol*>(&source);
        try {
            while (out.remaining > 0) {
                // Ask for just enough ciphertext to fill the request: the held block plus
                // the blocks that complete it, and one more block to hold back, since any
                // block may turn out to be the padding block.
                uint64_t held = s.heldValid ? kBlock : 0;
                uint64_t blocks = out.remaining > held ? (out.remaining - held + kBlock - 1) / kBlock + 1 : 1;
                blocks = std::min<uint64_t>(blocks, kWorkingBufferSize / kBlock);
                uint32_t want = static_cast<uint32_t>(blocks * kBlock) - s.carryLength;
                const uint8_t* cipher = nullptr;
                uint32_t n = 0;
                if (lender) {
                    const char* lent = nullptr;
                    n = lender->readToOwnBuffer(&lent, want);
                    cipher = reinterpret_cast<const uint8_t*>(lent);
                } else {
                    uint8_t* into = s.workingBuffer(want);
                    n = source.readToBuffer(reinterpret_cast<char*>(into), want);
                    cipher = into;
                }
                if (n > want) return fail(KQUCryptorErrorStreamFailure);
                if (n == 0) {
                    if (int code = s.finish(out)) return fail(code);
                    break;
                }
                if (!s.consume(out, cipher, n)) return fail(KQUCryptorErrorCipherFailure);
            }
        } catch (...) {
            fail(KQUCryptorErrorStreamFailure);
            throw;
        }
    }
    if (bytesRead) *bytesRead = static_cast<uint32_t>(out.delivered);
    return true;
}

}  // namespace kqu
