// Change tracking: the shared base of tracked edits.
//
// When change tracking is on, each edit of a document is recorded as a change that
// belongs to an editing session of one author and is shown as a bubble beside the page.
// KQYSession is the session record (immutable, shared); KQYChange is the abstract change
// that applications subclass for their kinds of edit (text inserted, deleted, formatted,
// ...), with the hierarchy queries, comparisons, tool-tip text and the order of bubbles on
// a page. Authors (KQYChangeAuthorProtocol) and the session manager are the
// applications'; a colour set is an opaque object of theirs, compared by identity.
//
// Dates are seconds since 1970-01-01 UTC from the wall clock (KQUWallClockSeconds, which
// tests replace). Texts shown to the user (author names, change descriptions, change text,
// the tool tip) are UTF-16; descriptions for logs are UTF-8. "Short date-time string" is
// ICU's short date and short time style in the current locale (KQULocale::current()) and
// ICU's default time zone.
//
// Ownership: a change holds its session; parents and children are the subclass's to keep
// (the hierarchy accessors answer plain pointers that live as long as the document keeps
// the changes). Threads: main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kqutility/foundation/KQUAttributedString.h"
#include "kqutility/foundation/KQUGeometry.h"

namespace kqu {

inline constexpr const char* KQYTrackingStartNotification = "KQYTrStart";
inline constexpr const char* KQYTrackingStopNotification = "KQYTrStop";
inline constexpr const char* KQYTrackingSuspendNotification = "KQYTrSuspend";
inline constexpr const char* KQYTrackingResumeNotification = "KQYTrResume";
inline constexpr const char* KQYTrackingChangeAddedNotification = "KQYTrChgAdded";
inline constexpr const char* KQYTrackingChangeRemovedNotification = "KQYTrChgRemoved";
inline constexpr const char* KQYTrackingChangeUpdatedNotification = "KQYTrChgUpdated";
inline constexpr const char* KQYTrackingChangesMovedNotification = "KQYTrChgsMoved";
inline constexpr const char* KQYTrackingNotificationUserInfoChange = "KQYTrUIChange";
inline constexpr const char* KQYTrackingNotificationUserInfoChangeArray = "KQYTrUIChangeArray";
inline constexpr const char* KQYTrackingNotificationUserInfoStorage = "KQYTrUIStorage";

// A colour set of the application's (opaque; compared by identity).
using KQYColorSetRef = std::shared_ptr<const void>;

class KQYChangeAuthorProtocol {
public:
    virtual ~KQYChangeAuthorProtocol() = default;
    virtual std::u16string name() const = 0;
    virtual KQYColorSetRef colorSet() const = 0;
    virtual bool isEqualToAuthor(const KQYChangeAuthorProtocol& other) const = 0;
    // For descriptions; the name in UTF-8 unless overridden.
    virtual std::string description() const;
};

using KQYAuthorRef = std::shared_ptr<const KQYChangeAuthorProtocol>;

// The short date-time string of a date (seconds since 1970), in UTF-16.
std::u16string KQYShortDateTimeString(double date);

class KQYSession {
public:
    // date: nullopt for now.
    KQYSession(uint32_t sessionValue, KQYAuthorRef author, std::optional<double> date = std::nullopt);
    // The value is the previous session's + 1, or 0 without one.
    static std::shared_ptr<const KQYSession> makeAfter(const KQYSession* previous, KQYAuthorRef author,
                                                       std::optional<double> date = std::nullopt);

    uint32_t sessionValue() const { return mSessionValue; }
    const KQYAuthorRef& author() const { return mAuthor; }
    double date() const { return mDate; }

    // 0 for the same object; +1 for nullptr; otherwise by session value.
    int compare(const KQYSession* other) const;
    bool isEqualToSession(const KQYSession* other) const {
        return other && other->mSessionValue == mSessionValue;
    }
    bool operator==(const KQYSession& other) const { return isEqualToSession(&other); }
    // Matches equality: the session value.
    size_t hash() const { return std::hash<uint32_t>{}(mSessionValue); }
    // Same value, equal authors, and start dates at most 1 second apart (the difference
    // taken in single precision; a difference that is not a number never matches).
    bool matchesSession(const KQYSession& other) const;
    // "<KQYSession 0x...> #<value> <short date-time> (<author>)"
    std::string description() const;

private:
    uint32_t mSessionValue;
    KQYAuthorRef mAuthor;
    double mDate;
};

using KQYSessionRef = std::shared_ptr<const KQYSession>;

class KQYSessionManager {
public:
    virtual ~KQYSessionManager() = default;
    virtual KQYSessionRef changeTrackingSessionMatchingSession(const KQYSessionRef& session) = 0;
};

// The page index of a change that is on no page.
inline constexpr uint32_t KQYNoPageIndex = 0x7FFFFFFF;

class KQYChange {
public:
    // date: nullopt for now. The base class keeps no annotation.
    KQYChange(KQYSessionRef session, std::optional<double> date = std::nullopt,
              std::shared_ptr<const void> annotation = nullptr);
    virtual ~KQYChange() = default;
    KQYChange(const KQYChange&) = delete;
    KQYChange& operator=(const KQYChange&) = delete;

