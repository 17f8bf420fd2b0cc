#include <stdexcept>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"
#include "undo/KQUUndoTestSupport.h"

namespace kqu {
namespace {

using test::Journal;
using test::NotificationRecorder;
using test::Number;
using test::stacksAreConsistent;
using Names = std::vector<std::string>;

std::string address(const void* p) {
    return fmt::format("0x{:x}", reinterpret_cast<uintptr_t>(p));
}

class KQUUndoManagerTest : public test::UndoTest {
protected:
    // "<method>: KQUUndoManager <address> is in invalid state, <problem>\n"
    std::string invalidState(std::string_view method, std::string_view problem) {
        return fmt::format("{}: KQUUndoManager {} is in invalid state, {}\n", method, address(&manager),
                           problem);
    }

    KQUUndoManager manager;
    std::shared_ptr<Number> number = std::make_shared<Number>(manager);
};

TEST_F(KQUUndoManagerTest, NotificationsOfAnEventItsUndoAndItsRedoComeInOrder) {
    NotificationRecorder recorder(manager);
    number->set(5);
    EXPECT_EQ(recorder.take(), Names{"DidOpenUndoGroup"});
    KQUEndOfEvent();
    EXPECT_EQ(recorder.take(), (Names{"Checkpoint", "WillCloseUndoGroup"}));
    manager.undo();
    EXPECT_EQ(recorder.take(),
              (Names{"Checkpoint", "Checkpoint", "WillUndoChange", "Checkpoint", "DidUndoChange"}));
    manager.redo();
    EXPECT_EQ(recorder.take(),
              (Names{"Checkpoint", "WillRedoChange", "Checkpoint", "Checkpoint", "DidRedoChange"}));
    manager.redo();  // nothing to redo: only the checkpoint of the question
    EXPECT_EQ(recorder.take(), Names{"Checkpoint"});

    // The first explicit group of an event opens inside the automatic one.
    manager.beginUndoGrouping();
    EXPECT_EQ(recorder.take(), (Names{"DidOpenUndoGroup", "Checkpoint", "DidOpenUndoGroup"}));
    manager.endUndoGrouping();
    KQUEndOfEvent();
    EXPECT_TRUE(stacksAreConsistent(manager));
}

TEST_F(KQUUndoManagerTest, EachEventIsOneGroupClosedAtTheEndOfTheEvent) {
    number->set(1);
    number->set(2);
    EXPECT_TRUE(manager.canUndo());  // the open automatic group counts
    KQUEndOfEvent();
    EXPECT_EQ(manager.groupingLevel(), 0);
    number->set(3);
    KQUEndOfEvent();
    manager.setLevelsOfUndo(1);  // keeps the newest group
    EXPECT_EQ(manager.undoStack().count(), 1u);
    manager.undo();
    EXPECT_EQ(number->value(), 2);
    EXPECT_FALSE(manager.canUndo());
    number->set(7);  // a new action empties the redo stack
    EXPECT_FALSE(manager.canRedo());

    // Undo in the same event closes the event's group first.
    manager.setLevelsOfUndo(0);
    number->set(5);
    manager.undo();  // no end of event in between
    EXPECT_EQ(number->value(), 2);
    EXPECT_EQ(manager.groupingLevel(), 0);
    KQUEndOfEvent();  // nothing left to close
    EXPECT_FALSE(manager.canUndo());
    EXPECT_TRUE(stacksAreConsistent(manager));
}

TEST_F(KQUUndoManagerTest, NestingMisuseRaisesWithTheManagersTexts) {
    manager.beginUndoGrouping();
    manager.beginUndoGrouping();
    manager.endUndoGrouping();
    std::string tooMany = invalidState("undo", "undo was called with too many nested undo groups");
    tooMany.pop_back();  // this one has no line break
    EXPECT_KQU_THROW(manager.undo(), NSInternalInconsistencyException, tooMany);
    manager.endUndoGrouping();
    KQUEndOfEvent();
    EXPECT_KQU_THROW(manager.endUndoGrouping(), NSInternalInconsistencyException,
                     invalidState("endUndoGrouping", "endUndoGrouping called with no matching begin"));
    EXPECT_KQU_THROW(manager.enableUndoRegistration(), NSInternalInconsistencyException,
                     invalidState("enableUndoRegistration",
                                  "enableUndoRegistration may only be invoked with "
                                  "matching call to disableUndoRegistration"));
    manager.setGroupsByEvent(false);
    const char* noGroup = "must begin a group before registering undo";
    EXPECT_KQU_THROW(number->set(1), NSInternalInconsistencyException,
                     invalidState("registerUndoObject:", noGroup));
    EXPECT_KQU_THROW(manager.setActionName("Bold"), NSInternalInconsistencyException,
                     invalidState("setActionName:", noGroup));
    EXPECT_TRUE(stacksAreConsistent(manager));
}

// The automatic group closes even while registration is disabled.
TEST_F(KQUUndoManagerTest, DisabledRegistrationDropsRecordsGroupsAndNames) {
    number->set(1);
    manager.disableUndoRegistration();
    KQUEndOfEvent();
    EXPECT_EQ(manager.groupingLevel(), 0);
    manager.disableUndoRegistration();
    manager.beginUndoGrouping();
    number->set(2);
    manager.setActionName("Ignored");
    manager.endUndoGrouping();
    EXPECT_EQ(manager.groupingLevel(), 0);
    manager.enableUndoRegistration();
    EXPECT_FALSE(manager.isUndoRegistrationEnabled());
    manager.enableUndoRegistration();
    EXPECT_EQ(manager.undoStack().count(), 1u);
    EXPECT_EQ(manager.undoActionName(), "");
    manager.undo();
    EXPECT_EQ(number->value(), 0);  // back before the recorded change; the other had no record
    EXPECT_FALSE(manager.canUndo());
    number->set(2);
    KQUEndOfEvent();
    EXPECT_EQ(manager.undoStack().count(), 1u);
    EXPECT_TRUE(stacksAreConsistent(manager));
}

TEST_F(KQUUndoManagerTest, TheRunLoopClosesGroupsInItsModesWhenAskedTo) {
    KQUUndoManager::setEndsTopLevelGroupingsAfterRunLoopIterations(true);
    const auto& runLoop = KQURunLoop::currentRunLoop();
    const size_t before = runLoop->pendingPerformCount();
    manager.setRunLoopModes({"Tracking"});
    number->set(1);
    EXPECT_EQ(runLoop->pendingPerformCount(), before + 1);
    KQUEndOfEvent();  // not the end-of-event call's business now
    EXPECT_EQ(manager.groupingLevel(), 1);
    runLoop->runOneIteration();
    EXPECT_EQ(manager.groupingLevel(), 1);
    runLoop->runOneIteration("Tracking");
    EXPECT_EQ(manager.groupingLevel(), 0);
    EXPECT_EQ(manager.undoStack().count(), 1u);

    // undo() in the same event closes the group itself and withdraws the request.
    number->set(2);
    EXPECT_EQ(runLoop->pendingPerformCount(), before + 1);
    manager.undo();
    EXPECT_EQ(runLoop->pendingPerformCount(), before);
    EXPECT_EQ(number->value(), 1);
}

TEST_F(KQUUndoManagerTest, ActionNamesTravelWithTheirGroupsAndMakeTheMenuTitles) {
    EXPECT_EQ(manager.redoMenuItemTitle(), "Redo");
    manager.beginUndoGrouping();
    number->set(1);
    manager.setActionName("Typing");  // inside an explicit group: names the event's group
    manager.endUndoGrouping();
    KQUEndOfEvent();
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo Typing");
    manager.undo();
    EXPECT_EQ(manager.redoMenuItemTitle(), "Redo Typing");
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo");
    EXPECT_EQ(manager.undoMenuTitleForUndoActionName("{} %@"), "Undo {} %@");
}

TEST_F(KQUUndoManagerTest, APendingActionNameNamesTheEventsGroupAndComesBackOnUndoAndRedo) {
    number->set(1);
    KQUUndoManager::setPendingActionName("Nudge");
    KQUEndOfEvent();
    EXPECT_EQ(KQUUndoManager::pendingActionName(), std::nullopt);
    manager.undo();
    EXPECT_EQ(manager.redoActionName(), "Nudge");
    EXPECT_EQ(KQUUndoManager::pendingActionName(), std::nullopt);
    manager.redo();
    manager.undo();
    manager.redo();
    EXPECT_EQ(manager.undoActionName(), "Nudge");  // still there after a second round
    EXPECT_TRUE(stacksAreConsistent(manager));

    // Outside undo and redo, the replay hook is misuse.
    EXPECT_ASSERTION_FAILURE(manager.setPendingActionNameForUndo("x"));
    KQUUndoManager::setPendingActionName(std::nullopt);
}

TEST_F(KQUUndoManagerTest, CollapsingMergesAnEventsGroupIntoThePreviousEventsGroup) {
    number->set(1);
    KQUEndOfEvent();
    number->set(2);
    manager.collapseCurrentGroupIntoPriorGroup();
    EXPECT_EQ(manager.coalescingUndoGroupCount(), 1u);
    KQUEndOfEvent();
    EXPECT_EQ(manager.coalescingUndoGroupCount(), 0u);  // reset when a group closes
    EXPECT_EQ(manager.undoStack().count(), 1u);

    // Disabled for this event only.
    number->set(3);
    manager.disableCoalescingForCurrentEvent();
    EXPECT_TRUE(manager.didDisableCoalescingForCurrentEvent());
    manager.collapseCurrentGroupIntoPriorGroup();
    KQUEndOfEvent();
    EXPECT_FALSE(manager.didDisableCoalescingForCurrentEvent());
    EXPECT_EQ(manager.undoStack().count(), 2u);
    manager.undo();
    manager.undo();
    EXPECT_EQ(number->value(), 0);
    EXPECT_TRUE(stacksAreConsistent(manager));

    manager.setGroupsByEvent(false);
    EXPECT_ASSERTION_FAILURE(manager.collapseCurrentGroupIntoPriorGroup());
}

TEST_F(KQUUndoManagerTest, TypingMayCoalesceOnlyIntoTheSameTextAndTarget) {
    auto text = std::make_shared<std::string>("abc");
    auto other = std::make_shared<std::string>("xyz");
    manager.registerUndoWithTarget(number, "replaceCharacters:", text,
                                   [](Number&, const std::shared_ptr<std::string>&) {});
    KQUEndOfEvent();
    EXPECT_TRUE(manager.shouldCoalesceTypingForText(text.get(), number.get()));
    EXPECT_FALSE(manager.shouldCoalesceTypingForText(other.get(), number.get()));
    EXPECT_FALSE(manager.shouldCoalesceTypingForText(text.get(), other.get()));
    manager.registerUndoInvocation(number, "redraw", [](Number&) {});
    KQUEndOfEvent();
    EXPECT_FALSE(manager.shouldCoalesceTypingForText(text.get(), number.get()));
}

TEST_F(KQUUndoManagerTest, RemovingATargetsActionsRemovesTheGroupsLeftEmpty) {
    auto other = std::make_shared<Number>(manager);
    other->set(9);
    manager.setActionName("Other");
    KQUEndOfEvent();
    number->set(1);
    manager.setActionName("Doomed");
    KQUEndOfEvent();
    manager.removeAllActionsWithTarget(number.get());
    EXPECT_EQ(manager.undoStack().count(), 1u);
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo Other");
    EXPECT_TRUE(stacksAreConsistent(manager));
}

TEST_F(KQUUndoManagerTest, AnActionThatThrowsLeavesTheManagerInItsNormalState) {
    auto journal = std::make_shared<Journal>();
    bool fail = true;
    number->set(1);
    manager.registerUndoInvocation(journal, "mayFail", [&](Journal& j) {
        if (fail) throw std::runtime_error("undo failed");
        j.entries.push_back("undone");
    });
    number->set(2);
    KQUEndOfEvent();

    EXPECT_THROW(manager.undo(), std::runtime_error);
    EXPECT_FALSE(manager.isUndoing());
    EXPECT_EQ(KQUUndoManager::currentUndoManager(), nullptr);
    EXPECT_EQ(manager.groupingLevel(), 0);
    EXPECT_TRUE(stacksAreConsistent(manager));
    EXPECT_EQ(number->value(), 1);   // the newer change was undone before the failure
    EXPECT_TRUE(manager.canRedo());  // and can be redone
    fail = false;
    manager.undo();  // the rest of the group is still there
    EXPECT_EQ(number->value(), 0);
    EXPECT_TRUE(journal->entries.empty());  // the failed action went with its failure

    // The same on redo; a later registration is a forward action on the undo stack.
    auto bad = std::make_shared<Journal>();
    manager.registerUndoInvocation(bad, "reregister", [&](Journal&) {
        manager.registerUndoInvocation(bad, "explode",
                                       [](Journal&) { throw std::runtime_error("redo failed"); });
    });
    KQUEndOfEvent();
    manager.undo();
    EXPECT_THROW(manager.redo(), std::runtime_error);
    EXPECT_FALSE(manager.isRedoing());
    EXPECT_EQ(manager.groupingLevel(), 0);
    number->set(4);
    EXPECT_EQ(manager.groupingLevel(), 1);  // an automatic group on the undo stack
    EXPECT_TRUE(manager.redoStack().isEmpty());
    EXPECT_TRUE(stacksAreConsistent(manager));
}

TEST_F(KQUUndoManagerTest, RegistrationDisabledByAFailedActionIsRestored) {
    auto journal = std::make_shared<Journal>();
    manager.registerUndoInvocation(journal, "disableAndFail", [&](Journal&) {
        manager.disableUndoRegistration();
        throw std::runtime_error("failed");
    });
    KQUEndOfEvent();
    EXPECT_THROW(manager.undo(), std::runtime_error);
    EXPECT_TRUE(manager.isUndoRegistrationEnabled());
}

TEST_F(KQUUndoManagerTest, RemovingAllActionsFromAReplayedActionEndsTheReplayCleanly) {
    auto journal = std::make_shared<Journal>();
    manager.registerUndoInvocation(journal, "reset", [&](Journal&) { manager.removeAllActions(); });
    KQUEndOfEvent();
    EXPECT_NO_THROW(manager.undo());
    EXPECT_FALSE(manager.isUndoing());
    EXPECT_FALSE(manager.canUndo());
    EXPECT_FALSE(manager.canRedo());
    EXPECT_TRUE(stacksAreConsistent(manager));
}

TEST_F(KQUUndoManagerTest, ADestroyedManagerIsNoLongerClosedAtTheEndOfTheEvent) {
    auto doomed = std::make_unique<KQUUndoManager>();
    auto value = std::make_shared<Number>(*doomed);
    value->set(1);  // waits for the end of the event
    EXPECT_NO_THROW(doomed.reset());
    KQUEndOfEvent();  // must not reach the destroyed manager (the sanitizer build would see it)

    KQUUndoManager::setEndsTopLevelGroupingsAfterRunLoopIterations(true);
    const auto& runLoop = KQURunLoop::currentRunLoop();
    const size_t before = runLoop->pendingPerformCount();
    doomed = std::make_unique<KQUUndoManager>();
    auto other = std::make_shared<Number>(*doomed);
    other->set(1);
    EXPECT_EQ(runLoop->pendingPerformCount(), before + 1);
    doomed.reset();
    EXPECT_EQ(runLoop->pendingPerformCount(), before);
}

TEST_F(KQUUndoManagerTest, TearingDownAManagerInAnyStateDoesNotThrow) {
    auto doomed = std::make_unique<KQUUndoManager>();
    auto value = std::make_shared<Number>(*doomed);
    value->set(1);
    doomed->beginUndoGrouping();
    doomed->beginUndoSession(0, nullptr, nullptr);
    value->set(2);
    doomed->beginUndoGrouping();
    EXPECT_EQ(doomed->groupingLevel(), 3);
    EXPECT_NO_THROW(doomed.reset());
}

TEST_F(KQUUndoManagerTest, PreparedInvocationTargets) {
    EXPECT_KQU_THROW(
        manager.forwardInvocation<Number>("setNumber:", [](Number&) {}), NSInternalInconsistencyException,
        fmt::format("forwardInvocation:: KQUUndoManager {} received forwarded invocation while invocation "
                    "target is nil. Call prepareWithInvocationTarget: before invoking setNumber:",
                    address(&manager)));
    manager.prepareWithInvocationTarget(number).forwardInvocation<Number>("reset",
                                                                          [](Number& n) { n.set(42); });
    // The prepared target is used once.
    EXPECT_KQU_THROW(manager.forwardInvocation<Number>("reset", [](Number&) {}),
                     NSInternalInconsistencyException, "");
    auto journal = std::make_shared<Journal>();
    manager.prepareWithInvocationTarget(journal);
    EXPECT_KQU_THROW(manager.forwardInvocation<Number>("reset", [](Number&) {}), NSInvalidArgumentException,
                     "");
    KQUEndOfEvent();
    manager.undo();
    EXPECT_EQ(number->value(), 42);
}

// A target called with converted boxed arguments.
class BoxedTarget : public KQUUndoBoxedTarget {
public:
    std::optional<std::vector<std::string>> methodSignatureForSelector(
        std::string_view selector) const override {
        if (selector == "setAll:")
            return std::vector<std::string>{"@", "c", "C", "s", "i", "Q", "f", "d", "{_NSRange=QQ}"};
        if (selector == "setRange:") return std::vector<std::string>{"{_NSRange=QQ}"};
        if (selector == "setPointer:") return std::vector<std::string>{"^v"};
        return std::nullopt;
    }
    void performSelectorWithArguments(std::string_view selector,
                                      const std::vector<KQUUndoCallArgument>& arguments) override {
        calls.emplace_back(selector);
        received = arguments;
    }
    std::vector<std::string> calls;
    std::vector<KQUUndoCallArgument> received;
};

TEST_F(KQUUndoManagerTest, BoxedArgumentsAreConvertedByTheMethodsTypes) {
    auto target = std::make_shared<BoxedTarget>();
    std::vector<KQUUndoBoxedArgument> arguments{KQUValue("label"), KQUValue(65),    KQUValue("YES"),
                                                KQUValue(-2),      KQUValue(70000), KQUValue("123"),
                                                KQUValue(0.5),     KQUValue(2.25),  KQURange{3, 4}};
    manager.registerUndoWithTarget(target, "setAll:", arguments);
    KQUEndOfEvent();
    manager.undo();
    ASSERT_EQ(target->calls, Names{"setAll:"});
    const auto& r = target->received;
    ASSERT_EQ(r.size(), 9u);
    EXPECT_EQ(*std::get<KQUValue>(std::get<KQUUndoBoxedArgument>(r[0])).string(), "label");
    EXPECT_EQ(std::get<char>(r[1]), 'A');
    EXPECT_EQ(std::get<unsigned char>(r[2]), 1);  // a string's truth
    EXPECT_EQ(std::get<short>(r[3]), -2);
    EXPECT_EQ(std::get<int>(r[4]), 70000);
    EXPECT_EQ(std::get<unsigned long long>(r[5]), 123u);
    EXPECT_EQ(std::get<float>(r[6]), 0.5f);
    EXPECT_EQ(std::get<double>(r[7]), 2.25);
    EXPECT_EQ(std::get<KQURange>(r[8]), (KQURange{3, 4}));

    std::vector<KQUUndoBoxedArgument> one{KQUValue(1)};
    EXPECT_KQU_THROW(manager.registerUndoWithTarget(target, "noSuchMethod:", one),
                     NSInternalInconsistencyException,
                     "Could not get a signature for selector noSuchMethod:");
    std::vector<KQUUndoBoxedArgument> two{KQUValue(1), KQUValue("two")};
    EXPECT_KQU_THROW(manager.registerUndoWithTarget(target, "setRange:", two), NSInvalidArgumentException,
                     "Mismatch between selector setRange: and argument array (\n    1,\n    two\n) passed to "
                     "-registerUndoWithTarget:selector:arguments:");
    EXPECT_KQU_THROW(
        manager.registerUndoWithTarget(target, "setRange:", one), NSInvalidArgumentException,
        "Encountered an unknown struct argument in -registerUndoWithTarget:selector:arguments:; only "
        "NSSize, NSRect, NSPoint or NSRange structs are permitted.");
    EXPECT_KQU_THROW(manager.registerUndoWithTarget(target, "setPointer:", one), NSInvalidArgumentException,
                     "Encountered unhandled type ^v in -registerUndoWithTarget:selector:arguments:");
    EXPECT_FALSE(manager.canUndo());  // nothing was registered by the failed calls
}

}  // namespace
}  // namespace kqu
