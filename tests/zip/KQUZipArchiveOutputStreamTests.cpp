// The archive writer (layout, Zip64, encryption, free space, raw copies) and document bundles; archives
// are read back by the strict walker below, independent of the library's reader.
#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <ranges>
#include <sstream>
#include <stdexcept>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUDocumentBundle.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipDeflateOutputStream.h"
#include "kqutility/zip/KQUZipEntry.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "tests/support/KQUTestSupport.h"
#include "tests/support/KQUZipTestBuilder.h"

using namespace kqu;
using namespace kqu::test;
namespace fs = std::filesystem;

namespace {

struct ParsedEntry {
    KQUZipCentralFileHeader central;
    KQUZipLocalFileHeader local;
    std::string name, stored;  // stored: the bytes as they lie in the archive
    KQUData centralExtra, localExtra;
    uint64_t compressedSize = 0, uncompressedSize = 0, offset = 0;
};

struct ParsedArchive {
    uint64_t directorySize = 0, directoryOffset = 0;
    std::vector<ParsedEntry> entries;
    const ParsedEntry* find(const std::string& name) const {
        auto it = std::ranges::find(entries, name, &ParsedEntry::name);
        return it == entries.end() ? nullptr : &*it;
    }
    std::vector<std::string> names() const {
        auto all = entries | std::views::transform(&ParsedEntry::name);
        return {all.begin(), all.end()};
    }
};

std::span<const uint8_t> at(const std::string& s, uint64_t offset) {
    if (offset > s.size()) throw std::runtime_error("offset past the end");
    return {reinterpret_cast<const uint8_t*>(s.data()) + offset, s.size() - offset};
}

// Follows the end record and directory, checks each local header, and that records neither overlap nor gap.
ParsedArchive parseArchive(const std::string& path) {
    ParsedArchive a;
    const std::string b = readFile(path);
    auto end = KQUZipDecodeEndOfCentralDirectory(at(b, b.size() - std::min<size_t>(b.size(), 22)));
    if (!end) throw std::runtime_error("no end record at the end");
    a.directorySize = end->centralDirectorySize, a.directoryOffset = end->centralDirectoryOffset;
    const uint64_t directoryEnd = a.directoryOffset + a.directorySize;
    if (directoryEnd + 22 != b.size()) throw std::runtime_error("directory does not end at the end record");
    uint64_t position = a.directoryOffset;
    for (uint64_t i = 0; i < end->totalEntries; ++i) {
        auto record = KQUZipDecodeCentralFileHeaderRecord(
            at(b, position).first(std::min<uint64_t>(b.size() - position, directoryEnd - position)));
        if (!record) throw std::runtime_error("bad central header");
        ParsedEntry e{.central = record->header, .name = {record->fileName.begin(), record->fileName.end()}};
        e.centralExtra.assign(record->extraField.begin(), record->extraField.end());
        KQUZipZip64Values values{record->header.uncompressedSize, record->header.compressedSize,
                                 record->header.localHeaderOffset};
        KQUZipExtraFieldIterator it(record->extraField);
        while (auto field = it.next())
            if (field->id == KQUZipZip64ExtraFieldID) KQUZipApplyZip64ExtraField(field->payload, values);
        if (it.isMalformed()) throw std::runtime_error("malformed extra field");
        e.uncompressedSize = values.uncompressedSize, e.compressedSize = values.compressedSize;
        e.offset = values.localHeaderOffset;
        position += record->header.recordSize();
        auto local = KQUZipDecodeLocalFileHeaderRecord(at(b, e.offset));
        if (!local || std::string(local->fileName.begin(), local->fileName.end()) != e.name ||
            local->header.crc32 != e.central.crc32 || local->header.dosTime != e.central.dosTime ||
            local->header.compressionMethod != e.central.compressionMethod)
            throw std::runtime_error("local header missing or different for " + e.name);
        e.local = local->header;
        e.localExtra.assign(local->extraField.begin(), local->extraField.end());
        const uint64_t dataOffset = e.offset + local->header.recordSize();
        if (dataOffset + e.compressedSize > a.directoryOffset)
            throw std::runtime_error("data runs into the directory");
        e.stored = b.substr(dataOffset, e.compressedSize);
        a.entries.push_back(std::move(e));
    }
    if (position != directoryEnd) throw std::runtime_error("directory size does not match its headers");
    return a;
}

std::string rawInflate(const std::string& compressed, size_t size) {
    std::string out(size + 1, '\0');
    z_stream z{.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data())),
               .avail_in = static_cast<uInt>(compressed.size()),
               .next_out = reinterpret_cast<Bytef*>(out.data()),
               .avail_out = static_cast<uInt>(out.size())};
    inflateInit2(&z, -15);
    const int result = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (result != Z_STREAM_END || z.total_out != size) throw std::runtime_error("inflate failed");
    return out.substr(0, size);
}

