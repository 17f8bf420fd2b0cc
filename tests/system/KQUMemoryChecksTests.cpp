#include "kqutility/system/KQUMemoryChecks.h"

#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

constexpr uint64_t MB = 1u << 20;

KQUPhysicalMemory machine(uint64_t megabytes) {
    KQUPhysicalMemory memory;
    memory.pageSize = 4096;
    memory.hardwareBytes = memory.usableBytes = megabytes * MB;
    return memory;
}

class KQUMemoryChecksTest : public ::testing::Test {
protected:
    void TearDown() override { KQUMemoryResetForTesting(); }
};

TEST_F(KQUMemoryChecksTest, OpeningChecks) {
    // Megabytes, cells, bytes per cell, admitted.
    const std::tuple<uint64_t, uint32_t, double, bool> cases[] = {
        {256, 100000, 600, true},   // 14648 of 16384 pages
        {256, 100000, 700, false},  // 17089 pages
        {768, 1000001, 1, false},
        {1024, 1200000, 1e9, true},
        {1024, 1200001, 1, false},
        // Above 1024 MB: never fewer than at 1024 MB, and more when the estimate fits.
        {8192, 4000000, 200, true},   // 195313 of 838861 pages
        {8192, 4000000, 900, false},  // 878907 pages
    };
    for (const auto& [megabytes, cells, bytesPerCell, admitted] : cases) {
        KQUMemoryResetForTesting(machine(megabytes));
        EXPECT_EQ(isThereEnoughMemory(cells, bytesPerCell), admitted)
            << megabytes << " MB, " << cells << " cells";
    }
}

TEST_F(KQUMemoryChecksTest, ImportSharesAndEstimates) {
    // Megabytes, available pages (hand-computed: capped pages minus overhead, times the share), estimate.
    const std::tuple<uint64_t, double, uint64_t> cases[] = {
        {256, 7372, 64},       // 65536 - 49152 = 16384; 45 % = 7372.8
        {1024, 58982, 512},    // 262144 - 131072; 45 % = 58982.4
        {2048, 293601, 1433},  // 524288 - 157286 = 367002; 80 % = 293601.6
        {8192, 838861, 3276},  // capped at 4096 MB: 1048576 - 209715
    };
    for (const auto& [megabytes, availablePages, estimatedMegabytes] : cases) {
        KQUMemoryResetForTesting(machine(megabytes));
        EXPECT_TRUE(isThereEnoughMemoryToImport(4096, availablePages)) << megabytes;
        EXPECT_FALSE(isThereEnoughMemoryToImport(4096, availablePages + 1)) << megabytes;
        EXPECT_EQ(KQUMemoryEstimatedMemoryInMegabytes(), estimatedMegabytes) << megabytes;
    }
}

TEST_F(KQUMemoryChecksTest, RefusalIsLoggedAndUnknownOrIgnoredMemoryAdmits) {
    KQUMemoryResetForTesting(machine(512));
    {
        test::ScopedDefault level("KQULogLevel", "100");
        test::LogCapture log;
        EXPECT_FALSE(isThereEnoughMemory(600000, 1));
        EXPECT_TRUE(log.contains("Not enough memory to open a document with 600000 cells on a machine with 512 MB of RAM"));
    }
    KQUMemoryResetForTesting(KQUPhysicalMemory{});
    EXPECT_EQ(KQUMemoryTotalPageCount(), 0u);
    EXPECT_TRUE(isThereEnoughMemory(4000000000u, 1e9) && isThereEnoughMemoryToImport(4000000000u, 1e9));
    test::ScopedDefault ignore(KQUIgnoreMemoryChecksKey, "YES");
    KQUMemoryResetForTesting(machine(256));
    EXPECT_TRUE(isThereEnoughMemory(4000000000u, 1e9));
}

}  // namespace
}  // namespace kqu
