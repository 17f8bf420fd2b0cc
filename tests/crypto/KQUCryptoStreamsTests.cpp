// The encrypted stream format. Known answers: IV + `openssl enc -aes-128-cbc -K <key>
// -iv <IV>` of initial block + plaintext, CRCs from Python's zlib.crc32.
#include <gtest/gtest.h>

#include <random>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "tests/support/KQUCryptoTestSupport.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {
namespace {

// Key "password" (4000 iterations), IV 00..0f, initial block 10..1f.
const char* kHelloStream =
    "000102030405060708090a0b0c0d0e0fdac365e1363927bea2b42981180f7578854081f625a9de4266cb8a33d29f60c4"
    "795cb3290d655189efc628f7ac4d0abe";
const char* kHello = "Hello, encrypted world!";
const char* kEmptyStream =
    "000102030405060708090a0b0c0d0e0fdac365e1363927bea2b42981180f75780ae279cdd56812710e5cb6e0621095b3";

// Key "correct horse battery staple" (10000 iterations), IV f0..ff, initial block 55 x 16,
// plaintext (7 i + 3) mod 256 for i < 100.
const char* kPatternStream =
    "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeffff219f9037a0009c4530f39e6fc454ba793f3b35c0d08ded8423f58ccb694cbd"
    "273aeb73cf2ea44c7d6d480bc45753d27abd205c3a6bef00e83eeb8e4639604a49817b30814816a86e760f52b12b1364"
    "b3b8c0feb8112ffb19a1951442a749e3927340f074970c9d0dc6c1c14b66145f437ffd8710914a985af3bb380936d74b";

KQUData patternPlaintext() {
    KQUData bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

class KQUCryptoStreamsTest : public ::testing::Test {
protected:
    KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("password", 4000);

    KQUData encrypt(const std::string& plain, bool crc = false, uint32_t* crcOut = nullptr) {
        auto memory = std::make_shared<KQUMemoryOutputStream>();
        KQUCryptoOutputStream stream(memory, key, crc);
        if (!plain.empty()) stream.writeBuffer(plain.data(), static_cast<uint32_t>(plain.size()));
        stream.closeLocalStream();
        if (crcOut) *crcOut = stream.crc32();
        return *memory->data();
    }

    std::string decryptAll(const KQUData& encoded, const KQUCryptoKeyRef& withKey,
                           std::vector<uint32_t> sizes = {4096}) {
        KQUCryptoInputStream stream(KQUMemoryInputStream::create(KQUMakeData(encoded)), withKey);
        std::string plain;
        for (size_t i = 0;; ++i) {
            uint32_t size = sizes[i % sizes.size()];
            std::string piece(size, '\0');
            uint32_t n = stream.readToBuffer(piece.data(), size);
            plain.append(piece.data(), n);
            if (n == 0 && size > 0) break;
        }
        EXPECT_EQ(stream.offset(), static_cast<int64_t>(plain.size()));
        return plain;
    }
};

TEST_F(KQUCryptoStreamsTest, WritesTheKnownStreamsAndCrcs) {
    const struct {
        const char* plain;
        const char* stream;
        uint32_t crc;
    } cases[] = {{kHello, kHelloStream, 0x0f81203eu}, {"", kEmptyStream, 0x4f6c9a39u}};
    for (const auto& c : cases) {
        ScriptedRandom random(counting(0, 32));
        uint32_t crc = 0;
        auto encoded = encrypt(c.plain, true, &crc);
        EXPECT_EQ(toHex(encoded), c.stream) << c.plain;
        EXPECT_EQ(crc, c.crc) << c.plain;
        EXPECT_EQ(decryptAll(encoded, key), c.plain);
    }
}

TEST_F(KQUCryptoStreamsTest, ReadsAStreamMadeElsewhere) {
    auto other = KQUCryptoKey::createAes128KeyFromPassphrase("correct horse battery staple", 10000);
    auto expected = patternPlaintext();
    std::string plain(expected.begin(), expected.end());
    for (std::vector<uint32_t> sizes :
         std::vector<std::vector<uint32_t>>{{1}, {7, 16, 1}, {15}, {16}, {17}, {100}, {101}, {0, 33}})
        EXPECT_EQ(decryptAll(fromHex(kPatternStream), other, sizes), plain);
}

TEST_F(KQUCryptoStreamsTest, EncodedLengthMatchesWhatIsWritten) {
    for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 1000}) {
        auto encoded = encrypt(std::string(n, 'x'));
        EXPECT_EQ(encoded.size(), KQUCryptoOutputStream::encodedLengthForDataLength(n, *key)) << n;
        EXPECT_EQ(encoded.size(), n + 48 - n % 16) << n;
    }
    EXPECT_EQ(KQUCryptoOutputStream::encodedLengthForDataLength(UINT64_MAX - 64, *key), UINT64_MAX - 64 + 33);
    EXPECT_EQ(KQUCryptoOutputStream::encodedLengthForDataLength(UINT64_MAX - 10, *key), UINT64_MAX - 10);
}