// The entry's plaintext, undoing encryption (with key) and deflate as its method says.
std::string entryContents(const ParsedEntry& e, const KQUCryptoKeyRef& key = nullptr) {
    std::string bytes = e.stored;
    const uint16_t method = e.central.compressionMethod;
    if (method == KQUZipCompressionMethodStoredEncrypted ||
        method == KQUZipCompressionMethodDeflatedEncrypted) {
        KQUCryptoInputStream crypto(KQUMemoryInputStream::create(KQUMakeData(bytes)), key);
        std::string buffer(65536, '\0');
        bytes.clear();
        while (uint32_t n = crypto.readToBuffer(buffer.data(), 65536)) bytes.append(buffer.data(), n);
    }
    const bool deflated =
        method == KQUZipCompressionMethodDeflated || method == KQUZipCompressionMethodDeflatedEncrypted;
    return deflated ? rawInflate(bytes, e.uncompressedSize) : bytes;
}

void put(KQUZipArchiveOutputStream& zip, const std::string& name, const std::string& data,
         bool compressed = false, std::optional<uint64_t> announced = {}) {
    zip.beginEntry(name, compressed, announced.value_or(data.size()));
    zip.writeData({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
}
constexpr uint64_t kUnknown = KQUZipArchiveOutputStream::kUnknownSize;

KQUCryptoKeyRef testKey() {
    static KQUCryptoKeyRef key = KQUCryptoKey::createAes128KeyFromPassphrase("correct horse", 10);
    return key;
}

// Plays "+name:size[:z]" (size bytes of name[0], stored or deflated) and "-name" (remove) steps, then closes.
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

struct ZipWriter : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("out.zip");
};

// Python's zipfile reads each entry: name, date, system, mode, method, CRC, sizes, sha1 of the stored bytes.
std::string describe(const std::string& path) {
    std::string output;
    const std::string script = R"(python3 -c "
import hashlib, struct, sys, zipfile
z, raw = zipfile.ZipFile(sys.argv[1]), open(sys.argv[1], 'rb').read()
for i in z.infolist():
    z.read(i)
    start = i.header_offset + 30 + sum(struct.unpack('<HH', raw[i.header_offset + 26:i.header_offset + 30]))
    print(i.filename, i.date_time, i.create_system, oct(i.external_attr >> 16), i.compress_type,
          '%08x' % i.CRC, i.compress_size, i.file_size,
          hashlib.sha1(raw[start:start + i.compress_size]).hexdigest()[:12])
" ')";
    EXPECT_EQ(runCommand(script + path + "' 2>&1", &output), 0) << output;
    return output;
}

// A package as another tool makes it: 2022 dates, Unix modes, stored and deflated entries.
void makeForeignPackage(const std::string& path) {
    const std::string script = R"(python3 -c "
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, mode, method, data in [
            ('doc/', 0o40755, zipfile.ZIP_STORED, b''),
            ('doc/index.xml', 0o100644, zipfile.ZIP_DEFLATED, b'<index>' + b'<item/>' * 500 + b'</index>'),
            ('doc/run.sh', 0o100755, zipfile.ZIP_STORED, b'#!/bin/sh\necho hi\n'),
            ('doc/data.bin', 0o100600, zipfile.ZIP_DEFLATED, bytes(range(256)) * 300)]:
        i = zipfile.ZipInfo(name, (2022, 3, 14, 15, 9, 26))
        i.create_system, i.external_attr, i.compress_type = 3, mode << 16, method
        z.writestr(i, data)
" ')";
    ASSERT_EQ(runCommand(script + path + "'"), 0);
}

using ZipRawCopy = ZipWriter;

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
    for (const auto& [name, data] : entries) put(zip, name, data, data.size() > 20);
    zip.close();
    fs::rename(temporary, path);  // replaced in one step, as a save does
}

