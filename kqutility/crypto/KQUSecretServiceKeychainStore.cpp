// The Secret Service store of KQUKeychainStore.h, through libsecret's synchronous calls.
//
// Items carry the string attributes "gena" (the generic item's bytes in lower-case hex, as
// they may hold NUL), "service", "description" and "account"; the item's label is the
// label and its secret the passphrase's bytes. The schema is flagged
// SECRET_SCHEMA_DONT_MATCH_NAME, so items match by attributes alone, whichever client made
// them. Items are updated in place, never through secret_password_store, which replaces
// only an item whose whole attribute set matches and would add a second one when the
// account changed.
#include <libsecret/secret.h>

#include <fmt/format.h>

#include "kqutility/crypto/KQUKeychainStore.h"

namespace kqu {

namespace {

struct GErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GHashTableDeleter {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct SecretValueDeleter {
    // libsecret wipes its copy of the secret when the last reference goes.
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct GFreeDeleter {
    void operator()(gchar* text) const { g_free(text); }
};
struct ItemListDeleter {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using ServicePtr = std::unique_ptr<SecretService, GObjectDeleter>;
using CollectionPtr = std::unique_ptr<SecretCollection, GObjectDeleter>;
using HashTablePtr = std::unique_ptr<GHashTable, GHashTableDeleter>;
using ValuePtr = std::unique_ptr<SecretValue, SecretValueDeleter>;
using TextPtr = std::unique_ptr<gchar, GFreeDeleter>;
using ItemListPtr = std::unique_ptr<GList, ItemListDeleter>;

const SecretSchema& schema() {
    static const SecretSchema sSchema = [] {
        SecretSchema s{};
        s.name = "KQUtility.GenericPassword";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        const char* names[] = {"gena", "service", "description", "account"};
        for (size_t i = 0; i < std::size(names); ++i) {
            s.attributes[i].name = names[i];
            s.attributes[i].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        }
        return s;
    }();
    return sSchema;
}

std::string hexOf(std::string_view bytes) {
    std::string text;
    for (unsigned char byte : bytes) fmt::format_to(std::back_inserter(text), "{:02x}", byte);
    return text;
}

const std::string kUnavailableAdvice =
    fmt::format("start a keyring daemon, or set the user default {} to \"{}\" to keep passphrases in a plaintext file",
                KQUKeychainStoreKey, KQUKeychainFileStoreName);

// Fills *error from a libsecret or GDBus failure.
bool fail(KQUError* error, const GError* failure, std::string_view what) {
    int code = KQUKeychainStoreFailedError;
    std::string message = fmt::format("{}: {}", what, failure ? failure->message : "failed");
    if (failure && failure->domain == G_DBUS_ERROR &&
        (failure->code == G_DBUS_ERROR_SERVICE_UNKNOWN || failure->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
         failure->code == G_DBUS_ERROR_NO_SERVER || failure->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND ||
         failure->code == G_DBUS_ERROR_SPAWN_EXEC_FAILED || failure->code == G_DBUS_ERROR_SPAWN_CHILD_EXITED)) {
        code = KQUKeychainNotAvailableError;
        message = fmt::format("No Secret Service answers on the session bus ({}): {}", failure->message,
                              kUnavailableAdvice);
    } else if (failure && ((failure->domain == SECRET_ERROR && failure->code == SECRET_ERROR_IS_LOCKED) ||
                           g_error_matches(failure, G_IO_ERROR, G_IO_ERROR_CANCELLED))) {
        code = KQUKeychainInteractionNotAllowedError;
        message = fmt::format("{}: the keychain collection is locked and was not unlocked ({})", what,
                              failure->message);
    }
    KQUSetKeychainError(error, code, std::move(message));
    return false;
}

bool failLocked(KQUError* error, std::string_view what) {
    KQUSetKeychainError(error, KQUKeychainInteractionNotAllowedError,
                        fmt::format("{}: the keychain collection is locked, and unlocking it was refused or no "
                                    "prompt could be shown; unlock it and try again",
                                    what));
    return false;
}

class SecretItemReference : public KQUKeychainItemReference {
public:
    explicit SecretItemReference(SecretItem* item) : item(SECRET_ITEM(g_object_ref(item))) {}
    ~SecretItemReference() override { g_object_unref(item); }
    SecretItemReference(const SecretItemReference&) = delete;
    SecretItemReference& operator=(const SecretItemReference&) = delete;
    SecretItem* item;
};

class SecretServiceKeychainStore : public KQUKeychainStore {
public:
    std::string_view name() const override { return KQUKeychainSecretServiceStoreName; }

