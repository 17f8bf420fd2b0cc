// One entry of a zip archive, as a data representation: it hands out a fresh stream over
// the entry's bytes on request.
//
// The stream is a range stream over the archive for stored entries and an inflating
// stream for deflated ones; for entries stored with the library's encrypted methods
// (0x636B, 0x636C) a decrypting stream with the archive's key sits beneath. Entries stored
// with the plain methods 0 and 8 (free-space entries, for instance) are read without the
// key even in an encrypted archive. Everything read is verified: when an entry has been
// read to its end, the CRC-32 is compared (over the plaintext for plain entries, over the
// stored bytes for encrypted ones, as the writer computes it) and a mismatch throws
// KQUZipException "KQUZipEntryError".
//
// The entry's local header is read lazily, when its data is first needed; its data must
// lie inside the archive and before the next entry. Entries keep the archive's data
// representation alive, so an entry may outlive its archive.
//
// Threads: after the archive is opened, streams of one entry or of several entries may be
// made and read on several threads at once; the lazily computed data offset is computed
// under a lock of the entry (a striped lock, see KQUStripedLock). setCryptoKey() and
// setDataLength() are not synchronized and belong before concurrent reading.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/data/KQUDataRepresentation.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"

namespace kqu {

class KQUZipEntry final : public KQUDataRepresentation {
public:
    // An entry from known values (internal method 0 stored, 1 deflated); the writer makes
    // entries this way.
    KQUZipEntry(KQUZipArchiveDataRepresentationRef archive, int compressionMethod, uint64_t compressedSize,
                uint64_t uncompressedSize, uint64_t offset, uint32_t crc);
    // An entry from the bytes of a central file header after its signature (at least 42
    // bytes). Throws KQUZipException "KQUZipCentralFileHeaderError" with "Encrypted files
    // are not supported", "Unsupported compression method" or "No multi-disk support".
    KQUZipEntry(const uint8_t* centralHeader, KQUZipArchiveDataRepresentationRef archive);

    // 0 or 0x636B: stored; 8 or 0x636C: deflated; anything else throws
    // "KQUZipCentralFileHeaderError" "Unsupported compression method".
    void setCompressionFlags(uint16_t methodCode);
    // Applies a Zip64 extended information payload (see KQUZipApplyZip64ExtraField).
    void readZip64ExtraField(std::span<const uint8_t> payload);

    int64_t dataLength() const override { return static_cast<int64_t>(mUncompressedSize); }
    // With a key, the encrypted length of the plaintext; otherwise the data length.
    int64_t encodedLength() const override;
    // The archive is readable and the local header was found.
    bool isReadable() const override;
    // Only for an entry read with a key (the plaintext length the application knows);
    // otherwise an assertion failure ("Tried to call -setDataLength: on an unencrypted zip
    // entry.") and nothing changes.
    void setDataLength(int64_t length);
    void setCryptoKey(KQUCryptoKeyRef key) { mCryptoKey = std::move(key); }
    // The entry is stored with an encrypted method and a key is set.
    bool isEncrypted() const override { return hasEncryptedMethod() && mCryptoKey; }
    // Deflated (method 8 or 0x636C).
    bool isCompressed() const { return mMethodCode == 8 || mMethodCode == 0x636C; }
    // Stored with one of the library's encrypted methods (0x636B or 0x636C).
    bool hasEncryptedMethod() const { return mMethodCode == 0x636B || mMethodCode == 0x636C; }

    // A new stream over the entry's plaintext; nullptr when the local header is missing.
    // Throws KQUZipException "KQUZipEntryError" when the entry's data does not lie inside
    // the archive, when its sizes contradict each other, or when it is encrypted and no
    // key is set ("The entry is encrypted; a key is needed to read it.").
    std::shared_ptr<KQUInputStream> inputStream() const override;
    // A new stream over the bytes as stored in the archive (compressed and encrypted as
    // they are), checked against the CRC-32 only when the CRC covers them (encrypted
    // entries); nullptr when the local header is missing.
    std::shared_ptr<KQUInputStream> storedInputStream() const;
    // The archive offset of the stored bytes, checked to lie inside the archive and before
    // the next entry; nullopt when the local header is missing.
    std::optional<uint64_t> storedDataOffset() const;
    // All of the entry's bytes. Throws "KQUZipEntryError" with "Couldn't read data with
    // size: <n>" when the size is 4 GiB or more, more than its compressed size can hold,
    // or the bytes cannot all be read; "Couldn't allocate NSMutableData with size: <n>".
    KQUDataRef data() const;
    // Writes the entry's bytes to a new file that replaces path only when complete; on
    // failure path is untouched and the partial file removed.
    void copyToFile(const std::string& path) const;

