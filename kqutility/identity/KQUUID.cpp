#include "kqutility/identity/KQUUID.h"

#include <fmt/format.h>

#include <climits>
#include <functional>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

namespace {

// How many identifiers hold an object, over every namespace (main thread only).
size_t sRegisteredCount = 0;

// Lets go of the identifier's object once the registry is consistent again, in case the
// object's destructor comes back into the registry.
void releaseObject(std::shared_ptr<void>& object) {
    if (!object) return;
    --sRegisteredCount;
    std::shared_ptr<void> released = std::move(object);
}

std::string pointerText(const void* p) {
    return p ? fmt::format("{}", p) : std::string("(null)");
}

void checkArguments(const KQUUIDRef& uid, const void* object) {
    if (!uid) throw KQUException(NSInvalidArgumentException, KQUnilUIDIsInvalidExceptionString);
    if (!object) throw KQUException(NSInvalidArgumentException, KQUnilObjectIsInvalidExceptionString);
}

}  // namespace

// --- KQUUID ---------------------------------------------------------------------------------

KQUUID::KQUUID(Key, std::string string, KQUUIDNamespace* uidNamespace)
    : mNamespace(uidNamespace), mString(std::move(string)) {
    // The namespace's address is mixed in once, here: it never changes afterwards, so the
    // identifier keeps its place in hashed collections when the namespace is cleared.
    mHash = std::hash<std::string_view>{}(mString) ^ KQUContainerObjectPointerHash {}(uidNamespace);
}

std::string KQUUID::description() const {
    return fmt::format("{{KQUUID {}, string '{}' in namespace {}}}", static_cast<const void*>(this), mString,
                       pointerText(mNamespace));
}

// --- KQUUIDNamespace ------------------------------------------------------------------------

KQUUIDNamespace::KQUUIDNamespace() = default;

KQUUIDNamespace::~KQUUIDNamespace() {
    // Copy first: removing an identifier from management edits the map.
    std::vector<KQUUIDRef> registered;
    registered.reserve(mMapObjectsToIDs.size());
    for (const auto& [object, uid] : mMapObjectsToIDs) registered.push_back(uid);
    for (const KQUUIDRef& uid : registered) {
        KQUUIDManager::removeUIDFromManagement(uid);
        uid->setNamespace(nullptr);
    }
    KQUUIDManager::unmapNamespace(*this);
}

