// Damaged packages are refused cleanly: truncated archives, flipped bits and overlapping
// entries, in an archive written by Info-ZIP, end in a KQUException (never another
// exception, a crash, or wrong data read as good).
#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "kqutility/zip/KQUZipArchive.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

using test::runCommand;
using test::TempDir;

// Opens bytes as an archive and reads every entry; true when all of it reads as sound,
// false when a KQUException reports damage. Any other exception fails the test.
bool readsAsSound(const std::string& bytes) {
    try {
        KQUZipArchive archive(KQUMakeData(bytes));
        for (const auto& entry : archive.allEntries()) entry->data();
        return true;
    } catch (const KQUException&) {
        return false;
    }
}

std::string makeArchive(const TempDir& dir) {
    EXPECT_EQ(runCommand(fmt::format("mkdir -p '{0}/src' && cd '{0}/src' && seq 1 3000 > text.txt && "
                                     "head -c 20000 /dev/urandom > random.bin && zip -q ../a.zip text.txt && "
                                     "zip -q -0 ../a.zip random.bin",
                                     dir.path())),
              0);
    return test::readFile(dir.file("a.zip"));
}

TEST(ZipReaderDamage, TruncatedArchivesAreRefused) {
    TempDir dir;
    std::string bytes = makeArchive(dir);
    ASSERT_TRUE(readsAsSound(bytes));
    for (size_t length = 0; length<bytes.size(); length += length + 30> bytes.size() || length < 40 ? 1 : 97)
        EXPECT_FALSE(readsAsSound(bytes.substr(0, length))) << length;
}

TEST(ZipReaderDamage, FlippedBitsNeverReadAsGoodData) {
    TempDir dir;
    std::string bytes = makeArchive(dir);
    std::string text = test::readFile(dir.file("src/text.txt"));
    std::string random = test::readFile(dir.file("src/random.bin"));
    std::mt19937 generator(7);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = bytes;
        size_t position = generator() % damaged.size();
        damaged[position] ^= static_cast<char>(1 << (generator() % 8));
        try {
            KQUZipArchive archive(KQUMakeData(damaged));
            // Whatever is read as sound must be exactly what was archived.
            for (const auto& [name, original] :
                 {std::pair{"text.txt", text}, std::pair{"random.bin", random}}) {
                auto entry = archive.entryWithName(name);
                if (!entry) continue;
                auto data = entry->data();
                EXPECT_EQ(std::string(data->begin(), data->end()), original) << "flip at " << position;
            }
        } catch (const KQUException&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 100);
}

// An entry whose local header offset points into another entry. (The Zip64 end records are
// damaged field by field in ZipReaderOpen.Zip64EndRecords.)
TEST(ZipReaderDamage, OverlappingEntriesAreRefused) {
    TempDir dir;
    std::string bytes = makeArchive(dir);
    size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
    ASSERT_NE(second, std::string::npos);
    for (int i = 0; i < 4; ++i) bytes[second + 42 + i] = 0;
    EXPECT_FALSE(readsAsSound(bytes));
}

}  // namespace
}  // namespace kqu
