// The Secret Service store of KQUKeychainStore.h, through libsecret's synchronous calls.
//
// Items carry the string attributes "gena" (the generic item's bytes in lower-case hex, as
// they may hold NUL), "service", "description" and "account"; the item's label is the
// label and its secret the passphrase's bytes. The schema is flagged
// SECRET_SCHEMA_DONT_MATCH_NAME, so items match by attributes alone, whichever client made
// them. Items are updated in place, never through secret_password_store, which replaces
// only an item whose whole attribute set matches and would add a second one when the
// account changed.
//
// Finding works on D-Bus object paths (libsecret's path functions, which it still marks as
// subject to change) rather than SecretItem proxies: a proxy costs a property round trip
// per item, which made a look-up take twice as long as libsecret's own
// secret_password_lookup_sync. A look-up is one search and one GetSecrets call, plus one
// property call per item when its attributes are wanted.
#define SECRET_API_SUBJECT_TO_CHANGE 1
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

using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using ServicePtr = std::unique_ptr<SecretService, GObjectDeleter>;
using CollectionPtr = std::unique_ptr<SecretCollection, GObjectDeleter>;
using HashTablePtr = std::unique_ptr<GHashTable, GHashTableDeleter>;
using ValuePtr = std::unique_ptr<SecretValue, SecretValueDeleter>;
using TextPtr = std::unique_ptr<gchar, GFreeDeleter>;
struct StrvDeleter {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
using StrvPtr = std::unique_ptr<gchar*, StrvDeleter>;
struct VariantDeleter {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantDeleter>;

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
    explicit SecretItemReference(std::string path) : path(std::move(path)) {}
    std::string path;
};

class SecretServiceKeychainStore : public KQUKeychainStore {
public:
    std::string_view name() const override { return KQUKeychainSecretServiceStoreName; }

    bool checkUsable(KQUError* error) override { return defaultCollection(error) != nullptr; }

