#include <functional>
#include <map>
#include <stdexcept>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"
#include "undo/KQUUndoTestSupport.h"

namespace kqu {
namespace {

using namespace test;
using Names = std::vector<std::string>;

class KQUUndoManagerTest : public test::UndoTest {
protected:
    std::string invalidState(std::string_view method, std::string_view problem) {
        return test::invalidState(method, "KQUUndoManager", &manager, problem);
    }

    // Plays a script of words: a number sets the number, "E" ends the event, "U"/"R" undo and redo, "[" and
    // "]" begin and end a group, "-"/"+" disable and enable registration, "C" collapses into the prior group,
    // "N:<name>", "P:<name>" and "L:<n>" set the action name, the pending action name and the levels of undo.
    void play(std::string_view script) {
        const std::map<char, std::function<void(const std::string&)>> actions{
            {'E', [](auto&) { KQUEndOfEvent(); }},
            {'U', [&](auto&) { manager.undo(); }},
            {'R', [&](auto&) { manager.redo(); }},
            {'[', [&](auto&) { manager.beginUndoGrouping(); }},
            {']', [&](auto&) { manager.endUndoGrouping(); }},
            {'-', [&](auto&) { manager.disableUndoRegistration(); }},
            {'+', [&](auto&) { manager.enableUndoRegistration(); }},
            {'C', [&](auto&) { manager.collapseCurrentGroupIntoPriorGroup(); }},
            {'N', [&](const std::string& name) { manager.setActionName(name); }},
            {'P', [&](const std::string& name) { KQUUndoManager::setPendingActionName(name); }},
            {'L', [&](const std::string& levels) { manager.setLevelsOfUndo(std::stoi(levels)); }}};
        for (size_t at = 0, end; at < script.size(); at = end + 1) {
            end = std::min(script.find(' ', at), script.size());
            std::string word(script.substr(at, end - at));
            if (auto action = actions.find(word[0]); action != actions.end())
                action->second(word.size() > 2 ? word.substr(2) : "");
            else
                number->set(std::stoi(word));
        }
    }
    // "v<number> L<grouping level> U<undo groups> R<redo groups> <undo menu title>|<redo menu title>"
    std::string state() {
        return fmt::format("v{} L{} U{} R{} {}|{}", number->value(), manager.groupingLevel(),
                           manager.undoStack().count(), manager.redoStack().count(),
                           manager.undoMenuItemTitle(), manager.redoMenuItemTitle());
    }
    // Plays each script and checks the state after it.
    void play(std::initializer_list<std::pair<const char*, const char*>> steps) {
        for (const auto& [script, expected] : steps) {
            play(script);
            EXPECT_EQ(state(), expected) << "after " << script;
            EXPECT_TRUE(stacksAreConsistent(manager)) << "after " << script;
        }
    }

