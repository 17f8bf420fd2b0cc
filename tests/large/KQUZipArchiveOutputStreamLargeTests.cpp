// The archive writer beyond 4 GiB: entries and offsets that need Zip64, and truncation
// past the 32-bit range, read back by Python's zipfile (sizes and SHA-256 of the contents),
// Info-ZIP unzip and 7-Zip. Slow (several GiB of I/O).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <fmt/format.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;

namespace {

void expectToolsAccept(const std::string& path) {
    std::string output;
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}' 2>&1", path), &output), 0) << output;
    EXPECT_EQ(runCommand(fmt::format("python3 -m zipfile -t '{}' 2>&1", path), &output), 0) << output;
    EXPECT_EQ(runCommand(fmt::format("7z t '{}' 2>&1", path), &output), 0) << output;
}

// OpenSSL's SHA-256 over bytes given in pieces.
struct Sha256 {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    Sha256() { EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr); }
    void update(const void* bytes, size_t size) { EVP_DigestUpdate(context.get(), bytes, size); }
    std::string hex() {
        unsigned char digest[32];
        EVP_DigestFinal_ex(context.get(), digest, nullptr);
        return toHex(digest, 32);
    }
};

}  // namespace

// A real entry of more than 4 GiB (stored) and a deflated one, read back by every tool;
// the last entry, past 4 GiB, removed again by truncation.
TEST(ZipWriterLarge, EntriesOver4GiBReadBackInEveryTool) {
    TempDir dir;
    std::string path = dir.file("large.zip");
    std::map<std::string, std::string> expected;
    const uint64_t bigSize = (4ull << 30) + 12345;
    {
        KQUZipArchiveOutputStream zip(path);
        zip.beginEntry("big.bin", false, bigSize);
        std::string block = patternBytes(1 << 20, 77);
        Sha256 sha;
        for (uint64_t written = 0, i = 0; written < bigSize; ++i) {
            std::memcpy(block.data(), &i, sizeof i);  // no two blocks alike
            auto n = static_cast<uint32_t>(std::min<uint64_t>(block.size(), bigSize - written));
            zip.writeBuffer(block.data(), n);
            sha.update(block.data(), n);
            written += n;
        }
        expected["big.bin"] = fmt::format("{} {}", bigSize, sha.hex());

        zip.beginUnknownSizeEntry("zeros.deflated", true);
        std::string zeros(1 << 20, '\0');
        Sha256 zeroSha;
        const uint64_t zeroSize = (4ull << 30) + (1 << 20);
        for (uint64_t written = 0; written < zeroSize; written += zeros.size()) {
            zip.writeBuffer(zeros.data(), static_cast<uint32_t>(zeros.size()));
            zeroSha.update(zeros.data(), zeros.size());
        }
        expected["zeros.deflated"] = fmt::format("{} {}", zeroSize, zeroSha.hex());

        zip.beginEntry("small.txt", false, 5);
        zip.writeBuffer("small", 5);
        expected["small.txt"] = fmt::format("5 {}", KQUSha256HexHashString("small"));
        zip.beginEntry("tail.txt", false, 4);
        zip.writeBuffer("tail", 4);
        uint64_t tailOffset = zip.entries().back()->offset;
        ASSERT_GT(tailOffset, 8ull << 30 >> 1);
        zip.removeEntry("tail.txt");
        EXPECT_EQ(std::filesystem::file_size(path), tailOffset);
        zip.close();
    }
    std::string script =
        "import sys, zipfile, hashlib\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    for i in z.infolist():\n"
        "        h = hashlib.sha256(); n = 0\n"
        "        with z.open(i) as f:\n"
        "            while True:\n"
        "                b = f.read(1 << 22)\n"
        "                if not b: break\n"
        "                h.update(b); n += len(b)\n"
        "        print(i.filename + '\\t' + str(n) + ' ' + h.hexdigest())\n";
    std::string output;
    ASSERT_EQ(runCommand(fmt::format("python3 -c \"{}\" '{}'", script, path), &output), 0) << output;
    std::map<std::string, std::string> contents;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        contents[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
    EXPECT_EQ(contents, expected);
    expectToolsAccept(path);
}
