// The archive writer: layout, Zip64 switching, encryption, free space and its reuse.
//
// Archives are checked with the independent walker of KQUZipTestArchive.h; expected
// record bytes at the Zip64 boundaries were packed with Python's struct, the deflate
// stream's output with Python's zlib.compressobj(8, DEFLATED, -15, 9).
#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <filesystem>

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

uint64_t fileSize(const std::string& path) {
    return std::filesystem::file_size(path);
}

KQUCryptoKeyRef testKey() {
    static KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("correct horse", 10);
    return key;
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
    EXPECT_TRUE(zip.isClosed());
    ASSERT_EQ(fileSize(path), 105u);
    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 1u);
    const ParsedEntry& e = a.entries[0];
    EXPECT_FALSE(a.hasZip64);
    EXPECT_EQ(e.local.crc32, 0x3610A686u);  // zlib.crc32(b"hello")
    EXPECT_EQ(e.local.compressedSize, 5u);
    EXPECT_EQ(e.local.uncompressedSize, 5u);
    EXPECT_EQ(e.local.flags, 0);
    EXPECT_EQ(e.central.versionMadeBy, 62);
    EXPECT_EQ(e.central.localHeaderOffset, 0u);
    EXPECT_EQ(e.stored, "hello");
    EXPECT_EQ(e.central.dosTime, e.local.dosTime);
    EXPECT_EQ(a.end.centralDirectoryOffset, 36u);
    EXPECT_EQ(a.end.centralDirectorySize, 47u);
}

TEST_F(ZipWriter, StoredDeflatedAndEmptyEntriesReadBack) {
    std::string big = patternBytes(700000, 3), text;
    for (int i = 0; i < 20000; ++i) text += "compressible line " + std::to_string(i % 100) + "\n";
    KQUZipArchiveOutputStream zip(path);
    put(zip, "big.bin", big);
    put(zip, "text.txt", text, true);
    put(zip, "empty", "");
    put(zip, "empty-deflated", "", true);
    put(zip, "unknown.txt", text, true, false);
    put(zip, "Ünïcode/名前.xml", "utf-8");
    EXPECT_EQ(zip.entryNames(), (std::vector<std::string>{"big.bin", "text.txt", "empty", "empty-deflated",
                                                          "unknown.txt", "Ünïcode/名前.xml"}));
    zip.close();

    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 6u);
    EXPECT_EQ(entryContents(*a.find("big.bin")), big);
    // Names beyond ASCII carry the UTF-8 flag, in both headers; others have flags 0.
    EXPECT_EQ(a.find("Ünïcode/名前.xml")->local.flags, KQUZipFlagUtf8Name);
    EXPECT_EQ(a.find("Ünïcode/名前.xml")->central.flags, KQUZipFlagUtf8Name);
    EXPECT_EQ(a.find("big.bin")->central.flags, 0);
    EXPECT_EQ(entryContents(*a.find("text.txt")), text);
    EXPECT_EQ(a.find("text.txt")->central.compressionMethod, 8);
    EXPECT_LT(a.find("text.txt")->compressedSize, text.size() / 10);
    EXPECT_EQ(a.find("text.txt")->central.crc32, crcOf(text));
    EXPECT_EQ(entryContents(*a.find("empty")), "");
    EXPECT_EQ(entryContents(*a.find("empty-deflated")), "");
    // Unknown size: a Zip64 local field, its payload zero because the sizes are small.
    EXPECT_EQ(toHex(std::string(a.find("unknown.txt")->localExtra.begin(),
                                a.find("unknown.txt")->localExtra.end())),
              "0100100000000000000000000000000000000000");
    EXPECT_TRUE(a.find("unknown.txt")->centralExtra.empty());
    EXPECT_EQ(entryContents(*a.find("unknown.txt")), text);
}

