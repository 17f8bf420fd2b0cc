// The archive writer: layout, Zip64 switching, encryption, free space and its reuse.
//
// Archives are checked with the independent walker of KQUZipTestWalker.h; expected
// record bytes at the Zip64 boundaries were packed with Python's struct, the deflate
// stream's output length with Python's zlib.compressobj(8, DEFLATED, -15, 9).
#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <fmt/format.h>

#include <filesystem>
#include <sstream>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipDeflateOutputStream.h"
#include "kqutility/zip/KQUZipEntry.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/zip/KQUZipTestWalker.h"

using namespace kqu;
using namespace kqu::test;

namespace {

void put(KQUZipArchiveOutputStream& zip, const std::string& name, const std::string& data,
         bool compressed = false, bool announceSize = true) {
    zip.beginEntry(name, compressed, announceSize ? data.size() : KQUZipArchiveOutputStream::kUnknownSize);
    zip.writeBuffer(data.data(), static_cast<uint32_t>(data.size()));
}

KQUCryptoKeyRef testKey() {
    static KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("correct horse", 10);
    return key;
}

std::vector<std::string> namesOf(const ParsedArchive& a) {
    std::vector<std::string> names;
    for (const auto& e : a.entries) names.push_back(e.name);
    return names;
}

// Plays a script of "+name:size" (a stored entry of size bytes of name[0]; "+name:size:z"
// deflated) and "-name" (remove) and closes: for the free-space layouts.
ParsedArchive play(const std::string& path, const std::string& script) {
    KQUZipArchiveOutputStream zip(path);
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
        std::string name = step.substr(1, step.find(':') - 1);
        if (step[0] == '-')
            zip.removeEntry(name);
        else
            put(zip, name, std::string(std::stoul(step.substr(step.find(':') + 1)), name[0]),
                step.ends_with(":z"));
    }
    zip.close();
    return parseArchive(path);
}

// "head" (35 bytes), "hole" (200 bytes at 35, removed: a free range), "tail" at 235.
void withHole(KQUZipArchiveOutputStream& zip, const std::string& tail = "T") {
    put(zip, "head", "H");
    put(zip, "hole", std::string(166, 'h'));
    put(zip, "tail", tail);
    zip.removeEntry("hole");
}

class ZipWriter : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("out.zip");
};

}  // namespace

TEST_F(ZipWriter, OneStoredEntryIsExactly105Bytes) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "a", "hello");
    zip.close();
    ASSERT_EQ(std::filesystem::file_size(path), 105u);
    ParsedArchive a = parseArchive(path);
    const ParsedEntry& e = a.entries.at(0);
    EXPECT_EQ(e.local.crc32, 0x3610A686u);  // zlib.crc32(b"hello")
    EXPECT_EQ(e.local.flags, 0);
    EXPECT_EQ(e.central.versionMadeBy, 62);
    EXPECT_EQ(e.central.dosTime, e.local.dosTime);
    EXPECT_EQ(e.stored, "hello");
    EXPECT_EQ(a.directoryOffset, 36u);
    EXPECT_EQ(a.directorySize, 47u);
}

// Contents of every kind of entry are checked in EveryKindOfPackageReadsBackThroughTheReader
// and by the other tools; here the header fields that only the records show.
TEST_F(ZipWriter, StoredDeflatedAndEmptyEntriesReadBack) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "empty-deflated", "", true);
    put(zip, "unknown.txt", "text", true, false);
    put(zip, "Ünïcode/名前.xml", "utf-8");
    zip.close();
    ParsedArchive a = parseArchive(path);
    // Names beyond ASCII carry the UTF-8 flag, in both headers; others have flags 0.
    EXPECT_EQ(a.find("Ünïcode/名前.xml")->local.flags, KQUZipFlagUtf8Name);
    EXPECT_EQ(a.find("Ünïcode/名前.xml")->central.flags, KQUZipFlagUtf8Name);
    EXPECT_EQ(a.find("unknown.txt")->central.flags, 0);
    EXPECT_EQ(entryContents(*a.find("empty-deflated")), "");
    // Unknown size: a Zip64 local field, its payload zero because the sizes are small.
    EXPECT_EQ(toHex(a.find("unknown.txt")->localExtra), "0100100000000000000000000000000000000000");
    EXPECT_TRUE(a.find("unknown.txt")->centralExtra.empty());
}

