#include "kqutility/zip/KQUZipArchiveOutputStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/streams/KQUOffsetStreams.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"
#include "kqutility/zip/KQUZipDeflateOutputStream.h"
#include "kqutility/zip/KQUZipEntry.h"
#include "kqutility/zip/KQUZipException.h"
#include "kqutility/zip/KQUZipFormat.h"

namespace kqu {

namespace {

constexpr const char* kOutputError = "KQUZipOutputError";
// Entries announced larger than this get a Zip64 local field: 4,000,000 bytes short of
// 2^32, room for what deflate or encryption may add to the announced size.
constexpr uint64_t kZip64Threshold = 4290967295ull;
// The largest extra field block of a first central header without hint and UUID: the
// full Zip64 field (28 bytes) and the verifier field.
constexpr size_t kFirstHeaderBaseExtraLength = 28 + 8 + KQUPassphraseVerifierLength;
constexpr size_t kLibraryFieldOverhead = 8;  // ID, size and tag
constexpr uint32_t kZeroBlockSize = 262144;
constexpr uint32_t kCopyBufferSize = 1 << 20;

// The stream handed out for a directly written entry of an encrypted archive: plaintext
// goes through the entry's (single) encrypting stream, and its length is counted for the
// entry. It cannot seek, and closing it does not close the archive file.
class DirectEncryptedEntryStream final : public KQUOutputStream {
public:
    DirectEncryptedEntryStream(std::shared_ptr<KQUCryptoOutputStream> crypto,
                               std::shared_ptr<KQUZipOutputEntry> entry)
        : mCrypto(std::move(crypto)), mEntry(std::move(entry)) {}

