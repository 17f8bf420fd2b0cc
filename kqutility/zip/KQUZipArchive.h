// Reading zip archives (document packages) from a file or from memory.
//
// Opening an archive reads its central directory once into entries keyed by name, picks
// up the library's encryption extra fields (passphrase verifier, hint, document UUID),
// and optionally strips a directory that every entry name shares. Local headers are read
// later, when an entry's data is first needed. Everything read from the archive is
// untrusted: every offset and length is checked against the archive before anything is
// allocated or read, entries whose data would overlap another entry or the central
// directory are refused, and a malformed archive throws KQUZipException (or KQUException
// "KQUZipArchiveError" from the record reader) with a fixed name and reason; an archive
// that throws while opening leaves nothing behind.
//
//     KQUZipArchive archive(path);
//     if (archive.isEncrypted()) archive.setCryptoKey(key);   // a key checked against passphraseVerifier()
//     auto entry = archive.entryWithName("Index.xml");
//     xmlDocPtr document = entry ? entry->xmlDocument() : nullptr;
//
// Threads: an archive is opened on one thread. Afterwards its entries may be read from
// several threads at once (each stream is independent); setCryptoKey() belongs before
// that. Entries keep the archive's bytes alive and may outlive the archive object.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/foundation/KQUData.h"
#include "kqutility/zip/KQUZipArchiveDataRepresentation.h"
#include "kqutility/zip/KQUZipEntry.h"
#include "kqutility/zip/KQUZipException.h"

namespace kqu {

struct KQUZipEndOfCentralDirectory {
    uint32_t entryCount = 0;
    int64_t size = 0;
    int64_t offset = 0;
    // Where the directory must end: the Zip64 end record or the end record.
    int64_t limit = 0;
    // The count is 0xFFFF but no Zip64 locator precedes the end record.
    bool countWithoutLocator = false;
};

class KQUZipRecordInputStream;

class KQUZipArchive {
public:
    // Whether the file starts with the local file header signature (nothing else is
    // examined); false for a missing file or one shorter than 4 bytes.
    static bool isZipArchiveAtPath(const std::string& path);

    // Opens the archive file at path. Throws KQUZipException (see the class comment).
    explicit KQUZipArchive(const std::string& path, bool collapseCommonRootDirectory = false);
    // Opens an archive held in memory. Archives of 4 GiB or more cannot be read from
    // memory (NSInvalidArgumentException "Bad input stream range.").
    explicit KQUZipArchive(KQUDataRef data, bool collapseCommonRootDirectory = false);
    // The same over any archive data representation.
    explicit KQUZipArchive(KQUZipArchiveDataRepresentationRef representation,
                           bool collapseCommonRootDirectory = false);

    std::shared_ptr<KQUZipEntry> entryWithName(std::string_view name) const;
    // The entry after setDataLength(dataLength) (for encrypted entries whose plaintext
    // length the application knows); nullptr when absent.
    std::shared_ptr<KQUZipEntry> entryWithName(std::string_view name, int64_t dataLength) const;
    // All names, in the order of the central directory.
    std::vector<std::string> allEntryNames() const;
    // All entries, in the order of the central directory.
    std::vector<std::shared_ptr<KQUZipEntry>> allEntries() const;
    size_t entryCount() const { return mOrder.size(); }

    // A passphrase verifier was found.
    bool isEncrypted() const { return mPassphraseVerifier != nullptr; }
    const KQUDataRef& passphraseVerifier() const { return mPassphraseVerifier; }
    const std::optional<std::string>& passphraseHint() const { return mPassphraseHint; }
    const KQUDataRef& encryptedDocumentUuid() const { return mEncryptedDocumentUuid; }
    const KQUCryptoKeyRef& cryptoKey() const { return mCryptoKey; }
    // Hands the key to every entry; entries stored with the library's encrypted methods
    // then read through the decrypting stream.
    void setCryptoKey(KQUCryptoKeyRef key);

    const KQUZipArchiveDataRepresentationRef& dataRepresentation() const { return mDataRepresentation; }

private:
    void readEntries();
    KQUZipEndOfCentralDirectory readEndOfCentralDirectory(KQUZipRecordInputStream& stream);
    const uint8_t* searchForEndOfCentralDirectory(KQUZipRecordInputStream& stream, int64_t* offset);
    KQUZipEndOfCentralDirectory readZip64EndOfCentralDirectory(KQUZipRecordInputStream& stream,
                                                               int64_t eocdOffset);
    // The decoded name, kept in the entry table's name store.
    std::string_view readFilename(const uint8_t* bytes, uint32_t size);
    void readExtraField(const uint8_t* bytes, uint32_t size, KQUZipEntry& entry);
    void checkEntryPlacement(int64_t directoryOffset);
    void collapseCommonRootDirectory();
    // Indexes entry; true when it replaced an earlier entry of the same name.
    bool addEntry(KQUZipEntry* entry, uint64_t hash);
    // The name an entry is found under: its central-directory name without the common
    // root, when that was stripped.
    std::string_view keyOf(const KQUZipEntry& entry) const {
        return entry.name().substr(mStripLength);
    }
    std::shared_ptr<KQUZipEntry> share(KQUZipEntry* entry) const { return {mTable, entry}; }
    // Finds the slot of name in mIndex: the one holding its entry, or the empty one where
    // it belongs.
    size_t findSlot(std::string_view name, uint64_t hash) const;
    void rebuildIndex();

    KQUZipArchiveDataRepresentationRef mDataRepresentation;
    // Every entry lives in one block and every name in one store beside it (no allocation
    // per entry); the entries handed out share ownership of the whole table, which
    // therefore lives as long as the archive or any of its entries.
    struct EntryTable;
    std::shared_ptr<EntryTable> mTable;
    // The entries in directory order, and an open-addressing index over their names: each
    // slot holds an index into mOrder plus one (0 when empty) in its low half and the
    // name's hash in its high half, so that a probe rarely touches a name; the size is a
    // power of two at least twice the entry count. Names are hashed with a per-process
    // random key (KQUKeyedHash), so no archive can make the probes collide on purpose.
    std::vector<KQUZipEntry*> mOrder;
    std::vector<uint64_t> mIndex;
    size_t mStripLength = 0;
    KQUDataRef mPassphraseVerifier;
    std::optional<std::string> mPassphraseHint;
    KQUDataRef mEncryptedDocumentUuid;
    KQUCryptoKeyRef mCryptoKey;
};

// Decodes an entry name: UTF-8 when valid, otherwise code page 437 (the zip format's
// original encoding) converted to UTF-8; nullopt for a name holding a NUL byte.
std::optional<std::string> KQUZipDecodeFilename(std::string_view bytes);

}  // namespace kqu
