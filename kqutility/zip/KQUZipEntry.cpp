#include "kqutility/zip/KQUZipEntry.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/foundation/KQUStripedLock.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/zip/KQUZipException.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "kqutility/zip/KQUZipInflateInputStream.h"

namespace kqu {
namespace {

constexpr const char* kEntryError = "KQUZipEntryError";
// Deflate cannot expand data by more than this factor (its longest match of 258 bytes
// costs at least two bits), so a larger uncompressed size is a lie.
constexpr uint64_t kMaxDeflateRatio = 1032;

[[noreturn]] void throwCouldNotRead(uint64_t size) {
    throw KQUZipException(kEntryError, fmt::format("Couldn't read data with size: {}", size));
}

// The plaintext of an encrypted entry must be as long as its directory record says: its
// CRC-32 covers only the stored bytes, so a wrong size would otherwise pass unnoticed.
class PlaintextLengthCheckedStream final : public KQUInputStream {
public:
    PlaintextLengthCheckedStream(std::shared_ptr<KQUInputStream> input, uint64_t length, std::string_view name)
        : mInput(std::move(input)), mLength(length), mName(name) {}

    uint32_t readToBuffer(char* buffer, uint32_t size) override {
        if (size == 0) return 0;
        uint32_t n = mInput->readToBuffer(buffer, size);
        mRead += n;
        if (mRead > mLength)
            throw KQUZipException(kEntryError, fmt::format("Encrypted entry {} holds more than the {} bytes its "
                                                           "directory record says",
                                                           mName, mLength));
        if (n == 0 && mRead != mLength)
            throw KQUZipException(kEntryError, fmt::format("Encrypted entry {} holds {} bytes, not the {} its "
                                                           "directory record says",
                                                           mName, mRead, mLength));
        return n;
    }
    int64_t offset() override { return static_cast<int64_t>(mRead); }
    bool canSeek() override { return false; }
    void seekToOffset(int64_t) override { KQU_OBJECT_ASSERT_FAILURE("Not implemented."); }
    void disableSystemCaching() override { mInput->disableSystemCaching(); }
    void enableSystemCaching() override { mInput->enableSystemCaching(); }
    void close() override { mInput->close(); }
    std::shared_ptr<KQUInputStream> closeLocalStream() override { return mInput; }

private:
    std::shared_ptr<KQUInputStream> mInput;
    uint64_t mLength;
    uint64_t mRead = 0;
    std::string mName;
};

}  // namespace

static_assert(sizeof(KQUZipEntry) <= 128, "an archive's entries are meant to fill two cache lines each");

KQUZipEntry::KQUZipEntry(KQUZipArchiveDataRepresentationRef archive, int compressionMethod,
                         uint64_t compressedSize, uint64_t uncompressedSize, uint64_t offset, uint32_t crc)
    : mArchiveDataRepresentation(std::move(archive)),
      mCompressedSize(compressedSize),
      mUncompressedSize(uncompressedSize),
      mOffset(offset),
      mCrc(crc),
      mMethodCode(compressionMethod == 1 ? KQUZipCompressionMethodDeflated : KQUZipCompressionMethodStored) {}

KQUZipEntry::KQUZipEntry(const uint8_t* header, KQUZipArchiveDataRepresentationRef archive)
    : mArchiveDataRepresentation(std::move(archive)) {
    // Offsets below are those of the central file header minus its 4-byte signature.
    mVersionMadeBy = KQUZipReadUInt16(header);
    mDosTime = KQUZipReadUInt32(header + 8);
    mExternalAttributes = KQUZipReadUInt32(header + 34);
    mVersionNeeded = KQUZipReadUInt16(header + 2);
    mInternalAttributes = KQUZipReadUInt16(header + 32);
    uint16_t flags = KQUZipReadUInt16(header + 4);
    mFlags = flags;
    if (flags & KQUZipFlagTraditionalEncryption)
        throw KQUZipException("KQUZipCentralFileHeaderError", "Encrypted files are not supported");
    setCompressionFlags(KQUZipReadUInt16(header + 6));
    mCrc = KQUZipReadUInt32(header + 12);
    mCompressedSize = KQUZipReadUInt32(header + 16);
    mUncompressedSize = KQUZipReadUInt32(header + 20);
    if (KQUZipReadUInt16(header + 30) != 0)
        throw KQUZipException("KQUZipCentralFileHeaderError", "No multi-disk support");
    mOffset = KQUZipReadUInt32(header + 38);
}

void KQUZipEntry::setCompressionFlags(uint16_t methodCode) {
    if (!KQUZipInternalCompressionMethod(methodCode))
        throw KQUZipException("KQUZipCentralFileHeaderError", "Unsupported compression method");
    mMethodCode = methodCode;
}

void KQUZipEntry::setName(std::string_view name) {
    mOwnedName = std::make_unique_for_overwrite<char[]>(std::max<size_t>(name.size(), 1));
    std::copy(name.begin(), name.end(), mOwnedName.get());
    mNameData = mOwnedName.get();
    mNameLength = static_cast<uint32_t>(name.size());
}

void KQUZipEntry::setBorrowedName(std::string_view name) {
    mOwnedName.reset();
    mNameData = name.data();
    mNameLength = static_cast<uint32_t>(name.size());
}

void KQUZipEntry::readZip64ExtraField(std::span<const uint8_t> payload) {
    KQUZipZip64Values values{mUncompressedSize, mCompressedSize, mOffset};
    KQUZipApplyZip64ExtraField(payload, values);
    mUncompressedSize = values.uncompressedSize;
    mCompressedSize = values.compressedSize;
    mOffset = values.localHeaderOffset;
}

int64_t KQUZipEntry::encodedLength() const {
    // Plain arithmetic on the size: nothing worth caching (or locking) per entry.
    return static_cast<int64_t>(isEncrypted() ? KQUCryptoOutputStream::encodedLengthForDataLength(
                                                    mUncompressedSize, *mCryptoKey)
                                              : mUncompressedSize);
}

void KQUZipEntry::setDataLength(int64_t length) {
    if (!isEncrypted() || length < 0) {
        KQU_OBJECT_ASSERT_FAILURE("Tried to call -setDataLength: on an unencrypted zip entry.");
        return;
    }
    mUncompressedSize = static_cast<uint64_t>(length);
}

bool KQUZipEntry::isReadable() const {
    if (!mArchiveDataRepresentation->isReadable()) return false;
    try {
        return dataOffset() != 0;
    } catch (const KQUException&) {
        return false;  // the local header lies outside the archive
    }
}

uint64_t KQUZipEntry::dataOffset() const {
    auto known = [this]() -> uint64_t { return mLocalHeaderLength ? mOffset + mLocalHeaderLength : 0; };
    if (mHasDataOffset.load(std::memory_order_acquire)) return known();
    std::lock_guard guard(KQUStripedLock(KQULockTable::KQUValueLocks, this));
    if (mHasDataOffset.load(std::memory_order_relaxed)) return known();
    const auto& archive = *mArchiveDataRepresentation;
    if (mOffset > static_cast<uint64_t>(INT64_MAX) ||
        !KQUZipArchiveDataRepresentation::isValidRange(static_cast<int64_t>(mOffset),
                                                       KQUZipLocalFileHeaderFixedSize, archive.dataLength()))
        throw KQUZipException(kEntryError, "Could not read local header.");
    // One small positioned read: no stream, no buffer, no descriptor.
    char bytes[KQUZipLocalFileHeaderFixedSize];
    uint32_t n = archive.readBytesAtOffset(static_cast<int64_t>(mOffset), bytes, sizeof bytes);
    if (n < KQUZipLocalFileHeaderFixedSize)
        throw KQUZipException(kEntryError, "Could not read local header.");
    const auto* header = reinterpret_cast<const uint8_t*>(bytes);
    if (KQUZipReadUInt32(header) != KQUZipLocalFileHeaderSignature) {
        KQULogError("Local file header record signature not found");
        mLocalHeaderLength = 0;
    } else {
        mLocalHeaderLength =
            KQUZipLocalFileHeaderFixedSize + KQUZipReadUInt16(header + 26) + KQUZipReadUInt16(header + 28);
    }
    mHasDataOffset.store(true, std::memory_order_release);
    return known();
}

void KQUZipEntry::checkDataRange(uint64_t dataOffset, uint64_t length) const {
    uint64_t limit =
        std::min<uint64_t>(mDataLimit, static_cast<uint64_t>(mArchiveDataRepresentation->dataLength()));
    if (dataOffset > limit || length > limit - dataOffset)
        throw KQUZipException(kEntryError,
                              fmt::format("Data of entry {} lies outside its place in the archive", name()));
}

std::optional<uint64_t> KQUZipEntry::storedDataOffset() const {
    uint64_t d = dataOffset();
    if (d == 0) return std::nullopt;
    checkDataRange(d, mCompressedSize);
    return d;
}

std::shared_ptr<KQUInputStream> KQUZipEntry::storedInputStream() const {
    uint64_t d = dataOffset();
    if (d == 0) return nullptr;
    checkDataRange(d, mCompressedSize);
    auto stream = mArchiveDataRepresentation->inputStreamWithOffset(static_cast<int64_t>(d),
                                                                    static_cast<int64_t>(mCompressedSize));
    if (hasEncryptedMethod() || !isCompressed())
        stream = std::make_shared<KQUZipCrcCheckedInputStream>(std::move(stream), mCompressedSize, mCrc);
    return stream;
}

std::shared_ptr<KQUInputStream> KQUZipEntry::inputStream() const {
    if (hasEncryptedMethod() && !mCryptoKey)
        throw KQUZipException(kEntryError, "The entry is encrypted; a key is needed to read it.");
    uint64_t d = dataOffset();
    if (d == 0) return nullptr;
    checkDataRange(d, mCompressedSize);
    const auto& archive = *mArchiveDataRepresentation;
    if (hasEncryptedMethod()) {
        // The stored CRC-32 covers the encrypted bytes, as the writer computed it.
        auto stored = std::make_shared<KQUZipCrcCheckedInputStream>(
            archive.inputStreamWithOffset(static_cast<int64_t>(d), static_cast<int64_t>(mCompressedSize)),
            mCompressedSize, mCrc);
        std::shared_ptr<KQUInputStream> plain =
            std::make_shared<KQUCryptoInputStream>(std::move(stored), mCryptoKey);
        if (isCompressed()) plain = std::make_shared<KQUZipInflateInputStream>(std::move(plain));
        return std::make_shared<PlaintextLengthCheckedStream>(std::move(plain), mUncompressedSize, name());
    }
    if (!isCompressed()) {
        if (mCompressedSize != mUncompressedSize)
            throw KQUZipException(kEntryError,
                                  fmt::format("Stored entry {} has a compressed size of {} bytes and an "
                                              "uncompressed size of {} bytes",
                                              name(), mCompressedSize, mUncompressedSize));
        return std::make_shared<KQUZipCrcCheckedInputStream>(
            archive.inputStreamWithOffset(static_cast<int64_t>(d), static_cast<int64_t>(mUncompressedSize)),
            mUncompressedSize, mCrc);
    }
    return std::make_shared<KQUZipInflateInputStream>(
        static_cast<int64_t>(d), static_cast<int64_t>(d + mCompressedSize), mUncompressedSize, mCrc, archive);
}

KQUDataRef KQUZipEntry::data() const {
    uint64_t n = mUncompressedSize;
    // The size is untrusted: refuse what cannot be held or what the stored bytes could
    // not possibly yield, before allocating anything.
    bool impossible = isCompressed() ? n / kMaxDeflateRatio > mCompressedSize + 1 : n > mCompressedSize;
    if (n >= (uint64_t{1} << 32) || impossible) throwCouldNotRead(n);
    KQUData bytes;
    try {
        bytes.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        throw KQUZipException(kEntryError, fmt::format("Couldn't allocate NSMutableData with size: {}", n));
    }
    auto stream = inputStream();
    if (!stream) throw KQUZipException(kEntryError, "Local file header record signature not found");
    uint64_t done = 0;
    while (done < n) {
        uint32_t got = stream->readToBuffer(reinterpret_cast<char*>(bytes.data()) + done,
                                            static_cast<uint32_t>(n - done));
        if (got == 0) break;
        done += got;
    }
    // One more read must find the end: that also completes the checks of the streams.
    char extra;
    if (done != n || stream->readToBuffer(&extra, 1) != 0) throwCouldNotRead(n);
    stream->close();
    return KQUMakeData(std::move(bytes));
}

void KQUZipEntry::copyToFile(const std::string& path) const {
    auto input = bufferedInputStream();
    if (!input) throw KQUZipException(kEntryError, "Local file header record signature not found");
    // Written beside path and put in place only when every byte was read and checked.
    KQUAtomicOutputFile file(path);
    const char* bytes = nullptr;
    while (uint32_t n = input->readToOwnBuffer(&bytes, UINT32_MAX)) file.write(std::string_view(bytes, n));
    input->close();
    file.keep();
}

bool KQUZipEntry::isBackedByFile() const {
    return dynamic_cast<const KQUZipArchiveFileDataRepresentation*>(mArchiveDataRepresentation.get()) !=
           nullptr;
}

std::optional<std::string> KQUZipEntry::backingFilePath() const {
    auto* file = dynamic_cast<const KQUZipArchiveFileDataRepresentation*>(mArchiveDataRepresentation.get());
    if (!file) {
        KQU_OBJECT_ASSERT_FAILURE(
            "-[KQUZipEntry backingFilePath] called on an entry that is not backed by file.");
        return std::nullopt;
    }
    return file->path();
}

uint64_t KQUZipEntry::backingFileDataOffset() const {
    if (!isBackedByFile()) {
        KQU_OBJECT_ASSERT_FAILURE(
            "-[KQUZipEntry backingFileDataOffset] called on an entry that is not backed by file.");
        return 0;
    }
    return dataOffset();
}

std::string KQUZipEntry::description() const {
    return fmt::format("<KQUZipEntry {}: {}>", static_cast<const void*>(this), name());
}

}  // namespace kqu
