// kqu undo-demo: edits a small text buffer through the undo manager and prints, after
// each step, the text and the Undo and Redo menu titles. Each step is one event.
//
//     kqu undo-demo                       a built-in script
//     kqu undo-demo type:Hello "type: world" upper undo undo redo
//
// Steps: "type:TEXT" appends TEXT (consecutive typing merges into one undoable run, as a
// text view does), "stop" ends the typing run, "upper" upper-cases the buffer through a
// command, "undo" and "redo".
#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "kqutility/foundation/KQURunLoop.h"
#include "kqutility/undo/KQUCommand.h"
#include "kqutility/undo/KQUUndoManager.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

// One stretch of typing, undone and redone as a whole.
struct TypingRun {
    size_t location = 0;
    std::string text;
};

class TextBuffer : public std::enable_shared_from_this<TextBuffer> {
public:
    explicit TextBuffer(KQUUndoManager& undo) : mUndo(undo) {}

    const std::string& text() const { return mText; }
    void setText(std::string text) { mText = std::move(text); }

    void type(const std::string& typed) {
        if (mRun && mUndo.shouldCoalesceTypingForText(mRun.get(), this)) {
            mRun->text += typed;  // the newest undo record is this run's: it grows
        } else {
            mRun = std::make_shared<TypingRun>(TypingRun{mText.size(), typed});
            mUndo.registerUndoWithTarget(shared_from_this(), "deleteRun:", mRun, &TextBuffer::deleteRun);
            mUndo.setActionName("Typing");
        }
        mText += typed;
    }
    void stopTyping() { mRun.reset(); }

    void deleteRun(const std::shared_ptr<TypingRun>& run) {
        mText.erase(run->location, run->text.size());
        mUndo.registerUndoWithTarget(shared_from_this(), "insertRun:", run, &TextBuffer::insertRun);
    }
    void insertRun(const std::shared_ptr<TypingRun>& run) {
        mText.insert(run->location, run->text);
        mUndo.registerUndoWithTarget(shared_from_this(), "deleteRun:", run, &TextBuffer::deleteRun);
    }

private:
    KQUUndoManager& mUndo;
    std::string mText;
    std::shared_ptr<TypingRun> mRun;
};

class UppercaseCommand : public KQUCommand {
public:
    explicit UppercaseCommand(const std::shared_ptr<TextBuffer>& buffer) : KQUCommand("Uppercase", buffer) {}
    void perform() override {
        auto buffer = targetAs<TextBuffer>();
        mBefore = buffer->text();
        redo();
    }
    void undo() override { targetAs<TextBuffer>()->setText(mBefore); }
    void redo() override {
        std::string upper = mBefore;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return std::toupper(c); });
        targetAs<TextBuffer>()->setText(upper);
    }

private:
    std::string mBefore;
};

int runUndoDemo(const KQUToolArguments& arguments) {
    std::vector<std::string> steps = arguments.operands;
    if (steps.empty())
        steps = {"type:Hello", "type: world", "upper", "undo", "undo", "redo", "stop", "type:!"};

    auto undo = std::make_shared<KQUUndoManager>();
    auto buffer = std::make_shared<TextBuffer>(*undo);
    KQUCommandManager commands(undo);

    fmt::print("{:<16} {:<24} {:<20} {}\n", "step", "text", "undo menu", "redo menu");
    for (const std::string& step : steps) {
        if (step.rfind("type:", 0) == 0) {
            buffer->type(step.substr(5));
        } else if (step == "stop") {
            buffer->stopTyping();
        } else if (step == "upper") {
            commands.performCommand(std::make_shared<UppercaseCommand>(buffer));
        } else if (step == "undo") {
            if (!undo->canUndo()) throw KQUToolError("nothing to undo");
            undo->undo();
        } else if (step == "redo") {
            if (!undo->canRedo()) throw KQUToolError("nothing to redo");
            undo->redo();
        } else {
            throw KQUToolError(
                fmt::format("unknown step {:?}; use type:TEXT, stop, upper, undo or redo", step));
        }
        KQUEndOfEvent();
        fmt::print("{:<16} {:<24} {:<20} {}\n", step, fmt::format("{:?}", buffer->text()),
                   undo->undoMenuItemTitle(), undo->redoMenuItemTitle());
    }
    return 0;
}

KQUToolRegistration registration({
    .name = "undo-demo",
    .operands = "[STEP...]",
    .summary = "Edit a text buffer undoably and show the Undo and Redo menu titles",
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu undo-demo type:Hello \"type: world\" upper undo undo redo",
    .details = "Steps: type:TEXT appends TEXT (consecutive typing is one undoable run), stop ends the "
               "typing run, upper upper-cases the buffer through a command, undo and redo. Without steps "
               "a built-in script runs.",
    .run = runUndoDemo,
});

}  // namespace
}  // namespace kqu::tool
