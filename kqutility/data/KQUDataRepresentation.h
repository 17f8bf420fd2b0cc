// Data representations: objects that describe bytes held somewhere (a file, a block of
// memory, a zip entry) and hand out fresh input streams over them.
//
// KQUDataRepresentation is the base: length, readability, streams, a content hash and
// equality that read as little as they can, and XML parsing through libxml2 (a whole
// document from a push parser fed in 256 KiB chunks, or a text reader pulling from a
// stream). KQUFileDataRepresentation stands for a file, found again by its file reference
// when it is renamed, optionally encrypted with a document key. KQUMemoryDataRepresentation
// stands for a shared, immutable byte block.
//
// Ownership: representations are shared (std::shared_ptr) and immutable as seen by their
// users, except for the lazily cached hash, file attributes and file reference, and
// setFileType(). Every stream handed out is new and independent, owned by the caller.
// Threads: one representation may be asked for streams, its hash, its length and its path
// from several threads at once; the cached values are computed under a lock of the object.
// A stream belongs to one thread at a time.
//
// Errors: a representation that cannot produce a stream where one is needed (reading
// its contents, comparing, hashing, parsing) throws KQUException "KQUDataRepresentationError"
// rather than treating the contents as empty; file errors arrive as the stream layer's
// errno exceptions.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include "kqutility/foundation/KQUData.h"
#include "kqutility/foundation/KQUFileReference.h"
#include "kqutility/foundation/KQUStripedLock.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu {

class KQUCryptoKey;
using KQUCryptoKeyRef = std::shared_ptr<const KQUCryptoKey>;

inline constexpr const char* KQUDataRepresentationError = "KQUDataRepresentationError";
inline constexpr const char* KQUMemoryDataRepresentationError = "KQUMemoryDataRepresentationError";
// The buffer size of bufferedInputStream() and of the XML push parser's chunks.
inline constexpr uint32_t KQUDataRepresentationBufferSize = 262144;

class KQUDataRepresentation {
public:
    virtual ~KQUDataRepresentation() = default;

    virtual bool isReadable() const { return true; }
    // Length of the bytes the representation stands for.
    virtual int64_t dataLength() const = 0;
    // Length of the stored form (larger when encrypted).
    virtual int64_t encodedLength() const { return dataLength(); }
    virtual bool isEncrypted() const { return false; }
    // A new stream at offset 0 over the bytes, or nullptr when they cannot be reached.
    virtual std::shared_ptr<KQUInputStream> inputStream() const = 0;
    // A new buffered stream (256 KiB) over inputStream(), or nullptr.
    virtual std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStream() const;
    virtual std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStreamWithBufferSize(
        uint32_t size) const;
    // Whether both stand for the same storage (then equal contents need not be read).
    virtual bool hasSameLocationAs(const KQUDataRepresentation& other) const;
    virtual std::string description() const;

    // A hash of the length and the first 4096 bytes, computed once (0 while unreadable).
    uint32_t hash() const;
    // Equal lengths and equal bytes (or the same storage). Reads both only when needed.
    bool isEqual(const KQUDataRepresentation& other) const;

    // The whole document, owned by the caller (xmlFreeDoc). Throws "KQUDataRepresentationError"
    // with "XML document is not well formed.", "xmlCreatePushParserCtxt() failed" or
    // "xmlParseChunk() failed: <code>"; exceptions of the stream pass through. No
    // document is left behind when it throws.
    xmlDocPtr xmlDocument() const;
    // A text reader pulling from a new inputStream(), owned by the caller
    // (xmlFreeTextReader, which also closes the stream); nullptr when libxml2 refuses.
    xmlTextReaderPtr xmlReader() const;

protected:
    // inputStream(), or a KQUDataRepresentationError naming this representation.
    std::shared_ptr<KQUInputStream> requireInputStream() const;
    std::shared_ptr<KQUBufferedInputStreamProtocol> requireBufferedInputStream() const;

private:
    mutable std::atomic<bool> mHasHash{false};
    mutable uint32_t mHash = 0;
};

using KQUDataRepresentationRef = std::shared_ptr<const KQUDataRepresentation>;

// A file on disk, optionally holding an encrypted stream (then dataLength() is the
// plaintext length given at creation and streams decrypt). The file is found again by
// its file reference after it is renamed within its directory; when a file appears again
// at the remembered path, that path wins. A shared descriptor (not owned; its creator
// closes it after the representation is gone) lets streams read an open file without
// opening it by path: each stream reads through its own duplicate.
class KQUFileDataRepresentation : public KQUDataRepresentation {
public:
    // An empty path is an assertion failure ("Invalid parameter not satisfying: path != nil");
    // the representation is then unreadable.
    explicit KQUFileDataRepresentation(std::string path, int sharedFileDescriptor = -1,
                                       KQUCryptoKeyRef key = nullptr, int64_t dataLength = 0);
    KQUFileDataRepresentation(std::string path, KQUCryptoKeyRef key, int64_t dataLength)
        : KQUFileDataRepresentation(std::move(path), -1, std::move(key), dataLength) {}

