#include "kqutility/zip/KQUZipArchive.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUKeyedHash.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "kqutility/zip/KQUZipRecordInputStream.h"

namespace kqu {
namespace {

constexpr const char* kEndError = "KQUZipEndOfCentralDirectoryError";
constexpr const char* kDirectoryError = "KQUZipCentralDirectoryError";
constexpr int64_t kSearchChunkSize = 1024;

// Code page 437, bytes 0x80 to 0xFF.
constexpr char16_t kCodePage437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void appendUtf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

uint64_t nameHash(std::string_view name) {
    // Keyed, so that names cannot be chosen to collide. The slot comes from the low half,
    // the tag kept in the slot from the high half.
    return KQUKeyedHash(name);
}

// The entry's local header and data end at or before limit (where the next record begins).
bool fitsBefore(const KQUZipEntry& entry, uint64_t limit) {
    uint64_t offset = entry.localHeaderOffset();
    return offset <= limit && limit - offset >= KQUZipLocalFileHeaderFixedSize &&
           entry.compressedSize() <= limit - offset - KQUZipLocalFileHeaderFixedSize;
}

[[noreturn]] void throwOverrun() {
    throw KQUZipException(kDirectoryError,
                          "Central directory record runs past the end of the central directory");
}

}  // namespace

std::optional<std::string> KQUZipDecodeFilename(std::string_view bytes) {
    if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
    if (KQUIsValidUTF8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char b : bytes) {
        auto c = static_cast<unsigned char>(b);
        appendUtf8(out, c < 0x80 ? static_cast<char16_t>(c) : kCodePage437[c - 0x80]);
    }
    return out;
}

// MARK: - Entry storage

namespace {

// The mapping of the last entry table that went away, kept for the next archive opened (up
// to kMaxKeptBytes, about 130,000 entries): memory just filled in costs far more to write
// than memory written before, so reopening a large archive, or opening another, finds its
// table warm, as the C library's heap keeps freed memory for reuse. (Marking the kept pages
// MADV_FREE was measured: writing them again then cost as much as new memory.)
struct Mapping {
    void* memory = nullptr;
    size_t bytes = 0;      // the mapping's length
    size_t populated = 0;  // how much of it was filled in
};

class KeptMapping {
public:
    static constexpr size_t kMaxKeptBytes = size_t{16} << 20;

    // A kept mapping of at least bytes; an empty Mapping when there is none.
    static Mapping take(size_t bytes) {
        std::lock_guard guard(sMutex);
        if (!sKept.memory || sKept.bytes < bytes) return {};
        return std::exchange(sKept, Mapping{});
    }
    // Keeps mapping when it is small enough and larger than the one kept; false when the
    // caller still owns it.
    static bool give(const Mapping& mapping) {
        if (mapping.bytes > kMaxKeptBytes) return false;
        Mapping dropped;
        {
            std::lock_guard guard(sMutex);
            if (sKept.memory && sKept.bytes >= mapping.bytes) return false;
            dropped = std::exchange(sKept, mapping);
        }
        if (dropped.memory) ::munmap(dropped.memory, dropped.bytes);
        return true;
    }

private:
    static inline std::mutex sMutex;
    static inline Mapping sKept;
};

}  // namespace

// The entries of a large archive live in an anonymous mapping that is filled in ahead of
// use, 1 MiB at a time (MADV_POPULATE_WRITE): one system call per 1 MiB instead of a page
// fault per 4 KiB, which in a virtual machine costs more than building the entries. Only
// what is used is ever committed, whatever count the (untrusted) end record claims. The
// mapping is handed on to the next table when it goes (KeptMapping).
struct KQUZipArchive::EntryTable {
    static constexpr size_t kMappedMinimum = size_t{1} << 20;
    static constexpr size_t kPopulateStep = size_t{1} << 20;