using Names = std::optional<std::vector<std::string>>;

}  // namespace

// The header fields that only the records show (contents: ZipWriterInterop).
TEST_F(ZipWriter, StoredDeflatedAndEmptyEntriesReadBack) {
    KQUZipArchiveOutputStream zip(path);
    put(zip, "empty-deflated", "", true);
    put(zip, "unknown.txt", "text", true, kUnknown);
    put(zip, "Ünïcode/名前.xml", "utf-8");
    zip.close();
    ParsedArchive a = parseArchive(path);
    const ParsedEntry &unicode = *a.find("Ünïcode/名前.xml"), &unknown = *a.find("unknown.txt");
    // UTF-8 flag in both headers only beyond ASCII; an unknown size gets a Zip64 local field of zeros.
    EXPECT_EQ(std::tuple(unicode.local.flags, unicode.central.flags, unknown.central.flags),
              std::tuple(KQUZipFlagUtf8Name, KQUZipFlagUtf8Name, 0));
    EXPECT_EQ(entryContents(*a.find("empty-deflated")), "");
    EXPECT_EQ(toHex(unknown.localExtra) + "|" + toHex(unknown.centralExtra),
              "0100100000000000000000000000000000000000|");
}

// The local Zip64 field appears when the announced (with a key: encoded) size needs it.
TEST_F(ZipWriter, Zip64LocalFieldFollowsTheAnnouncedSize) {
    for (auto [key, below] :
         {std::pair{KQUCryptoKeyRef(), 4290967295ull}, std::pair{testKey(), 4290967295ull - 48}}) {
        KQUZipArchiveOutputStream zip(path, key);
        put(zip, "below", "abc", false, below);
        put(zip, "above", "abc", false, below + 1);
        zip.close();
        ParsedArchive a = parseArchive(path);
        EXPECT_EQ(std::tuple(a.find("below")->localExtra.size(), a.find("above")->localExtra.size()),
                  std::tuple(0u, 20u));
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
    put(zip, "first", "12345", false, kUnknown);
    std::string longName(65536, 'n');
    EXPECT_KQU_THROW(zip.beginEntry(longName, true, 10), "KQUZipOutputError",
                     fmt::format("File name {} is too long", longName));
    EXPECT_EQ(zip.offset(), 5);  // the first entry is still current and can go on
    zip.writeBuffer("678", 3);
    put(zip, std::string(65535, 'm'), "z");
    zip.close();
    ParsedArchive a = parseArchive(path);
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(entryContents(a.entries[0]) + entryContents(a.entries[1]), "12345678z");
}

// The last entry is cut off, other holes get numbered free-space entries at close; neighbouring holes merge.
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
        EXPECT_EQ(a.names(), c.names) << c.script;
        EXPECT_EQ(a.directoryOffset, c.directoryOffset) << c.script;
        for (const auto& e : a.entries)
            EXPECT_EQ(entryContents(e), std::string(e.uncompressedSize, e.name[0] == '.' ? '\0' : e.name[0]))
                << e.name;
    }
}

