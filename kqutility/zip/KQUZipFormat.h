// The bytes of the zip package format: record layouts, constants, extra fields, free-space
// entry names, DOS times and CRC-32 helpers.
//
// This is the one place where the archive reader and writer turn records into bytes and
// back. Every multi-byte integer is little-endian. Decoding takes untrusted bytes as a
// std::span and never reads past it: a decoder returns std::nullopt when the span is
// shorter than the record (or its signature differs), and the whole-record decoders also
// check the variable fields (name, extra field, comment) against what is there. Encoding
// appends to a caller's KQUData (reuse one with clear() to avoid allocation) and checks
// every variable field against its 16-bit length before a single byte is appended: a
// too-long name, extra field block or comment throws KQUZipException("KQUZipOutputError", ...)
// and leaves the output unchanged.
//
// Sizes, offsets and counts switch to Zip64 at the escape value itself: a 32-bit field
// holding 0xFFFFFFFF (or a 16-bit count holding 0xFFFF) always means "see the Zip64
// record", so a value equal to the escape is written through Zip64 as well
// (KQUZipNeedsZip64, KQUZipEntryCountNeedsZip64).
//
// Everything here is a pure function of its arguments (KQUZipCurrentDosTime reads the
// clock) and may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUData.h"
#include "kqutility/zip/KQUZipException.h"