// The local Zip64 field appears when the announced (with a key: encoded) size needs it.
TEST_F(ZipWriter, Zip64LocalFieldFollowsTheAnnouncedSize) {
    for (auto [key, below] :
         {std::pair{KQUCryptoKeyRef(), 4290967295ull}, std::pair{testKey(), 4290967295ull - 48}}) {
        {
            KQUZipArchiveOutputStream zip(path, key);
            zip.beginEntry("below", false, below);
            zip.writeBuffer("abc", 3);
            zip.beginEntry("above", false, below + 1);
            zip.writeBuffer("abc", 3);
            zip.close();
        }
        ParsedArchive a = parseArchive(path);
        EXPECT_TRUE(a.find("below")->localExtra.empty());
        EXPECT_EQ(a.find("above")->localExtra.size(), 20u);
        EXPECT_EQ(entryContents(*a.find("above"), key), "abc");
    }
}

TEST_F(ZipWriter, WritingOutsideAnEntryOrAfterCloseIsRefused) {
    LogCapture log;
    KQUZipArchiveOutputStream zip(path);
    EXPECT_KQU_THROW(zip.writeBuffer("x", 1), "KQUZipOutputError",
                     "-writeBuffer:size: called when current entry is nil");
    zip.close();
    EXPECT_ASSERTION_FAILURE(zip.beginEntry("a", false, 1));
    EXPECT_ASSERTION_FAILURE(zip.writeBuffer("x", 1));
    EXPECT_ASSERTION_FAILURE(zip.removeEntry("a"));
    EXPECT_ASSERTION_FAILURE(zip.close());
    EXPECT_KQU_THROW(zip.setEncryptedDocumentUuid({1, 2}), "KQUZipOutputError",
                     "Tried to set encrypted document UUID after writing finished.");
}

TEST_F(ZipWriter, TooLongNameIsRefusedBeforeAnythingChanges) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "first", "12345", false, false);
    std::string longName(65536, 'n');
    EXPECT_KQU_THROW(zip.beginEntry(longName, true, 10), "KQUZipOutputError",
                     fmt::format("File name {} is too long", longName));
    // The first entry is still current and can go on.
    EXPECT_EQ(zip.offset(), 5);
    zip.writeBuffer("678", 3);
    put(zip, std::string(65535, 'm'), "z");
    zip.close();
    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(entryContents(a.entries[0]), "12345678");
    EXPECT_EQ(entryContents(a.entries[1]), "z");
}

// Removal: the last entry is cut off the file, any other leaves a free range that close
// covers with a free-space entry (zeros); adjacent ranges merge, a range that comes to end
// the file is cut before the next entry is placed, and free-space entries are numbered in
// offset order. Removing a repeated name removes the current entry.
TEST_F(ZipWriter, RemovingTheLastEntryCutsTheFile) {
    const struct {
        const char* script;
        std::vector<std::string> names;
        uint64_t directoryOffset;
    } cases[] = {
        {"+a:69 +b:100 -b +c:3 -a", {".QlTrash/00000001", "c"}, 100 + 34},
        {"+a:100 +b:100 +c:100 +d:100 -b -c +e:1:z -e -d +g:1", {"a", "g"}, 131 + 32},
        {"+a:60 +b:60 +c:60 +d:60 +e:60 +f:60 +g:60 -e -b -d",
         {"a", ".QlTrash/00000001", "c", ".QlTrash/00000002", "f", "g"},
         7 * 91},
        {"+same:100 +other:100 +same:100 -same", {"same", "other"}, 134 + 135},
        // Ranges after the last finished entry, one coming to end the file: settled once.
        {"+k:100 +a:100 +m:100 +b:100 +c:100 +d:100 -d -b -a -c", {"k", ".QlTrash/00000001", "m"}, 393},
    };
    for (const auto& c : cases) {
        ParsedArchive a = play(path, c.script);
        EXPECT_EQ(namesOf(a), c.names) << c.script;
        EXPECT_EQ(a.directoryOffset, c.directoryOffset) << c.script;
        for (const auto& e : a.entries) {
            std::string expected(e.uncompressedSize, e.name[0] == '.' ? '\0' : e.name[0]);
            EXPECT_EQ(entryContents(e), expected) << e.name;
        }
    }
}

