// kqu zip create / add / rm / info: writing document packages and describing them.
//
//   kqu zip create [--store] [--encrypt] [--remember] [--hint TEXT] ARCHIVE PATH...
//       packs files and directories (recursively; a relative PATH names its entries as
//       given, an absolute one by its last component), each entry with its file's time and
//       Unix mode, deflated unless --store or deflating would not make it smaller. With
//       --encrypt or --passphrase-file the package is encrypted under the passphrase, with a
//       fresh verifier, the hint and a new document UUID (version 4), under which
//       --remember stores the passphrase in the keychain. ARCHIVE appears only when complete; an existing
//       ARCHIVE is replaced only with --force.
//   kqu zip add ARCHIVE PATH...
//       adds or replaces entries; the others are copied as stored, and a replaced entry's
//       place is reused when the new data fits.
//   kqu zip rm ARCHIVE NAME...
//       rewrites the package without the named entries and without free space left by
//       earlier saves, copying every kept entry as it is stored (no recompression; times,
//       modes and methods stay). Encrypted packages need the passphrase and keep their
//       hint and document UUID.
//   kqu zip info ARCHIVE
//       entry count, Zip64 or not, encrypted or not, the hint, free bytes.
//
// Commands that rewrite a package hold its advisory lock (KQUFileLock) from before they
// read it until the new one is in place, and keep its mode (see KQUToolOutput).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <span>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "tools/kqu/KQUPassphrase.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolKeychain.h"
#include "tools/kqu/KQUToolOutput.h"
#include "tools/kqu/KQUToolProgress.h"
#include "tools/kqu/KQUZipToolSupport.h"