void KQUUIDNamespace::reserve(size_t count) {
    mUsedStrings.reserve(count);
    mInterned.reserve(count);
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

std::string KQUUIDNamespace::normalizeNameString(std::string_view string) const {
    return std::string(string);
}

KQUUIDRef KQUUIDNamespace::generateUniqueIDFromBase(std::string_view base) {
    int parsed = INT_MAX;
    std::string split = parseNumberOutOfBasename(base, &parsed);
    uint32_t n = 0;
    auto stored = mBaseToNumber.find(split);
    if (stored != mBaseToNumber.end()) n = stored->second;
    if (parsed != INT_MAX && static_cast<uint32_t>(parsed) > n) n = static_cast<uint32_t>(parsed);
    std::string candidate = generateUIDStringFromBase(split, n);
    while (isUsed(candidate)) candidate = generateUIDStringFromBase(split, ++n);
    if (stored != mBaseToNumber.end())
        stored->second = n + 1;
    else
        mBaseToNumber.emplace(std::move(split), n + 1);
    return KQUUIDManager::uidInNamespace(*this, candidate);
}

void KQUUIDNamespace::registerUID(const KQUUID& uid) {
    // The interning table already counts the string itself as used.
    std::string normalized = normalizeNameString(uid.string());
    if (normalized != uid.string()) mUsedStrings.insert(std::move(normalized));
}

bool KQUUIDNamespace::isUsed(const std::string& candidate) const {
    std::string normalized = normalizeNameString(candidate);
    return mInterned.contains(normalized) || mUsedStrings.contains(normalized);
}

void KQUUIDNamespace::noteObjectRegisteredWithUID(const void* object, const KQUUIDRef& uid) {
    if (uid->uidNamespace() != this)
        throw KQUException(NSInternalInconsistencyException, "Noted a UID registered in another namespace.");
    mMapObjectsToIDs[object] = uid;
}

void KQUUIDNamespace::unnoteObjectRegisteredWithUID(const void* object, const KQUUIDRef& uid) {
    if (uid->uidNamespace() != this)
        throw KQUException(NSInternalInconsistencyException,
                           "Unnoted a UID registered in another namespace.");
    mMapObjectsToIDs.erase(object);
}

void KQUUIDNamespace::voidUID(const KQUUIDRef& uid) {
    if (uid->uidNamespace() != this)
        throw KQUException(NSInternalInconsistencyException, "asked to void UID not in own namespace.");
    if (uid->mObject) mMapObjectsToIDs.erase(uid->mObject.get());
}

KQUUIDRef KQUUIDNamespace::uidForObject(const void* object) const {
    auto found = mMapObjectsToIDs.find(object);
    return found == mMapObjectsToIDs.end() ? nullptr : found->second;
}

std::shared_ptr<void> KQUUIDNamespace::objectForUID(const KQUUIDRef& uid) const {
    if (uid && uid->uidNamespace() != this)
        throw KQUException(
            NSInternalInconsistencyException,
            fmt::format("KQUUIDNamespace {} asked for an object for uid {}, which was in namespace {}",
                        static_cast<const void*>(this), static_cast<const void*>(uid.get()),
                        pointerText(uid->uidNamespace())));
    return KQUUIDManager::objectForUID(uid);
}

// --- KQUUIDManager --------------------------------------------------------------------------

KQUUIDRef KQUUIDManager::uidInNamespace(KQUUIDNamespace& uidNamespace, std::string_view string) {
    auto found = uidNamespace.mInterned.find(string);
    if (found != uidNamespace.mInterned.end()) return found->second;
    auto uid = std::make_shared<KQUUID>(KQUUID::Key(), std::string(string), &uidNamespace);
    uidNamespace.registerUID(*uid);
    uidNamespace.mInterned.emplace(uid->string(), uid);
    return uid;
}

KQUUIDRef KQUUIDManager::createUIDForObject(const std::shared_ptr<void>& object,
                                            KQUUIDNamespace& uidNamespace, std::string_view baseString) {
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
    if (uid->mObject) throw KQUException(KQUUIDReusedException, "another object has the specified UID");
    uidNamespace->noteObjectRegisteredWithUID(object.get(), uid);
    uid->mObject = object;
    ++sRegisteredCount;
}

void KQUUIDManager::unregisterUID(const KQUUIDRef& uid, const void* object) {
    checkArguments(uid, object);
    KQUUIDNamespace* uidNamespace = uid->uidNamespace();
    if (!uidNamespace || uidNamespace->uidForObject(object) != uid)
        throw KQUException(KQUUIDObjectNotRegisteredException,
                           "that object is not registered with the specified UID");
    uidNamespace->unnoteObjectRegisteredWithUID(object, uid);
    uid->setNamespace(nullptr);
    releaseObject(uid->mObject);
}

KQUUIDRef KQUUIDManager::uidForObject(const void* object, const KQUUIDNamespace& uidNamespace) {
    return uidNamespace.uidForObject(object);
}

std::shared_ptr<void> KQUUIDManager::objectForUID(const KQUUID* uid) {
    return uid ? uid->mObject : nullptr;
}

std::shared_ptr<void> KQUUIDManager::objectForUID(const KQUUIDRef& uid) {
    return objectForUID(uid.get());
}

void KQUUIDManager::removeUIDFromManagement(const KQUUIDRef& uid) {
    if (!uid) return;
    if (KQUUIDNamespace* uidNamespace = uid->uidNamespace()) uidNamespace->voidUID(uid);
    releaseObject(uid->mObject);
}

void KQUUIDManager::unmapNamespace(KQUUIDNamespace& uidNamespace) {
    // Callers may still hold identifiers of this namespace: none may keep pointing at it.
    for (auto& [string, uid] : uidNamespace.mInterned) uid->setNamespace(nullptr);
    uidNamespace.mInterned.clear();
}

size_t KQUUIDManager::registeredCount() {
    return sRegisteredCount;
}

}  // namespace kqu