    bool checkUsable(KQUError* error) override { return defaultCollection(error) != nullptr; }

    bool findItems(std::string_view genericItem, std::vector<KQUKeychainItem>* items, KQUError* error) override {
        items->clear();
        SecretService* service = connect(error);
        if (!service) return false;
        std::string gena = hexOf(genericItem);
        HashTablePtr attributes(g_hash_table_new(g_str_hash, g_str_equal));
        g_hash_table_insert(attributes.get(), const_cast<char*>("gena"), gena.data());
        GError* failure = nullptr;
        auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS |
                                                    SECRET_SEARCH_UNLOCK);
        ItemListPtr found(secret_service_search_sync(service, &schema(), attributes.get(), flags, nullptr, &failure));
        ErrorPtr owned(failure);
        if (failure) return fail(error, failure, "Could not search the keychain");
        for (GList* node = found.get(); node; node = node->next) {
            auto* item = SECRET_ITEM(node->data);
            if (secret_item_get_locked(item)) return failLocked(error, "Could not read a keychain item");
            ValuePtr value(secret_item_get_secret(item));
            if (!value) {
                KQUSetKeychainError(error, KQUKeychainStoreFailedError,
                                    "The Secret Service did not hand out a keychain item's secret");
                return false;
            }
            KQUKeychainItem result;
            gsize length = 0;
            const gchar* bytes = secret_value_get(value.get(), &length);
            result.secret = KQUSecretBuffer(std::string_view(bytes, length));
            result.genericItem = std::string(genericItem);
            HashTablePtr itemAttributes(secret_item_get_attributes(item));
            auto attribute = [&](const char* key) {
                auto text = static_cast<const char*>(g_hash_table_lookup(itemAttributes.get(), key));
                return std::string(text ? text : "");
            };
            result.service = attribute("service");
            result.description = attribute("description");
            result.account = attribute("account");
            TextPtr label(secret_item_get_label(item));
            result.label = label ? label.get() : "";
            result.reference = std::make_shared<SecretItemReference>(item);
            items->push_back(std::move(result));
        }
        return true;
    }

    bool createItem(const KQUKeychainItem& item, KQUError* error) override {
        CollectionPtr collection = defaultCollection(error);
        if (!collection) return false;
        ItemAttributes attributes(item);
        ValuePtr value(secret_value_new(item.secret.data(), static_cast<gssize>(item.secret.size()), "text/plain"));
        GError* failure = nullptr;
        std::unique_ptr<SecretItem, GObjectDeleter> created(
            secret_item_create_sync(collection.get(), &schema(), attributes.table.get(), item.label.c_str(),
                                    value.get(), SECRET_ITEM_CREATE_NONE, nullptr, &failure));
        ErrorPtr owned(failure);
        if (!created) return fail(error, failure, "Could not create the keychain item");
        return true;
    }

    bool updateItem(const KQUKeychainItem& item, KQUError* error) override {
        SecretItem* target = itemOf(item, error);
        if (!target) return false;
        ItemAttributes attributes(item);
        ValuePtr value(secret_value_new(item.secret.data(), static_cast<gssize>(item.secret.size()), "text/plain"));
        GError* failure = nullptr;
        bool ok = secret_item_set_attributes_sync(target, &schema(), attributes.table.get(), nullptr, &failure) &&
                  secret_item_set_label_sync(target, item.label.c_str(), nullptr, &failure) &&
                  secret_item_set_secret_sync(target, value.get(), nullptr, &failure);
        ErrorPtr owned(failure);
        return ok || fail(error, failure, "Could not update the keychain item");
    }

