// Streams at plaintext sizes around 1 and 2 times the cryptor's 256 KiB buffer (and where the encoded stream
// meets them), repetitive and random, in one call and odd chunks, against OpenSSL's EVP AES-128-CBC.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/crypto/KQUCryptor.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "tests/support/KQUCryptoTestSupport.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {
namespace {

constexpr uint32_t kBuffer = KQUCryptor::kWorkingBufferSize;

std::vector<uint32_t> boundarySizes() {
    std::vector<uint32_t> sizes{0, 1, 15, 16, 17};
    for (uint32_t n = 1; n <= 2; ++n)
        for (int delta : {-48, -33, -32, -1, 0, 1})
            sizes.push_back(n * kBuffer + static_cast<uint32_t>(delta));
    return sizes;
}

const std::vector<std::vector<uint32_t>> kChunkings = {{UINT32_MAX}, {65537, 7, 4093, 1, 262145}};

KQUData plaintext(uint32_t size, bool random) {
    KQUData bytes(size);
    uint32_t state = size + 1;
    for (uint32_t i = 0; i < size; ++i)
        bytes[i] = random ? static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 23)
                          : static_cast<uint8_t>("abcabcabd"[i % 9]);
    return bytes;
}

// IV + AES-128-CBC(initial block + plain), PKCS #7 padded, by OpenSSL.
KQUData opensslStream(const KQUCryptoKey& key, const KQUData& iv, const KQUData& initial,
                      const KQUData& plain) {
    KQUData input = concat(initial, plain);
    KQUData out = iv;
    size_t start = out.size();
    out.resize(start + input.size() + 16);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int n = 0, last = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(context, EVP_aes_128_cbc(), nullptr, key.keyBytes().data(), iv.data()), 1);
    EXPECT_EQ(
        EVP_EncryptUpdate(context, out.data() + start, &n, input.data(), static_cast<int>(input.size())), 1);
    EXPECT_EQ(EVP_EncryptFinal_ex(context, out.data() + start + n, &last), 1);
    EVP_CIPHER_CTX_free(context);
    out.resize(start + static_cast<size_t>(n + last));
    return out;
}

class KQUCryptoStreamBoundaryTest : public ::testing::Test {
protected:
    KQUCryptoKeyRef key = KQUCryptoKey::createWithKeyBytes(counting(0x40, 16), 4000);
    KQUData iv = counting(0xA0, 16);
    KQUData initial = counting(0x11, 16);
};

TEST_F(KQUCryptoStreamBoundaryTest, StreamsWriteAndReadOpensslCiphertextAtEveryBoundary) {
    for (bool random : {false, true}) {
        for (uint32_t size : boundarySizes()) {
            KQUData plain = plaintext(size, random);
            KQUData expected = opensslStream(*key, iv, initial, plain);
            EXPECT_EQ(KQUCryptoOutputStream::encodedLengthForDataLength(size, *key), expected.size());
            for (const auto& chunks : kChunkings) {
                SCOPED_TRACE(::testing::Message() << "size " << size << " random " << random);
                ScriptedRandom scripted(concat(iv, initial));
                auto memory = std::make_shared<KQUMemoryOutputStream>();
                KQUCryptoOutputStream out(memory, key, true);
                for (size_t done = 0, i = 0; done < size; ++i) {
                    auto n = static_cast<uint32_t>(std::min<size_t>(chunks[i % chunks.size()], size - done));
                    out.writeBuffer(reinterpret_cast<const char*>(plain.data()) + done, n);
                    done += n;
                }
                out.closeLocalStream();
                EXPECT_TRUE(*memory->data() == expected);
                EXPECT_EQ(out.crc32(), zipCrc32(expected));

                KQUCryptoInputStream in(KQUMemoryInputStream::create(KQUMakeData(expected)), key);
                KQUData got;
                std::vector<char> buffer;
                for (size_t i = 0;; ++i) {
                    buffer.resize(std::min<uint32_t>(chunks[i % chunks.size()], 5u << 20));
                    uint32_t n = in.readToBuffer(buffer.data(), static_cast<uint32_t>(buffer.size()));
                    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
                    if (n == 0) break;
                    // Every read is filled until the data runs out.
                    EXPECT_TRUE(n == buffer.size() || got.size() == size) << "short read in the middle";
                }
                EXPECT_TRUE(got == plain);
                EXPECT_EQ(in.offset(), static_cast<int64_t>(size));
            }
        }
    }
}

}  // namespace
}  // namespace kqu::test
