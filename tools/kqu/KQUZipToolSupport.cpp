#include "tools/kqu/KQUZipToolSupport.h"

#include <cerrno>
#include <chrono>
#include <ctime>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "tools/kqu/KQUPassphrase.h"
#include "tools/kqu/KQUToolKeychain.h"
#include "tools/kqu/KQUToolOutput.h"

namespace kqu::tool {

std::unique_ptr<KQUZipArchive> KQUToolOpenArchive(const std::string& path) {
    if (path == "-") {
        // A package is read from its end, so standard input is read whole first.
        auto input = KQUToolOpenInput(path, 1 << 20);
        KQUData bytes;
        const char* chunk = nullptr;
        while (uint32_t n = input->readToOwnBuffer(&chunk, 1 << 20))
            bytes.insert(bytes.end(), chunk, chunk + n);
        try {
            return std::make_unique<KQUZipArchive>(KQUMakeData(std::move(bytes)));
        } catch (const KQUException& e) {
            throw KQUToolError(fmt::format("standard input: {}", e.reason()));
        }
    }
    auto attributes = KQUAttributesOfItem(path);
    if (!attributes) throw KQUToolError(fmt::format("{}: no such file", path));
    if (attributes->type != KQUFileType::Regular)
        throw KQUToolError(fmt::format("{}: not a regular file", path));
    if (!KQUIsReadableFile(path)) throw KQUToolError(fmt::format("{}: Permission denied", path));
    try {
        return std::make_unique<KQUZipArchive>(path);
    } catch (const KQUException& e) {
        throw KQUToolError(fmt::format("{}: {}", path, e.reason()));
    }
}

bool KQUToolArchiveNeedsKey(const KQUZipArchive& archive) {
    for (const auto& entry : archive.allEntries())
        if (entry->hasEncryptedMethod()) return true;
    return false;
}

KQUCryptoKeyRef KQUToolUnlockArchive(KQUZipArchive& archive, const KQUToolArguments& arguments,
                                     bool required) {
    const bool fromKeychain = arguments.has(KQUKeychainOption);
    auto passphrase = fromKeychain ? std::optional(KQUToolKeychainPassphrase(archive))
                                   : KQUToolPassphrase(arguments, required);
    if (!passphrase) return nullptr;
    KQUCryptoKeyRef key;
    const auto& verifier = archive.passphraseVerifier();
    if (verifier) {
        // The verifier's iteration count is checked against the limit before anything is derived.
        KQUVerifierKeyResult result = KQUVerifierKeyResult::Ok;
        key = KQUCryptoUtils::keyFromPassphraseForVerifier(passphrase->view(), *verifier, &result);
        switch (result) {
            case KQUVerifierKeyResult::Ok:
                break;
            case KQUVerifierKeyResult::UnsupportedVerifier:
                throw KQUToolError("the package's passphrase verifier has an unsupported version");
            case KQUVerifierKeyResult::IterationCountTooLarge:
                throw KQUToolError(fmt::format(
                    "the package asks for {} key-derivation iterations, more than the limit of {} (the user "
                    "default {})",
                    KQUCryptoUtils::iterationCountFromPassphraseVerifier(*verifier),
                    KQUCryptoUtils::maximumKeyDerivationIterationCount(),
                    KQUMaximumKeyDerivationIterationCountKey));
            case KQUVerifierKeyResult::DerivationFailed:
                throw KQUToolError("could not derive a key from the passphrase");
            case KQUVerifierKeyResult::WrongPassphrase:
                if (fromKeychain)
                    throw KQUToolError("the keychain's passphrase for the package is wrong (a stale item? store the "
                                       "right one with 'kqu keychain store')");
                throw KQUToolError("wrong passphrase");
        }
    } else {
        key = KQUCryptoKey::createAes128KeyFromPassphrase(passphrase->view(),
                                                          KQUCurrentKeyDerivationIterationCount);
        if (!key) throw KQUToolError("could not derive a key from the passphrase");
    }
    archive.setCryptoKey(key);
    return key;
}

std::unique_ptr<KQUFileLock> KQUToolLockPackage(const std::string& path) {
    // Devices and FIFOs are written, not rewritten (and opening a FIFO to lock it would wait
    // for a writer).
    if (path == "-") return nullptr;
    if (auto attributes = KQUAttributesOfItem(path); attributes && attributes->type != KQUFileType::Regular)
        return nullptr;
    KQUError error;
    auto lock = KQUFileLock::lockForRewriting(path, std::chrono::seconds(30), &error);
    if (!lock) {
        if (error.code == ETIMEDOUT)
            throw KQUToolError(fmt::format("{} is being written by another process", path));
        throw KQUToolError(fmt::format("{}: {}", path, error.description));
    }
    return lock;
}

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t utf8SequenceLength(std::string_view text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) code = (code << 6) | (byte(i + k) & 0x3F);
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code >= 0x80 && code <= 0x9F) return 0;  // C1 controls act on terminals too
    return length;
}

}  // namespace

std::string KQUEscapedName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80) {
            if (size_t length = utf8SequenceLength(name, i)) {
                out.append(name.substr(i, length));
                i += length;
                continue;
            }
        }
        ++i;
        switch (c) {
            case '\\':
                out += "\\\\";
                continue;
            case '\a':
                out += "\\a";
                continue;
            case '\b':
                out += "\\b";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\v':
                out += "\\v";
                continue;
            case '\f':
                out += "\\f";
                continue;
            case '\r':
                out += "\\r";
                continue;
            default:
                break;
        }
        if (c < 0x20 || c >= 0x7F)
            out += fmt::format("\\{:03o}", c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string KQUFormatDosTime(uint32_t dosTime) {
    auto t = KQUZipDecodeDosTime(dosTime);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}", t.year, t.month, t.day, t.hour, t.minute);
}

std::optional<int64_t> KQUDosTimeToUnixTime(uint32_t dosTime) {
    auto t = KQUZipDecodeDosTime(dosTime);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 59)
        return std::nullopt;
    std::tm broken{};
    broken.tm_year = t.year - 1900;
    broken.tm_mon = t.month - 1;
    broken.tm_mday = t.day;
    broken.tm_hour = t.hour;
    broken.tm_min = t.minute;
    broken.tm_sec = t.second;
    broken.tm_isdst = -1;
    std::time_t seconds = std::mktime(&broken);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(seconds);
}

std::optional<uint32_t> KQUEntryUnixMode(const KQUZipEntry& entry) {
    constexpr uint16_t kUnixHost = 3;
    uint32_t mode = entry.externalAttributes() >> 16;
    if ((entry.versionMadeBy() >> 8) != kUnixHost || mode == 0) return std::nullopt;
    return mode;
}

std::string KQUEntryMethodName(const KQUZipEntry& entry) {
    std::string name = entry.isCompressed() ? "deflated" : "stored";
    return entry.hasEncryptedMethod() ? name + "+encrypted" : name;
}

}  // namespace kqu::tool
