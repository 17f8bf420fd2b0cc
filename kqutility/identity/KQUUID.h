// Unique identifiers: stable names for document objects, so that references between
// objects can be resolved by name (when a document is read, for instance).
//
// A KQUUID is a UTF-8 string that is unique within its KQUUIDNamespace. Identifiers are
// interned: there is exactly one KQUUID object per namespace and string, so comparing two
// KQUUIDRef by address is comparing identifiers. KQUUIDManager maps identifiers to the
// objects registered under them (and keeps those objects alive while they are
// registered); each namespace maps its objects back to their identifiers and hands out
// fresh strings of the form base-number ("Shape-0", "Shape-1", ...).
//
// Ownership: the namespace owns the identifiers it interned (callers may keep theirs as
// long as they like); an identifier's namespace pointer does not own the namespace and is
// cleared when the identifier is unregistered and, for every identifier the namespace
// interned, when the namespace goes away. Registered objects are held as
// std::shared_ptr<void>; an object's identity is its address.
//
// Threads: the registry is not locked; use it from one thread (normally the main thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "kqutility/collections/KQUPointerSet.h"

namespace kqu {

inline constexpr const char* KQUUIDReusedException = "KQUUIDReusedException";
inline constexpr const char* KQUUIDObjectNotRegisteredException = "KQUUIDObjectNotRegisteredException";
inline constexpr const char* KQUUIDObjectReregisteredException = "KQUUIDObjectReregisteredException";
inline constexpr const char* KQUnilObjectIsInvalidExceptionString = "Cannot register a UID for a nil object";
inline constexpr const char* KQUnilUIDIsInvalidExceptionString = "Cannot register a nil UID for an object";
// Registering an identifier that has no namespace any more (it was unregistered, or its
// namespace went away): NSInvalidArgumentException with this reason.
inline constexpr const char* KQUUIDWithoutNamespaceExceptionString =
    "Cannot register a UID that no longer belongs to a namespace";

class KQUUIDNamespace;
class KQUUIDManager;

class KQUUID {
public:
    const std::string& string() const { return mString; }
    // nullptr once the identifier was unregistered or its namespace went away.
    KQUUIDNamespace* uidNamespace() const { return mNamespace; }
    // Fixed at creation, so that the identifier stays findable in hashed collections
    // whatever happens to its namespace. Equality is identity.
    size_t hash() const { return mHash; }
    // "{KQUUID <address>, string '<string>' in namespace <namespace address or (null)>}"
    std::string description() const;

    KQUUID(const KQUUID&) = delete;
    KQUUID& operator=(const KQUUID&) = delete;

    // Made only by KQUUIDManager (the key cannot be named elsewhere).
    class Key {
        friend class KQUUIDManager;
        Key() = default;
    };
    KQUUID(Key, std::string string, KQUUIDNamespace* uidNamespace);

private:
    friend class KQUUIDNamespace;
    friend class KQUUIDManager;
    void setNamespace(KQUUIDNamespace* uidNamespace) const { mNamespace = uidNamespace; }

    mutable KQUUIDNamespace* mNamespace;
    // The registered object: the manager's identifier -> object map is kept here, one
    // field per identifier, so that a look-up costs no hashing.
    mutable std::shared_ptr<void> mObject;
    std::string mString;
    size_t mHash;
};

using KQUUIDRef = std::shared_ptr<const KQUUID>;

// Hashes an identifier by its fixed hash (for sets and maps of KQUUIDRef).
struct KQUUIDHash {
    size_t operator()(const KQUUIDRef& uid) const noexcept { return uid ? uid->hash() : 0; }
};

namespace detail {
struct KQUStringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
}  // namespace detail

class KQUUIDNamespace {
public:
    KQUUIDNamespace();
    // Unregisters every identifier registered in this namespace (releasing its object) and
    // clears the namespace of every identifier it interned.
    virtual ~KQUUIDNamespace();
    KQUUIDNamespace(const KQUUIDNamespace&) = delete;
    KQUUIDNamespace& operator=(const KQUUIDNamespace&) = delete;

