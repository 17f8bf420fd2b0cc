// A small host document for the search tests: top-level texts, a table whose cells are
// texts, a text with an attachment holding nested texts, and a group of drawables whose
// shapes hold texts. Each text is its own storage and controller; the document counts
// begin and end calls.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kqutility/search/KQUSearchPosition.h"

namespace kqu::test {

class MockDocument;
class MockAttachment;

// What texts and tables share: the document, and begin and end counted there.
class MockServices : public KQUTextController {
public:
    explicit MockServices(MockDocument& document) : mDocument(document) {}
    KQUSearchServices* parentAttachmentSearchServices() override { return this; }
    KQUTextServices* textServices() override;
    bool beginSearching(KQUSearchPosition&, bool) override;
    void endSearching(KQUSearchPosition&, bool commit) override;
    MockDocument& mDocument;
};

class MockText : public MockServices, public KQUTextStorage {
public:
    MockText(MockDocument& document, std::string name, uint64_t length)
        : MockServices(document), name(std::move(name)), textLength(length) {}

    // KQUSearchServices
    std::optional<KQUTextStorage*> storage() override {
        return answersStorage ? std::optional<KQUTextStorage*>(this) : std::nullopt;
    }
    KQUAttachment* parentAttachment() override;
    bool incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned) override;
    bool canHaveSiblings() override { return false; }
    uint64_t stringLengthForSearchPosition(KQUSearchPosition&) override { return textLength; }

    // KQUTextStorage
    KQUTextController* controller() override { return this; }
    uint64_t length() override { return textLength; }
    std::u16string string() override { return std::u16string(textLength, u'x'); }
    uint64_t charIndexFromAttachment(KQUAttachment* attachment) override;

    std::string name;
    uint64_t textLength;
    bool answersStorage = true;
    bool throwOnIncrement = false;
    MockAttachment* parent = nullptr;
    std::vector<MockAttachment*> attachments;  // in character order
};

class MockAttachment : public KQUAttachment {
public:
    KQUDrawable* drawable() override { return group; }
    KQUTextStorage* parentStorage() override { return outer; }
    std::vector<KQUTextStorage*> textStorages() override { return {nested.begin(), nested.end()}; }

    MockText* outer = nullptr;
    uint64_t index = 0;                    // where the attachment character sits
    uint64_t reportedIndex = KQUNotFound;  // what charIndexFromAttachment answers, when set
    std::vector<MockText*> nested;
    KQUDrawable* group = nullptr;
};

// A table: one services object, cells told apart by coordinates, moved in row order.
class MockTable : public MockServices {
public:
    MockTable(MockDocument& document, uint16_t rows, uint16_t columns)
        : MockServices(document), rows(rows), columns(columns) {}
    KQUAttachment* parentAttachment() override { return nullptr; }
    bool incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned) override;
    bool canHaveSiblings() override { return true; }
    uint64_t stringLengthForSearchPosition(KQUSearchPosition& position) override {
        return 10 + position.coordinates().row * columns + position.coordinates().column;  // 10, 11, ...
    }

    uint16_t rows, columns;
};

class MockShape : public KQUDrawable {
public:
    KQUSearchPositionRef searchPosition() override {
        return text ? KQUSearchPosition::searchPositionWithSearchServices(text, {0, 0})
                    : std::make_shared<KQUSearchPosition>();
    }
    bool hasSearchPosition() override { return true; }
    MockText* text = nullptr;  // nullptr: a position without services (no root)
};

class MockGroup : public KQUDrawable {
public:
    std::optional<std::vector<KQUDrawable*>> flattenedDrawables() override {
        if (++flattenCount == throwOnCall) throw std::runtime_error("host failure");
        return members;
    }
    std::vector<KQUDrawable*> members;
    int flattenCount = 0, throwOnCall = -1;
};