TEST_F(ZipWriter, FreeRangesAreReusedBestFit) {
    const struct {
        const char* name;
        size_t size;
        bool compressed;
        std::optional<uint64_t> announced;
        uint64_t offset, freeAfter;
    } cases[] = {
        {"exact", 165, false, {}, 35, 0},            // 30 + 5 + 165 = 200
        {"fits", 116, false, {}, 35, 50},            // leaves 50, at least 47: covered by a free entry
        {"long", 126, false, {}, 270, 200},          // would leave 40: to the end of the file
        {"deflated", 10, true, {}, 270, 200},        // compressed and unknown-size entries never
        {"unknown", 10, false, kUnknown, 270, 200},  // go into free ranges
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

// Placed into a free range, then more bytes than announced or too few to cover the rest: moved to the end.
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
    const std::string text = patternBytes(60000, 3);
    KQUZipArchiveOutputStream zip(path, testKey(), std::string("my hint"));
    put(zip, "stored", "plain bytes");
    put(zip, "deflated", text, true);
    zip.setEncryptedDocumentUuid({0xAA, 0xBB, 0xCC});
    zip.close();
    ParsedArchive a = parseArchive(path);
    const ParsedEntry &first = a.entries.at(0), &second = a.entries.at(1);
    EXPECT_EQ(
        std::tuple(first.central.compressionMethod, second.central.compressionMethod,
                   second.centralExtra.size()),
        std::tuple(KQUZipCompressionMethodStoredEncrypted, KQUZipCompressionMethodDeflatedEncrypted, 0u));
    // Verifier, hint and UUID in that order (their contents: ZipReaderOpen.ExtraFieldsAndNames).
    std::vector<uint16_t> ids;
    KQUZipExtraFieldIterator it(first.centralExtra);
    while (auto field = it.next()) ids.push_back(field->id);
    EXPECT_EQ(ids, (std::vector<uint16_t>{0x636D, 0x636E, 0x636F}));
    EXPECT_EQ(first.centralExtra.size(), 8u + 104 + 8 + 7 + 8 + 3);
    // Sizes: the plaintext length and the bytes as stored; the CRC is the stored bytes'.
    EXPECT_EQ(std::tuple(first.uncompressedSize, first.compressedSize, first.central.crc32),
              std::tuple(11u, 48u, zlibCrc(first.stored)));
    EXPECT_EQ(entryContents(first, testKey()), "plain bytes");
    EXPECT_EQ(entryContents(second, testKey()), text);
}

TEST_F(ZipWriter, HintAndUuidAreBoundedBeforeAnythingIsWritten) {
    // 28 (Zip64) + 112 (verifier) + 8 + hint must fit 65535.
    EXPECT_KQU_THROW(KQUZipArchiveOutputStream(path, testKey(), std::string(65388, 'h')), "KQUZipOutputError",
                     "Passphrase hint is too long");
    EXPECT_FALSE(fs::exists(path));
    KQUZipArchiveOutputStream zip(path, testKey(), std::string(65387, 'h'));
    EXPECT_KQU_THROW(zip.setEncryptedDocumentUuid(KQUData(1, 0)), "KQUZipOutputError",
                     "Encrypted document UUID is too long");
    zip.close();
    EXPECT_EQ(parseArchive(path).entries.size(), 0u);  // no entry: nowhere to store the fields
    KQUZipArchiveOutputStream bounded(path, testKey());
    EXPECT_KQU_THROW(bounded.setEncryptedDocumentUuid(KQUData(65535 - 28 - 112 - 7, 0)), "KQUZipOutputError",
                     "Encrypted document UUID is too long");
    bounded.setEncryptedDocumentUuid(KQUData(65535 - 28 - 112 - 8, 7));
    put(bounded, "x", "y");
    bounded.close();
    EXPECT_EQ(parseArchive(path).entries[0].centralExtra.size(), 112u + 65535 - 28 - 112);
}

TEST_F(ZipWriter, DirectlyWrittenEntries) {
    std::string data = patternBytes(300000, 5);
    KQUZipArchiveOutputStream zip(path);
    put(zip, "before", "b");
    auto direct = zip.beginUncompressedUnknownSizeEntry("direct");
    direct->writeBuffer(data.data(), static_cast<uint32_t>(data.size()));
    direct->seekToOffset(0, SEEK_SET);  // a seek within the entry overwrites its own bytes only
    direct->writeBuffer("XY", 2);
    direct->seekToOffset(0, SEEK_END);
    zip.beginUncompressedUnknownSizeEntry("given-crc")->writeBuffer("abc", 3);
    zip.setCrc32ForCurrentEntry(0x352441C2);  // zlib.crc32(b"abc")
    zip.close();
    data[0] = 'X', data[1] = 'Y';
    ParsedArchive a = parseArchive(path);
    const ParsedEntry* written = a.find("direct");
    EXPECT_EQ(written->stored, data);  // the CRC read back from the file:
    EXPECT_EQ(std::tuple(written->central.crc32, written->uncompressedSize, written->localExtra.size()),
              std::tuple(zlibCrc(data), data.size(), 20u));
    EXPECT_EQ(a.find("given-crc")->central.crc32, 0x352441C2u);
}

// With a key, the direct stream is encrypted once (plaintext length as size, stored bytes' CRC).
TEST_F(ZipWriter, DirectlyWrittenEntriesOfAnEncryptedArchive) {
    std::string data = patternBytes(100000, 6);
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
    ParsedArchive a = parseArchive(path);
    const ParsedEntry* written = a.find("direct");
    EXPECT_EQ(
        std::tuple(written->uncompressedSize, written->compressedSize, written->central.crc32),
        std::tuple(data.size(), KQUCryptoOutputStream::encodedLengthForDataLength(data.size(), *testKey()),
                   zlibCrc(written->stored)));
    EXPECT_EQ(entryContents(*written, testKey()), data);
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
    EXPECT_EQ(std::tuple(a.entries[1].name, a.entries[1].central.compressionMethod),
              std::tuple(".QlTrash/00000001", 0));
}

TEST_F(ZipWriter, MoveResetAndDescription) {  // a move that works: EntriesAtPathAndTheReaderSee...
    std::string first = dir.file("first.zip"), occupied = dir.file("occupied.zip");
    writeFile(occupied, "occupied");
    KQUZipArchiveOutputStream zip(first);
    EXPECT_KQU_THROW(zip.moveToPath(occupied), "KQUZipOutputError",
                     fmt::format("Could not move output stream from {} to {}", first, occupied));
    KQUZipArchiveOutputStream other(path);
    put(other, "gone", "gone");
    other.reset();
    EXPECT_EQ(fs::file_size(path), 0u);
    put(other, "kept", "kept");
    other.close();
    EXPECT_EQ(parseArchive(path).names(), std::vector<std::string>{"kept"});
}

TEST(ZipDeflateStream, FinishesOnceAndRefusesWritesAfterwards) {
    auto sink = std::make_shared<KQUMemoryOutputStream>();
    auto deflater = std::make_shared<KQUZipDeflateOutputStream>(sink);
    deflater->writeBuffer("abcabcabc", 9);
    EXPECT_EQ(deflater->closeLocalStream(), sink);
    EXPECT_EQ(deflater->closeLocalStream(), sink);
    LogCapture log;
    EXPECT_ASSERTION_FAILURE(deflater->writeBuffer("x", 1));
    EXPECT_ASSERTION_FAILURE(deflater->seekToOffset(0, SEEK_SET));
}

TEST_F(ZipWriter, XmlIsSerializedIntoTheCurrentEntry) {
    KQUZipArchiveOutputStream zip(path);
    zip.beginEntry("doc.xml", true, kUnknown);
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
    LogCapture log;
    EXPECT_EQ(KQUZipXmlOutputWriteCallback(&zip, "x", 1), -1);  // no exception through libxml2
}

// The library's reader over what the writer made, and entriesAtPath (reading without parsing).
TEST_F(ZipWriter, EntriesAtPathAndTheReaderSeeTheFinishedPackage) {
    const std::string rows = patternBytes(20000, 2), finalPath = dir.file("final.zip");
    for (KQUCryptoKeyRef key : {KQUCryptoKeyRef(), testKey()}) {
        KQUZipArchiveOutputStream zip(path, key, std::string("hint"));
        put(zip, "old.bin", std::string(5000, 'o'));
        put(zip, "deflated.xml", rows, true);
        zip.removeEntry("old.bin");
        put(zip, "reused.bin", std::string(3000, 'r'));  // into old.bin's place
        zip.moveToPath(finalPath);
        EXPECT_FALSE(fs::exists(path));
        zip.close();
        auto atPath = zip.entriesAtPath(finalPath);
        EXPECT_EQ(atPath.size(), 3u);  // the free-space entry included
        EXPECT_EQ(text(atPath["deflated.xml"]->data()), rows);
        EXPECT_EQ(atPath["reused.bin"]->isEncrypted(), key != nullptr);
        KQUZipArchive archive(finalPath);
        EXPECT_EQ(archive.passphraseHint(), key ? std::optional<std::string>("hint") : std::nullopt);
        archive.setCryptoKey(key);
        EXPECT_EQ(text(archive.entryWithName("reused.bin")->data()), std::string(3000, 'r'));
        fs::remove(finalPath);
    }
}

TEST_F(ZipRawCopy, CopiesKeepRecordsAndStoredBytesAndFillFreeRanges) {
    std::string source = dir.file("foreign.zip"), copy = dir.file("copy.zip");
    makeForeignPackage(source);
    KQUZipArchive archive(source);
    {
        KQUZipArchiveOutputStream zip(copy);
        for (const auto& entry : archive.allEntries()) zip.copyEntry(*entry);
        zip.close();
    }
    EXPECT_EQ(describe(copy), describe(source));
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}'", copy)), 0);

    // A copy lands in a free range that fits, under a new name when given.
    std::string reuse = dir.file("reuse.zip");
    KQUZipArchiveOutputStream zip(reuse);
    put(zip, "first", patternBytes(40000));
    put(zip, "last", "end");
    zip.removeEntry("first");
    zip.copyEntry(*archive.entryWithName("doc/run.sh"), "bin/run.sh");
    EXPECT_EQ(zip.entries().back()->offset, 0u);
    zip.close();
    std::string listing = describe(reuse);
    EXPECT_NE(listing.find("bin/run.sh (2022, 3, 14, 15, 9, 26) 3 0o100755 0 "), std::string::npos)
        << listing;
    EXPECT_NE(listing.find(".QlTrash/00000001"), std::string::npos) << listing;
}