    // Splits "Base-12" into "Base" and 12. The name is returned unchanged (and *number left
    // alone) unless it has at least 2 characters, ends in a run of ASCII digits preceded by
    // a hyphen at index 1 or later, and the run's value (saturated at 2147483647) is at
    // least 1 and below 2147483647, and number is given.
    static std::string parseNumberOutOfBasename(std::string_view name, int* number);

    // A fresh identifier "base-n" not yet used in this namespace, interned.
    KQUUIDRef generateUniqueIDFromBase(std::string_view base);
    // "base-number"
    virtual std::string generateUIDStringFromBase(std::string_view base, uint32_t number) const;
    // The form under which strings count as used; the string itself here. A subclass may
    // fold case, for instance.
    virtual std::string normalizeNameString(std::string_view string) const;

    // The identifier registered for object in this namespace, or nullptr.
    KQUUIDRef uidForObject(const void* object) const;
    // The object registered under uid (which must belong to this namespace), or nullptr.
    std::shared_ptr<void> objectForUID(const KQUUIDRef& uid) const;

    // How many identifiers this namespace interned / has registered.
    size_t internedCount() const { return mInterned.size(); }
    size_t registeredCount() const { return mMapObjectsToIDs.size(); }

    // A capacity hint for the maps (how many identifiers the caller expects).
    void reserve(size_t count);

private:
    friend class KQUUIDManager;
    friend class KQUUID;

    void registerUID(const KQUUID& uid);
    bool isUsed(const std::string& candidate) const;
    void noteObjectRegisteredWithUID(const void* object, const KQUUIDRef& uid);
    void unnoteObjectRegisteredWithUID(const void* object, const KQUUIDRef& uid);
    void voidUID(const KQUUIDRef& uid);

    // The normalised forms of interned strings that differ from the strings themselves;
    // together with the keys of mInterned, every string counted as used.
    std::unordered_set<std::string, detail::KQUStringHash, std::equal_to<>> mUsedStrings;
    std::unordered_map<std::string, uint32_t, detail::KQUStringHash, std::equal_to<>> mBaseToNumber;
    std::unordered_map<const void*, KQUUIDRef, KQUContainerObjectPointerHash> mMapObjectsToIDs;
    // The interning table: string -> the one identifier for it. The namespace owns it.
    std::unordered_map<std::string, std::shared_ptr<KQUUID>, detail::KQUStringHash, std::equal_to<>>
        mInterned;
};

// The process-wide registry (static members only).
class KQUUIDManager {
public:
    KQUUIDManager() = delete;

    // The interned identifier for string in uidNamespace. A hit allocates nothing.
    static KQUUIDRef uidInNamespace(KQUUIDNamespace& uidNamespace, std::string_view string);
    // A fresh identifier from base, registered to object.
    static KQUUIDRef createUIDForObject(const std::shared_ptr<void>& object, KQUUIDNamespace& uidNamespace,
                                        std::string_view baseString);

    // Throws NSInvalidArgumentException for a null identifier or object and for an
    // identifier without namespace, KQUUIDObjectReregisteredException when the object
    // already has an identifier in that namespace, KQUUIDReusedException when the
    // identifier already belongs to an object.
    static void registerUID(const KQUUIDRef& uid, const std::shared_ptr<void>& object);
    // Throws as above for null arguments and KQUUIDObjectNotRegisteredException unless
    // object is registered under uid. Afterwards uid has no namespace.
    static void unregisterUID(const KQUUIDRef& uid, const void* object);

    static KQUUIDRef uidForObject(const void* object, const KQUUIDNamespace& uidNamespace);
    static std::shared_ptr<void> objectForUID(const KQUUIDRef& uid);
    static std::shared_ptr<void> objectForUID(const KQUUID* uid);

    // Used when a namespace goes away.
    static void removeUIDFromManagement(const KQUUIDRef& uid);
    static void unmapNamespace(KQUUIDNamespace& uidNamespace);

    // How many identifiers are registered, over all namespaces.
    static size_t registeredCount();
};

}  // namespace kqu