TEST_F(ZipWriter, Zip64LocalFieldFollowsTheAnnouncedSize) {
    {
        KQUZipArchiveOutputStream zip(path);
        put(zip, "x", "abc");  // size announced as 3
        zip.beginEntry("below", false, 4290967295ull);
        zip.writeBuffer("abc", 3);
        zip.beginEntry("above", false, 4290967296ull);
        zip.writeBuffer("abc", 3);
        zip.close();
    }
    ParsedArchive a = parseArchive(path);
    EXPECT_TRUE(a.find("below")->localExtra.empty());
    EXPECT_EQ(a.find("above")->localExtra.size(), 20u);
    EXPECT_EQ(entryContents(*a.find("above")), "abc");

    // With a key, the encoded size decides: 4290967295 plaintext bytes need more.
    {
        KQUZipArchiveOutputStream zip(path, testKey());
        zip.beginEntry("below", false, 4290967295ull - 48);
        zip.writeBuffer("abc", 3);
        zip.beginEntry("above", false, 4290967295ull - 47);
        zip.writeBuffer("abc", 3);
        zip.close();
    }
    a = parseArchive(path);
    EXPECT_TRUE(a.find("below")->localExtra.empty());
    EXPECT_EQ(a.find("above")->localExtra.size(), 20u);
}

// Entry counts at the 16-bit escape: 65534 plain, 65535 through Zip64 (the count equal to
// the escape value must not be written bare).
TEST_F(ZipWriter, EntryCountsAtTheEscapeValue) {
    for (uint32_t count : {65534u, 65535u}) {
        KQUZipArchiveOutputStream zip(path);
        for (uint32_t i = 0; i < count; ++i) zip.beginEntry(fmt::format("{:05d}", i), false, 0);
        zip.close();
        std::string bytes = readFile(path);
        // 35 bytes per local header, 51 per central header.
        ASSERT_EQ(bytes.size(), count * 86ull + (count == 65535 ? 98 : 22));
        std::string tail = toHex(std::string_view(bytes).substr(count * 86ull));
        if (count == 65534) {
            EXPECT_EQ(tail, "504b050600000000fefffeff9aff3200baff22000000");
        } else {
            EXPECT_EQ(
                tail,
                "504b06062c000000000000003e0014000000000000000000ffff000000000000ffff000000000000cdff32000000"
                "0000ddff220000000000504b060700000000aaff55000000000001000000504b050600000000ffffffffcdff3200"
                "dd"
                "ff22000000");
        }
        ParsedArchive a = parseArchive(path);
        EXPECT_EQ(a.entries.size(), count);
        EXPECT_EQ(a.entries.back().name, fmt::format("{:05d}", count - 1));
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
    zip.beginEntry("first", false, KQUZipArchiveOutputStream::kUnknownSize);
    zip.writeBuffer("12345", 5);
    std::string longName(65536, 'n');
    EXPECT_KQU_THROW(zip.beginEntry(longName, true, 10), "KQUZipOutputError",
                     fmt::format("File name {} is too long", longName));
    // The first entry is still current and can go on.
    EXPECT_EQ(zip.offset(), 5);
    zip.writeBuffer("678", 3);
    zip.beginEntry(std::string(65535, 'm'), false, 1);
    zip.writeBuffer("z", 1);
    zip.close();
    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(entryContents(a.entries[0]), "12345678");
    EXPECT_EQ(entryContents(a.entries[1]), "z");
}

TEST_F(ZipWriter, RemovingTheLastEntryCutsTheFile) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "a", std::string(69, 'a'));  // 100 bytes with its header
    put(zip, "b", std::string(100, 'b'));
    EXPECT_TRUE(zip.canRemoveEntry("b"));
    zip.removeEntry("b");
    EXPECT_EQ(zip.freeBytes(), 0u);
    EXPECT_EQ(fileSize(path), 100u);
    put(zip, "c", "ccc");
    zip.removeEntry("a");  // not last: a free range of 100 bytes
    EXPECT_EQ(zip.freeBytes(), 100u);
    ASSERT_EQ(zip.freeList().size(), 1u);
    EXPECT_EQ(zip.freeList()[0].offset, 0u);
    EXPECT_EQ(zip.freeList()[0].length, 100u);
    zip.close();

    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(a.entries[0].name, ".QlTrash/00000001");
    EXPECT_EQ(a.entries[0].compressedSize, 100u - 47);
    EXPECT_EQ(a.entries[0].stored, std::string(53, '\0'));
    EXPECT_EQ(a.entries[0].central.crc32, crcOf(std::string(53, '\0')));
    EXPECT_EQ(entryContents(a.entries[1]), "ccc");
}

