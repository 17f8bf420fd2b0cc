// What the reader shares between entries: one descriptor for every stream of an archive
// file (no descriptor per stream), kept open by the streams after the archive is gone, and
// one block of entries that lives as long as any entry handed out.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;

namespace {

int openDescriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (::readdir(dir)) ++count;
    ::closedir(dir);
    return count;
}

std::string contents(const std::shared_ptr<KQUInputStream>& stream) {
    std::string out;
    char buffer[7];  // odd, small reads
    while (uint32_t n = stream->readToBuffer(buffer, sizeof buffer)) out.append(buffer, n);
    return out;
}

}  // namespace

TEST(ZipReaderSharing, StreamsShareOneDescriptorThatOutlivesTheArchive) {
    TempDir dir;
    std::string path = dir.file("a.zip");
    {
        KQUZipArchiveOutputStream zip(path);
        for (int i = 0; i < 20; ++i) {
            std::string data = fmt::format("entry {} ", i) + std::string(static_cast<size_t>(i) * 100, 'x');
            zip.beginEntry(fmt::format("Doc/part{:02}.xml", i), i % 2 == 0, data.size());
            zip.writeBuffer(data.data(), static_cast<uint32_t>(data.size()));
        }
        zip.close();
    }
    std::vector<std::shared_ptr<KQUInputStream>> streams;
    std::shared_ptr<KQUZipEntry> kept;
    int before = 0;
    {
        auto archive = std::make_unique<KQUZipArchive>(path, true);
        before = openDescriptors();
        for (int i = 0; i < 20; ++i) streams.push_back(archive->entryWithName(fmt::format("part{:02}.xml", i))->inputStream());
        EXPECT_EQ(openDescriptors(), before);
        kept = archive->entryWithName("part07.xml");
    }
    // The archive object is gone: its streams and the entry handed out still read.
    ::unlink(path.c_str());
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(contents(streams[static_cast<size_t>(i)]),
                  fmt::format("entry {} ", i) + std::string(static_cast<size_t>(i) * 100, 'x'));
    EXPECT_EQ(kept->name(), "Doc/part07.xml");
    EXPECT_EQ(contents(kept->inputStream()), "entry 7 " + std::string(700, 'x'));
    streams.clear();
    kept.reset();
    EXPECT_EQ(openDescriptors(), before - 1);  // the last holder closed the file
}
