#include "kqutility/identity/KQUUID.h"

#include <fmt/format.h>

#include <climits>
#include <functional>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

namespace {

struct RegisteredEntry {
    KQUUIDRef uid;
    std::shared_ptr<void> object;
};

struct UIDPointerHash {
    size_t operator()(const KQUUID* uid) const noexcept { return uid->hash(); }
};

// identifier -> object, over every namespace. Capacities are hints only: the map grows as
// identifiers are registered.
std::unordered_map<const KQUUID*, RegisteredEntry, UIDPointerHash>& idsToObjects() {
    static std::unordered_map<const KQUUID*, RegisteredEntry, UIDPointerHash> sMap;
    return sMap;
}

std::string pointerText(const void* p) { return p ? fmt::format("{}", p) : std::string("(null)"); }

void checkArguments(const KQUUIDRef& uid, const void* object) {
    if (!uid) throw KQUException(NSInvalidArgumentException, KQUnilUIDIsInvalidExceptionString);
    if (!object) throw KQUException(NSInvalidArgumentException, KQUnilObjectIsInvalidExceptionString);
}

}  // namespace

// --- KQUUID ---------------------------------------------------------------------------------

KQUUID::KQUUID(std::string string, KQUUIDNamespace* uidNamespace)
    : mNamespace(uidNamespace), mString(std::move(string)) {
    // The namespace's address is mixed in once, here: it never changes afterwards, so the
    // identifier keeps its place in hashed collections when the namespace is cleared.
    mHash = std::hash<std::string_view>{}(mString) ^ KQUContainerObjectPointerHash{}(uidNamespace);
}

std::string KQUUID::description() const {
    return fmt::format("{{KQUUID {}, string '{}' in namespace {}}}", static_cast<const void*>(this), mString,
                       pointerText(mNamespace));
}

// --- KQUUIDNamespace ------------------------------------------------------------------------

KQUUIDNamespace::KQUUIDNamespace() = default;

KQUUIDNamespace::~KQUUIDNamespace() {
    // Copy first: removing an identifier from management edits mUidsRegistered.
    std::vector<KQUUIDRef> registered(mUidsRegistered.begin(), mUidsRegistered.end());
    for (const KQUUIDRef& uid : registered) {
        KQUUIDManager::removeUIDFromManagement(uid);
        uid->setNamespace(nullptr);
    }
    KQUUIDManager::unmapNamespace(*this);
}

void KQUUIDNamespace::reserve(size_t count) {
    mUsedStrings.reserve(count);
    mInterned.reserve(count);
    mUidsRegistered.reserve(count);
    mMapObjectsToIDs.reserve(count);
}

std::string KQUUIDNamespace::parseNumberOutOfBasename(std::string_view name, int* number) {
    if (name.size() < 2 || !number) return std::string(name);
    size_t runStart = name.size();
    while (runStart > 0 && name[runStart - 1] >= '0' && name[runStart - 1] <= '9') --runStart;
    if (runStart == name.size()) return std::string(name);  // no digits at the end
    size_t hyphen = runStart - 1;
    if (runStart == 0 || hyphen < 1 || name[hyphen] != '-') return std::string(name);
    // The run's value as an int, saturated as an overflowing run is.
    int64_t value = 0;
    for (size_t i = runStart; i < name.size(); ++i) {
        value = value * 10 + (name[i] - '0');
        if (value >= INT_MAX) {
            value = INT_MAX;
            break;
        }
    }
    if (value < 1 || value == INT_MAX) return std::string(name);
    *number = static_cast<int>(value);
    return std::string(name.substr(0, hyphen));
}

std::string KQUUIDNamespace::generateUIDStringFromBase(std::string_view base, uint32_t number) const {
    return fmt::format("{}-{}", base, number);
}

std::string KQUUIDNamespace::normalizeNameString(std::string_view string) const { return std::string(string); }

KQUUIDRef KQUUIDNamespace::generateUniqueIDFromBase(std::string_view base) {
    int parsed = INT_MAX;
    std::string split = parseNumberOutOfBasename(base, &parsed);
    uint32_t n = 0;
    auto stored = mBaseToNumber.find(split);
    if (stored != mBaseToNumber.end()) n = stored->second;
    if (parsed != INT_MAX && static_cast<uint32_t>(parsed) > n) n = static_cast<uint32_t>(parsed);
    std::string candidate = generateUIDStringFromBase(split, n);
    while (mUsedStrings.contains(normalizeNameString(candidate))) candidate = generateUIDStringFromBase(split, ++n);
    if (stored != mBaseToNumber.end())
        stored->second = n + 1;
    else
        mBaseToNumber.emplace(std::move(split), n + 1);
    return KQUUIDManager::uidInNamespace(*this, candidate);
}

void KQUUIDNamespace::registerUID(const KQUUID& uid) { mUsedStrings.insert(normalizeNameString(uid.string())); }

void KQUUIDNamespace::noteObjectRegisteredWithUID(const void* object, const KQUUIDRef& uid) {
    if (uid->uidNamespace() != this)
        throw KQUException(NSInternalInconsistencyException, "Noted a UID registered in another namespace.");
    mUidsRegistered.insert(uid);
    mMapObjectsToIDs[object] = uid;
}

void KQUUIDNamespace::unnoteObjectRegisteredWithUID(const void* object, const KQUUIDRef& uid) {
    if (uid->uidNamespace() != this)
        throw KQUException(NSInternalInconsistencyException, "Unnoted a UID registered in another namespace.");
    mUidsRegistered.erase(uid);
    mMapObjectsToIDs.erase(object);
}

