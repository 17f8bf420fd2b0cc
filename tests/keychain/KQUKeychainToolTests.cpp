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
    // Runs kqu and expects its exit status and, in its output, text.
    void expect(const std::string& arguments, int status, std::string_view text = "") {
        auto run = kqu(arguments);
        EXPECT_EQ(run.status, status) << arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(text), std::string::npos) << arguments << "\n" << run.output;
    }
    TempDir dir;
};

INSTANTIATE_TEST_SUITE_P(Stores, KeychainTool, ::testing::Values("file", "secret-service"),
                         [](const auto& info) {
                             return info.param == "file" ? "FileStore" : "SecretService";
                         });

TEST_P(KeychainTool, ZipCreateRemembersAndReadersTakeTheKeychainsPassphrase) {
    std::string package = dir.file("doc.zip");
    expect("zip create --quiet --remember --passphrase-file " + dir.file("pass") + " " + package + " " +
               dir.file("notes.txt"),
           0);
    expect("zip test --keychain " + package, 0);
    expect("zip extract --quiet --keychain " + package + " " + dir.file("out"), 0);
    EXPECT_EQ(readFile(dir.file("out/notes.txt")), "remembered notes\n");
    auto run = kqu("keychain find " + package);
    EXPECT_EQ(std::to_string(run.status) + " " + run.output,
              "0 account: " + std::string(getpwuid(geteuid())->pw_name) + "\n");
    expect("keychain find --show-passphrase " + package, 0, "passphrase: right horse\n");

    // A stale passphrase is refused in one line, exit 1.
    expect("keychain store --passphrase-file " + dir.file("wrong") + " " + package, 0);
    run = kqu("zip extract --keychain " + package + " " + dir.file("out2"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.output.starts_with("kqu: ") && run.output.find('\n') == run.output.size() - 1 &&
                run.output.find("stale") != std::string::npos)
        << run.output;

    // Deleted: nothing to find, deleting again is fine.
    expect("keychain delete " + package, 0);
    expect("keychain find " + package, 1);
    expect("keychain delete " + package, 0);
    expect("zip test --keychain " + package, 1, "holds no passphrase");
}

TEST_P(KeychainTool, EncryptRemembersByTheFilesIvAndDecryptTakesIt) {
    std::string sealed = dir.file("notes.enc");
    expect("encrypt --quiet --remember --passphrase-file " + dir.file("pass") + " " + dir.file("notes.txt") +
               " " + sealed,
           0);
    expect("decrypt --quiet --keychain " + sealed + " " + dir.file("plain.txt"), 0);
    EXPECT_EQ(readFile(dir.file("plain.txt")), "remembered notes\n");
    // The item is named by the file's first 16 bytes, given here as hex.
    std::string iv = toHex(readFile(sealed).substr(0, 16));
    expect("keychain find hex:" + iv, 0);
    expect("keychain store --passphrase-file " + dir.file("wrong") + " hex:" + iv, 0);
    expect("decrypt --keychain " + sealed + " " + dir.file("plain2.txt"), 1, "stale");
}

TEST_P(KeychainTool, PackagesWithoutDocumentUuidAndBadTargetsAreRefused) {
    std::string plain = dir.file("plain.zip");
    expect("zip create --quiet " + plain + " " + dir.file("notes.txt"), 0);
    expect("keychain find " + plain, 1, "no document UUID");
    expect("keychain find hex:abc", 2);
    expect("zip create --remember " + plain + ".2 " + dir.file("notes.txt"), 1);
}

}  // namespace
}  // namespace kqu::test