namespace kqu::tool {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kChunk = 256 << 10;

// A file or directory to pack, with its entry name.
struct Item {
    std::string name;
    std::string path;  // the file or directory on disk
};

// name + "/" + child, or child alone at the top of a "." operand.
std::string childName(const std::string& name, const std::string& child) {
    return name.empty() ? child : name + "/" + child;
}

void collect(const fs::path& path, const std::string& name, std::vector<Item>& items) {
    std::error_code error;
    auto status = fs::symlink_status(path, error);
    if (error) throw KQUToolError(fmt::format("{}: {}", path.string(), error.message()));
    if (fs::is_symlink(status)) {
        // Links to files are followed; links to directories are not (no cycles).
        auto target = fs::status(path, error);
        if (!error && fs::is_regular_file(target)) {
            items.push_back({name, path.string()});
        } else {
            fmt::print(stderr, "kqu: skipping {} (a link to a directory or to nothing)\n", path.string());
        }
        return;
    }
    if (fs::is_directory(status)) {
        if (!name.empty()) items.push_back({name + "/", path.string()});
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            children.push_back(it->path());
        if (error) throw KQUToolError(fmt::format("{}: {}", path.string(), error.message()));
        std::sort(children.begin(), children.end());
        for (const auto& child : children) collect(child, childName(name, child.filename().string()), items);
        return;
    }
    if (fs::is_regular_file(status)) {
        items.push_back({name, path.string()});
        return;
    }
    fmt::print(stderr, "kqu: skipping {} (not a regular file or directory)\n", path.string());
}

// The entry name for a path the user named: a relative path as given ("mat/docs" stays
// "mat/docs", "./x" is "x", "." packs the contents without a prefix); an absolute path or
// one that climbs ("..") by its last component.
std::string entryNameFor(const std::string& operand) {
    std::vector<std::string> parts;
    bool climbs = false;
    size_t start = 0;
    while (start <= operand.size()) {
        size_t slash = operand.find('/', start);
        std::string part =
            operand.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..")
            climbs = true;
        else if (!part.empty() && part != ".")
            parts.push_back(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (operand.front() == '/' || climbs) {
        std::error_code error;
        return fs::weakly_canonical(operand, error).filename().string();
    }
    std::string name;
    for (const auto& part : parts) name = childName(name, part);
    return name;
}

// The items for the operands, each name once.
std::vector<Item> collectOperands(std::span<const std::string> operands) {
    std::vector<Item> items;
    for (const auto& operand : operands) {
        std::error_code error;
        if (operand.empty() || !fs::exists(fs::symlink_status(operand, error)))
            throw KQUToolError(fmt::format("{}: no such file or directory", operand));
        std::string name = entryNameFor(operand);
        if (name.empty() && !fs::is_directory(operand))
            throw KQUToolError(fmt::format("{}: cannot be packed (no name)", operand));
        collect(operand, name, items);
    }
    std::set<std::string> seen;
    for (const auto& item : items) {
        if (KQUZipIsFreeSpaceEntryName(item.name))
            throw KQUToolError(fmt::format("{}: refused: the name {} is kept for the package's free space",
                                           item.path, KQUEscapedName(item.name)));
        if (!seen.insert(item.name).second)
            throw KQUToolError(fmt::format("{}: given twice", KQUEscapedName(item.name)));
    }
    return items;
}

// Whether deflating the file's bytes (as the writer does: raw deflate, level 8, memory
// level 9) makes them smaller. Stops as soon as the answer is sure: once the bytes saved
// so far exceed what deflate can add to the rest, the answer is yes.
bool deflatingShrinks(int fd, uint64_t size) {
    z_stream z{};
    if (deflateInit2(&z, 8, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return true;
    std::vector<unsigned char> in(kChunk), out(kChunk);
    uint64_t consumed = 0, produced = 0;
    bool shrinks = false, decided = false;
    for (off_t at = 0; !decided;) {
        ssize_t n = ::pread(fd, in.data(), in.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        at += n;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(n);
        int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result = Z_OK;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            result = deflate(&z, flush);
            produced += out.size() - z.avail_out;
        } while (z.avail_out == 0 ||
                 (flush == Z_FINISH && result != Z_STREAM_END && result != Z_STREAM_ERROR));
        consumed += static_cast<uint64_t>(n);
        if (n == 0) {
            shrinks = produced < consumed;
            decided = true;
        } else {
            // What deflate may still hold back (its window and pending block) plus the most it
            // can add to the bytes not read yet.
            uint64_t rest = size > consumed ? size - consumed : 0;
            uint64_t held = 2 * 65536 + 258;
            if (produced + held + deflateBound(&z, static_cast<uLong>(std::min<uint64_t>(rest, ULONG_MAX))) <
                consumed + rest) {
                shrinks = true;
                decided = true;
            }
        }
    }
    deflateEnd(&z);
    return shrinks;
}

// Adds the file or directory as an entry with its modification time and Unix mode,
// deflated unless store is set or deflating would not make it smaller.
void addItem(KQUZipArchiveOutputStream& zip, const Item& item, bool store, KQUToolProgress* progress = nullptr) {
    int fd = ::open(item.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw KQUToolError(fmt::format("{}: {}", item.path, std::strerror(errno)));
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        throw KQUToolError(fmt::format("{}: {}", item.path, std::strerror(errno)));
    }
    KQUZipEntryAttributes attributes{.dosTime = KQUZipDosTimeFromTime(status.st_mtime),
                                     .unixMode = static_cast<uint32_t>(status.st_mode)};
    if (S_ISDIR(status.st_mode)) {
        ::close(fd);
        zip.beginEntry(item.name, false, 0, attributes);
        return;
    }
    auto size = static_cast<uint64_t>(status.st_size);
    bool compress = !store && size > 0 && deflatingShrinks(fd, size);
    zip.beginEntry(item.name, compress, size, attributes);
    if (size == 0) {
        ::close(fd);
        return;
    }
    auto file = KQUFileInputStream::createWithFileDescriptor(fd, 0, static_cast<int64_t>(size));
    file->disableSystemCaching();
    KQUBufferedInputStream input(file, kChunk);
    const char* bytes = nullptr;
    uint64_t written = 0;
    while (uint32_t n = input.readToOwnBuffer(&bytes, kChunk)) {
        zip.writeBuffer(bytes, n);
        written += n;
        if (progress) progress->advance(n);
    }
    input.close();
    if (written != size) throw KQUToolError(fmt::format("{}: changed size while it was read", item.path));
}

// The key of a new package (nullptr when it is not to be encrypted); with --remember also
// the passphrase, kept (wiped when it goes) until the package exists.
KQUCryptoKeyRef keyForNewPackage(const KQUToolArguments& arguments, std::optional<KQUSecretBuffer>* remembered) {
    bool encrypt = arguments.has("--encrypt") || arguments.value(KQUPassphraseFileOption).has_value();
    if (!encrypt) {
        if (arguments.value("--hint")) throw KQUToolError("--hint needs --encrypt or --passphrase-file");
        if (arguments.has(KQURememberOption)) throw KQUToolError("--remember needs --encrypt or --passphrase-file");
        return nullptr;
    }
    uint32_t iterations = KQUToolIterationCount(arguments, KQUCurrentKeyDerivationIterationCount);
    // Before the passphrase is asked for: it is not worth typing when it cannot be kept.
    if (arguments.has(KQURememberOption)) KQUToolCheckKeychain();
    auto passphrase = KQUToolPassphrase(arguments, true, KQUPassphrasePurpose::Create);
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase(passphrase->view(), iterations);
    if (arguments.has(KQURememberOption)) *remembered = std::move(passphrase);
    passphrase.reset();  // wiped
    if (!key) throw KQUToolError("could not derive a key from the passphrase");
    return key;
}

// Writes the package into the destination's temporary file (see KQUToolOutput) and
// commits it when write() has finished; on any failure nothing appears at the destination.
template <typename Write>
void writePackage(KQUToolOutput& output, const KQUCryptoKeyRef& key, const std::optional<std::string>& hint,
                  Write write) {
    try {
        KQUZipArchiveOutputStream zip(output.scratchPath(), key, hint);
        write(zip);
        zip.close();
    } catch (const KQUException& e) {
        throw KQUToolError(fmt::format("{}: {}", output.name(), e.reason()));
    }
    output.commit();
}

// The bytes of the file at path (0 for directories and what cannot be read).
uint64_t sizeOfFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0;
}

int runCreate(const KQUToolArguments& arguments) {
    const std::string& archivePath = arguments.operands[0];
    bool replace = arguments.has("--force");
    KQUToolProgress progress(arguments, "zip create");
    auto lock = KQUToolLockPackage(archivePath);
    KQUToolOutput output(archivePath, {.replace = replace});
    std::vector<Item> items;
    {
        KQUToolProgress::Phase phase(progress, "collect");
        items = collectOperands(std::span(arguments.operands).subspan(1));
    }

    std::optional<KQUSecretBuffer> remembered;
    auto key = keyForNewPackage(arguments, &remembered);
    std::optional<std::array<uint8_t, 16>> documentUuid;
    if (key) {
        // Names the package for the keychain (and for applications that remember it).
        documentUuid = KQUCryptoUtils::generateVersion4Uuid();
        if (!documentUuid) throw KQUToolError("no random bytes for the document UUID");
    }
    bool store = arguments.has("--store");
    std::vector<uint64_t> sizes;
    for (const auto& item : items) sizes.push_back(sizeOfFile(item.path));
    uint64_t total = 0;
    for (uint64_t size : sizes) total += size;
    progress.begin(total);
    writePackage(output, key, arguments.value("--hint"), [&](KQUZipArchiveOutputStream& zip) {
        KQUToolProgress::Phase phase(progress, "write");
        if (documentUuid) zip.setEncryptedDocumentUuid(KQUData(documentUuid->begin(), documentUuid->end()));
        for (size_t i = 0; i < items.size(); ++i) {
            KQUToolProgress::Item entry(progress, sizes[i]);
            addItem(zip, items[i], store, &progress);
        }
    });
    progress.finish();
    if (remembered)
        KQUToolRememberPassphrase(remembered->view(),
                                  std::string_view(reinterpret_cast<const char*>(documentUuid->data()), 16),
                                  archivePath == "-" ? std::string("standard output")
                                                     : KQULastPathComponent(archivePath));
    if (!arguments.has("--quiet") && output.kind() != KQUToolOutput::Kind::StandardOutput)
        fmt::print("created {} with {} entries{}\n", output.name(), items.size(), key ? " (encrypted)" : "");
    return 0;
}

int runRemove(const KQUToolArguments& arguments) {
    const std::string& archivePath = arguments.operands[0];
    KQUToolProgress progress(arguments, "zip rm");
    auto lock = KQUToolLockPackage(archivePath);  // before reading: no other writer's result is lost
    auto archive = KQUToolOpenArchive(archivePath);
    std::set<std::string, std::less<>> removed(arguments.operands.begin() + 1, arguments.operands.end());
    for (const auto& name : removed)
        if (!archive->entryWithName(name))
            throw KQUToolError(fmt::format("{}: no entry named {}", archivePath, KQUEscapedName(name)));

    KQUCryptoKeyRef key;
    bool encrypted = false;
    for (const auto& entry : archive->allEntries()) encrypted = encrypted || entry->hasEncryptedMethod();
    if (encrypted || archive->isEncrypted()) key = KQUToolUnlockArchive(*archive, arguments, true);

    // Every kept entry is copied as it is stored, in file order: nothing is inflated,
    // decrypted or recompressed, and times, modes and methods stay. Removed entries and
    // free space left by earlier saves are not copied, so the result is compact.
    auto entries = archive->allEntries();
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a->localHeaderOffset() < b->localHeaderOffset();
    });
    std::erase_if(entries, [&](const auto& entry) {
        return KQUZipIsFreeSpaceEntryName(entry->name()) || removed.count(entry->name()) > 0;
    });
    if (key && !archive->passphraseVerifier()) {
        // Without a verifier only decrypting tells a wrong passphrase; raw copies would not.
        for (const auto& entry : entries) {
            if (!entry->hasEncryptedMethod()) continue;
            try {
                auto input = entry->inputStream();
                std::vector<char> buffer(kChunk);
                while (input && input->readToBuffer(buffer.data(), kChunk) > 0) {
                }
            } catch (const KQUException&) {
                throw KQUToolError(fmt::format("{}: wrong passphrase, or the entry {} is damaged",
                                               archivePath, KQUEscapedName(entry->name())));
            }
            break;
        }
    }
    size_t kept = entries.size();
    uint64_t total = 0;
    for (const auto& entry : entries) total += entry->compressedSize();
    progress.begin(total);
    // The rewritten package keeps the mode (and for root the owner) of the one it replaces.
    KQUToolOutput output(archivePath, {.replace = true});
    writePackage(output, key, archive->passphraseHint(), [&](KQUZipArchiveOutputStream& zip) {
        KQUToolProgress::Phase phase(progress, "copy");
        if (archive->encryptedDocumentUuid())
            zip.setEncryptedDocumentUuid(
                KQUData(archive->encryptedDocumentUuid()->begin(), archive->encryptedDocumentUuid()->end()));
        for (const auto& entry : entries) {
            KQUToolProgress::Item item(progress, entry->compressedSize());
            zip.copyEntry(*entry);
            progress.advance(entry->compressedSize());
        }
    });
    progress.finish();
    if (!arguments.has("--quiet"))
        fmt::print("removed {} entr{} from {}; {} left\n", removed.size(), removed.size() == 1 ? "y" : "ies",
                   archivePath, kept);
    return 0;
}

// Adds or replaces entries: every entry of the package is copied as it is stored, in file
// order; then the entries being replaced and the old free space are removed, which leaves
// free ranges where they were; then the new data is written. A replaced entry keeps its
// method, so a stored part that still fits lands where the old one was and the file
// keeps its size; anything else goes to the end, and the space it left stays free for a
// later save.
int runAdd(const KQUToolArguments& arguments) {
    const std::string& archivePath = arguments.operands[0];
    auto lock = KQUToolLockPackage(archivePath);  // before reading: no other writer's result is lost
    auto archive = KQUToolOpenArchive(archivePath);
    auto items = collectOperands(std::span(arguments.operands).subspan(1));
    KQUCryptoKeyRef key;
    if (KQUToolArchiveNeedsKey(*archive) || archive->isEncrypted())
        key = KQUToolUnlockArchive(*archive, arguments, true);

    auto entries = archive->allEntries();
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a->localHeaderOffset() < b->localHeaderOffset();
    });
    std::map<std::string, std::shared_ptr<KQUZipEntry>> existing;
    for (const auto& entry : entries) existing.emplace(entry->name(), entry);
    bool store = arguments.has("--store");
    size_t added = 0, replaced = 0;
    KQUToolOutput output(archivePath, {.replace = true});
    writePackage(output, key, archive->passphraseHint(), [&](KQUZipArchiveOutputStream& zip) {
        if (archive->encryptedDocumentUuid())
            zip.setEncryptedDocumentUuid(
                KQUData(archive->encryptedDocumentUuid()->begin(), archive->encryptedDocumentUuid()->end()));
        std::set<std::string> toFree;
        for (const auto& item : items)
            if (existing.count(item.name) && item.name.back() != '/') toFree.insert(item.name);
        std::vector<std::string> holes;
        for (const auto& entry : entries) {
            std::string name(entry->name());
            bool freed = KQUZipIsFreeSpaceEntryName(name) || toFree.count(name);
            // A hole too small to be covered by a free-space entry is not worth keeping.
            uint64_t footprint = KQUZipArchiveOutputStream::approximateBytesForEntryHeaderWithName(name) +
                                 entry->compressedSize();
            if (freed && footprint < 64) continue;
            zip.copyEntry(*entry);
            if (freed) holes.push_back(name);
        }
        for (const auto& name : holes) zip.removeEntry(name);
        for (const auto& item : items) {
            auto old = existing.find(item.name);
            if (old != existing.end() && item.name.back() == '/') continue;  // the directory is there
            bool keepStored = old != existing.end() && !old->second->isCompressed();
            addItem(zip, item, store || keepStored);
            ++(old != existing.end() ? replaced : added);
        }
    });
    if (!arguments.has("--quiet"))
        fmt::print("added {} and replaced {} entr{} in {}\n", added, replaced, replaced == 1 ? "y" : "ies",
                   archivePath);
    return 0;
}

