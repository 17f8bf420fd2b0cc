// What only one store does: the Secret Service against an independent client
// (secret-tool), a locked collection and a missing bus; the file store's refusals, its
// modes and concurrent writers.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

#include "KQUKeychainTestSupport.h"
#include "kqutility/crypto/KQUKeychainUtils.h"
#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

// ---- Secret Service -----------------------------------------------------------------------

class SecretServiceStore : public ::testing::Test {
protected:
    void SetUp() override {
        KQU_REQUIRE_SECRET_SERVICE();
        store = KQUMakeSecretServiceKeychainStore();
        item = uniqueGenericItem(std::string("\0\xff", 2));
        hex = toHex(item);
    }
    // secret-tool's view: the number of items with this gena, and their listing.
    int countWithSecretTool(std::string* listing = nullptr) {
        std::string output;
        runCommand("secret-tool search --all gena " + hex + " 2>&1", &output);
        if (listing) *listing = output;
        int count = 0;
        for (size_t at = output.find("[/"); at != std::string::npos; at = output.find("[/", at + 1)) ++count;
        return count;
    }
    std::shared_ptr<KQUKeychainStore> store;
    std::string item, hex;
};

TEST_F(SecretServiceStore, WhatTheLibraryStoresSecretToolFinds) {
    const std::string passphrase = "s\xc3\xa9same \xf0\x9f\x94\x91";
    ASSERT_EQ(storePassphrase(*store, passphrase, item, "alice", "kqu: a.zip", "kqu", "document passphrase"),
              "");
    std::string output;
    ASSERT_EQ(runCommand("secret-tool lookup gena " + hex, &output), 0);
    EXPECT_EQ(toHex(output), toHex(passphrase));
    std::string listing;
    EXPECT_EQ(countWithSecretTool(&listing), 1);
    for (const char* line : {"label = kqu: a.zip", "attribute.service = kqu", "attribute.account = alice",
                             "attribute.description = document passphrase"})
        EXPECT_NE(listing.find(line), std::string::npos) << line << " in\n" << listing;
}

TEST_F(SecretServiceStore, DuplicatesMadeBySecretToolAreCleanedAndItsItemWithoutAccountReads) {
    // Different accounts: secret-tool keeps both, each with this gena.
    for (const char* account : {"one", "two"})
        ASSERT_EQ(
            runCommand("printf old | secret-tool store --label=dup gena " + hex + " account " + account), 0);
    ASSERT_EQ(countWithSecretTool(), 2);
    ASSERT_EQ(storePassphrase(*store, "new", item, "three"), "");
    EXPECT_EQ(countWithSecretTool(), 1);
    std::string output;
    runCommand("secret-tool lookup gena " + hex, &output);
    EXPECT_EQ(output, "new");

    ASSERT_EQ(runCommand("printf x | secret-tool store --label=dup gena " + hex + " account four"), 0);
    KQUError error;
    ASSERT_TRUE(KQUKeychainUtils::removeGenericItem(*store, item, &error)) << error.description;
    EXPECT_EQ(countWithSecretTool(), 0);

    // An item another client made without any account reads with the empty account.
    ASSERT_EQ(runCommand("printf bare | secret-tool store --label=bare gena " + hex), 0);
    EXPECT_EQ(lookup(*store, item), ":bare");
}

TEST_F(SecretServiceStore, WhatSecretToolClearsTheLibraryNoLongerFinds) {
    ASSERT_EQ(storePassphrase(*store, "p", item), "");
    ASSERT_EQ(runCommand("secret-tool clear gena " + hex), 0);
    EXPECT_EQ(lookup(*store, item), "NSOSStatusErrorDomain -25300 untouched");
}

TEST_F(SecretServiceStore, LockedCollectionFailsWithItsCodeWithoutWaitingForAPrompt) {
    ASSERT_EQ(storePassphrase(*store, "p", item), "");
    // Locked as a screen lock or a restarted daemon would leave it; no prompter is on the
    // test's bus, so unlocking is refused.
    ASSERT_EQ(
        runCommand(
            "dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
            "org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login "
            ">/dev/null"),
        0);
    KQUError error;
    EXPECT_FALSE(KQUKeychainUtils::lookupGenericItem(*store, item, nullptr, nullptr, &error));
    EXPECT_EQ(error.code, KQUKeychainInteractionNotAllowedError);
    EXPECT_NE(error.description.find("locked"), std::string::npos) << error.description;
    EXPECT_EQ(storePassphrase(*store, "q", uniqueGenericItem()).substr(0, 7), "-25308 ");  // not allowed
    EXPECT_FALSE(store->checkUsable(&error));
}

