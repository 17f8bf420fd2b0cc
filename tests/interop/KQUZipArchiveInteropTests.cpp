// The reader and the writer against tools nobody here wrote. Read: packages made at test time by
// Info-ZIP zip (also streamed from a pipe, with data descriptors and Zip64 local fields), Python's
// zipfile (stored, deflated, forced Zip64), and encrypted ones by fuzz/make-corpus.py with Python's
// hashlib (PBKDF2) and the openssl command line (AES-128-CBC). Written: packages must test clean in
// Info-ZIP unzip, Python's zipfile and 7-Zip and read back byte for byte.
#include <fmt/format.h>

#include <map>
#include <sstream>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipInflateInputStream.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

using test::runCommand;
using test::TempDir;

std::string text(const KQUDataRef& data) {
    return std::string(data->begin(), data->end());
}

// Python's zipfile reading each entry: "name\tvalues" lines into a map.
std::map<std::string, std::string> pythonSays(const std::string& path, const std::string& perEntry) {
    std::string output;
    EXPECT_EQ(runCommand(fmt::format("python3 -c \"import zipfile, sys, hashlib\n"
                                     "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                     "  print(i.filename + '\\t' + {})\" '{}' 2>&1",
                                     perEntry, path),
                         &output),
              0)
        << output;
    std::map<std::string, std::string> said;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        said[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
    return said;
}

// Opens the archive, compares every entry's sizes and CRC with Python's listing and its data with
// the file of the same name under sourceDir (when given), and returns the number of entries.
size_t checkArchive(const std::string& archivePath, const std::string& sourceDir = "") {
    KQUZipArchive archive(archivePath);
    auto expected = pythonSays(archivePath, "'%d %d %d' % (i.file_size, i.compress_size, i.CRC)");
    EXPECT_EQ(archive.entryCount(), expected.size());
    for (const auto& [name, listing] : expected) {
        auto entry = archive.entryWithName(name);
        EXPECT_NE(entry, nullptr) << name;
        if (!entry) continue;
        EXPECT_EQ(fmt::format("{} {} {}", entry->uncompressedSize(), entry->compressedSize(), entry->crc()),
                  listing);
        if (!sourceDir.empty() && name.back() != '/') {
            EXPECT_EQ(text(entry->data()), test::readFile(sourceDir + "/" + name)) << name;
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
    // Deflated and stored after a pipe.
    for (auto [zip, source] :
         {std::pair{"numbers.zip", "src/numbers.txt"}, std::pair{"random.zip", "src/sub/random.bin"}}) {
        auto bytes = test::readFile(dir.file(zip));
        EXPECT_EQ(bytes[6] & 8, 8) << "expected a data descriptor";
        EXPECT_EQ(bytes.substr(30 + 1, 2), std::string("\x01\x00", 2))
            << "expected a Zip64 local extra field";
        checkArchive(dir.file(zip));
        EXPECT_EQ(text(KQUZipArchive(dir.file(zip)).entryWithName("-")->data()),
                  test::readFile(dir.file(source)));
    }
}

TEST(ZipReaderInterop, PythonZipfile) {
    TempDir dir;
    makeTree(dir);
    ASSERT_EQ(runCommand(fmt::format(R"(cd '{}' && python3 -c "
import zipfile as Z
files = ['numbers.txt', 'empty', 'sub/random.bin']
for name, method in (('deflated', Z.ZIP_DEFLATED), ('stored', Z.ZIP_STORED)):
    with Z.ZipFile(name + '.zip', 'w', method) as z: [z.write('src/' + f, f) for f in files]
with Z.ZipFile('zip64.zip', 'w', Z.ZIP_DEFLATED) as z:
    for f in files:
        with z.open(f, 'w', force_zip64=True) as out: out.write(open('src/' + f, 'rb').read())
")",
                                     dir.path())),
              0);
    for (const char* name : {"deflated.zip", "stored.zip", "zip64.zip"})
        EXPECT_EQ(checkArchive(dir.file(name), dir.file("src")), 3u) << name;
}

TEST(ZipReaderEncryptedInterop, OpensslWrittenPackage) {
    TempDir dir;
    ASSERT_EQ(
        runCommand(fmt::format("python3 '{}/fuzz/make-corpus.py' '{}'", KQU_TEST_SOURCE_DIR, dir.path())), 0);
    std::string expected;
    for (int i = 0; i < 60; ++i) expected += fmt::format("line {} of some text\n", i);
    KQUZipArchive archive(dir.file("encrypted.zip"));
    ASSERT_TRUE(archive.isEncrypted());
    EXPECT_EQ(archive.passphraseHint(), "hint");
    EXPECT_EQ(archive.encryptedDocumentUuid()->size(), 16u);
    auto wrong = KQUCryptoKey::createAes128KeyFromPassphrase("wrong", 1);
    EXPECT_FALSE(KQUCryptoUtils::checkKey(wrong, *archive.passphraseVerifier()));
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase("fuzz", 1);
    ASSERT_TRUE(KQUCryptoUtils::checkKey(key, *archive.passphraseVerifier()));

    // The free-space entry reads before any key is set.
    EXPECT_EQ(archive.entryWithName(".QlTrash/00000001")->data()->size(), 8u);
    archive.setCryptoKey(key);
    for (const char* name : {"stored", "deflated"})
        EXPECT_EQ(text(archive.entryWithName(name)->data()), expected);
    archive.setCryptoKey(wrong);  // the padding check fails
    EXPECT_KQU_THROW(archive.entryWithName("stored")->data(), NSGenericException, "");

    // A whole file holding one encrypted stream, the same way.
    for (bool deflated : {false, true}) {
        auto entry = archive.entryWithName(deflated ? "deflated" : "stored");
        std::string bytes(entry->compressedSize(), '\0');
        ASSERT_EQ(entry->storedInputStream()->readToBuffer(bytes.data(), static_cast<uint32_t>(bytes.size())),
                  bytes.size());
        test::writeFile(dir.file("file.enc"), bytes);
        auto stream = KQUBufferedInputStreamForDecryptingFile(dir.file("file.enc"), key, deflated);
        ASSERT_NE(stream, nullptr);
        std::string plain;
        const char* block = nullptr;
        while (uint32_t n = stream->readToOwnBuffer(&block, UINT32_MAX)) plain.append(block, n);
        EXPECT_EQ(plain, expected) << deflated;
    }
    EXPECT_EQ(KQUBufferedInputStreamForDecryptingFile(dir.file("missing"), key, true), nullptr);
}

void put(KQUZipArchiveOutputStream& zip, const std::string& name, const std::string& data, bool compressed,
         std::map<std::string, std::string>& expected) {
    zip.beginEntry(name, compressed, data.size());
    zip.writeBuffer(data.data(), static_cast<uint32_t>(data.size()));
    expected[name] = fmt::format("{} {}", data.size(), KQUSha256HexHashString(data));
}

std::string paragraphs(int lines, int seed) {
    std::string t;
    for (int i = 0; i < lines; ++i)
        t += fmt::format("<p id=\"{}\">paragraph {} of part {}</p>\n", i, i % 37, seed);
    return t;
}

TEST(ZipWriterInterop, StoredAndDeflatedPackagesReadBackInEveryTool) {
    TempDir dir;
    std::string path = dir.file("package.zip");
    std::map<std::string, std::string> expected;
    KQUZipArchiveOutputStream zip(path);
    put(zip, "mimetype", "application/x-document", false, expected);
    put(zip, "Index.xml", paragraphs(20000, 1), true, expected);
    put(zip, "Data/picture.bin", test::patternBytes(1500000, 2), false, expected);
    put(zip, "Data/empty", "", true, expected);
    put(zip, "Ünïcode/名前.xml", paragraphs(10, 3), true, expected);
    zip.beginUnknownSizeEntry("unknown.xml", true);
    std::string unknown = paragraphs(3000, 4), bytes = test::patternBytes(70000, 5);
    zip.writeBuffer(unknown.data(), static_cast<uint32_t>(unknown.size()));
    zip.beginUncompressedUnknownSizeEntry("direct.bin")
        ->writeBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    expected["unknown.xml"] = fmt::format("{} {}", unknown.size(), KQUSha256HexHashString(unknown));
    expected["direct.bin"] = fmt::format("{} {}", bytes.size(), KQUSha256HexHashString(bytes));
    zip.close();
    for (const char* check : {"unzip -tqq '{}' 2>&1", "python3 -m zipfile -t '{}' 2>&1", "7z t '{}' 2>&1"}) {
        std::string output;
        EXPECT_EQ(runCommand(fmt::format(fmt::runtime(check), path), &output), 0) << output;
    }
    // Python's zipfile reads every entry (checking every CRC): size and SHA-256.
    EXPECT_EQ(
        pythonSays(
            path,
            "'%d %s' % (len(d := zipfile.ZipFile(sys.argv[1]).read(i)), hashlib.sha256(d).hexdigest())"),
        expected);
}

}  // namespace
}  // namespace kqu
