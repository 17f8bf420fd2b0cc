// The direct-to-file consumer's info offers its descriptor under KQUDirectToFileFileHandleKey.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "kqutility/streams/KQUDataConsumer.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;

TEST(KQUDataConsumer, DirectToFileInfoHoldsTheFileHandle) {
    test::TempDir dir;
    auto consumer = KQUCreateDirectToFileDataConsumer(dir.file("out"));
    ASSERT_NE(consumer, nullptr);
    auto fd = KQUDirectToFileConsumerValue(*consumer, KQUDirectToFileFileHandleKey);
    ASSERT_TRUE(fd.has_value());
    struct stat viaHandle, viaPath;
    ASSERT_EQ(::fstat(*fd, &viaHandle), 0);
    ASSERT_EQ(::stat(dir.file("out").c_str(), &viaPath), 0);
    EXPECT_EQ(viaHandle.st_ino, viaPath.st_ino);
    EXPECT_EQ(KQUDirectToFileConsumerValue(*consumer, "other"), std::nullopt);
    auto memory = KQUCreateNSMutableDataDataConsumer(std::make_shared<KQUData>());
    EXPECT_EQ(KQUDirectToFileConsumerValue(*memory, KQUDirectToFileFileHandleKey), std::nullopt);
}
