// The host document as the text-search engine sees it: abstract interfaces that the
// application's own objects implement so that KQUSearchPosition and KQUTextEnumerator can
// walk every text of a document (body texts, shapes, table cells, texts nested in
// attachments) without knowing what those objects are.
//
// KQUSearchServices is the owner of one text (or of a table's cells); KQUTextServices is
// the document-level entry point. Attachments, drawables, storages, controllers,
// selections and text frames are the small interfaces below. A method whose answer is a
// std::optional is optional for the host: the default answers std::nullopt ("not
// implemented") and the library then applies its documented default. Methods with a
// plain default answer what a text without that feature answers.
//
// Ownership: the library never owns host objects it reaches through raw pointers; each
// such object must outlive every search position and enumerator that refers to it
// (normally: the document outlives a find, replace or spelling pass). Objects handed over
// as std::shared_ptr (selections, text frames, cookies, retained storages) are shared.
// Text is UTF-16 (std::u16string), character ranges are KQURange.
//
// Threads: everything here is used from one thread at a time (the host's main thread).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQURange.h"

namespace kqu {

class KQUSearchPosition;
using KQUSearchPositionRef = std::shared_ptr<KQUSearchPosition>;
class KQUAttachment;
class KQUDrawable;
class KQUTextStorage;
class KQUTextController;
class KQUTextSelection;
class KQUWPFrame;
class KQUTextServices;

// A table cell: column first, then row; (0, 0) outside tables.
struct KQUSearchCoordinates {
    uint16_t column = 0, row = 0;
    bool operator==(const KQUSearchCoordinates&) const = default;
};

// What the host's statistics pass reports: six counters and a flag, returned as received.
struct KQUSearchStatistics {
    uint64_t counters[6] = {};
    bool complete = false;
    bool operator==(const KQUSearchStatistics&) const = default;
};

// The owner of one text (or of a table's cells).
class KQUSearchServices {
public:
    virtual ~KQUSearchServices() = default;

    // The text storage; optional (nullopt: the services have no storage method).
    virtual std::optional<KQUTextStorage*> storage() { return std::nullopt; }
    // The attachment that holds this text, or nullptr.
    virtual KQUAttachment* parentAttachment() = 0;
    // The services of that attachment; for a text not nested in another (and for the
    // nested texts themselves) normally the services themselves. Its address is the root
    // of every position key.
    virtual KQUSearchServices* parentAttachmentSearchServices() = 0;
    virtual KQUTextServices* textServices() = 0;
    virtual unsigned textKind() { return 0; }

    virtual bool beginSearching(KQUSearchPosition& position, bool withReplace) = 0;
    virtual void endSearching(KQUSearchPosition& position, bool commitChanges) = 0;
    // Moves position within these services by criteria (see KQUSearchPosition.h); the
    // services update its range, coordinates, services and storage. false: no such text.
    virtual bool incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned flags) = 0;

    virtual bool canHaveSiblings() = 0;
    virtual std::optional<bool> isSearchable() { return std::nullopt; }
    virtual std::optional<bool> canSpellCheck(KQUSearchPosition&) { return std::nullopt; }
    virtual bool isFormulaForSearchPosition(KQUSearchPosition&) { return false; }

    virtual uint64_t stringLengthForSearchPosition(KQUSearchPosition&) { return 0; }
    virtual std::optional<std::u16string> stringForSearchPosition(KQUSearchPosition&) { return std::nullopt; }
    // Opaque host objects, not owned (nullptr: none).
    virtual void* wpTextCellFromSearchPosition(KQUSearchPosition&) { return nullptr; }
    virtual KQUTextStorage* editingStorageFromSearchPosition(KQUSearchPosition&) { return nullptr; }

    virtual void activateSearchPosition(KQUSearchPosition&) {}
    virtual KQUSearchPositionRef activeSearchPosition() { return nullptr; }
    virtual KQURange currentTextRange() { return {}; }
    virtual void setBackgroundSearchString(std::u16string_view, bool /*grewOnly*/, bool /*matchCase*/,
                                           bool /*wholeWords*/) {}
    virtual int statisticsTrackingDepth() { return 0; }
    virtual void setStatisticsTrackingDepth(int) {}
    // engine: the host's search engine object, opaque here.
    virtual KQUSearchStatistics getStatisticsForSearchPosition(KQUSearchPosition&, void* /*engine*/,
                                                               int /*milliseconds*/, int /*depth*/) {
        return {};
    }

    // Asked of parent-attachment services by KQUSearchPosition::resolveSearchServices:
    // the text frame being edited inline (optional) and the cell it edits.
    virtual std::optional<std::shared_ptr<KQUWPFrame>> editWPFrame() { return std::nullopt; }
    virtual KQUSearchCoordinates editCellID() { return {}; }
};

// A text's controller: the services of that text, which may also know its selection.
class KQUTextController : public KQUSearchServices {
public:
    virtual std::optional<std::shared_ptr<KQUTextSelection>> selection() { return std::nullopt; }
    virtual std::optional<bool> hasSelection() { return std::nullopt; }
};

class KQUTextSelection {
public:
    virtual ~KQUTextSelection() = default;
    virtual std::optional<bool> containsCharacterAtIndex(uint64_t) { return std::nullopt; }
};

class KQUWPFrame {
public:
    virtual ~KQUWPFrame() = default;
    virtual KQUTextController* controller() = 0;
};

class KQUTextStorage {
public:
    virtual ~KQUTextStorage() = default;
    virtual KQUTextController* controller() = 0;
    virtual uint64_t length() = 0;
    virtual std::u16string string() = 0;
    // The attachment's character index in this text, KQUNotFound when it is not there.
    virtual uint64_t charIndexFromAttachment(KQUAttachment* attachment) = 0;
    virtual std::optional<std::u16string> stringWithoutNullTerminator() { return std::nullopt; }
};

class KQUAttachment {
public:
    virtual ~KQUAttachment() = default;
    virtual KQUDrawable* drawable() = 0;
    // The text the attachment sits in, or nullptr.
    virtual KQUTextStorage* parentStorage() = 0;
    virtual void endEditing() {}
    // The attachment's own texts, in order.
    virtual std::vector<KQUTextStorage*> textStorages() { return {}; }
};

class KQUDrawable {
public:
    virtual ~KQUDrawable() = default;
    // The drawables of a group, flattened; optional (present: the drawable is a group).
    virtual std::optional<std::vector<KQUDrawable*>> flattenedDrawables() { return std::nullopt; }
    virtual KQUSearchPositionRef searchPosition() { return nullptr; }
    virtual bool hasSearchPosition() { return false; }
};

// The document-level entry point.
class KQUTextServices {
public:
    virtual ~KQUTextServices() = default;
    // The host's document object, opaque here and not owned.
    virtual void* document() { return nullptr; }
    // The top-level texts in document order.
    virtual std::vector<KQUSearchPositionRef> allSearchPositionsForFlags(int flags) = 0;
    // The position of the active text (the enumerator passes 2).
    virtual KQUSearchPositionRef activeSearchPositionWithFlags(int) { return nullptr; }
};

}  // namespace kqu
