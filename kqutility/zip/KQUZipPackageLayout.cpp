#include "kqutility/zip/KQUZipPackageLayout.h"

#include <algorithm>
#include <span>

#include "kqutility/zip/KQUZipFormat.h"

namespace kqu {
namespace {

// Up to size bytes at offset (fewer at the end of the archive; none outside it).
std::vector<uint8_t> readAt(const KQUZipArchiveDataRepresentation& archive, uint64_t offset, uint32_t size) {
    const auto length = static_cast<uint64_t>(archive.dataLength());
    if (offset >= length) return {};
    size = static_cast<uint32_t>(std::min<uint64_t>(size, length - offset));
    std::vector<uint8_t> bytes(size);
    uint32_t done = 0;
    while (done < size) {
        uint32_t n = archive.readBytesAtOffset(static_cast<int64_t>(offset + done),
                                               reinterpret_cast<char*>(bytes.data()) + done, size - done);
        if (n == 0) break;
        done += n;
    }
    bytes.resize(done);
    return bytes;
}

struct EndRecords {
    std::vector<KQUZipLayoutRange> ranges;
    std::optional<uint64_t> directoryOffset, directorySize;
};

EndRecords findEndRecords(const KQUZipArchiveDataRepresentation& archive) {
    EndRecords found;
    const auto length = static_cast<uint64_t>(archive.dataLength());
    if (length < KQUZipEndOfCentralDirectoryFixedSize) return found;
    // The end record is the last thing in the file but for its comment: search backwards.
    const uint64_t window = std::min<uint64_t>(length, KQUZipEndOfCentralDirectoryMaxSize);
    const uint64_t base = length - window;
    std::vector<uint8_t> tail = readAt(archive, base, static_cast<uint32_t>(window));
    if (tail.size() < KQUZipEndOfCentralDirectoryFixedSize) return found;
    std::optional<KQUZipEndOfCentralDirectoryRecord> end;
    uint64_t endOffset = 0;
    for (size_t i = tail.size() - KQUZipEndOfCentralDirectoryFixedSize + 1; i-- > 0;) {
        if (tail[i] != 0x50 || tail[i + 1] != 0x4B || tail[i + 2] != 0x05 || tail[i + 3] != 0x06) continue;
        end = KQUZipDecodeEndOfCentralDirectory(std::span(tail).subspan(i));
        endOffset = base + i;
        break;
    }
    if (!end) return found;
    const uint64_t endLength = std::min<uint64_t>(
        uint64_t{KQUZipEndOfCentralDirectoryFixedSize} + end->commentLength, length - endOffset);
    found.ranges.push_back({endOffset, endLength, KQUZipLayoutKind::EndRecord});
    found.directoryOffset = end->centralDirectoryOffset;
    found.directorySize = end->centralDirectorySize;

    if (endOffset >= KQUZip64EndOfCentralDirectoryLocatorSize) {
        const uint64_t locatorOffset = endOffset - KQUZip64EndOfCentralDirectoryLocatorSize;
        auto locatorBytes = readAt(archive, locatorOffset, KQUZip64EndOfCentralDirectoryLocatorSize);
        if (auto locator = KQUZipDecodeZip64EndOfCentralDirectoryLocator(locatorBytes)) {
            found.ranges.push_back(
                {locatorOffset, KQUZip64EndOfCentralDirectoryLocatorSize, KQUZipLayoutKind::Zip64EndLocator});
            const uint64_t recordOffset = locator->zip64RecordOffset;
            if (recordOffset < locatorOffset) {
                auto recordBytes = readAt(archive, recordOffset, KQUZip64EndOfCentralDirectoryFixedSize);
                if (auto record = KQUZipDecodeZip64EndOfCentralDirectory(recordBytes)) {
                    // The record's own size field counts what follows its first 12 bytes.
                    uint64_t recordLength = locatorOffset - recordOffset;
                    if (record->remainingRecordSize <= recordLength - std::min<uint64_t>(recordLength, 12))
                        recordLength = 12 + record->remainingRecordSize;
                    found.ranges.push_back({recordOffset, recordLength, KQUZipLayoutKind::Zip64EndRecord});
                    if (end->centralDirectoryOffset == KQUZip32BitEscape ||
                        end->centralDirectorySize == KQUZip32BitEscape) {
                        found.directoryOffset = record->centralDirectoryOffset;
                        found.directorySize = record->centralDirectorySize;
                    }
                }
            }
        }
    }
    return found;
}

KQUZipLayoutKind dataKind(const KQUZipEntry& entry) {
    if (entry.hasEncryptedMethod()) return KQUZipLayoutKind::EncryptedData;
    return entry.isCompressed() ? KQUZipLayoutKind::DeflatedData : KQUZipLayoutKind::StoredData;
}

void addEntryRanges(const KQUZipArchiveDataRepresentation& archive, const std::shared_ptr<KQUZipEntry>& entry,
                    std::vector<KQUZipLayoutRange>& ranges) {
    const uint64_t header = entry->localHeaderOffset();
    auto bytes = readAt(archive, header, KQUZipLocalFileHeaderFixedSize);
    auto local = KQUZipDecodeLocalFileHeader(bytes);
    if (!local) return;  // no local header there: its bytes stay unclaimed
    const uint64_t dataOffset = header + local->recordSize();
    const uint64_t stored = entry->compressedSize();
    if (KQUZipIsFreeSpaceEntryName(entry->name())) {
        ranges.push_back({header, local->recordSize() + stored, KQUZipLayoutKind::FreeSpace, entry});
        return;
    }
    ranges.push_back({header, local->recordSize(), KQUZipLayoutKind::LocalHeader, entry});
    if (stored > 0) ranges.push_back({dataOffset, stored, dataKind(*entry), entry});
    if (entry->flags() & KQUZipFlagDataDescriptor) {
        const uint64_t at = dataOffset + stored;
        auto descriptor = readAt(archive, at, KQUZipRecordSignatureSize);
        const bool signature = KQUZipHasSignature(descriptor, KQUZipDataDescriptorSignature);
        const bool zip64 = KQUZipNeedsZip64(stored) || KQUZipNeedsZip64(entry->uncompressedSize());
        const uint64_t length = (signature ? 4 : 0) + 4 + (zip64 ? 16 : 8);
        ranges.push_back({at, length, KQUZipLayoutKind::DataDescriptor, entry});
    }
}

}  // namespace

const char* KQUZipLayoutKindName(KQUZipLayoutKind kind) {
    switch (kind) {
        case KQUZipLayoutKind::LocalHeader:
            return "local header";
        case KQUZipLayoutKind::StoredData:
            return "stored data";
        case KQUZipLayoutKind::DeflatedData:
            return "deflated data";
        case KQUZipLayoutKind::EncryptedData:
            return "encrypted data";
        case KQUZipLayoutKind::DataDescriptor:
            return "data descriptor";
        case KQUZipLayoutKind::FreeSpace:
            return "free space";
        case KQUZipLayoutKind::CentralDirectory:
            return "central directory";
        case KQUZipLayoutKind::Zip64EndRecord:
            return "Zip64 end record";
        case KQUZipLayoutKind::Zip64EndLocator:
            return "Zip64 end locator";
        case KQUZipLayoutKind::EndRecord:
            return "end record";
        case KQUZipLayoutKind::Unknown:
            break;
    }
    return "unknown";
}

std::vector<KQUZipLayoutRange> KQUZipPackageLayout(const KQUZipArchive& archive) {
    const auto& representation = *archive.dataRepresentation();
    const auto length = static_cast<uint64_t>(representation.dataLength());
    std::vector<KQUZipLayoutRange> claimed;
    auto entries = archive.allEntries();
    claimed.reserve(entries.size() * 2 + 4);
    for (const auto& entry : entries) addEntryRanges(representation, entry, claimed);
    EndRecords end = findEndRecords(representation);
    if (end.directoryOffset && *end.directorySize > 0)
        claimed.push_back({*end.directoryOffset, *end.directorySize, KQUZipLayoutKind::CentralDirectory});
    claimed.insert(claimed.end(), end.ranges.begin(), end.ranges.end());

    // Usually in order already (entries in directory order, then the tail).
    auto byOffset = [](const KQUZipLayoutRange& a, const KQUZipLayoutRange& b) {
        return a.offset < b.offset;
    };
    if (!std::is_sorted(claimed.begin(), claimed.end(), byOffset))
        std::stable_sort(claimed.begin(), claimed.end(), byOffset);

    std::vector<KQUZipLayoutRange> cover;
    cover.reserve(claimed.size() + 2);
    uint64_t cursor = 0;
    for (auto& range : claimed) {
        uint64_t start = std::max(range.offset, cursor);
        uint64_t stop = range.offset + std::min(range.length, length - std::min(range.offset, length));
        if (stop <= start) continue;  // outside the file, or wholly inside an earlier range
        if (start > cursor) cover.push_back({cursor, start - cursor, KQUZipLayoutKind::Unknown});
        range.offset = start;
        range.length = stop - start;
        cursor = stop;
        cover.push_back(std::move(range));
    }
    if (cursor < length) cover.push_back({cursor, length - cursor, KQUZipLayoutKind::Unknown});
    return cover;
}

}  // namespace kqu
