#include <gtest/gtest.h>

#include <cmath>

#include <fmt/format.h>

#include "kqutility/foundation/KQUFileReference.h"
#include "kqutility/foundation/KQUSystemInfo.h"
#include "kqutility/identity/KQUBinder.h"
#include "kqutility/identity/KQUNotificationCollector.h"
#include "kqutility/identity/KQUObjectFlusher.h"
#include "kqutility/undo/KQUUndoManager.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

// --- Collector -----------------------------------------------------------------------------

struct Host : KQUNotificationCollectorHost {
    KQUUndoManager undo;
    KQUUndoManagerProtocol* undoManager() override { return &undo; }
    bool collectorShouldCollectNotification(KQUNotificationCollector&, const KQUNotification& n) override {
        return n.name != "Skip";
    }
};

struct CollectorFixture : ::testing::Test {
    KQUNotificationCenter center;
    std::shared_ptr<Host> host = std::make_shared<Host>();
    std::vector<std::string> posted;
    KQUScopedObserver watch{center, "", nullptr,
                            [this](const KQUNotification& n) { posted.push_back(n.name); }};
    CollectorFixture() { host->undo.setGroupsByEvent(false); }
    // One undo group around what f does, as an editing action has.
    template <typename F>
    void inGroup(F f) {
        host->undo.beginUndoGrouping();
        f();
        host->undo.endUndoGrouping();
    }
};

TEST_F(CollectorFixture, CollectsOnlyWhileCollectingAndUndoReplaysInReverse) {
    KQUNotificationCollector collector("c", host, &center);
    int sender = 0;
    collector.collectNotificationsWithName("", &sender);
    center.postNotificationName("Early", &sender);
    inGroup([&] { collector.beginCollecting(); });
    for (const char* name : {"A", "Skip", "B"}) center.postNotificationName(name, &sender);
    inGroup([&] { collector.endCollecting(); });
    center.postNotificationName("Late", &sender);
    std::vector<std::string> names;
    for (const auto& n : collector.notifications()) names.push_back(n->name);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
    EXPECT_KQU_THROW(collector.endCollecting(), "NSInternalInconsistencyException",
                     "Can't end collecting while not collecting.");
    posted.clear();
    host->undo.undo();  // the end: collecting again
    center.postNotificationName("C", &sender);
    EXPECT_KQU_THROW(collector.beginCollecting(), "NSInternalInconsistencyException",
                     "Can't begin collecting while already collecting.");
    ASSERT_EQ(collector.notifications().size(), 1u);  // left as it was
    EXPECT_EQ(collector.notifications()[0]->name, "C");
    host->undo.undo();  // the begin: not collecting
    host->undo.redo();
    EXPECT_TRUE(collector.isCollecting() && collector.notifications().empty());
    EXPECT_EQ(posted, (std::vector<std::string>{KQUCollectionsBeginningNotification, "C",
                                                KQUCollectionsEndingNotification,
                                                KQUCollectionsBeginningNotification}));
}

TEST_F(CollectorFixture, UndoAfterTheCollectorHasGoneDoesNothing) {
    EXPECT_KQU_THROW(KQUNotificationCollector("c", host, nullptr), "NSInternalInconsistencyException",
                     "nil passed as notification center in initWithIdentifier");
    {
        KQUNotificationCollector collector("c", host, &center);
        inGroup([&] { collector.beginCollecting(); });
        inGroup([&] { collector.endCollecting(); });
    }
    // Fault mended: the records called the freed collector.
    posted.clear();
    for (int i = 0; i < 2; ++i) host->undo.undo();
    EXPECT_TRUE(posted.empty());
    EXPECT_FALSE(host->undo.canUndo());
}

// --- Flusher -------------------------------------------------------------------------------

struct Cached : KQUFlushable {
    uint64_t bytes;
    bool flushable = true;
    uint64_t bytesAfterFlush = 0;
    int flushes = 0;
    std::function<void(Cached&)> onFlush;
    explicit Cached(uint64_t b) : bytes(b) {}
    bool isFlushable() const override { return flushable; }
    void flushLocalData() override {
        ++flushes;
        bytes = bytesAfterFlush;
        if (onFlush) onFlush(*this);
    }
    uint64_t bytesUsed() const override { return bytes; }
};

TEST(KQUObjectFlusherTest, Budget) {
    const uint64_t gib = uint64_t{1} << 30;
    const std::pair<std::optional<double>, uint64_t> cases[] = {
        {0.005, gib / 100},      {3.0, gib}, {std::nullopt, gib / 4}, {0.0, gib / 4},
        {std::nan(""), gib / 4},  // fault mended: NaN passed the clamp
        {0.5, gib / 2}};
    for (const auto& [percentage, bytes] : cases)
        EXPECT_EQ(KQUObjectFlusher::budgetForMemory(gib, percentage), bytes) << percentage.value_or(-1);
    // Judgement: a 64 GiB machine keeps its 16 GiB budget (32 bits capped it at 4 GiB - 1).
    EXPECT_EQ(KQUObjectFlusher::budgetForMemory(64 * gib, std::nullopt), 16 * gib);

    test::ScopedDefault setting(KQUImageCachePercentageKey, "0.5");
    EXPECT_EQ(KQUObjectFlusher::defaultBudget(), KQUProbePhysicalMemory().usableBytes / 2);
}

