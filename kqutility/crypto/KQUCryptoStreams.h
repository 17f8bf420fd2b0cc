// Encrypting and decrypting streams: an encrypted document part as a self-contained byte
// stream.
//
// The encrypted stream format (AES-128 keys):
//
//     offset  size                 content
//          0    16                 initialisation vector, random, in the clear
//         16    16 * (n / 16 + 2)  AES-128-CBC under the document key and that IV, PKCS #7
//                                  padded, of a random 16-byte initial block followed by
//                                  the n plaintext bytes
//
// so n plaintext bytes take n + 48 - n % 16 bytes. The initial block makes the first
// ciphertext block random even for plaintexts that start alike; the reader discards it.
// There is no header, length or authentication code: a wrong key or damaged data is
// detected only by the padding check at the end (or beforehand by the passphrase
// verifier), and damage that keeps the padding valid is not detected here.
//
// KQUCryptoOutputStream sits in front of any output stream and encrypts what is written
// to it; closeLocalStream() writes the final block and hands back the stream beneath,
// still open, so the zip writer can go on writing its next record there.
// KQUCryptoInputStream sits on any input stream positioned at the IV and hands out the
// plaintext: every read is filled completely until the data runs out, the read that
// reaches the end returns what is left, later reads return 0. Neither can seek.
//
// Both hold the stream beneath them and the key for their whole life, keep constant
// memory (the cryptor's 256 KiB buffer and one block), and are used by one thread at a
// time. A cryptor failure (wrong key, damaged or truncated data) throws
// NSGenericException "KQUCryptor failed. <description>: <reason>" and every later call
// throws it again.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptor.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu {

class KQUCryptoOutputStream final : public KQUOutputStream {
public:
    // The encoded length of n plaintext bytes: n + 48 - n % 16 for AES-128 keys, n plus
    // twice the IV length for another key type; n itself when the sum does not fit in
    // 64 bits.
    static uint64_t encodedLengthForDataLength(uint64_t n, const KQUCryptoKey& key);

    // Writes a fresh IV to base and encrypts a fresh initial block. Throws
    // NSGenericException "Failed to generate IV", "Failed to create KQUCryptor" or
    // "Failed to generate initial plaintext"; exceptions of base pass through.
    KQUCryptoOutputStream(std::shared_ptr<KQUOutputStream> base, KQUCryptoKeyRef key,
                          bool computeCrc32 = false);
    // Finishes an encryption that was never closed (a failure is logged, not thrown).
    ~KQUCryptoOutputStream() override;

    // Throws NSInternalInconsistencyException "Tried to write data to a closed
    // KQUCryptoOutputStream." after close.
    void writeBuffer(const char* buffer, uint32_t size) override;
    // The encoded bytes that reached the base stream: base->offset().
    int64_t offset() override;
    bool canSeek() override { return false; }
    // Assertion failure "KQUCryptoOutputStream cannot seek."; nothing moves.
    void seekToOffset(int64_t offset, int whence) override;
    bool canCreateInputStream() override { return false; }
    // Assertion failure "KQUCryptoOutputStream cannot create an input stream."; nullptr.
    std::shared_ptr<KQUInputStream> inputStream() override;
    // The zip CRC-32 of every byte written to the base stream, IV included. Unless the
    // stream is closed and was made with computeCrc32, first an assertion failure ("Can't
    // call -crc32 unless the stream is closed and was asked to compute the CRC32."); the
    // current value is returned after it.
    uint32_t crc32();
    // The IV written at the start of the stream.
    std::span<const uint8_t> iv() const { return mIv; }
    bool isClosed() const { return mIsClosed; }

    // Finishes the encryption (once) and returns the base stream, still open.
    std::shared_ptr<KQUOutputStream> closeLocalStream() override;
    // closeLocalStream(), then close() on the base stream.
    void close() override;

private:
    std::shared_ptr<KQUOutputStream> mBaseStream;
    std::unique_ptr<KQUCryptor> mCryptor;
    std::vector<uint8_t> mIv;
    bool mIsClosed = false;
    bool mComputeCrc32;
    uint32_t mCrc32 = 0;
};

class KQUCryptoInputStream final : public KQUInputStream {
public:
    // Reads the IV and the initial block from base. Throws NSGenericException "Failed to
    // read IV", "Failed to create KQUCryptor", "Failed to read initial ciphertext" or
    // "KQUCryptor failed. ..." (when the data ends so early that the padding check
    // fails first); exceptions of base pass through.
    KQUCryptoInputStream(std::shared_ptr<KQUInputStream> base, KQUCryptoKeyRef key);

    // Decrypted bytes; 0 at the end. A zero-byte request returns 0 and touches nothing.
    uint32_t readToBuffer(char* buffer, uint32_t size) override;
    // Plaintext bytes handed out so far (the initial block not counted).
    int64_t offset() override { return mOffset; }
    bool canSeek() override { return false; }
    // Assertion failure "KQUCryptoInputStream cannot seek."; nothing moves.
    void seekToOffset(int64_t offset) override;
    void disableSystemCaching() override { mBaseStream->disableSystemCaching(); }
    void enableSystemCaching() override { mBaseStream->enableSystemCaching(); }
    // The IV read from the start of the stream.
    std::span<const uint8_t> iv() const { return mIv; }

    void close() override { mBaseStream->close(); }
    // Returns the base stream without closing anything.
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return mBaseStream; }

private:
    std::shared_ptr<KQUInputStream> mBaseStream;
    std::unique_ptr<KQUCryptor> mCryptor;
    std::vector<uint8_t> mIv;
    int64_t mOffset = 0;
};

}  // namespace kqu