    void writeBuffer(const char* buffer, uint32_t size) override {
        mCrypto->writeBuffer(buffer, size);
        mEntry->uncompressedSize += size;
    }
    int64_t offset() override { return static_cast<int64_t>(mEntry->uncompressedSize); }
    bool canSeek() override { return false; }
    void seekToOffset(int64_t, int) override { KQU_OBJECT_ASSERT_FAILURE("Not implemented."); }
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    // The entry is finished by the writer.
    void close() override {}
    std::shared_ptr<KQUOutputStream> closeLocalStream() override { return nullptr; }

private:
    std::shared_ptr<KQUCryptoOutputStream> mCrypto;
    std::shared_ptr<KQUZipOutputEntry> mEntry;
};

// Names are UTF-8; a name beyond ASCII says so (bit 11), or other tools read it in their
// legacy code page. ASCII names keep flags 0.
uint16_t nameFlags(std::string_view name) {
    bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? 0 : KQUZipFlagUtf8Name;
}

const std::vector<char>& zeroBlock() {
    static const std::vector<char> zeros(kZeroBlockSize, 0);
    return zeros;
}

}  // namespace

std::string KQUZipOutputEntry::description() const {
    return fmt::format(
        "<KQUZipOutputEntry {}: name={}, isCompressed={}, compressedSize={}, uncompressedSize={}, offset={}>",
        static_cast<const void*>(this), name, isCompressed ? "yes" : "no", compressedSize, uncompressedSize,
        offset);
}

uint32_t KQUZipArchiveOutputStream::approximateBytesForEntryHeaderWithName(std::string_view name) {
    return KQUZipLocalFileHeaderFixedSize +
           static_cast<uint32_t>(std::min<size_t>(name.size(), UINT32_MAX - 30));
}

KQUZipArchiveOutputStream::KQUZipArchiveOutputStream(const std::string& path, KQUCryptoKeyRef cryptoKey,
                                                     std::optional<std::string> passphraseHint)
    : mCryptoKey(std::move(cryptoKey)) {
    // Everything that can be refused is refused before the file is created.
    if (passphraseHint) {
        KQUData encoded = KQUCryptoUtils::encodePassphraseHint(*passphraseHint);
        if (kFirstHeaderBaseExtraLength + kLibraryFieldOverhead + encoded.size() >
            KQUZipMaxVariableFieldLength)
            throw KQUZipException(kOutputError, "Passphrase hint is too long");
        mPassphraseHint = std::move(encoded);
    }
    mBuffer.reserve(KQUZipMaxRecordFixedSize);
    mOutputStream = std::make_shared<KQUMoveableFileOutputStream>(path);
}

KQUZipArchiveOutputStream::~KQUZipArchiveOutputStream() {
    // Without close() the file has no central directory; an unfinished encrypting stream
    // still writes its last block, which is harmless.
    mEntryOutputStream.reset();
    mEntryCryptoStream.reset();
}

bool KQUZipArchiveOutputStream::checkOpen() {
    if (mOutputStream) return true;
    KQU_OBJECT_ASSERT_FAILURE("Zip output stream is closed.");
    return false;
}

const std::string& KQUZipArchiveOutputStream::path() const {
    static const std::string empty;
    return mOutputStream ? mOutputStream->path() : empty;
}

uint64_t KQUZipArchiveOutputStream::encodedLength(uint64_t plainLength) const {
    return mCryptoKey ? KQUCryptoOutputStream::encodedLengthForDataLength(plainLength, *mCryptoKey)
                      : plainLength;
}

void KQUZipArchiveOutputStream::writeScratch() {
    if (!mBuffer.empty())
        mOutputStream->writeBuffer(reinterpret_cast<const char*>(mBuffer.data()),
                                   static_cast<uint32_t>(mBuffer.size()));
    mBuffer.clear();
}

KQUZipOutputEntry* KQUZipArchiveOutputStream::findEntry(std::string_view name, size_t* index) {
    for (size_t i = 0; i < mEntries.size(); ++i) {
        if (mEntries[i]->name == name) {
            if (index) *index = i;
            return mEntries[i].get();
        }
    }
    return nullptr;
}

void KQUZipArchiveOutputStream::findLastEntryEndingAt(uint64_t end) {
    mLastEntryInFile = nullptr;
    for (auto it = mEntries.rbegin(); it != mEntries.rend(); ++it) {
        if ((*it)->compressedDataOffset + (*it)->compressedSize == end) {
            mLastEntryInFile = it->get();
            return;
        }
    }
}

// ---- Entries ---------------------------------------------------------------------------

uint32_t KQUZipArchiveOutputStream::writeLocalFileHeader(const KQUZipOutputEntry& entry) {
    KQUZipEntryRecordInfo info;
    info.flags = nameFlags(entry.name);
    info.compressionMethod = KQUZipCompressionMethodCode(entry.isCompressed, entry.isEncrypted);
    info.dosTime = entry.time;
    mBuffer.clear();
    auto length =
        static_cast<uint32_t>(KQUZipAppendLocalFileHeaderForEntry(mBuffer, info, entry.name, entry.is64Bit));
    writeScratch();
    return length;
}

std::optional<KQUZipFreeSpaceEntry> KQUZipArchiveOutputStream::findFreeRange(uint64_t total) const {
    // An exact fit first; else the smallest range that leaves room to cover the rest.
    std::optional<KQUZipFreeSpaceEntry> range;
    for (const auto& free : mFreeList)
        if (free.length == total) return free;
    if (total > UINT64_MAX - KQUZipFreeSpaceEntryMinimumSize) return range;
    for (const auto& free : mFreeList) {
        if (free.length >= total + KQUZipFreeSpaceEntryMinimumSize && (!range || free.length < range->length))
            range = free;
    }
    return range;
}

void KQUZipArchiveOutputStream::useFreeRange(const KQUZipFreeSpaceEntry& range, uint64_t used) {
    auto it = std::find_if(mFreeList.begin(), mFreeList.end(),
                           [&](const KQUZipFreeSpaceEntry& f) { return f.offset == range.offset; });
    if (it == mFreeList.end()) return;
    if (used >= it->length) {
        mFreeList.erase(it);
    } else {
        it->offset += used;
        it->length -= used;
    }
    mFreeBytes -= used;
}

void KQUZipArchiveOutputStream::beginEntry(std::string_view name, bool isCompressed,
                                           uint64_t uncompressedSize) {
    beginEntry(name, isCompressed, uncompressedSize, KQUZipEntryAttributes{});
}

void KQUZipArchiveOutputStream::beginEntry(std::string_view name, bool isCompressed, uint64_t uncompressedSize,
                                           const KQUZipEntryAttributes& attributes) {
    if (!checkOpen()) return;
    // Refused before anything changes, the current entry included.
    if (name.size() > KQUZipMaxVariableFieldLength)
        throw KQUZipException(kOutputError, fmt::format("File name {} is too long", name));
    // Free-space entries are the writer's own: one named like them would be taken for
    // free space and overwritten by the next save.
    if (KQUZipIsFreeSpaceEntryName(name))
        throw KQUZipException(kOutputError, fmt::format("File name {} is reserved for free space", name));
    finishEntry();
    coalesceAndTruncateFreeSpace();

    auto entry = std::make_shared<KQUZipOutputEntry>();
    entry->name = std::string(name);
    entry->utf8NameLength = static_cast<uint32_t>(name.size());
    entry->isCompressed = isCompressed;
    entry->isEncrypted = mCryptoKey != nullptr;
    entry->time = attributes.dosTime ? *attributes.dosTime : KQUZipCurrentDosTime();
    if (attributes.unixMode) {
        entry->versionMadeBy = KQUZipVersionMadeByUnix;
        entry->externalAttributes = (*attributes.unixMode & 0xFFFF) << 16;
    }
    uint64_t encoded = encodedLength(uncompressedSize);
    entry->is64Bit = encoded > kZip64Threshold || uncompressedSize == kUnknownSize;

    // Placement: a stored entry of known size may go into a free range.
    std::optional<KQUZipFreeSpaceEntry> range;
    if (!isCompressed && uncompressedSize != kUnknownSize) {
        uint64_t needed = uint64_t{entry->utf8NameLength} + KQUZipLocalFileHeaderFixedSize +
                          (entry->is64Bit ? KQUZip64LocalExtraFieldSize : 0);
        if (encoded <= UINT64_MAX - needed) range = findFreeRange(encoded + needed);
    }

    int64_t endOfFile = mOutputStream->offset();
    std::shared_ptr<KQUOutputStream> stream = mOutputStream;
    std::shared_ptr<KQUCryptoOutputStream> crypto;
    try {
        if (range) mOutputStream->seekToOffset(static_cast<int64_t>(range->offset), SEEK_SET);
        entry->offset = static_cast<uint64_t>(mOutputStream->offset());
        entry->compressedDataOffset = entry->offset + writeLocalFileHeader(*entry);
        if (mCryptoKey) {
            crypto = std::make_shared<KQUCryptoOutputStream>(mOutputStream, mCryptoKey, true);
            stream = crypto;
        }
        // An entry announced small enough is compressed in one piece when it is finished.
        if (isCompressed) stream = std::make_shared<KQUZipDeflateOutputStream>(stream, uncompressedSize);
    } catch (...) {
        // Nothing was begun: drop what reached the file and go back to the end.
        try {
            crypto.reset();
            stream.reset();
            if (!range && mOutputStream->offset() > endOfFile) mOutputStream->truncateToLength(endOfFile);
            mOutputStream->seekToOffset(endOfFile, SEEK_SET);
        } catch (...) {
        }
        throw;
    }
    entry->crc = 0;

    mEntries.push_back(entry);
    mCurrentEntry = entry.get();
    mCurrentFreeSpace = range;
    if (!range) mLastEntryInFile = entry.get();
    mEntryOutputStream = std::move(stream);
    mEntryCryptoStream = std::move(crypto);
    mCrcSetByApplication = false;
}

std::shared_ptr<KQUOutputStream> KQUZipArchiveOutputStream::beginUncompressedUnknownSizeEntry(
    std::string_view name) {
    if (!checkOpen()) return nullptr;
    beginEntry(name, false, kUnknownSize);
    mCurrentEntry->isWrittenDirectlyToFile = true;
    if (mEntryCryptoStream)
        return std::make_shared<DirectEncryptedEntryStream>(mEntryCryptoStream, mEntries.back());
    return std::make_shared<KQUOffsetOutputStream>(mEntryOutputStream);
}

void KQUZipArchiveOutputStream::setCrc32ForCurrentEntry(uint32_t crc) {
    if (!mCurrentEntry || !mCurrentEntry->isWrittenDirectlyToFile || mCurrentEntry->isEncrypted) return;
    mCurrentEntry->crc = crc;
    mCrcSetByApplication = true;
}

// ---- Raw copies --------------------------------------------------------------------------

namespace {

bool sameKey(const KQUCryptoKey& a, const KQUCryptoKey& b) {
    return a.keyType() == b.keyType() && std::equal(a.keyBytes().begin(), a.keyBytes().end(), b.keyBytes().begin());
}

}  // namespace

uint64_t KQUZipArchiveOutputStream::copyStoredBytes(const KQUZipEntry& source, const std::string& name) {
    // Deflated plain bytes carry no CRC of their own to check on the way: between two files
    // the kernel copies them (without passing them through this process, or by sharing
    // blocks where the file system can). Everything else is read, and checked, here.
    auto* file = dynamic_cast<const KQUZipArchiveFileDataRepresentation*>(source.archiveDataRepresentation().get());
    if (file && file->fileDescriptor() >= 0 && source.isCompressed() && !source.hasEncryptedMethod()) {
        auto offset = source.storedDataOffset();
        if (!offset)
            throw KQUZipException(kOutputError,
                                  fmt::format("Could not copy entry {}: local file header not found", name));
        auto from = static_cast<off_t>(*offset);
        uint64_t left = source.compressedSize();
        while (left > 0) {
            ssize_t n = ::copy_file_range(file->fileDescriptor(), &from, mOutputStream->fileDescriptor(), nullptr,
                                          static_cast<size_t>(std::min<uint64_t>(left, 1u << 30)), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && left == source.compressedSize() &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
                break;  // not between these files: copied below instead
            if (n < 0) KQUErrnoRaise("KQUWriteError", "Could not copy");
            if (n == 0) return source.compressedSize() - left;  // the archive ends early
            left -= static_cast<uint64_t>(n);
        }
        if (left == 0) return source.compressedSize();
    }
    auto input = source.storedInputStream();
    if (!input)
        throw KQUZipException(kOutputError,
                              fmt::format("Could not copy entry {}: local file header not found", name));
    if (mCopyBuffer.empty()) mCopyBuffer.resize(kCopyBufferSize);
    uint64_t copied = 0;
    for (;;) {
        uint32_t n = input->readToBuffer(mCopyBuffer.data(), static_cast<uint32_t>(mCopyBuffer.size()));
        if (n == 0) break;
        mOutputStream->writeBuffer(mCopyBuffer.data(), n);
        copied += n;
    }
    input->close();
    return copied;
}

void KQUZipArchiveOutputStream::copyEntry(const KQUZipEntry& source, std::optional<std::string_view> newName) {
    if (!checkOpen()) return;
    std::string name(newName ? *newName : std::string_view(source.name()));
    if (name.size() > KQUZipMaxVariableFieldLength)
        throw KQUZipException(kOutputError, fmt::format("File name {} is too long", name));
    if (source.hasEncryptedMethod() &&
        (!mCryptoKey || !source.cryptoKey() || !sameKey(*source.cryptoKey(), *mCryptoKey)))
        throw KQUZipException(kOutputError, fmt::format("Entry {} is encrypted under another key", name));
    finishEntry();
    coalesceAndTruncateFreeSpace();

    auto entry = std::make_shared<KQUZipOutputEntry>();
    entry->name = name;
    entry->utf8NameLength = static_cast<uint32_t>(name.size());
    entry->isCompressed = source.isCompressed();
    entry->isEncrypted = source.hasEncryptedMethod();
    entry->time = source.dosTime();
    entry->versionMadeBy = source.versionMadeBy();
    entry->externalAttributes = source.externalAttributes();
    entry->internalAttributes = source.internalAttributes();
    entry->versionNeededToExtract = source.versionNeededToExtract();
    entry->crc = source.crc();
    entry->compressedSize = source.compressedSize();
    entry->uncompressedSize = source.uncompressedSize();
    entry->is64Bit = std::max(entry->compressedSize, entry->uncompressedSize) > kZip64Threshold;
    uint64_t headerLength = KQUZipLocalFileHeaderFixedSize + uint64_t{entry->utf8NameLength} +
                            (entry->is64Bit ? KQUZip64LocalExtraFieldSize : 0);
    std::optional<KQUZipFreeSpaceEntry> range;
    if (entry->compressedSize <= UINT64_MAX - headerLength)
        range = findFreeRange(entry->compressedSize + headerLength);

    int64_t endOfFile = mOutputStream->offset();
    try {
        if (range) mOutputStream->seekToOffset(static_cast<int64_t>(range->offset), SEEK_SET);
        entry->offset = static_cast<uint64_t>(mOutputStream->offset());
        // The header goes out complete: CRC and sizes are known, nothing is patched.
        KQUZipEntryRecordInfo info;
        info.flags = nameFlags(entry->name);
        info.compressionMethod = KQUZipCompressionMethodCode(entry->isCompressed, entry->isEncrypted);
        info.dosTime = entry->time;
        info.versionNeededToExtract = entry->versionNeededToExtract;
        mBuffer.clear();
        KQUZipAppendLocalFileHeaderForEntry(mBuffer, info, entry->name, entry->is64Bit);
        auto patch = KQUZipLocalFileHeaderCrcAndSizes(entry->crc, entry->compressedSize, entry->uncompressedSize);
        std::copy(patch.begin(), patch.end(), mBuffer.begin() + KQUZipLocalFileHeaderCrcOffset);
        if (entry->is64Bit) {
            KQUData payload;
            KQUZipAppendZip64LocalPayload(payload, entry->uncompressedSize, entry->compressedSize);
            std::copy(payload.begin(), payload.end(),
                      mBuffer.begin() + KQUZipLocalFileHeaderFixedSize + entry->utf8NameLength +
                          KQUZipExtraFieldHeaderSize);
        }
        writeScratch();
        entry->compressedDataOffset = entry->offset + headerLength;
        uint64_t copied = copyStoredBytes(source, name);
        if (copied != entry->compressedSize)
            throw KQUZipException(kOutputError, fmt::format("Could not copy entry {}: {} of {} bytes read", name,
                                                            copied, entry->compressedSize));
    } catch (const KQUException& e) {
        // Nothing was added: drop what reached the end of the file (a free range keeps its
        // place in the free list and is covered at close) and go back to the end.
        try {
            if (!range && mOutputStream->offset() > endOfFile) mOutputStream->truncateToLength(endOfFile);
            mOutputStream->seekToOffset(endOfFile, SEEK_SET);
        } catch (...) {
        }
        if (e.name() == kOutputError) throw;
        throw KQUZipException(kOutputError, fmt::format("Could not copy entry {}: {}", name, e.reason()));
    }
    mEntries.push_back(entry);
    if (range) {
        useFreeRange(*range, headerLength + entry->compressedSize);
        mOutputStream->seekToOffset(0, SEEK_END);
    } else {
        mLastEntryInFile = entry.get();
    }
}

void KQUZipArchiveOutputStream::guardFreeRange(uint64_t plainBytesToAdd) {
    const KQUZipOutputEntry& entry = *mCurrentEntry;
    uint64_t projected =
        (entry.compressedDataOffset - entry.offset) + encodedLength(entry.uncompressedSize + plainBytesToAdd);
    if (projected > mCurrentFreeSpace->length) moveCurrentEntryToEnd();
}

void KQUZipArchiveOutputStream::writeBuffer(const char* buffer, uint32_t size) {
    if (!checkOpen()) return;
    if (!mCurrentEntry)
        throw KQUZipException(kOutputError, "-writeBuffer:size: called when current entry is nil");
    if (mCurrentFreeSpace) guardFreeRange(size);
    mEntryOutputStream->writeBuffer(buffer, size);
    mCurrentEntry->uncompressedSize += size;
    if (!mCurrentEntry->isEncrypted) mCurrentEntry->crc = KQUCrc32Update(mCurrentEntry->crc, buffer, size);
}

void KQUZipArchiveOutputStream::writeData(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        auto piece = static_cast<uint32_t>(std::min<size_t>(bytes.size(), 1u << 30));
        writeBuffer(reinterpret_cast<const char*>(bytes.data()), piece);
        bytes = bytes.subspan(piece);
    }
}

// Copies what the current entry has in the file so far (header included) to the end of
// the file and goes on writing there; its free range is left as it was.
void KQUZipArchiveOutputStream::moveCurrentEntryToEnd() {
    KQUZipOutputEntry& entry = *mCurrentEntry;
    auto position = static_cast<uint64_t>(mOutputStream->offset());
    mOutputStream->seekToOffset(0, SEEK_END);
    auto endOfFile = static_cast<uint64_t>(mOutputStream->offset());
    uint64_t length = position - entry.offset;
    auto reader = KQUFileInputStream::create(mOutputStream->path(), static_cast<int64_t>(entry.offset),
                                             static_cast<int64_t>(length));
    if (!reader) KQUErrnoRaise("KQUOpenError", fmt::format("Could not open {}", mOutputStream->path()));
    std::vector<char> block(std::min<uint64_t>(length, kZeroBlockSize) + 1);
    for (uint64_t left = length; left > 0;) {
        auto want = static_cast<uint32_t>(std::min<uint64_t>(left, block.size()));
        uint32_t got = reader->readToBuffer(block.data(), want);
        if (got == 0) throw KQUZipException(kOutputError, fmt::format("Could not move entry {}", entry.name));
        mOutputStream->writeBuffer(block.data(), got);
        left -= got;
    }
    reader->close();
    entry.compressedDataOffset = endOfFile + (entry.compressedDataOffset - entry.offset);
    entry.offset = endOfFile;
    mCurrentFreeSpace.reset();
    mLastEntryInFile = &entry;
}

void KQUZipArchiveOutputStream::computeCrcFromFile(KQUZipOutputEntry& entry) {
    if (!mOutputStream->canSeek())
        throw KQUZipException(
            kOutputError,
            "Entry written directly to seekable output stream, but output stream cannot be seeked "
            "for CRC calculation.");
    if (!mOutputStream->canCreateInputStream())
        throw KQUZipException(
            kOutputError,
            "Entry written directly to seekable output stream, but output stream cannot be read for "
            "CRC calculation.");
    auto input = std::make_shared<KQUBufferedInputStream>(mOutputStream->inputStream());
    if (!input->canSeek()) {
        input->close();
        throw KQUZipException(
            kOutputError,
            "Entry written directly to seekable output stream, but input stream cannot be seeked for "
            "CRC calculation.");
    }
    input->seekToOffset(static_cast<int64_t>(entry.compressedDataOffset));
    uint32_t crc = 0;
    uint64_t left = entry.compressedSize;
    while (left > 0) {
        const char* bytes = nullptr;
        uint32_t got =
            input->readToOwnBuffer(&bytes, static_cast<uint32_t>(std::min<uint64_t>(left, UINT32_MAX)));
        if (got == 0) break;
        crc = KQUCrc32Update(crc, bytes, got);
        left -= got;
    }
    input->close();
    entry.crc = crc;
}

void KQUZipArchiveOutputStream::finishEntry(bool settleFreeSpace) {
    if (!mCurrentEntry) return;
    KQUZipOutputEntry& entry = *mCurrentEntry;

    std::shared_ptr<KQUOutputStream> stream = mEntryOutputStream;
    if (entry.isCompressed) {
        auto deflater = std::dynamic_pointer_cast<KQUZipDeflateOutputStream>(stream);
        if (!deflater) {
            KQU_OBJECT_ASSERT_FAILURE("Wrong output stream for compressed entry.");
        } else {
            stream = deflater->closeLocalStream();
        }
    }
    if (entry.isEncrypted) {
        auto crypto = std::dynamic_pointer_cast<KQUCryptoOutputStream>(stream);
        if (!crypto) {
            KQU_OBJECT_ASSERT_FAILURE("Wrong output stream type for encrypted entry.");
        } else {
            crypto->closeLocalStream();
            entry.crc = crypto->crc32();
        }
    }
    mEntryOutputStream.reset();
    mEntryCryptoStream.reset();

    auto position = static_cast<uint64_t>(mOutputStream->offset());
    entry.compressedSize = position - entry.compressedDataOffset;
    if (entry.isWrittenDirectlyToFile && !entry.isEncrypted) {
        entry.uncompressedSize = entry.compressedSize;
        if (!mCrcSetByApplication) computeCrcFromFile(entry);
    }

    if (mCurrentFreeSpace) {
        uint64_t used = position - entry.offset;
        uint64_t rest = mCurrentFreeSpace->length - std::min(used, mCurrentFreeSpace->length);
        if (used > mCurrentFreeSpace->length || (rest > 0 && rest < KQUZipFreeSpaceEntryMinimumSize)) {
            // Too long, or the rest could not be covered: the entry goes to the end instead.
            moveCurrentEntryToEnd();
            position = static_cast<uint64_t>(mOutputStream->offset());
        } else {
            useFreeRange(*mCurrentFreeSpace, used);
            mCurrentFreeSpace.reset();
        }
    }

    // Patch CRC and sizes into the local header.
    auto patch = KQUZipLocalFileHeaderCrcAndSizes(entry.crc, entry.compressedSize, entry.uncompressedSize);
    mOutputStream->seekToOffset(static_cast<int64_t>(entry.offset + KQUZipLocalFileHeaderCrcOffset),
                                SEEK_SET);
    mOutputStream->writeBuffer(reinterpret_cast<const char*>(patch.data()), patch.size());
    if (KQUZipNeedsZip64(entry.compressedSize) || KQUZipNeedsZip64(entry.uncompressedSize)) {
        if (!entry.is64Bit) {
            KQU_OBJECT_ASSERT_FAILURE(
                "Wrote a zip entry that needs 64 bit sizes, but didn't create 64 bit field.");
        } else {
            mBuffer.clear();
            KQUZipAppendZip64LocalPayload(mBuffer, entry.uncompressedSize, entry.compressedSize);
            mOutputStream->seekToOffset(
                static_cast<int64_t>(entry.offset + KQUZipLocalFileHeaderFixedSize + entry.utf8NameLength +
                                     KQUZipExtraFieldHeaderSize),
                SEEK_SET);
            writeScratch();
        }
    }
    mOutputStream->seekToOffset(0, SEEK_END);

    mCurrentEntry = nullptr;
    if (settleFreeSpace) coalesceAndTruncateFreeSpace();
}

// ---- Free space ------------------------------------------------------------------------

void KQUZipArchiveOutputStream::coalesceAndTruncateFreeSpace() {
    if (mCurrentEntry) {
        KQU_OBJECT_ASSERT_FAILURE(
            "-coalesceAndTruncateFreeSpace should not be called while an entry is being written to");
        return;
    }
    if (!mOutputStream->canSeek() || mFreeList.empty()) return;
    std::sort(mFreeList.begin(), mFreeList.end(),
              [](const KQUZipFreeSpaceEntry& a, const KQUZipFreeSpaceEntry& b) {
                  return a.compareByOffset(b) < 0;
              });
    std::vector<KQUZipFreeSpaceEntry> merged;
    for (const auto& range : mFreeList) {
        if (!merged.empty() && merged.back().offset + merged.back().length == range.offset)
            merged.back().length += range.length;
        else
            merged.push_back(range);
    }
    mFreeList = std::move(merged);

    mOutputStream->seekToOffset(0, SEEK_END);
    auto endOfFile = static_cast<uint64_t>(mOutputStream->offset());
    const KQUZipFreeSpaceEntry last = mFreeList.back();
    if (last.offset + last.length == endOfFile) {
        mOutputStream->truncateToLength(static_cast<int64_t>(last.offset));
        mFreeBytes -= last.length;
        mFreeList.pop_back();
        if (!mLastEntryInFile) findLastEntryEndingAt(last.offset);
    }
}

void KQUZipArchiveOutputStream::coverFreeRanges() {
    // The list is settled (sorted, merged, trimmed) once; each range is covered exactly once.
    coalesceAndTruncateFreeSpace();
    std::vector<KQUZipFreeSpaceEntry> ranges = std::move(mFreeList);
    mFreeList.clear();
    uint32_t counter = 1;
    for (const auto& range : ranges) {
        auto entry = std::make_shared<KQUZipOutputEntry>();
        entry->name = KQUZipFreeSpaceEntryName(counter++);
        entry->utf8NameLength = KQUZipFreeSpaceEntryNameLength;
        entry->time = KQUZipCurrentDosTime();
        entry->is64Bit = range.length - KQUZipFreeSpaceEntryMinimumSize > kZip64Threshold;
        entry->offset = range.offset;
        mOutputStream->seekToOffset(static_cast<int64_t>(range.offset), SEEK_SET);
        uint32_t headerLength = writeLocalFileHeader(*entry);
        entry->compressedDataOffset = range.offset + headerLength;
        uint64_t dataLength = range.length - headerLength;
        uint32_t crc = 0;
        for (uint64_t left = dataLength; left > 0;) {
            auto piece = static_cast<uint32_t>(std::min<uint64_t>(left, kZeroBlockSize));
            mOutputStream->writeBuffer(zeroBlock().data(), piece);
            crc = KQUCrc32Update(crc, zeroBlock().data(), piece);
            left -= piece;
        }
        entry->crc = crc;
        entry->compressedSize = entry->uncompressedSize = dataLength;
        mEntries.push_back(entry);
        mCurrentEntry = entry.get();
        mEntryOutputStream = mOutputStream;
        mCrcSetByApplication = true;
        finishEntry(false);
        mFreeBytes -= range.length;
    }
}

// ---- Removal ---------------------------------------------------------------------------

bool KQUZipArchiveOutputStream::canRemoveEntry(std::string_view name) {
    KQUZipOutputEntry* entry = findEntry(name, nullptr);
    if (!entry) {
        KQU_OBJECT_ASSERT_FAILURE("Can't find entry named: {}", name);
        return false;
    }
    if (entry == mLastEntryInFile) return true;
    return entry->utf8NameLength + entry->compressedSize >= KQUZipFreeSpaceEntryNameLength;
}

void KQUZipArchiveOutputStream::removeEntry(std::string_view name) {
    if (!checkOpen()) return;
    size_t index = 0;
    KQUZipOutputEntry* entry = nullptr;
    if (mCurrentEntry && mCurrentEntry->name == name) {
        // The entry being written is the one removed, even when an earlier one shares its name.
        entry = mCurrentEntry;
        finishEntry();
        for (index = 0; mEntries[index].get() != entry; ++index) {
        }
    } else {
        entry = findEntry(name, &index);
    }
    if (!entry) {
        KQU_OBJECT_ASSERT_FAILURE("Can't find entry named: {}", name);
        return;
    }
    std::shared_ptr<KQUZipOutputEntry> removed = mEntries[index];
    mEntries.erase(mEntries.begin() + static_cast<ptrdiff_t>(index));

    if (entry == mLastEntryInFile) {
        auto position = static_cast<uint64_t>(mOutputStream->offset());
        mOutputStream->truncateToLength(static_cast<int64_t>(entry->offset));
        if (position < entry->offset) mOutputStream->seekToOffset(static_cast<int64_t>(position), SEEK_SET);
        findLastEntryEndingAt(entry->offset);
        return;
    }
    uint64_t length = (entry->compressedDataOffset - entry->offset) + entry->compressedSize;
    if (length < KQUZipFreeSpaceEntryMinimumSize)
        throw KQUZipException(
            kOutputError,
            fmt::format("Removing entry named {} produced free space that is too small.", name));
    mFreeList.push_back({entry->offset, length});
    mFreeBytes += length;
}

// ---- Archive ---------------------------------------------------------------------------

void KQUZipArchiveOutputStream::setEncryptedDocumentUuid(KQUData uuid) {
    if (!mOutputStream)
        throw KQUZipException(kOutputError, "Tried to set encrypted document UUID after writing finished.");
    size_t hint = mPassphraseHint ? kLibraryFieldOverhead + mPassphraseHint->size() : 0;
    if (kFirstHeaderBaseExtraLength + hint + kLibraryFieldOverhead + uuid.size() >
        KQUZipMaxVariableFieldLength)
        throw KQUZipException(kOutputError, "Encrypted document UUID is too long");
    mEncryptedDocumentUuid = std::move(uuid);
}

void KQUZipArchiveOutputStream::writeCentralFileHeader(const KQUZipOutputEntry& entry, bool isFirstEntry) {
    KQUZipEntryRecordInfo info;
    info.flags = nameFlags(entry.name);
    info.compressionMethod = KQUZipCompressionMethodCode(entry.isCompressed, entry.isEncrypted);
    info.dosTime = entry.time;
    info.crc32 = entry.crc;
    info.compressedSize = entry.compressedSize;
    info.uncompressedSize = entry.uncompressedSize;
    info.localHeaderOffset = entry.offset;
    info.versionMadeBy = entry.versionMadeBy;
    info.externalAttributes = entry.externalAttributes;
    info.internalAttributes = entry.internalAttributes;
    info.versionNeededToExtract = entry.versionNeededToExtract;
    KQUData library;
    if (isFirstEntry && mCryptoKey) {
        KQUDataRef verifier = KQUCryptoUtils::generatePassphraseVerifierForKey(mCryptoKey);
        if (!verifier) throw KQUZipException(kOutputError, "Could not generate the passphrase verifier");
        KQUZipAppendLibraryExtraField(library, KQUZipPassphraseVerifierExtraFieldID,
                                      KQUZipPassphraseVerifierExtraFieldSignature, *verifier);
        if (mPassphraseHint)
            KQUZipAppendLibraryExtraField(library, KQUZipPassphraseHintExtraFieldID,
                                          KQUZipPassphraseHintExtraFieldSignature, *mPassphraseHint);
        if (mEncryptedDocumentUuid)
            KQUZipAppendLibraryExtraField(library, KQUZipEncryptedDocumentUuidExtraFieldID,
                                          KQUZipEncryptedDocumentUuidExtraFieldSignature,
                                          *mEncryptedDocumentUuid);
    }
    KQUZipAppendCentralFileHeaderForEntry(mBuffer, info, entry.name, library);
    if (mBuffer.size() >= kZeroBlockSize) writeScratch();
}

void KQUZipArchiveOutputStream::writeEndOfCentralDirectory(uint64_t centralDirectoryOffset) {
    writeScratch();
    auto end = static_cast<uint64_t>(mOutputStream->offset());
    KQUZipAppendEndOfArchive(mBuffer, mEntries.size(), end - centralDirectoryOffset, centralDirectoryOffset);
    writeScratch();
}

void KQUZipArchiveOutputStream::close() {
    if (!checkOpen()) return;
    finishEntry();
    coverFreeRanges();
    mOutputStream->seekToOffset(0, SEEK_END);
    auto centralDirectoryOffset = static_cast<uint64_t>(mOutputStream->offset());
    std::stable_sort(mEntries.begin(), mEntries.end(),
                     [](const auto& a, const auto& b) { return a->compareByOffset(*b) < 0; });
    mBuffer.clear();
    bool first = true;
    for (const auto& entry : mEntries) {
        writeCentralFileHeader(*entry, first);
        first = false;
    }
    writeEndOfCentralDirectory(centralDirectoryOffset);
    mOutputStream->close();
    mOutputStream.reset();
    mCurrentEntry = nullptr;
    mLastEntryInFile = nullptr;
    mBuffer.clear();
    mBuffer.shrink_to_fit();
}

std::shared_ptr<KQUOutputStream> KQUZipArchiveOutputStream::closeLocalStream() {
    close();
    return nullptr;
}

void KQUZipArchiveOutputStream::moveToPath(const std::string& path) {
    if (!checkOpen()) return;
    finishEntry();
    std::string oldPath = mOutputStream->path();
    if (!mOutputStream->moveToPath(path)) {
        mOutputStream->close();
        throw KQUZipException(kOutputError,
                              fmt::format("Could not move output stream from {} to {}", oldPath, path));
    }
}

std::vector<std::string> KQUZipArchiveOutputStream::entryNames() const {
    std::vector<std::string> names;
    names.reserve(mEntries.size());
    for (const auto& entry : mEntries) names.push_back(entry->name);
    return names;
}

std::map<std::string, std::shared_ptr<KQUZipEntry>> KQUZipArchiveOutputStream::entriesAtPath(
    const std::string& path) const {
    auto archive = std::make_shared<KQUZipArchiveFileDataRepresentation>(path);
    std::vector<const KQUZipOutputEntry*> byOffset;
    for (const auto& entry : mEntries)
        if (entry.get() != mCurrentEntry) byOffset.push_back(entry.get());
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [](auto a, auto b) { return a->compareByOffset(*b) < 0; });
    std::map<std::string, std::shared_ptr<KQUZipEntry>> entries;
    for (size_t i = 0; i < byOffset.size(); ++i) {
        const KQUZipOutputEntry& e = *byOffset[i];
        auto entry = std::make_shared<KQUZipEntry>(
            archive, e.isCompressed ? KQUZipInternalMethodDeflated : KQUZipInternalMethodStored,
            e.compressedSize, e.uncompressedSize, e.offset, e.crc);
        entry->setCompressionFlags(KQUZipCompressionMethodCode(e.isCompressed, e.isEncrypted));
        entry->setName(e.name);
        if (e.isEncrypted) entry->setCryptoKey(mCryptoKey);
        // Each entry's data ends before the next local header.
        if (i + 1 < byOffset.size()) entry->setDataLimit(byOffset[i + 1]->offset);
        entries[e.name] = std::move(entry);
    }
    return entries;
}

