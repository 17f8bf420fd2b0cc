// Writing document packages: zip archives with Zip64, encryption and reuse of freed space.
//
// A KQUZipArchiveOutputStream writes one archive file entry after entry. Each entry is
// begun with its name (stored or deflated, and encrypted when the writer has a document
// key), written through writeBuffer() (or, for a stored entry whose bytes the
// application writes itself, through the stream beginUncompressedUnknownSizeEntry()
// returns) and finished by the next begin, removal, move or close. The writer patches
// CRC and sizes into each local header, writes Zip64 fields where a size or offset
// reaches 0xFFFFFFFF, and on close() writes the central directory (with the passphrase
// verifier, hint and document UUID fields in the first header of an encrypted archive)
// and the end records.
//
// While the archive is open, entries can be removed again. A removed entry at the end of
// the file is cut off; any other leaves a free range, into which a later stored entry of
// known size is placed (an exact fit, or the smallest range that leaves room for a
// free-space entry). Free ranges that remain at close are covered by stored free-space
// entries named ".QlTrash/XXXXXXXX", so the file stays an ordinary zip archive. An entry
// that outgrows its free range (or leaves a rest too small to cover) is moved to the end
// of the file; bytes of other entries are never overwritten.
//
// The file at the writer's path is replaced the moment the writer is made: the
// constructor removes whatever is at path (a file, or a symbolic link itself, not its
// target) and creates a new empty file there, before a single entry is written. Handing
// the writer the path of an existing document therefore destroys that document at once,
// and a crash, a full disk or an exception mid-way leaves a partial archive in its place.
// To save over a document safely, write to a temporary path beside it and put the
// finished file in place only after close():
//
//     KQUAtomicOutputFile target(documentPath, {.syncToDisk = true, .namedTemporary = true});
//     {
//         KQUZipArchiveOutputStream zip(target.temporaryPath(), key, hint);
//         ...  // begin entries, write
//         zip.close();
//     }
//     target.keep();  // renames over the document; on any failure the document is untouched
//
// For a new document, write to a temporary path beside it and call moveToPath(documentPath)
// (then close()): moveToPath never replaces an existing file, it throws instead.
//
// The writer always writes through a KQUMoveableFileOutputStream, which can seek and be
// moved to another path while open (moveToPath). It is used by one thread at a time and
// locks nothing. Misuse of a closed writer goes to the assertion handler ("Zip output
// stream is closed.") and does nothing; format and I/O failures throw (KQUZipException
// "KQUZipOutputError", or the stream layer's errno exceptions). An exception during an
// entry leaves that entry current; the writer does not roll back.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/foundation/KQUData.h"
#include "kqutility/streams/KQUMoveableFileOutputStream.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu {

class KQUZipEntry;
class KQUCryptoOutputStream;

// The writer's record of one entry.
struct KQUZipOutputEntry {
    std::string name;
    uint32_t utf8NameLength = 0;
    bool isCompressed = false;
    bool isEncrypted = false;
    uint32_t time = 0;  // DOS time and date
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t offset = 0;                // of the local header
    uint64_t compressedDataOffset = 0;  // of the first data byte
    uint32_t crc = 0;
    bool isWrittenDirectlyToFile = false;
    bool is64Bit = false;  // the local header carries a Zip64 extra field
    uint16_t versionMadeBy = 62;     // KQUZipVersionMadeBy, or as given or copied
    uint32_t externalAttributes = 0;  // a Unix mode in the high 16 bits, or as copied
    uint16_t internalAttributes = 0;  // as copied
    uint16_t versionNeededToExtract = 20;  // as copied

    // Orders by offset, ascending; equal offsets compare equal (the writer sorts with it).
    std::strong_ordering compareByOffset(const KQUZipOutputEntry& other) const {
        return offset <=> other.offset;
    }
    // "<KQUZipOutputEntry 0x...: name=..., isCompressed=yes|no, compressedSize=..., ...>"
    std::string description() const;
};

// A range of the file that no entry uses.
struct KQUZipFreeSpaceEntry {
    uint64_t offset = 0;
    uint64_t length = 0;

    // Orders by offset, ascending; equal offsets compare equal.
    std::strong_ordering compareByOffset(const KQUZipFreeSpaceEntry& other) const {
        return offset <=> other.offset;
    }
};

