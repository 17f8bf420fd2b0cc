// Builds zip archives byte by byte for the reader's tests, independently of the library's
// own record code, with hooks for damaging them.
#pragma once

// Entries are written with designated initializers that leave most fields at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <fmt/format.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kqu::test {

inline void put16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xff));
    s.push_back(static_cast<char>((v >> 8) & 0xff));
}
inline void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}
inline void put64(std::string& s, uint64_t v) {
    put32(s, static_cast<uint32_t>(v));
    put32(s, static_cast<uint32_t>(v >> 32));
}
inline uint32_t zlibCrc(const std::string& s) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}
inline std::string rawDeflate(const std::string& s) {
    z_stream z{};
    deflateInit2(&z, 8, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, s.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data()));
    z.avail_in = static_cast<uInt>(s.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct TestEntry {
    std::string name;
    std::string data;  // plaintext
    bool deflate = false;
    std::optional<std::string> stored;  // bytes as stored (default: data, or its deflate)
    std::optional<uint16_t> method;
    std::optional<uint32_t> crc;
    std::optional<uint64_t> uncompressedSize;
    uint16_t flags = 0;
    std::string localExtra;
    std::string centralExtra;
    uint32_t localSignature = 0x04034B50;
    bool zip64 = false;              // sizes and offset through a central Zip64 field
    std::optional<uint64_t> offset;  // local header offset written in the central header
};

struct TestArchiveOptions {
    std::string comment;
    bool zip64End = false;          // Zip64 end record and locator
    std::optional<uint16_t> count;  // entry count written in the end record
    std::optional<uint32_t> directorySize;
    std::optional<uint32_t> directoryOffset;
};

inline std::string buildArchive(std::vector<TestEntry> entries, const TestArchiveOptions& options = {}) {
    std::string archive, directory;
    for (auto& e : entries) {
        std::string stored = e.stored ? *e.stored : e.deflate ? rawDeflate(e.data) : e.data;
        uint16_t method = e.method ? *e.method : e.deflate ? 8 : 0;
        uint32_t crc = e.crc ? *e.crc : zlibCrc(e.data);
        uint64_t usize = e.uncompressedSize ? *e.uncompressedSize : e.data.size();
        uint64_t offset = archive.size();
        put32(archive, e.localSignature);
        put16(archive, 20);
        put16(archive, e.flags);
        put16(archive, method);
        put32(archive, 0x50211883);
        put32(archive, crc);
        put32(archive, static_cast<uint32_t>(stored.size()));
        put32(archive, static_cast<uint32_t>(usize));
        put16(archive, static_cast<uint32_t>(e.name.size()));
        put16(archive, static_cast<uint32_t>(e.localExtra.size()));
        archive += e.name + e.localExtra + stored;

        std::string extra = e.centralExtra;
        if (e.zip64) {
            std::string z64;
            put16(z64, 1);
            put16(z64, 24);
            put64(z64, usize);
            put64(z64, stored.size());
            put64(z64, e.offset ? *e.offset : offset);
            extra = z64 + extra;
        }
        put32(directory, 0x02014B50);
        put16(directory, 62);
        put16(directory, 20);
        put16(directory, e.flags);
        put16(directory, method);
        put32(directory, 0x50211883);
        put32(directory, crc);
        put32(directory, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(stored.size()));
        put32(directory, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(usize));
        put16(directory, static_cast<uint32_t>(e.name.size()));
        put16(directory, static_cast<uint32_t>(extra.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(e.offset ? *e.offset : offset));
        directory += e.name + extra;
    }
    uint64_t directoryOffset = archive.size();
    archive += directory;
    if (options.zip64End) {
        uint64_t recordOffset = archive.size();
        put32(archive, 0x06064B50);
        put64(archive, 44);
        put16(archive, 62);
        put16(archive, 20);
        put32(archive, 0);
        put32(archive, 0);
        put64(archive, entries.size());
        put64(archive, entries.size());
        put64(archive, directory.size());
        put64(archive, directoryOffset);
        put32(archive, 0x07064B50);
        put32(archive, 0);
        put64(archive, recordOffset);
        put32(archive, 1);
    }
    put32(archive, 0x06054B50);
    put16(archive, 0);
    put16(archive, 0);
    uint16_t count = options.count      ? *options.count
                     : options.zip64End ? 0xFFFF
                                        : static_cast<uint16_t>(entries.size());
    put16(archive, count);
    put16(archive, count);
    put32(archive, options.directorySize ? *options.directorySize
                   : options.zip64End    ? 0xFFFFFFFF
                                         : static_cast<uint32_t>(directory.size()));
    put32(archive, options.directoryOffset ? *options.directoryOffset
                   : options.zip64End      ? 0xFFFFFFFF
                                           : static_cast<uint32_t>(directoryOffset));
    put16(archive, static_cast<uint32_t>(options.comment.size()));
    archive += options.comment;
    return archive;
}

}  // namespace kqu::test
