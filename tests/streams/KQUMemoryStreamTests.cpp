#include <gtest/gtest.h>

#include "kqutility/streams/KQUMemoryStreams.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

KQUDataRef tenBytes() {
    return KQUMakeData("0123456789");
}

TEST(MemoryInputStream, ReadsAndReportsTheEnd) {
    auto s = KQUMemoryInputStream::create(tenBytes());
    char buf[16];
    EXPECT_EQ(std::string(buf, s->readToBuffer(buf, 4)), "0123");
    EXPECT_EQ(std::string(buf, s->readToBuffer(buf, 10)), "456789");
    EXPECT_EQ(s->readToBuffer(buf, 10), 0u);
    EXPECT_EQ(s->offset(), 10);
    s->seekToOffset(10);
    EXPECT_KQU_THROW(s->seekToOffset(11), NSInvalidArgumentException, "Offset is too large.");
    EXPECT_EQ(KQUMemoryInputStream::create(nullptr), nullptr);
    // Range checks at creation; an offset near 2^32 must not wrap around to look valid.
    for (auto [offset, length] : {std::pair<uint32_t, uint32_t>{8, 3}, {0, 11}, {UINT32_MAX, 2}})
        EXPECT_KQU_THROW(KQUMemoryInputStream::create(tenBytes(), offset, length), NSInvalidArgumentException,
                         "Bad data range.");
    s = KQUMemoryInputStream::create(tenBytes(), 7, 3);
    EXPECT_EQ(std::string(buf, s->readToBuffer(buf, 8)), "789");
}

TEST(MemoryInputStream, NegativeSeekIsRefusedLikeATooLargeOne) {
    auto s = KQUMemoryInputStream::create(tenBytes(), 5, 5);
    s->seekToOffset(2);
    EXPECT_KQU_THROW(s->seekToOffset(-1), NSInvalidArgumentException, "Offset is too large.");
    EXPECT_FALSE(s->seekWithinBufferToOffset(-5));
    EXPECT_EQ(s->offset(), 2);  // did not move
    char buf[8];
    EXPECT_EQ(std::string(buf, s->readToBuffer(buf, 8)), "789");
}

}  // namespace
