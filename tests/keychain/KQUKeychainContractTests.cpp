// The contract of KQUKeychainUtils against both stores: the file store in a scratch directory and the
// Secret Service the harness starts (skipped, with the reason, when there is none).
#include <gtest/gtest.h>

#include "KQUKeychainTestSupport.h"
#include "kqutility/crypto/KQUKeychainUtils.h"
#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

struct FileStoreMaker {
    static constexpr const char* kName = "FileStore";
    TempDir dir;
    std::shared_ptr<KQUKeychainStore> make() {
        return KQUMakeFileKeychainStore(dir.file("data/kqutility/keychain"));
    }
};

struct SecretServiceStoreMaker {
    static constexpr const char* kName = "SecretService";
    std::shared_ptr<KQUKeychainStore> make() { return KQUMakeSecretServiceKeychainStore(); }
};

// Passes every call through, but finding fails with the given code: a store whose
// look-up broke (a locked collection, a refused file) while items exist.
class FailingFindStore : public KQUKeychainStore {
public:
    FailingFindStore(std::shared_ptr<KQUKeychainStore> inner, int code) : in(std::move(inner)), mCode(code) {}
    std::string_view name() const override { return in->name(); }
    bool checkUsable(KQUError* error) override { return in->checkUsable(error); }
    bool findItems(std::string_view, std::vector<KQUKeychainItem>*, KQUError* error,
                   KQUKeychainFindScope) override {
        KQUSetKeychainError(error, mCode, "find failed on purpose");
        return false;
    }
    bool createItem(const KQUKeychainItem& i, KQUError* e) override { return in->createItem(i, e); }
    bool updateItem(const KQUKeychainItem& i, KQUError* e) override { return in->updateItem(i, e); }
    bool removeItem(const KQUKeychainItem& i, KQUError* e) override { return in->removeItem(i, e); }
    std::unique_ptr<KQUKeychainWriteLock> lockForWriting(KQUError* e) override {
        return in->lockForWriting(e);
    }

private:
    std::shared_ptr<KQUKeychainStore> in;
    int mCode;
};

using Strings = std::vector<std::string>;

template <typename Maker>
class KeychainContract : public ::testing::Test {
protected:
    void SetUp() override {
        if constexpr (std::is_same_v<Maker, SecretServiceStoreMaker>) KQU_REQUIRE_SECRET_SERVICE();
        store = maker.make();
    }

    void set(std::string_view passphrase, std::string_view item, std::string_view account = "me") {
        ASSERT_EQ(storePassphrase(*store, passphrase, item, account), "");
    }
    std::string lookup(std::string_view item) { return test::lookup(*store, item); }
    void remove(std::string_view item) {
        KQUError error;
        EXPECT_TRUE(KQUKeychainUtils::removeGenericItem(*store, item, &error)) << error.description;
    }
    // The items found for item, straight from the store, as "secret|service|description|label|account".
    Strings found(std::string_view item) {
        std::vector<KQUKeychainItem> items;
        KQUError error;
        EXPECT_TRUE(store->findItems(item, &items, &error)) << error.description;
        Strings out;
        for (const auto& i : items)
            out.push_back(
                fmt::format("{}|{}|{}|{}|{}", i.secret.view(), i.service, i.description, i.label, i.account));
        return out;
    }
    // An item made by the store directly, as another client (or an old version) may have left it.
    void plant(std::string_view item, std::string_view secret, std::string_view account) {
        KQUError error;
        KQUKeychainItem planted{std::string(item),       "other", "", "planted", std::string(account),
                                KQUSecretBuffer(secret), nullptr};
        ASSERT_TRUE(store->createItem(planted, &error)) << error.description;
    }

    Maker maker;
    std::shared_ptr<KQUKeychainStore> store;
};

using Stores = ::testing::Types<FileStoreMaker, SecretServiceStoreMaker>;
struct StoreNames {
    template <typename T>
    static std::string GetName(int) {
        return T::kName;
    }
};
TYPED_TEST_SUITE(KeychainContract, Stores, StoreNames);

TYPED_TEST(KeychainContract, StoringTwiceLeavesOneItemWithTheSecondValues) {
    std::string item = uniqueGenericItem();
    this->set("first", item, "alice");
    ASSERT_EQ(storePassphrase(*this->store, "second", item, "bob", "second label", "svc2", "desc2"), "");
    EXPECT_EQ(this->found(item), Strings{"second|svc2|desc2|second label|bob"});
}