    explicit EntryTable(size_t capacity) : mCapacity(capacity), mBytes(capacity * sizeof(KQUZipEntry)) {
        if (mBytes >= kMappedMinimum) {
            Mapping kept = KeptMapping::take(mBytes);
            if (kept.memory) {
                mEntries = static_cast<KQUZipEntry*>(kept.memory);
                mMappedBytes = kept.bytes;
                mPopulated = kept.populated;
                mMapped = true;
                return;
            }
            void* memory =
                ::mmap(nullptr, mBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            if (memory != MAP_FAILED) {
                mEntries = static_cast<KQUZipEntry*>(memory);
                mMappedBytes = mBytes;
                mMapped = true;
                return;
            }
        }
        if (capacity)
            mEntries = static_cast<KQUZipEntry*>(
                ::operator new(mBytes, std::align_val_t(alignof(KQUZipEntry))));
    }
    ~EntryTable() {
        for (size_t i = mCount; i-- > 0;) mEntries[i].~KQUZipEntry();
        if (mMapped) {
            if (!KeptMapping::give({mEntries, mMappedBytes, mPopulated})) ::munmap(mEntries, mMappedBytes);
        } else {
            ::operator delete(mEntries, std::align_val_t(alignof(KQUZipEntry)));
        }
    }
    EntryTable(const EntryTable&) = delete;
    EntryTable& operator=(const EntryTable&) = delete;

    KQUZipEntry* emplace(const uint8_t* header, const KQUZipArchiveDataRepresentationRef& archive) {
        if (mCount == mCapacity) throw std::length_error("zip entry table is full");
        size_t end = (mCount + 1) * sizeof(KQUZipEntry);
        if (mMapped && end > mPopulated && mPopulateWorks) {
            size_t length = std::min(kPopulateStep, mMappedBytes - mPopulated);
            // Failing (an older kernel) only means the pages fault in one by one.
            mPopulateWorks =
                ::madvise(reinterpret_cast<char*>(mEntries) + mPopulated, length, MADV_POPULATE_WRITE) == 0;
            mPopulated += length;
        }
        KQUZipEntry* entry = new (mEntries + mCount) KQUZipEntry(header, archive);
        ++mCount;
        return entry;
    }

    // A copy of name in the table's name store, which lives as long as the table. Names go
    // into blocks that grow from 4 KiB to 1 MiB, one after another: no allocation per
    // entry, and little left over.
    std::string_view storeName(std::string_view name) {
        if (name.size() > mNameSpaceLeft) {
            size_t block = std::max(name.size(), mNextNameBlock);
            mNameBlocks.push_back(std::make_unique_for_overwrite<char[]>(block));
            mNameSpace = mNameBlocks.back().get();
            mNameSpaceLeft = block;
            mNextNameBlock = std::min(mNextNameBlock * 2, kMaxNameBlock);
        }
        if (name.empty()) return {};
        std::memcpy(mNameSpace, name.data(), name.size());
        std::string_view stored(mNameSpace, name.size());
        mNameSpace += name.size();
        mNameSpaceLeft -= name.size();
        return stored;
    }

    KQUZipEntry* mEntries = nullptr;
    size_t mCapacity;
    size_t mBytes;
    size_t mMappedBytes = 0;
    size_t mCount = 0;
    size_t mPopulated = 0;
    bool mMapped = false;
    bool mPopulateWorks = true;
    static constexpr size_t kMaxNameBlock = size_t{1} << 20;
    std::vector<std::unique_ptr<char[]>> mNameBlocks;
    char* mNameSpace = nullptr;
    size_t mNameSpaceLeft = 0;
    size_t mNextNameBlock = 4096;
};

// MARK: - Opening

bool KQUZipArchive::isZipArchiveAtPath(const std::string& path) {
    KQUZipArchiveFileDataRepresentation representation(path);
    auto stream = representation.inputStream();
    if (!stream) return false;
    uint8_t bytes[4];
    uint32_t n = stream->readToBuffer(reinterpret_cast<char*>(bytes), 4);
    stream->close();
    return n == 4 && KQUZipReadUInt32(bytes) == KQUZipLocalFileHeaderSignature;
}

KQUZipArchive::KQUZipArchive(const std::string& path, bool collapse)
    : KQUZipArchive(std::make_shared<KQUZipArchiveFileDataRepresentation>(path), collapse) {}

KQUZipArchive::KQUZipArchive(KQUDataRef data, bool collapse)
    : KQUZipArchive(std::make_shared<KQUZipArchiveMemoryDataRepresentation>(std::move(data)), collapse) {}

KQUZipArchive::KQUZipArchive(KQUZipArchiveDataRepresentationRef representation, bool collapse)
    : mDataRepresentation(std::move(representation)) {
    readEntries();
    if (collapse) collapseCommonRootDirectory();
}

void KQUZipArchive::readEntries() {
    KQUZipRecordInputStream stream(*mDataRepresentation);
    KQUZipEndOfCentralDirectory end = readEndOfCentralDirectory(stream);
    bool countWithoutLocator = end.countWithoutLocator;
    try {
        if (end.offset < 0 || end.size < 0 || end.offset > end.limit || end.size > end.limit - end.offset)
            throw KQUZipException(kDirectoryError, "Central directory lies outside the archive");
        // Each record takes at least 46 bytes: a count that cannot fit is refused before
        // anything is reserved for it.
        if (uint64_t{end.entryCount} * KQUZipCentralFileHeaderFixedSize > static_cast<uint64_t>(end.size))
            throwOverrun();
        mTable = std::make_shared<EntryTable>(end.entryCount);
        mOrder.reserve(end.entryCount);
        size_t slots = 16;
        while (slots < uint64_t{end.entryCount} * 2) slots *= 2;
        mIndex.assign(slots, 0);
        int64_t position = end.offset;
        int64_t directoryEnd = end.offset + end.size;
        // Each record is indexed one record late, once its slot has been fetched into the
        // cache while the next record was parsed.
        KQUZipEntry* pending = nullptr;
        uint64_t pendingHash = 0;
        // Placement is checked as the records come, while the previous entry is still in
        // the cache, as long as they come in offset order with distinct names (as archives
        // are written); anything else is left to the full check at the end.
        KQUZipEntry* previous = nullptr;
        bool checkAllPlacements = false;
        for (uint32_t i = 0; i < end.entryCount; ++i) {
            if (directoryEnd - position < KQUZipCentralFileHeaderFixedSize) throwOverrun();
            const uint8_t* header =
                stream.dataAtOffset(position, KQUZipCentralFileHeaderFixedSize, directoryEnd);
            if (KQUZipReadUInt32(header) != KQUZipCentralFileHeaderSignature)
                throw KQUZipException(kDirectoryError, "Central file header record signature not found");
            KQUZipEntry* entry = mTable->emplace(header + KQUZipRecordSignatureSize, mDataRepresentation);
            uint32_t nameLength = KQUZipReadUInt16(header + 28);
            uint32_t extraLength = KQUZipReadUInt16(header + 30);
            uint32_t commentLength = KQUZipReadUInt16(header + 32);
            position += KQUZipCentralFileHeaderFixedSize;
            if (directoryEnd - position < int64_t{nameLength} + extraLength + commentLength) throwOverrun();
            std::string_view name =
                readFilename(stream.dataAtOffset(position, nameLength, directoryEnd), nameLength);
            position += nameLength;
            if (extraLength != 0) {
                readExtraField(stream.dataAtOffset(position, extraLength, directoryEnd), extraLength, *entry);
                position += extraLength;
            }
            position += commentLength;
            uint64_t hash = nameHash(name);
            entry->setBorrowedName(name);
            __builtin_prefetch(&mIndex[hash & (mIndex.size() - 1)]);
            if (previous && !checkAllPlacements) {
                if (entry->localHeaderOffset() > previous->localHeaderOffset() &&
                    fitsBefore(*previous, entry->localHeaderOffset()))
                    previous->setDataLimit(entry->localHeaderOffset());
                else
                    checkAllPlacements = true;
            }
            previous = entry;
            if (pending && addEntry(pending, pendingHash)) checkAllPlacements = true;
            pending = entry;
            pendingHash = hash;
        }
        if (pending && addEntry(pending, pendingHash)) checkAllPlacements = true;
        auto directoryOffset = static_cast<uint64_t>(end.offset);
        if (previous && !checkAllPlacements && fitsBefore(*previous, directoryOffset))
            previous->setDataLimit(directoryOffset);
        else
            checkEntryPlacement(end.offset);
    } catch (const KQUException&) {
        // 65535 entries and no locator: read as a plain directory when it parses; when it
        // does not, the missing locator is what is wrong.
        if (countWithoutLocator)
            throw KQUZipException(kEndError,
                                  "Zip64 end of central directory locator record signature not found");
        throw;
    }
}

bool KQUZipArchive::addEntry(KQUZipEntry* entry, uint64_t hash) {
    size_t slot = findSlot(keyOf(*entry), hash);
    if (uint32_t index = static_cast<uint32_t>(mIndex[slot])) {
        mOrder[index - 1] = entry;  // a later record with the same name wins
        return true;
    }
    mIndex[slot] = (hash & ~uint64_t{0xFFFFFFFF}) | (mOrder.size() + 1);
    mOrder.push_back(entry);
    return false;
}

size_t KQUZipArchive::findSlot(std::string_view name, uint64_t hash) const {
    size_t mask = mIndex.size() - 1;
    size_t slot = static_cast<size_t>(hash) & mask;
    for (;; slot = (slot + 1) & mask) {
        uint64_t value = mIndex[slot];
        if (value == 0) return slot;
        if ((value >> 32) == (hash >> 32) && keyOf(*mOrder[static_cast<uint32_t>(value) - 1]) == name)
            return slot;
    }
}

void KQUZipArchive::rebuildIndex() {
    size_t slots = 16;
    while (slots < mOrder.size() * 2) slots *= 2;
    mIndex.assign(slots, 0);
    for (size_t i = 0; i < mOrder.size(); ++i) {
        std::string_view key = keyOf(*mOrder[i]);
        uint64_t hash = nameHash(key);
        mIndex[findSlot(key, hash)] = (hash & ~uint64_t{0xFFFFFFFF}) | (i + 1);
    }
}

KQUZipEndOfCentralDirectory KQUZipArchive::readEndOfCentralDirectory(KQUZipRecordInputStream& stream) {
    int64_t length = mDataRepresentation->dataLength();
    int64_t endOffset = length - KQUZipEndOfCentralDirectoryFixedSize;
    const uint8_t* record = stream.dataAtOffset(endOffset, KQUZipEndOfCentralDirectoryFixedSize);
    if (KQUZipReadUInt32(record) == KQUZipEndOfCentralDirectorySignature)
        record += KQUZipRecordSignatureSize;
    else
        record = searchForEndOfCentralDirectory(stream, &endOffset);
    if (KQUZipReadUInt16(record) != 0 || KQUZipReadUInt16(record + 2) != 0)
        throw KQUZipException(kEndError, "No multi-disk support");
    KQUZipEndOfCentralDirectory end;
    uint16_t total = KQUZipReadUInt16(record + 6);
    uint32_t size = KQUZipReadUInt32(record + 8);
    uint32_t offset = KQUZipReadUInt32(record + 12);
    end.entryCount = total;
    end.size = size;
    end.offset = offset;
    end.limit = endOffset;
    if (total != KQUZip16BitEscape && size != KQUZip32BitEscape && offset != KQUZip32BitEscape) return end;

    bool onlyCount = size != KQUZip32BitEscape && offset != KQUZip32BitEscape;
    if (onlyCount && endOffset >= KQUZip64EndOfCentralDirectoryLocatorSize) {
        const uint8_t* locator = stream.dataAtOffset(endOffset - KQUZip64EndOfCentralDirectoryLocatorSize,
                                                     KQUZip64EndOfCentralDirectoryLocatorSize);
        if (KQUZipReadUInt32(locator) != KQUZip64EndOfCentralDirectoryLocatorSignature) {
            // Exactly 65535 entries, written without Zip64 records.
            end.countWithoutLocator = true;
            return end;
        }
    }
    KQUZipEndOfCentralDirectory zip64 = readZip64EndOfCentralDirectory(stream, endOffset);
    if (zip64.size == 0) {
        end.limit = zip64.limit;
        return end;
    }
    return zip64;
}

const uint8_t* KQUZipArchive::searchForEndOfCentralDirectory(KQUZipRecordInputStream& stream,
                                                             int64_t* offset) {
    int64_t length = mDataRepresentation->dataLength();
    int64_t window = std::min<int64_t>(length, KQUZipEndOfCentralDirectoryMaxSize);
    int64_t base = length - window;
    const uint8_t* bytes = stream.dataAtOffset(base, static_cast<uint32_t>(window), length);
    int64_t chunkLength = std::min<int64_t>(window, window % kSearchChunkSize + kSearchChunkSize);
    int64_t chunkStart = window - chunkLength;
    int64_t candidates = chunkLength - KQUZipEndOfCentralDirectoryFixedSize + 1;
    for (;;) {
        for (int64_t i = chunkStart; i < chunkStart + candidates; ++i) {
            if (bytes[i] == 0x50 && bytes[i + 1] == 0x4B && bytes[i + 2] == 0x05 && bytes[i + 3] == 0x06) {
                *offset = base + i;
                return bytes + i + KQUZipRecordSignatureSize;
            }
        }
        if (chunkStart == 0)
            throw KQUZipException(kEndError, "Could not find the end of central directory record");
        chunkStart -= kSearchChunkSize;
        candidates = kSearchChunkSize;
    }
}

KQUZipEndOfCentralDirectory KQUZipArchive::readZip64EndOfCentralDirectory(KQUZipRecordInputStream& stream,
                                                                          int64_t eocdOffset) {
    if (eocdOffset < KQUZip64EndOfCentralDirectoryLocatorSize)
        throw KQUZipException(kEndError, "File isn't long enough for Zip64 locator");
    int64_t locatorOffset = eocdOffset - KQUZip64EndOfCentralDirectoryLocatorSize;
    const uint8_t* locator = stream.dataAtOffset(locatorOffset, KQUZip64EndOfCentralDirectoryLocatorSize);
    if (KQUZipReadUInt32(locator) != KQUZip64EndOfCentralDirectoryLocatorSignature)
        throw KQUZipException(kEndError, "Zip64 end of central directory locator record signature not found");
    if (KQUZipReadUInt32(locator + 4) != 0 || KQUZipReadUInt32(locator + 16) != 1)
        throw KQUZipException(kEndError, "No multi-disk support");
    uint64_t recordOffset = KQUZipReadUInt64(locator + 8);
    // The record lies before its locator.
    if (recordOffset > static_cast<uint64_t>(locatorOffset) ||
        static_cast<uint64_t>(locatorOffset) - recordOffset < KQUZip64EndOfCentralDirectoryFixedSize)
        throw KQUZipException(kEndError, "Zip64 end of central directory record signature not found");
    const uint8_t* record =
        stream.dataAtOffset(static_cast<int64_t>(recordOffset), KQUZip64EndOfCentralDirectoryFixedSize);
    if (KQUZipReadUInt32(record) != KQUZip64EndOfCentralDirectorySignature)
        throw KQUZipException(kEndError, "Zip64 end of central directory record signature not found");
    if (KQUZipReadUInt32(record + 16) != 0 || KQUZipReadUInt32(record + 20) != 0)
        throw KQUZipException(kEndError, "No multi-disk support");
    uint64_t total = KQUZipReadUInt64(record + 32);
    if (total >> 32) throw KQUZipException(kEndError, "Too many zip entries");
    uint64_t size = KQUZipReadUInt64(record + 40);
    uint64_t offset = KQUZipReadUInt64(record + 48);
    if (size > static_cast<uint64_t>(INT64_MAX) || offset > static_cast<uint64_t>(INT64_MAX))
        throw KQUZipException(kDirectoryError, "Central directory lies outside the archive");
    KQUZipEndOfCentralDirectory end;
    end.entryCount = static_cast<uint32_t>(total);
    end.size = static_cast<int64_t>(size);
    end.offset = static_cast<int64_t>(offset);
    end.limit = static_cast<int64_t>(recordOffset);
    return end;
}

std::string_view KQUZipArchive::readFilename(const uint8_t* bytes, uint32_t size) {
    std::string_view raw(reinterpret_cast<const char*>(bytes), size);
    // ASCII without NUL, nearly every name, is stored as it is.
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) - 1u < 0x7Fu; }))
        return mTable->storeName(raw);
    auto name = KQUZipDecodeFilename(raw);
    if (!name) throw KQUZipException("KQUZipFilenameError", "Could not read filename.");
    return mTable->storeName(*name);
}