TEST_F(ZipWriter, FreeRangesAreReusedBestFit) {
    // "hole" takes 30 + 4 + 166 = 200 bytes.
    auto setUp = [&](KQUZipArchiveOutputStream& zip) {
        put(zip, "head", "H");
        put(zip, "hole", std::string(166, 'h'));
        put(zip, "tail", "T");
        zip.removeEntry("hole");
        EXPECT_EQ(zip.freeBytes(), 200u);
    };
    {  // exact fit: 30 + 5 + 165
        KQUZipArchiveOutputStream zip(path);
        setUp(zip);
        put(zip, "exact", std::string(165, 'e'));
        EXPECT_EQ(zip.entries().back()->offset, 35u);
        zip.beginEntry("z", true, 0);  // finishes "exact"
        EXPECT_EQ(zip.freeBytes(), 0u);
        EXPECT_TRUE(zip.freeList().empty());
        zip.close();
        ParsedArchive a = parseArchive(path);
        EXPECT_EQ(a.entries.size(), 4u);
        EXPECT_EQ(entryContents(*a.find("exact")), std::string(165, 'e'));
    }
    {  // 150 bytes leave 50 (at least 47)
        KQUZipArchiveOutputStream zip(path);
        setUp(zip);
        put(zip, "fits", std::string(116, 'f'));
        EXPECT_EQ(zip.entries().back()->offset, 35u);
        zip.beginEntry("z", true, 0);  // finishes "fits"
        EXPECT_EQ(zip.freeBytes(), 50u);
        zip.close();
        ParsedArchive a = parseArchive(path);
        ASSERT_EQ(a.entries.size(), 5u);
        EXPECT_EQ(a.entries[2].name, ".QlTrash/00000001");
        EXPECT_EQ(a.entries[2].offset, 185u);
        EXPECT_EQ(a.entries[2].compressedSize, 3u);
        EXPECT_EQ(entryContents(*a.find("fits")), std::string(116, 'f'));
    }
    {  // 160 bytes would leave 40: to the end of the file
        KQUZipArchiveOutputStream zip(path);
        setUp(zip);
        put(zip, "long", std::string(126, 'l'));
        EXPECT_EQ(zip.entries().back()->offset, 270u);
        EXPECT_EQ(zip.freeBytes(), 200u);
        zip.close();
        EXPECT_EQ(entryContents(*parseArchive(path).find("long")), std::string(126, 'l'));
    }
    {  // compressed and unknown-size entries never go into free ranges
        KQUZipArchiveOutputStream zip(path);
        setUp(zip);
        put(zip, "deflated", std::string(10, 'd'), true);
        EXPECT_GE(zip.entries().back()->offset, 270u);
        put(zip, "unknown", std::string(10, 'u'), false, false);
        EXPECT_GE(zip.entries().back()->offset, 270u);
        zip.close();
    }
}

// An entry placed into a free range that gets more bytes than announced must not run
// into the following entry; it moves to the end of the file.
TEST_F(ZipWriter, EntryOutgrowingItsFreeRangeMovesToTheEnd) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "head", "H");
    put(zip, "hole", std::string(166, 'h'));
    put(zip, "tail", std::string(50, 'T'));
    zip.removeEntry("hole");
    zip.beginEntry("grow", false, 166);  // an exact fit as announced
    ASSERT_EQ(zip.entries().back()->offset, 35u);
    std::string data = patternBytes(400, 9);
    zip.writeBuffer(data.data(), 100);
    zip.writeBuffer(data.data() + 100, 300);  // beyond the range
    EXPECT_EQ(zip.entries().back()->offset, 319u);
    zip.close();

    ParsedArchive a = parseArchive(path);
    EXPECT_EQ(entryContents(*a.find("tail")), std::string(50, 'T'));
    EXPECT_EQ(entryContents(*a.find("grow")), data);
    EXPECT_EQ(a.find(".QlTrash/00000001")->compressedSize, 200u - 47);
    EXPECT_EQ(a.find(".QlTrash/00000001")->offset, 35u);
}

TEST_F(ZipWriter, EntryLeavingTooSmallARestMovesToTheEnd) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "head", "H");
    put(zip, "hole", std::string(166, 'h'));
    put(zip, "tail", "T");
    zip.removeEntry("hole");
    zip.beginEntry("short", false, 165);  // 200 bytes as announced
    ASSERT_EQ(zip.entries().back()->offset, 35u);
    zip.writeBuffer(std::string(145, 's').data(), 145);  // 180: a rest of 20 could not be covered
    zip.close();
    ParsedArchive a = parseArchive(path);
    EXPECT_EQ(entryContents(*a.find("short")), std::string(145, 's'));
    EXPECT_EQ(a.find("short")->offset, 270u);
    EXPECT_EQ(a.find(".QlTrash/00000001")->compressedSize, 200u - 47);
    EXPECT_EQ(entryContents(*a.find("tail")), "T");
}