class MockDocument : public KQUTextServices {
public:
    MockText& addText(const std::string& name, uint64_t length) {
        texts.push_back(std::make_unique<MockText>(*this, name, length));
        return *texts.back();
    }
    // An attachment at index of outer holding nested texts of the given lengths.
    MockAttachment& attach(MockText& outer, uint64_t index, const std::vector<uint64_t>& lengths) {
        attachmentStore.push_back(std::make_unique<MockAttachment>());
        MockAttachment& a = *attachmentStore.back();
        a.outer = &outer;
        a.index = index;
        outer.attachments.push_back(&a);
        for (size_t i = 0; i < lengths.size(); ++i) {
            MockText& t = addText(outer.name + "." + std::to_string(i + 1), lengths[i]);
            t.parent = &a;
            a.nested.push_back(&t);
        }
        return a;
    }
    std::vector<KQUSearchPositionRef> allSearchPositionsForFlags(int) override {
        std::vector<KQUSearchPositionRef> result;
        for (auto* s : topLevel)
            result.push_back(KQUSearchPosition::searchPositionWithSearchServices(s, {0, 0}));
        return result;
    }
    KQUSearchPositionRef activeSearchPositionWithFlags(int) override { return active; }
    bool begin() { return ++beginCount, beginAnswer; }
    void end(bool commit) { ++endCount, commits.push_back(commit); }

    // The name of the services, for sequences.
    std::string nameOf(const KQUSearchServices* services) const {
        for (const auto& t : texts)
            if (t.get() == services) return t->name;
        return services == table.get() ? "table" : "?";
    }

    std::vector<std::unique_ptr<MockText>> texts;
    std::vector<std::unique_ptr<MockAttachment>> attachmentStore;
    std::unique_ptr<MockTable> table;
    std::vector<KQUSearchServices*> topLevel;
    KQUSearchPositionRef active;
    int beginCount = 0, endCount = 0;
    std::vector<bool> commits;
    bool beginAnswer = true;
};

inline KQUAttachment* MockText::parentAttachment() {
    return parent;
}
inline KQUTextServices* MockServices::textServices() {
    return &mDocument;
}
inline bool MockServices::beginSearching(KQUSearchPosition&, bool) {
    return mDocument.begin();
}
inline void MockServices::endSearching(KQUSearchPosition&, bool commit) {
    mDocument.end(commit);
}
inline uint64_t MockText::charIndexFromAttachment(KQUAttachment* attachment) {
    for (auto* a : attachments)
        if (a == attachment) return a->reportedIndex != KQUNotFound ? a->reportedIndex : a->index;
    return KQUNotFound;
}

// 0/1: this text's start or end; 5/7: the first nested text of the first attachment at or
// after the location; 6/8: the last nested text of the last attachment before it.
inline bool MockText::incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned) {
    if (throwOnIncrement) throw std::runtime_error("host failure");
    auto moveTo = [&](MockText* text, bool atEnd) {
        position.setSearchServices(text, std::nullopt, KQUNotFound);
        position.takeServicesStorage();
        position.setRange({atEnd ? text->textLength : 0, 0});
        return true;
    };
    switch (criteria) {
        case 0:
            return moveTo(this, false);
        case 1:
            return moveTo(this, true);
        case 5:
        case 7:
            for (auto* a : attachments)
                if (a->index >= position.location() && !a->nested.empty())
                    return moveTo(a->nested.front(), false);
            return false;
        case 6:
        case 8:
            for (auto it = attachments.rbegin(); it != attachments.rend(); ++it)
                if ((*it)->index < position.location() && !(*it)->nested.empty())
                    return moveTo((*it)->nested.back(), true);
            return false;
        default:
            return false;
    }
}

// 0/1: first or last cell; 2, 9, 11, 13: next cell in row order; 3, 10, 12, 14: previous.
inline bool MockTable::incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned) {
    int cell = position.coordinates().row * columns + position.coordinates().column;
    const int last = rows * columns - 1;
    if (criteria == 0)
        cell = 0;
    else if (criteria == 1)
        cell = last;
    else if (criteria == 2 || criteria == 9 || criteria == 11 || criteria == 13)
        ++cell;
    else if (criteria == 3 || criteria == 10 || criteria == 12 || criteria == 14)
        --cell;
    else
        return false;
    if (cell < 0 || cell > last) return false;
    position.setCoordinates({static_cast<uint16_t>(cell % columns), static_cast<uint16_t>(cell / columns)});
    position.setRange({0, 0});
    return true;
}

}  // namespace kqu::test