TEST_F(ZipRawCopy, EncryptedEntriesOnlyMoveBetweenPackagesWithTheSameKey) {
    auto keyA = KQUCryptoKey::createAes128KeyFromPassphrase("alpha", 10);
    auto keyB = KQUCryptoKey::createAes128KeyFromPassphrase("beta", 10);
    KQUZipArchiveOutputStream zip(path, keyA);
    put(zip, "a.xml", "<a>secret</a>", true);
    zip.close();
    KQUZipArchive archive(path);
    auto entry = archive.entryWithName("a.xml");

    // No key set on the source, another key, or no key in the writer: refused, nothing added.
    for (auto [sourceKey, writerKey] :
         {std::pair{KQUCryptoKeyRef{}, keyA}, std::pair{keyA, keyB}, std::pair{keyA, KQUCryptoKeyRef{}}}) {
        archive.setCryptoKey(sourceKey);
        KQUZipArchiveOutputStream zip(dir.file("refused.zip"), writerKey);
        EXPECT_KQU_THROW(zip.copyEntry(*entry), "KQUZipOutputError",
                         "Entry a.xml is encrypted under another key");
        EXPECT_TRUE(zip.entries().empty());
        zip.close();
    }
}

TEST_F(ZipRawCopy, DamagedStoredBytesAreNotCopied) {
    makeForeignPackage(path);
    std::string bytes = readFile(path);
    size_t at = bytes.find("echo hi");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'E';
    writeFile(path, bytes);
    KQUZipArchive archive(path);
    std::string copy = dir.file("copy.zip");
    KQUZipArchiveOutputStream zip(copy);
    zip.copyEntry(*archive.entryWithName("doc/index.xml"));
    auto sizeBefore = fs::file_size(copy);
    EXPECT_KQU_THROW(zip.copyEntry(*archive.entryWithName("doc/run.sh")), "KQUZipOutputError", "");
    EXPECT_EQ(fs::file_size(copy), sizeBefore);
    EXPECT_EQ(zip.entryNames(), std::vector<std::string>{"doc/index.xml"});
    zip.close();
    EXPECT_EQ(runCommand(fmt::format("unzip -tqq '{}'", copy)), 0);
}

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