    bool findItems(std::string_view genericItem, std::vector<KQUKeychainItem>* items, KQUError* error,
                   KQUKeychainFindScope scope) override {
        items->clear();
        SecretService* service = connect(error);
        if (!service) return false;
        std::string gena = KQUKeychainHexString(genericItem);
        HashTablePtr attributes(g_hash_table_new(g_str_hash, g_str_equal));
        g_hash_table_insert(attributes.get(), const_cast<char*>("gena"), gena.data());
        GError* failure = nullptr;
        gchar** unlockedPaths = nullptr;
        gchar** lockedPaths = nullptr;
        bool searched = secret_service_search_for_dbus_paths_sync(service, &schema(), attributes.get(), nullptr,
                                                                  &unlockedPaths, &lockedPaths, &failure);
        StrvPtr unlocked(unlockedPaths), locked(lockedPaths);
        ErrorPtr owned(failure);
        if (!searched) return fail(error, failure, "Could not search the keychain");

        std::vector<std::string> paths;
        for (gchar** path = unlocked.get(); path && *path; ++path) paths.emplace_back(*path);
        if (locked && *locked) {
            // Unlocking may show the desktop's prompt; refused or impossible, the find fails.
            guint count = g_strv_length(locked.get());
            gchar** newlyUnlocked = nullptr;
            gint done = secret_service_unlock_dbus_paths_sync(service, const_cast<const gchar**>(locked.get()),
                                                              nullptr, &newlyUnlocked, &failure);
            StrvPtr unlockedNow(newlyUnlocked);
            owned.reset(failure);
            if (failure) return fail(error, failure, "Could not unlock keychain items");
            if (done < static_cast<gint>(count)) return failLocked(error, "Could not read a keychain item");
            for (gchar** path = locked.get(); *path; ++path) paths.emplace_back(*path);
        }

        HashTablePtr secrets;
        if (scope != KQUKeychainFindScope::References && !paths.empty()) {
            std::vector<const gchar*> pathList;
            for (const auto& path : paths) pathList.push_back(path.c_str());
            pathList.push_back(nullptr);
            // The table owns the values and lets go of them (wiped by libsecret) with itself.
            secrets.reset(secret_service_get_secrets_for_dbus_paths_sync(service, pathList.data(), nullptr, &failure));
            owned.reset(failure);
            if (!secrets) return fail(error, failure, "Could not read the keychain items' secrets");
        }
        for (const auto& path : paths) {
            KQUKeychainItem item;
            item.genericItem = std::string(genericItem);
            if (secrets) {
                auto value = static_cast<SecretValue*>(g_hash_table_lookup(secrets.get(), path.c_str()));
                if (!value) {
                    KQUSetKeychainError(error, KQUKeychainStoreFailedError,
                                        "The Secret Service did not hand out a keychain item's secret");
                    return false;
                }
                gsize length = 0;
                const gchar* bytes = secret_value_get(value, &length);
                item.secret = KQUSecretBuffer(std::string_view(bytes, length));
            }
            if (scope == KQUKeychainFindScope::Everything && !loadProperties(service, path, item, error)) return false;
            item.reference = std::make_shared<SecretItemReference>(path);
            items->push_back(std::move(item));
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
        const std::string* path = pathOf(item, error);
        SecretService* service = path ? connect(error) : nullptr;
        if (!service) return false;
        GError* failure = nullptr;
        std::unique_ptr<SecretItem, GObjectDeleter> target(
            secret_item_new_for_dbus_path_sync(service, path->c_str(), SECRET_ITEM_NONE, nullptr, &failure));
        ErrorPtr owned(failure);
        if (!target) return fail(error, failure, "Could not open the keychain item");
        ItemAttributes attributes(item);
        ValuePtr value(secret_value_new(item.secret.data(), static_cast<gssize>(item.secret.size()), "text/plain"));
        bool ok =
            secret_item_set_attributes_sync(target.get(), &schema(), attributes.table.get(), nullptr, &failure) &&
            secret_item_set_label_sync(target.get(), item.label.c_str(), nullptr, &failure) &&
            secret_item_set_secret_sync(target.get(), value.get(), nullptr, &failure);
        owned.reset(failure);
        return ok || fail(error, failure, "Could not update the keychain item");
    }

    bool removeItem(const KQUKeychainItem& item, KQUError* error) override {
        const std::string* path = pathOf(item, error);
        SecretService* service = path ? connect(error) : nullptr;
        if (!service) return false;
        GError* failure = nullptr;
        bool ok = secret_service_delete_item_dbus_path_sync(service, path->c_str(), nullptr, &failure);
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
        explicit ItemAttributes(const KQUKeychainItem& item) : gena(KQUKeychainHexString(item.genericItem)) {
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

    static const std::string* pathOf(const KQUKeychainItem& item, KQUError* error) {
        auto reference = dynamic_cast<const SecretItemReference*>(item.reference.get());
        if (!reference)
            KQUSetKeychainError(error, KQUKeychainItemNotFoundError, "The keychain item was not found by this store");
        return reference ? &reference->path : nullptr;
    }

    // The item's label and attributes, in one property call.
    static bool loadProperties(SecretService* service, const std::string& path, KQUKeychainItem& item,
                               KQUError* error) {
        GError* failure = nullptr;
        VariantPtr reply(g_dbus_connection_call_sync(
            g_dbus_proxy_get_connection(G_DBUS_PROXY(service)), g_dbus_proxy_get_name(G_DBUS_PROXY(service)),
            path.c_str(), "org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", "org.freedesktop.Secret.Item"),
            G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &failure));
        ErrorPtr owned(failure);
        if (!reply) return fail(error, failure, "Could not read a keychain item's attributes");
        VariantPtr properties(g_variant_get_child_value(reply.get(), 0));
        const gchar* label = nullptr;
        if (g_variant_lookup(properties.get(), "Label", "&s", &label)) item.label = label;
        VariantPtr attributes(g_variant_lookup_value(properties.get(), "Attributes", G_VARIANT_TYPE("a{ss}")));
        if (attributes) {
            const gchar* text = nullptr;
            if (g_variant_lookup(attributes.get(), "service", "&s", &text)) item.service = text;
            if (g_variant_lookup(attributes.get(), "description", "&s", &text)) item.description = text;
            if (g_variant_lookup(attributes.get(), "account", "&s", &text)) item.account = text;
        }
        return true;
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
