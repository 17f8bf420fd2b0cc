#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"
#include "undo/KQUUndoTestSupport.h"

namespace kqu {
namespace {

using test::Journal;
using Names = std::vector<std::string>;

// Each step writes its name when done, undone or redone, and registers itself again, so
// the journal shows the order in which a replay runs.
class Steps : public std::enable_shared_from_this<Steps> {
public:
    Steps(KQUUndoManager& manager, Journal& journal) : mManager(manager), mJournal(journal) {}
    void step(const std::shared_ptr<std::string>& name) {
        mJournal.entries.push_back(*name);
        mManager.registerUndoWithTarget(shared_from_this(), "step:", name, &Steps::step);
    }
    void stepNamed(const char* name) { step(std::make_shared<std::string>(name)); }

private:
    KQUUndoManager& mManager;
    Journal& mJournal;
};

// Writes "begin <cookie> <flags>" and "end <cookie> <flags>" into the journal.
class Delegate : public KQUUndoSessionDelegate {
public:
    explicit Delegate(Journal& journal) : mJournal(journal) {}
    void beginUndoSessionWithTargetCookie(const std::shared_ptr<void>& cookie, uint32_t flags) override {
        write("begin", cookie, flags);
    }
    void endUndoSessionWithTargetCookie(const std::shared_ptr<void>& cookie, uint32_t flags) override {
        write("end", cookie, flags);
    }

private:
    void write(const char* what, const std::shared_ptr<void>& cookie, uint32_t flags) {
        mJournal.entries.push_back(
            fmt::format("{} {} {}", what, *std::static_pointer_cast<std::string>(cookie), flags));
    }
    Journal& mJournal;
};

class KQUUndoSessionTest : public test::UndoTest {
protected:
    void beginSession(uint32_t flags = 6) {
        manager.beginUndoSession(flags, delegate, std::make_shared<std::string>("doc"));
    }

    KQUUndoManager manager;
    Journal journal;
    std::shared_ptr<Steps> steps = std::make_shared<Steps>(manager, journal);
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>(journal);
};

TEST_F(KQUUndoSessionTest, ASessionOverSeveralEventsStaysCurrentFromTheFirstUndoToTheLast) {
    beginSession();
    EXPECT_NE(manager.pendingSession(), nullptr);
    steps->stepNamed("1");
    EXPECT_EQ(manager.pendingSession(), nullptr);
    EXPECT_NE(manager.currentSession(), nullptr);
    for (const char* name : {"2", "3"}) {
        KQUEndOfEvent();
        steps->stepNamed(name);
    }
    KQUEndOfEvent();
    manager.endUndoSession();  // after the last group closed: its record goes inside it
    EXPECT_EQ(manager.undoStack().count(), 3u);
    EXPECT_EQ(manager.groupingLevel(), 0);
    EXPECT_TRUE(test::stacksAreConsistent(manager));
    EXPECT_EQ(journal.take(), (Names{"1", "2", "3"}));  // the delegate is not told about the forward actions
    for (bool undo : {true, false})
        for (int i = 0; i < 3; ++i) {
            undo ? manager.undo() : manager.redo();
            EXPECT_EQ(manager.currentSession() != nullptr, i < 2) << undo << i;
        }
    EXPECT_EQ(journal.take(),
              (Names{"begin doc 6", "3", "2", "1", "end doc 6", "begin doc 6", "1", "2", "3", "end doc 6"}));
    manager.undo();  // redo registered the session again
    EXPECT_EQ(journal.take(), (Names{"begin doc 6", "3"}));
    EXPECT_TRUE(test::stacksAreConsistent(manager));
}

TEST_F(KQUUndoSessionTest, MisuseIsReportedAndChangesNothing) {
    beginSession();
    EXPECT_ASSERTION_FAILURE(beginSession());  // begin called without end
    steps->stepNamed("a");
    KQUEndOfEvent();
    manager.endUndoSession();

    // Sessions are begun and ended in the forward direction only.
    manager.registerUndoInvocation(steps, "misuse",
                                   [&](Steps&) { manager.beginUndoSession(0, delegate, nullptr); });
    KQUEndOfEvent();
    EXPECT_ASSERTION_FAILURE(manager.undo());
    EXPECT_FALSE(manager.isUndoing());
    EXPECT_EQ(manager.pendingSession(), nullptr);
}

TEST_F(KQUUndoSessionTest, RemovingAllActionsEndsTheSessionToo) {
    beginSession();
    steps->stepNamed("a");
    manager.removeAllActions();
    EXPECT_EQ(manager.currentSession(), nullptr);
    manager.endUndoSession();
    KQUEndOfEvent();
    EXPECT_EQ(test::shape(manager.undoStack()), "");  // no lone "begin" record leaving the session current
}

}  // namespace
}  // namespace kqu
