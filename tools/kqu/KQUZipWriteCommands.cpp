// kqu zip create / rm / info: writing and inspecting document packages.
//
//   kqu zip create [--store] [--encrypt] [--hint TEXT] ARCHIVE PATH...
//       packs files and directories (recursively; entry names relative to each PATH's
//       parent, directories as "name/" entries), deflated unless --store. With --encrypt
//       or --passphrase-file the package is encrypted under the passphrase, with a fresh
//       verifier and the hint. ARCHIVE appears only when complete; an existing ARCHIVE is
//       replaced only with --force.
//   kqu zip rm ARCHIVE NAME...
//       rewrites the package without the named entries and without free space left by
//       earlier saves, copying every kept entry as it is stored (no recompression; times,
//       modes and methods stay). Encrypted packages need the passphrase and keep their
//       hint and document UUID.
//   kqu zip info ARCHIVE
//       entry count, Zip64 or not, encrypted or not, the hint, free bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipArchiveOutputStream.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "tools/kqu/KQUPassphrase.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolOutput.h"
#include "tools/kqu/KQUZipToolSupport.h"

namespace kqu::tool {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kChunk = 256 << 10;

// A file or directory to pack, with its entry name.
struct Item {
    std::string name;
    std::string path;  // empty for a directory entry
};

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
        items.push_back({name + "/", ""});
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            children.push_back(it->path());
        if (error) throw KQUToolError(fmt::format("{}: {}", path.string(), error.message()));
        std::sort(children.begin(), children.end());
        for (const auto& child : children) collect(child, name + "/" + child.filename().string(), items);
        return;
    }
    if (fs::is_regular_file(status)) {
        items.push_back({name, path.string()});
        return;
    }
    fmt::print(stderr, "kqu: skipping {} (not a regular file or directory)\n", path.string());
}

void copyFileInto(KQUZipArchiveOutputStream& zip, const Item& item, bool store) {
    auto attributes = KQUAttributesOfItem(item.path);
    if (!attributes) throw KQUToolError(fmt::format("{}: no such file", item.path));
    auto size = static_cast<uint64_t>(attributes->size);
    zip.beginEntry(item.name, !store && size > 0, size);
    if (size == 0) return;
    auto file = KQUFileInputStream::create(item.path);
    if (!file) throw KQUToolError(fmt::format("{}: cannot read", item.path));
    file->disableSystemCaching();
    KQUBufferedInputStream input(file, kChunk);
    const char* bytes = nullptr;
    while (uint32_t n = input.readToOwnBuffer(&bytes, kChunk)) zip.writeBuffer(bytes, n);
    input.close();
}

KQUCryptoKeyRef keyForNewPackage(const KQUToolArguments& arguments) {
    bool encrypt = arguments.has("--encrypt") || arguments.value(KQUPassphraseFileOption).has_value();
    if (!encrypt) {
        if (arguments.value("--hint")) throw KQUToolError("--hint needs --encrypt or --passphrase-file");
        return nullptr;
    }
    uint32_t iterations = KQUToolIterationCount(arguments, KQUCurrentKeyDerivationIterationCount);
    auto passphrase = KQUToolPassphrase(arguments, true, KQUPassphrasePurpose::Create);
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase(*passphrase, iterations);
    KQUToolForgetPassphrase(*passphrase);
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

int runCreate(const KQUToolArguments& arguments) {
    const std::string& archivePath = arguments.operands[0];
    bool replace = arguments.has("--force");
    KQUToolOutput output(archivePath, {.replace = replace});
    std::vector<Item> items;
    for (size_t i = 1; i < arguments.operands.size(); ++i) {
        std::error_code error;
        fs::path path = fs::weakly_canonical(arguments.operands[i], error);
        if (error || !fs::exists(fs::symlink_status(arguments.operands[i], error)))
            throw KQUToolError(fmt::format("{}: no such file or directory", arguments.operands[i]));
        std::string name = path.filename().string();
        if (name.empty())
            throw KQUToolError(fmt::format("{}: cannot be packed (no name)", arguments.operands[i]));
        collect(arguments.operands[i], name, items);
    }
    std::set<std::string> seen;
    for (const auto& item : items)
        if (!seen.insert(item.name).second) throw KQUToolError(fmt::format("{}: given twice", item.name));

    auto key = keyForNewPackage(arguments);
    bool store = arguments.has("--store");
    writePackage(output, key, arguments.value("--hint"), [&](KQUZipArchiveOutputStream& zip) {
        for (const auto& item : items) {
            if (item.path.empty())
                zip.beginEntry(item.name, false, 0);
            else
                copyFileInto(zip, item, store);
        }
    });
    if (!arguments.has("--quiet") && output.kind() != KQUToolOutput::Kind::StandardOutput)
        fmt::print("created {} with {} entries{}\n", output.name(), items.size(), key ? " (encrypted)" : "");
    return 0;
}

int runRemove(const KQUToolArguments& arguments) {
    const std::string& archivePath = arguments.operands[0];
    auto archive = KQUToolOpenArchive(archivePath);
    std::set<std::string> removed(arguments.operands.begin() + 1, arguments.operands.end());
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
                throw KQUToolError(fmt::format("{}: wrong passphrase, or the entry {} is damaged", archivePath,
                                               KQUEscapedName(entry->name())));
            }
            break;
        }
    }
    size_t kept = entries.size();
    // The rewritten package keeps the mode (and for root the owner) of the one it replaces.
    KQUToolOutput output(archivePath, {.replace = true});
    writePackage(output, key, archive->passphraseHint(), [&](KQUZipArchiveOutputStream& zip) {
        if (archive->encryptedDocumentUuid())
            zip.setEncryptedDocumentUuid(
                KQUData(archive->encryptedDocumentUuid()->begin(), archive->encryptedDocumentUuid()->end()));
        for (const auto& entry : entries) zip.copyEntry(*entry);
    });
    if (!arguments.has("--quiet"))
        fmt::print("removed {} entr{} from {}; {} left\n", removed.size(), removed.size() == 1 ? "y" : "ies",
                   archivePath, kept);
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
                {KQUIterationsOption, "N", "PBKDF2 iterations for the new key (default: the library's current count)"},
                {"--hint", "TEXT", "a passphrase hint stored in the package (with --encrypt)"},
                {"--force", "", "replace ARCHIVE when it is an existing file"},
                {"--quiet", "", "print nothing on success"}},
    .minOperands = 2,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu zip create report.zip Report notes.txt",
    .details = "Directories are packed with everything in them, named from the PATH as given without its "
               "leading directories: 'zip create out.zip mat/docs' stores docs/... (a link to a directory is "
               "skipped). ARCHIVE may be '-' for standard output; a regular ARCHIVE appears only when complete.",
    .run = runCreate,
});
KQUToolRegistration removeCommand({
    .name = "zip rm",
    .operands = "ARCHIVE NAME...",
    .summary = "Remove entries from a document package",
    .options = {KQUPassphraseFileToolOption, {"--quiet", "", "print nothing on success"}},
    .minOperands = 2,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu zip rm report.zip Report/preview.bin",
    .details = "The kept entries are copied as they are stored (nothing is recompressed or decrypted; dates "
               "and modes stay) into a compact package that replaces the old one only when complete, keeping "
               "its permissions. Encrypted packages need the passphrase and keep their hint.",
    .run = runRemove,
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