    const KQYSessionRef& session() const { return mSession; }
    void setSession(KQYSessionRef session);
    KQYAuthorRef author() const;
    KQYColorSetRef colorSet() const;
    double date() const { return mDate; }
    // The date becomes now.
    void touch();
    // Takes the manager's session matching its own; true when there was one.
    bool syncChangeTrackingSessionsWithSessionManager(KQYSessionManager& manager);

    // -1, 0, +1
    int dateCompare(const KQYChange& other) const;
    int reverseDateCompare(const KQYChange& other) const { return other.dateCompare(*this); }
    bool isNewerThanChange(const KQYChange& other) const { return mDate > other.mDate; }
    bool hasPriorityOverChange(const KQYChange& other) const { return isNewerThanChange(other); }
    // The order of bubbles on a page: -1 when this bubble comes first. The order is not
    // transitive (the group-box step compares different boxes for different pairs): sort
    // with std::stable_sort (or a merge), never std::sort, which may run past the range
    // on an inconsistent order.
    int bubbleOrderCompare(const KQYChange& other) const;

    // Texts. The base reports an assertion failure and answers "".
    virtual std::u16string changeDescriptionWithKind(int kind) const;
    std::u16string changeDescription() const { return changeDescriptionWithKind(4); }
    virtual std::u16string changeTextWithCharLimit(unsigned limit) const;
    virtual std::optional<std::u16string> originalChangeTextWithCharLimit(unsigned limit) const;
    // "<author>   <short date-time>\n<change description>: <change text, 200 at most>", in
    // the system font, the description and the colon after it in the bold system font.
    KQUAttributedString toolTipText() const;
    virtual std::string levelDescription() const;
    virtual std::string supplementalDescription() const { return {}; }
    std::string description() const;

    // What subclasses override.
    virtual std::shared_ptr<const void> annotation() const { return nullptr; }
    virtual int changeKind() const { return -1; }
    virtual bool canBeHidden() const { return false; }
    virtual bool hidden() const { return false; }
    virtual void setHidden(bool) {}
    virtual bool isFormatChange() const { return false; }
    virtual uint32_t pageIndex() const { return KQYNoPageIndex; }
    virtual bool clearPageIndex() { return false; }
    virtual KQURect containerBounds() const { return {}; }
    virtual KQURect boundsOnPage() const { return {}; }
    virtual KQURect hierarchicalBoundsOnPage() const { return {}; }
    virtual KQYChange* parentChange() const { return nullptr; }
    virtual void setParentChange(KQYChange*) {}
    // Empty: no children.
    virtual std::vector<KQYChange*> childChanges() const { return {}; }
    virtual bool isUmbrellaChange() const { return false; }
    virtual bool childrenDisclosed() const { return false; }
    virtual void setChildrenDisclosed(bool) {}

    bool visibleUI() const { return !mHiddenUI; }
    // True when the state changed.
    bool setVisibleUI(bool visible);

    // Hierarchy.
    int hierarchyLevel() const;
    bool isAncestorOfChange(const KQYChange& other) const;
    // The topmost ancestor; a change without parent is its own root when it has children,
    // otherwise there is none.
    const KQYChange* rootChange() const;
    bool isLeafChange() const;
    const KQYChange* firstChildLeaf() const;
    bool hasOnlyOneLeaf() const;
    // Whether any leaf under this change (or this change itself) has an author other than
    // author. With mixedColorSets, every leaf is visited and the colour sets met are added
    // (author's first, when the collection is empty); a missing colour set is skipped.
    bool hasMixedAuthors(const KQYChangeAuthorProtocol* author,
                         std::vector<KQYColorSetRef>* mixedColorSets) const;

private:
    KQYSessionRef mSession;
    double mDate;
    bool mHiddenUI = false;
};

}  // namespace kqu

template <>
struct std::hash<kqu::KQYSession> {
    size_t operator()(const kqu::KQYSession& session) const noexcept { return session.hash(); }
};