TEST_F(ZipWriter, AdjacentRangesMergeAndTheTailIsCut) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "a", std::string(100, 'a'));  // 131 bytes each
    put(zip, "b", std::string(100, 'b'));
    put(zip, "c", std::string(100, 'c'));
    put(zip, "d", std::string(100, 'd'));
    zip.removeEntry("b");
    zip.removeEntry("c");
    EXPECT_EQ(zip.freeList().size(), 2u);
    put(zip, "e", "e", true);  // finishing d settles the list
    ASSERT_EQ(zip.freeList().size(), 1u);
    EXPECT_EQ(zip.freeList()[0].offset, 131u);
    EXPECT_EQ(zip.freeList()[0].length, 262u);
    zip.removeEntry("e");
    zip.removeEntry("d");  // now the merged range ends the file
    EXPECT_EQ(zip.freeBytes(), 262u);
    put(zip, "g", "g");  // ... and is cut off before g is placed
    EXPECT_EQ(zip.entries().back()->offset, 131u);
    EXPECT_EQ(zip.freeBytes(), 0u);
    zip.close();
    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(a.entries[1].name, "g");
    EXPECT_EQ(a.directoryOffset, 131u + 32);
}

// Ranges recorded after the last finished entry, one of them reaching the end of the
// file: close settles the list once and covers each range exactly once.
TEST_F(ZipWriter, CloseSettlesFreeRangesBeforeCoveringThem) {
    KQUZipArchiveOutputStream zip(path);
    for (const char* name : {"k", "a", "m", "b", "c", "d"}) put(zip, name, std::string(100, name[0]));
    zip.removeEntry("d");  // last: cut, c becomes last
    zip.removeEntry("b");  // ranges in the order [b], [a]
    zip.removeEntry("a");
    zip.removeEntry("c");  // last: cut; [b] now reaches the end of the file
    zip.close();
    ParsedArchive a = parseArchive(path);
    std::vector<std::string> names;
    for (const auto& e : a.entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"k", ".QlTrash/00000001", "m"}));
    EXPECT_EQ(a.entries[1].offset, 131u);
    EXPECT_EQ(a.entries[1].compressedSize, 131u - 47);
    EXPECT_EQ(a.directoryOffset, 393u);
    EXPECT_EQ(entryContents(a.entries[2]), std::string(100, 'm'));
}

TEST_F(ZipWriter, FreeSpaceEntriesAreNumberedInOffsetOrder) {
    KQUZipArchiveOutputStream zip(path);
    for (char c = 'a'; c <= 'g'; ++c) put(zip, std::string(1, c), std::string(60, c));
    zip.removeEntry("e");
    zip.removeEntry("b");
    zip.removeEntry("d");  // d and e merge
    zip.close();
    ParsedArchive a = parseArchive(path);
    std::vector<std::string> names;
    for (const auto& e : a.entries) names.push_back(e.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"a", ".QlTrash/00000001", "c", ".QlTrash/00000002", "f", "g"}));
    EXPECT_EQ(a.entries[3].compressedSize, 2 * 91u - 47);
}

