// Crafted packages: names the writer keeps for itself, and local headers that disagree
// with the central directory.
#include <gtest/gtest.h>

#include <fstream>

#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipException.h"
#include "kqutility/zip/KQUZipHeaderCheck.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

using test::TempDir;

TEST(KQUZipWriterNames, FreeSpaceNamesAreRefusedBeforeAnythingChanges) {
    TempDir dir;
    std::string path = dir.file("p.zip");
    {
        KQUZipArchiveOutputStream writer(path);
        writer.beginEntry("kept.txt", false, 2);
        writer.writeBuffer("ok", 2);
        EXPECT_KQU_THROW(writer.beginEntry(".QlTrash/0000ABCD", false, 1), "KQUZipOutputError",
                         "File name .QlTrash/0000ABCD is reserved for free space");
        // Names that only look alike are ordinary names.
        writer.beginEntry(".QlTrash/0000abcd", false, 1);
        writer.writeBuffer("x", 1);
        writer.close();
    }
    EXPECT_EQ(KQUZipArchive(path).allEntries().size(), 2u);
    EXPECT_EQ(test::readFile(path).find(".QlTrash/0000ABCD"), std::string::npos);
}

// Python's zipfile writes the package; the test then damages one copy of a field.
class KQUZipLocalHeaderCheck : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("p.zip");
        ASSERT_EQ(test::runCommand("python3 -c \"import zipfile,sys\n"
                                   "with zipfile.ZipFile(sys.argv[1],'w') as z:\n"
                                   " z.writestr('a.txt', 'alpha'*100, zipfile.ZIP_DEFLATED)\n"
                                   " z.writestr('b.txt', 'beta')\" " +
                                   path),
                  0);
        bytes = test::readFile(path);
    }
    std::vector<std::string> checkAfter(size_t offset, char value) {
        bytes[offset] = value;
        test::writeFile(path, bytes);
        KQUZipArchive archive(path);
        std::vector<std::string> all;
        for (const auto& entry : archive.allEntries())
            for (auto& sentence : KQUZipLocalHeaderDisagreements(*entry))
                all.push_back(std::string(entry->name()) + ": " + sentence);
        return all;
    }
    TempDir dir;
    std::string path, bytes;
};

TEST_F(KQUZipLocalHeaderCheck, EachDamagedCentralFieldIsNamed) {
    const size_t central = bytes.find("PK\x01\x02"), second = bytes.find("PK\x01\x02", central + 4);
    const std::string original = bytes;
    EXPECT_TRUE(checkAfter(0, bytes[0]).empty());  // agreeing headers
    const struct {
        size_t at;
        int change;  // added to the byte
        const char* found;
    } cases[] = {
        {second + 46, 'c' - 'b', "c.txt: the local header names it \"b.txt\""},  // renamed for every reader
        {central + 16, 1, "a.txt: the local header gives CRC-32"},
        {second + 10, 8,
         "b.txt: the local header gives method 0, the directory 8"},  // stored b.txt claims deflate
        {central + 24, 1, "a.txt: the local header gives size 500"},
        {0, 'X' - 'P', "a.txt: its local header has no signature"},
    };
    for (const auto& c : cases) {
        bytes = original;
        auto found = checkAfter(c.at, static_cast<char>(bytes[c.at] + c.change));
        ASSERT_FALSE(found.empty()) << c.found;
        EXPECT_EQ(found[0].rfind(c.found, 0), 0u) << found[0];
    }
}

// An encrypted entry's CRC-32 covers its stored bytes only: the plaintext length is
// checked against the directory record on its own.
TEST(KQUZipEncryptedEntrySize, APlaintextOfAnotherLengthThanRecordedIsDamage) {
    test::TempDir dir;
    std::string path = dir.file("p.zip");
    uint8_t raw[16] = {7};
    auto key = KQUCryptoKey::createWithKeyBytes(raw, 4000);
    std::string text = test::patternBytes(3000, 5);
    for (bool compressed : {false, true}) {
        {
            KQUZipArchiveOutputStream writer(path, key);
            writer.beginEntry("part", compressed, text.size());
            writer.writeBuffer(text.data(), static_cast<uint32_t>(text.size()));
            writer.close();
        }
        std::string bytes = test::readFile(path);
        size_t central = bytes.find("PK\x01\x02");
        ASSERT_NE(central, std::string::npos);
        for (uint32_t recorded : {1000u, 3001u, 3000u}) {
            for (int i = 0; i < 4; ++i) bytes[central + 24 + i] = static_cast<char>(recorded >> (8 * i));
            test::writeFile(path, bytes);
            KQUZipArchive archive(path);
            archive.setCryptoKey(key);
            auto stream = archive.allEntries().at(0)->inputStream();
            std::string buffer(4096, '\0');
            auto readAll = [&] {
                size_t total = 0;
                while (uint32_t n = stream->readToBuffer(buffer.data(), 4096)) total += n;
                return total;
            };
            if (recorded == 3000u) {
                EXPECT_EQ(readAll(), 3000u) << compressed;
            } else {
                EXPECT_THROW(readAll(), KQUZipException) << compressed << " " << recorded;
            }
        }
    }
}

}  // namespace
}  // namespace kqu
