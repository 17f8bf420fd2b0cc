#include "kqutility/zip/KQUZipFormat.h"

#include "kqutility/zip/KQUZipCrc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include <fmt/format.h>

namespace kqu {

namespace {

constexpr const char* kOutputError = "KQUZipOutputError";

// Appends little-endian integers to a byte vector.
class RecordBuilder {
public:
    explicit RecordBuilder(KQUData& out) : mOut(out), mStart(out.size()) {}
    void u16(uint16_t v) {
        uint8_t b[2];
        KQUZipWriteUInt16(b, v);
        mOut.insert(mOut.end(), b, b + 2);
    }
    void u32(uint32_t v) {
        uint8_t b[4];
        KQUZipWriteUInt32(b, v);
        mOut.insert(mOut.end(), b, b + 4);
    }
    void u64(uint64_t v) {
        uint8_t b[8];
        KQUZipWriteUInt64(b, v);
        mOut.insert(mOut.end(), b, b + 8);
    }
    void bytes(std::span<const uint8_t> data) { mOut.insert(mOut.end(), data.begin(), data.end()); }
    void bytes(std::string_view data) { mOut.insert(mOut.end(), data.begin(), data.end()); }
    size_t appended() const { return mOut.size() - mStart; }

private:
    KQUData& mOut;
    size_t mStart;
};

// Reads little-endian integers from a span whose length has been checked up front.
class RecordReader {
public:
    explicit RecordReader(std::span<const uint8_t> bytes) : mBytes(bytes) {}
    uint16_t u16() {
        uint16_t v = KQUZipReadUInt16(mBytes.data() + mPos);
        mPos += 2;
        return v;
    }
    uint32_t u32() {
        uint32_t v = KQUZipReadUInt32(mBytes.data() + mPos);
        mPos += 4;
        return v;
    }
    uint64_t u64() {
        uint64_t v = KQUZipReadUInt64(mBytes.data() + mPos);
        mPos += 8;
        return v;
    }

private:
    std::span<const uint8_t> mBytes;
    size_t mPos = 0;
};

// The signature and fixed size check every decoder starts with.
bool hasFixedRecord(std::span<const uint8_t> bytes, uint32_t signature, size_t fixedSize) {
    return bytes.size() >= fixedSize && KQUZipHasSignature(bytes, signature);
}

void checkFileName(std::string_view fileName) {
    if (fileName.size() > KQUZipMaxVariableFieldLength)
        throw KQUZipException(kOutputError, fmt::format("File name {} is too long", fileName));
}

void checkExtraField(std::string_view fileName, size_t length) {
    if (length > KQUZipMaxVariableFieldLength)
        throw KQUZipException(kOutputError, fmt::format("Extra field of file {} is too long", fileName));
}

}  // namespace

// ---- Decoders --------------------------------------------------------------------------

std::optional<KQUZipLocalFileHeader> KQUZipDecodeLocalFileHeader(std::span<const uint8_t> bytes) {
    if (!hasFixedRecord(bytes, KQUZipLocalFileHeaderSignature, KQUZipLocalFileHeaderFixedSize))
        return std::nullopt;
    RecordReader r(bytes.subspan(4));
    KQUZipLocalFileHeader h;
    h.versionNeededToExtract = r.u16();
    h.flags = r.u16();
    h.compressionMethod = r.u16();
    h.dosTime = r.u32();
    h.crc32 = r.u32();
    h.compressedSize = r.u32();
    h.uncompressedSize = r.u32();
    h.fileNameLength = r.u16();
    h.extraFieldLength = r.u16();
    return h;
}

std::optional<KQUZipLocalFileHeaderRecord> KQUZipDecodeLocalFileHeaderRecord(std::span<const uint8_t> bytes) {
    auto header = KQUZipDecodeLocalFileHeader(bytes);
    if (!header || header->recordSize() > bytes.size()) return std::nullopt;
    KQUZipLocalFileHeaderRecord record;
    record.header = *header;
    record.fileName = bytes.subspan(KQUZipLocalFileHeaderFixedSize, header->fileNameLength);
    record.extraField =
        bytes.subspan(KQUZipLocalFileHeaderFixedSize + header->fileNameLength, header->extraFieldLength);
    return record;
}

std::optional<KQUZipCentralFileHeader> KQUZipDecodeCentralFileHeader(std::span<const uint8_t> bytes) {
    if (!hasFixedRecord(bytes, KQUZipCentralFileHeaderSignature, KQUZipCentralFileHeaderFixedSize))
        return std::nullopt;
    RecordReader r(bytes.subspan(4));
    KQUZipCentralFileHeader h;
    h.versionMadeBy = r.u16();
    h.versionNeededToExtract = r.u16();
    h.flags = r.u16();
    h.compressionMethod = r.u16();
    h.dosTime = r.u32();
    h.crc32 = r.u32();
    h.compressedSize = r.u32();
    h.uncompressedSize = r.u32();
    h.fileNameLength = r.u16();
    h.extraFieldLength = r.u16();
    h.fileCommentLength = r.u16();
    h.diskNumberStart = r.u16();
    h.internalFileAttributes = r.u16();
    h.externalFileAttributes = r.u32();
    h.localHeaderOffset = r.u32();
    return h;
}

std::optional<KQUZipCentralFileHeaderRecord> KQUZipDecodeCentralFileHeaderRecord(
    std::span<const uint8_t> bytes) {
    auto header = KQUZipDecodeCentralFileHeader(bytes);
    if (!header || header->recordSize() > bytes.size()) return std::nullopt;
    KQUZipCentralFileHeaderRecord record;
    record.header = *header;
    size_t position = KQUZipCentralFileHeaderFixedSize;
    record.fileName = bytes.subspan(position, header->fileNameLength);
    position += header->fileNameLength;
    record.extraField = bytes.subspan(position, header->extraFieldLength);
    position += header->extraFieldLength;
    record.fileComment = bytes.subspan(position, header->fileCommentLength);
    return record;
}

std::optional<KQUZipDataDescriptor> KQUZipDecodeDataDescriptor(std::span<const uint8_t> bytes, bool isZip64) {
    if (!hasFixedRecord(bytes, KQUZipDataDescriptorSignature,
                        isZip64 ? KQUZip64DataDescriptorSize : KQUZipDataDescriptorSize))
        return std::nullopt;
    RecordReader r(bytes.subspan(4));
    KQUZipDataDescriptor d;
    d.crc32 = r.u32();
    d.compressedSize = isZip64 ? r.u64() : r.u32();
    d.uncompressedSize = isZip64 ? r.u64() : r.u32();
    return d;
}

std::optional<KQUZipEndOfCentralDirectoryRecord> KQUZipDecodeEndOfCentralDirectory(
    std::span<const uint8_t> bytes) {
    if (!hasFixedRecord(bytes, KQUZipEndOfCentralDirectorySignature, KQUZipEndOfCentralDirectoryFixedSize))
        return std::nullopt;
    RecordReader r(bytes.subspan(4));
    KQUZipEndOfCentralDirectoryRecord e;
    e.diskNumber = r.u16();
    e.centralDirectoryDisk = r.u16();
    e.entriesOnThisDisk = r.u16();
    e.totalEntries = r.u16();
    e.centralDirectorySize = r.u32();
    e.centralDirectoryOffset = r.u32();
    e.commentLength = r.u16();
    return e;
}

std::optional<KQUZip64EndOfCentralDirectoryRecord> KQUZipDecodeZip64EndOfCentralDirectory(
    std::span<const uint8_t> bytes) {
    if (!hasFixedRecord(bytes, KQUZip64EndOfCentralDirectorySignature,
                        KQUZip64EndOfCentralDirectoryFixedSize))
        return std::nullopt;
    RecordReader r(bytes.subspan(4));
    KQUZip64EndOfCentralDirectoryRecord e;
    e.remainingRecordSize = r.u64();
    e.versionMadeBy = r.u16();
    e.versionNeededToExtract = r.u16();
    e.diskNumber = r.u32();
    e.centralDirectoryDisk = r.u32();
    e.entriesOnThisDisk = r.u64();
    e.totalEntries = r.u64();
    e.centralDirectorySize = r.u64();
    e.centralDirectoryOffset = r.u64();
    return e;
}

std::optional<KQUZip64EndOfCentralDirectoryLocator> KQUZipDecodeZip64EndOfCentralDirectoryLocator(
    std::span<const uint8_t> bytes) {
    if (!hasFixedRecord(bytes, KQUZip64EndOfCentralDirectoryLocatorSignature,
                        KQUZip64EndOfCentralDirectoryLocatorSize))
        return std::nullopt;
    RecordReader r(bytes.subspan(4));
    KQUZip64EndOfCentralDirectoryLocator l;
    l.zip64RecordDisk = r.u32();
    l.zip64RecordOffset = r.u64();
    l.totalDisks = r.u32();
    return l;
}

// ---- Encoders --------------------------------------------------------------------------

size_t KQUZipAppendLocalFileHeader(KQUData& out, const KQUZipLocalFileHeader& header,
                                   std::string_view fileName, std::span<const uint8_t> extraField) {
    checkFileName(fileName);
    checkExtraField(fileName, extraField.size());
    RecordBuilder b(out);
    b.u32(KQUZipLocalFileHeaderSignature);
    b.u16(header.versionNeededToExtract);
    b.u16(header.flags);
    b.u16(header.compressionMethod);
    b.u32(header.dosTime);
    b.u32(header.crc32);
    b.u32(header.compressedSize);
    b.u32(header.uncompressedSize);
    b.u16(static_cast<uint16_t>(fileName.size()));
    b.u16(static_cast<uint16_t>(extraField.size()));
    b.bytes(fileName);
    b.bytes(extraField);
    return b.appended();
}

size_t KQUZipAppendCentralFileHeader(KQUData& out, const KQUZipCentralFileHeader& header,
                                     std::string_view fileName, std::span<const uint8_t> extraField,
                                     std::span<const uint8_t> fileComment) {
    checkFileName(fileName);
    checkExtraField(fileName, extraField.size());
    if (fileComment.size() > KQUZipMaxVariableFieldLength)
        throw KQUZipException(kOutputError, fmt::format("Comment of file {} is too long", fileName));
    RecordBuilder b(out);
    b.u32(KQUZipCentralFileHeaderSignature);
    b.u16(header.versionMadeBy);
    b.u16(header.versionNeededToExtract);
    b.u16(header.flags);
    b.u16(header.compressionMethod);
    b.u32(header.dosTime);
    b.u32(header.crc32);
    b.u32(header.compressedSize);
    b.u32(header.uncompressedSize);
    b.u16(static_cast<uint16_t>(fileName.size()));
    b.u16(static_cast<uint16_t>(extraField.size()));
    b.u16(static_cast<uint16_t>(fileComment.size()));
    b.u16(header.diskNumberStart);
    b.u16(header.internalFileAttributes);
    b.u32(header.externalFileAttributes);
    b.u32(header.localHeaderOffset);
    b.bytes(fileName);
    b.bytes(extraField);
    b.bytes(fileComment);
    return b.appended();
}

size_t KQUZipAppendDataDescriptor(KQUData& out, const KQUZipDataDescriptor& descriptor, bool isZip64) {
    RecordBuilder b(out);
    b.u32(KQUZipDataDescriptorSignature);
    b.u32(descriptor.crc32);
    if (isZip64) {
        b.u64(descriptor.compressedSize);
        b.u64(descriptor.uncompressedSize);
    } else {
        b.u32(static_cast<uint32_t>(descriptor.compressedSize));
        b.u32(static_cast<uint32_t>(descriptor.uncompressedSize));
    }
    return b.appended();
}

size_t KQUZipAppendEndOfCentralDirectory(KQUData& out, const KQUZipEndOfCentralDirectoryRecord& record,
                                         std::span<const uint8_t> comment) {
    if (comment.size() > KQUZipMaxVariableFieldLength)
        throw KQUZipException(kOutputError, "Archive comment is too long");
    RecordBuilder b(out);
    b.u32(KQUZipEndOfCentralDirectorySignature);
    b.u16(record.diskNumber);
    b.u16(record.centralDirectoryDisk);
    b.u16(record.entriesOnThisDisk);
    b.u16(record.totalEntries);
    b.u32(record.centralDirectorySize);
    b.u32(record.centralDirectoryOffset);
    b.u16(static_cast<uint16_t>(comment.size()));
    b.bytes(comment);
    return b.appended();
}

size_t KQUZipAppendZip64EndOfCentralDirectory(KQUData& out,
                                              const KQUZip64EndOfCentralDirectoryRecord& record) {
    RecordBuilder b(out);
    b.u32(KQUZip64EndOfCentralDirectorySignature);
    b.u64(record.remainingRecordSize);
    b.u16(record.versionMadeBy);
    b.u16(record.versionNeededToExtract);
    b.u32(record.diskNumber);
    b.u32(record.centralDirectoryDisk);
    b.u64(record.entriesOnThisDisk);
    b.u64(record.totalEntries);
    b.u64(record.centralDirectorySize);
    b.u64(record.centralDirectoryOffset);
    return b.appended();
}

size_t KQUZipAppendZip64EndOfCentralDirectoryLocator(KQUData& out,
                                                     const KQUZip64EndOfCentralDirectoryLocator& locator) {
    RecordBuilder b(out);
    b.u32(KQUZip64EndOfCentralDirectoryLocatorSignature);
    b.u32(locator.zip64RecordDisk);
    b.u64(locator.zip64RecordOffset);
    b.u32(locator.totalDisks);
    return b.appended();
}

// ---- Records as the archive writer writes them -----------------------------------------

size_t KQUZipAppendLocalFileHeaderForEntry(KQUData& out, const KQUZipEntryRecordInfo& entry,
                                           std::string_view fileName, bool hasZip64Field) {
    KQUZipLocalFileHeader header;
    header.versionNeededToExtract = entry.versionNeededToExtract;
    header.flags = entry.flags;
    header.compressionMethod = entry.compressionMethod;
    header.dosTime = entry.dosTime;
    auto zip64 = KQUZipZip64LocalExtraField();
    std::span<const uint8_t> extra;
    if (hasZip64Field) extra = zip64;
    return KQUZipAppendLocalFileHeader(out, header, fileName, extra);
}

std::array<uint8_t, 12> KQUZipLocalFileHeaderCrcAndSizes(uint32_t crc32, uint64_t compressedSize,
                                                         uint64_t uncompressedSize) {
    std::array<uint8_t, 12> bytes{};
    KQUZipWriteUInt32(bytes.data(), crc32);
    KQUZipWriteUInt32(bytes.data() + 4, KQUZip32BitField(compressedSize));
    KQUZipWriteUInt32(bytes.data() + 8, KQUZip32BitField(uncompressedSize));
    return bytes;
}

size_t KQUZipAppendZip64LocalPayload(KQUData& out, uint64_t uncompressedSize, uint64_t compressedSize) {
    RecordBuilder b(out);
    if (KQUZipNeedsZip64(uncompressedSize)) b.u64(uncompressedSize);
    if (KQUZipNeedsZip64(compressedSize)) b.u64(compressedSize);
    return b.appended();
}

size_t KQUZipAppendCentralFileHeaderForEntry(KQUData& out, const KQUZipEntryRecordInfo& entry,
                                             std::string_view fileName,
                                             std::span<const uint8_t> libraryExtraFields) {
    // At most 28 bytes of Zip64 field, assembled on the stack so that nothing reaches out
    // before every length has been checked.
    std::array<uint8_t, 28> zip64{};
    size_t payloadLength = 0;
    for (uint64_t value : {entry.uncompressedSize, entry.compressedSize, entry.localHeaderOffset}) {
        if (!KQUZipNeedsZip64(value)) continue;
        KQUZipWriteUInt64(zip64.data() + KQUZipExtraFieldHeaderSize + payloadLength, value);
        payloadLength += 8;
    }
    size_t zip64Length = payloadLength ? KQUZipExtraFieldHeaderSize + payloadLength : 0;
    KQUZipWriteUInt16(zip64.data(), KQUZipZip64ExtraFieldID);
    KQUZipWriteUInt16(zip64.data() + 2, static_cast<uint16_t>(payloadLength));
    checkFileName(fileName);
    checkExtraField(fileName, zip64Length + libraryExtraFields.size());

    KQUZipCentralFileHeader header;
    header.flags = entry.flags;
    header.compressionMethod = entry.compressionMethod;
    header.dosTime = entry.dosTime;
    header.crc32 = entry.crc32;
    header.compressedSize = KQUZip32BitField(entry.compressedSize);
    header.uncompressedSize = KQUZip32BitField(entry.uncompressedSize);
    header.localHeaderOffset = KQUZip32BitField(entry.localHeaderOffset);
    header.versionMadeBy = entry.versionMadeBy;
    header.versionNeededToExtract = entry.versionNeededToExtract;
    header.externalFileAttributes = entry.externalAttributes;
    header.internalFileAttributes = entry.internalAttributes;

    size_t start = out.size();
    KQUZipAppendCentralFileHeader(out, header, fileName);
    // The extra field length of the fixed part covers both blocks.
    KQUZipWriteUInt16(out.data() + start + 30,
                      static_cast<uint16_t>(zip64Length + libraryExtraFields.size()));
    out.insert(out.end(), zip64.begin(), zip64.begin() + static_cast<ptrdiff_t>(zip64Length));
    out.insert(out.end(), libraryExtraFields.begin(), libraryExtraFields.end());
    return out.size() - start;
}

size_t KQUZipAppendEndOfArchive(KQUData& out, uint64_t entryCount, uint64_t directorySize,
                                uint64_t directoryOffset) {
    RecordBuilder b(out);
    bool needsZip64 = KQUZipDirectoryNeedsZip64(entryCount, directorySize, directoryOffset);
    if (needsZip64) {
        KQUZip64EndOfCentralDirectoryRecord record;
        record.entriesOnThisDisk = entryCount;
        record.totalEntries = entryCount;
        record.centralDirectorySize = directorySize;
        record.centralDirectoryOffset = directoryOffset;
        KQUZipAppendZip64EndOfCentralDirectory(out, record);
        KQUZip64EndOfCentralDirectoryLocator locator;
        locator.zip64RecordOffset = directoryOffset + directorySize;
        KQUZipAppendZip64EndOfCentralDirectoryLocator(out, locator);
    }
    KQUZipEndOfCentralDirectoryRecord end;
    uint16_t count =
        KQUZipEntryCountNeedsZip64(entryCount) ? KQUZip16BitEscape : static_cast<uint16_t>(entryCount);
    end.entriesOnThisDisk = count;
    end.totalEntries = count;
    end.centralDirectorySize = (KQUZipNeedsZip64(directorySize) || KQUZipNeedsZip64(directoryOffset))
                                   ? KQUZip32BitEscape
                                   : static_cast<uint32_t>(directorySize);
    end.centralDirectoryOffset = KQUZip32BitField(directoryOffset);
    KQUZipAppendEndOfCentralDirectory(out, end);
    return b.appended();
}

// ---- Extra fields ----------------------------------------------------------------------

std::optional<KQUZipExtraField> KQUZipExtraFieldIterator::next() {
    if (mMalformed || mRest.size() < KQUZipExtraFieldHeaderSize) return std::nullopt;
    uint16_t id = KQUZipReadUInt16(mRest.data());
    uint16_t size = KQUZipReadUInt16(mRest.data() + 2);
    if (size > mRest.size() - KQUZipExtraFieldHeaderSize) {
        mMalformed = true;
        return std::nullopt;
    }
    KQUZipExtraField field{id, mRest.subspan(KQUZipExtraFieldHeaderSize, size)};
    mRest = mRest.subspan(KQUZipExtraFieldHeaderSize + size);
    return field;
}

void KQUZipApplyZip64ExtraField(std::span<const uint8_t> payload, KQUZipZip64Values& values) {
    auto take = [&payload](uint64_t& value, const char* missing) {
        if (value != KQUZip32BitEscape) return;
        if (payload.size() < 8) throw KQUZipException("KQUZipCentralFileHeaderError", missing);
        value = KQUZipReadUInt64(payload.data());
        payload = payload.subspan(8);
    };
    take(values.uncompressedSize, "Not enough room for Zip64 uncompressed size");
    take(values.compressedSize, "Not enough room for Zip64 compressed size");
    take(values.localHeaderOffset, "Not enough room for Zip64 offset");
}

size_t KQUZipAppendZip64ExtraField(KQUData& out, uint64_t uncompressedSize, uint64_t compressedSize,
                                   uint64_t localHeaderOffset) {
    uint16_t count =
        static_cast<uint16_t>(KQUZipNeedsZip64(uncompressedSize) + KQUZipNeedsZip64(compressedSize) +
                              KQUZipNeedsZip64(localHeaderOffset));
    if (count == 0) return 0;
    RecordBuilder b(out);
    b.u16(KQUZipZip64ExtraFieldID);
    b.u16(static_cast<uint16_t>(8 * count));
    if (KQUZipNeedsZip64(uncompressedSize)) b.u64(uncompressedSize);
    if (KQUZipNeedsZip64(compressedSize)) b.u64(compressedSize);
    if (KQUZipNeedsZip64(localHeaderOffset)) b.u64(localHeaderOffset);
    return b.appended();
}

std::array<uint8_t, KQUZip64LocalExtraFieldSize> KQUZipZip64LocalExtraField() {
    std::array<uint8_t, KQUZip64LocalExtraFieldSize> field{};
    KQUZipWriteUInt16(field.data(), KQUZipZip64ExtraFieldID);
    KQUZipWriteUInt16(field.data() + 2, KQUZip64LocalExtraFieldSize - KQUZipExtraFieldHeaderSize);
    return field;
}

size_t KQUZipAppendLibraryExtraField(KQUData& out, uint16_t id, uint32_t tag, std::span<const uint8_t> data) {
    if (data.size() > KQUZipLibraryExtraFieldMaxDataLength)
        throw KQUZipException(kOutputError, fmt::format("Extra field 0x{:04X} is too long", id));
    RecordBuilder b(out);
    b.u16(id);
    b.u16(static_cast<uint16_t>(KQUZipRecordSignatureSize + data.size()));
    b.u32(tag);
    b.bytes(data);
    return b.appended();
}

std::optional<std::span<const uint8_t>> KQUZipLibraryExtraFieldData(std::span<const uint8_t> payload,
                                                                    uint32_t tag) {
    if (!KQUZipHasSignature(payload, tag)) return std::nullopt;
    return payload.subspan(KQUZipRecordSignatureSize);
}

// ---- Free-space entries ----------------------------------------------------------------

std::string KQUZipFreeSpaceEntryName(uint32_t counter) {
    return fmt::format(".QlTrash/{:08X}", counter);
}

bool KQUZipIsFreeSpaceEntryName(std::string_view name) {
    constexpr std::string_view prefix = ".QlTrash/";
    if (name.size() != KQUZipFreeSpaceEntryNameLength || !name.starts_with(prefix)) return false;
    return std::all_of(name.begin() + prefix.size(), name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// ---- DOS times -------------------------------------------------------------------------

uint32_t KQUZipDosTimeFromTm(const std::tm& time) {
    int years = std::clamp(time.tm_year - 80, 1, 127);
    auto field = [](int value, int low, int high) {
        return static_cast<uint32_t>(std::clamp(value, low, high));
    };
    uint32_t date = (static_cast<uint32_t>(years) << 9) | (field(time.tm_mon + 1, 1, 12) << 5) |
                    field(time.tm_mday, 1, 31);
    uint32_t clock = (field(time.tm_hour, 0, 23) << 11) | (field(time.tm_min, 0, 59) << 5) |
                     (field(time.tm_sec, 0, 59) / 2);
    return (date << 16) | clock;
}

uint32_t KQUZipDosTimeFromTime(std::time_t time) {
    std::tm broken{};
    if (!localtime_r(&time, &broken)) return KQUZipDosTimeFromTm(std::tm{});
    return KQUZipDosTimeFromTm(broken);
}

uint32_t KQUZipCurrentDosTime() {
    return KQUZipDosTimeFromTime(std::time(nullptr));
}

KQUZipDosDateTime KQUZipDecodeDosTime(uint32_t dosTime) {
    KQUZipDosDateTime t;
    uint32_t date = dosTime >> 16;
    t.year = 1980 + static_cast<int>(date >> 9);
    t.month = static_cast<int>((date >> 5) & 0x0F);
    t.day = static_cast<int>(date & 0x1F);
    t.hour = static_cast<int>((dosTime >> 11) & 0x1F);
    t.minute = static_cast<int>((dosTime >> 5) & 0x3F);
    t.second = static_cast<int>(dosTime & 0x1F) * 2;
    return t;
}

// ---- CRC-32 ----------------------------------------------------------------------------

uint32_t KQUCrc32Update(uint32_t crc, const void* bytes, size_t size) {
    return KQUZipCrc32(crc, bytes, size);
}

uint32_t KQUCrc32Combine(uint32_t crc1, uint32_t crc2, int64_t len2) {
    if (len2 < 0) throw KQUException(NSInvalidArgumentException, "Negative length for CRC-32 combination.");
    if (len2 == 0) return crc1;
    return static_cast<uint32_t>(crc32_combine64(crc1, crc2, static_cast<z_off64_t>(len2)));
}

}  // namespace kqu