TEST_F(ZipWriter, RemovingTheCurrentEntryRemovesItEvenWhenANameRepeats) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "same", std::string(100, '1'));
    put(zip, "other", std::string(100, 'o'));
    put(zip, "same", std::string(100, '2'));
    zip.removeEntry("same");  // the current one, at the end of the file
    EXPECT_EQ(fileSize(path), 134u + 135);
    zip.close();
    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(entryContents(*a.find("same")), std::string(100, '1'));
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
    ASSERT_EQ(a.entries.size(), 2u);
    const ParsedEntry& first = a.entries[0];
    EXPECT_EQ(first.central.compressionMethod, KQUZipCompressionMethodStoredEncrypted);
    EXPECT_EQ(a.entries[1].central.compressionMethod, KQUZipCompressionMethodDeflatedEncrypted);
    EXPECT_TRUE(a.entries[1].centralExtra.empty());
    EXPECT_EQ(first.centralExtra.size(), 8u + 104 + 8 + 7 + 8 + 3);
    std::vector<uint16_t> ids;
    KQUZipExtraFieldIterator it(first.centralExtra);
    while (auto field = it.next()) {
        ids.push_back(field->id);
        if (field->id == KQUZipPassphraseVerifierExtraFieldID) {
            auto verifier =
                KQUZipLibraryExtraFieldData(field->payload, KQUZipPassphraseVerifierExtraFieldSignature);
            ASSERT_TRUE(verifier);
            EXPECT_TRUE(KQUCryptoUtils::checkKey(testKey(), *verifier));
        }
        if (field->id == KQUZipPassphraseHintExtraFieldID) {
            auto hint = KQUZipLibraryExtraFieldData(field->payload, KQUZipPassphraseHintExtraFieldSignature);
            ASSERT_TRUE(hint);
            EXPECT_EQ(std::string(hint->begin(), hint->end()), "my hint");
        }
    }
    EXPECT_EQ(ids, (std::vector<uint16_t>{0x636D, 0x636E, 0x636F}));

    // Sizes: the plaintext length, and the bytes as stored; the CRC of the stored bytes.
    EXPECT_EQ(first.uncompressedSize, 11u);
    EXPECT_EQ(first.compressedSize, 11u + 48 - 11);
    EXPECT_EQ(first.central.crc32, crcOf(first.stored));
    EXPECT_EQ(entryContents(first, testKey()), "plain bytes");
    EXPECT_EQ(entryContents(a.entries[1], testKey()), text);
    EXPECT_EQ(a.entries[1].uncompressedSize, text.size());

    // Without hint and UUID only the verifier.
    {
        KQUZipArchiveOutputStream zip(path, testKey());
        put(zip, "x", "y");
        zip.close();
    }
    a = parseArchive(path);
    EXPECT_EQ(a.entries[0].centralExtra.size(), 8u + 104);
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
    ParsedArchive a = parseArchive(path);
    EXPECT_EQ(a.entries.size(), 0u);  // no entry: nowhere to store the fields
    {
        KQUZipArchiveOutputStream zip(path, testKey());
        EXPECT_KQU_THROW(zip.setEncryptedDocumentUuid(KQUData(65535 - 28 - 112 - 7, 0)), "KQUZipOutputError",
                         "Encrypted document UUID is too long");
        zip.setEncryptedDocumentUuid(KQUData(65535 - 28 - 112 - 8, 7));
        // The largest fields with a first entry that needs the full Zip64 field would
        // still fit; here the entry is small.
        put(zip, "x", "y");
        zip.close();
    }
    a = parseArchive(path);
    EXPECT_EQ(a.entries[0].centralExtra.size(), 112u + 65535 - 28 - 112);
}

TEST_F(ZipWriter, DirectlyWrittenEntries) {
    std::string data = patternBytes(300000, 5);
    {
        KQUZipArchiveOutputStream zip(path);
        put(zip, "before", "b");
        auto direct = zip.beginUncompressedUnknownSizeEntry("direct");
        ASSERT_TRUE(direct);
        direct->writeBuffer(data.data(), 1000);
        EXPECT_EQ(direct->offset(), 1000);
        direct->writeBuffer(data.data() + 1000, static_cast<uint32_t>(data.size() - 1000));
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
    ASSERT_TRUE(direct);
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
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->uncompressedSize, data.size());
    EXPECT_EQ(direct->compressedSize,
              KQUCryptoOutputStream::encodedLengthForDataLength(data.size(), *testKey()));
    EXPECT_EQ(direct->central.crc32, crcOf(direct->stored));
    EXPECT_EQ(entryContents(*direct, testKey()), data);
    EXPECT_EQ(entryContents(*a.find("after"), testKey()), "after");
}

