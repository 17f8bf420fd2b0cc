// The encrypted stream format and its misuse. Known answers: IV + `openssl enc -aes-128-cbc
// -K <key> -iv <IV>` of initial block + plaintext, CRCs from Python's zlib.crc32.
#include <gtest/gtest.h>

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

class KQUCryptoStreamsTest : public ::testing::Test {
protected:
    KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("password", 4000);

    KQUData encrypt(const std::string& plain) {
        auto memory = std::make_shared<KQUMemoryOutputStream>();
        KQUCryptoOutputStream stream(memory, key);
        if (!plain.empty()) stream.writeBuffer(plain.data(), static_cast<uint32_t>(plain.size()));
        stream.closeLocalStream();
        return *memory->data();
    }

    std::string decryptAll(const KQUData& encoded) {
        KQUCryptoInputStream stream(KQUMemoryInputStream::create(KQUMakeData(encoded)), key);
        std::string plain, piece(4096, '\0');
        while (uint32_t n = stream.readToBuffer(piece.data(), 4096)) plain.append(piece.data(), n);
        return plain;
    }
};

TEST_F(KQUCryptoStreamsTest, WritesTheKnownStreamsAndCrcs) {
    const std::tuple<const char*, const char*, uint32_t> cases[] = {{kHello, kHelloStream, 0x0f81203eu},
                                                                    {"", kEmptyStream, 0x4f6c9a39u}};
    for (const auto& [plain, expected, crc] : cases) {
        ScriptedRandom random(counting(0, 32));
        auto memory = std::make_shared<KQUMemoryOutputStream>();
        KQUCryptoOutputStream stream(memory, key, true);
        if (*plain) stream.writeBuffer(plain, static_cast<uint32_t>(strlen(plain)));
        EXPECT_EQ(stream.closeLocalStream(), memory);
        EXPECT_EQ(stream.closeLocalStream(), memory);  // finishes once only
        KQUData encoded = *memory->data();
        EXPECT_EQ(toHex(encoded), expected) << plain;
        EXPECT_EQ(stream.offset(), static_cast<int64_t>(encoded.size()));
        EXPECT_EQ(toHex(stream.iv()), toHex(encoded.data(), 16));
        EXPECT_EQ(stream.crc32(), crc) << plain;
        EXPECT_EQ(decryptAll(encoded), plain);
    }
    // The encoded length of every smaller size is checked by the boundary sweep; near the top it saturates.
    EXPECT_EQ(KQUCryptoOutputStream::encodedLengthForDataLength(UINT64_MAX - 64, *key), UINT64_MAX - 64 + 33);
    EXPECT_EQ(KQUCryptoOutputStream::encodedLengthForDataLength(UINT64_MAX - 10, *key), UINT64_MAX - 10);
}

TEST_F(KQUCryptoStreamsTest, TruncatedOrDamagedDataNeverEndsCleanly) {
    auto encoded = encrypt(patternBytes(100));
    auto prefix = [&](ptrdiff_t length) {
        return KQUMemoryInputStream::create(KQUMakeData(KQUData(encoded.begin(), encoded.begin() + length)));
    };
    std::string buffer(64, '\0');
    for (ptrdiff_t cut : {1, 15, 16, 17}) {
        KQUCryptoInputStream stream(prefix(std::ssize(encoded) - cut), key);
        // Requests end where the full plaintext would; a cut at a block boundary could only
        // pass if the new last block ended in valid padding, which with this data it does not.
        EXPECT_KQU_THROW(while (stream.readToBuffer(buffer.data(), 50)){}, "NSGenericException", "");
        EXPECT_THROW((void)stream.readToBuffer(buffer.data(), 50), KQUException) << cut;
    }
    // Too short to open. 16: the IV alone, so the end comes before the initial block and the
    // padding check fails first. 32: no final block, so the initial block is taken as the last one.
    for (ptrdiff_t length : {0, 15, 16, 32})
        EXPECT_KQU_THROW(KQUCryptoInputStream(prefix(length), key), "NSGenericException",
                         length < 16 ? "Failed to read IV" : "");
    EXPECT_KQU_THROW(KQUCryptoInputStream(prefix(std::ssize(encoded)), nullptr), "NSGenericException",
                     "Failed to create KQUCryptor");
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
    EXPECT_ASSERTION_FAILURE((void)out.crc32());  // made without a CRC
    out.close();
    EXPECT_KQU_THROW(out.writeBuffer("x", 1), "NSInternalInconsistencyException",
                     "Tried to write data to a closed KQUCryptoOutputStream.");
    KQUCryptoInputStream in(KQUMemoryInputStream::create(KQUMakeData(*memory->data())), key);
    EXPECT_ASSERTION_FAILURE(in.seekToOffset(0));
    KQUCryptoOutputStream withCrc(std::make_shared<KQUMemoryOutputStream>(), key, true);
    EXPECT_ASSERTION_FAILURE((void)withCrc.crc32());  // not before the stream is closed
}

TEST_F(KQUCryptoStreamsTest, DestructionFinishesAnOpenStreamAndCloseLocalStreamLeavesTheBaseOpen) {
    auto memory = std::make_shared<KQUMemoryOutputStream>();
    {
        KQUCryptoOutputStream stream(memory, key);
        stream.writeBuffer("abc", 3);
    }
    EXPECT_EQ(decryptAll(*memory->data()), "abc");
    KQUCryptoOutputStream stream(memory, key);
    stream.writeBuffer("def", 3);
    stream.closeLocalStream()->writeBuffer("TRAILER", 7);
    EXPECT_EQ(decryptAll(KQUData(memory->data()->end() - 55, memory->data()->end() - 7)), "def");
}

}  // namespace
}  // namespace kqu::test
