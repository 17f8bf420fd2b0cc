// kqu zip list / cat / extract / test: reading document packages.
//
//   kqu zip list ARCHIVE          one line per entry: uncompressed size, compressed size,
//                                 method, CRC-32 (8 hex digits), name
//   kqu zip cat ARCHIVE NAME      the entry's bytes to standard output
//   kqu zip extract ARCHIVE DIR   every entry under DIR; names that are absolute or would
//                                 land outside DIR are refused
//   kqu zip test ARCHIVE          reads every entry to its end; one line per bad entry
//
// Encrypted packages need the passphrase (--passphrase-file FILE, KQU_PASSPHRASE or a
// prompt) for cat and extract; test checks encrypted entries' stored bytes without it.
// A malformed archive is reported on one line, with exit status 1.
#include <cstdio>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "tools/kqu/KQUPassphrase.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

std::string methodName(const KQUZipEntry& entry) {
    std::string name = entry.isCompressed() ? "deflated" : "stored";
    return entry.hasEncryptedMethod() ? name + "+encrypted" : name;
}

// Opens the archive, turning a malformed one into a one-line error that names it.
std::unique_ptr<KQUZipArchive> openArchive(const std::string& path) {
    auto attributes = KQUAttributesOfItem(path);
    if (!attributes) throw KQUToolError(fmt::format("{}: no such file", path));
    if (attributes->type != KQUFileType::Regular)
        throw KQUToolError(fmt::format("{}: not a regular file", path));
    try {
        return std::make_unique<KQUZipArchive>(path);
    } catch (const KQUException& e) {
        throw KQUToolError(fmt::format("{}: {}", path, e.reason()));
    }
}

bool needsKey(const KQUZipArchive& archive) {
    for (const auto& entry : archive.allEntries())
        if (entry->hasEncryptedMethod()) return true;
    return false;
}

// Gives the archive the key made from the user's passphrase, checked against the
// archive's verifier. With required false and no passphrase offered, nothing happens.
bool unlock(KQUZipArchive& archive, const KQUToolArguments& arguments, bool required) {
    auto passphrase = KQUToolPassphrase(arguments, required);
    if (!passphrase) return false;
    uint32_t iterations = KQUCurrentKeyDerivationIterationCount;
    const auto& verifier = archive.passphraseVerifier();
    if (verifier) iterations = KQUCryptoUtils::iterationCountFromPassphraseVerifier(*verifier);
    if (iterations == 0) throw KQUToolError("the package's passphrase verifier has an unsupported version");
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase(passphrase->view(), iterations);
    passphrase.reset();  // wiped
    if (!key) throw KQUToolError("could not derive a key from the passphrase");
    if (verifier && !KQUCryptoUtils::checkKey(key, *verifier)) throw KQUToolError("wrong passphrase");
    archive.setCryptoKey(std::move(key));
    return true;
}

// Where name lands under directory, or nullopt when it is absolute or climbs out.
std::optional<std::string> destinationFor(const std::string& directory, const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos) return std::nullopt;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") {
            if (parts.empty()) return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (parts.empty()) return std::nullopt;
    std::string path = directory;
    for (const auto& part : parts) path += "/" + part;
    return path;
}

void writeToStdout(const char* bytes, size_t n) {
    if (std::fwrite(bytes, 1, n, stdout) != n) throw KQUToolError("could not write to standard output");
}

int runList(const std::vector<std::string>& words) {
    auto arguments = KQUParseToolArguments(words, {}, {KQUPassphraseFileOption});
    KQURequireOperands(arguments, 1, 1, "zip list ARCHIVE");
    auto archive = openArchive(arguments.operands[0]);
    for (const auto& [name, entry] : [&] {
             std::vector<std::pair<std::string, std::shared_ptr<KQUZipEntry>>> rows;
             auto names = archive->allEntryNames();
             auto entries = archive->allEntries();
             for (size_t i = 0; i < names.size(); ++i) rows.emplace_back(names[i], entries[i]);
             return rows;
         }()) {
        fmt::print("{} {} {} {:08x} {}\n", entry->uncompressedSize(), entry->compressedSize(),
                   methodName(*entry), entry->crc(), name);
    }
    return 0;
}

