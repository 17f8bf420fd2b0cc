// A small host document for the search tests: texts, a table, attachments with nested texts,
// groups of shapes; each text is its own storage and controller; begin and end are counted.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kqutility/search/KQUSearchPosition.h"

namespace kqu::test {

// What the document tells its texts and tables: the scopes opened and closed.
struct MockHostState : KQUTextServices {
    std::vector<KQUSearchPositionRef> allSearchPositionsForFlags(int) override {
        std::vector<KQUSearchPositionRef> result;
        for (auto* s : topLevel)
            result.push_back(KQUSearchPosition::searchPositionWithSearchServices(s, {0, 0}));
        return result;
    }
    KQUSearchPositionRef activeSearchPositionWithFlags(int) override { return active; }

    std::vector<KQUSearchServices*> topLevel;
    KQUSearchPositionRef active;
    int beginCount = 0, endCount = 0;
    std::vector<bool> commits;
    bool beginAnswer = true;
};

class MockServices : public KQUTextController {
public:
    explicit MockServices(MockHostState& host) : mHost(host) {}
    KQUSearchServices* parentAttachmentSearchServices() override { return this; }
    KQUTextServices* textServices() override { return &mHost; }
    bool beginSearching(KQUSearchPosition&, bool) override { return ++mHost.beginCount, mHost.beginAnswer; }
    void endSearching(KQUSearchPosition&, bool commit) override {
        ++mHost.endCount, mHost.commits.push_back(commit);
    }
    MockHostState& mHost;
};

class MockAttachment;

class MockText : public MockServices, public KQUTextStorage {
public:
    MockText(MockHostState& host, std::string name, uint64_t length)
        : MockServices(host), name(std::move(name)), textLength(length) {}
    std::optional<KQUTextStorage*> storage() override {
        return answersStorage ? std::optional<KQUTextStorage*>(this) : std::nullopt;
    }
    KQUAttachment* parentAttachment() override { return parent; }
    bool incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned) override;
    bool canHaveSiblings() override { return false; }
    uint64_t stringLengthForSearchPosition(KQUSearchPosition&) override { return textLength; }
    KQUTextController* controller() override { return this; }
    uint64_t length() override { return textLength; }
    std::u16string string() override { return std::u16string(textLength, u'x'); }
    uint64_t charIndexFromAttachment(KQUAttachment* attachment) override;

    std::string name;
    uint64_t textLength;
    bool answersStorage = true, throwOnIncrement = false;
    KQUAttachment* parent = nullptr;
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

// A table of cells 10, 11, ... long in row order: 0/1 first or last; 2, 9, 11, 13 next; 3, 10, 12, 14 back.
class MockTable : public MockServices {
public:
    MockTable(MockHostState& host, uint16_t rows, uint16_t columns) : MockServices(host), columns(columns) {
        last = rows * columns - 1;
    }
    KQUAttachment* parentAttachment() override { return nullptr; }
    bool canHaveSiblings() override { return true; }
    uint64_t stringLengthForSearchPosition(KQUSearchPosition& position) override {
        return 10 + position.coordinates().row * columns + position.coordinates().column;
    }
    bool incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned) override {
        int cell = position.coordinates().row * columns + position.coordinates().column;
        const int step = criteria == 2 || criteria == 9 || criteria == 11 || criteria == 13    ? 1
                         : criteria == 3 || criteria == 10 || criteria == 12 || criteria == 14 ? -1
                                                                                               : 0;
        cell = criteria == 0 ? 0 : criteria == 1 ? last : step ? cell + step : -1;
        if (cell < 0 || cell > last) return false;
        position.setCoordinates(
            {static_cast<uint16_t>(cell % columns), static_cast<uint16_t>(cell / columns)});
        position.setRange({0, 0});
        return true;
    }
    int columns, last;
};

class MockDrawable : public KQUDrawable {
public:
    std::optional<std::vector<KQUDrawable*>> flattenedDrawables() override {
        if (members.empty()) return std::nullopt;
        if (++flattenCount == throwOnCall) throw std::runtime_error("host failure");
        return members;
    }
    bool hasSearchPosition() override { return members.empty(); }
    KQUSearchPositionRef searchPosition() override {
        return text ? KQUSearchPosition::searchPositionWithSearchServices(text, {0, 0})
                    : std::make_shared<KQUSearchPosition>();
    }
    MockText* text = nullptr;           // a shape's text; nullptr: a position without services (no root)
    std::vector<KQUDrawable*> members;  // a group's
    int flattenCount = 0, throwOnCall = -1;
};

class MockDocument : public MockHostState {
public:
    MockText& addText(const std::string& name, uint64_t length) {
        return *texts.emplace_back(std::make_unique<MockText>(*this, name, length));
    }
    // An attachment at index of outer holding nested texts of the given lengths.
    MockAttachment& attach(MockText& outer, uint64_t index, const std::vector<uint64_t>& lengths) {
        MockAttachment& a = *attachmentStore.emplace_back(std::make_unique<MockAttachment>());
        a.outer = &outer;
        a.index = index;
        outer.attachments.push_back(&a);
        for (size_t i = 0; i < lengths.size(); ++i) {
            a.nested.push_back(&addText(outer.name + "." + std::to_string(i + 1), lengths[i]));
            a.nested.back()->parent = &a;
        }
        return a;
    }
    // The name of the services, for sequences.
    std::string nameOf(const KQUSearchServices* services) const {
        for (const auto& t : texts)
            if (t.get() == services) return t->name;
        return services == table.get() ? "table" : "?";
    }

    std::vector<std::unique_ptr<MockText>> texts;
    std::vector<std::unique_ptr<MockAttachment>> attachmentStore;
    std::unique_ptr<MockTable> table;
};

inline uint64_t MockText::charIndexFromAttachment(KQUAttachment* attachment) {
    for (auto* a : attachments)
        if (a == attachment) return a->reportedIndex != KQUNotFound ? a->reportedIndex : a->index;
    return KQUNotFound;
}

// 0/1: start or end; 5/7: first nested text of the first attachment from the location; 6/8: last before.
inline bool MockText::incrementSearchPosition(KQUSearchPosition& position, int criteria, unsigned) {
    if (throwOnIncrement) throw std::runtime_error("host failure");
    auto moveTo = [&](MockText* text, bool atEnd) {
        position.setSearchServices(text, std::nullopt, KQUNotFound);
        position.takeServicesStorage();
        position.setRange({atEnd ? text->textLength : 0, 0});
        return true;
    };
    if (criteria == 0 || criteria == 1) return moveTo(this, criteria == 1);
    if (criteria == 5 || criteria == 7)
        for (auto* a : attachments)
            if (a->index >= position.location() && !a->nested.empty())
                return moveTo(a->nested.front(), false);
    if (criteria == 6 || criteria == 8)
        for (auto it = attachments.rbegin(); it != attachments.rend(); ++it)
            if ((*it)->index < position.location() && !(*it)->nested.empty())
                return moveTo((*it)->nested.back(), true);
    return false;
}

}  // namespace kqu::test