TEST_F(ZipWriter, EncryptedStoredEntriesReuseFreedSpace) {
    KQUZipArchiveOutputStream zip(path, testKey());
    put(zip, "a", std::string(500, 'a'));
    put(zip, "b", std::string(20, 'b'));
    put(zip, "c", std::string(500, 'c'));
    zip.removeEntry("a");
    EXPECT_EQ(zip.freeBytes(), 575u);
    put(zip, "d", std::string(400, 'd'));
    EXPECT_EQ(zip.entries().back()->offset, 0u);
    zip.beginEntry("e", true, 0);
    EXPECT_EQ(zip.freeBytes(), 575u - 479);
    zip.close();
    ParsedArchive a = parseArchive(path);
    EXPECT_EQ(entryContents(*a.find("d"), testKey()), std::string(400, 'd'));
    EXPECT_EQ(entryContents(*a.find("c"), testKey()), std::string(500, 'c'));
    EXPECT_EQ(a.entries[1].name, ".QlTrash/00000001");  // unencrypted, stored
    EXPECT_EQ(a.entries[1].central.compressionMethod, 0);
}

TEST_F(ZipWriter, MoveResetAndDescription) {
    std::string moved = dir.file("moved.zip");
    KQUZipArchiveOutputStream zip(path);
    put(zip, "one", "1");
    zip.moveToPath(moved);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(zip.path(), moved);
    put(zip, "two", "22");
    writeFile(path, "occupied");
    EXPECT_KQU_THROW(zip.moveToPath(path), "KQUZipOutputError",
                     fmt::format("Could not move output stream from {} to {}", moved, path));

    KQUZipArchiveOutputStream again(path);
    put(again, "gone", "gone");
    again.reset();
    EXPECT_TRUE(again.entryNames().empty());
    EXPECT_EQ(fileSize(path), 0u);
    put(again, "kept", "kept");
    EXPECT_EQ(again.entries().back()->description(),
              fmt::format(
                  "<KQUZipOutputEntry {}: name=kept, isCompressed=no, compressedSize=0, uncompressedSize=4, "
                  "offset=0>",
                  static_cast<const void*>(again.entries().back().get())));
    again.close();
    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 1u);
    EXPECT_EQ(entryContents(a.entries[0]), "kept");
    EXPECT_EQ(KQUZipArchiveOutputStream::approximateBytesForEntryHeaderWithName("héllo"), 36u);
}