int runCat(const std::vector<std::string>& words) {
    auto arguments = KQUParseToolArguments(words, {}, {KQUPassphraseFileOption});
    KQURequireOperands(arguments, 2, 2, "zip cat ARCHIVE NAME");
    const std::string& path = arguments.operands[0];
    auto archive = openArchive(path);
    auto entry = archive->entryWithName(arguments.operands[1]);
    if (!entry) throw KQUToolError(fmt::format("{}: no entry named {}", path, arguments.operands[1]));
    if (entry->hasEncryptedMethod()) unlock(*archive, arguments, true);
    try {
        auto stream = entry->bufferedInputStream();
        if (!stream)
            throw KQUToolError(fmt::format("{}: the local header of {} is missing", path, entry->name()));
        const char* bytes = nullptr;
        while (uint32_t n = stream->readToOwnBuffer(&bytes, UINT32_MAX)) writeToStdout(bytes, n);
        stream->close();
    } catch (const KQUException& e) {
        std::fflush(stdout);
        throw KQUToolError(fmt::format("{}: {}: {}", path, arguments.operands[1], e.reason()));
    }
    if (std::fflush(stdout) != 0) throw KQUToolError("could not write to standard output");
    return 0;
}

int runExtract(const std::vector<std::string>& words) {
    auto arguments = KQUParseToolArguments(words, {}, {KQUPassphraseFileOption});
    KQURequireOperands(arguments, 2, 2, "zip extract ARCHIVE DIR");
    const std::string& path = arguments.operands[0];
    std::string directory = arguments.operands[1];
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    auto archive = openArchive(path);
    if (needsKey(*archive)) unlock(*archive, arguments, true);
    KQUError error;
    if (!KQUCreateDirectory(directory, &error)) throw KQUToolError(error.description);
    int failures = 0;
    auto names = archive->allEntryNames();
    auto entries = archive->allEntries();
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        auto destination = destinationFor(directory, name);
        if (!destination) {
            fmt::print(stderr, "kqu: {}: refusing to extract {}: it would land outside {}\n", path, name,
                       directory);
            ++failures;
            continue;
        }
        try {
            if (name.back() == '/') {
                if (!KQUCreateDirectory(*destination, &error)) throw KQUToolError(error.description);
                continue;
            }
            if (!KQUCreateDirectory(KQUDirectoryOfPath(*destination), &error))
                throw KQUToolError(error.description);
            entries[i]->copyToFile(*destination);
        } catch (const KQUException& e) {
            fmt::print(stderr, "kqu: {}: {}: {}\n", path, name, e.reason());
            ++failures;
        } catch (const KQUToolError& e) {
            fmt::print(stderr, "kqu: {}: {}: {}\n", path, name, e.what());
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

int runTest(const std::vector<std::string>& words) {
    auto arguments = KQUParseToolArguments(words, {}, {KQUPassphraseFileOption});
    KQURequireOperands(arguments, 1, 1, "zip test ARCHIVE");
    const std::string& path = arguments.operands[0];
    auto archive = openArchive(path);
    bool haveKey = needsKey(*archive) && unlock(*archive, arguments, false);
    int bad = 0;
    auto names = archive->allEntryNames();
    auto entries = archive->allEntries();
    std::vector<char> buffer(262144);
    for (size_t i = 0; i < names.size(); ++i) {
        try {
            // Without the key, encrypted entries are checked as stored: their CRC-32 covers
            // the stored bytes.
            auto stream = entries[i]->hasEncryptedMethod() && !haveKey ? entries[i]->storedInputStream()
                                                                       : entries[i]->inputStream();
            if (!stream) throw KQUToolError("local file header record signature not found");
            while (stream->readToBuffer(buffer.data(), static_cast<uint32_t>(buffer.size())) != 0) {
            }
            stream->close();
        } catch (const KQUException& e) {
            fmt::print("{}: {}\n", names[i], e.reason());
            ++bad;
        } catch (const KQUToolError& e) {
            fmt::print("{}: {}\n", names[i], e.what());
            ++bad;
        }
    }
    std::fflush(stdout);
    return bad ? 1 : 0;
}

KQUToolRegistrar listRegistrar({"zip list", "zip list ARCHIVE",
                                "List entries: sizes, method, CRC-32 and name", runList});
KQUToolRegistrar catRegistrar({"zip cat", "zip cat [--passphrase-file FILE] ARCHIVE NAME",
                               "Write one entry's bytes to standard output", runCat});
KQUToolRegistrar extractRegistrar({"zip extract", "zip extract [--passphrase-file FILE] ARCHIVE DIR",
                                   "Extract every entry under DIR", runExtract});
KQUToolRegistrar testRegistrar({"zip test", "zip test [--passphrase-file FILE] ARCHIVE",
                                "Read every entry and report the damaged ones", runTest});

}  // namespace
}  // namespace kqu::tool
