// The reader against packages written by tools nobody here wrote: Info-ZIP zip (also
// streamed from a pipe, with data descriptors and Zip64 local fields), Python's zipfile
// (stored, deflated, forced Zip64, more than 65535 entries) and 7z. Every archive is made
// at test time in a scratch folder; Python's zipfile supplies the known answers.
#include <fmt/format.h>

#include <map>
#include <sstream>

#include "kqutility/zip/KQUZipArchive.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

using test::runCommand;
using test::TempDir;

struct Listing {
    uint64_t size;
    uint64_t compressedSize;
    uint32_t crc;
};

// What Python's zipfile sees in an archive, name -> sizes and CRC.
std::map<std::string, Listing> pythonListing(const std::string& archive) {
    std::string output;
    int status = runCommand(fmt::format("python3 -c \"import zipfile,sys\n"
                                        "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                        "  print(i.file_size, i.compress_size, i.CRC, i.filename)\" '{}'",
                                        archive),
                            &output);
    EXPECT_EQ(status, 0);
    std::map<std::string, Listing> listing;
    std::istringstream lines(output);
    Listing l;
    std::string name;
    while (lines >> l.size >> l.compressedSize >> l.crc && std::getline(lines, name))
        listing[name.substr(1)] = l;
    return listing;
}

// Opens the archive, compares every entry with Python's listing and with the file of the
// same name under sourceDir (when given), and returns the number of entries.
size_t checkArchive(const std::string& archivePath, const std::string& sourceDir = "") {
    KQUZipArchive archive(archivePath);
    auto expected = pythonListing(archivePath);
    EXPECT_EQ(archive.entryCount(), expected.size());
    for (const auto& [name, listing] : expected) {
        auto entry = archive.entryWithName(name);
        if (!entry) {
            ADD_FAILURE() << "missing entry " << name;
            continue;
        }
        EXPECT_EQ(entry->uncompressedSize(), listing.size) << name;
        EXPECT_EQ(entry->compressedSize(), listing.compressedSize) << name;
        EXPECT_EQ(entry->crc(), listing.crc) << name;
        if (!sourceDir.empty() && name.back() != '/') {
            auto data = entry->data();
            EXPECT_EQ(std::string(data->begin(), data->end()), test::readFile(sourceDir + "/" + name))
                << name;
        }
    }
    return archive.entryCount();
}

// A small tree of files: text that compresses, random bytes that do not, an empty file.
void makeTree(const TempDir& dir) {
    ASSERT_EQ(runCommand(
                  fmt::format("mkdir -p '{0}/src/sub' && seq 1 20000 > '{0}/src/numbers.txt' && "
                              ": > '{0}/src/empty' && head -c 300000 /dev/urandom > '{0}/src/sub/random.bin'",
                              dir.path())),
              0);
}

TEST(ZipReaderInterop, InfoZip) {
    TempDir dir;
    makeTree(dir);
    ASSERT_EQ(runCommand(fmt::format(
                  "cd '{0}/src' && zip -q -r ../deflated.zip . && zip -q -0 -r ../stored.zip .", dir.path())),
              0);
    EXPECT_EQ(checkArchive(dir.file("deflated.zip"), dir.file("src")), 4u);
    EXPECT_EQ(checkArchive(dir.file("stored.zip"), dir.file("src")), 4u);
}

TEST(ZipReaderInterop, InfoZipStreamedFromPipe) {
    TempDir dir;
    makeTree(dir);
    // Reading standard input and written to a pipe, zip cannot seek back: a data
    // descriptor follows the data, and the local header carries a Zip64 extra field.
    // (With -fz in a pipe zip 3.0 writes an archive no reader accepts, so that is not used.)
    ASSERT_EQ(runCommand(fmt::format("cd '{0}' && cat src/numbers.txt | zip -q - - | cat > piped.zip && "
                                     "cat src/sub/random.bin | zip -q - - | cat > piped64.zip",
                                     dir.path())),
              0);
    for (const char* name : {"piped.zip", "piped64.zip"}) {
        auto bytes = test::readFile(dir.file(name));
        EXPECT_EQ(bytes[6] & 8, 8) << "expected a data descriptor";
        EXPECT_EQ(bytes.substr(30 + 1, 2), std::string("\x01\x00", 2))
            << "expected a Zip64 local extra field";
        checkArchive(dir.file(name));
    }
    auto numbers = KQUZipArchive(dir.file("piped.zip")).entryWithName("-")->data();
    EXPECT_EQ(std::string(numbers->begin(), numbers->end()), test::readFile(dir.file("src/numbers.txt")));
    auto random = KQUZipArchive(dir.file("piped64.zip")).entryWithName("-")->data();
    EXPECT_EQ(std::string(random->begin(), random->end()), test::readFile(dir.file("src/sub/random.bin")));
}