// Whether the archive ends with a Zip64 end record and locator before its end record.
bool usesZip64(const std::string& path) {
    auto attributes = KQUAttributesOfItem(path);
    if (!attributes) return false;
    int64_t length = attributes->size;
    int64_t window = std::min<int64_t>(
        length, KQUZipEndOfCentralDirectoryMaxSize + KQUZip64EndOfCentralDirectoryLocatorSize);
    auto file = KQUFileInputStream::create(path, length - window, window);
    if (!file) return false;
    std::vector<uint8_t> tail(static_cast<size_t>(window));
    uint32_t got = file->readToBuffer(reinterpret_cast<char*>(tail.data()), static_cast<uint32_t>(window));
    file->close();
    tail.resize(got);
    for (int64_t at = static_cast<int64_t>(tail.size()) - KQUZipEndOfCentralDirectoryFixedSize; at >= 0;
         --at) {
        auto end = KQUZipDecodeEndOfCentralDirectory(std::span(tail).subspan(static_cast<size_t>(at)));
        if (!end || static_cast<size_t>(at) + KQUZipEndOfCentralDirectoryFixedSize + end->commentLength !=
                        tail.size())
            continue;
        if (at < KQUZip64EndOfCentralDirectoryLocatorSize) return false;
        return KQUZipHasSignature(
            std::span(tail).subspan(static_cast<size_t>(at) - KQUZip64EndOfCentralDirectoryLocatorSize),
            KQUZip64EndOfCentralDirectoryLocatorSignature);
    }
    return false;
}