// What an entry records besides its bytes. Left empty, an entry carries the time it was
// begun and no attributes (version made by 62, external attributes 0).
struct KQUZipEntryAttributes {
    std::optional<uint32_t> dosTime;   // DOS time and date (KQUZipDosTimeFromTime)
    std::optional<uint32_t> unixMode;  // st_mode: type and permission bits
};

class KQUZipArchiveOutputStream final : public KQUOutputStream {
public:
    // The size announced for an entry whose size is not known in advance.
    static constexpr uint64_t kUnknownSize = UINT64_MAX;

    // 30 + the name's UTF-8 length: what an entry's local header takes, without Zip64.
    static uint32_t approximateBytesForEntryHeaderWithName(std::string_view name);

    // Removes whatever is at path and creates a new empty file there at once (see above).
    // With a key every entry is encrypted and the archive carries a fresh passphrase
    // verifier and, when given, the hint. A hint that could not be stored throws before
    // the file is touched (NSInvalidArgumentException
    // from the hint encoding, or KQUZipOutputError "Passphrase hint is too long" when it
    // would not fit the first central header); I/O failures throw "KQUOpenError".
    explicit KQUZipArchiveOutputStream(const std::string& path, KQUCryptoKeyRef cryptoKey = nullptr,
                                       std::optional<std::string> passphraseHint = std::nullopt);
    ~KQUZipArchiveOutputStream() override;
    KQUZipArchiveOutputStream(const KQUZipArchiveOutputStream&) = delete;
    KQUZipArchiveOutputStream& operator=(const KQUZipArchiveOutputStream&) = delete;

    // Finishes the current entry and begins a new one. uncompressedSize is the number of
    // bytes the application will write, or kUnknownSize. A name longer than 65535 UTF-8
    // bytes throws "File name <name> is too long", and a free-space entry's name
    // (".QlTrash/" and 8 hex digits) "File name <name> is reserved for free space", before
    // anything changes (the current entry stays current).
    void beginEntry(std::string_view name, bool isCompressed, uint64_t uncompressedSize);
    // The same with the entry's time and Unix mode (version made by Unix, external
    // attributes mode << 16).
    void beginEntry(std::string_view name, bool isCompressed, uint64_t uncompressedSize,
                    const KQUZipEntryAttributes& attributes);
    // Finishes the current entry and copies source (an entry of an open KQUZipArchive) as
    // its stored bytes: nothing is inflated, decrypted or deflated, and the name (or
    // newName), CRC-32, sizes, method, time, versions and attributes stay as they were. Placed like a stored entry of known size (into a free range that fits,
    // else at the end). An entry stored with the library's encrypted methods can only be
    // copied into a writer whose key is the key set on source's archive; otherwise throws
    // "KQUZipOutputError" "Entry <name> is encrypted under another key" before anything
    // changes. Bytes stored with a plain method are copied as they are, also into an
    // encrypted package. Throws "KQUZipOutputError" "Could not copy entry <name>: ..." when
    // its bytes cannot all be read (the file is left as before the call); stored bytes whose
    // CRC-32 covers them (stored and encrypted entries) are checked while copied.
    void copyEntry(const KQUZipEntry& source, std::optional<std::string_view> newName = std::nullopt);
    void beginUnknownSizeEntry(std::string_view name, bool isCompressed) {
        beginEntry(name, isCompressed, kUnknownSize);
    }
    // Begins a stored entry of unknown size whose bytes the application writes to the
    // returned stream (offset 0 is the entry's first data byte; without a key it can
    // seek within the entry). The entry ends with the writer's next begin, removal, move
    // or close; do not close the returned stream. With a key the returned stream encrypts
    // (one layer, as for every entry) and cannot seek. nullptr for a closed writer.
    std::shared_ptr<KQUOutputStream> beginUncompressedUnknownSizeEntry(std::string_view name);
    // The CRC-32 of a directly written entry of an unencrypted archive, so that the
    // writer need not read the bytes back; ignored otherwise.
    void setCrc32ForCurrentEntry(uint32_t crc);

    // Appends to the current entry. Throws "-writeBuffer:size: called when current entry
    // is nil" between entries.
    void writeBuffer(const char* buffer, uint32_t size) override;
    void writeData(std::span<const uint8_t> bytes);

    // True when removeEntry(name) will succeed.
    bool canRemoveEntry(std::string_view name);
    // Removes the (first) entry of that name, finishing it first when it is current.
    // Throws "Removing entry named <name> produced free space that is too small." when the
    // hole is under 47 bytes (the entry stays removed).
    void removeEntry(std::string_view name);