TEST(ZipReaderInterop, PythonZipfile) {
    TempDir dir;
    makeTree(dir);
    std::string script = fmt::format(
        "import zipfile, os\n"
        "src = '{0}/src'\n"
        "files = ['numbers.txt', 'empty', 'sub/random.bin']\n"
        "for name, method in (('deflated.zip', zipfile.ZIP_DEFLATED), ('stored.zip', zipfile.ZIP_STORED)):\n"
        "    with zipfile.ZipFile('{0}/' + name, 'w', method) as z:\n"
        "        for f in files: z.write(os.path.join(src, f), f)\n"
        "with zipfile.ZipFile('{0}/zip64.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for f in files:\n"
        "        with z.open(f, 'w', force_zip64=True) as out, open(os.path.join(src, f), 'rb') as inp:\n"
        "            out.write(inp.read())\n",
        dir.path());
    test::writeFile(dir.file("make.py"), script);
    ASSERT_EQ(runCommand(fmt::format("python3 '{}'", dir.file("make.py"))), 0);
    EXPECT_EQ(checkArchive(dir.file("deflated.zip"), dir.file("src")), 3u);
    EXPECT_EQ(checkArchive(dir.file("stored.zip"), dir.file("src")), 3u);
    EXPECT_EQ(checkArchive(dir.file("zip64.zip"), dir.file("src")), 3u);
}

TEST(ZipReaderInterop, PythonZipfileManyEntries) {
    TempDir dir;
    test::writeFile(dir.file("make.py"),
                    fmt::format("import zipfile\n"
                                "with zipfile.ZipFile('{0}/many.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                "    for i in range(70000): z.writestr('f%05d' % i, str(i) * (i % 5))\n",
                                dir.path()));
    ASSERT_EQ(runCommand(fmt::format("python3 '{}'", dir.file("make.py"))), 0);
    KQUZipArchive archive(dir.file("many.zip"));
    ASSERT_EQ(archive.entryCount(), 70000u);
    for (int i : {0, 1, 65534, 65535, 65536, 69999}) {
        auto data = archive.entryWithName(fmt::format("f{:05d}", i))->data();
        std::string expected;
        for (int k = 0; k < i % 5; ++k) expected += std::to_string(i);
        EXPECT_EQ(std::string(data->begin(), data->end()), expected) << i;
    }
}

TEST(ZipReaderInterop, SevenZip) {
    TempDir dir;
    makeTree(dir);
    ASSERT_EQ(runCommand(fmt::format("cd '{0}/src' && 7z a -tzip -bd -bso0 -bsp0 ../seven.zip . && "
                                     "7z a -tzip -mx0 -bd -bso0 -bsp0 ../seven0.zip .",
                                     dir.path())),
              0);
    checkArchive(dir.file("seven.zip"), dir.file("src"));
    checkArchive(dir.file("seven0.zip"), dir.file("src"));
}

TEST(ZipReaderInterop, KquToolAgreesWithPython) {
    TempDir dir;
    makeTree(dir);
    ASSERT_EQ(runCommand(fmt::format("cd '{0}/src' && zip -q -r ../a.zip .", dir.path())), 0);
    std::string listing;
    ASSERT_EQ(runCommand(fmt::format("'{}' zip list --porcelain '{}'", KQU_TOOL_PATH, dir.file("a.zip")), &listing), 0);
    auto expected = pythonListing(dir.file("a.zip"));
    std::istringstream lines(listing);
    std::string line;
    size_t count = 0;
    while (std::getline(lines, line)) {
        ++count;
        std::istringstream fields(line);
        uint64_t size, compressed;
        std::string method, crc, name;
        fields >> size >> compressed >> method >> crc;
        std::getline(fields, name);
        name = name.substr(1);
        ASSERT_TRUE(expected.count(name)) << line;
        EXPECT_EQ(size, expected[name].size);
        EXPECT_EQ(compressed, expected[name].compressedSize);
        EXPECT_EQ(crc, fmt::format("{:08x}", expected[name].crc));
        EXPECT_TRUE(method == "stored" || method == "deflated") << method;
    }
    EXPECT_EQ(count, expected.size());

    std::string bytes;
    ASSERT_EQ(
        runCommand(fmt::format("'{}' zip cat '{}' sub/random.bin", KQU_TOOL_PATH, dir.file("a.zip")), &bytes),
        0);
    EXPECT_EQ(bytes, test::readFile(dir.file("src/sub/random.bin")));
    ASSERT_EQ(runCommand(fmt::format("'{}' zip extract '{}' '{}'", KQU_TOOL_PATH, dir.file("a.zip"),
                                     dir.file("out"))),
              0);
    EXPECT_EQ(runCommand(fmt::format("diff -r '{}' '{}'", dir.file("src"), dir.file("out"))), 0);
    EXPECT_EQ(runCommand(fmt::format("'{}' zip test '{}'", KQU_TOOL_PATH, dir.file("a.zip"))), 0);
}

}  // namespace
}  // namespace kqu
