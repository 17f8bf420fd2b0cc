// kqu remembering passphrases as a user would try it, in each store: --remember on the
// commands that encrypt, --keychain (and no other passphrase source) on those that read,
// `kqu keychain`, and a stale passphrase refused in one line.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "KQUKeychainTestSupport.h"
#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

class KeychainTool : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "secret-service") KQU_REQUIRE_SECRET_SERVICE();
        writeFile(dir.file("notes.txt"), "remembered notes\n");
        writeFile(dir.file("pass"), "right horse\n");
        writeFile(dir.file("wrong"), "stale battery\n");
    }
    // kqu in this test's store, with no passphrase in the environment.
    KquRun kqu(const std::string& arguments) {
        return runKqu(arguments, "env -u KQU_PASSPHRASE KQU_DEFAULT_KQUKeychainStore=" + GetParam() +
                                     " XDG_DATA_HOME=" + dir.file("data") + " setsid");
    }
    TempDir dir;
};

INSTANTIATE_TEST_SUITE_P(Stores, KeychainTool, ::testing::Values("file", "secret-service"),
                         [](const auto& info) {
                             return info.param == "file" ? "FileStore" : "SecretService";
                         });

TEST_P(KeychainTool, ZipCreateRemembersAndReadersTakeTheKeychainsPassphrase) {
    std::string package = dir.file("doc.zip");
    auto run = kqu("zip create --quiet --remember --passphrase-file " + dir.file("pass") + " " + package +
                   " " + dir.file("notes.txt"));
    ASSERT_EQ(run.status, 0) << run.output;
    run = kqu("zip test --keychain " + package);
    EXPECT_EQ(run.status, 0) << run.output;
    run = kqu("zip extract --quiet --keychain " + package + " " + dir.file("out"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(dir.file("out/notes.txt")), "remembered notes\n");

    run = kqu("keychain find " + package);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "account: " + std::string(getpwuid(geteuid())->pw_name) + "\n");
    run = kqu("keychain find --show-passphrase " + package);
    EXPECT_NE(run.output.find("passphrase: right horse\n"), std::string::npos) << run.output;

    // A stale passphrase is refused in one line, exit 1.
    ASSERT_EQ(kqu("keychain store --passphrase-file " + dir.file("wrong") + " " + package).status, 0);
    run = kqu("zip extract --keychain " + package + " " + dir.file("out2"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.output.starts_with("kqu: ") && run.output.find('\n') == run.output.size() - 1)
        << run.output;
    EXPECT_NE(run.output.find("stale"), std::string::npos) << run.output;

    // Deleted: nothing to find, deleting again is fine.
    EXPECT_EQ(kqu("keychain delete " + package).status, 0);
    EXPECT_EQ(kqu("keychain find " + package).status, 1);
    EXPECT_EQ(kqu("keychain delete " + package).status, 0);
    run = kqu("zip test --keychain " + package);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("holds no passphrase"), std::string::npos) << run.output;
}

TEST_P(KeychainTool, EncryptRemembersByTheFilesIvAndDecryptTakesIt) {
    std::string sealed = dir.file("notes.enc");
    auto run = kqu("encrypt --quiet --remember --passphrase-file " + dir.file("pass") + " " +
                   dir.file("notes.txt") + " " + sealed);
    ASSERT_EQ(run.status, 0) << run.output;
    run = kqu("decrypt --quiet --keychain " + sealed + " " + dir.file("plain.txt"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(dir.file("plain.txt")), "remembered notes\n");
    // The item is named by the file's first 16 bytes, given here as hex.
    std::string iv = toHex(readFile(sealed).substr(0, 16));
    EXPECT_EQ(kqu("keychain find hex:" + iv).status, 0);

    ASSERT_EQ(kqu("keychain store --passphrase-file " + dir.file("wrong") + " hex:" + iv).status, 0);
    run = kqu("decrypt --keychain " + sealed + " " + dir.file("plain2.txt"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("stale"), std::string::npos) << run.output;
}

TEST_P(KeychainTool, PackagesWithoutDocumentUuidAndBadTargetsAreRefused) {
    std::string plain = dir.file("plain.zip");
    ASSERT_EQ(kqu("zip create --quiet " + plain + " " + dir.file("notes.txt")).status, 0);
    auto run = kqu("keychain find " + plain);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("no document UUID"), std::string::npos) << run.output;
    EXPECT_EQ(kqu("keychain find hex:abc").status, 2);
    EXPECT_EQ(kqu("zip create --remember " + plain + ".2 " + dir.file("notes.txt")).status, 1);
}

}  // namespace
}  // namespace kqu::test