    // Stored in the first central header of an encrypted archive. Throws
    // "Tried to set encrypted document UUID after writing finished." after close, and
    // "Encrypted document UUID is too long" when it would not fit that header.
    void setEncryptedDocumentUuid(KQUData uuid);

    // Finishes the current entry and moves the file; writing may continue. An existing
    // file at path is never replaced: the move fails. Throws "Could not move output stream
    // from <old> to <new>" (the file stream is then closed).
    void moveToPath(const std::string& path);
    const std::string& path() const;

    std::vector<std::string> entryNames() const;
    // The archive's entries for reading the file at path (where this writer's file now
    // lies, after close or move), built from the writer's own records: every finished
    // entry (free-space entries included, the entry being written not), encrypted ones
    // with the writer's key.
    std::map<std::string, std::shared_ptr<KQUZipEntry>> entriesAtPath(const std::string& path) const;

    void flush();
    uint64_t freeBytes() const { return mFreeBytes; }
    // Forgets every entry and free range and truncates the file to 0.
    void reset();
    bool isClosed() const { return mOutputStream == nullptr; }

    // KQUOutputStream: the writer is also the stream of its current entry (libxml2's
    // output callbacks write through it).
    int64_t offset() override;  // bytes written to the current entry, 0 without one
    bool canSeek() override { return false; }
    void seekToOffset(int64_t offset, int whence) override;  // assertion failure "Not implemented."
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    // Finishes the archive: covers free ranges, writes the central directory and the end
    // records, and closes the file.
    void close() override;
    std::shared_ptr<KQUOutputStream> closeLocalStream() override;

    // Read access to the writer's records, for tests and tools.
    const std::vector<std::shared_ptr<KQUZipOutputEntry>>& entries() const { return mEntries; }
    const std::vector<KQUZipFreeSpaceEntry>& freeList() const { return mFreeList; }

private:
    bool checkOpen();
    void finishEntry(bool settleFreeSpace = true);
    uint32_t writeLocalFileHeader(const KQUZipOutputEntry& entry);
    void writeCentralFileHeader(const KQUZipOutputEntry& entry, bool isFirstEntry);
    void writeEndOfCentralDirectory(uint64_t centralDirectoryOffset);
    void coalesceAndTruncateFreeSpace();
    void coverFreeRanges();
    void guardFreeRange(uint64_t plainBytesToAdd);
    void moveCurrentEntryToEnd();
    void computeCrcFromFile(KQUZipOutputEntry& entry);
    void findLastEntryEndingAt(uint64_t end);
    KQUZipOutputEntry* findEntry(std::string_view name, size_t* index);
    uint64_t encodedLength(uint64_t plainLength) const;
    void writeScratch();
    std::optional<KQUZipFreeSpaceEntry> findFreeRange(uint64_t total) const;
    void useFreeRange(const KQUZipFreeSpaceEntry& range, uint64_t used);
    uint64_t copyStoredBytes(const KQUZipEntry& source, const std::string& name);

    std::shared_ptr<KQUMoveableFileOutputStream> mOutputStream;
    std::string mPath;
    KQUCryptoKeyRef mCryptoKey;
    std::optional<KQUData> mPassphraseHint;
    std::optional<KQUData> mEncryptedDocumentUuid;
    std::vector<std::shared_ptr<KQUZipOutputEntry>> mEntries;
    KQUZipOutputEntry* mCurrentEntry = nullptr;
    KQUZipOutputEntry* mLastEntryInFile = nullptr;
    std::shared_ptr<KQUOutputStream> mEntryOutputStream;
    std::shared_ptr<KQUCryptoOutputStream> mEntryCryptoStream;
    KQUData mBuffer;  // scratch space for records
    std::vector<KQUZipFreeSpaceEntry> mFreeList;
    std::optional<KQUZipFreeSpaceEntry> mCurrentFreeSpace;  // the range the current entry is written into
    uint64_t mFreeBytes = 0;
    bool mCrcSetByApplication = false;
    std::vector<char> mCopyBuffer;  // reused by copyEntry
};

// libxml2 output-buffer callbacks (xmlOutputBufferCreateIO) that write XML into an entry.
// context is any KQUOutputStream*, usually the archive writer. The write callback
// returns len (or -1 after an exception, which libxml2 treats as an I/O error); the close
// callback does nothing: the entry is finished by the writer.
int KQUZipXmlOutputWriteCallback(void* context, const char* buffer, int len);
int KQUZipXmlOutputCloseCallback(void* context);

}  // namespace kqu
