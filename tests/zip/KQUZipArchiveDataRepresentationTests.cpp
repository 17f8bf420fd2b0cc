// Range streams over archives in files and in memory.
#include <unistd.h>

#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

std::string readAll(KQUInputStream& stream) {
    std::string all;
    char buffer[100];
    while (uint32_t n = stream.readToBuffer(buffer, sizeof buffer)) all.append(buffer, n);
    return all;
}

TEST(ZipArchiveDataRepresentation, FileRanges) {
    test::TempDir dir;
    test::writeFile(dir.file("a.zip"), "0123456789");
    KQUZipArchiveFileDataRepresentation archive(dir.file("a.zip"));
    EXPECT_EQ(archive.dataLength(), 10);
    EXPECT_EQ(readAll(*archive.inputStreamWithOffset(3, 4)), "3456");
    EXPECT_EQ(readAll(*archive.bufferedInputStreamWithOffset(10, 0)), "");
    for (auto [offset, length] : {std::pair{9, 2}, std::pair{-1, 1}, std::pair{0, 11}})
        EXPECT_KQU_THROW(archive.inputStreamWithOffset(offset, length), NSInvalidArgumentException,
                         "Bad input stream range.");
    // (Streams outliving the representation and the name: ZipReaderSharing.)
}

TEST(ZipArchiveDataRepresentation, SameLocation) {
    test::TempDir dir;
    test::writeFile(dir.file("a.zip"), "x");
    test::writeFile(dir.file("b.zip"), "x");
    KQUZipArchiveFileDataRepresentation a(dir.file("a.zip")), a2(dir.file("a.zip")), b(dir.file("b.zip"));
    EXPECT_TRUE(a.hasSameLocationAs(a2));
    EXPECT_TRUE(a.hasSameLocationAs(KQUFileDataRepresentation(dir.file("a.zip"))));
    EXPECT_FALSE(a.hasSameLocationAs(b));
    auto data = KQUMakeData("bytes");
    KQUZipArchiveMemoryDataRepresentation m1(data), m2(data), m3(KQUMakeData("bytes"));
    EXPECT_TRUE(m1.hasSameLocationAs(m2));
    EXPECT_FALSE(m1.hasSameLocationAs(m3));
    EXPECT_FALSE(m1.hasSameLocationAs(a));
}

TEST(ZipArchiveDataRepresentation, MissingFileIsUnreadable) {
    test::TempDir dir;
    KQUZipArchiveFileDataRepresentation archive(dir.file("missing.zip"));
    EXPECT_FALSE(archive.isReadable());
    EXPECT_EQ(archive.inputStream(), nullptr);
    EXPECT_KQU_THROW(archive.inputStreamWithOffset(0, 0), "KQUDataRepresentationError", "");
}

TEST(ZipArchiveDataRepresentation, MemoryRanges) {
    KQUZipArchiveMemoryDataRepresentation archive(KQUMakeData("0123456789"));
    EXPECT_EQ(readAll(*archive.inputStreamWithOffset(2, 3)), "234");
    EXPECT_EQ(readAll(*archive.bufferedInputStreamWithOffset(10, 0)), "");
    EXPECT_KQU_THROW(archive.bufferedInputStreamWithOffset(9, 2), NSInvalidArgumentException,
                     "Bad input stream range.");
    EXPECT_EQ(readAll(*archive.bufferedInputStreamWithBufferSize(4)), "0123456789");
    // Memory streams have 32-bit offsets: a range reaching 4 GiB or beyond is refused
    // instead of wrapping around to the block's start.
    const int64_t fourGiB = int64_t{1} << 32;
    EXPECT_TRUE(KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(fourGiB - 11, 10, fourGiB + 100));
    EXPECT_FALSE(KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(fourGiB + 5, 10, fourGiB + 100));
    EXPECT_FALSE(KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(fourGiB - 5, 10, fourGiB + 100));
    EXPECT_FALSE(KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(0, fourGiB, fourGiB + 100));
}

}  // namespace
}  // namespace kqu
