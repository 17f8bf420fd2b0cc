#include "kqutility/undo/KQUUndoManagerProtocol.h"

#include <mutex>
#include <set>

#include "kqutility/foundation/KQUNotificationCenter.h"
#include "kqutility/foundation/KQUStringTable.h"

namespace kqu {

namespace {
constexpr const char* kUndoStrings = "UndoStrings";
}

KQUSelectorName KQUSelectorName::intern(std::string_view name) {
    static std::mutex sLock;
    static std::set<std::string, std::less<>> sNames;
    std::lock_guard guard(sLock);
    auto it = sNames.find(name);
    if (it == sNames.end()) it = sNames.emplace(name).first;
    return KQUSelectorName(it->c_str(), Interned{});
}

std::string KQUUndoManagerProtocol::undoMenuItemTitle() {
    if (canUndo()) {
        std::string name = undoActionName();
        if (!name.empty()) return undoMenuTitleForUndoActionName(name);
    }
    return KQULocalizedString("&Undo", kUndoStrings);
}

std::string KQUUndoManagerProtocol::redoMenuItemTitle() {
    if (canRedo()) {
        std::string name = redoActionName();
        if (!name.empty()) return redoMenuTitleForUndoActionName(name);
    }
    return KQULocalizedString("&Redo", kUndoStrings);
}

std::string KQUUndoManagerProtocol::undoMenuTitleForUndoActionName(std::string_view name) const {
    return KQUFormatLocalizedString(KQULocalizedString("&Undo %@", kUndoStrings), {name});
}

std::string KQUUndoManagerProtocol::redoMenuTitleForUndoActionName(std::string_view name) const {
    return KQUFormatLocalizedString(KQULocalizedString("&Redo %@", kUndoStrings), {name});
}

void KQUUndoManagerProtocol::postStopCoalescingNotification() {
    KQUNotificationCenter::defaultCenter().postNotificationName(KQUUndoManagerStopCoalescingNotification,
                                                                notificationObject());
}

}  // namespace kqu
