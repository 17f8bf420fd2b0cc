// Document bundles over directory packages and zip packages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "kqutility/zip/KQUDocumentBundle.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "tests/support/KQUTestSupport.h"

using namespace kqu;
using namespace kqu::test;
namespace fs = std::filesystem;

namespace {

struct Document : KQUHasFileName {
    std::string path;
    explicit Document(std::string p) : path(std::move(p)) {}
    std::string fileName() const override { return path; }
};

std::string text(const KQUDataRef& data) {
    return data ? std::string(data->begin(), data->end()) : "<null>";
}

void writeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string temporary = path + ".tmp";
    KQUZipArchiveOutputStream zip(temporary);
    for (const auto& [name, data] : entries) {
        zip.beginEntry(name, data.size() > 20, data.size());
        zip.writeBuffer(data.data(), static_cast<uint32_t>(data.size()));
    }
    zip.close();
    fs::rename(temporary, path);  // replaced in one step, as a save does
}

using Names = std::optional<std::vector<std::string>>;

}  // namespace

TEST(KQUDocumentBundle, DirectoryPackage) {
    TempDir dir;
    std::string package = dir.file("Doc.pkg");
    fs::create_directories(package + "/Data/Deep");
    writeFile(package + "/Index.xml", "<index/>");
    writeFile(package + "/Data/b.png", "png");
    writeFile(dir.file("outside.txt"), "secret");
    fs::create_symlink(dir.file("outside.txt"), package + "/link-out");
    fs::create_symlink("Index.xml", package + "/link-in");

    Document document(package);
    KQUDocumentBundle bundle(&document);
    EXPECT_EQ(bundle.packageType(), KQUDocumentBundle::DirectoryPackage);
    EXPECT_EQ(text(bundle.dataForPath("Index.xml")) + text(bundle.dataForPath("link-in")),
              "<index/><index/>");
    EXPECT_TRUE(bundle.hasDataForPath("Data/b.png") && !bundle.hasDataForPath("Data"));
    EXPECT_EQ(bundle.directoryContentsAtPath(""), Names({"Data", "Index.xml", "link-in", "link-out"}));
    EXPECT_EQ(bundle.directoryContentsAtPath("Data"), Names({"Deep", "b.png"}));

    // Nothing outside the package is read.
    for (const char* escape : {"../outside.txt", "Data/../../outside.txt", "/etc/passwd", "link-out"})
        EXPECT_FALSE(bundle.dataForPath(escape) || bundle.hasDataForPath(escape)) << escape;
    EXPECT_EQ(bundle.directoryContentsAtPath(".."), std::nullopt);
}

TEST(KQUDocumentBundle, ZipPackageWithItsRootDirectoryStripped) {
    TempDir dir;
    std::string package = dir.file("Doc.zip");
    writeZip(package, {{"Doc/", ""},
                       {"Doc/a.xml", "<a/>"},
                       {"Doc/Data/", ""},
                       {"Doc/Data/b.png", "png bytes"},
                       {"Doc/Data/Sub/c.txt", "c"}});
    Document document(package);
    KQUDocumentBundle bundle(&document);
    EXPECT_EQ(text(bundle.dataForPath("a.xml")) + text(bundle.dataForPath("Data/b.png")), "<a/>png bytes");
    // Data needs the exact name.
    EXPECT_FALSE(bundle.dataForPath("DATA/b.png") || bundle.hasDataForPath("Doc/a.xml"));
    // Listings: files and directories with entries of their own, compared without case.
    EXPECT_EQ(bundle.directoryContentsAtPath(""), Names({"a.xml", "Data"}));
    EXPECT_EQ(bundle.directoryContentsAtPath("data"), Names({"b.png"}));  // Sub/ has no entry
    EXPECT_EQ(bundle.directoryContentsAtPath("DATA/sub/"), Names({"c.txt"}));

    // Without the directory entry "Data/" only a.xml is listed at the top.
    writeZip(package, {{"a.xml", "<a/>"}, {"Data/b.png", "png"}});
    EXPECT_EQ(bundle.directoryContentsAtPath(""), Names({"a.xml"}));
}

TEST(KQUDocumentBundle, DamagedOrForeignFilesReadAsNothing) {
    TempDir dir;
    LogCapture log;
    // A file that is not a zip archive, a missing one, and a zip whose directory is cut off.
    writeFile(dir.file("plain.txt"), "just text");
    writeZip(dir.file("cut.zip"), {{"a.xml", "<a/>"}});
    fs::resize_file(dir.file("cut.zip"), fs::file_size(dir.file("cut.zip")) - 10);
    for (auto [name, type] : {std::pair{"plain.txt", KQUDocumentBundle::NoPackage},
                              std::pair{"missing.zip", KQUDocumentBundle::NoPackage},
                              std::pair{"cut.zip", KQUDocumentBundle::ZipFilePackage}}) {
        Document document(dir.file(name));
        KQUDocumentBundle bundle(&document);
        EXPECT_EQ(bundle.packageType(), type) << name;
        EXPECT_EQ(bundle.dataForPath("a.xml"), nullptr) << name;
    }

    // A damaged entry: its stored bytes changed, so the CRC (or inflate) fails.
    std::string damaged = dir.file("damaged.zip");
    writeZip(damaged, {{"good.txt", "good"}, {"bad.txt", patternBytes(3000, 4)}});
    std::string bytes = readFile(damaged);
    bytes[bytes.find("bad.txt") + 7 + 100] ^= 0x55;
    writeFile(damaged, bytes);
    Document damagedDocument(damaged);
    KQUDocumentBundle damagedBundle(&damagedDocument), nobody(nullptr);
    EXPECT_EQ(text(damagedBundle.dataForPath("good.txt")) + text(damagedBundle.dataForPath("bad.txt")),
              "good<null>");
    EXPECT_TRUE(damagedBundle.hasDataForPath("bad.txt"));
    EXPECT_EQ(std::tuple(nobody.packageType(), nobody.dataForPath("a")),
              std::tuple(KQUDocumentBundle::NoPackage, nullptr));
}
