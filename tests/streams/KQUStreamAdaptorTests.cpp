#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/streams/KQUMoveableFileOutputStream.h"
#include "kqutility/streams/KQUOffsetStreams.h"
#include "support/KQUScriptedStream.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using kqu::test::TempDir;

namespace {

using kqu::test::ScriptedInputStream;

std::string forty() {
    return test::patternBytes(40, 7);
}

TEST(BufferedInputStream, SeeksWithinHeldBytesWithoutReadingAgain) {
    auto beneath =
        std::make_shared<ScriptedInputStream>(forty(), ScriptedInputStream::Script{.seekable = true});
    KQUBufferedInputStream s(beneath, 16);
    char buf[10];
    ASSERT_EQ(s.readToBuffer(buf, 10), 10u);
    EXPECT_TRUE(s.seekWithinBufferToOffset(0));
    EXPECT_EQ(std::string(buf, s.readToBuffer(buf, 10)), forty().substr(0, 10));
    EXPECT_EQ(beneath->reads, 1);
    EXPECT_TRUE(s.seekWithinBufferToOffset(16) && !s.seekWithinBufferToOffset(17));
    // Outside: the stream beneath is repositioned at the next read, not before.
    s.seekToOffset(30);
    EXPECT_EQ(beneath->seeks, 0);
    EXPECT_EQ(std::string(buf, s.readToBuffer(buf, 4)), forty().substr(30, 4));
    EXPECT_EQ(beneath->seeks, 1);
}

TEST(BufferedInputStream, UnseekableStreamBeneath) {
    auto beneath = std::make_shared<ScriptedInputStream>(forty(), ScriptedInputStream::Script{});
    KQUBufferedInputStream s(beneath, 16);
    EXPECT_KQU_THROW(s.seekToOffset(0), "KQUBufferedInputStreamError", "Can't seek");
    char buf[16];
    ASSERT_EQ(s.readToBuffer(buf, 16), 16u);
    // Someone else read from the stream beneath: the buffer can no longer follow it.
    ASSERT_EQ(beneath->readToBuffer(buf, 1), 1u);
    EXPECT_ASSERTION_FAILURE((void)s.readToBuffer(buf, 4));
}

TEST(OffsetInputStream, PresentsAPartAsAWholeStream) {
    std::string hundred = test::patternBytes(100);
    auto beneath = KQUMemoryInputStream::create(KQUMakeData(hundred));
    KQUOffsetInputStream s(beneath, 30);
    EXPECT_EQ(s.offset(), 0);
    char buf[100];
    EXPECT_EQ(std::string(buf, s.readToBuffer(buf, 100)), hundred.substr(30));
    s.seekToOffset(5);
    EXPECT_EQ(beneath->offset(), 35);
    beneath->seekToOffset(10);
    EXPECT_ASSERTION_FAILURE(s.offset());
    test::ContinueAfterAssertions continuing;
    test::LogCapture log;
    EXPECT_EQ(s.offset(), -20);
    EXPECT_TRUE(log.contains("KQUOffsetInputStream points before its offset"));
}

TEST(OffsetOutputStream, OriginAtCreationAndWhencePassing) {
    TempDir dir;
    auto file = std::make_shared<KQUMoveableFileOutputStream>(dir.file("out"));
    std::string head(1000, 'h');
    file->writeBuffer(head.data(), 1000);
    KQUOffsetOutputStream s(file);
    s.writeBuffer("0123456789", 10);
    EXPECT_EQ(s.offset(), 10);
    s.seekToOffset(4, SEEK_SET);
    EXPECT_EQ(file->offset(), 1004);
    s.seekToOffset(-2, SEEK_END);
    EXPECT_EQ(file->offset(), 1008);
    auto reader = s.inputStream();
    ASSERT_TRUE(reader);
    char buf[16];
    EXPECT_EQ(std::string(buf, reader->readToBuffer(buf, 16)), "0123456789");
    KQUOffsetOutputStream memory(std::make_shared<KQUMemoryOutputStream>());
    EXPECT_EQ(memory.inputStream(), nullptr);
}

class MoveableFile : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(MoveableFile, TruncationNeverGrowsTheFile) {
    KQUMoveableFileOutputStream s(dir.file("t"));
    s.writeBuffer("0123456789", 10);
    s.truncateToLength(10);
    EXPECT_EQ(s.offset(), 10);
    EXPECT_KQU_THROW(s.truncateToLength(11), NSGenericException,
                     "-[KQUMoveableFileOutputStream truncateToOffset:] does not allow expanding the file");
    EXPECT_EQ(test::readFile(dir.file("t")), "0123456789");
    s.truncateToLength(4);
    EXPECT_EQ(s.offset(), 4);
    s.writeBuffer("AB", 2);
    EXPECT_EQ(test::readFile(dir.file("t")), "0123AB");
}

// Packages over 4 GiB are truncated at their real length, not at the length modulo 2^32.
TEST_F(MoveableFile, TruncatesBeyondFourGiBExactly) {
    KQUMoveableFileOutputStream s(dir.file("big"));
    const int64_t fiveGiB = 5LL << 30;
    s.seekToOffset(fiveGiB, SEEK_SET);  // sparse: costs no disk
    s.writeBuffer("x", 1);
    const int64_t cut = (4LL << 30) + 7;
    s.truncateToLength(cut);
    auto attributes = KQUAttributesOfItem(dir.file("big"));
    ASSERT_TRUE(attributes);
    EXPECT_EQ(std::pair(s.offset(), attributes->size), std::pair(cut, cut));
}

TEST_F(MoveableFile, InputStreamSeesWhatWasWrittenAndKeepsThePosition) {
    KQUMoveableFileOutputStream s(dir.file("r"));
    s.writeBuffer("abcdef", 6);
    s.seekToOffset(2, SEEK_SET);
    auto reader = s.inputStream();
    EXPECT_EQ(s.offset(), 2);
    char buf[16];
    EXPECT_EQ(std::string(buf, reader->readToBuffer(buf, 16)), "abcdef");
    s.writeBuffer("XY", 2);
    EXPECT_EQ(test::readFile(dir.file("r")), "abXYef");
}

TEST_F(MoveableFile, FailedMoveLeavesTheStreamClosedAndTheTargetAlone) {
    test::writeFile(dir.file("taken"), "keep me");
    KQUMoveableFileOutputStream s(dir.file("mine"));
    s.writeBuffer("abc", 3);
    KQUError error;
    EXPECT_FALSE(s.moveToPath(dir.file("taken"), &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_FALSE(s.isOpen());
    EXPECT_EQ(test::readFile(dir.file("taken")) + "|" + test::readFile(dir.file("mine")), "keep me|abc");
    EXPECT_KQU_THROW(s.writeBuffer("d", 1), "KQUWriteError", "Could not write: Bad file descriptor");
}

}  // namespace
