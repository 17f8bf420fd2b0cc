#include "kqutility/identity/KQUNotificationCollector.h"

#include <algorithm>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

KQUNotificationCollector::KQUNotificationCollector() : KQUNotificationCollector(std::string(), nullptr) {}

KQUNotificationCollector::KQUNotificationCollector(std::string identifier,
                                                   std::shared_ptr<KQUNotificationCollectorHost> host)
    : KQUNotificationCollector(std::move(identifier), std::move(host),
                               &KQUNotificationCenter::defaultCenter()) {}

KQUNotificationCollector::KQUNotificationCollector(std::string identifier,
                                                   std::shared_ptr<KQUNotificationCollectorHost> host,
                                                   KQUNotificationCenter* center)
    : mIdentifier(std::move(identifier)), mHost(std::move(host)), mNotificationCenter(center) {
    if (!center)
        throw KQUException(NSInternalInconsistencyException,
                           "nil passed as notification center in initWithIdentifier");
}

KQUNotificationCollector::~KQUNotificationCollector() {
    mNotificationCenter->removeObserver(static_cast<const void*>(this));
    // The records would find their weak handle expired anyway; removing them keeps the
    // host's undo stack free of steps that can no longer do anything.
    if (mHost)
        if (KQUUndoManagerProtocol* undoManager = mHost->undoManager())
            undoManager->removeAllActionsWithTarget(static_cast<const void*>(this));
}

void KQUNotificationCollector::setHost(std::shared_ptr<KQUNotificationCollectorHost> host) {
    mHost = std::move(host);
}

void KQUNotificationCollector::addNotification(NotificationRef notification) {
    if (notification) mNotifications.push_back(std::move(notification));
}

void KQUNotificationCollector::removeNotification(const KQUNotification* notification) {
    std::erase_if(mNotifications, [&](const NotificationRef& n) { return n.get() == notification; });
}

void KQUNotificationCollector::collectNotificationsWithName(std::string name, const void* object) {
    mNotificationCenter->addObserver(this, std::move(name), object,
                                     [this](const KQUNotification& n) { notificationCallback(n); });
}

void KQUNotificationCollector::ignoreNotificationsWithName(std::string_view name, const void* object) {
    mNotificationCenter->removeObserver(static_cast<const void*>(this), name, object);
}

void KQUNotificationCollector::registerOpposite(KQUSelectorName selector,
                                                void (KQUNotificationCollector::*step)()) {
    if (!mHost) return;
    KQUUndoManagerProtocol* undoManager = mHost->undoManager();
    if (!undoManager) return;
    undoManager->registerUndoInvocation(mAnchor.handle(this), selector,
                                        [step](KQUNotificationCollector& collector) { (collector.*step)(); });
}

void KQUNotificationCollector::beginCollecting() {
    if (mIsCollecting)
        throw KQUException(NSInternalInconsistencyException,
                           "Can't begin collecting while already collecting.");
    mNotificationCenter->postNotificationName(KQUCollectionsBeginningNotification, this);
    mIsCollecting = true;
    mNotifications.clear();
    registerOpposite("endCollecting", &KQUNotificationCollector::endCollecting);
}

void KQUNotificationCollector::endCollecting() {
    if (!mIsCollecting)
        throw KQUException(NSInternalInconsistencyException, "Can't end collecting while not collecting.");
    mIsCollecting = false;
    mNotificationCenter->postNotificationName(KQUCollectionsEndingNotification, this);
    registerOpposite("beginCollecting", &KQUNotificationCollector::beginCollecting);
}

bool KQUNotificationCollector::shouldCollectNotification(const KQUNotification* notification) {
    if (!mIsCollecting || !notification || !mHost) return false;
    return mHost->collectorShouldCollectNotification(*this, *notification);
}

void KQUNotificationCollector::collectNotification(const KQUNotification& notification) {
    mNotifications.push_back(std::make_shared<const KQUNotification>(notification));
}

void KQUNotificationCollector::notificationCallback(const KQUNotification& notification) {
    if (shouldCollectNotification(&notification)) collectNotification(notification);
}

}  // namespace kqu
