// The notification centre: one object posts a named notification, every observer that
// asked for that name (or for all names) and for that object (or for any object) hears it.
//
// Delivery is synchronous, on the posting thread, in the order the observers registered.
// The centre delivers over a copy of the matching observers taken when the post starts,
// so an observer may add or remove observers (itself included) while it is being called:
// an observer removed during a delivery is not called afterwards, one added during a
// delivery first hears the next post. Observers are closures; the observer identity given
// at registration only serves removeObserver(observer). Objects are compared by identity
// (their address), never dereferenced, so a notification may name an object that the
// observer does not know the type of.
//
// The centre is thread-safe: observers may be added, removed and notified from any thread.
// The callback runs without the centre's lock held. defaultCenter() lives until the
// process ends; tests may make their own centres.
//
// turnOffNotifications() silences every post on every centre and thread until
// turnOnNotifications() (a switch, not a count: two "off" are undone by one "on"), for bulk
// work such as loading a document, during which observers must stay quiet. A post made
// while the switch is off is dropped, not delayed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUValue.h"

namespace kqu {

struct KQUNotification {
    std::string name;
    // The posting object's identity (an address), or nullptr.
    const void* object = nullptr;
    KQUValueDictionary userInfo;
};

// Names a registration, for removeObserver(token). 0 is never handed out.
using KQUObserverToken = uint64_t;

class KQUNotificationCenter {
public:
    using Callback = std::function<void(const KQUNotification&)>;

    static KQUNotificationCenter& defaultCenter();

    static void turnOffNotifications();
    static void turnOnNotifications();
    static bool notificationsAreOff();

    KQUNotificationCenter() = default;
    KQUNotificationCenter(const KQUNotificationCenter&) = delete;
    KQUNotificationCenter& operator=(const KQUNotificationCenter&) = delete;

    // Registers callback for the notifications called name (empty: every name) posted by
    // object (nullptr: by any object). observer is an identity for removeObserver(observer)
    // and may be nullptr.
    KQUObserverToken addObserver(const void* observer, std::string name, const void* object,
                                 Callback callback);
    void removeObserver(KQUObserverToken token);
    // Removes every registration of observer.
    void removeObserver(const void* observer);
    // Removes the registrations of observer for name (empty: for any name) and object
    // (nullptr: for any object).
    void removeObserver(const void* observer, std::string_view name, const void* object);

    void postNotification(const KQUNotification& notification);
    // Builds the notification only when some observer wants it.
    void postNotificationName(std::string_view name, const void* object, KQUValueDictionary userInfo = {});

    size_t observerCount() const;

private:
    struct Registration {
        KQUObserverToken token;
        const void* observer;
        std::string name;
        const void* object;
        Callback callback;
        std::atomic<bool> removed{false};
    };

    std::vector<std::shared_ptr<Registration>> matching(std::string_view name, const void* object) const;
    void deliver(const std::vector<std::shared_ptr<Registration>>& registrations,
                 const KQUNotification& notification);

    mutable std::mutex mLock;
    std::vector<std::shared_ptr<Registration>> mRegistrations;
    KQUObserverToken mNextToken = 1;
};

// Removes its registration when it goes away; the usual way for an object to observe
// for exactly as long as it lives.
class KQUScopedObserver {
public:
    KQUScopedObserver() = default;
    KQUScopedObserver(KQUNotificationCenter& center, std::string name, const void* object,
                      KQUNotificationCenter::Callback callback);
    ~KQUScopedObserver() { reset(); }
    KQUScopedObserver(KQUScopedObserver&& other) noexcept;
    KQUScopedObserver& operator=(KQUScopedObserver&& other) noexcept;
    KQUScopedObserver(const KQUScopedObserver&) = delete;
    KQUScopedObserver& operator=(const KQUScopedObserver&) = delete;

    void reset();

private:
    KQUNotificationCenter* mCenter = nullptr;
    KQUObserverToken mToken = 0;
};

}  // namespace kqu
