#include "kqutility/zip/KQUZipHeaderCheck.h"

#include <cstdint>
#include <exception>
#include <span>

#include <fmt/format.h>

#include "kqutility/zip/KQUZipFormat.h"

namespace kqu {

namespace {

constexpr uint32_t kEscaped = 0xFFFFFFFF;
constexpr uint16_t kZip64ExtraFieldId = 0x0001;

// The local header with its name and extra field, or an explanation.
std::vector<uint8_t> readLocalHeader(const KQUZipEntry& entry, std::string& problem) {
    const auto& archive = *entry.archiveDataRepresentation();
    auto offset = static_cast<int64_t>(entry.localHeaderOffset());
    auto readAt = [&](int64_t at, int64_t length, std::vector<uint8_t>& into) {
        if (entry.localHeaderOffset() > INT64_MAX ||
            !KQUZipArchiveDataRepresentation::isValidRange(at, length, archive.dataLength()))
            return false;
        auto stream = archive.inputStreamWithOffset(at, length);
        size_t start = into.size();
        into.resize(start + static_cast<size_t>(length));
        int64_t done = 0;
        while (done < length) {
            uint32_t n = stream->readToBuffer(reinterpret_cast<char*>(into.data() + start + done),
                                              static_cast<uint32_t>(length - done));
            if (n == 0) break;
            done += n;
        }
        stream->close();
        return done == length;
    };
    std::vector<uint8_t> bytes;
    if (!readAt(offset, KQUZipLocalFileHeaderFixedSize, bytes)) {
        problem = "its local header lies outside the archive";
        return {};
    }
    auto header = KQUZipDecodeLocalFileHeader(bytes);
    if (!header) {
        problem = "its local header has no signature";
        return {};
    }
    int64_t variable = int64_t{header->fileNameLength} + header->extraFieldLength;
    if (!readAt(offset + KQUZipLocalFileHeaderFixedSize, variable, bytes)) {
        problem = "its local header's name and extra field run past the archive";
        return {};
    }
    return bytes;
}

std::string quoted(std::span<const uint8_t> bytes) {
    return fmt::format("\"{}\"", std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace

std::vector<std::string> KQUZipLocalHeaderDisagreements(const KQUZipEntry& entry) {
    std::vector<std::string> found;
    try {
        std::string problem;
        auto bytes = readLocalHeader(entry, problem);
        if (bytes.empty()) return {problem};
        auto record = KQUZipDecodeLocalFileHeaderRecord(bytes);
        if (!record) return {"its local header cannot be decoded"};
        const auto& local = record->header;

        std::string_view name = entry.name();
        if (record->fileName.size() != name.size() ||
            !std::equal(record->fileName.begin(), record->fileName.end(), name.begin(),
                        [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }))
            found.push_back(fmt::format("the local header names it {}", quoted(record->fileName)));
        if (local.compressionMethod != entry.compressionMethodCode())
            found.push_back(fmt::format("the local header gives method {}, the directory {}",
                                        local.compressionMethod, entry.compressionMethodCode()));
        if (local.flags != entry.flags())
            found.push_back(fmt::format("the local header gives flags 0x{:04X}, the directory 0x{:04X}", local.flags,
                                        entry.flags()));
        if (local.flags & KQUZipFlagDataDescriptor) return found;

        if (local.crc32 != entry.crc())
            found.push_back(fmt::format("the local header gives CRC-32 {:08x}, the directory {:08x}", local.crc32,
                                        entry.crc()));
        // Local Zip64 fields hold both sizes, uncompressed first, when either is escaped.
        std::optional<uint64_t> compressed, uncompressed;
        if (local.compressedSize != kEscaped && local.uncompressedSize != kEscaped) {
            compressed = local.compressedSize;
            uncompressed = local.uncompressedSize;
        } else {
            KQUZipExtraFieldIterator fields(record->extraField);
            while (auto field = fields.next()) {
                if (field->id != kZip64ExtraFieldId || field->payload.size() < 16) continue;
                uncompressed = KQUZipReadUInt64(field->payload.data());
                compressed = KQUZipReadUInt64(field->payload.data() + 8);
                break;
            }
        }
        if (compressed && *compressed != entry.compressedSize())
            found.push_back(fmt::format("the local header gives compressed size {}, the directory {}", *compressed,
                                        entry.compressedSize()));
        if (uncompressed && *uncompressed != entry.uncompressedSize())
            found.push_back(fmt::format("the local header gives size {}, the directory {}", *uncompressed,
                                        entry.uncompressedSize()));
    } catch (const std::exception& e) {
        found.push_back(fmt::format("its local header cannot be read: {}", e.what()));
    }
    return found;
}

}  // namespace kqu