TEST_F(KQUCryptoStreamsTest, RoundTripsAroundEveryBlockBoundaryWithMixedReads) {
    std::mt19937 generator(7);
    for (size_t n = 0; n <= 80; ++n) {
        std::string plain = patternBytes(n, static_cast<uint32_t>(n + 1));
        auto encoded = encrypt(plain);
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<uint32_t> sizes;
            for (int i = 0; i < 5; ++i)
                sizes.push_back(std::uniform_int_distribution<uint32_t>(0, 40)(generator));
            sizes.push_back(1);
            EXPECT_EQ(decryptAll(encoded, key, sizes), plain) << n;
        }
    }
}

TEST_F(KQUCryptoStreamsTest, OffsetsCountEncodedAndPlainBytes) {
    auto memory = std::make_shared<KQUMemoryOutputStream>();
    KQUCryptoOutputStream out(memory, key, true);
    EXPECT_GE(out.offset(), 16);
    EXPECT_EQ(out.offset(), static_cast<int64_t>(memory->data()->size()));
    out.writeBuffer("0123456789abcdefXYZ", 19);
    EXPECT_EQ(out.offset(), static_cast<int64_t>(memory->data()->size()));
    EXPECT_EQ(out.closeLocalStream(), memory);
    EXPECT_EQ(out.offset(), 16 + 48);
    EXPECT_EQ(out.closeLocalStream(), memory);  // once only
    EXPECT_EQ(memory->data()->size(), 64u);
    EXPECT_EQ(toHex(out.iv()), toHex(memory->data()->data(), 16));

    KQUCryptoInputStream in(KQUMemoryInputStream::create(KQUMakeData(*memory->data())), key);
    EXPECT_EQ(in.offset(), 0);
    EXPECT_EQ(toHex(in.iv()), toHex(out.iv()));
    char buffer[8];
    EXPECT_EQ(in.readToBuffer(buffer, 8), 8u);
    EXPECT_EQ(in.offset(), 8);
}

TEST_F(KQUCryptoStreamsTest, WrongKeyFailsAndKeepsFailing) {
    // Fixed random bytes: with a random IV, one wrong-key decryption in 256 ends in valid
    // padding by chance and the test would fail for no fault.
    ScriptedRandom random({});
    auto encoded = encrypt(patternBytes(1000));
    auto wrong = KQUCryptoKey::createAes128KeyFromPassphrase("passwore", 4000);
    KQUCryptoInputStream stream(KQUMemoryInputStream::create(KQUMakeData(encoded)), wrong);
    std::string buffer(2000, '\0');
    const char* message =
        "KQUCryptor failed. Decryption failed: the last block's padding is invalid (wrong key or damaged "
        "data)";
    EXPECT_KQU_THROW((void)stream.readToBuffer(buffer.data(), 2000), "NSGenericException", message);
    EXPECT_KQU_THROW((void)stream.readToBuffer(buffer.data(), 2000), "NSGenericException", message);
    EXPECT_EQ(stream.readToBuffer(buffer.data(), 0), 0u);
}

TEST_F(KQUCryptoStreamsTest, TruncatedOrDamagedDataNeverEndsCleanly) {
    std::string plain = patternBytes(100);
    auto encoded = encrypt(plain);
    for (size_t cut : {1, 15, 16, 17}) {
        KQUData shorter(encoded.begin(), encoded.end() - static_cast<ptrdiff_t>(cut));
        KQUCryptoInputStream stream(KQUMemoryInputStream::create(KQUMakeData(shorter)), key);
        std::string buffer(64, '\0');
        bool failed = false;
        try {
            // Requests that end exactly where the full plaintext would end.
            while (stream.readToBuffer(buffer.data(), 50)) {
            }
        } catch (const KQUException& e) {
            EXPECT_EQ(e.name(), "NSGenericException");
            failed = true;
        }
        // A cut at a block boundary leaves a valid-looking stream only if the new last
        // block happens to end in valid padding; with this data it does not.
        EXPECT_TRUE(failed) << cut;
        EXPECT_THROW((void)stream.readToBuffer(buffer.data(), 50), KQUException) << cut;
    }
}

