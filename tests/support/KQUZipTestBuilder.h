// Builds zip archives byte by byte, independently of the library's own record code, with
// hooks for damaging them: for the reader's tests and the reading benchmark.
#pragma once

// Entries are written with designated initializers that leave most fields at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <fmt/format.h>
#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kqu::test {

// Appends little-endian fields, each a value and its width in bytes.
inline void putFields(std::string& s, std::initializer_list<std::pair<uint64_t, int>> fields) {
    for (auto [value, width] : fields)
        for (int i = 0; i < width; ++i) s.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}
inline void put16(std::string& s, uint32_t v) {
    putFields(s, {{v, 2}});
}
inline uint32_t zlibCrc(const std::string& s) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
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
        uint64_t offset = e.offset ? *e.offset : mOffset;
        const uint64_t escape = 0xFFFFFFFF, time = 0x50211883;
        std::string local;
        // Each record as a table of fields.
        // clang-format off
        putFields(local, {{e.localSignature, 4}, {20, 2}, {e.flags, 2}, {method, 2}, {time, 4}, {crc, 4},
                          {stored.size() & escape, 4}, {usize & escape, 4}, {e.name.size(), 2},
                          {e.localExtra.size(), 2}});
        local += e.name + e.localExtra + stored;
        mOffset += local.size();

        std::string extra;
        if (e.zip64) putFields(extra, {{1, 2}, {24, 2}, {usize, 8}, {stored.size(), 8}, {offset, 8}});
        extra += e.centralExtra;
        // Version made by and needed, ..., comment length, disk, internal and external attributes.
        putFields(mDirectory, {{0x02014B50, 4}, {62, 2}, {20, 2}, {e.flags, 2}, {method, 2}, {time, 4},
                               {crc, 4}, {e.zip64 ? escape : stored.size() & escape, 4},
                               {e.zip64 ? escape : usize & escape, 4}, {e.name.size(), 2}, {extra.size(), 2},
                               {0, 2}, {0, 8}, {e.zip64 ? escape : offset & escape, 4}});
        mDirectory += e.name + extra;
        // clang-format on
        ++mCount;
        return local;
    }

    std::string finish(const TestArchiveOptions& options = {}) {
        std::string tail = mDirectory;
        // clang-format off
        if (options.zip64End) {
            putFields(tail, {{0x06064B50, 4}, {44, 8}, {62, 2}, {20, 2}, {0, 8}, {mCount, 8}, {mCount, 8},
                             {mDirectory.size(), 8}, {mOffset, 8}});
            putFields(tail, {{0x07064B50, 4}, {0, 4}, {mOffset + mDirectory.size(), 8}, {1, 4}});
        }
        // Given values win; a Zip64 end leaves the escape values here.
        auto pick = [&](auto given, uint32_t escape, uint64_t actual) {
            return given ? uint64_t(*given) : options.zip64End ? escape : actual;
        };
        uint64_t count = pick(options.count, 0xFFFF, mCount);
        uint64_t size = pick(options.directorySize, 0xFFFFFFFF, mDirectory.size());
        uint64_t offset = pick(options.directoryOffset, 0xFFFFFFFF, mOffset);
        putFields(tail, {{0x06054B50, 4}, {0, 4}, {count, 2}, {count, 2}, {size, 4}, {offset, 4},
                         {options.comment.size(), 2}});
        // clang-format on
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
