#include "kqutility/identity/KQUDocumentContext.h"

#include <gtest/gtest.h>

namespace kqu {
namespace {

// Answers in the order: wasUnarchived wasPasted matchStyle wasDragOperation wasDragMoved
// autoUpdateSmartFields uniqueBookmarks syncChanges wasUngrouped wasUnhidden invokeDOLC.
std::string answers(const KQUAddedToDocumentContext& c) {
    std::string s;
    for (bool b : {c.wasUnarchived(), c.wasPasted(), c.matchStyle(), c.wasDragOperation(), c.wasDragMoved(),
                   c.autoUpdateSmartFields(), c.uniqueBookmarks(), c.syncChanges(), c.wasUngrouped(),
                   c.wasUnhidden(), c.invokeDOLC()})
        s += b ? 'Y' : '-';
    return s;
}

TEST(KQUDocumentContextTest, AnswerTable) {
    using A = KQUAddedToDocumentContext;
    const std::tuple<A::Ref, const char*, const char*> rows[] = {
        // context, answers, description
        {A::unarchivingContext(), "Y---------Y", "Unarchived"},
        {A::pastingContext(), "-Y---YYY--Y", "Pasted"},
        {A::dragMoveContext(), "-Y-YYYYY--Y", "Pasted/Drag-Move"},
        {A::ungroupingContext(), "--------Y-Y", "Ungrouping"},
    };
    for (const auto& [context, expected, description] : rows) {
        EXPECT_EQ(answers(*context), expected) << description;
        EXPECT_EQ(context->description(), description);
        EXPECT_FALSE(context->importerID());
    }
    auto grouping = KQURemovedFromDocumentContext::groupingContext();
    auto hiding = KQURemovedFromDocumentContext::hidingContext();
    EXPECT_EQ(std::make_pair(grouping->wasGrouped(), grouping->wasHidden()), std::make_pair(true, false));
    EXPECT_EQ(std::make_pair(hiding->wasGrouped(), hiding->wasHidden()), std::make_pair(false, true));
    EXPECT_EQ(hiding->description(), "Hidding");

    // Shared instances, fresh importing contexts, undo links both ways.
    EXPECT_EQ(A::pastingContext(), A::pastingContext());
    auto first = A::importingContextWithImporterID("csv"), second = A::importingContextWithImporterID("csv");
    EXPECT_NE(first, second);
    EXPECT_EQ(first->importerID(), "csv");

    EXPECT_EQ(A::pastingContext()->undoContext(), nullptr);
    EXPECT_EQ(grouping->undoContext(), A::ungroupingContext());
    EXPECT_TRUE(grouping->undoContext()->undoContext() == grouping &&
                hiding->undoContext()->undoContext() == hiding);
}

}  // namespace
}  // namespace kqu