void KQUUIDNamespace::voidUID(const KQUUIDRef& uid) {
    if (uid->uidNamespace() != this)
        throw KQUException(NSInternalInconsistencyException, "asked to void UID not in own namespace.");
    if (auto object = KQUUIDManager::objectForUID(uid)) mMapObjectsToIDs.erase(object.get());
    mUidsRegistered.erase(uid);
}

KQUUIDRef KQUUIDNamespace::uidForObject(const void* object) const {
    auto found = mMapObjectsToIDs.find(object);
    return found == mMapObjectsToIDs.end() ? nullptr : found->second;
}

std::shared_ptr<void> KQUUIDNamespace::objectForUID(const KQUUIDRef& uid) const {
    if (uid && uid->uidNamespace() != this)
        throw KQUException(NSInternalInconsistencyException,
                           fmt::format("KQUUIDNamespace {} asked for an object for uid {}, which was in namespace {}",
                                       static_cast<const void*>(this), static_cast<const void*>(uid.get()),
                                       pointerText(uid->uidNamespace())));
    return KQUUIDManager::objectForUID(uid);
}

// --- KQUUIDManager --------------------------------------------------------------------------

KQUUIDRef KQUUIDManager::uidInNamespace(KQUUIDNamespace& uidNamespace, std::string_view string) {
    auto found = uidNamespace.mInterned.find(string);
    if (found != uidNamespace.mInterned.end()) return found->second;
    // make_shared cannot reach the private constructor.
    std::shared_ptr<KQUUID> uid(new KQUUID(std::string(string), &uidNamespace));
    uidNamespace.registerUID(*uid);
    uidNamespace.mInterned.emplace(uid->string(), uid);
    return uid;
}

KQUUIDRef KQUUIDManager::createUIDForObject(const std::shared_ptr<void>& object, KQUUIDNamespace& uidNamespace,
                                            std::string_view baseString) {
    if (!object) throw KQUException(NSInvalidArgumentException, KQUnilObjectIsInvalidExceptionString);
    KQUUIDRef uid = uidNamespace.generateUniqueIDFromBase(baseString);
    registerUID(uid, object);
    return uid;
}

void KQUUIDManager::registerUID(const KQUUIDRef& uid, const std::shared_ptr<void>& object) {
    checkArguments(uid, object.get());
    KQUUIDNamespace* uidNamespace = uid->uidNamespace();
    // An identifier that lost its namespace cannot be told to any namespace, so
    // registering it would leave the object registered where nothing can find or free it.
    if (!uidNamespace) throw KQUException(NSInvalidArgumentException, KQUUIDWithoutNamespaceExceptionString);
    if (uidNamespace->uidForObject(object.get()))
        throw KQUException(KQUUIDObjectReregisteredException, "that object is already registered");
    auto& map = idsToObjects();
    if (map.contains(uid.get())) throw KQUException(KQUUIDReusedException, "another object has the specified UID");
    map.emplace(uid.get(), RegisteredEntry{uid, object});
    uidNamespace->noteObjectRegisteredWithUID(object.get(), uid);
}

void KQUUIDManager::unregisterUID(const KQUUIDRef& uid, const void* object) {
    checkArguments(uid, object);
    KQUUIDNamespace* uidNamespace = uid->uidNamespace();
    if (!uidNamespace || uidNamespace->uidForObject(object) != uid)
        throw KQUException(KQUUIDObjectNotRegisteredException, "that object is not registered with the specified UID");
    uidNamespace->unnoteObjectRegisteredWithUID(object, uid);
    // The entry holds the last reference the registry had to the object; let it go after
    // the map is consistent again, in case the object's destructor comes back here.
    std::shared_ptr<void> released;
    if (auto found = idsToObjects().find(uid.get()); found != idsToObjects().end()) {
        released = std::move(found->second.object);
        idsToObjects().erase(found);
    }
    uid->setNamespace(nullptr);
}

KQUUIDRef KQUUIDManager::uidForObject(const void* object, const KQUUIDNamespace& uidNamespace) {
    return uidNamespace.uidForObject(object);
}

std::shared_ptr<void> KQUUIDManager::objectForUID(const KQUUID* uid) {
    if (!uid) return nullptr;
    auto& map = idsToObjects();
    auto found = map.find(uid);
    return found == map.end() ? nullptr : found->second.object;
}

std::shared_ptr<void> KQUUIDManager::objectForUID(const KQUUIDRef& uid) { return objectForUID(uid.get()); }

void KQUUIDManager::removeUIDFromManagement(const KQUUIDRef& uid) {
    if (!uid) return;
    if (KQUUIDNamespace* uidNamespace = uid->uidNamespace()) uidNamespace->voidUID(uid);
    std::shared_ptr<void> released;
    if (auto found = idsToObjects().find(uid.get()); found != idsToObjects().end()) {
        released = std::move(found->second.object);
        idsToObjects().erase(found);
    }
}

void KQUUIDManager::unmapNamespace(KQUUIDNamespace& uidNamespace) {
    // Callers may still hold identifiers of this namespace: none may keep pointing at it.
    for (auto& [string, uid] : uidNamespace.mInterned) uid->setNamespace(nullptr);
    uidNamespace.mInterned.clear();
}

size_t KQUUIDManager::registeredCount() { return idsToObjects().size(); }

void KQUUIDManager::reserve(size_t count) { idsToObjects().reserve(count); }

}  // namespace kqu
