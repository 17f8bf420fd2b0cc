#include "kqutility/identity/KQUDocumentContext.h"

namespace kqu {

namespace {
// The one shared instance of T, made on first use (function-local statics are
// initialised once, thread-safely).
template <typename T>
const std::shared_ptr<const T>& shared() {
    static const std::shared_ptr<const T> sInstance = std::make_shared<const T>();
    return sInstance;
}
}  // namespace

using Added = KQUAddedToDocumentContext;
using Removed = KQURemovedFromDocumentContext;

Added::Ref Added::unarchivingContext() {
    return shared<KQUAddedToDocumentContext_Unarchiving>();
}
Added::Ref Added::pastingContext() {
    return shared<KQUAddedToDocumentContext_Pasting>();
}
Added::Ref Added::pastingMatchStyleContext() {
    return shared<KQUAddedToDocumentContext_PastingMatchStyle>();
}
Added::Ref Added::dragCopyContext() {
    return shared<KQUAddedToDocumentContext_DragCopy>();
}
Added::Ref Added::dragMoveContext() {
    return shared<KQUAddedToDocumentContext_DragMove>();
}
Added::Ref Added::duplicatingContext() {
    return shared<KQUAddedToDocumentContext_Duplicating>();
}
Added::Ref Added::insertingPrototypeContext() {
    return shared<KQUAddedToDocumentContext_InsertingPrototype>();
}
Added::Ref Added::ungroupingContext() {
    return shared<KQUAddedToDocumentContext_Ungrouping>();
}
Added::Ref Added::unhidingContext() {
    return shared<KQUAddedToDocumentContext_Unhiding>();
}

Added::Ref Added::importingContextWithImporterID(std::string importerID) {
    return std::make_shared<const KQUAddedToDocumentContext_Importing>(std::move(importerID));
}

Removed::Ref Removed::groupingContext() {
    return shared<KQURemovedFromDocumentContext_Grouping>();
}
Removed::Ref Removed::hidingContext() {
    return shared<KQURemovedFromDocumentContext_Hiding>();
}

std::shared_ptr<const Removed> KQUAddedToDocumentContext_Ungrouping::undoContext() const {
    return Removed::groupingContext();
}

std::shared_ptr<const Removed> KQUAddedToDocumentContext_Unhiding::undoContext() const {
    return Removed::hidingContext();
}

}  // namespace kqu