TEST(KQUObjectFlusherTest, LeastRecentlyUsedAreFlushed) {
    KQUObjectFlusher flusher(100);
    auto a = std::make_shared<Cached>(60), b = std::make_shared<Cached>(60), c = std::make_shared<Cached>(60);
    flusher.objectAddedData(a);
    flusher.objectAddedData(a);  // again: counted once
    EXPECT_EQ(flusher.totalMemoryUsed(), 60u);
    flusher.objectAddedData(b);
    EXPECT_TRUE(a->flushes == 1 && !flusher.isTrackedAsFlushable(a.get()));  // flushed to 0 bytes: forgotten
    EXPECT_EQ(flusher.totalMemoryUsed(), 60u);
    b->bytesAfterFlush = 10;  // keeps some data, and can flush no more
    b->onFlush = [](Cached& self) { self.flushable = false; };
    flusher.objectAddedData(c);
    EXPECT_TRUE(b->flushes == 1 && flusher.isTrackedAsNonFlushable(b.get()));
    EXPECT_EQ(flusher.totalMemoryUsed(), 70u);

    // An object that has gone is forgotten, never called.
    auto d = std::make_shared<Cached>(50);
    flusher.objectAddedData(d);  // c is flushed to make room
    EXPECT_EQ(c->flushes, 1);
    d.reset();
    auto e = std::make_shared<Cached>(80);
    flusher.objectAddedData(e);
    EXPECT_EQ(flusher.totalMemoryUsed(), 90u);
    EXPECT_EQ(flusher.description(),
              fmt::format("mData: ({}), mMaximumMemoryToUse: 100", static_cast<void*>(e.get())));
}

TEST(KQUObjectFlusherTest, AnObjectThatRemovesItselfWhileFlushingStaysRemoved) {
    KQUObjectFlusher flusher(100);
    auto a = std::make_shared<Cached>(60), b = std::make_shared<Cached>(60);
    a->bytesAfterFlush = 30;
    a->onFlush = [&](Cached& self) {
        self.flushable = false;
        flusher.objectRemoved(&self);
    };
    flusher.objectAddedData(a);
    flusher.objectAddedData(b);
    // Fault mended: it was filed among the non-flushable objects, counted and dangling.
    EXPECT_FALSE(flusher.isTrackedAsNonFlushable(a.get()));
    EXPECT_EQ(flusher.totalMemoryUsed(), 60u);
}

// --- Binder --------------------------------------------------------------------------------

TEST(KQUBinderTest, PrecedenceAndTypeOrder) {
    KQUBinder binder;
    auto a = binder.bindClass({"A", {"public.tiff", "public.png"}, {"JPG", "TEXT"}, {"image/jpeg"}, {}, {}});
    auto b = binder.bindClass(
        {"B", {"public.png"}, {"jpg"}, {}, [](const std::string& p) { return p.ends_with("~"); }, {}});
    auto c = binder.bindClass({"C", {}, {}, {}, [](const std::string& p) { return p.ends_with("~"); }, {}});
    using Types = std::vector<std::string>;
    // B bound jpg after A; canOpenFile asks the most recent first.
    EXPECT_EQ(std::vector({binder.classForPasteboard(Types{"public.rtf", "public.tiff", "public.png"}),
                           binder.classForPasteboard(Types{"public.png", "public.tiff"}),
                           binder.classForPasteboard(Types{"x"}), binder.classForFile("/x/photo.JPG"),
                           binder.classForFile("/x/photo.jpg~"), binder.classForMIMEType("image/jpeg")}),
              std::vector({a, b, decltype(a){}, b, c, a}));
    EXPECT_EQ(binder.fileTypes(), (std::vector<std::string>{"JPG", "TEXT", "jpg"}));

    // Judgement: a type declared in capitals matches the lower-cased extension.
    KQUBinder capitals;
    auto upper = capitals.bindClass({"U", {}, {"JPG"}, {}, {}, {}});
    EXPECT_EQ(capitals.classForFile("photo.jpg"), upper);
}

TEST(KQUBinderTest, FileWithoutExtensionByTypeCode) {
    test::TempDir dir;
    std::string path = dir.file("notes");
    test::writeFile(path, "x");
    if (!KQUWriteFileTypeCode(path, 0x54455854)) GTEST_SKIP() << "no extended attributes here";
    KQUBinder binder;
    auto text = binder.bindClass({"T", {}, {"TEXT"}, {}, {}, {}});
    EXPECT_EQ(KQUBinder::fileTypeStringOfFile(path), "TEXT");
    EXPECT_EQ(binder.classForFile(path), text);
    test::writeFile(dir.file("plain"), "x");
    EXPECT_EQ(binder.classForFile(dir.file("plain")), nullptr);
}

}  // namespace
}  // namespace kqu