void KQUZipArchive::readExtraField(const uint8_t* bytes, uint32_t size, KQUZipEntry& entry) {
    KQUZipExtraFieldIterator fields(std::span<const uint8_t>(bytes, size));
    while (auto field = fields.next()) {
        switch (field->id) {
            case KQUZipZip64ExtraFieldID:
                entry.readZip64ExtraField(field->payload);
                break;
            case KQUZipPassphraseVerifierExtraFieldID:
                if (!mPassphraseVerifier) {
                    if (auto data = KQUZipLibraryExtraFieldData(field->payload,
                                                                KQUZipPassphraseVerifierExtraFieldSignature))
                        mPassphraseVerifier = KQUMakeData(KQUData(data->begin(), data->end()));
                }
                break;
            case KQUZipPassphraseHintExtraFieldID:
                if (!mPassphraseHint) {
                    if (auto data = KQUZipLibraryExtraFieldData(field->payload,
                                                                KQUZipPassphraseHintExtraFieldSignature))
                        mPassphraseHint = KQUCryptoUtils::decodePassphraseHint(*data);
                }
                break;
            case KQUZipEncryptedDocumentUuidExtraFieldID:
                if (!mEncryptedDocumentUuid) {
                    if (auto data = KQUZipLibraryExtraFieldData(
                            field->payload, KQUZipEncryptedDocumentUuidExtraFieldSignature))
                        mEncryptedDocumentUuid = KQUMakeData(KQUData(data->begin(), data->end()));
                }
                break;
            default:
                break;
        }
    }
    if (fields.isMalformed()) KQULogError("Invalid Zip entry extra field length");
}