    bool isBackedByFile() const;
    // The archive file's path; on an entry not backed by a file an assertion failure
    // ("-[KQUZipEntry backingFilePath] called on an entry that is not backed by file.")
    // and nullopt.
    std::optional<std::string> backingFilePath() const;
    // The offset of the entry's first data byte in the archive file; on an entry not
    // backed by a file an assertion failure and 0.
    uint64_t backingFileDataOffset() const;

    uint64_t compressedSize() const { return mCompressedSize; }
    uint64_t uncompressedSize() const { return mUncompressedSize; }
    uint64_t localHeaderOffset() const { return mOffset; }
    uint32_t crc() const { return mCrc; }
    uint16_t compressionMethodCode() const { return mMethodCode; }
    // The general-purpose flags of the central header (0 for entries made from values).
    uint16_t flags() const { return mFlags; }
    // The central header's DOS time and date (time in the low 16 bits), version made by
    // and external attributes, as stored.
    uint32_t dosTime() const { return mDosTime; }
    uint16_t versionMadeBy() const { return mVersionMadeBy; }
    uint32_t externalAttributes() const { return mExternalAttributes; }
    uint16_t internalAttributes() const { return mInternalAttributes; }
    uint16_t versionNeededToExtract() const { return mVersionNeeded; }
    const KQUCryptoKeyRef& cryptoKey() const { return mCryptoKey; }
    const KQUZipArchiveDataRepresentationRef& archiveDataRepresentation() const {
        return mArchiveDataRepresentation;
    }
    // The name in the central directory (before any common root was stripped).
    std::string_view name() const { return {mNameData, mNameLength}; }
    // The entry keeps a copy of name.
    void setName(std::string_view name);
    // Where the next entry (or the central directory) begins: the entry's data must end
    // there. The archive sets it when it has read the whole directory.
    void setDataLimit(uint64_t limit) { mDataLimit = limit; }
    uint64_t dataLimit() const { return mDataLimit; }
    std::string description() const override;

private:
    // The offset of the first data byte; 0 when the local header was not found. Throws
    // "KQUZipEntryError" "Could not read local header." when it lies outside the archive.
    uint64_t dataOffset() const;
    // Checks that [dataOffset, dataOffset + length) lies before the data limit.
    void checkDataRange(uint64_t dataOffset, uint64_t length) const;

    friend class KQUZipArchive;
    // For the archive's own entries: name lies in the archive's name store, which lives as
    // long as its entries (no copy, no allocation per entry).
    void setBorrowedName(std::string_view name);

    // Ordered and sized so that an entry fills exactly two cache lines (128 bytes): opening
    // a large archive mostly costs writing its entries into fresh memory.
    KQUZipArchiveDataRepresentationRef mArchiveDataRepresentation;
    KQUCryptoKeyRef mCryptoKey;
    const char* mNameData = "";
    std::unique_ptr<char[]> mOwnedName;  // when the entry keeps its own copy
    uint64_t mCompressedSize = 0;
    uint64_t mUncompressedSize = 0;
    uint64_t mOffset = 0;
    uint64_t mDataLimit = UINT64_MAX;
    uint32_t mNameLength = 0;
    uint32_t mCrc = 0;
    uint32_t mDosTime = 0;
    uint32_t mExternalAttributes = 0;
    // The data offset less the local header offset (the local header's length, at least 30);
    // 0 when the local header was not found.
    mutable uint32_t mLocalHeaderLength = 0;
    uint16_t mMethodCode = 0;
    uint16_t mVersionMadeBy = 0;
    uint16_t mVersionNeeded = 20;
    uint16_t mInternalAttributes = 0;
    uint16_t mFlags = 0;
    mutable std::atomic<bool> mHasDataOffset{false};
};

}  // namespace kqu
