// Damaged packages are refused cleanly: truncated archives and flipped bits, in an archive
// written by Info-ZIP, and bogus Zip64 fields end in a KQUException (never another
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

// Python writes an archive with Zip64 end records; the directory offset is then made bogus,
// and an entry made to overlap another, with struct.pack at known offsets. (The other
// Zip64 fields are damaged one by one in ZipReaderOpen.Zip64EndRecords.)
TEST(ZipReaderDamage, BogusZip64FieldsAndOverlaps) {
    TempDir dir;
    test::writeFile(
        dir.file("make.py"),
        fmt::format(
            "import zipfile, struct\n"
            "path = '{0}/base.zip'\n"
            "with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:\n"
            "    for i in range(3):\n"
            "        with z.open('e%d' % i, 'w', force_zip64=True) as f: f.write(b'data %d ' % i * 50)\n"
            "data = bytearray(open(path, 'rb').read())\n"
            "eocd = len(data) - 22\n"
            "def save(name, patched): open('{0}/' + name, 'wb').write(patched)\n"
            "# Force the Zip64 end records: escape the 32-bit fields and add them.\n"
            "size, offset = struct.unpack_from('<II', data, eocd + 12)\n"
            "z64 = struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, 3, 3, size, offset)\n"
            "loc = struct.pack('<IIQI', 0x07064b50, 0, eocd, 1)\n"
            "end = bytearray(data[eocd:])\n"
            "struct.pack_into('<HHII', end, 8, 0xffff, 0xffff, 0xffffffff, 0xffffffff)\n"
            "good = data[:eocd] + z64 + loc + end\n"
            "save('zip64.zip', good)\n"
            "bad = bytearray(good); struct.pack_into('<Q', bad, eocd + 48, 1 << 62); save('offset.zip', "
            "bad)\n"
            "second = data.find(b'PK\\x01\\x02', data.find(b'PK\\x01\\x02') + 4)\n"
            "bad = bytearray(good); struct.pack_into('<I', bad, second + 42, 0); save('overlap.zip', bad)\n",
            dir.path()));
    ASSERT_EQ(runCommand(fmt::format("python3 '{}'", dir.file("make.py"))), 0);
    ASSERT_TRUE(readsAsSound(test::readFile(dir.file("zip64.zip"))));
    EXPECT_EQ(KQUZipArchive(dir.file("zip64.zip")).entryCount(), 3u);
    for (const char* name : {"offset.zip", "overlap.zip"})
        EXPECT_FALSE(readsAsSound(test::readFile(dir.file(name)))) << name;
}

}  // namespace
}  // namespace kqu
