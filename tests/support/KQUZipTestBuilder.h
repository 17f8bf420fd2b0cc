// Builds zip archives byte by byte, independently of the library's own record code, with
// hooks for damaging them: for the reader's tests and the reading benchmark.
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
inline std::string rawDeflate(const std::string& s, int level = 8) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
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

// Writes the records of one archive in order, independently of the library's record code:
// add() answers each entry's local header and data (so large archives can go straight to
// a file), finish() the central directory and end records.
class ZipByteBuilder {
public:
    std::string add(const TestEntry& e) {
        std::string stored = e.stored ? *e.stored : e.deflate ? rawDeflate(e.data) : e.data;
        uint16_t method = e.method ? *e.method : e.deflate ? 8 : 0;
        uint32_t crc = e.crc ? *e.crc : zlibCrc(e.data);
        uint64_t usize = e.uncompressedSize ? *e.uncompressedSize : e.data.size();
        uint64_t offset = mOffset;
        std::string local;
        put32(local, e.localSignature);
        put16(local, 20);
        put16(local, e.flags);
        put16(local, method);
        put32(local, 0x50211883);
        put32(local, crc);
        put32(local, static_cast<uint32_t>(stored.size()));
        put32(local, static_cast<uint32_t>(usize));
        put16(local, static_cast<uint32_t>(e.name.size()));
        put16(local, static_cast<uint32_t>(e.localExtra.size()));
        local += e.name + e.localExtra + stored;
        mOffset += local.size();

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
        std::string& d = mDirectory;
        put32(d, 0x02014B50);
        put16(d, 62);
        put16(d, 20);
        put16(d, e.flags);
        put16(d, method);
        put32(d, 0x50211883);
        put32(d, crc);
        put32(d, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(stored.size()));
        put32(d, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(usize));
        put16(d, static_cast<uint32_t>(e.name.size()));
        put16(d, static_cast<uint32_t>(extra.size()));
        put16(d, 0);  // comment length
        put64(d, 0);  // disk, internal and external attributes
        put32(d, e.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(e.offset ? *e.offset : offset));
        d += e.name + extra;
        ++mCount;
        return local;
    }

    std::string finish(const TestArchiveOptions& options = {}) {
        std::string tail = mDirectory;
        if (options.zip64End) {
            put32(tail, 0x06064B50);
            put64(tail, 44);
            put16(tail, 62);
            put16(tail, 20);
            put64(tail, 0);
            put64(tail, mCount);
            put64(tail, mCount);
            put64(tail, mDirectory.size());
            put64(tail, mOffset);
            put32(tail, 0x07064B50);
            put32(tail, 0);
            put64(tail, mOffset + mDirectory.size());
            put32(tail, 1);
        }
        put32(tail, 0x06054B50);
        put32(tail, 0);
        uint16_t count = options.count      ? *options.count
                         : options.zip64End ? 0xFFFF
                                            : static_cast<uint16_t>(mCount);
        put16(tail, count);
        put16(tail, count);
        put32(tail, options.directorySize ? *options.directorySize
                    : options.zip64End    ? 0xFFFFFFFF
                                          : static_cast<uint32_t>(mDirectory.size()));
        put32(tail, options.directoryOffset ? *options.directoryOffset
                    : options.zip64End      ? 0xFFFFFFFF
                                            : static_cast<uint32_t>(mOffset));
        put16(tail, static_cast<uint32_t>(options.comment.size()));
        return tail + options.comment;
    }

private:
    std::string mDirectory;
    uint64_t mOffset = 0;
    uint64_t mCount = 0;
};

inline std::string buildArchive(const std::vector<TestEntry>& entries,
                                const TestArchiveOptions& options = {}) {
    ZipByteBuilder builder;
    std::string archive;
    for (const auto& e : entries) archive += builder.add(e);
    return archive + builder.finish(options);
}

}  // namespace kqu::test
