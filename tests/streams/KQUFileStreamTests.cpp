#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "kqutility/streams/KQUFileStreams.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using kqu::test::TempDir;

namespace {

class FileStreams : public ::testing::Test {
protected:
    void SetUp() override {
        contents = test::patternBytes(100);
        test::writeFile(dir.file("hundred"), contents);
    }
    std::string read(KQUInputStream& s, uint32_t size) {
        std::string out(size, '\0');
        out.resize(s.readToBuffer(out.data(), size));
        return out;
    }
    TempDir dir;
    std::string contents;
};

TEST_F(FileStreams, ReadsOnlyItsRange) {
    auto s = KQUFileInputStream::create(dir.file("hundred"), 10, 20);
    EXPECT_EQ(read(*s, 15), contents.substr(10, 15));
    EXPECT_EQ(read(*s, 15), contents.substr(25, 5));
    EXPECT_EQ(read(*s, 15), "");
    s->seekToOffset(20);
    s->seekToOffset(3);
    EXPECT_EQ(read(*s, 2), contents.substr(13, 2));
    // A range beyond the file fails when reached.
    s = KQUFileInputStream::create(dir.file("hundred"), 90, 20);
    EXPECT_EQ(read(*s, 5), contents.substr(90, 5));
    EXPECT_KQU_THROW(read(*s, 32), "KQUPReadError", "");
}

TEST_F(FileStreams, InvalidDescriptorRangesThrowAndCloseTheDescriptor) {
    for (auto [offset, length] : {std::pair<int64_t, int64_t>{0, -1}, {-1, 5}, {INT64_MAX, 1}}) {
        int fd = KQUOpen(dir.file("hundred"), O_RDONLY, 0);
        EXPECT_KQU_THROW(KQUFileInputStream::createWithFileDescriptor(fd, offset, length),
                         NSInvalidArgumentException, "Offset and/or length invalid.");
        EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "descriptor left open";
    }
}

TEST_F(FileStreams, SeekOutsideTheRangeIsRefusedAndDoesNotMove) {
    auto s = KQUFileInputStream::create(dir.file("hundred"), 10, 20);
    EXPECT_ASSERTION_FAILURE(s->seekToOffset(21));
    EXPECT_ASSERTION_FAILURE(s->seekToOffset(-4));
    test::ContinueAfterAssertions continuing;
    test::LogCapture log;
    for (int64_t offset : {5, 21, -4}) s->seekToOffset(offset);
    EXPECT_EQ(s->offset(), 5);
    EXPECT_EQ(read(*s, 100), contents.substr(15, 15));  // never outside [10, 30)
    EXPECT_TRUE(log.contains("Offset is too large."));
}

TEST_F(FileStreams, OutputReplacesAnExistingFile) {
    {
        KQUFileOutputStream out(dir.file("hundred"));
        out.writeBuffer("abc", 3);
        EXPECT_EQ(out.offset(), 3);
        out.seekToOffset(1, SEEK_SET);
        out.writeBuffer("X", 1);
        out.close();
        out.close();
        EXPECT_ASSERTION_FAILURE(out.writeBuffer("z", 1));
    }
    EXPECT_EQ(test::readFile(dir.file("hundred")), "aXc");
    EXPECT_KQU_THROW(KQUFileOutputStream(dir.file("no/such/dir")), "KQUFileOpenError", "");
}

// Bytes that cannot be written when the buffer is flushed at close must not be reported as success.
TEST_F(FileStreams, CloseReportsBytesLostAtTheLastFlush) {
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = {1000, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    KQUFileOutputStream out(dir.file("limited"));
    std::string bytes(2000, 'z');
    out.writeBuffer(bytes.data(), 2000);  // still buffered
    EXPECT_KQU_THROW(out.close(), "KQUFileWriteError", "Could not write: File too large");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
}

TEST_F(FileStreams, OpenFailuresCarryTheSystemError) {
    EXPECT_KQU_THROW(KQUOpen(dir.file("none/x"), O_RDONLY, 0), "KQUOpenError",
                     "Could not open " + dir.file("none/x") + ": No such file or directory");
    EXPECT_KQU_THROW(KQUFileOpen(dir.file("none/x"), "r"), "KQUFileOpenError", "");
    EXPECT_KQU_THROW(KQUDup(-1), "KQUDupError", "Could not dup -1: Bad file descriptor");
    EXPECT_KQU_THROW(KQUFdOpen(-1, "r"), "KQUFdOpenError", "");
}

TEST_F(FileStreams, CreatedFromAnOffsetToTheEnd) {
    auto s = KQUFileInputStream::create(dir.file("hundred"), 30);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->length(), 70);
    EXPECT_EQ(read(*s, 1000), contents.substr(30));
    EXPECT_EQ(s->offset(), 70);
    EXPECT_EQ(read(*KQUFileInputStream::create(dir.file("hundred"), 100), 10), "");
    EXPECT_FALSE(KQUFileInputStream::create(dir.file("hundred"), 101) ||
                 KQUFileInputStream::create(dir.file("missing")));
    EXPECT_EQ(KQUFileInputStream::create("", 0, 0), nullptr);
}

TEST_F(FileStreams, ClosedStreamsRefuseUseAndCloseTwiceHarmlessly) {
    auto s = KQUFileInputStream::create(dir.file("hundred"));
    s->close();
    s->close();
    char buf[4];
    EXPECT_ASSERTION_FAILURE((void)s->readToBuffer(buf, 4));
    EXPECT_ASSERTION_FAILURE(s->seekToOffset(0));
    s->disableSystemCaching();  // nothing to do once closed
    EXPECT_EQ(s->closeLocalStream(), nullptr);
}

TEST_F(FileStreams, DescriptorsAreCloseOnExec) {
    int fd = KQUOpen(dir.file("hundred"), O_RDONLY, 0);
    int copy = KQUDup(fd);
    FILE* file = KQUFileOpen(dir.file("hundred"), "r");
    EXPECT_NE(copy, fd);
    for (int descriptor : {fd, copy, fileno(file)}) EXPECT_TRUE(::fcntl(descriptor, F_GETFD) & FD_CLOEXEC);
    std::fclose(file);
    ::close(fd);
    ::close(copy);
}

TEST_F(FileStreams, CachingSwitches) {
    auto s = KQUFileInputStream::create(dir.file("hundred"));
    s->disableSystemCaching();
    EXPECT_EQ(read(*s, 100), contents);
    s->enableSystemCaching();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[1]);
    auto piped = KQUFileInputStream::createWithFileDescriptor(fds[0], 0, 0);
    EXPECT_KQU_THROW(piped->disableSystemCaching(), "KQUFcntlError",
                     "Could not set F_NOCACHE on read stream.: Illegal seek");
}

}  // namespace
