#include "kqutility/foundation/KQUNotificationCenter.h"

#include <algorithm>
#include <utility>

namespace kqu {

namespace {
// Read at the top of every post on any thread, hence atomic; relaxed is enough because the
// switch orders nothing else.
std::atomic<bool> sNotificationsOff{false};
}  // namespace

void KQUNotificationCenter::turnOffNotifications() { sNotificationsOff.store(true, std::memory_order_relaxed); }

void KQUNotificationCenter::turnOnNotifications() { sNotificationsOff.store(false, std::memory_order_relaxed); }

bool KQUNotificationCenter::notificationsAreOff() { return sNotificationsOff.load(std::memory_order_relaxed); }

KQUNotificationCenter& KQUNotificationCenter::defaultCenter() {
    static KQUNotificationCenter sDefault;
    return sDefault;
}

KQUObserverToken KQUNotificationCenter::addObserver(const void* observer, std::string name,
                                                    const void* object, Callback callback) {
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->name = std::move(name);
    registration->object = object;
    registration->callback = std::move(callback);
    std::lock_guard guard(mLock);
    registration->token = mNextToken++;
    mRegistrations.push_back(registration);
    return registration->token;
}

void KQUNotificationCenter::removeObserver(KQUObserverToken token) {
    std::lock_guard guard(mLock);
    std::erase_if(mRegistrations, [&](const auto& r) {
        if (r->token != token) return false;
        r->removed = true;
        return true;
    });
}

void KQUNotificationCenter::removeObserver(const void* observer) {
    std::lock_guard guard(mLock);
    std::erase_if(mRegistrations, [&](const auto& r) {
        if (r->observer != observer) return false;
        r->removed = true;
        return true;
    });
}

void KQUNotificationCenter::removeObserver(const void* observer, std::string_view name, const void* object) {
    std::lock_guard guard(mLock);
    std::erase_if(mRegistrations, [&](const auto& r) {
        if (r->observer != observer) return false;
        if (!name.empty() && r->name != name) return false;
        if (object && r->object != object) return false;
        r->removed = true;
        return true;
    });
}

std::vector<std::shared_ptr<KQUNotificationCenter::Registration>> KQUNotificationCenter::matching(
    std::string_view name, const void* object) const {
    std::vector<std::shared_ptr<Registration>> result;
    std::lock_guard guard(mLock);
    for (const auto& r : mRegistrations) {
        if (!r->name.empty() && r->name != name) continue;
        if (r->object && r->object != object) continue;
        result.push_back(r);
    }
    return result;
}

void KQUNotificationCenter::deliver(const std::vector<std::shared_ptr<Registration>>& registrations,
                                    const KQUNotification& notification) {
    for (const auto& r : registrations) {
        if (r->removed) continue;
        r->callback(notification);
    }
}

void KQUNotificationCenter::postNotification(const KQUNotification& notification) {
    if (notificationsAreOff()) return;
    auto registrations = matching(notification.name, notification.object);
    if (!registrations.empty()) deliver(registrations, notification);
}

void KQUNotificationCenter::postNotificationName(std::string_view name, const void* object,
                                                 KQUValueDictionary userInfo) {
    if (notificationsAreOff()) return;
    auto registrations = matching(name, object);
    if (registrations.empty()) return;
    deliver(registrations, KQUNotification{std::string(name), object, std::move(userInfo)});
}

size_t KQUNotificationCenter::observerCount() const {
    std::lock_guard guard(mLock);
    return mRegistrations.size();
}

KQUScopedObserver::KQUScopedObserver(KQUNotificationCenter& center, std::string name, const void* object,
                                     KQUNotificationCenter::Callback callback)
    : mCenter(&center), mToken(center.addObserver(this, std::move(name), object, std::move(callback))) {}

KQUScopedObserver::KQUScopedObserver(KQUScopedObserver&& other) noexcept
    : mCenter(std::exchange(other.mCenter, nullptr)), mToken(std::exchange(other.mToken, 0)) {}

KQUScopedObserver& KQUScopedObserver::operator=(KQUScopedObserver&& other) noexcept {
    if (this != &other) {
        reset();
        mCenter = std::exchange(other.mCenter, nullptr);
        mToken = std::exchange(other.mToken, 0);
    }
    return *this;
}

void KQUScopedObserver::reset() {
    if (mCenter) mCenter->removeObserver(mToken);
    mCenter = nullptr;
    mToken = 0;
}

}  // namespace kqu