TEST_F(KQUCryptoStreamsTest, ShortStreamsAreRefusedWhenOpened) {
    auto encoded = encrypt("abc");
    // 16: the IV alone, so the end comes before the initial block and the padding check fails
    // first. 32: no final block, so the initial block is taken as the last one.
    for (size_t length : {0, 15, 16, 32}) {
        KQUData shorter(encoded.begin(), encoded.begin() + static_cast<ptrdiff_t>(length));
        EXPECT_KQU_THROW(KQUCryptoInputStream(KQUMemoryInputStream::create(KQUMakeData(shorter)), key),
                         "NSGenericException", length < 16 ? "Failed to read IV" : "");
    }
    EXPECT_KQU_THROW(KQUCryptoInputStream(KQUMemoryInputStream::create(KQUMakeData(encoded)), nullptr),
                     "NSGenericException", "Failed to create KQUCryptor");
}

TEST_F(KQUCryptoStreamsTest, RandomFailuresRefuseTheStream) {
    LogCapture log;
    for (int failAt : {0, 1}) {
        ScriptedRandom random({}, failAt);
        auto memory = std::make_shared<KQUMemoryOutputStream>();
        EXPECT_KQU_THROW(KQUCryptoOutputStream(memory, key), "NSGenericException",
                         failAt == 0 ? "Failed to generate IV" : "Failed to generate initial plaintext");
        EXPECT_TRUE(memory->data()->empty()) << "nothing may reach the base stream";
    }
    EXPECT_KQU_THROW(KQUCryptoOutputStream(std::make_shared<KQUMemoryOutputStream>(), nullptr),
                     "NSGenericException", "Failed to create KQUCryptor");
}

TEST_F(KQUCryptoStreamsTest, ClosedStreamsRefuseWritesAndOnlyThenGiveTheirCrc) {
    auto memory = std::make_shared<KQUMemoryOutputStream>();
    KQUCryptoOutputStream stream(memory, key, true);
    EXPECT_ASSERTION_FAILURE((void)stream.crc32());
    stream.close();
    EXPECT_TRUE(stream.isClosed());
    EXPECT_KQU_THROW(stream.writeBuffer("x", 1), "NSInternalInconsistencyException",
                     "Tried to write data to a closed KQUCryptoOutputStream.");
    KQUCryptoOutputStream noCrc(std::make_shared<KQUMemoryOutputStream>(), key);
    noCrc.close();
    EXPECT_ASSERTION_FAILURE((void)noCrc.crc32());
}

TEST_F(KQUCryptoStreamsTest, CrcCoversEveryByteThatReachedTheBase) {
    // Many writes of odd sizes, more than the cryptor's working buffer in all; the running
    // CRC must equal one CRC over the finished bytes.
    std::string plain = patternBytes(300000);
    auto sink = std::make_shared<KQUMemoryOutputStream>();
    KQUCryptoOutputStream stream(sink, key, true);
    for (size_t at = 0; at < plain.size(); at += 7777)
        stream.writeBuffer(plain.data() + at,
                           static_cast<uint32_t>(std::min<size_t>(7777, plain.size() - at)));
    stream.close();
    EXPECT_EQ(sink->data()->size(), KQUCryptoOutputStream::encodedLengthForDataLength(plain.size(), *key));
    EXPECT_EQ(stream.crc32(), zipCrc32(*sink->data()));
    EXPECT_EQ(decryptAll(*sink->data(), key, {65536, 3}), plain);
}

TEST_F(KQUCryptoStreamsTest, SeeksAndInputStreamsAreAssertions) {
    auto memory = std::make_shared<KQUMemoryOutputStream>();
    KQUCryptoOutputStream out(memory, key);
    EXPECT_ASSERTION_FAILURE(out.seekToOffset(0, 0));
    EXPECT_ASSERTION_FAILURE((void)out.inputStream());
    {
        ContinueAfterAssertions continuing;
        LogCapture log;
        EXPECT_EQ(out.inputStream(), nullptr);
        out.seekToOffset(0, 0);
        EXPECT_TRUE(log.contains("KQUCryptoOutputStream cannot seek."));
    }
    out.close();
    KQUCryptoInputStream in(KQUMemoryInputStream::create(KQUMakeData(*memory->data())), key);
    EXPECT_ASSERTION_FAILURE(in.seekToOffset(0));
}

TEST_F(KQUCryptoStreamsTest, DestructionFinishesAnOpenStreamAndCloseLocalStreamLeavesTheBaseOpen) {
    auto memory = std::make_shared<KQUMemoryOutputStream>();
    {
        KQUCryptoOutputStream stream(memory, key);
        stream.writeBuffer("abc", 3);
    }
    EXPECT_EQ(decryptAll(*memory->data(), key), "abc");

    auto other = std::make_shared<KQUMemoryOutputStream>();
    KQUCryptoOutputStream stream(other, key);
    stream.writeBuffer("abc", 3);
    stream.closeLocalStream()->writeBuffer("TRAILER", 7);
    EXPECT_EQ(decryptAll(KQUData(other->data()->begin(), other->data()->end() - 7), key), "abc");
}

}  // namespace
}  // namespace kqu::test