int runInfo(const KQUToolArguments& arguments) {
    const std::string& archivePath = arguments.operands[0];
    auto archive = KQUToolOpenArchive(archivePath);
    uint64_t freeBytes = 0, freeEntries = 0;
    try {
        for (const auto& entry : archive->allEntries()) {
            if (!KQUZipIsFreeSpaceEntryName(entry->name())) continue;
            ++freeEntries;
            uint64_t dataOffset =
                entry->isReadable() ? entry->backingFileDataOffset() : entry->localHeaderOffset();
            freeBytes += dataOffset - entry->localHeaderOffset() + entry->compressedSize();
        }
    } catch (const KQUException& e) {
        throw KQUToolError(fmt::format("{}: {}", archivePath, e.reason()));
    }
    fmt::print("entries: {}\n", archive->entryCount() - freeEntries);
    fmt::print("free-space entries: {}\n", freeEntries);
    fmt::print("free bytes: {}\n", freeBytes);
    fmt::print("zip64: {}\n", usesZip64(archivePath) ? "yes" : "no");
    fmt::print("encrypted: {}\n", archive->isEncrypted() ? "yes" : "no");
    if (archive->passphraseHint())
        fmt::print("hint: {}\n", *archive->passphraseHint());
    else
        fmt::print("hint: (none)\n");
    return 0;
}

