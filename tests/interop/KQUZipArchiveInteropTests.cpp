// The reader against packages written by tools nobody here wrote: Info-ZIP zip (also
// streamed from a pipe, with data descriptors and Zip64 local fields) and Python's zipfile
// (stored, deflated, forced Zip64). Every archive is made at test time in a scratch folder;
// Python's zipfile supplies the known answers.
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
        if (!entry) ADD_FAILURE() << "missing entry " << name;
        if (!entry) continue;
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
    // Reading standard input and written to a pipe, zip cannot seek back: a data
    // descriptor follows the data, and the local header carries a Zip64 extra field.
    // (With -fz in a pipe zip 3.0 writes an archive no reader accepts, so that is not used.)
    ASSERT_EQ(runCommand(fmt::format(
                  "cd '{0}/src' && zip -q -r ../deflated.zip . && zip -q -0 -r ../stored.zip . && "
                  "cat numbers.txt | zip -q - - | cat > ../numbers.zip && "
                  "cat sub/random.bin | zip -q - - | cat > ../random.zip",
                  dir.path())),
              0);
    EXPECT_EQ(checkArchive(dir.file("deflated.zip"), dir.file("src")), 4u);
    EXPECT_EQ(checkArchive(dir.file("stored.zip"), dir.file("src")), 4u);
    for (const char* name : {"numbers", "random"}) {  // deflated and stored after a pipe
        auto bytes = test::readFile(dir.file(name + std::string(".zip")));
        EXPECT_EQ(bytes[6] & 8, 8) << "expected a data descriptor";
        EXPECT_EQ(bytes.substr(30 + 1, 2), std::string("\x01\x00", 2))
            << "expected a Zip64 local extra field";
        checkArchive(dir.file(name + std::string(".zip")));
        auto data = KQUZipArchive(dir.file(name + std::string(".zip"))).entryWithName("-")->data();
        EXPECT_EQ(std::string(data->begin(), data->end()),
                  test::readFile(
                      dir.file(name == std::string("numbers") ? "src/numbers.txt" : "src/sub/random.bin")));
    }
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

}  // namespace
}  // namespace kqu
