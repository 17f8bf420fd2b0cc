// Beyond 4 GiB (slow, several GiB of I/O): an entry written by Python's zipfile from a sparse file
// read through its Zip64 fields to its last byte; the writer's entries and offsets that need Zip64
// and truncation past the 32-bit range, read back by Python's zipfile (sizes and SHA-256 of the
// contents), Info-ZIP unzip and 7-Zip.
#include <openssl/evp.h>

#include <fmt/format.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

using namespace kqu::test;

TEST(ZipReaderLarge, EntryOverFourGiB) {
    TempDir dir;
    const uint64_t holeSize = 4'700'000'000;
    ASSERT_EQ(
        runCommand(fmt::format(
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
    EXPECT_EQ(std::tuple(total, last, allZero), std::tuple(holeSize + 4, "tail", true));
}

// Writes size bytes into the current entry in blocks and answers "size sha256" (OpenSSL's).
std::string writeBlocks(KQUZipArchiveOutputStream& zip, uint64_t size, bool zeros) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr);
    std::string block = zeros ? std::string(1 << 20, '\0') : patternBytes(1 << 20, 77);
    for (uint64_t written = 0, i = 0; written < size; ++i, written += block.size()) {
        if (!zeros) std::memcpy(block.data(), &i, sizeof i);  // no two blocks alike
        block.resize(std::min<uint64_t>(block.size(), size - written));
        zip.writeBuffer(block.data(), static_cast<uint32_t>(block.size()));
        EVP_DigestUpdate(sha.get(), block.data(), block.size());
    }
    unsigned char digest[32];
    EVP_DigestFinal_ex(sha.get(), digest, nullptr);
    return fmt::format("{} {}", size, toHex(digest, 32));
}

// A real entry of more than 4 GiB (stored) and a deflated one, read back by every tool;
// the last entry, past 4 GiB, removed again by truncation.
TEST(ZipWriterLarge, EntriesOver4GiBReadBackInEveryTool) {
    TempDir dir;
    std::string path = dir.file("large.zip");
    std::string expected;
    {
        KQUZipArchiveOutputStream zip(path);
        const uint64_t bigSize = (4ull << 30) + 12345;
        zip.beginEntry("big.bin", false, bigSize);
        expected = "big.bin " + writeBlocks(zip, bigSize, false) + "\n";
        zip.beginUnknownSizeEntry("zeros.deflated", true);
        expected += "zeros.deflated " + writeBlocks(zip, (4ull << 30) + (1 << 20), true) + "\n";
        zip.beginEntry("small.txt", false, 5);
        zip.writeBuffer("small", 5);
        expected += fmt::format("small.txt 5 {}\n", KQUSha256HexHashString("small"));
        zip.beginEntry("tail.txt", false, 4);
        zip.writeBuffer("tail", 4);
        uint64_t tailOffset = zip.entries().back()->offset;
        ASSERT_GT(tailOffset, 8ull << 30 >> 1);
        zip.removeEntry("tail.txt");
        EXPECT_EQ(std::filesystem::file_size(path), tailOffset);
        zip.close();
    }
    std::string output;
    ASSERT_EQ(runCommand(fmt::format(R"(python3 -c "
import sys, zipfile, hashlib
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        h, n = hashlib.sha256(), 0
        with z.open(i) as f:
            while b := f.read(1 << 22): h.update(b); n += len(b)
        print(i.filename, n, h.hexdigest())
" '{}')",
                                     path),
                         &output),
              0)
        << output;
    EXPECT_EQ(output, expected);
    for (const char* check : {"unzip -tqq '{}' 2>&1", "python3 -m zipfile -t '{}' 2>&1", "7z t '{}' 2>&1"})
        EXPECT_EQ(runCommand(fmt::format(fmt::runtime(check), path), &output), 0) << output;
}

}  // namespace
}  // namespace kqu
