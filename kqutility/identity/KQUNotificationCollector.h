// Gathers, between a begin and an end that are themselves undoable, the notifications a
// host finds interesting, so that the host can act on them as one batch.
//
// The collector observes names on a KQUNotificationCenter (collectNotificationsWithName);
// while it is collecting, each notification the host accepts
// (collectorShouldCollectNotification) is appended to notifications(). beginCollecting()
// and endCollecting() post KQUCollectionsBeginningNotification and
// KQUCollectionsEndingNotification (object: the collector) and each records the opposite
// step on the host's undo manager, so undoing a period replays end and begin in reverse.
//
// Ownership: the collector retains its host (break a cycle with setHost(nullptr)); the
// centre must outlive the collector. The undo records hold the collector weakly (a handle
// that expires with it), and the destructor removes them from the host's undo manager, so
// an undo after the collector has gone does nothing. The collector must not be moved or
// copied (its address is its identity with the centre and the undo manager).
//
// Threads: one thread, like the undo manager it works with.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUNotificationCenter.h"
#include "kqutility/undo/KQUUndoManagerProtocol.h"

namespace kqu {

inline constexpr const char* KQUCollectionsBeginningNotification = "KQUCollectionsBeginning";
inline constexpr const char* KQUCollectionsEndingNotification = "KQUCollectionsEnding";

class KQUNotificationCollector;

class KQUNotificationCollectorHost {
public:
    virtual ~KQUNotificationCollectorHost() = default;
    // The undo manager that records begin and end (nullptr: they are not recorded).
    virtual KQUUndoManagerProtocol* undoManager() = 0;
    virtual bool collectorShouldCollectNotification(KQUNotificationCollector& collector,
                                                    const KQUNotification& notification) = 0;
};

class KQUNotificationCollector {
public:
    using NotificationRef = std::shared_ptr<const KQUNotification>;

    // The empty identifier, no host, the default centre.
    KQUNotificationCollector();
    KQUNotificationCollector(std::string identifier, std::shared_ptr<KQUNotificationCollectorHost> host);
    // Throws NSInternalInconsistencyException "nil passed as notification center in
    // initWithIdentifier" when center is null.
    KQUNotificationCollector(std::string identifier, std::shared_ptr<KQUNotificationCollectorHost> host,
                             KQUNotificationCenter* center);
    ~KQUNotificationCollector();
    KQUNotificationCollector(const KQUNotificationCollector&) = delete;
    KQUNotificationCollector& operator=(const KQUNotificationCollector&) = delete;

    const std::string& identifier() const { return mIdentifier; }
    void setIdentifier(std::string identifier) { mIdentifier = std::move(identifier); }
    const std::shared_ptr<KQUNotificationCollectorHost>& host() const { return mHost; }
    void setHost(std::shared_ptr<KQUNotificationCollectorHost> host);
    const std::vector<NotificationRef>& notifications() const { return mNotifications; }
    KQUNotificationCenter& notificationCenter() const { return *mNotificationCenter; }
    bool isCollecting() const { return mIsCollecting; }

    void addNotification(NotificationRef notification);
    // Removes the notification (by identity).
    void removeNotification(const KQUNotification* notification);
    void removeAllNotifications() { mNotifications.clear(); }

    // Observes name (empty: all names) from object (nullptr: any object).
    void collectNotificationsWithName(std::string name, const void* object);
    void ignoreNotificationsWithName(std::string_view name, const void* object);

    // Throw NSInternalInconsistencyException "Can't begin collecting while already
    // collecting." / "Can't end collecting while not collecting." on misuse, changing nothing.
    void beginCollecting();
    void endCollecting();
    bool shouldCollectNotification(const KQUNotification* notification);
    void collectNotification(const KQUNotification& notification);
    void notificationCallback(const KQUNotification& notification);

private:
    void registerOpposite(KQUSelectorName selector, void (KQUNotificationCollector::*step)());

    std::string mIdentifier;
    std::vector<NotificationRef> mNotifications;
    bool mIsCollecting = false;
    std::shared_ptr<KQUNotificationCollectorHost> mHost;
    KQUNotificationCenter* mNotificationCenter;
    // Weak handles for the undo records: they expire when the collector goes.
    KQUUndoTargetAnchor mAnchor;
};

}  // namespace kqu
