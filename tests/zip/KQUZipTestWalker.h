// A small, strict archive walker for the writer's tests: it reads a whole archive file
// into memory, follows the end records (Zip64 included) and the central directory, and
// checks every record it meets against its local header. It is independent of the
// library's reader, so the writer's tests do not depend on it.
#pragma once

#include <zlib.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "tests/support/KQUTestSupport.h"

namespace kqu::test {

struct ParsedEntry {
    KQUZipCentralFileHeader central;
    KQUZipLocalFileHeader local;
    std::string name;
    KQUData centralExtra;
    KQUData localExtra;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t offset = 0;
    uint64_t dataOffset = 0;
    std::string stored;  // the bytes as they lie in the archive
};

struct ParsedArchive {
    std::string bytes;
    bool hasZip64 = false;
    uint64_t entryCount = 0, directorySize = 0, directoryOffset = 0;
    std::vector<ParsedEntry> entries;

    const ParsedEntry* find(const std::string& name) const {
        for (const auto& e : entries)
            if (e.name == name) return &e;
        return nullptr;
    }
};

inline std::span<const uint8_t> spanOf(const std::string& s, uint64_t offset = 0) {
    if (offset > s.size()) throw std::runtime_error("offset past the end");
    return {reinterpret_cast<const uint8_t*>(s.data()) + offset, s.size() - offset};
}

inline ParsedArchive parseArchive(const std::string& path) {
    ParsedArchive a;
    a.bytes = readFile(path);
    const std::string& b = a.bytes;
    if (b.size() < 22) throw std::runtime_error("too short");
    uint64_t endOffset = b.size() - 22;
    auto end = KQUZipDecodeEndOfCentralDirectory(spanOf(b, endOffset));
    if (!end) throw std::runtime_error("no end record at the end");
    a.entryCount = end->totalEntries;
    a.directorySize = end->centralDirectorySize;
    a.directoryOffset = end->centralDirectoryOffset;
    if (endOffset >= 20) {
        auto locator = KQUZipDecodeZip64EndOfCentralDirectoryLocator(spanOf(b, endOffset - 20));
        if (locator) {
            auto zip64 = KQUZipDecodeZip64EndOfCentralDirectory(spanOf(b, locator->zip64RecordOffset));
            if (!zip64) throw std::runtime_error("locator without Zip64 record");
            if (locator->zip64RecordOffset + 56 != endOffset - 20)
                throw std::runtime_error("gap after Zip64 record");
            a.hasZip64 = true;
            a.entryCount = zip64->totalEntries;
            a.directorySize = zip64->centralDirectorySize;
            a.directoryOffset = zip64->centralDirectoryOffset;
        }
    }
    const uint64_t directoryEnd = a.directoryOffset + a.directorySize;
    if (directoryEnd != (a.hasZip64 ? endOffset - 76 : endOffset))
        throw std::runtime_error("directory does not end at the end records");
    uint64_t position = a.directoryOffset;
    for (uint64_t i = 0; i < a.entryCount; ++i) {
        auto record = KQUZipDecodeCentralFileHeaderRecord(
            spanOf(b, position).first(std::min<uint64_t>(b.size() - position, directoryEnd - position)));
        if (!record) throw std::runtime_error("bad central header");
        ParsedEntry e;
        e.central = record->header;
        e.name.assign(record->fileName.begin(), record->fileName.end());
        e.centralExtra.assign(record->extraField.begin(), record->extraField.end());
        KQUZipZip64Values values{record->header.uncompressedSize, record->header.compressedSize,
                                 record->header.localHeaderOffset};
        KQUZipExtraFieldIterator it(record->extraField);
        while (auto field = it.next())
            if (field->id == KQUZipZip64ExtraFieldID) KQUZipApplyZip64ExtraField(field->payload, values);
        if (it.isMalformed()) throw std::runtime_error("malformed extra field");
        e.uncompressedSize = values.uncompressedSize;
        e.compressedSize = values.compressedSize;
        e.offset = values.localHeaderOffset;
        position += record->header.recordSize();

        auto local = KQUZipDecodeLocalFileHeaderRecord(spanOf(b, e.offset));
        if (!local) throw std::runtime_error("bad local header for " + e.name);
        e.local = local->header;
        if (std::string(local->fileName.begin(), local->fileName.end()) != e.name)
            throw std::runtime_error("local name differs for " + e.name);
        if (local->header.crc32 != e.central.crc32 ||
            local->header.compressionMethod != e.central.compressionMethod)
            throw std::runtime_error("local header differs for " + e.name);
        e.localExtra.assign(local->extraField.begin(), local->extraField.end());
        e.dataOffset = e.offset + local->header.recordSize();
        if (e.dataOffset + e.compressedSize > a.directoryOffset)
            throw std::runtime_error("data runs into the directory");
        e.stored = b.substr(e.dataOffset, e.compressedSize);
        a.entries.push_back(std::move(e));
    }
    if (position != directoryEnd) throw std::runtime_error("directory size does not match its headers");
    return a;
}

inline std::string rawInflate(const std::string& compressed) {
    z_stream z{};
    inflateInit2(&z, -15);
    std::string out;
    std::vector<char> buffer(65536);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    int result;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer.data());
        z.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&z, Z_NO_FLUSH);
        out.append(buffer.data(), buffer.size() - z.avail_out);
    } while (result == Z_OK);
    inflateEnd(&z);
    if (result != Z_STREAM_END) throw std::runtime_error("inflate failed");
    return out;
}

// The entry's plaintext, undoing encryption (with key) and deflate as its method says.
inline std::string entryContents(const ParsedEntry& e, const KQUCryptoKeyRef& key = nullptr) {
    std::string bytes = e.stored;
    uint16_t method = e.central.compressionMethod;
    if (method == KQUZipCompressionMethodStoredEncrypted ||
        method == KQUZipCompressionMethodDeflatedEncrypted) {
        KQUCryptoInputStream crypto(KQUMemoryInputStream::create(KQUMakeData(bytes)), key);
        std::string buffer(65536, '\0');
        bytes.clear();
        while (uint32_t n = crypto.readToBuffer(buffer.data(), 65536)) bytes.append(buffer.data(), n);
    }
    if (method == KQUZipCompressionMethodDeflated || method == KQUZipCompressionMethodDeflatedEncrypted)
        bytes = rawInflate(bytes);
    return bytes;
}

inline uint32_t crcOf(const std::string& s) {
    return KQUCrc32Update(0, s.data(), s.size());
}

}  // namespace kqu::test
