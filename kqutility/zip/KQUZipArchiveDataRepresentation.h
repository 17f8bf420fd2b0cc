// The bytes of a zip archive, as the archive reader sees them: a data representation
// that also hands out independent streams over any byte range of the archive.
//
// KQUZipArchiveFileDataRepresentation stands for an archive file and keeps one read-only
// descriptor of it open; every range stream shares that descriptor and reads with
// positioned reads (no descriptor is made per stream), so entries can be read from several
// threads at once, and a stream keeps the descriptor open after the representation is
// gone. Buffered range streams get a buffer no larger than their range (at most 256 KiB). When the file cannot be
// opened the representation still exists, reads by path and reports itself unreadable
// while the file is missing.
//
// KQUZipArchiveMemoryDataRepresentation stands for an archive held in a shared immutable
// block. Its streams lend the block's bytes directly. Memory streams address at most
// 4 GiB with 32-bit offsets: ranges that start or end beyond that are refused rather than
// wrapped.
//
// Ranges outside the archive throw NSInvalidArgumentException "Bad input stream range.".
// Both representations are immutable after creation and may be used from any thread.
#pragma once

#include <memory>
#include <string>

#include "kqutility/data/KQUDataRepresentation.h"
#include "kqutility/foundation/KQUData.h"
#include "kqutility/streams/KQUFileStreams.h"

namespace kqu {

class KQUZipArchiveDataRepresentation : public KQUDataRepresentation {
public:
    // A new stream over [offset, offset + length) of the archive, whose offset 0 is the
    // range's start. Throws "Bad input stream range." for a range outside the archive and
    // "KQUDataRepresentationError" when the archive cannot be reached.
    virtual std::shared_ptr<KQUInputStream> inputStreamWithOffset(int64_t offset, int64_t length) const = 0;
    // The same as a buffered stream (256 KiB for files).
    virtual std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStreamWithOffset(
        int64_t offset, int64_t length) const = 0;
    // Copies up to size bytes at offset into buffer without making a stream (a local
    // header, for instance); returns how many were there. Throws "Bad input stream range."
    // for an offset outside the archive.
    virtual uint32_t readBytesAtOffset(int64_t offset, char* buffer, uint32_t size) const = 0;
    // Whether [offset, offset + length) lies inside an archive of archiveLength bytes.
    static bool isValidRange(int64_t offset, int64_t length, int64_t archiveLength);
};

using KQUZipArchiveDataRepresentationRef = std::shared_ptr<const KQUZipArchiveDataRepresentation>;

class KQUZipArchiveFileDataRepresentation final : public KQUZipArchiveDataRepresentation {
public:
    explicit KQUZipArchiveFileDataRepresentation(const std::string& path);
    ~KQUZipArchiveFileDataRepresentation() override;
    KQUZipArchiveFileDataRepresentation(const KQUZipArchiveFileDataRepresentation&) = delete;
    KQUZipArchiveFileDataRepresentation& operator=(const KQUZipArchiveFileDataRepresentation&) = delete;

    bool isReadable() const override { return mFileRepresentation->isReadable(); }
    int64_t dataLength() const override { return mFileRepresentation->dataLength(); }
    // Encryption lives in the entries, not in the archive file.
    bool isEncrypted() const override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() const override {
        return mFileRepresentation->inputStream();
    }
    std::optional<std::string> path() const { return mFileRepresentation->path(); }
    // Same path as another archive file representation or a file data representation.
    bool hasSameLocationAs(const KQUDataRepresentation& other) const override;
    std::string description() const override { return mFileRepresentation->description(); }

    std::shared_ptr<KQUInputStream> inputStreamWithOffset(int64_t offset, int64_t length) const override;
    std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStreamWithOffset(
        int64_t offset, int64_t length) const override;
    uint32_t readBytesAtOffset(int64_t offset, char* buffer, uint32_t size) const override;
    // The shared read-only descriptor (-1 when the file could not be opened), for copies
    // done by the kernel; it stays owned by the representation.
    int fileDescriptor() const { return mDescriptor ? mDescriptor->fd() : -1; }

private:
    std::shared_ptr<const KQUSharedFileDescriptor> mDescriptor;  // null when the file could not be opened
    // Reads through mDescriptor, so it must not outlive this object: it is never handed out.
    std::unique_ptr<KQUFileDataRepresentation> mFileRepresentation;
};

class KQUZipArchiveMemoryDataRepresentation final : public KQUZipArchiveDataRepresentation {
public:
    // Null data stands for an empty block. Keeps data itself when it is sealed (KQUMakeData),
    // otherwise a copy: the archive's bytes cannot change under its readers.
    explicit KQUZipArchiveMemoryDataRepresentation(KQUDataRef data);

    const KQUDataRef& data() const { return mData; }
    int64_t dataLength() const override { return static_cast<int64_t>(mData->size()); }
    std::shared_ptr<KQUInputStream> inputStream() const override;
    std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStream() const override;
    std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStreamWithBufferSize(
        uint32_t size) const override;
    // The identical block.
    bool hasSameLocationAs(const KQUDataRepresentation& other) const override;

    std::shared_ptr<KQUInputStream> inputStreamWithOffset(int64_t offset, int64_t length) const override;
    // Also refuses ranges that start or end at 4 GiB or beyond.
    std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStreamWithOffset(
        int64_t offset, int64_t length) const override;
    uint32_t readBytesAtOffset(int64_t offset, char* buffer, uint32_t size) const override;
    static bool isValidMemoryRange(int64_t offset, int64_t length, int64_t archiveLength);

private:
    KQUDataRef mData;
};

}  // namespace kqu