TEST_F(ZipWriter, FreeRangesAreReusedBestFit) {
    const struct {
        const char* name;
        size_t size;
        bool compressed, announced;
        uint64_t offset, freeAfter;
    } cases[] = {
        {"exact", 165, false, true, 35, 0},       // 30 + 5 + 165 = 200
        {"fits", 116, false, true, 35, 50},       // leaves 50, at least 47: covered by a free entry
        {"long", 126, false, true, 270, 200},     // would leave 40: to the end of the file
        {"deflated", 10, true, true, 270, 200},   // compressed and unknown-size entries never
        {"unknown", 10, false, false, 270, 200},  // go into free ranges
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KQUZipArchiveOutputStream zip(path);
        withHole(zip);
        EXPECT_EQ(zip.freeBytes(), 200u);
        std::string data(c.size, c.name[0]);
        put(zip, c.name, data, c.compressed, c.announced);
        EXPECT_EQ(zip.entries().back()->offset, c.offset);
        zip.beginEntry("z", true, 0);  // finishes the entry
        EXPECT_EQ(zip.freeBytes(), c.freeAfter);
        zip.close();
        ParsedArchive a = parseArchive(path);
        EXPECT_EQ(entryContents(*a.find(c.name)), data);
        EXPECT_EQ(a.find(".QlTrash/00000001") != nullptr, c.freeAfter != 0);
    }
}

// An entry placed into a free range that then gets more bytes than announced (it would run
// into the next entry) or fewer (the rest could not be covered) moves to the end of the file.
TEST_F(ZipWriter, EntryNotFillingItsFreeRangeAsAnnouncedMovesToTheEnd) {
    for (auto [tail, written, offset] : {std::tuple{50, 400, 319}, std::tuple{1, 145, 270}}) {
        KQUZipArchiveOutputStream zip(path);
        withHole(zip, std::string(size_t(tail), 'T'));
        zip.beginEntry("moved", false, 165);  // an exact fit as announced: 30 + 5 + 165 = 200
        ASSERT_EQ(zip.entries().back()->offset, 35u);
        std::string data = patternBytes(size_t(written), 9);
        zip.writeBuffer(data.data(), 100);
        zip.writeBuffer(data.data() + 100, uint32_t(written - 100));
        zip.close();
        ParsedArchive a = parseArchive(path);
        EXPECT_EQ(a.find("moved")->offset, uint64_t(offset));
        EXPECT_EQ(entryContents(*a.find("moved")), data);
        EXPECT_EQ(entryContents(*a.find("tail")), std::string(size_t(tail), 'T'));
        EXPECT_EQ(a.find(".QlTrash/00000001")->compressedSize, 200u - 47);
    }
}

TEST_F(ZipWriter, RemovalLeavingTooSmallAHoleIsReported) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "a", "");
    put(zip, "b", "b");
    EXPECT_FALSE(zip.canRemoveEntry("a"));
    EXPECT_KQU_THROW(zip.removeEntry("a"), "KQUZipOutputError",
                     "Removing entry named a produced free space that is too small.");
    LogCapture log;
    EXPECT_ASSERTION_FAILURE(zip.canRemoveEntry("missing"));
    EXPECT_ASSERTION_FAILURE(zip.removeEntry("missing"));
    zip.close();
    EXPECT_EQ(parseArchive(path).entries.size(), 1u);
}