void KQUZipArchiveOutputStream::flush() {
    if (checkOpen()) mOutputStream->flush();
}

void KQUZipArchiveOutputStream::reset() {
    if (!checkOpen()) return;
    // The entry's streams go first: an unfinished encrypting stream writes its last block
    // when it goes away, and that must land before the truncation.
    mEntryOutputStream.reset();
    mEntryCryptoStream.reset();
    mEntries.clear();
    mFreeList.clear();
    mFreeBytes = 0;
    mCurrentEntry = nullptr;
    mCurrentFreeSpace.reset();
    mLastEntryInFile = nullptr;
    mOutputStream->truncateToLength(0);
}

int64_t KQUZipArchiveOutputStream::offset() {
    return mCurrentEntry ? static_cast<int64_t>(mCurrentEntry->uncompressedSize) : 0;
}

void KQUZipArchiveOutputStream::seekToOffset(int64_t, int) {
    KQU_OBJECT_ASSERT_FAILURE("Not implemented.");
}

// ---- libxml2 output callbacks ----------------------------------------------------------

int KQUZipXmlOutputWriteCallback(void* context, const char* buffer, int len) {
    if (len <= 0) return 0;
    try {
        static_cast<KQUOutputStream*>(context)->writeBuffer(buffer, static_cast<uint32_t>(len));
    } catch (const std::exception& e) {
        // An exception must not unwind through libxml2; it reports an I/O error instead.
        KQULogError("Could not write XML into the zip entry: {}", e.what());
        return -1;
    }
    return len;
}

int KQUZipXmlOutputCloseCallback(void*) {
    return 0;
}

}  // namespace kqu