    bool removeItem(const KQUKeychainItem& item, KQUError* error) override {
        SecretItem* target = itemOf(item, error);
        if (!target) return false;
        GError* failure = nullptr;
        bool ok = secret_item_delete_sync(target, nullptr, &failure);
        ErrorPtr owned(failure);
        return ok || fail(error, failure, "Could not remove the keychain item");
    }

    std::unique_ptr<KQUKeychainWriteLock> lockForWriting(KQUError*) override {
        // The service serialises its own calls; nothing to hold.
        return std::make_unique<KQUKeychainWriteLock>();
    }

private:
    // The attribute table of an item; the strings it points into live as long as it does.
    struct ItemAttributes {
        explicit ItemAttributes(const KQUKeychainItem& item) : gena(hexOf(item.genericItem)) {
            table.reset(g_hash_table_new(g_str_hash, g_str_equal));
            g_hash_table_insert(table.get(), const_cast<char*>("gena"), gena.data());
            g_hash_table_insert(table.get(), const_cast<char*>("service"), const_cast<char*>(item.service.c_str()));
            g_hash_table_insert(table.get(), const_cast<char*>("description"),
                                const_cast<char*>(item.description.c_str()));
            g_hash_table_insert(table.get(), const_cast<char*>("account"), const_cast<char*>(item.account.c_str()));
        }
        std::string gena;
        HashTablePtr table;
    };

    static SecretItem* itemOf(const KQUKeychainItem& item, KQUError* error) {
        auto reference = dynamic_cast<const SecretItemReference*>(item.reference.get());
        if (!reference)
            KQUSetKeychainError(error, KQUKeychainItemNotFoundError, "The keychain item was not found by this store");
        return reference ? reference->item : nullptr;
    }

    SecretService* connect(KQUError* error) {
        if (mService) return mService.get();
        GError* failure = nullptr;
        mService.reset(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &failure));
        ErrorPtr owned(failure);
        if (!mService) {
            KQUSetKeychainError(error, KQUKeychainNotAvailableError,
                                fmt::format("No Secret Service is available ({}): {}",
                                            failure ? failure->message : "no session bus", kUnavailableAdvice));
            return nullptr;
        }
        return mService.get();
    }

    // The default collection, unlocked (asking the user when the service wants to).
    CollectionPtr defaultCollection(KQUError* error) {
        SecretService* service = connect(error);
        if (!service) return nullptr;
        GError* failure = nullptr;
        CollectionPtr collection(
            secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr,
                                             &failure));
        ErrorPtr owned(failure);
        if (failure) {
            fail(error, failure, "Could not open the default keychain collection");
            return nullptr;
        }
        if (!collection) {
            KQUSetKeychainError(error, KQUKeychainStoreFailedError,
                                "The Secret Service has no default collection: make one with the desktop's "
                                "keyring manager");
            return nullptr;
        }
        if (secret_collection_get_locked(collection.get())) {
            GList objects{collection.get(), nullptr, nullptr};
            gint unlocked = secret_service_unlock_sync(service, &objects, nullptr, nullptr, &failure);
            owned.reset(failure);
            if (failure) {
                fail(error, failure, "Could not unlock the default keychain collection");
                return nullptr;
            }
            if (unlocked < 1) {
                failLocked(error, "Could not use the default keychain collection");
                return nullptr;
            }
        }
        return collection;
    }

    ServicePtr mService;
};

}  // namespace

std::shared_ptr<KQUKeychainStore> KQUMakeSecretServiceKeychainStore() {
    return std::make_shared<SecretServiceKeychainStore>();
}

}  // namespace kqu