TEST(SecretServiceWithoutBus, NoSessionBusNamesTheStoreSetting) {
    // No bus address, an empty runtime directory (no $XDG_RUNTIME_DIR/bus) and no display
    // to autolaunch one for.
    TempDir dir;
    auto run = runKqu("keychain find hex:00",
                      "env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY XDG_RUNTIME_DIR=" + dir.path() +
                          " KQU_DEFAULT_KQUKeychainStore=secret-service");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("No Secret Service"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("KQUKeychainStore"), std::string::npos) << run.output;
    // And a setting naming no store is refused, not replaced by another store.
    run = runKqu("keychain find hex:00", "KQU_DEFAULT_KQUKeychainStore=keyring");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("\"keyring\""), std::string::npos) << run.output;
}

// ---- File store ---------------------------------------------------------------------------

class FileStore : public ::testing::Test {
protected:
    std::string directory() const { return dir.file("data/kqutility"); }
    std::string path() const { return directory() + "/keychain"; }
    TempDir dir;
    std::shared_ptr<KQUKeychainStore> store = KQUMakeFileKeychainStore(dir.file("data/kqutility/keychain"));
};

TEST_F(FileStore, FileAndDirectoryArePrivateWhateverTheUmask) {
    mode_t old = ::umask(0);
    std::string failure = storePassphrase(*store, "p", "x");
    ::umask(old);
    ASSERT_EQ(failure, "");
    struct stat file = {}, folder = {};
    ASSERT_EQ(::lstat(path().c_str(), &file), 0);
    ASSERT_EQ(::lstat(directory().c_str(), &folder), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(readFile(path()).substr(0, 14), "KQUKeychain 1\n");
}

TEST_F(FileStore, RefusesWhatOthersCouldReadOrReplace) {
    KQUError error;
    ASSERT_EQ(storePassphrase(*store, "p", "x"), "");
    const std::string original = readFile(path());
    struct Case {
        const char* name;
        std::function<bool()> spoil;  // false: cannot be set up here
        const char* advice;
        std::function<void()> mend;
    };
    const Case cases[] = {
        {"file mode 0644", [&] { return ::chmod(path().c_str(), 0644) == 0; }, "chmod 600",
         [&] { ::chmod(path().c_str(), 0600); }},
        {"directory mode 0755", [&] { return ::chmod(directory().c_str(), 0755) == 0; }, "chmod 700",
         [&] { ::chmod(directory().c_str(), 0700); }},
        {"symbolic link",
         [&] {
             writeFile(dir.file("real"), original);
             ::chmod(dir.file("real").c_str(), 0600);
             return ::rename(path().c_str(), dir.file("saved").c_str()) == 0 &&
                    ::symlink(dir.file("real").c_str(), path().c_str()) == 0;
         },
         "symbolic link",
         [&] {
             ::unlink(path().c_str());
             ::rename(dir.file("saved").c_str(), path().c_str());
         }},
        {"another user's file",
         [&] { return ::geteuid() == 0 && ::chown(path().c_str(), 65534, 65534) == 0; }, "another user",
         [&] { (void)::chown(path().c_str(), 0, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.spoil()) {
            std::printf("(%s: cannot be set up by this user, not checked)\n", c.name);
            continue;
        }
        error = {};
        EXPECT_FALSE(KQUKeychainUtils::lookupGenericItem(*store, "x", nullptr, nullptr, &error));
        EXPECT_EQ(error.code, KQUKeychainFileStoreRefusedError);
        EXPECT_NE(error.description.find(c.advice), std::string::npos) << error.description;
        EXPECT_EQ(storePassphrase(*store, "p", "y").substr(0, 7), "-25295 ");  // refused
        EXPECT_FALSE(store->checkUsable(nullptr));
        c.mend();
        EXPECT_EQ(readFile(path()), original);
    }
    EXPECT_EQ(lookup(*store, "x"), "me:p");
}

TEST_F(FileStore, TwoProcessesStoringAtOnceKeepEveryItem) {
    // Without the lock, each writer would rewrite the file from what it read before the
    // other's rename, and items would be lost.
    std::string environment =
        "KQU_DEFAULT_KQUKeychainStore=file XDG_DATA_HOME=" + shellQuoted(dir.file("data")) +
        " KQU_PASSPHRASE=p " + shellQuoted(KQU_TOOL_PATH);
    std::string script;
    for (char writer : {'a', 'b'}) {
        script += "(for i in $(seq 10 24); do " + environment + " keychain store hex:" + writer +
                  "0$i || exit 1; done) & " + writer + "=$!; ";
    }
    script += "wait $a && wait $b";
    ASSERT_EQ(runCommand("bash -c " + shellQuoted(script)), 0);
    for (char writer : {'a', 'b'})
        for (int i = 10; i < 25; ++i) {
            std::string item = {static_cast<char>((writer - 'a' + 10) << 4),
                                static_cast<char>((i / 10) << 4 | (i % 10))};
            EXPECT_TRUE(lookup(*store, item).ends_with(":p")) << writer << i << ": " << lookup(*store, item);
        }
}

}  // namespace
}  // namespace kqu::test