TEST_F(ZipWriter, EncryptedArchiveCarriesLibraryFieldsInTheFirstHeaderOnly) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "secret line\n";
    {
        KQUZipArchiveOutputStream zip(path, testKey(), std::string("my hint"));
        put(zip, "stored", "plain bytes");
        put(zip, "deflated", text, true);
        zip.setEncryptedDocumentUuid({0xAA, 0xBB, 0xCC});
        zip.close();
    }
    ParsedArchive a = parseArchive(path);
    const ParsedEntry& first = a.entries.at(0);
    EXPECT_EQ(first.central.compressionMethod, KQUZipCompressionMethodStoredEncrypted);
    EXPECT_EQ(a.entries[1].central.compressionMethod, KQUZipCompressionMethodDeflatedEncrypted);
    EXPECT_TRUE(a.entries[1].centralExtra.empty());
    // Verifier, hint and UUID in that order (their contents are read back in
    // EveryKindOfPackageReadsBackThroughTheReader).
    std::vector<uint16_t> ids;
    KQUZipExtraFieldIterator it(first.centralExtra);
    while (auto field = it.next()) ids.push_back(field->id);
    EXPECT_EQ(ids, (std::vector<uint16_t>{0x636D, 0x636E, 0x636F}));
    EXPECT_EQ(first.centralExtra.size(), 8u + 104 + 8 + 7 + 8 + 3);

    // Sizes: the plaintext length, and the bytes as stored; the CRC of the stored bytes.
    EXPECT_EQ(first.uncompressedSize, 11u);
    EXPECT_EQ(first.compressedSize, 11u + 48 - 11);
    EXPECT_EQ(first.central.crc32, crcOf(first.stored));
    EXPECT_EQ(entryContents(first, testKey()), "plain bytes");
    EXPECT_EQ(entryContents(a.entries[1], testKey()), text);
}

TEST_F(ZipWriter, HintAndUuidAreBoundedBeforeAnythingIsWritten) {
    // 28 (Zip64) + 112 (verifier) + 8 + hint must fit 65535.
    EXPECT_KQU_THROW(KQUZipArchiveOutputStream(path, testKey(), std::string(65388, 'h')), "KQUZipOutputError",
                     "Passphrase hint is too long");
    EXPECT_FALSE(std::filesystem::exists(path));
    {
        KQUZipArchiveOutputStream zip(path, testKey(), std::string(65387, 'h'));
        EXPECT_KQU_THROW(zip.setEncryptedDocumentUuid(KQUData(1, 0)), "KQUZipOutputError",
                         "Encrypted document UUID is too long");
        zip.close();
    }
    EXPECT_EQ(parseArchive(path).entries.size(), 0u);  // no entry: nowhere to store the fields
    {
        KQUZipArchiveOutputStream zip(path, testKey());
        EXPECT_KQU_THROW(zip.setEncryptedDocumentUuid(KQUData(65535 - 28 - 112 - 7, 0)), "KQUZipOutputError",
                         "Encrypted document UUID is too long");
        zip.setEncryptedDocumentUuid(KQUData(65535 - 28 - 112 - 8, 7));
        put(zip, "x", "y");
        zip.close();
    }
    EXPECT_EQ(parseArchive(path).entries[0].centralExtra.size(), 112u + 65535 - 28 - 112);
}