TYPED_TEST(KeychainContract, MissingItemIsNotFoundAndRemovingItSucceeds) {
    std::string item = uniqueGenericItem();
    EXPECT_EQ(this->lookup(item), "NSOSStatusErrorDomain -25300 untouched");
    this->remove(item);
    // Stored, removed, looked up: gone again.
    this->set("pass", item);
    this->remove(item);
    EXPECT_EQ(this->lookup(item), "NSOSStatusErrorDomain -25300 untouched");
}

TYPED_TEST(KeychainContract, GenericItemsDifferingInNulAndFfBytesAreKeptApart) {
    // A store that cut items at NUL or mangled 0xFF would merge some of these.
    std::string base = uniqueGenericItem();
    const std::string suffixes[] = {std::string(), std::string(1, '\0'),     std::string(2, '\0'),
                                    "\xff",        std::string("\0\xff", 2), std::string("\xff\0", 2)};
    for (size_t i = 0; i < std::size(suffixes); ++i)
        this->set("pass " + std::to_string(i), base + suffixes[i]);
    for (size_t i = 0; i < std::size(suffixes); ++i)
        EXPECT_EQ(this->lookup(base + suffixes[i]), "me:pass " + std::to_string(i));
}

TYPED_TEST(KeychainContract, UnicodePassphraseAndAccountComeBackByteForByte) {
    std::string item = uniqueGenericItem();
    const std::string passphrase = "p\xc3\xa4ss w\xc3\xb6rd \xf0\x9f\x94\x91";  // "päss wörd" and a key emoji
    const std::string account = "\u00dcber \u7528\u6237";                       // "Über" and two CJK letters
    this->set(passphrase, item, account);
    EXPECT_EQ(toHex(this->lookup(item)), toHex(account + ":" + passphrase));
    // Text that is not UTF-8 is refused before anything is stored.
    EXPECT_KQU_THROW((void)KQUKeychainUtils::setPassphrase(*this->store, "\xff", item, "s", "d", "l", "a"),
                     "NSInvalidArgumentException", "");
    EXPECT_KQU_THROW((void)KQUKeychainUtils::setPassphrase(*this->store, "p", item, "s", "d", "l", "\xc3"),
                     "NSInvalidArgumentException", "");
    EXPECT_EQ(this->found(item).size(), 1u);
}

// Mended fault: a failed look-up must not be followed by creating a second item.
TYPED_TEST(KeychainContract, MendedFault_StoreAfterFailedLookupAnswersTheLookupErrorAndAddsNothing) {
    std::string item = uniqueGenericItem();
    this->set("original", item);
    FailingFindStore failing(this->store, KQUKeychainInteractionNotAllowedError);
    EXPECT_EQ(storePassphrase(failing, "new", item), "-25308 find failed on purpose");
    EXPECT_EQ(this->found(item), Strings{"original|svc|desc|label|me"});
}

// Mended fault: duplicates are merged by store, all removed by remove, and never picked by lookup.
TYPED_TEST(KeychainContract, MendedFault_DuplicateItemsAreMergedByStoreAndAllRemoved) {
    std::string item = uniqueGenericItem();
    this->plant(item, "stale one", "x");
    this->plant(item, "stale two", "y");
    EXPECT_EQ(this->lookup(item), "NSOSStatusErrorDomain -25293 untouched");  // KQUKeychainStoreFailedError
    this->set("fresh", item, "z");
    EXPECT_EQ(this->found(item), Strings{"fresh|svc|desc|label|z"});
    this->plant(item, "stale three", "w");
    this->plant(item, "stale four", "v");
    this->remove(item);
    EXPECT_TRUE(this->found(item).empty());
}

// Mended fault: no account is the empty account; an undecodable secret fails with its own code, not status 0.
TYPED_TEST(KeychainContract, MendedFault_NoAccountIsEmptyAndUndecodableSecretHasItsOwnCode) {
    std::string item = uniqueGenericItem(), binary = uniqueGenericItem();
    this->plant(item, "fine", "");
    EXPECT_EQ(this->lookup(item), ":fine");
    this->plant(binary, std::string("\xff\xfe\0x", 4), "acct");
    EXPECT_EQ(this->lookup(binary), "NSOSStatusErrorDomain -26275 untouched");
    this->set("mended", binary);  // storing over it mends it
    EXPECT_EQ(this->lookup(binary), "me:mended");
}

}  // namespace
}  // namespace kqu::test
