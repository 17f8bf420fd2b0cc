// Encrypted packages made without the library: fuzz/make-corpus.py writes the library's
// encrypted entries, passphrase verifier and hint with Python's hashlib (PBKDF2) and the
// openssl command line (AES-128-CBC), so the whole decrypting read path is checked against
// independent implementations.
#include <fmt/format.h>

#include <algorithm>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipInflateInputStream.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

std::string expectedText() {
    std::string text;
    for (int i = 0; i < 60; ++i) text += fmt::format("line {} of some text\n", i);
    return text;
}

TEST(ZipReaderEncryptedInterop, OpensslWrittenPackage) {
    test::TempDir dir;
    ASSERT_EQ(test::runCommand(
                  fmt::format("python3 '{}/fuzz/make-corpus.py' '{}'", KQU_TEST_SOURCE_DIR, dir.path())),
              0);
    KQUZipArchive archive(dir.file("encrypted.zip"));
    ASSERT_TRUE(archive.isEncrypted());
    EXPECT_EQ(archive.passphraseHint(), "hint");
    EXPECT_EQ(archive.encryptedDocumentUuid()->size(), 16u);
    auto wrong = KQUCryptoKey::createAes128KeyFromPassphrase("wrong", 1);
    EXPECT_FALSE(KQUCryptoUtils::checkKey(wrong, *archive.passphraseVerifier()));
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase("fuzz", 1);
    ASSERT_TRUE(KQUCryptoUtils::checkKey(key, *archive.passphraseVerifier()));

    // The free-space entry reads before any key is set.
    EXPECT_EQ(archive.entryWithName(".QlTrash/00000001")->data()->size(), 8u);
    archive.setCryptoKey(key);
    for (const char* name : {"stored", "deflated"}) {
        auto data = archive.entryWithName(name)->data();
        EXPECT_EQ(std::string(data->begin(), data->end()), expectedText()) << name;
    }
    // With a wrong key the padding check fails.
    archive.setCryptoKey(wrong);
    EXPECT_KQU_THROW(archive.entryWithName("stored")->data(), NSGenericException, "");

    // A whole file holding one encrypted stream, the same way.
    for (bool deflated : {false, true}) {
        auto entry = archive.entryWithName(deflated ? "deflated" : "stored");
        auto raw = entry->storedInputStream();
        std::string bytes(entry->compressedSize(), '\0');
        ASSERT_EQ(raw->readToBuffer(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
        test::writeFile(dir.file("file.enc"), bytes);
        auto stream = KQUBufferedInputStreamForDecryptingFile(dir.file("file.enc"), key, deflated);
        ASSERT_NE(stream, nullptr);
        std::string plain;
        const char* block = nullptr;
        while (uint32_t n = stream->readToOwnBuffer(&block, UINT32_MAX)) plain.append(block, n);
        EXPECT_EQ(plain, expectedText()) << deflated;
    }
    EXPECT_EQ(KQUBufferedInputStreamForDecryptingFile(dir.file("missing"), key, true), nullptr);
}

}  // namespace
}  // namespace kqu