TEST_F(ZipWriter, DirectlyWrittenEntries) {
    std::string data = patternBytes(300000, 5);
    {
        KQUZipArchiveOutputStream zip(path);
        put(zip, "before", "b");
        auto direct = zip.beginUncompressedUnknownSizeEntry("direct");
        direct->writeBuffer(data.data(), static_cast<uint32_t>(data.size()));
        // A seek within the entry overwrites its own bytes only.
        direct->seekToOffset(0, SEEK_SET);
        direct->writeBuffer("XY", 2);
        direct->seekToOffset(0, SEEK_END);
        auto given = zip.beginUncompressedUnknownSizeEntry("given-crc");
        given->writeBuffer("abc", 3);
        zip.setCrc32ForCurrentEntry(0x352441C2);  // zlib.crc32(b"abc")
        zip.close();
    }
    data[0] = 'X', data[1] = 'Y';
    ParsedArchive a = parseArchive(path);
    const ParsedEntry* direct = a.find("direct");
    EXPECT_EQ(direct->stored, data);
    EXPECT_EQ(direct->central.crc32, crcOf(data));  // read back from the file
    EXPECT_EQ(direct->uncompressedSize, data.size());
    EXPECT_EQ(direct->localExtra.size(), 20u);
    EXPECT_EQ(a.find("given-crc")->central.crc32, 0x352441C2u);
}

// With a key, the direct stream is encrypted once: the entry reads back through one
// decryption, with the plaintext length as its size and the stored bytes' CRC.
TEST_F(ZipWriter, DirectlyWrittenEntriesOfAnEncryptedArchive) {
    std::string data = patternBytes(100000, 6);
    {
        KQUZipArchiveOutputStream zip(path, testKey());
        auto direct = zip.beginUncompressedUnknownSizeEntry("direct");
        EXPECT_FALSE(direct->canSeek());
        direct->writeBuffer(data.data(), 777);
        direct->writeBuffer(data.data() + 777, static_cast<uint32_t>(data.size() - 777));
        EXPECT_EQ(direct->offset(), static_cast<int64_t>(data.size()));
        zip.setCrc32ForCurrentEntry(1234);  // ignored: the CRC is the stored bytes'
        direct->close();                    // does not close the archive
        put(zip, "after", "after");
        zip.close();
    }
    ParsedArchive a = parseArchive(path);
    const ParsedEntry* direct = a.find("direct");
    EXPECT_EQ(direct->uncompressedSize, data.size());
    EXPECT_EQ(direct->compressedSize,
              KQUCryptoOutputStream::encodedLengthForDataLength(data.size(), *testKey()));
    EXPECT_EQ(direct->central.crc32, crcOf(direct->stored));
    EXPECT_EQ(entryContents(*direct, testKey()), data);
    EXPECT_EQ(entryContents(*a.find("after"), testKey()), "after");
}

// Stored entries of an encrypted archive fit free ranges by their encoded length.
TEST_F(ZipWriter, EncryptedStoredEntriesReuseFreedSpace) {
    KQUZipArchiveOutputStream zip(path, testKey());
    put(zip, "a", std::string(500, 'a'));
    put(zip, "b", std::string(20, 'b'));
    zip.removeEntry("a");
    EXPECT_EQ(zip.freeBytes(), 575u);
    put(zip, "d", std::string(400, 'd'));
    EXPECT_EQ(zip.entries().back()->offset, 0u);
    zip.beginEntry("e", true, 0);
    EXPECT_EQ(zip.freeBytes(), 575u - 479);
    zip.close();
    ParsedArchive a = parseArchive(path);
    EXPECT_EQ(entryContents(*a.find("d"), testKey()), std::string(400, 'd'));
    EXPECT_EQ(a.entries[1].name, ".QlTrash/00000001");  // unencrypted, stored
    EXPECT_EQ(a.entries[1].central.compressionMethod, 0);
}

TEST_F(ZipWriter, MoveResetAndDescription) {
    std::string moved = dir.file("moved.zip");
    KQUZipArchiveOutputStream zip(path);
    put(zip, "one", "1");
    zip.moveToPath(moved);
    EXPECT_FALSE(std::filesystem::exists(path));
    writeFile(path, "occupied");
    EXPECT_KQU_THROW(zip.moveToPath(path), "KQUZipOutputError",
                     fmt::format("Could not move output stream from {} to {}", moved, path));

    KQUZipArchiveOutputStream again(dir.file("again.zip"));
    put(again, "gone", "gone");
    again.reset();
    EXPECT_EQ(std::filesystem::file_size(dir.file("again.zip")), 0u);
    put(again, "kept", "kept");
    again.close();
    EXPECT_EQ(namesOf(parseArchive(dir.file("again.zip"))), std::vector<std::string>{"kept"});
}

