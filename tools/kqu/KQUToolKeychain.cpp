#include "tools/kqu/KQUToolKeychain.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "kqutility/crypto/KQUKeychainUtils.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"

namespace kqu::tool {
namespace {

constexpr size_t kFileItemLength = 16;

KQUKeychainStore& processStore() {
    KQUError error;
    auto store = KQUKeychainStore::processStore(&error);
    if (!store) throw KQUToolError(fmt::format("keychain: {}", error.description));
    return *store;
}

}  // namespace

std::string KQUToolFileKeychainItem(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw KQUToolError(fmt::format("{}: {}", path, std::strerror(errno)));
    std::string bytes(kFileItemLength, '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done < kFileItemLength)
        throw KQUToolError(fmt::format("{}: shorter than the {} bytes that name its keychain item", path,
                                       kFileItemLength));
    return bytes;
}

void KQUToolCheckKeychain() {
    KQUError error;
    if (!processStore().checkUsable(&error))
        throw KQUToolError(fmt::format("keychain: {} (nothing was written)", error.description));
}

KQUSecretBuffer KQUToolKeychainPassphrase(std::string_view genericItem, std::string_view what) {
    KQUError error;
    KQUSecretBuffer passphrase;
    if (KQUKeychainUtils::lookupGenericItem(processStore(), genericItem, nullptr, &passphrase, &error))
        return passphrase;
    if (error.code == KQUKeychainItemNotFoundError)
        throw KQUToolError(fmt::format("{}: the keychain holds no passphrase for it (item {})", what,
                                       KQUKeychainHexString(genericItem)));
    throw KQUToolError(fmt::format("keychain: {}", error.description));
}

KQUSecretBuffer KQUToolKeychainPassphrase(const KQUZipArchive& archive) {
    const auto& uuid = archive.encryptedDocumentUuid();
    if (!uuid || uuid->empty())
        throw KQUToolError(fmt::format("the package has no document UUID, so no keychain item names it"));
    return KQUToolKeychainPassphrase(std::string_view(reinterpret_cast<const char*>(uuid->data()), uuid->size()),
                                     "the package");
}

void KQUToolRememberPassphrase(std::string_view passphrase, std::string_view genericItem, std::string_view name) {
    KQUError error;
    bool stored = false;
    try {
        stored = KQUKeychainUtils::setPassphrase(processStore(), passphrase, genericItem, "kqu",
                                                 "document passphrase", fmt::format("kqu: {}", name),
                                                 KQUToolLoginName(), &error);
    } catch (const KQUException& e) {
        error.description = e.reason();
    }
    if (!stored) throw KQUToolError(fmt::format("keychain: the passphrase was not remembered: {}", error.description));
}

std::string KQUToolLoginName() {
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name) return entry->pw_name;
    if (const char* user = std::getenv("USER"); user && *user) return user;
    return std::to_string(::geteuid());
}

std::string KQUToolKeychainTarget(const std::string& target) {
    if (target.starts_with("hex:")) {
        std::string_view digits = std::string_view(target).substr(4);
        std::string bytes;
        auto value = [](char c) {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        for (size_t i = 0; i + 1 < digits.size(); i += 2) {
            int high = value(digits[i]), low = value(digits[i + 1]);
            if (high < 0 || low < 0) break;
            bytes.push_back(static_cast<char>(high << 4 | low));
        }
        if (digits.empty() || bytes.size() * 2 != digits.size())
            throw KQUToolUsageError(fmt::format("'{}': hex: needs an even number of hexadecimal digits", target));
        return bytes;
    }
    auto attributes = KQUAttributesOfItem(target);
    if (!attributes) throw KQUToolError(fmt::format("{}: no such file", target));
    if (attributes->type != KQUFileType::Regular) throw KQUToolError(fmt::format("{}: not a regular file", target));
    std::unique_ptr<KQUZipArchive> archive;
    try {
        archive = std::make_unique<KQUZipArchive>(target);
    } catch (const KQUException&) {
        return KQUToolFileKeychainItem(target);  // not a package: an encrypted file, named by its IV
    }
    const auto& uuid = archive->encryptedDocumentUuid();
    if (!uuid || uuid->empty())
        throw KQUToolError(fmt::format("{}: the package has no document UUID, so no keychain item names it", target));
    return std::string(reinterpret_cast<const char*>(uuid->data()), uuid->size());
}

}  // namespace kqu::tool