TEST(ZipDeflateStream, MatchesZlibAndRefusesWritesAfterFinishing) {
    std::string data;
    for (int i = 0; i < 200; ++i) data += "line " + std::to_string(i) + " of the deflate test\n";
    auto sink = std::make_shared<KQUMemoryOutputStream>();
    auto deflater = std::make_shared<KQUZipDeflateOutputStream>(sink);
    deflater->writeBuffer(data.data(), 1000);
    deflater->writeBuffer(data.data() + 1000, static_cast<uint32_t>(data.size() - 1000));
    EXPECT_EQ(deflater->offset(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(deflater->closeLocalStream(), sink);
    EXPECT_EQ(deflater->closeLocalStream(), sink);
    std::string out(sink->data()->begin(), sink->data()->end());
    EXPECT_EQ(out.size(), 486u);  // Python: zlib.compressobj(8, DEFLATED, -15, 9)
    EXPECT_EQ(toHex(out).substr(0, 64), "7dd83b8edc300044c1dca7d011d8fcf33806acc51a1878839dfbc3706e55dcd1");
    EXPECT_EQ(toHex(out).substr(toHex(out).size() - 32), "28a7a39e8e823a2aea1c5e09fe5fe82f");
    EXPECT_EQ(rawInflate(out), data);
    LogCapture log;
    EXPECT_ASSERTION_FAILURE(deflater->writeBuffer("x", 1));
    EXPECT_ASSERTION_FAILURE(deflater->seekToOffset(0, SEEK_SET));
}

TEST_F(ZipWriter, XmlIsSerializedIntoTheCurrentEntry) {
    KQUZipArchiveOutputStream zip(path);
    zip.beginEntry("doc.xml", true, KQUZipArchiveOutputStream::kUnknownSize);
    EXPECT_EQ(KQUZipXmlOutputWriteCallback(&zip, "<!-- a -->", 10), 10);
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlNodePtr root = xmlNewNode(nullptr, BAD_CAST "document");
    xmlDocSetRootElement(doc, root);
    xmlNewTextChild(root, nullptr, BAD_CAST "title", BAD_CAST "Zip & XML");
    xmlOutputBufferPtr out =
        xmlOutputBufferCreateIO(KQUZipXmlOutputWriteCallback, KQUZipXmlOutputCloseCallback, &zip, nullptr);
    ASSERT_GT(xmlSaveFormatFileTo(out, doc, "UTF-8", 0), 0);  // closes the buffer
    xmlFreeDoc(doc);
    // The close callback left the entry open.
    zip.writeBuffer("<!-- z -->", 10);
    zip.close();
    std::string xml = entryContents(*parseArchive(path).find("doc.xml"));
    EXPECT_EQ(xml,
              "<!-- a --><?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<document><title>Zip &amp; "
              "XML</title></document>\n"
              "<!-- z -->");
    // An exception from the stream is not let through libxml2.
    LogCapture log;
    EXPECT_EQ(KQUZipXmlOutputWriteCallback(&zip, "x", 1), -1);
}

// ---- Read back through the library's own reader ----------------------------------------

namespace {

std::string dataOf(const std::shared_ptr<KQUZipEntry>& entry) {
    KQUDataRef data = entry->data();
    return std::string(data->begin(), data->end());
}

}  // namespace

TEST_F(ZipWriter, EntriesAtPathReadTheFinishedFileWithoutParsingIt) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "row " + std::to_string(i) + "\n";
    std::string finalPath = dir.file("final.zip");
    for (KQUCryptoKeyRef key : {KQUCryptoKeyRef(), testKey()}) {
        KQUZipArchiveOutputStream zip(path, key);
        put(zip, "a.txt", "alpha");
        put(zip, "b.xml", text, true);
        put(zip, "c.bin", std::string(300, 'c'));
        put(zip, "d.bin", "d");
        zip.removeEntry("c.bin");
        zip.moveToPath(finalPath);
        zip.close();
        auto entries = zip.entriesAtPath(finalPath);
        ASSERT_EQ(entries.size(), 4u);  // the free-space entry included
        EXPECT_EQ(dataOf(entries["a.txt"]), "alpha");
        EXPECT_EQ(dataOf(entries["b.xml"]), text);
        EXPECT_EQ(dataOf(entries["d.bin"]), "d");
        EXPECT_TRUE(entries["b.xml"]->isCompressed());
        EXPECT_EQ(entries["a.txt"]->isEncrypted(), key != nullptr);
        std::filesystem::remove(finalPath);
    }
}

TEST_F(ZipWriter, EveryKindOfPackageReadsBackThroughTheReader) {
    std::string text, big = patternBytes(400000, 8);
    for (int i = 0; i < 3000; ++i) text += "row " + std::to_string(i) + "\n";
    for (KQUCryptoKeyRef key : {KQUCryptoKeyRef(), testKey()}) {
        {
            KQUZipArchiveOutputStream zip(path, key, std::string("hint"));
            put(zip, "stored.bin", big);
            put(zip, "deflated.xml", text, true);
            put(zip, "old.bin", std::string(5000, 'o'));
            put(zip, "unknown.xml", text, true, false);
            auto direct = zip.beginUncompressedUnknownSizeEntry("direct.bin");
            direct->writeBuffer(big.data(), 12345);
            put(zip, "last", "last");
            zip.removeEntry("old.bin");
            put(zip, "reused.bin", std::string(3000, 'r'));  // into old.bin's place
            zip.close();
        }
        KQUZipArchive archive(path);
        EXPECT_EQ(archive.isEncrypted(), key != nullptr);
        if (key) {
            EXPECT_EQ(archive.passphraseHint(), std::optional<std::string>("hint"));
            ASSERT_TRUE(KQUCryptoUtils::checkKey(key, *archive.passphraseVerifier()));
            archive.setCryptoKey(key);
        }
        EXPECT_EQ(dataOf(archive.entryWithName("stored.bin")), big);
        EXPECT_EQ(dataOf(archive.entryWithName("deflated.xml")), text);
        EXPECT_EQ(dataOf(archive.entryWithName("unknown.xml")), text);
        EXPECT_EQ(dataOf(archive.entryWithName("direct.bin")), big.substr(0, 12345));
        EXPECT_EQ(dataOf(archive.entryWithName("reused.bin")), std::string(3000, 'r'));
        EXPECT_EQ(dataOf(archive.entryWithName("last")), "last");
        EXPECT_EQ(archive.entryWithName("old.bin"), nullptr);
        EXPECT_EQ(dataOf(archive.entryWithName(".QlTrash/00000001")).find_first_not_of('\0'),
                  std::string::npos);
    }
}
