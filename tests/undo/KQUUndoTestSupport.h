// Targets, recorders and checks shared by the undo tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUNotificationCenter.h"
#include "kqutility/undo/KQUUndoManager.h"
#include "kqutility/undo/KQUUndoStack.h"

namespace kqu::test {

// Every replayed call writes its name here, so a test sees what ran and in what order.
struct Journal {
    std::vector<std::string> entries;
    std::vector<std::string> take() { return std::exchange(entries, {}); }
};

// A record that writes name into journal when replayed.
inline std::unique_ptr<KQUUndoLightInvocation> journalRecord(const std::shared_ptr<Journal>& journal,
                                                             std::string name) {
    auto argument = std::make_shared<std::string>(std::move(name));
    return std::make_unique<KQUUndoLightInvocation>(
        KQUUndoTargetRef(journal), KQUSelectorName("write:"), KQUUndoArgumentRef(argument),
        [](void* target, const std::shared_ptr<void>& a) {
            static_cast<Journal*>(target)->entries.push_back(*std::static_pointer_cast<std::string>(a));
        });
}

// Builds onto stack from a script of words: "[" opens a group, "]" closes it, any other word pushes a record
// writing that word into journal, or into other when the word starts with '~'.
inline void build(KQUUndoStack& stack, std::string_view script, const std::shared_ptr<Journal>& journal,
                  const std::shared_ptr<Journal>& other = nullptr) {
    for (size_t at = 0, end; at < script.size(); at = end + 1) {
        end = std::min(script.find(' ', at), script.size());
        std::string word(script.substr(at, end - at));
        if (word == "[")
            stack.markBegin();
        else if (word == "]")
            stack.markEnd();
        else
            stack.push(journalRecord(word[0] == '~' ? other : journal, word));
    }
}

// The stack oldest first in the words of build(): "[" (with the group's name, if any) and "]" for marks, the
// word of a journal record, "." for any other record; "-" in front of a deactivated one.
inline std::string shape(const KQUUndoStack& stack) {
    std::string out;
    for (KQUUndoObject* r = stack.topUndoObject(); r; r = r->next()) {
        std::string word = r->isDeactivated() ? "-" : "";
        if (auto* begin = dynamic_cast<const KQUUndoBeginMark*>(r))
            word += "[" + begin->groupIdentifier().value_or("");
        else if (dynamic_cast<const KQUUndoEndMark*>(r))
            word += "]";
        else if (r->selector() && std::string_view(r->selector()) == "write:")
            word += *static_cast<const std::string*>(r->argument());
        else
            word += ".";
        out.insert(0, out.empty() ? word : word + " ");
    }
    return out;
}

// An integer whose every change registers its inverse, so undo and redo work as in an
// application: set(5) registers set(old).
class Number : public std::enable_shared_from_this<Number> {
public:
    explicit Number(KQUUndoManagerProtocol& undo) : mUndo(undo) {}
    void set(int value) {
        mUndo.registerUndoWithTarget(shared_from_this(), "setNumber:", std::make_shared<int>(mValue),
                                     &Number::setNumber);
        mValue = value;
    }
    void setNumber(const std::shared_ptr<int>& value) { set(*value); }
    int value() const { return mValue; }

private:
    KQUUndoManagerProtocol& mUndo;
    int mValue = 0;
};

// Records the short names of the notifications a manager posts ("Checkpoint",
// "DidOpenUndoGroup", "WillUndoChange", "StopCoalescing", ...).
class NotificationRecorder {
public:
    explicit NotificationRecorder(const KQUUndoManagerProtocol& manager)
        : mObserver(KQUNotificationCenter::defaultCenter(), "", manager.notificationObject(),
                    [this](const KQUNotification& n) { mNames.push_back(shortName(n.name)); }) {}
    std::vector<std::string> take() { return std::exchange(mNames, {}); }

private:
    static std::string shortName(std::string name) {
        for (const char* prefix : {"NSUndoManager", "KQUUndoManager"})
            if (name.rfind(prefix, 0) == 0) name.erase(0, std::string(prefix).size());
        if (name.size() > 12 && name.ends_with("Notification")) name.erase(name.size() - 12);
        return name;
    }

    std::vector<std::string> mNames;
    KQUScopedObserver mObserver;
};

inline std::string address(const void* p) {
    return fmt::format("0x{:x}", reinterpret_cast<uintptr_t>(p));
}

// "<method>: <class> <address> is in invalid state, <problem>\n"
inline std::string invalidState(std::string_view method, std::string_view className, const void* object,
                                std::string_view problem) {
    return fmt::format("{}: {} {} is in invalid state, {}\n", method, className, address(object), problem);
}

inline ::testing::AssertionResult stackIsConsistent(const KQUUndoStack& stack) {
    std::string problem;
    if (stack.checkInvariant(&problem)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << problem << "\n" << stack.description();
}

inline ::testing::AssertionResult stacksAreConsistent(const KQUUndoManager& manager) {
    if (auto r = stackIsConsistent(manager.undoStack()); !r) return r << "(undo stack)";
    if (auto r = stackIsConsistent(manager.redoStack()); !r) return r << "(redo stack)";
    return ::testing::AssertionSuccess();
}

// Resets the process-wide undo state around each test.
class UndoTest : public ::testing::Test {
protected:
    void SetUp() override {
        KQUUndoManager::setPendingActionName(std::nullopt);
        KQUUndoManager::setEndsTopLevelGroupingsAfterRunLoopIterations(false);
    }
    void TearDown() override {
        SetUp();
        KQUEndOfEvent();
    }
};

}  // namespace kqu::test
