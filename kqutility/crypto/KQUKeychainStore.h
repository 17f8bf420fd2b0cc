// The stores behind KQUKeychainUtils: where generic-password items (a passphrase with its
// service, description, label and account, found by an opaque generic item of any bytes)
// are kept. Two exist:
//
//   - the desktop's Secret Service, over D-Bus through libsecret (the default). Items are
//     found by their "gena" attribute (the generic item in lower-case hex) alone, whatever
//     other attributes or schema they carry, so items written by other clients with the
//     same attribute are found, updated and removed too;
//   - a file, $XDG_DATA_HOME/kqutility/keychain (~/.local/share when unset), for machines
//     without a Secret Service. The passphrases in it are encoded, not encrypted: anyone
//     who can read the file can read them. It must be a regular file of the user's with
//     mode 0600 in a directory of the user's that no one else may enter (0700); anything
//     else (a symbolic link among them) is refused with a message that says how to fix it.
//     Writers are serialised with flock on the directory and replace the file atomically.
//
// Which store a process uses is the user default "KQUKeychainStore": "secret-service" or
// "file", read once (KQUKeychainStore::processStore). An unusable store is an error; there
// is no falling back from one store to the other.
//
// A store offers the primitives only (find every match, create, update, remove, and a
// write lock); what storing and removing mean when several items match is decided once,
// in KQUKeychainUtils. Failures answer false with a KQUError in KQUOSStatusErrorDomain
// whose code is one of the KQUKeychain…Error values (KQUKeychainUtils.h).
//
// Ownership: stores are shared (std::shared_ptr); an item's reference keeps what the store
// needs to find it again. Threads: one thread at a time per store (KQUKeychainUtils
// serialises its own calls).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/crypto/KQUSecretBuffer.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

// Codes of the errors keychain functions report (domain KQUOSStatusErrorDomain).
inline constexpr int KQUKeychainItemNotFoundError = -25300;
// No Secret Service: no session bus, or nothing on it answers for the service.
inline constexpr int KQUKeychainNotAvailableError = -25291;
// The collection is locked and could not be unlocked: the prompt was refused, dismissed or
// could not be shown.
inline constexpr int KQUKeychainInteractionNotAllowedError = -25308;
// An item's secret is not UTF-8, so it is no passphrase this library stored.
inline constexpr int KQUKeychainUndecodableSecretError = -26275;
// The file store is refused: wrong type, owner or mode of the file or its directory, a
// symbolic link, or a file that is not in the store's format.
inline constexpr int KQUKeychainFileStoreRefusedError = -25295;
// Any other failure of the store (a D-Bus call refused, a file that cannot be written).
inline constexpr int KQUKeychainStoreFailedError = -25293;

// The user default that picks the store, and its two values.
inline constexpr const char* KQUKeychainStoreKey = "KQUKeychainStore";
inline constexpr const char* KQUKeychainSecretServiceStoreName = "secret-service";
inline constexpr const char* KQUKeychainFileStoreName = "file";

// What a store keeps to find one item again (a D-Bus object, an item identifier).
class KQUKeychainItemReference {
public:
    virtual ~KQUKeychainItemReference() = default;
};

struct KQUKeychainItem {
    std::string genericItem;  // any bytes
    std::string service;      // UTF-8, as are the three below
    std::string description;
    std::string label;
    std::string account;  // empty when the item has none
    KQUSecretBuffer secret;
    std::shared_ptr<const KQUKeychainItemReference> reference;  // set on items a store found
};

// Holds other writers of a store off until it goes (nothing for a store that needs none).
class KQUKeychainWriteLock {
public:
    virtual ~KQUKeychainWriteLock() = default;
};

// How much of each item findItems fills in: its reference alone (enough to update or
// remove it), also its secret, or everything.
enum class KQUKeychainFindScope { References, Secrets, Everything };

class KQUKeychainStore {
public:
    virtual ~KQUKeychainStore() = default;

    // "secret-service" or "file".
    virtual std::string_view name() const = 0;
    // True when the store can be used now (reached, not refused); cheap enough to ask
    // before work whose result would be stored.
    [[nodiscard]] virtual bool checkUsable(KQUError* error) = 0;
    // Every item whose generic item is genericItem, filled in as far as scope asks (a store
    // may fill in more), in the store's order. Locked items are unlocked (the store may ask
    // the user) or the find fails.
    [[nodiscard]] virtual bool findItems(std::string_view genericItem, std::vector<KQUKeychainItem>* items,
                                         KQUError* error,
                                         KQUKeychainFindScope scope = KQUKeychainFindScope::Everything) = 0;
    [[nodiscard]] virtual bool createItem(const KQUKeychainItem& item, KQUError* error) = 0;
    // Replaces the attributes, label and secret of the item that item.reference names.
    [[nodiscard]] virtual bool updateItem(const KQUKeychainItem& item, KQUError* error) = 0;
    [[nodiscard]] virtual bool removeItem(const KQUKeychainItem& item, KQUError* error) = 0;
    // Held while a find and the writes that depend on it run; nullptr with *error filled
    // when the lock cannot be taken.
    virtual std::unique_ptr<KQUKeychainWriteLock> lockForWriting(KQUError* error) = 0;

    // The store the user default names, made on first use and kept for the process;
    // nullptr with *error filled (KQUKeychainNotAvailableError) when the default names
    // neither store.
    static std::shared_ptr<KQUKeychainStore> processStore(KQUError* error);
    // A new store of the given name ("secret-service" or "file"), nullptr for another name.
    static std::shared_ptr<KQUKeychainStore> create(std::string_view name);
};

// The file store in the given file (tests and tools that keep their own files); the
// default path is KQUDefaultKeychainFilePath().
std::shared_ptr<KQUKeychainStore> KQUMakeFileKeychainStore(std::string path);
// $XDG_DATA_HOME/kqutility/keychain, with ~/.local/share when XDG_DATA_HOME is unset or
// not absolute.
std::string KQUDefaultKeychainFilePath();
std::shared_ptr<KQUKeychainStore> KQUMakeSecretServiceKeychainStore();

// A generic item as the Secret Service's "gena" attribute holds it: lower-case hex.
std::string KQUKeychainHexString(std::string_view bytes);

// Fills *error (when non-null) in KQUOSStatusErrorDomain.
void KQUSetKeychainError(KQUError* error, int code, std::string description);

}  // namespace kqu
