// The writer's entry attributes and raw entry copies, checked with Python's zipfile: what
// another tool made (old dates, Unix modes, stored and deflated entries) must come out
// of a raw copy with the same records and the same stored bytes.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <ctime>
#include <filesystem>

#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;

namespace {

// One line per entry as Python's zipfile sees it, the data read (CRCs checked) and the
// stored bytes hashed: name, date_time, create_system, external_attr >> 16 (octal),
// compress_type, CRC, compress_size, file_size, sha1 of the stored bytes.
std::string describe(const std::string& path) {
    std::string output;
    int status = runCommand(fmt::format(R"(python3 -c "
import hashlib, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
raw = open(sys.argv[1], 'rb').read()
for i in z.infolist():
    z.read(i)
    n = int.from_bytes(raw[i.header_offset + 26:i.header_offset + 28], 'little')
    e = int.from_bytes(raw[i.header_offset + 28:i.header_offset + 30], 'little')
    start = i.header_offset + 30 + n + e
    print(i.filename, i.date_time, i.create_system, oct(i.external_attr >> 16), i.compress_type,
          '%08x' % i.CRC, i.compress_size, i.file_size,
          hashlib.sha1(raw[start:start + i.compress_size]).hexdigest()[:12])
" '{}' 2>&1)",
                                        path),
                            &output);
    EXPECT_EQ(status, 0) << output;
    return output;
}

// A package as another tool makes it: 2022 dates, Unix modes, stored and deflated entries.
void makeForeignPackage(const std::string& path) {
    ASSERT_EQ(runCommand(fmt::format(R"(python3 -c "
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, mode, method, data in [
            ('doc/', 0o40755, zipfile.ZIP_STORED, b''),
            ('doc/index.xml', 0o100644, zipfile.ZIP_DEFLATED, b'<index>' + b'<item/>' * 500 + b'</index>'),
            ('doc/run.sh', 0o100755, zipfile.ZIP_STORED, b'#!/bin/sh\necho hi\n'),
            ('doc/data.bin', 0o100600, zipfile.ZIP_DEFLATED, bytes(range(256)) * 300)]:
        i = zipfile.ZipInfo(name, (2022, 3, 14, 15, 9, 26))
        i.create_system = 3
        i.external_attr = mode << 16
        i.compress_type = method
        z.writestr(i, data)
" '{}')",
                                     path)),
              0);
}

class ZipRawCopy : public ::testing::Test {
protected:
    TempDir dir;
    KQUCryptoKeyRef keyA = KQUCryptoKey::createAes128KeyFromPassphrase("alpha", 10);
    KQUCryptoKeyRef keyB = KQUCryptoKey::createAes128KeyFromPassphrase("beta", 10);
};

}  // namespace

TEST_F(ZipRawCopy, CopiesKeepRecordsAndStoredBytesAndFillFreeRanges) {
    std::string source = dir.file("foreign.zip"), copy = dir.file("copy.zip");
    makeForeignPackage(source);
    KQUZipArchive archive(source);
    {
        KQUZipArchiveOutputStream zip(copy);
        for (const auto& entry : archive.allEntries()) zip.copyEntry(*entry);
        zip.close();
    }
    EXPECT_EQ(describe(copy), describe(source));
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}'", copy)), 0);

    // A copy lands in a free range that fits, like a stored entry of known size; a new
    // name is taken when given.
    std::string reuse = dir.file("reuse.zip");
    KQUZipArchiveOutputStream zip(reuse);
    zip.beginEntry("first", false, 40000);
    zip.writeData(std::span(reinterpret_cast<const uint8_t*>(patternBytes(40000).data()), 40000));
    zip.beginEntry("last", false, 3);
    zip.writeBuffer("end", 3);
    zip.removeEntry("first");
    auto script = archive.entryWithName("doc/run.sh");
    zip.copyEntry(*script, "bin/run.sh");
    EXPECT_EQ(zip.entries().back()->offset, 0u);
    zip.close();
    std::string listing = describe(reuse);
    EXPECT_NE(listing.find("bin/run.sh (2022, 3, 14, 15, 9, 26) 3 0o100755 0 "), std::string::npos)
        << listing;
    EXPECT_NE(listing.find(".QlTrash/00000001"), std::string::npos) << listing;
}

TEST_F(ZipRawCopy, EncryptedEntriesOnlyMoveBetweenPackagesWithTheSameKey) {
    std::string source = dir.file("secret.zip");
    {
        KQUZipArchiveOutputStream zip(source, keyA);
        zip.beginEntry("a.xml", true, 13);
        zip.writeBuffer("<a>secret</a>", 13);
        zip.close();
    }
    KQUZipArchive archive(source);
    auto entry = archive.entryWithName("a.xml");

    // No key set on the source, another key, or no key in the writer: refused, nothing added.
    for (auto [sourceKey, writerKey] :
         {std::pair{KQUCryptoKeyRef{}, keyA}, std::pair{keyA, keyB}, std::pair{keyA, KQUCryptoKeyRef{}}}) {
        archive.setCryptoKey(sourceKey);
        KQUZipArchiveOutputStream zip(dir.file("refused.zip"), writerKey);
        EXPECT_KQU_THROW(zip.copyEntry(*entry), "KQUZipOutputError",
                         "Entry a.xml is encrypted under another key");
        EXPECT_TRUE(zip.entries().empty());
        zip.close();
    }

    // (Copies under the same key: KquZipAdd, which copies the kept entries of an encrypted package.)
}

TEST_F(ZipRawCopy, DamagedStoredBytesAreNotCopied) {
    std::string source = dir.file("foreign.zip");
    makeForeignPackage(source);
    std::string bytes = readFile(source);
    size_t at = bytes.find("echo hi");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'E';
    writeFile(source, bytes);
    KQUZipArchive archive(source);
    std::string copy = dir.file("copy.zip");
    KQUZipArchiveOutputStream zip(copy);
    zip.copyEntry(*archive.entryWithName("doc/index.xml"));
    auto sizeBefore = std::filesystem::file_size(copy);
    EXPECT_KQU_THROW(zip.copyEntry(*archive.entryWithName("doc/run.sh")), "KQUZipOutputError", "");
    EXPECT_EQ(std::filesystem::file_size(copy), sizeBefore);
    EXPECT_EQ(zip.entryNames(), std::vector<std::string>{"doc/index.xml"});
    zip.close();
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}'", copy)), 0);
}