namespace kqu {

// ---- Exported constants ----------------------------------------------------------------

inline constexpr uint32_t KQUZipLocalFileHeaderSignature = 0x04034B50;
inline constexpr uint32_t KQUZipLocalFileHeaderFixedSize = 30;
inline constexpr uint32_t KQUZipCentralFileHeaderSignature = 0x02014B50;
inline constexpr uint32_t KQUZipCentralFileHeaderFixedSize = 46;
inline constexpr uint32_t KQUZipDataDescriptorSignature = 0x08074B50;
inline constexpr uint32_t KQUZipDataDescriptorSize = 16;
inline constexpr uint32_t KQUZipEndOfCentralDirectorySignature = 0x06054B50;
inline constexpr uint32_t KQUZipEndOfCentralDirectoryFixedSize = 22;
inline constexpr uint32_t KQUZipEndOfCentralDirectoryMaxSize = 65557;
inline constexpr uint32_t KQUZip64EndOfCentralDirectorySignature = 0x06064B50;
inline constexpr uint32_t KQUZip64EndOfCentralDirectoryFixedSize = 56;
inline constexpr uint32_t KQUZip64EndOfCentralDirectoryLocatorSignature = 0x07064B50;
inline constexpr uint32_t KQUZip64EndOfCentralDirectoryLocatorSize = 20;
inline constexpr uint32_t KQUZip64LocalExtraFieldSize = 20;
inline constexpr uint32_t KQUZipRecordSignatureSize = 4;
inline constexpr uint32_t KQUZipMaxRecordFixedSize = 56;
inline constexpr uint32_t KQUZipVersionNeededToExtract = 20;
inline constexpr uint32_t KQUZipVersionMadeBy = 62;
inline constexpr uint32_t KQUZipDeflateCompressionLevel = 8;
inline constexpr uint32_t KQUZipDeflateBufferSize = 262144;
inline constexpr uint32_t KQUZipInflateBufferMaxSize = 262144;
// The tags inside the library's extra fields. Each holds the tag's four ASCII bytes as
// they lie in memory on this (little-endian) platform, so KQUZipReadUInt32 of a payload's
// first four bytes equals the constant exactly when the tag matches.
inline constexpr uint32_t KQUZipPassphraseVerifierExtraFieldSignature = 0x76706C71;     // "qlpv"
inline constexpr uint32_t KQUZipPassphraseHintExtraFieldSignature = 0x68706C71;         // "qlph"
inline constexpr uint32_t KQUZipEncryptedDocumentUuidExtraFieldSignature = 0x75756C71;  // "qluu"
// printf-style format of free-space entry names; KQUZipFreeSpaceEntryName() applies it.
inline constexpr const char* KQUZipFreeSpaceEntryNameFormat = ".QlTrash/%08X";
inline constexpr uint32_t KQUZipFreeSpaceEntryNameLength = 17;

// ---- Further format values -------------------------------------------------------------

// Size of a data descriptor whose sizes are 8 bytes each.
inline constexpr uint32_t KQUZip64DataDescriptorSize = 24;
// Smallest gap a free-space entry can cover: a local header and a 17-byte name.
inline constexpr uint32_t KQUZipFreeSpaceEntryMinimumSize =
    KQUZipLocalFileHeaderFixedSize + KQUZipFreeSpaceEntryNameLength;
// Offset of the CRC-32 inside a local header; CRC, compressed and uncompressed size follow
// one another there (12 bytes), which is what the writer patches after an entry's data.
inline constexpr uint32_t KQUZipLocalFileHeaderCrcOffset = 14;
// Largest value of every 16-bit length field.
inline constexpr uint32_t KQUZipMaxVariableFieldLength = 0xFFFF;
// Every extra field starts with a 2-byte ID and a 2-byte payload size.
inline constexpr uint32_t KQUZipExtraFieldHeaderSize = 4;
// The most data a library extra field can carry after its 4-byte tag.
inline constexpr uint32_t KQUZipLibraryExtraFieldMaxDataLength =
    KQUZipMaxVariableFieldLength - KQUZipRecordSignatureSize;

// The escape values that send a reader to the Zip64 records.
inline constexpr uint32_t KQUZip32BitEscape = 0xFFFFFFFF;
inline constexpr uint16_t KQUZip16BitEscape = 0xFFFF;

// Compression-method codes (the 16-bit method field of both headers).
inline constexpr uint16_t KQUZipCompressionMethodStored = 0;
inline constexpr uint16_t KQUZipCompressionMethodDeflated = 8;
inline constexpr uint16_t KQUZipCompressionMethodStoredEncrypted = 0x636B;
inline constexpr uint16_t KQUZipCompressionMethodDeflatedEncrypted = 0x636C;
// The reader's internal methods.
inline constexpr int KQUZipInternalMethodStored = 0;
inline constexpr int KQUZipInternalMethodDeflated = 1;

// General-purpose flags.
inline constexpr uint16_t KQUZipFlagTraditionalEncryption = 0x0001;
inline constexpr uint16_t KQUZipFlagDataDescriptor = 0x0008;
inline constexpr uint16_t KQUZipFlagUtf8Name = 0x0800;

// Extra-field header IDs.
inline constexpr uint16_t KQUZipZip64ExtraFieldID = 0x0001;
inline constexpr uint16_t KQUZipPassphraseVerifierExtraFieldID = 0x636D;
inline constexpr uint16_t KQUZipPassphraseHintExtraFieldID = 0x636E;
inline constexpr uint16_t KQUZipEncryptedDocumentUuidExtraFieldID = 0x636F;

// The method code written for an entry.
constexpr uint16_t KQUZipCompressionMethodCode(bool isCompressed, bool isEncrypted) {
    if (isEncrypted)
        return isCompressed ? KQUZipCompressionMethodDeflatedEncrypted
                            : KQUZipCompressionMethodStoredEncrypted;
    return isCompressed ? KQUZipCompressionMethodDeflated : KQUZipCompressionMethodStored;
}
// The reader's internal method for a method code, or nullopt for a code it rejects.
constexpr std::optional<int> KQUZipInternalCompressionMethod(uint16_t code) {
    switch (code) {
        case KQUZipCompressionMethodStored:
        case KQUZipCompressionMethodStoredEncrypted:
            return KQUZipInternalMethodStored;
        case KQUZipCompressionMethodDeflated:
        case KQUZipCompressionMethodDeflatedEncrypted:
            return KQUZipInternalMethodDeflated;
        default:
            return std::nullopt;
    }
}

// A size or offset that a 32-bit field cannot carry (the escape value included).
constexpr bool KQUZipNeedsZip64(uint64_t value) {
    return value >= KQUZip32BitEscape;
}
// An entry count that the 16-bit count fields cannot carry (the escape value included).
constexpr bool KQUZipEntryCountNeedsZip64(uint64_t count) {
    return count >= KQUZip16BitEscape;
}
// What a 32-bit size or offset field holds for value: the value, or the escape.
constexpr uint32_t KQUZip32BitField(uint64_t value) {
    return KQUZipNeedsZip64(value) ? KQUZip32BitEscape : static_cast<uint32_t>(value);
}
// Whether the end of the central directory needs the Zip64 record and locator.
constexpr bool KQUZipDirectoryNeedsZip64(uint64_t entryCount, uint64_t directorySize,
                                         uint64_t directoryOffset) {
    return KQUZipEntryCountNeedsZip64(entryCount) || KQUZipNeedsZip64(directorySize) ||
           KQUZipNeedsZip64(directoryOffset);
}

// ---- Little-endian primitives ----------------------------------------------------------
// Unchecked: the caller has made sure that the bytes are there.

constexpr uint16_t KQUZipReadUInt16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
constexpr uint32_t KQUZipReadUInt32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
constexpr uint64_t KQUZipReadUInt64(const uint8_t* p) {
    return static_cast<uint64_t>(KQUZipReadUInt32(p)) |
           (static_cast<uint64_t>(KQUZipReadUInt32(p + 4)) << 32);
}
constexpr void KQUZipWriteUInt16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void KQUZipWriteUInt32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
constexpr void KQUZipWriteUInt64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// True when bytes holds at least four bytes and they are signature.
constexpr bool KQUZipHasSignature(std::span<const uint8_t> bytes, uint32_t signature) {
    return bytes.size() >= KQUZipRecordSignatureSize && KQUZipReadUInt32(bytes.data()) == signature;
}

// ---- Records ---------------------------------------------------------------------------
// Each struct holds the fields of one record after its signature, as stored. When a
// record is encoded, length fields are taken from the variable fields actually passed,
// not from the struct.

struct KQUZipLocalFileHeader {
    uint16_t versionNeededToExtract = KQUZipVersionNeededToExtract;
    uint16_t flags = 0;
    uint16_t compressionMethod = KQUZipCompressionMethodStored;
    uint32_t dosTime = 0;  // DOS time in the low 16 bits, DOS date in the high 16 bits
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t fileNameLength = 0;
    uint16_t extraFieldLength = 0;