    KQUUndoManager manager;
    std::shared_ptr<Number> number = std::make_shared<Number>(manager);
};

TEST_F(KQUUndoManagerTest, NotificationsOfAnEventItsUndoAndItsRedoComeInOrder) {
    NotificationRecorder recorder(manager);
    const std::pair<const char*, Names> steps[] = {
        {"5", {"DidOpenUndoGroup"}},
        {"E", {"Checkpoint", "WillCloseUndoGroup"}},
        {"U", {"Checkpoint", "Checkpoint", "WillUndoChange", "Checkpoint", "DidUndoChange"}},
        {"R", {"Checkpoint", "WillRedoChange", "Checkpoint", "Checkpoint", "DidRedoChange"}},
        {"R", {"Checkpoint"}},  // nothing to redo: only the checkpoint of the question
        {"[", {"DidOpenUndoGroup", "Checkpoint", "DidOpenUndoGroup"}}};  // opened inside the automatic group
    for (const auto& [script, names] : steps) {
        play(script);
        EXPECT_EQ(recorder.take(), names) << script;
    }
    play("] E");
    EXPECT_TRUE(stacksAreConsistent(manager));
}

TEST_F(KQUUndoManagerTest, EachEventIsOneGroupClosedAtTheEndOfTheEvent) {
    play({{"1 2", "v2 L1 U1 R0 Undo|Redo"},  // the open automatic group counts
          {"E", "v2 L0 U1 R0 Undo|Redo"},
          {"3 E L:1", "v3 L0 U1 R0 Undo|Redo"},  // keeps the newest group
          {"U", "v2 L0 U0 R1 Undo|Redo"},
          {"7", "v7 L1 U1 R0 Undo|Redo"},        // a new action empties the redo stack
          {"L:0 5 U", "v2 L0 U0 R1 Undo|Redo"},  // undo in the same event closes the event's group first
          {"E", "v2 L0 U0 R1 Undo|Redo"}});
}

TEST_F(KQUUndoManagerTest, NestingMisuseRaisesWithTheManagersTexts) {
    play("[ [ ]");
    std::string tooMany = invalidState("undo", "undo was called with too many nested undo groups");
    tooMany.pop_back();  // this one has no line break
    EXPECT_KQU_THROW(manager.undo(), NSInternalInconsistencyException, tooMany);
    play("] E");
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

TEST_F(KQUUndoManagerTest, DisabledRegistrationDropsRecordsGroupsAndNames) {
    // The automatic group closes even while registration is disabled.
    play({{"1 - E", "v1 L0 U1 R0 Undo|Redo"}, {"- [ 2 N:Ignored ] +", "v2 L0 U1 R0 Undo|Redo"}});
    EXPECT_FALSE(manager.isUndoRegistrationEnabled());
    // Undo goes back before the recorded change; the other had no record.
    play({{"+", "v2 L0 U1 R0 Undo|Redo"}, {"U", "v0 L0 U0 R1 Undo|Redo"}, {"2 E", "v2 L0 U1 R0 Undo|Redo"}});
}

TEST_F(KQUUndoManagerTest, TheRunLoopClosesGroupsInItsModesWhenAskedTo) {
    KQUUndoManager::setEndsTopLevelGroupingsAfterRunLoopIterations(true);
    const auto& runLoop = KQURunLoop::currentRunLoop();
    const size_t before = runLoop->pendingPerformCount();
    manager.setRunLoopModes({"Tracking"});
    number->set(1);
    EXPECT_EQ(runLoop->pendingPerformCount(), before + 1);
    play({{"E", "v1 L1 U1 R0 Undo|Redo"}});  // not the end-of-event call's business now
    runLoop->runOneIteration();
    EXPECT_EQ(manager.groupingLevel(), 1);
    runLoop->runOneIteration("Tracking");
    EXPECT_EQ(state(), "v1 L0 U1 R0 Undo|Redo");

    // undo() in the same event closes the group itself and withdraws the request.
    number->set(2);
    EXPECT_EQ(runLoop->pendingPerformCount(), before + 1);
    manager.undo();
    EXPECT_EQ(runLoop->pendingPerformCount(), before);
    EXPECT_EQ(number->value(), 1);
}

TEST_F(KQUUndoManagerTest, APendingActionNameNamesTheEventsGroupAndComesBackOnUndoAndRedo) {
    play({{"1 P:Nudge E", "v1 L0 U1 R0 Undo Nudge|Redo"}});
    EXPECT_EQ(KQUUndoManager::pendingActionName(), std::nullopt);  // used up by the event
    play({{"U", "v0 L0 U0 R1 Undo|Redo Nudge"}});
    EXPECT_EQ(KQUUndoManager::pendingActionName(), std::nullopt);  // not set again by undo
    play({{"R U R", "v1 L0 U1 R0 Undo Nudge|Redo"}});              // still there after a second round
    // Outside undo and redo, the replay hook is misuse.
    EXPECT_ASSERTION_FAILURE(manager.setPendingActionNameForUndo("x"));
    // Named inside an explicit group, the name goes to the event's group.
    play({{"[ 2 N:Typing ] E", "v2 L0 U2 R0 Undo Typing|Redo"}, {"U", "v1 L0 U1 R1 Undo Nudge|Redo Typing"}});
    EXPECT_EQ(manager.undoMenuTitleForUndoActionName("{} %@"), "Undo {} %@");
}

TEST_F(KQUUndoManagerTest, CollapsingMergesAnEventsGroupIntoThePreviousEventsGroup) {
    play("1 E 2 C");
    EXPECT_EQ(manager.coalescingUndoGroupCount(), 1u);
    play({{"E", "v2 L0 U1 R0 Undo|Redo"}});
    EXPECT_EQ(manager.coalescingUndoGroupCount(), 0u);  // reset when a group closes

    // Disabled for this event only.
    play("3");
    manager.disableCoalescingForCurrentEvent();
    EXPECT_TRUE(manager.didDisableCoalescingForCurrentEvent());
    play({{"C E", "v3 L0 U2 R0 Undo|Redo"}});
    EXPECT_FALSE(manager.didDisableCoalescingForCurrentEvent());
    play({{"U U", "v0 L0 U0 R2 Undo|Redo"}});
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
    std::make_shared<Number>(manager)->set(9);
    play("N:Other E 1 N:Doomed E");
    manager.removeAllActionsWithTarget(number.get());
    EXPECT_EQ(state(), "v1 L0 U1 R0 Undo Other|Redo");
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
    play("2 E");
    EXPECT_THROW(manager.undo(), std::runtime_error);
    EXPECT_FALSE(manager.isUndoing());
    EXPECT_EQ(KQUUndoManager::currentUndoManager(), nullptr);
    // The newer change was undone before the failure and can be redone; the rest of the group is still there.
    EXPECT_EQ(state(), "v1 L0 U1 R1 Undo|Redo");
    EXPECT_TRUE(stacksAreConsistent(manager));
    fail = false;
    play({{"U", "v0 L0 U0 R2 Undo|Redo"}});
    EXPECT_TRUE(journal->entries.empty());  // the failed action went with its failure

    // The same on redo; a later registration is a forward action on the undo stack.
    auto bad = std::make_shared<Journal>();
    manager.registerUndoInvocation(bad, "reregister", [&](Journal&) {
        manager.registerUndoInvocation(bad, "explode",
                                       [](Journal&) { throw std::runtime_error("redo failed"); });
    });
    play("E U");
    EXPECT_THROW(manager.redo(), std::runtime_error);
    EXPECT_FALSE(manager.isRedoing());
    EXPECT_EQ(manager.groupingLevel(), 0);
    play({{"4", "v4 L1 U1 R0 Undo|Redo"}});  // an automatic group on the undo stack
}

TEST_F(KQUUndoManagerTest, ReplayedActionsThatDisableRegistrationOrRemoveEverythingLeaveTheManagerSound) {
    auto journal = std::make_shared<Journal>();
    manager.registerUndoInvocation(journal, "disableAndFail", [&](Journal&) {
        manager.disableUndoRegistration();
        throw std::runtime_error("failed");
    });
    KQUEndOfEvent();
    EXPECT_THROW(manager.undo(), std::runtime_error);
    EXPECT_TRUE(manager.isUndoRegistrationEnabled());

    manager.registerUndoInvocation(journal, "reset", [&](Journal&) { manager.removeAllActions(); });
    play("E U");
    EXPECT_FALSE(manager.isUndoing());
    EXPECT_EQ(state(), "v0 L0 U0 R0 Undo|Redo");
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
    // Each value arrives as the alternative its type code names; a string's truth for the BOOL.
    const unsigned char yes = 1;
    const short minusTwo = -2;
    const KQUUndoBoxedArgument label = KQUValue("label");
    const std::vector<KQUUndoCallArgument> expected{label,  'A',  yes,  minusTwo,      70000,
                                                    123ull, 0.5f, 2.25, KQURange{3, 4}};
    EXPECT_TRUE(target->received == expected);

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
