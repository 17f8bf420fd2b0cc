#include "kqutility/crypto/KQUCryptoStreams.h"

#include <openssl/crypto.h>
#include <zlib.h>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUScopeExit.h"

namespace kqu {

uint64_t KQUCryptoOutputStream::encodedLengthForDataLength(uint64_t n, const KQUCryptoKey& key) {
    uint64_t ivLength = KQUCryptoUtils::ivLengthForKey(key);
    // The IV, the initial block and the padding (1 to 16 bytes, up to the next block).
    uint64_t overhead =
        key.keyType() == KQUCryptoKey::KQUCryptoKeyTypeAes128 ? 2 * ivLength + 16 - n % 16 : 2 * ivLength;
    if (n > UINT64_MAX - overhead) return n;
    return n + overhead;
}

KQUCryptoOutputStream::KQUCryptoOutputStream(std::shared_ptr<KQUOutputStream> base, KQUCryptoKeyRef key,
                                             bool computeCrc32)
    : mBaseStream(std::move(base)), mComputeCrc32(computeCrc32) {
    if (!mBaseStream) throw KQUException(NSInvalidArgumentException, "No stream to encrypt into");
    mIv.resize(key ? KQUCryptoUtils::ivLengthForKey(*key) : 0);
    if (!KQUCryptoUtils::generateRandomDataInBuffer(mIv.data(), mIv.size()))
        throw KQUException(NSGenericException, "Failed to generate IV");
    mCryptor = KQUCryptor::create(std::move(key), KQUCryptorOperation::Encrypt,
                                  reinterpret_cast<const char*>(mIv.data()), mIv.size());
    if (!mCryptor) throw KQUException(NSGenericException, "Failed to create KQUCryptor");
    // Both random blocks are made before anything is written, so that a failing random
    // source leaves the base stream untouched.
    std::vector<uint8_t> initial(mIv.size());
    if (!KQUCryptoUtils::generateRandomDataInBuffer(initial.data(), initial.size()))
        throw KQUException(NSGenericException, "Failed to generate initial plaintext");
    KQUScopeExit wipe([&] { OPENSSL_cleanse(initial.data(), initial.size()); });
    mBaseStream->writeBuffer(reinterpret_cast<const char*>(mIv.data()), static_cast<uint32_t>(mIv.size()));
    if (mComputeCrc32) {
        mCrc32 = static_cast<uint32_t>(::crc32(0, nullptr, 0));
        mCrc32 = static_cast<uint32_t>(::crc32(mCrc32, mIv.data(), static_cast<uInt>(mIv.size())));
    }
    if (!initial.empty())
        writeBuffer(reinterpret_cast<const char*>(initial.data()), static_cast<uint32_t>(initial.size()));
}

KQUCryptoOutputStream::~KQUCryptoOutputStream() {
    if (mIsClosed || !mCryptor || mCryptor->hasFailed()) return;
    try {
        closeLocalStream();
    } catch (const std::exception& e) {
        KQULogError("Could not finish an encrypted stream: {}", e.what());
    }
}

void KQUCryptoOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    if (mIsClosed)
        throw KQUException(NSInternalInconsistencyException,
                           "Tried to write data to a closed KQUCryptoOutputStream.");
    KQUError error;
    if (!mCryptor->cryptDataFromBuffer(buffer, size, *mBaseStream, false, mComputeCrc32 ? &mCrc32 : nullptr,
                                       &error))
        throw KQUException(NSGenericException, KQUCryptorFailureMessage(error));
}

int64_t KQUCryptoOutputStream::offset() {
    return mBaseStream->offset();
}

void KQUCryptoOutputStream::seekToOffset(int64_t, int) {
    KQU_OBJECT_ASSERT_FAILURE("KQUCryptoOutputStream cannot seek.");
}

std::shared_ptr<KQUInputStream> KQUCryptoOutputStream::inputStream() {
    KQU_OBJECT_ASSERT_FAILURE("KQUCryptoOutputStream cannot create an input stream.");
    return nullptr;
}

uint32_t KQUCryptoOutputStream::crc32() {
    KQU_OBJECT_ASSERT(mIsClosed && mComputeCrc32,
                      "Can't call -crc32 unless the stream is closed and was asked to compute the CRC32.");
    return mCrc32;
}

std::shared_ptr<KQUOutputStream> KQUCryptoOutputStream::closeLocalStream() {
    if (mIsClosed) return mBaseStream;
    mIsClosed = true;
    KQUError error;
    if (!mCryptor->cryptDataFromBuffer(nullptr, 0, *mBaseStream, true, mComputeCrc32 ? &mCrc32 : nullptr,
                                       &error))
        throw KQUException(NSGenericException, KQUCryptorFailureMessage(error));
    return mBaseStream;
}

void KQUCryptoOutputStream::close() {
    closeLocalStream();
    mBaseStream->close();
}

KQUCryptoInputStream::KQUCryptoInputStream(std::shared_ptr<KQUInputStream> base, KQUCryptoKeyRef key)
    : mBaseStream(std::move(base)) {
    if (!mBaseStream) throw KQUException(NSInvalidArgumentException, "No stream to decrypt from");
    mIv.resize(key ? KQUCryptoUtils::ivLengthForKey(*key) : 0);
    uint32_t ivLength = static_cast<uint32_t>(mIv.size());
    for (uint32_t got = 0; got < ivLength;) {
        uint32_t n = mBaseStream->readToBuffer(reinterpret_cast<char*>(mIv.data()) + got, ivLength - got);
        if (n == 0) throw KQUException(NSGenericException, "Failed to read IV");
        got += n;
    }
    mCryptor = KQUCryptor::create(std::move(key), KQUCryptorOperation::Decrypt,
                                  reinterpret_cast<const char*>(mIv.data()), mIv.size());
    if (!mCryptor) throw KQUException(NSGenericException, "Failed to create KQUCryptor");
    if (ivLength) {
        std::vector<uint8_t> initial(ivLength);
        uint32_t n = readToBuffer(reinterpret_cast<char*>(initial.data()), ivLength);
        OPENSSL_cleanse(initial.data(), initial.size());
        if (n != ivLength) throw KQUException(NSGenericException, "Failed to read initial ciphertext");
    }
    mOffset = 0;
}

uint32_t KQUCryptoInputStream::readToBuffer(char* buffer, uint32_t size) {
    if (size == 0) return 0;
    uint32_t n = 0;
    KQUError error;
    if (!mCryptor->cryptDataFromStream(*mBaseStream, buffer, size, &n, &error))
        throw KQUException(NSGenericException, KQUCryptorFailureMessage(error));
    mOffset += n;
    return n;
}

void KQUCryptoInputStream::seekToOffset(int64_t) {
    KQU_OBJECT_ASSERT_FAILURE("KQUCryptoInputStream cannot seek.");
}

}  // namespace kqu
