// An entry of more than 4 GiB, written by Python's zipfile from a sparse file (so that it
// costs little disk), read through its Zip64 fields to its last byte.
#include <fmt/format.h>

#include "kqutility/zip/KQUZipArchive.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

TEST(ZipReaderLarge, EntryOverFourGiB) {
    test::TempDir dir;
    const uint64_t holeSize = 4'700'000'000;
    ASSERT_EQ(
        test::runCommand(fmt::format(
            "cd '{0}' && truncate -s {1} sparse && printf tail >> sparse && python3 -c \"import zipfile\n"
            "with zipfile.ZipFile('big.zip', 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as z: "
            "z.write('sparse', 'big')\" && rm sparse",
            dir.path(), holeSize)),
        0);
    KQUZipArchive archive(dir.file("big.zip"));
    auto entry = archive.entryWithName("big");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->uncompressedSize(), holeSize + 4);
    EXPECT_KQU_THROW(entry->data(), "KQUZipEntryError",
                     (fmt::format("Couldn't read data with size: {}", holeSize + 4)));

    auto stream = entry->bufferedInputStream();
    const char* bytes = nullptr;
    uint64_t total = 0;
    std::string last;
    bool allZero = true;
    while (uint32_t n = stream->readToOwnBuffer(&bytes, UINT32_MAX)) {
        uint64_t zeros = std::min<uint64_t>(n, total < holeSize ? holeSize - total : 0);
        for (uint64_t i = 0; i < zeros; i += 4096) allZero = allZero && bytes[i] == 0;
        last = std::string(bytes, n).substr(n >= 4 ? n - 4 : 0);
        total += n;
    }
    EXPECT_EQ(total, holeSize + 4);
    EXPECT_EQ(last, "tail");
    EXPECT_TRUE(allZero);
}

}  // namespace
}  // namespace kqu
