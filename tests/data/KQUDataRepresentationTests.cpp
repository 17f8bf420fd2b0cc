// Data representations over files and memory: hash, equality, paths, copies, loading and XML.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/data/KQUDataRepresentation.h"
#include "kqutility/streams/KQUDataConsumer.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "tests/support/KQUScriptedStream.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu {
namespace {

using test::TempDir;

std::shared_ptr<KQUMemoryDataRepresentation> memoryOf(const std::string& s) {
    return std::make_shared<KQUMemoryDataRepresentation>(KQUMakeData(s));
}

// Claims a length whose bytes its stream fails (or, not failing, ends before) to deliver.
class FailingRepresentation final : public KQUDataRepresentation {
public:
    FailingRepresentation(std::string prefix, int64_t length, bool fail = true)
        : mPrefix(std::move(prefix)), mLength(length), mFail(fail) {}
    int64_t dataLength() const override { return mLength; }
    std::shared_ptr<KQUInputStream> inputStream() const override {
        return std::make_shared<test::ScriptedInputStream>(
            mPrefix, test::ScriptedInputStream::Script{.failAtEnd = mFail});
    }

private:
    std::string mPrefix;
    int64_t mLength;
    bool mFail;
};

TEST(DataRepresentationHash, CoversPrefixAndLength) {
    // Python: signed-byte FNV hash of the first 4096 bytes, then the length as 8 little-endian bytes.
    EXPECT_EQ(memoryOf("abc")->hash(), 0x0B6F4AA6u);
    std::string bytes(10000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
    EXPECT_EQ(std::pair(memoryOf(bytes)->hash(), memoryOf("")->hash()), std::pair(0x57D208EAu, 0x9BE17165u));
}

TEST(DataRepresentationEquality, FileEqualsMemoryAndEmptyEqualsEmpty) {
    TempDir dir;
    std::string contents = test::patternBytes(700'000, 9);  // several 256 KiB blocks
    test::writeFile(dir.file("a"), contents);
    test::writeFile(dir.file("empty"), "");
    KQUFileDataRepresentation file(dir.file("a"));
    auto memory = memoryOf(contents);
    EXPECT_TRUE(file.isEqual(*memory) && memory->isEqual(file));
    EXPECT_EQ(file.hash(), memory->hash());
    EXPECT_TRUE(KQUFileDataRepresentation(dir.file("empty")).isEqual(*memoryOf("")));
    // Only the first 4096 bytes and the length are hashed: a change at the end is found by comparing.
    std::string changed = contents;
    changed.back() ^= 1;
    EXPECT_EQ(memory->hash(), memoryOf(changed)->hash());
    EXPECT_FALSE(file.isEqual(*memoryOf(changed)) || memory->isEqual(*memoryOf(contents.substr(1))));
    // The same block needs no read.
    KQUMemoryDataRepresentation same(memory->data());
    EXPECT_TRUE(memory->hasSameLocationAs(same) && !memory->hasSameLocationAs(*memoryOf(contents)));
}

// Renamed, removed and recreated, shortened and aliased files.
TEST(DataRepresentationFile, ResolvesItsPath) {
    TempDir dir;
    test::writeFile(dir.file("doc"), "first");
    KQUFileDataRepresentation file(dir.file("doc"));
    std::filesystem::rename(dir.file("doc"), dir.file("renamed"));
    EXPECT_EQ(file.path(), dir.file("renamed"));
    // A new file at the remembered path is preferred to the moved one.
    std::filesystem::rename(dir.file("renamed"), dir.file("moved"));
    test::writeFile(dir.file("renamed"), "a new file at the old path");
    EXPECT_EQ(file.path(), dir.file("renamed"));
    ::unlink(dir.file("renamed").c_str());
    ::unlink(dir.file("moved").c_str());
    EXPECT_TRUE(!file.isReadable() && file.inputStream() == nullptr);
    test::writeFile(dir.file("renamed"), "back");
    EXPECT_TRUE(file.isReadable());
    std::string longName(40, 'n');
    test::writeFile(dir.file(longName.substr(0, 31)), "short");
    EXPECT_EQ(KQUFileDataRepresentation(dir.file(longName)).path(), dir.file(longName.substr(0, 31)));
    ::symlink("renamed", dir.file("alias").c_str());
    KQUFileDataRepresentation alias(dir.file("alias"));
    EXPECT_EQ(alias.path(), dir.file("renamed"));
    EXPECT_TRUE(alias.hasSameLocationAs(KQUFileDataRepresentation(dir.file("renamed"))));
}

TEST(DataRepresentationFile, EmptyPathAsserts) {
    EXPECT_ASSERTION_FAILURE(KQUFileDataRepresentation(""));
    test::ContinueAfterAssertions keepGoing;
    test::LogCapture log;
    KQUFileDataRepresentation file("");
    EXPECT_TRUE(log.contains("Invalid parameter not satisfying: path != nil") && !file.isReadable());
}

TEST(DataRepresentationFile, SharedDescriptorKeepsReadingAfterRemoval) {
    TempDir dir;
    test::writeFile(dir.file("doc"), "shared bytes");
    int fd = ::open(dir.file("doc").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    {
        KQUFileDataRepresentation file(dir.file("doc"), fd);
        EXPECT_EQ(file.dataLength(), 12);
        ::unlink(dir.file("doc").c_str());
        auto stream = file.inputStream();
        ASSERT_NE(stream, nullptr);
        char buffer[32];
        EXPECT_EQ(std::string(buffer, stream->readToBuffer(buffer, sizeof buffer)), "shared bytes");
    }
    EXPECT_EQ(::close(fd), 0);  // never closed by the representation
}

TEST(DataRepresentationCopy, CopiesAndEncrypts) {
    TempDir dir;
    std::string contents = test::patternBytes(300'000, 5);
    ASSERT_NE(KQUFileDataRepresentation::createWithCopyOfData(memoryOf(contents), dir.file("copy")), nullptr);
    EXPECT_EQ(test::readFile(dir.file("copy")), contents);
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase("secret", 1000);
    auto encrypted =
        KQUFileDataRepresentation::createWithCopyOfData(memoryOf(contents), dir.file("enc"), key);
    ASSERT_NE(encrypted, nullptr);
    EXPECT_EQ(std::pair(encrypted->dataLength(), encrypted->encodedLength()),
              std::pair(int64_t{300'000}, int64_t{300'000 + 48 - 300'000 % 16}));
    EXPECT_EQ(static_cast<int64_t>(test::readFile(dir.file("enc")).size()), encrypted->encodedLength());
    EXPECT_TRUE(encrypted->isEqual(*memoryOf(contents)));
    auto loaded = KQUMemoryDataRepresentation::createWithDataRepresentation(encrypted);
    EXPECT_EQ(std::string(loaded->data()->begin(), loaded->data()->end()), contents);
}

TEST(DataRepresentationCopy, SameFileAndKeyCopiesNothing) {
    TempDir dir;
    test::writeFile(dir.file("doc"), "unchanged");
    struct stat before, after;
    ::stat(dir.file("doc").c_str(), &before);
    auto source = std::make_shared<KQUFileDataRepresentation>(dir.file("doc"));
    auto copy = KQUFileDataRepresentation::createWithCopyOfData(source, dir.file("doc"));
    ::stat(dir.file("doc").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(copy->dataLength(), 9);
    EXPECT_EQ(KQUFileDataRepresentation::createWithCopyOfData(nullptr, dir.file("x")), nullptr);
}

TEST(DataRepresentationCopy, FailingSourceLeavesTargetAlone) {
    TempDir dir;
    auto failing = std::make_shared<FailingRepresentation>("partial", 100);
    EXPECT_KQU_THROW(KQUFileDataRepresentation::createWithCopyOfData(failing, dir.file("new")),
                     "KQUReadError", "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("new")));
    // A file that was at the path before the failed copy is not this call's to remove.
    test::writeFile(dir.file("existing"), "keep me");
    EXPECT_KQU_THROW(KQUFileDataRepresentation::createWithCopyOfData(failing, dir.file("existing")),
                     "KQUReadError", "");
    EXPECT_EQ(test::readFile(dir.file("existing")), "keep me");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(DataRepresentationCopy, MissingSourceThrowsInsteadOfWritingEmptyFile) {
    TempDir dir;
    test::writeFile(dir.file("gone"), "soon gone");
    auto source = std::make_shared<KQUFileDataRepresentation>(dir.file("gone"));
    ::unlink(dir.file("gone").c_str());
    test::writeFile(dir.file("target"), "old contents");
    EXPECT_KQU_THROW(KQUFileDataRepresentation::createWithCopyOfData(source, dir.file("target")),
                     "KQUDataRepresentationError", "");
    EXPECT_EQ(test::readFile(dir.file("target")), "old contents");
    EXPECT_KQU_THROW(KQUFileDataRepresentation::createWithCopyOfData(source, dir.file("fresh")),
                     "KQUDataRepresentationError", "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("fresh")));
    // Streams are required wherever contents are read.
    EXPECT_KQU_THROW(KQUMemoryDataRepresentation::createWithDataRepresentation(
                         std::make_shared<FailingRepresentation>("", 3)),
                     "KQUReadError", "");
}

TEST(DataRepresentationMemory, LoadingChecksLengthAndReads) {
    EXPECT_EQ(KQUMemoryDataRepresentation::createWithDataRepresentation(nullptr), nullptr);
    EXPECT_KQU_THROW(KQUMemoryDataRepresentation::createWithDataRepresentation(
                         std::make_shared<FailingRepresentation>("abc", 10, false)),
                     "KQUMemoryDataRepresentationError", "Couldn't read enough data");
    EXPECT_KQU_THROW(KQUMemoryDataRepresentation::createWithDataRepresentation(
                         std::make_shared<FailingRepresentation>("", int64_t{1} << 32)),
                     "KQUMemoryDataRepresentationError", "Attempted to load a storage that is too big");
}

TEST(DataRepresentationXml, ParsesDocumentsAcrossChunksAndRefusesMalformedOnes) {
    std::string xml = "<?xml version=\"1.0\"?><root>";
    while (xml.size() < 600'000) xml += "<item a=\"1\">text</item>";
    xml += "</root>";
    TempDir dir;
    test::writeFile(dir.file("doc.xml"), xml);
    xmlDocPtr document = KQUFileDataRepresentation(dir.file("doc.xml")).xmlDocument();
    ASSERT_NE(document, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(xmlDocGetRootElement(document)->name), "root");
    xmlFreeDoc(document);
    // Short, empty, and damaged after the first chunk.
    for (std::string bad : {std::string("<root><open></root>"), std::string(),
                            "<root>" + std::string(300'000, 'x') + "<</root>"})
        EXPECT_KQU_THROW(memoryOf(bad)->xmlDocument(), "KQUDataRepresentationError",
                         "XML document is not well formed.");
}

TEST(DataRepresentationXml, ReaderReportsStreamFailureAsError) {
    auto good = memoryOf("<a><b>1</b><b>2</b></a>");
    xmlTextReaderPtr reader = good->xmlReader();
    ASSERT_NE(reader, nullptr);
    int elements = 0, result;
    while ((result = xmlTextReaderRead(reader)) == 1)
        if (xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT) ++elements;
    EXPECT_EQ(std::pair(result, elements), std::pair(0, 3));
    xmlFreeTextReader(reader);
    // The stream throws after its first bytes: libxml2 sees an I/O error, nothing unwinds through it.
    test::LogCapture log;
    FailingRepresentation failing("<a><b>", 1000);
    reader = failing.xmlReader();
    if (reader) {
        while ((result = xmlTextReaderRead(reader)) == 1) continue;
        EXPECT_EQ(result, -1);
        xmlFreeTextReader(reader);
    }
    EXPECT_TRUE(log.contains("Exception while reading XML: Could not read: Input/output error"));
}

TEST(DataRepresentationConsumer, AppendsAndWritesInPlace) {
    auto data = std::make_shared<KQUData>();
    {
        auto consumer = KQUCreateNSMutableDataDataConsumer(data);
        EXPECT_EQ(consumer->putBytes("abc", 3), 3u);
        EXPECT_EQ(consumer->putBytes("de", 2), 2u);
    }
    EXPECT_EQ(std::string(data->begin(), data->end()), "abcde");
    test::LogCapture log;
    EXPECT_EQ(KQUCreateNSMutableDataDataConsumer(nullptr), nullptr);
    EXPECT_TRUE(log.contains("KQUCreateNSMutableDataDataConsumer() given nil NSMutableData"));
    TempDir dir;
    test::writeFile(dir.file("out"), "0123456789");
    {
        auto consumer = KQUCreateDirectToFileDataConsumer(dir.file("out"));
        EXPECT_EQ(consumer->putBytes("abc", 3), 3u);
    }
    EXPECT_EQ(test::readFile(dir.file("out")), "abc3456789");
    KQUCreateDirectToFileDataConsumer(dir.file("new"))->putBytes("fresh", 5);
    EXPECT_EQ(test::readFile(dir.file("new")), "fresh");
    EXPECT_EQ(KQUCreateDirectToFileDataConsumer(dir.file("no/such/dir/file")), nullptr);
    EXPECT_TRUE(log.contains("Couldn't create file handle for writing to path: "));
}

}  // namespace
}  // namespace kqu