// (What it writes is checked against zlib in KQUZipStreamBoundaryTest.)
TEST(ZipDeflateStream, FinishesOnceAndRefusesWritesAfterwards) {
    auto sink = std::make_shared<KQUMemoryOutputStream>();
    auto deflater = std::make_shared<KQUZipDeflateOutputStream>(sink);
    deflater->writeBuffer("abcabcabc", 9);
    EXPECT_EQ(deflater->closeLocalStream(), sink);
    EXPECT_EQ(deflater->closeLocalStream(), sink);
    EXPECT_EQ(rawInflate(std::string(sink->data()->begin(), sink->data()->end())), "abcabcabc");
    LogCapture log;
    EXPECT_ASSERTION_FAILURE(deflater->writeBuffer("x", 1));
    EXPECT_ASSERTION_FAILURE(deflater->seekToOffset(0, SEEK_SET));
}

TEST_F(ZipWriter, XmlIsSerializedIntoTheCurrentEntry) {
    KQUZipArchiveOutputStream zip(path);
    zip.beginEntry("doc.xml", true, KQUZipArchiveOutputStream::kUnknownSize);
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlDocSetRootElement(doc, xmlNewNode(nullptr, BAD_CAST "document"));
    xmlOutputBufferPtr out =
        xmlOutputBufferCreateIO(KQUZipXmlOutputWriteCallback, KQUZipXmlOutputCloseCallback, &zip, nullptr);
    ASSERT_GT(xmlSaveFormatFileTo(out, doc, "UTF-8", 0), 0);  // closes the buffer
    xmlFreeDoc(doc);
    zip.writeBuffer("<!-- z -->", 10);  // the close callback left the entry open
    zip.close();
    EXPECT_EQ(entryContents(*parseArchive(path).find("doc.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<document/>\n<!-- z -->");
    // An exception from the stream is not let through libxml2.
    LogCapture log;
    EXPECT_EQ(KQUZipXmlOutputWriteCallback(&zip, "x", 1), -1);
}

// The library's reader over what the writer made, and entriesAtPath (which reads the finished
// file without parsing it). (Every tool reads the plain kinds in ZipWriterInterop, the
// encrypted ones are read back in ZipReaderEntry.EncryptedEntries and by the tool's tests.)
TEST_F(ZipWriter, EntriesAtPathAndTheReaderSeeTheFinishedPackage) {
    std::string text, finalPath = dir.file("final.zip");
    for (int i = 0; i < 3000; ++i) text += "row " + std::to_string(i) + "\n";
    for (KQUCryptoKeyRef key : {KQUCryptoKeyRef(), testKey()}) {
        KQUZipArchiveOutputStream zip(path, key, std::string("hint"));
        put(zip, "old.bin", std::string(5000, 'o'));
        put(zip, "deflated.xml", text, true);
        zip.removeEntry("old.bin");
        put(zip, "reused.bin", std::string(3000, 'r'));  // into old.bin's place
        zip.moveToPath(finalPath);
        zip.close();
        auto atPath = zip.entriesAtPath(finalPath);
        EXPECT_EQ(atPath.size(), 3u);  // the free-space entry included
        KQUDataRef data = atPath["deflated.xml"]->data();
        EXPECT_EQ(std::string(data->begin(), data->end()), text);
        EXPECT_EQ(atPath["reused.bin"]->isEncrypted(), key != nullptr);
        KQUZipArchive archive(finalPath);
        EXPECT_EQ(archive.passphraseHint(), key ? std::optional<std::string>("hint") : std::nullopt);
        archive.setCryptoKey(key);
        data = archive.entryWithName("reused.bin")->data();
        EXPECT_EQ(std::string(data->begin(), data->end()), std::string(3000, 'r'));
        std::filesystem::remove(finalPath);
    }
}