    // Writes the bytes of data (encrypted with key when given) to path and returns a
    // representation of the new file; nullptr for null data. When data already is this
    // file with an identical key, nothing is copied. The bytes go to a new file beside
    // path that replaces path only when complete: when anything throws, path is as it was
    // and the partial file is removed. Throws "KQUDataRepresentationError" when data has
    // no stream or yields fewer or more bytes than its dataLength().
    static std::shared_ptr<KQUFileDataRepresentation> createWithCopyOfData(
        const KQUDataRepresentationRef& data, const std::string& path, KQUCryptoKeyRef key = nullptr);

    // The file's current path, or nullopt when it cannot be found (see the class comment).
    std::optional<std::string> path() const;
    bool isReadable() const override { return path().has_value(); }
    int64_t dataLength() const override;
    // The file's length.
    int64_t encodedLength() const override;
    bool isEncrypted() const override { return mCryptoKey != nullptr; }
    const KQUCryptoKeyRef& cryptoKey() const { return mCryptoKey; }
    // True when both keys are null, or both are set and equal.
    bool isCryptoKeyIdenticalToKey(const KQUCryptoKey* key) const;

    // The file's type code (0 when it has none).
    uint32_t fileType() const;
    // Writes the code into the file's attributes when the file is found and the file
    // system keeps them; remembers it in every case.
    void setFileType(uint32_t fileType);

    std::shared_ptr<KQUInputStream> inputStream() const override;
    bool hasSameLocationAs(const KQUDataRepresentation& other) const override;
    // Whether the directory contains the file (at any depth).
    bool isInDirectory(const KQUFileReference& directory) const;
    // "<KQUFileDataRepresentation 0x...: path ...>"
    std::string description() const override;

private:
    void loadAttributes() const;

    mutable std::mutex mLock;
    mutable std::string mPath;
    mutable std::optional<KQUFileReference> mFileReference;
    int mSharedFd;
    KQUCryptoKeyRef mCryptoKey;
    int64_t mDataLength;
    mutable std::atomic<bool> mHasAttributes{false};
    mutable int64_t mFileLength = 0;
    mutable std::atomic<uint32_t> mFileType{0};
    mutable std::atomic<bool> mHasFileType{false};
};

// A shared, immutable block of memory. Streams lend its bytes directly (the buffer size
// of bufferedInputStreamWithBufferSize is ignored). Blocks of 4 GiB or more cannot be
// streamed: the memory stream's offsets are 32-bit, and its creation throws "Bad data range.".
class KQUMemoryDataRepresentation : public KQUDataRepresentation {
public:
    // Null data stands for an empty block. Keeps data itself when it is sealed (made by
    // KQUMakeData, which takes over a vector without copying), otherwise a copy, so that no
    // caller can change or free the bytes under the representation.
    explicit KQUMemoryDataRepresentation(KQUDataRef data);
    // Reads all of source into memory; nullptr for a null source. Throws
    // "KQUMemoryDataRepresentationError" with "Attempted to load a storage that is too big"
    // (2^32 bytes or more), "Could not allocate data" or "Couldn't read enough data".
    static std::shared_ptr<KQUMemoryDataRepresentation> createWithDataRepresentation(
        const KQUDataRepresentationRef& source);

    const KQUDataRef& data() const { return mData; }
    int64_t dataLength() const override { return static_cast<int64_t>(mData->size()); }
    std::shared_ptr<KQUInputStream> inputStream() const override;
    std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStream() const override;
    std::shared_ptr<KQUBufferedInputStreamProtocol> bufferedInputStreamWithBufferSize(
        uint32_t size) const override;
    // The very same block (identity, not contents).
    bool hasSameLocationAs(const KQUDataRepresentation& other) const override;

private:
    KQUDataRef mData;
};

// libxml2 input callbacks for xmlReaderForIO. The context is a heap-held
// std::shared_ptr<KQUInputStream> made by KQUXmlReaderIOContext(); the close callback
// frees it. No exception leaves these functions: a failing read is logged ("Exception
// while reading XML: <reason>") and reported to libxml2 as -1 (an I/O error).
void* KQUXmlReaderIOContext(std::shared_ptr<KQUInputStream> stream);
int KQUXmlReaderIORead(void* context, char* buffer, int length);
int KQUXmlReaderIOClose(void* context);

}  // namespace kqu