void KQUZipArchive::checkEntryPlacement(int64_t directoryOffset) {
    // Every entry's local header and data must end before the next entry begins, and the
    // last one before the central directory: overlapping entries are refused.
    std::vector<KQUZipEntry*> placements(mOrder);
    auto byOffset = [](const KQUZipEntry* a, const KQUZipEntry* b) {
        return a->localHeaderOffset() < b->localHeaderOffset();
    };
    if (!std::is_sorted(placements.begin(), placements.end(), byOffset))
        std::sort(placements.begin(), placements.end(), byOffset);
    for (size_t i = 0; i < placements.size(); ++i) {
        uint64_t limit = i + 1 < placements.size() ? placements[i + 1]->localHeaderOffset()
                                                   : static_cast<uint64_t>(directoryOffset);
        KQUZipEntry& entry = *placements[i];
        if (!fitsBefore(entry, limit))
            throw KQUZipException(kDirectoryError,
                                  fmt::format("Entry {} overlaps the next record of the archive", entry.name()));
        entry.setDataLimit(limit);
    }
}

void KQUZipArchive::collapseCommonRootDirectory() {
    if (mOrder.empty()) return;
    std::string_view first = keyOf(*mOrder.front());
    size_t slash = first.find('/');
    if (slash == std::string::npos) return;
    std::string_view root = first.substr(0, slash);
    for (const KQUZipEntry* entry : mOrder) {
        std::string_view name = keyOf(*entry);
        if (name.size() <= root.size() || name.compare(0, root.size(), root) != 0 || name[root.size()] != '/')
            return;
    }
    size_t strip = root.size() + 1;
    // The root directory itself goes; every other entry is found under its name without
    // the root (the entries keep their central-directory names).
    std::erase_if(mOrder, [&](const KQUZipEntry* entry) { return keyOf(*entry).size() == strip; });
    mStripLength += strip;
    rebuildIndex();
}

