// Why an object enters or leaves a document.
//
// When an object enters a document, the document model hands it a
// KQUAddedToDocumentContext saying how it arrived (read from a file, imported, pasted,
// dragged, duplicated, inserted from a prototype, ungrouped or unhidden); when it leaves,
// a KQURemovedFromDocumentContext saying why (grouped or hidden). The object asks the
// context the fixed questions below instead of testing its class. A context that can be
// undone names the context of the opposite operation (undoContext), resolved when asked,
// as the links run both ways.
//
// Ownership and threads: every context but the importing one is a shared, immutable
// instance made on first use (thread-safe); importingContextWithImporterID makes a new one
// each time. Contexts are immutable and may be read from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace kqu {

class KQURemovedFromDocumentContext;

class KQUAddedToDocumentContext {
public:
    using Ref = std::shared_ptr<const KQUAddedToDocumentContext>;

    static Ref unarchivingContext();
    static Ref pastingContext();
    static Ref pastingMatchStyleContext();
    static Ref dragCopyContext();
    static Ref dragMoveContext();
    static Ref duplicatingContext();
    static Ref insertingPrototypeContext();
    static Ref ungroupingContext();
    static Ref unhidingContext();
    static Ref importingContextWithImporterID(std::string importerID);

    virtual ~KQUAddedToDocumentContext() = default;

    virtual bool wasUnarchived() const { return false; }
    virtual std::optional<std::string> importerID() const { return std::nullopt; }
    virtual bool wasPasted() const { return false; }
    virtual bool matchStyle() const { return false; }
    virtual bool wasDragOperation() const { return false; }
    virtual bool wasDragMoved() const { return false; }
    virtual bool autoUpdateSmartFields() const { return false; }
    virtual bool uniqueBookmarks() const { return false; }
    virtual bool syncChanges() const { return false; }
    virtual bool wasUngrouped() const { return false; }
    virtual bool wasUnhidden() const { return false; }
    virtual bool invokeDOLC() const { return true; }
    virtual std::shared_ptr<const KQURemovedFromDocumentContext> undoContext() const { return nullptr; }
    virtual std::string description() const = 0;
};

class KQURemovedFromDocumentContext {
public:
    using Ref = std::shared_ptr<const KQURemovedFromDocumentContext>;

    static Ref groupingContext();
    static Ref hidingContext();

    virtual ~KQURemovedFromDocumentContext() = default;

    virtual bool wasGrouped() const { return false; }
    virtual bool wasHidden() const { return false; }
    virtual KQUAddedToDocumentContext::Ref undoContext() const { return nullptr; }
    virtual std::string description() const = 0;
};

// The class tree, for callers that subclass a context.
class KQUAddedToDocumentContext_Unarchiving : public KQUAddedToDocumentContext {
public:
    bool wasUnarchived() const override { return true; }
    std::string description() const override { return "Unarchived"; }
};

class KQUAddedToDocumentContext_Importing : public KQUAddedToDocumentContext_Unarchiving {
public:
    explicit KQUAddedToDocumentContext_Importing(std::string importerID)
        : mImporterID(std::move(importerID)) {}
    std::optional<std::string> importerID() const override { return mImporterID; }
    std::string description() const override { return "Imported"; }

private:
    std::string mImporterID;
};

class KQUAddedToDocumentContext_Pasting : public KQUAddedToDocumentContext {
public:
    bool wasPasted() const override { return true; }
    bool autoUpdateSmartFields() const override { return true; }
    bool uniqueBookmarks() const override { return true; }
    bool syncChanges() const override { return true; }
    std::string description() const override { return "Pasted"; }
};

class KQUAddedToDocumentContext_PastingMatchStyle : public KQUAddedToDocumentContext_Pasting {
public:
    bool matchStyle() const override { return true; }
    std::string description() const override { return "Pasted Match Style"; }
};

class KQUAddedToDocumentContext_DragCopy : public KQUAddedToDocumentContext_Pasting {
public:
    bool wasDragOperation() const override { return true; }
    std::string description() const override { return "Pasted/Drag-Copy"; }
};

class KQUAddedToDocumentContext_DragMove : public KQUAddedToDocumentContext_DragCopy {
public:
    bool wasDragMoved() const override { return true; }
    std::string description() const override { return "Pasted/Drag-Move"; }
};

class KQUAddedToDocumentContext_Duplicating : public KQUAddedToDocumentContext {
public:
    bool wasPasted() const override { return true; }
    bool uniqueBookmarks() const override { return true; }
    bool syncChanges() const override { return true; }
    std::string description() const override { return "Duplicated"; }
};

class KQUAddedToDocumentContext_InsertingPrototype : public KQUAddedToDocumentContext {
public:
    bool autoUpdateSmartFields() const override { return true; }
    bool uniqueBookmarks() const override { return true; }
    bool syncChanges() const override { return true; }
    std::string description() const override { return "Prototype"; }
};

class KQUAddedToDocumentContext_Ungrouping : public KQUAddedToDocumentContext {
public:
    bool wasUngrouped() const override { return true; }
    std::shared_ptr<const KQURemovedFromDocumentContext> undoContext() const override;
    std::string description() const override { return "Ungrouping"; }
};

class KQUAddedToDocumentContext_Unhiding : public KQUAddedToDocumentContext {
public:
    bool wasUnhidden() const override { return true; }
    std::shared_ptr<const KQURemovedFromDocumentContext> undoContext() const override;
    std::string description() const override { return "Unhiding"; }
};

class KQURemovedFromDocumentContext_Grouping : public KQURemovedFromDocumentContext {
public:
    bool wasGrouped() const override { return true; }
    KQUAddedToDocumentContext::Ref undoContext() const override {
        return KQUAddedToDocumentContext::ungroupingContext();
    }
    std::string description() const override { return "Grouping"; }
};

class KQURemovedFromDocumentContext_Hiding : public KQURemovedFromDocumentContext {
public:
    bool wasHidden() const override { return true; }
    KQUAddedToDocumentContext::Ref undoContext() const override {
        return KQUAddedToDocumentContext::unhidingContext();
    }
    // The text as the applications have always shown it.
    std::string description() const override { return "Hidding"; }
};

}  // namespace kqu