    // Fixed part, name and extra field.
    uint64_t recordSize() const {
        return uint64_t{KQUZipLocalFileHeaderFixedSize} + fileNameLength + extraFieldLength;
    }
};

struct KQUZipCentralFileHeader {
    uint16_t versionMadeBy = KQUZipVersionMadeBy;
    uint16_t versionNeededToExtract = KQUZipVersionNeededToExtract;
    uint16_t flags = 0;
    uint16_t compressionMethod = KQUZipCompressionMethodStored;
    uint32_t dosTime = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t fileNameLength = 0;
    uint16_t extraFieldLength = 0;
    uint16_t fileCommentLength = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalFileAttributes = 0;
    uint32_t externalFileAttributes = 0;
    uint32_t localHeaderOffset = 0;

    // Fixed part, name, extra field and comment.
    uint64_t recordSize() const {
        return uint64_t{KQUZipCentralFileHeaderFixedSize} + fileNameLength + extraFieldLength +
               fileCommentLength;
    }
};

struct KQUZipDataDescriptor {
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
};

struct KQUZipEndOfCentralDirectoryRecord {
    uint16_t diskNumber = 0;
    uint16_t centralDirectoryDisk = 0;
    uint16_t entriesOnThisDisk = 0;
    uint16_t totalEntries = 0;
    uint32_t centralDirectorySize = 0;
    uint32_t centralDirectoryOffset = 0;
    uint16_t commentLength = 0;
};

struct KQUZip64EndOfCentralDirectoryRecord {
    uint64_t remainingRecordSize = KQUZip64EndOfCentralDirectoryFixedSize - 12;  // 44
    uint16_t versionMadeBy = KQUZipVersionMadeBy;
    uint16_t versionNeededToExtract = KQUZipVersionNeededToExtract;
    uint32_t diskNumber = 0;
    uint32_t centralDirectoryDisk = 0;
    uint64_t entriesOnThisDisk = 0;
    uint64_t totalEntries = 0;
    uint64_t centralDirectorySize = 0;
    uint64_t centralDirectoryOffset = 0;
};

struct KQUZip64EndOfCentralDirectoryLocator {
    uint32_t zip64RecordDisk = 0;
    uint64_t zip64RecordOffset = 0;
    uint32_t totalDisks = 1;
};

// A header together with its variable fields, all pointing into the decoded bytes.
struct KQUZipLocalFileHeaderRecord {
    KQUZipLocalFileHeader header;
    std::span<const uint8_t> fileName;
    std::span<const uint8_t> extraField;
};
struct KQUZipCentralFileHeaderRecord {
    KQUZipCentralFileHeader header;
    std::span<const uint8_t> fileName;
    std::span<const uint8_t> extraField;
    std::span<const uint8_t> fileComment;
};

// Decoders: bytes starts at the record's signature. nullopt when bytes is shorter than
// the fixed record or does not start with the record's signature (KQUZipHasSignature
// tells the two apart). The Record variants also return nullopt when the variable fields
// run past the end of bytes.
std::optional<KQUZipLocalFileHeader> KQUZipDecodeLocalFileHeader(std::span<const uint8_t> bytes);
std::optional<KQUZipLocalFileHeaderRecord> KQUZipDecodeLocalFileHeaderRecord(std::span<const uint8_t> bytes);
std::optional<KQUZipCentralFileHeader> KQUZipDecodeCentralFileHeader(std::span<const uint8_t> bytes);
std::optional<KQUZipCentralFileHeaderRecord> KQUZipDecodeCentralFileHeaderRecord(
    std::span<const uint8_t> bytes);
// isZip64: the sizes are 8 bytes each (24-byte descriptor), else 4 bytes (16 bytes).
std::optional<KQUZipDataDescriptor> KQUZipDecodeDataDescriptor(std::span<const uint8_t> bytes, bool isZip64);
std::optional<KQUZipEndOfCentralDirectoryRecord> KQUZipDecodeEndOfCentralDirectory(
    std::span<const uint8_t> bytes);
std::optional<KQUZip64EndOfCentralDirectoryRecord> KQUZipDecodeZip64EndOfCentralDirectory(
    std::span<const uint8_t> bytes);
std::optional<KQUZip64EndOfCentralDirectoryLocator> KQUZipDecodeZip64EndOfCentralDirectoryLocator(
    std::span<const uint8_t> bytes);

// Encoders: append the record and return the number of bytes appended. A name, extra
// field block or comment longer than 65535 bytes throws KQUZipException "KQUZipOutputError"
// ("File name <name> is too long", "Extra field of file <name> is too long",
// "Comment of file <name> is too long", "Archive comment is too long") and appends nothing.
size_t KQUZipAppendLocalFileHeader(KQUData& out, const KQUZipLocalFileHeader& header,
                                   std::string_view fileName, std::span<const uint8_t> extraField = {});
size_t KQUZipAppendCentralFileHeader(KQUData& out, const KQUZipCentralFileHeader& header,
                                     std::string_view fileName, std::span<const uint8_t> extraField = {},
                                     std::span<const uint8_t> fileComment = {});
// 16 bytes, or 24 when isZip64.
size_t KQUZipAppendDataDescriptor(KQUData& out, const KQUZipDataDescriptor& descriptor, bool isZip64);
size_t KQUZipAppendEndOfCentralDirectory(KQUData& out, const KQUZipEndOfCentralDirectoryRecord& record,
                                         std::span<const uint8_t> comment = {});
size_t KQUZipAppendZip64EndOfCentralDirectory(KQUData& out,
                                              const KQUZip64EndOfCentralDirectoryRecord& record);
size_t KQUZipAppendZip64EndOfCentralDirectoryLocator(KQUData& out,
                                                     const KQUZip64EndOfCentralDirectoryLocator& locator);

// ---- Records as the archive writer writes them -----------------------------------------

// What the writer knows of an entry, in full 64-bit values.
struct KQUZipEntryRecordInfo {
    uint16_t flags = 0;
    uint16_t compressionMethod = KQUZipCompressionMethodStored;
    uint32_t dosTime = 0;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    // Central header only: the writer's own entries carry 62 and 0; an entry with a Unix
    // mode, or one copied from another archive, carries what it was given.
    uint16_t versionMadeBy = KQUZipVersionMadeBy;
    uint32_t externalAttributes = 0;
    uint16_t internalAttributes = 0;
    // Both headers: 20 for the writer's own entries; a copied entry keeps its own.
    uint16_t versionNeededToExtract = KQUZipVersionNeededToExtract;
};

// The version-made-by value of an entry whose external attributes hold a Unix mode in
// their high 16 bits (host system 3, Unix, in the upper byte).
inline constexpr uint16_t KQUZipVersionMadeByUnix = 0x0300 | KQUZipVersionMadeBy;

// The local header as written before the entry's data: CRC and sizes 0, and, when
// hasZip64Field, a 20-byte Zip64 local extra field with a zero payload. Returns the
// header's length (30 + name length, + 20).
size_t KQUZipAppendLocalFileHeaderForEntry(KQUData& out, const KQUZipEntryRecordInfo& entry,
                                           std::string_view fileName, bool hasZip64Field);
// The 12 bytes patched at KQUZipLocalFileHeaderCrcOffset after the data: the CRC-32, then
// the compressed and the uncompressed size, each as KQUZip32BitField.
std::array<uint8_t, 12> KQUZipLocalFileHeaderCrcAndSizes(uint32_t crc32, uint64_t compressedSize,
                                                         uint64_t uncompressedSize);
// The values patched into a Zip64 local extra field's payload from its first byte: the
// uncompressed size if it needs Zip64, then the compressed size if it does. Appends 0, 8
// or 16 bytes and returns the count.
size_t KQUZipAppendZip64LocalPayload(KQUData& out, uint64_t uncompressedSize, uint64_t compressedSize);
// The entry's central header: escapes in the 32-bit fields that need Zip64, the Zip64
// extended information field first (only the values that need it, in the order
// uncompressed size, compressed size, offset), then libraryExtraFields (already encoded,
// see KQUZipAppendLibraryExtraField), no comment. Nothing is appended when the name or the
// whole extra field block is too long.
size_t KQUZipAppendCentralFileHeaderForEntry(KQUData& out, const KQUZipEntryRecordInfo& entry,
                                             std::string_view fileName,
                                             std::span<const uint8_t> libraryExtraFields = {});
// The end of the archive after a central directory of entryCount headers that starts at
// directoryOffset and is directorySize bytes long: when KQUZipDirectoryNeedsZip64, the
// Zip64 end record (at directoryOffset + directorySize) and its locator; then the end of
// central directory record (count or 0xFFFF; size, or 0xFFFFFFFF when the size or the
// offset needs Zip64; offset or 0xFFFFFFFF; no comment).
size_t KQUZipAppendEndOfArchive(KQUData& out, uint64_t entryCount, uint64_t directorySize,
                                uint64_t directoryOffset);

// ---- Extra fields ----------------------------------------------------------------------

struct KQUZipExtraField {
    uint16_t id = 0;
    std::span<const uint8_t> payload;
};

// Walks an extra field block. next() yields each field in turn; it stops (nullopt) when
// fewer than 4 bytes remain, or when a field's payload runs past the block, in which case
// isMalformed() becomes true and the rest of the block is not interpreted.
class KQUZipExtraFieldIterator {
public:
    explicit KQUZipExtraFieldIterator(std::span<const uint8_t> block) : mRest(block) {}
    std::optional<KQUZipExtraField> next();
    bool isMalformed() const { return mMalformed; }

private:
    std::span<const uint8_t> mRest;
    bool mMalformed = false;
};

// The 64-bit values of a central header, before and after its Zip64 field is applied.
struct KQUZipZip64Values {
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
    uint64_t localHeaderOffset = 0;
};
// Applies a Zip64 extended information payload: walking it in order, an uncompressed
// size equal to 0xFFFFFFFF takes the next 8 bytes, then a compressed size, then a local
// header offset. When a needed value is missing throws KQUZipException
// "KQUZipCentralFileHeaderError" with "Not enough room for Zip64 uncompressed size",
// "... compressed size" or "... offset" (values already replaced stay replaced).
void KQUZipApplyZip64ExtraField(std::span<const uint8_t> payload, KQUZipZip64Values& values);
// Appends the central Zip64 field for these values (nothing when none needs it).
size_t KQUZipAppendZip64ExtraField(KQUData& out, uint64_t uncompressedSize, uint64_t compressedSize,
                                   uint64_t localHeaderOffset);
// The 20-byte Zip64 local extra field with a zero payload.
std::array<uint8_t, KQUZip64LocalExtraFieldSize> KQUZipZip64LocalExtraField();

// A library field: ID, payload size 4 + data length, tag, data. Data longer than
// KQUZipLibraryExtraFieldMaxDataLength throws KQUZipException "KQUZipOutputError" with
// "Extra field 0x<ID> is too long" and appends nothing.
size_t KQUZipAppendLibraryExtraField(KQUData& out, uint16_t id, uint32_t tag, std::span<const uint8_t> data);
// The data of a library field: the payload after the tag, when the payload holds at least
// 4 bytes and starts with tag; otherwise nullopt.
std::optional<std::span<const uint8_t>> KQUZipLibraryExtraFieldData(std::span<const uint8_t> payload,
                                                                    uint32_t tag);

// ---- Free-space entries ----------------------------------------------------------------

// ".QlTrash/" and eight upper-case hexadecimal digits of counter; always 17 bytes.
std::string KQUZipFreeSpaceEntryName(uint32_t counter);
// True for a name of that form.
bool KQUZipIsFreeSpaceEntryName(std::string_view name);

// ---- DOS times -------------------------------------------------------------------------

// The current local time in DOS form: DOS time in the low 16 bits, DOS date in the high.
uint32_t KQUZipCurrentDosTime();
// The DOS form of a broken-down time: years since 1980 kept between 1 (a clock before 1981
// gives 1981) and 127 (the field's largest, 2107), seconds halved and rounded down.
uint32_t KQUZipDosTimeFromTm(const std::tm& time);
// The DOS form of an absolute time, broken down in the local time zone.
uint32_t KQUZipDosTimeFromTime(std::time_t time);

struct KQUZipDosDateTime {
    int year = 1980;  // full year
    int month = 0;    // 1..12 in valid values
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;  // even
};
// Unpacks a DOS time value (no validation: fields are what the bits say).
KQUZipDosDateTime KQUZipDecodeDosTime(uint32_t dosTime);

// ---- CRC-32 ----------------------------------------------------------------------------

// Continues the zip CRC-32 crc over size bytes (any size); KQUZipCrc32, identical to
// zlib's crc32.
uint32_t KQUCrc32Update(uint32_t crc, const void* bytes, size_t size);
// The CRC-32 of A followed by B, from crc1 = CRC-32 of A, crc2 = CRC-32 of B and
// len2 = length of B. len2 == 0 returns crc1. A negative len2 throws KQUException
// NSInvalidArgumentException "Negative length for CRC-32 combination.".
uint32_t KQUCrc32Combine(uint32_t crc1, uint32_t crc2, int64_t len2);

}  // namespace kqu