KQUToolRegistration createCommand({
    .name = "zip create",
    .operands = "ARCHIVE PATH...",
    .summary = "Pack files and directories into a document package",
    .options = {{"--store", "", "store entries without compressing them"},
                {"--encrypt", "", "encrypt the package with a passphrase (asked for unless given otherwise)"},
                KQUPassphraseFileToolOption,
                KQURememberToolOption,
                {KQUIterationsOption, "N",
                 "PBKDF2 iterations for the new key (default: the library's current count)"},
                {"--hint", "TEXT", "a passphrase hint stored in the package (with --encrypt)"},
                {"--force", "", "replace ARCHIVE when it is an existing file"},
                {"--quiet", "", "print nothing on success"}},
    .minOperands = 2,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu zip create report.zip Report notes.txt",
    .details =
        "Directories are packed with everything in them. Entries are named by the PATH as given when "
        "it is relative ('mat/docs' stores mat/docs/..., '.' the contents without a prefix), by its last "
        "component when it is absolute or climbs with '..'. Each entry keeps its file's modification time "
        "and Unix mode; an entry that deflating would not make smaller is stored. ARCHIVE may be '-' for "
        "standard output; a regular ARCHIVE appears only when complete.",
    .run = runCreate,
});
KQUToolRegistration removeCommand({
    .name = "zip rm",
    .operands = "ARCHIVE NAME...",
    .summary = "Remove entries from a document package",
    .options = {KQUPassphraseFileToolOption, KQUKeychainToolOption, {"--quiet", "", "print nothing on success"}},
    .minOperands = 2,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu zip rm report.zip Report/preview.bin",
    .details = "The kept entries are copied as they are stored (nothing is recompressed or decrypted; dates "
               "and modes stay) into a compact package that replaces the old one only when complete, keeping "
               "its permissions. Encrypted packages need the passphrase and keep their hint.",
    .run = runRemove,
});
KQUToolRegistration addCommand({
    .name = "zip add",
    .operands = "ARCHIVE PATH...",
    .summary = "Add files and directories to a package, replacing entries of the same name",
    .options = {KQUPassphraseFileToolOption,
                {"--store", "", "store the new entries without compressing them"},
                {"--quiet", "", "print nothing on success"}},
    .minOperands = 2,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu zip add report.zip Report/index.xml",
    .details =
        "Entries are named as by 'zip create'. The other entries are copied as they are stored. A "
        "replaced entry keeps its method; when the new data fits in the old entry's place it goes there "
        "and the rest of the place becomes free space, so the file does not grow. Encrypted packages "
        "need the passphrase; the new entries are encrypted too.",
    .run = runAdd,
});
KQUToolRegistration infoCommand({
    .name = "zip info",
    .operands = "ARCHIVE",
    .summary = "Entry count, free space, Zip64, encryption and hint of a package",
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu zip info report.zip",
    .details = "ARCHIVE may be '-' for standard input. Entries are counted without the free-space entries, "
               "which are counted apart with the bytes they hold.",
    .run = runInfo,
});

}  // namespace
}  // namespace kqu::tool
