// Packages written by KQUZipArchiveOutputStream, checked by tools nobody here wrote:
// Info-ZIP unzip, Python's zipfile and 7-Zip: packages must test clean and read back
// byte for byte.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <map>
#include <sstream>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;

namespace {

// name -> "size sha256" as Python's zipfile reads it (which also checks every CRC).
std::map<std::string, std::string> pythonContents(const std::string& path) {
    std::string script =
        "import sys, zipfile, hashlib\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    for i in z.infolist():\n"
        "        d = z.read(i)\n"
        "        print(i.filename + '\\t' + str(len(d)) + ' ' + hashlib.sha256(d).hexdigest())\n";
    std::string output;
    int status = runCommand(fmt::format("python3 -c \"{}\" '{}'", script, path), &output);
    EXPECT_EQ(status, 0) << output;
    std::map<std::string, std::string> contents;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        contents[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
    return contents;
}

std::string summary(const std::string& data) {
    return fmt::format("{} {}", data.size(), KQUSha256HexHashString(data));
}

void expectToolsAccept(const std::string& path) {
    std::string output;
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}' 2>&1", path), &output), 0) << output;
    EXPECT_EQ(runCommand(fmt::format("python3 -m zipfile -t '{}' 2>&1", path), &output), 0) << output;
    EXPECT_EQ(runCommand(fmt::format("7z t '{}' 2>&1", path), &output), 0) << output;
}

void put(KQUZipArchiveOutputStream& zip, const std::string& name, const std::string& data, bool compressed,
         std::map<std::string, std::string>& expected) {
    zip.beginEntry(name, compressed, data.size());
    zip.writeBuffer(data.data(), static_cast<uint32_t>(data.size()));
    expected[name] = summary(data);
}

std::string text(int lines, int seed) {
    std::string t;
    for (int i = 0; i < lines; ++i)
        t += fmt::format("<p id=\"{}\">paragraph {} of part {}</p>\n", i, i % 37, seed);
    return t;
}

}  // namespace

TEST(ZipWriterInterop, StoredAndDeflatedPackagesReadBackInEveryTool) {
    TempDir dir;
    std::string path = dir.file("package.zip");
    std::map<std::string, std::string> expected;
    {
        KQUZipArchiveOutputStream zip(path);
        put(zip, "mimetype", "application/x-document", false, expected);
        put(zip, "Index.xml", text(20000, 1), true, expected);
        put(zip, "Data/picture.bin", patternBytes(1500000, 2), false, expected);
        put(zip, "Data/empty", "", true, expected);
        put(zip, "Ünïcode/名前.xml", text(10, 3), true, expected);
        zip.beginUnknownSizeEntry("unknown.xml", true);
        std::string unknown = text(3000, 4);
        zip.writeBuffer(unknown.data(), static_cast<uint32_t>(unknown.size()));
        expected["unknown.xml"] = summary(unknown);
        auto direct = zip.beginUncompressedUnknownSizeEntry("direct.bin");
        std::string bytes = patternBytes(70000, 5);
        direct->writeBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
        expected["direct.bin"] = summary(bytes);
        zip.close();
    }
    expectToolsAccept(path);
    EXPECT_EQ(pythonContents(path), expected);
}