// MARK: - Questions

std::shared_ptr<KQUZipEntry> KQUZipArchive::entryWithName(std::string_view name) const {
    if (mIndex.empty()) return nullptr;
    auto index = static_cast<uint32_t>(mIndex[findSlot(name, nameHash(name))]);
    return index == 0 ? nullptr : share(mOrder[index - 1]);
}

std::shared_ptr<KQUZipEntry> KQUZipArchive::entryWithName(std::string_view name, int64_t dataLength) const {
    auto entry = entryWithName(name);
    if (entry) entry->setDataLength(dataLength);
    return entry;
}

std::vector<std::string> KQUZipArchive::allEntryNames() const {
    std::vector<std::string> names;
    names.reserve(mOrder.size());
    for (const KQUZipEntry* entry : mOrder) names.emplace_back(keyOf(*entry));
    return names;
}

std::vector<std::shared_ptr<KQUZipEntry>> KQUZipArchive::allEntries() const {
    std::vector<std::shared_ptr<KQUZipEntry>> entries;
    entries.reserve(mOrder.size());
    for (KQUZipEntry* entry : mOrder) entries.push_back(share(entry));
    return entries;
}

void KQUZipArchive::setCryptoKey(KQUCryptoKeyRef key) {
    mCryptoKey = std::move(key);
    for (KQUZipEntry* entry : mOrder) entry->setCryptoKey(mCryptoKey);
}

}  // namespace kqu
