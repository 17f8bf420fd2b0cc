// Range streams over archives in files and in memory, what the reader shares between entries (one
// descriptor for every stream of an archive file, kept open by the streams after the archive is
// gone), and memory representations that keep bytes the caller can no longer change.
#include <dirent.h>
#include <unistd.h>

#include <fmt/format.h>

#include "kqutility/data/KQUDataRepresentation.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipEntry.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

namespace kqu {
namespace {

std::string readAll(KQUInputStream& stream) {
    std::string all;
    char buffer[7];  // odd, small reads
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
    EXPECT_FALSE(m1.hasSameLocationAs(m3) || m1.hasSameLocationAs(a));
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
    const long long fourGiB = 1ll << 32;
    EXPECT_TRUE(KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(fourGiB - 11, 10, fourGiB + 100));
    for (auto [offset, length] :
         {std::pair{fourGiB + 5, 10ll}, std::pair{fourGiB - 5, 10ll}, std::pair{0ll, fourGiB}})
        EXPECT_FALSE(
            KQUZipArchiveMemoryDataRepresentation::isValidMemoryRange(offset, length, fourGiB + 100));
}

int openDescriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (::readdir(dir)) ++count;
    ::closedir(dir);
    return count;
}

TEST(ZipReaderSharing, StreamsShareOneDescriptorThatOutlivesTheArchive) {
    test::TempDir dir;
    std::string path = dir.file("a.zip");
    auto part = [](int i) {
        return fmt::format("entry {} ", i) + std::string(static_cast<size_t>(i) * 100, 'x');
    };
    {
        KQUZipArchiveOutputStream zip(path);
        for (int i = 0; i < 20; ++i) {
            zip.beginEntry(fmt::format("Doc/part{:02}.xml", i), i % 2 == 0, part(i).size());
            zip.writeBuffer(part(i).data(), static_cast<uint32_t>(part(i).size()));
        }
        zip.close();
    }
    std::vector<std::shared_ptr<KQUInputStream>> streams;
    std::shared_ptr<KQUZipEntry> kept;
    int before = 0;
    {
        auto archive = std::make_unique<KQUZipArchive>(path, true);
        before = openDescriptors();
        for (int i = 0; i < 20; ++i)
            streams.push_back(archive->entryWithName(fmt::format("part{:02}.xml", i))->inputStream());
        EXPECT_EQ(openDescriptors(), before);
        kept = archive->entryWithName("part07.xml");
    }
    // The archive object is gone: its streams and the entry handed out still read.
    ::unlink(path.c_str());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(readAll(*streams[static_cast<size_t>(i)]), part(i));
    EXPECT_EQ(kept->name(), "Doc/part07.xml");
    EXPECT_EQ(readAll(*kept->inputStream()), part(7));
    streams.clear();
    kept.reset();
    EXPECT_EQ(openDescriptors(), before - 1);  // the last holder closed the file
}

// A caller that goes on using (or reallocating) its own buffer after handing it over must not
// change length, equality, hash or archive contents (before, this read freed memory).
TEST(KQUMemoryRepresentationOwnership, CallerChangingItsBufferChangesNothing) {
    std::string text = test::patternBytes(5000, 3);
    std::string zip = test::buildArchive({{.name = "doc.xml", .data = text, .deflate = true}});
    auto plain = std::make_shared<KQUData>(text.begin(), text.end());
    auto archiveBytes = std::make_shared<KQUData>(zip.begin(), zip.end());
    KQUMemoryDataRepresentation representation(plain);
    KQUZipArchive archive(archiveBytes);
    const uint32_t hashBefore = representation.hash();
    auto earlyStream = representation.inputStream();  // lent the bytes before the caller changes them

    // The caller reuses its buffers: overwrites them, then grows them (reallocation).
    std::fill(plain->begin(), plain->end(), 'x');
    std::fill(archiveBytes->begin(), archiveBytes->end(), 0);
    plain->resize(plain->size() * 8, 'y');
    archiveBytes->resize(archiveBytes->size() * 8);
    plain->shrink_to_fit();

    EXPECT_EQ(readAll(*earlyStream), text);
    EXPECT_EQ(representation.dataLength(), 5000);
    EXPECT_TRUE(representation.isEqual(KQUMemoryDataRepresentation(KQUMakeData(text))));
    EXPECT_EQ(representation.hash(), hashBefore);
    auto data = archive.entryWithName("doc.xml")->data();  // inflates and checks the CRC
    EXPECT_EQ(std::string(data->begin(), data->end()), text);
    // A sealed block is shared, not copied.
    auto sealed = KQUMakeData(text);
    EXPECT_TRUE(KQUMemoryDataRepresentation(sealed).hasSameLocationAs(KQUMemoryDataRepresentation(sealed)));
}

}  // namespace
}  // namespace kqu
