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
    EXPECT_EQ(KQUCryptoUtils::iterationCountFromPassphraseVerifier(*archive.passphraseVerifier()), 1u);
    auto wrong = KQUCryptoKey::createAes128KeyFromPassphrase("wrong", 1);
    EXPECT_FALSE(KQUCryptoUtils::checkKey(wrong, *archive.passphraseVerifier()));
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase("fuzz", 1);
    ASSERT_TRUE(KQUCryptoUtils::checkKey(key, *archive.passphraseVerifier()));

    // The free-space entry reads before any key is set.
    auto freeSpace = archive.entryWithName(".QlTrash/00000001")->data();
    EXPECT_EQ(freeSpace->size(), 8u);
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

namespace kqu {
namespace {

TEST(ZipReaderEncryptedInterop, KquToolOnEncryptedPackage) {
    test::TempDir dir;
    ASSERT_EQ(test::runCommand(
                  fmt::format("python3 '{}/fuzz/make-corpus.py' '{}'", KQU_TEST_SOURCE_DIR, dir.path())),
              0);
    std::string archive = dir.file("encrypted.zip");
    std::string listing;
    ASSERT_EQ(test::runCommand(fmt::format("'{}' zip list --porcelain --all '{}'", KQU_TOOL_PATH, archive), &listing), 0);
    EXPECT_NE(listing.find(" stored+encrypted "), std::string::npos) << listing;
    EXPECT_NE(listing.find(" deflated+encrypted "), std::string::npos) << listing;
    EXPECT_NE(listing.find(" stored 6522df69 .QlTrash/00000001\n"), std::string::npos) << listing;

    // Without a passphrase the stored bytes are checked but the contents are not (status 1);
    // with the right one, the plaintext.
    std::string noTerminal = "env -u KQU_PASSPHRASE setsid";
    EXPECT_EQ(
        test::runCommand(fmt::format("{} '{}' zip test '{}' </dev/null", noTerminal, KQU_TOOL_PATH, archive)),
        1);
    EXPECT_EQ(test::runCommand(fmt::format("KQU_PASSPHRASE=fuzz '{}' zip test '{}'", KQU_TOOL_PATH, archive)),
              0);
    std::string text;
    EXPECT_EQ(
        test::runCommand(
            fmt::format("KQU_PASSPHRASE=fuzz '{}' zip cat '{}' deflated", KQU_TOOL_PATH, archive), &text),
        0);
    EXPECT_EQ(text, expectedText());
    std::string errors;
    EXPECT_EQ(test::runCommand(fmt::format("KQU_PASSPHRASE=wrong '{}' zip cat '{}' deflated 2>&1 >/dev/null",
                                           KQU_TOOL_PATH, archive),
                               &errors),
              1);
    EXPECT_EQ(errors, "kqu: wrong passphrase\n");

    // One flipped ciphertext byte: one bad entry, found with or without the passphrase.
    std::string bytes = test::readFile(archive);
    bytes[bytes.find("deflated") + 8 + 40] ^= 0x04;
    test::writeFile(dir.file("damaged.zip"), bytes);
    for (const std::string& prefix : {std::string("KQU_PASSPHRASE=fuzz"), noTerminal}) {
        std::string report;
        EXPECT_EQ(test::runCommand(fmt::format("{} '{}' zip test '{}' </dev/null", prefix, KQU_TOOL_PATH,
                                               dir.file("damaged.zip")),
                                   &report),
                  1)
            << prefix;
        EXPECT_NE(("\n" + report).find("\ndeflated: "), std::string::npos) << report;
        EXPECT_NE(report.find("\n1 of 2 entries are damaged.\n"), std::string::npos) << report;
    }
}

}  // namespace
}  // namespace kqu
