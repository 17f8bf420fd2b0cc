#include "kqutility/data/KQUDataRepresentation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <fmt/format.h>
#include <libxml/parser.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/interchange/KQUHash.h"
#include "kqutility/streams/KQUAtomicOutputStream.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"

namespace kqu {
namespace {

constexpr uint32_t kHashedPrefixLength = 4096;
// Names longer than this were cut to it by older file systems; such a file is looked for
// under the cut name as well.
constexpr size_t kShortNameLength = 31;

struct ParserContextDeleter {
    void operator()(xmlParserCtxtPtr context) const {
        if (context->myDoc) xmlFreeDoc(context->myDoc);
        context->myDoc = nullptr;
        xmlFreeParserCtxt(context);
    }
};

// Whether a descriptor is open and readable: a zero-byte positioned read succeeds.
bool isUsableDescriptor(int fd) {
    if (fd == -1) return false;
    char byte;
    return ::pread(fd, &byte, 0, 0) == 0;
}

bool isAcceptableFile(const std::string& path) {
    auto attributes = KQUAttributesOfItem(path, true);
    return attributes && attributes->type != KQUFileType::Directory && KQUIsReadableFile(path);
}

// The path with its last component cut to its first 31 characters (UTF-8 aware), or
// nullopt when the component is not longer than that.
std::optional<std::string> pathWithShortenedName(const std::string& path) {
    std::string name = KQULastPathComponent(path);
    size_t characters = 0, cut = name.size();
    for (size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
        if (characters == kShortNameLength) {
            cut = i;
            break;
        }
        ++characters;
    }
    if (cut == name.size()) return std::nullopt;
    std::string directory = path.find('/') == std::string::npos ? std::string() : KQUDirectoryOfPath(path);
    std::string shortName = name.substr(0, cut);
    if (directory.empty()) return shortName;
    return directory == "/" ? "/" + shortName : directory + "/" + shortName;
}

}  // namespace

// MARK: - KQUDataRepresentation

std::shared_ptr<KQUBufferedInputStreamProtocol> KQUDataRepresentation::bufferedInputStream() const {
    return bufferedInputStreamWithBufferSize(KQUDataRepresentationBufferSize);
}

std::shared_ptr<KQUBufferedInputStreamProtocol> KQUDataRepresentation::bufferedInputStreamWithBufferSize(
    uint32_t size) const {
    auto stream = inputStream();
    if (!stream) return nullptr;
    return std::make_shared<KQUBufferedInputStream>(std::move(stream), size);
}

bool KQUDataRepresentation::hasSameLocationAs(const KQUDataRepresentation&) const {
    return false;
}

std::string KQUDataRepresentation::description() const {
    return fmt::format("<{} {}>", detail::demangledTypeName(typeid(*this)), static_cast<const void*>(this));
}

std::shared_ptr<KQUInputStream> KQUDataRepresentation::requireInputStream() const {
    auto stream = inputStream();
    if (!stream)
        throw KQUException(KQUDataRepresentationError, fmt::format("Could not open {}", description()));
    return stream;
}

std::shared_ptr<KQUBufferedInputStreamProtocol> KQUDataRepresentation::requireBufferedInputStream() const {
    auto stream = bufferedInputStream();
    if (!stream)
        throw KQUException(KQUDataRepresentationError, fmt::format("Could not open {}", description()));
    return stream;
}

uint32_t KQUDataRepresentation::hash() const {
    if (mHasHash.load(std::memory_order_acquire)) return mHash;
    std::lock_guard guard(KQUStripedLock(KQULockTable::KQUHashLocks, this));
    if (mHasHash.load(std::memory_order_relaxed)) return mHash;
    if (!isReadable()) return mHash;
    int64_t length = dataLength();
    char buffer[kHashedPrefixLength + 8];
    auto stream = requireInputStream();
    uint32_t n = stream->readToBuffer(buffer, kHashedPrefixLength);
    stream->close();
    for (int i = 0; i < 8; ++i) buffer[n + i] = static_cast<char>(static_cast<uint64_t>(length) >> (8 * i));
    mHash = KQUHash(buffer, n + 8);
    mHasHash.store(true, std::memory_order_release);
    return mHash;
}

bool KQUDataRepresentation::isEqual(const KQUDataRepresentation& other) const {
    if (this == &other) return true;
    int64_t length = dataLength();
    if (length != other.dataLength()) return false;
    if (hasSameLocationAs(other)) return true;
    if (!isReadable() || !other.isReadable()) return false;
    if (length == 0) return true;

    auto mine = requireBufferedInputStream();
    auto theirs = other.requireBufferedInputStream();
    const char* a = nullptr;
    const char* b = nullptr;
    uint32_t aLeft = 0, bLeft = 0;
    int64_t compared = 0;
    bool equal = true;
    while (compared < length) {
        if (aLeft == 0 && (aLeft = mine->readToOwnBuffer(&a, UINT32_MAX)) == 0) {
            equal = false;
            break;
        }
        if (bLeft == 0 && (bLeft = theirs->readToOwnBuffer(&b, UINT32_MAX)) == 0) {
            equal = false;
            break;
        }
        uint32_t n = static_cast<uint32_t>(std::min<int64_t>({aLeft, bLeft, length - compared}));
        if (std::memcmp(a, b, n) != 0) {
            equal = false;
            break;
        }
        a += n;
        b += n;
        aLeft -= n;
        bLeft -= n;
        compared += n;
    }
    mine->close();
    theirs->close();
    return equal;
}

xmlDocPtr KQUDataRepresentation::xmlDocument() const {
    auto stream = requireBufferedInputStream();
    struct CloseOnExit {
        KQUInputStream& stream;
        ~CloseOnExit() {
            try {
                stream.close();
            } catch (const std::exception& e) {
                KQULogError("Could not close the XML stream: {}", e.what());
            }
        }
    } closer{*stream};

    const char* chunk = nullptr;
    uint32_t n = stream->readToOwnBuffer(&chunk, KQUDataRepresentationBufferSize);
    std::unique_ptr<xmlParserCtxt, ParserContextDeleter> context(
        xmlCreatePushParserCtxt(nullptr, nullptr, chunk, static_cast<int>(n), nullptr));
    if (!context) throw KQUException(KQUDataRepresentationError, "xmlCreatePushParserCtxt() failed");
    // Errors become the exception below; libxml2 should not print them as well.
    xmlCtxtUseOptions(context.get(), XML_PARSE_NOERROR | XML_PARSE_NOWARNING);

    auto check = [&](int result) {
        if (!context->wellFormed)
            throw KQUException(KQUDataRepresentationError, "XML document is not well formed.");
        if (result != 0)
            throw KQUException(KQUDataRepresentationError, fmt::format("xmlParseChunk() failed: {}", result));
    };
    while ((n = stream->readToOwnBuffer(&chunk, KQUDataRepresentationBufferSize)) > 0)
        check(xmlParseChunk(context.get(), chunk, static_cast<int>(n), 0));
    check(xmlParseChunk(context.get(), nullptr, 0, 1));
    xmlDocPtr document = context->myDoc;
    context->myDoc = nullptr;
    return document;
}

xmlTextReaderPtr KQUDataRepresentation::xmlReader() const {
    void* context = KQUXmlReaderIOContext(requireInputStream());
    return xmlReaderForIO(KQUXmlReaderIORead, KQUXmlReaderIOClose, context, nullptr, nullptr, 0);
}

// MARK: - libxml2 input callbacks

void* KQUXmlReaderIOContext(std::shared_ptr<KQUInputStream> stream) {
    return std::make_unique<std::shared_ptr<KQUInputStream>>(std::move(stream)).release();
}

int KQUXmlReaderIORead(void* context, char* buffer, int length) {
    if (!context || length < 0) return -1;
    try {
        auto& stream = *static_cast<std::shared_ptr<KQUInputStream>*>(context);
        return static_cast<int>(stream->readToBuffer(buffer, static_cast<uint32_t>(length)));
    } catch (const KQUException& e) {
        KQULogError("Exception while reading XML: {}", e.reason());
    } catch (const std::exception& e) {
        KQULogError("Exception while reading XML: {}", e.what());
    } catch (...) {
        KQULogError("Exception while reading XML: {}", "unknown exception");
    }
    return -1;
}

int KQUXmlReaderIOClose(void* context) {
    std::unique_ptr<std::shared_ptr<KQUInputStream>> owned(
        static_cast<std::shared_ptr<KQUInputStream>*>(context));
    if (!owned) return 0;
    try {
        (*owned)->closeLocalStream();
    } catch (const std::exception& e) {
        KQULogError("Exception while closing XML input: {}", e.what());
        return -1;
    } catch (...) {
        return -1;
    }
    return 0;
}

// MARK: - KQUFileDataRepresentation

KQUFileDataRepresentation::KQUFileDataRepresentation(std::string path, int sharedFileDescriptor,
                                                     KQUCryptoKeyRef key, int64_t dataLength)
    : mPath(std::move(path)),
      mSharedFd(sharedFileDescriptor),
      mCryptoKey(std::move(key)),
      mDataLength(mCryptoKey ? dataLength : 0) {
    if (mPath.empty()) KQU_OBJECT_ASSERT_FAILURE("Invalid parameter not satisfying: {}", "path != nil");
    (void)this->path();
}

std::optional<std::string> KQUFileDataRepresentation::path() const {
    std::lock_guard guard(mLock);
    if (mPath.empty()) return std::nullopt;
    std::optional<std::string> answer;
    if (mFileReference) {
        auto current = KQUFileReferenceCurrentPath(*mFileReference);
        if (!current) {
            mFileReference.reset();
        } else if (*current != mPath) {
            // A file at the remembered path wins over the one that was renamed away.
            if (auto reference = KQUFileReferenceFromPath(mPath)) {
                mFileReference = std::move(reference);
                answer = mPath;
            } else {
                answer = std::move(current);
            }
        } else {
            answer = std::move(current);
        }
    }
    if (!answer) {
        std::string candidate = KQUPathByResolvingAlias(mPath).value_or(mPath);
        if (isAcceptableFile(candidate)) {
            answer = candidate;
        } else if (auto shortened = pathWithShortenedName(mPath); shortened && isAcceptableFile(*shortened)) {
            answer = std::move(shortened);
        }
        if (answer) mFileReference = KQUFileReferenceFromPath(*answer);
    }
    if (answer && *answer != mPath) mPath = *answer;
    return answer;
}

void KQUFileDataRepresentation::loadAttributes() const {
    if (mHasAttributes.load(std::memory_order_acquire)) return;
    auto currentPath = path();
    std::lock_guard guard(mLock);
    if (mHasAttributes.load(std::memory_order_relaxed)) return;
    struct stat st;
    bool found = currentPath ? ::stat(currentPath->c_str(), &st) == 0
                             : isUsableDescriptor(mSharedFd) && ::fstat(mSharedFd, &st) == 0;
    if (!found) return;
    mFileLength = static_cast<int64_t>(st.st_size);
    if (currentPath && !mHasFileType.load(std::memory_order_relaxed)) {
        if (auto type = KQUReadFileTypeCode(*currentPath)) mFileType.store(*type);
    }
    mHasAttributes.store(true, std::memory_order_release);
}

int64_t KQUFileDataRepresentation::encodedLength() const {
    loadAttributes();
    return mHasAttributes.load(std::memory_order_acquire) ? mFileLength : 0;
}

int64_t KQUFileDataRepresentation::dataLength() const {
    return mCryptoKey ? mDataLength : encodedLength();
}

bool KQUFileDataRepresentation::isCryptoKeyIdenticalToKey(const KQUCryptoKey* key) const {
    if (!mCryptoKey || !key) return !mCryptoKey && !key;
    if (mCryptoKey.get() == key) return true;
    auto a = mCryptoKey->keyBytes();
    auto b = key->keyBytes();
    return mCryptoKey->keyType() == key->keyType() && mCryptoKey->iterationCount() == key->iterationCount() &&
           std::equal(a.begin(), a.end(), b.begin());
}

uint32_t KQUFileDataRepresentation::fileType() const {
    loadAttributes();
    return mFileType.load();
}

void KQUFileDataRepresentation::setFileType(uint32_t fileType) {
    if (auto currentPath = path()) KQUWriteFileTypeCode(*currentPath, fileType);
    std::lock_guard guard(mLock);
    mFileType.store(fileType);
    mHasFileType.store(true);
}

std::shared_ptr<KQUInputStream> KQUFileDataRepresentation::inputStream() const {
    std::shared_ptr<KQUInputStream> stream;
    if (isUsableDescriptor(mSharedFd)) {
        stream = KQUFileInputStream::createWithFileDescriptor(KQUDup(mSharedFd), 0, encodedLength());
    } else if (auto currentPath = path()) {
        stream = KQUFileInputStream::create(*currentPath, 0, encodedLength());
    }
    if (stream && mCryptoKey) stream = std::make_shared<KQUCryptoInputStream>(std::move(stream), mCryptoKey);
    return stream;
}

bool KQUFileDataRepresentation::hasSameLocationAs(const KQUDataRepresentation& other) const {
    auto* file = dynamic_cast<const KQUFileDataRepresentation*>(&other);
    if (!file) return false;
    auto mine = path();
    auto theirs = file->path();
    return mine && theirs && *mine == *theirs;
}

bool KQUFileDataRepresentation::isInDirectory(const KQUFileReference& directory) const {
    auto currentPath = path();
    return currentPath && KQUDirectoryContainsFile(directory, *currentPath);
}

std::string KQUFileDataRepresentation::description() const {
    std::string currentPath;
    {
        std::lock_guard guard(mLock);
        currentPath = mPath;
    }
    return fmt::format("<KQUFileDataRepresentation {}: path {}>", static_cast<const void*>(this),
                       currentPath);
}

std::shared_ptr<KQUFileDataRepresentation> KQUFileDataRepresentation::createWithCopyOfData(
    const KQUDataRepresentationRef& data, const std::string& path, KQUCryptoKeyRef key) {
    if (!data) return nullptr;
    int64_t length = data->dataLength();
    if (auto* file = dynamic_cast<const KQUFileDataRepresentation*>(data.get())) {
        auto sourcePath = file->path();
        if (sourcePath && *sourcePath == path && file->isCryptoKeyIdenticalToKey(key.get()))
            return std::make_shared<KQUFileDataRepresentation>(path, key, length);
    }

    auto input = data->bufferedInputStream();
    if (!input)
        throw KQUException(KQUDataRepresentationError, fmt::format("Could not open {}", data->description()));
    // The copy goes to a new file beside the target, which replaces the target only once
    // it is complete: a failure leaves whatever was at the path untouched and removes
    // only the file this call made.
    auto file = std::make_shared<KQUAtomicOutputStream>(path);
    std::shared_ptr<KQUOutputStream> output = file;
    if (key) output = std::make_shared<KQUCryptoOutputStream>(output, key);
    const char* bytes = nullptr;
    int64_t copied = 0;
    while (uint32_t n = input->readToOwnBuffer(&bytes, UINT32_MAX)) {
        output->writeBuffer(bytes, n);
        copied += n;
    }
    input->close();
    output->close();
    if (copied != length)
        throw KQUException(KQUDataRepresentationError,
                           fmt::format("Copied {} bytes from {} where {} were expected", copied,
                                       data->description(), length));
    file->keep();
    return std::make_shared<KQUFileDataRepresentation>(path, key, length);
}

// MARK: - KQUMemoryDataRepresentation

KQUMemoryDataRepresentation::KQUMemoryDataRepresentation(KQUDataRef data)
    : mData(KQUSealedData(std::move(data))) {}

std::shared_ptr<KQUMemoryDataRepresentation> KQUMemoryDataRepresentation::createWithDataRepresentation(
    const KQUDataRepresentationRef& source) {
    if (!source) return nullptr;
    int64_t length = source->dataLength();
    if (length < 0 || static_cast<uint64_t>(length) >= (uint64_t{1} << 32))
        throw KQUException(KQUMemoryDataRepresentationError, "Attempted to load a storage that is too big");
    KQUData bytes;
    try {
        bytes.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        throw KQUException(KQUMemoryDataRepresentationError, "Could not allocate data");
    }
    auto stream = source->inputStream();
    if (!stream)
        throw KQUException(KQUMemoryDataRepresentationError,
                           fmt::format("Could not open {}", source->description()));
    int64_t done = 0;
    while (done < length) {
        uint32_t want = static_cast<uint32_t>(std::min<int64_t>(length - done, UINT32_MAX));
        uint32_t n = stream->readToBuffer(reinterpret_cast<char*>(bytes.data()) + done, want);
        if (n == 0) throw KQUException(KQUMemoryDataRepresentationError, "Couldn't read enough data");
        done += n;
    }
    stream->close();
    return std::make_shared<KQUMemoryDataRepresentation>(KQUMakeData(std::move(bytes)));
}

std::shared_ptr<KQUInputStream> KQUMemoryDataRepresentation::inputStream() const {
    return KQUMemoryInputStream::create(mData);
}

std::shared_ptr<KQUBufferedInputStreamProtocol> KQUMemoryDataRepresentation::bufferedInputStream() const {
    return KQUMemoryInputStream::create(mData);
}

std::shared_ptr<KQUBufferedInputStreamProtocol>
KQUMemoryDataRepresentation::bufferedInputStreamWithBufferSize(uint32_t) const {
    return KQUMemoryInputStream::create(mData);
}

bool KQUMemoryDataRepresentation::hasSameLocationAs(const KQUDataRepresentation& other) const {
    auto* memory = dynamic_cast<const KQUMemoryDataRepresentation*>(&other);
    return memory && memory->mData == mData;
}

}  // namespace kqu
