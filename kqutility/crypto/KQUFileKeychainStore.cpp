// The file store of KQUKeychainStore.h. The file is text: a first line "KQUKeychain 1",
// then one line per item of seven fields separated by single spaces: the item's
// identifier (a version-4 UUID), then the generic item, service, description, label,
// account and secret, each in lower-case hex (empty for no bytes), so that any bytes
// survive and a line never breaks.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fmt/format.h>
#include <openssl/crypto.h>

#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/crypto/KQUKeychainStore.h"
#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/foundation/KQUScopeExit.h"

namespace kqu {

namespace {

constexpr std::string_view kHeader = "KQUKeychain 1\n";
constexpr size_t kFieldCount = 7;
constexpr auto kLockTimeout = std::chrono::seconds(30);

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : mFd(fd) {}
    ~Descriptor() {
        if (mFd >= 0) ::close(mFd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return mFd; }

private:
    int mFd;
};

// Text that may hold secrets: wiped when it goes.
struct WipedText {
    std::string bytes;
    ~WipedText() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

// Appends in place, so that no unwiped temporary copy of a secret is made.
void appendHex(std::string& out, std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (unsigned char byte : bytes) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 15]);
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decodes hex into out (appending); false for odd lengths or other characters.
template <typename Sink>
bool decodeHex(std::string_view hex, Sink&& sink) {
    if (hex.size() % 2) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = hexDigit(hex[i]), low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        sink(static_cast<char>(high << 4 | low));
    }
    return true;
}

bool decodeText(std::string_view hex, std::string& out) {
    out.clear();
    return decodeHex(hex, [&](char c) { out.push_back(c); });
}

class FileItemReference : public KQUKeychainItemReference {
public:
    explicit FileItemReference(std::string id) : id(std::move(id)) {}
    std::string id;
};

class DirectoryLock : public KQUKeychainWriteLock {
public:
    DirectoryLock(int fd, int* heldBy) : mFd(fd), mHeldBy(heldBy) { *mHeldBy = fd; }
    ~DirectoryLock() override {
        *mHeldBy = -1;
        ::close(mFd);  // releases the flock
    }

private:
    int mFd;
    int* mHeldBy;
};

class FileKeychainStore : public KQUKeychainStore {
public:
    explicit FileKeychainStore(std::string path)
        : mPath(std::move(path)), mDirectory(KQUDirectoryOfPath(mPath)), mName(KQULastPathComponent(mPath)) {}

    std::string_view name() const override { return KQUKeychainFileStoreName; }

    bool checkUsable(KQUError* error) override {
        Descriptor directory(openDirectory(true, error));
        if (directory.get() < 0) return false;
        WipedText contents;
        return readFile(directory.get(), contents, error);
    }

    // Everything is in the one file: every scope reads it all.
    bool findItems(std::string_view genericItem, std::vector<KQUKeychainItem>* items, KQUError* error,
                   KQUKeychainFindScope) override {
        items->clear();
        Descriptor directory(openDirectory(false, error));
        if (directory.get() < 0) return errno == ENOENT;
        WipedText contents;
        if (!readFile(directory.get(), contents, error)) return false;
        std::string wanted;
        appendHex(wanted, genericItem);
        return forEachLine(contents.bytes, error, [&](std::string_view line, const std::string_view* fields) {
            if (fields[1] != wanted) return true;
            KQUKeychainItem item;
            bool ok = decodeText(fields[1], item.genericItem) && decodeText(fields[2], item.service) &&
                      decodeText(fields[3], item.description) && decodeText(fields[4], item.label) &&
                      decodeText(fields[5], item.account) &&
                      decodeHex(fields[6], [&](char c) { item.secret.append(c); });
            if (!ok) return damaged(line, error);
            item.reference = std::make_shared<FileItemReference>(std::string(fields[0]));
            items->push_back(std::move(item));
            return true;
        });
    }

    bool createItem(const KQUKeychainItem& item, KQUError* error) override {
        auto id = KQUCryptoUtils::generateVersion4Uuid();
        if (!id) {
            KQUSetKeychainError(error, KQUKeychainStoreFailedError, "No random bytes for a keychain item's identifier");
            return false;
        }
        return rewrite(error, [](std::string&, std::string_view) { return true; },
                       [&](std::string& out) { appendItem(out, KQUUuidString(*id), item); });
    }

    bool updateItem(const KQUKeychainItem& item, KQUError* error) override {
        const std::string& id = referenceId(item);
        bool found = false;
        bool ok = rewrite(
            error,
            [&](std::string& out, std::string_view itemId) {
                if (itemId != id) return true;
                appendItem(out, id, item);
                found = true;
                return false;
            },
            [](std::string&) {});
        return ok && foundOrFail(found, error);
    }

    bool removeItem(const KQUKeychainItem& item, KQUError* error) override {
        const std::string& id = referenceId(item);
        bool found = false;
        bool ok = rewrite(
            error,
            [&](std::string&, std::string_view itemId) {
                found = found || itemId == id;
                return itemId != id;
            },
            [](std::string&) {});
        return ok && foundOrFail(found, error);
    }

    std::unique_ptr<KQUKeychainWriteLock> lockForWriting(KQUError* error) override {
        if (mHeldLock >= 0) return std::make_unique<KQUKeychainWriteLock>();
        int fd = openDirectory(true, error);
        if (fd < 0) return nullptr;
        const auto deadline = std::chrono::steady_clock::now() + kLockTimeout;
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
                KQUSetKeychainError(error, KQUKeychainStoreFailedError,
                                    fmt::format("Could not lock {}: {}", mDirectory,
                                                errno == EWOULDBLOCK ? "another process holds it" : strerror(errno)));
                ::close(fd);
                return nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::make_unique<DirectoryLock>(fd, &mHeldLock);
    }

private:
    static const std::string& referenceId(const KQUKeychainItem& item) {
        static const std::string kNone;
        auto reference = dynamic_cast<const FileItemReference*>(item.reference.get());
        return reference ? reference->id : kNone;
    }

    bool foundOrFail(bool found, KQUError* error) const {
        if (!found)
            KQUSetKeychainError(error, KQUKeychainItemNotFoundError,
                                fmt::format("The keychain item is no longer in {}", mPath));
        return found;
    }

    bool refuse(KQUError* error, std::string why) const {
        KQUSetKeychainError(error, KQUKeychainFileStoreRefusedError, std::move(why));
        return false;
    }

    bool damaged(std::string_view, KQUError* error) const {
        return refuse(error, fmt::format("{} is not a keychain file of this library (or is damaged): move it away",
                                         mPath));
    }

    // The directory, opened without following a link and checked to be the user's alone.
    // With create, missing directories are made (0700); without, a missing one gives -1
    // with errno ENOENT and no error.
    int openDirectory(bool create, KQUError* error) const {
        if (create) {
            // Missing parents too ($XDG_DATA_HOME itself may not exist yet).
            std::string partial;
            for (size_t at = 1; at <= mDirectory.size(); ++at) {
                if (at < mDirectory.size() && mDirectory[at] != '/') continue;
                partial = mDirectory.substr(0, at);
                if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                    refuse(error, fmt::format("Could not make the keychain directory {}: {}", partial, strerror(errno)));
                    return -1;
                }
            }
        }
        int fd = ::open(mDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            int openError = errno;
            if (openError == ENOENT && !create) return -1;
            if (openError == ELOOP || openError == ENOTDIR)
                refuse(error, fmt::format("The keychain directory {} is not a directory (a symbolic link?): remove it "
                                          "or set XDG_DATA_HOME",
                                          mDirectory));
            else
                refuse(error, fmt::format("Could not open the keychain directory {}: {}", mDirectory,
                                          strerror(openError)));
            errno = openError == ENOENT ? EACCES : openError;
            return -1;
        }
        struct stat status {};
        if (::fstat(fd, &status) != 0 || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
            ::close(fd);
            refuse(error, fmt::format("The keychain directory {} must belong to you and be closed to others: chmod "
                                      "700 {}",
                                      mDirectory, mDirectory));
            errno = EACCES;
            return -1;
        }
        return fd;
    }

    // The file's bytes (empty when there is no file), after checking what it is.
    bool readFile(int directory, WipedText& contents, KQUError* error) const {
        Descriptor file(::openat(directory, mName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (file.get() < 0) {
            if (errno == ENOENT) return true;
            if (errno == ELOOP)
                return refuse(error, fmt::format("The keychain file {} is a symbolic link: replace it by the file "
                                                 "itself (mode 0600)",
                                                 mPath));
            return refuse(error, fmt::format("Could not open the keychain file {}: {}", mPath, strerror(errno)));
        }
        struct stat status {};
        if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
            return refuse(error, fmt::format("The keychain file {} is not a regular file: remove it", mPath));
        if (status.st_uid != ::geteuid())
            return refuse(error, fmt::format("The keychain file {} belongs to another user: remove it, or chown it to "
                                             "yourself after checking its contents",
                                             mPath));
        if ((status.st_mode & 07777) != 0600)
            return refuse(error, fmt::format("The keychain file {} has mode {:04o}, readable or writable by others or "
                                             "not by you: chmod 600 {}",
                                             mPath, status.st_mode & 07777, mPath));
        contents.bytes.resize(static_cast<size_t>(status.st_size));
        size_t done = 0;
        for (;;) {
            if (done == contents.bytes.size()) contents.bytes.resize(done + 4096);  // grew since fstat
            ssize_t n = ::read(file.get(), contents.bytes.data() + done, contents.bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return refuse(error, fmt::format("Could not read {}: {}", mPath, strerror(errno)));
            if (n == 0) break;
            done += static_cast<size_t>(n);
        }
        contents.bytes.resize(done);
        if (!contents.bytes.empty() && !contents.bytes.starts_with(kHeader)) return damaged({}, error);
        return true;
    }

    // Calls visit(line, fields) for each item line; false when a line is malformed or
    // visit answers false.
    template <typename Visit>
    bool forEachLine(std::string_view contents, KQUError* error, Visit&& visit) const {
        if (contents.empty()) return true;
        std::string_view rest = contents.substr(kHeader.size());
        std::string_view fields[kFieldCount];
        while (!rest.empty()) {
            size_t end = rest.find('\n');
            if (end == std::string_view::npos) return damaged(rest, error);
            std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end + 1);
            size_t count = 0, start = 0;
            for (size_t i = 0; i <= line.size(); ++i) {
                if (i < line.size() && line[i] != ' ') continue;
                if (count == kFieldCount) return damaged(line, error);
                fields[count++] = line.substr(start, i - start);
                start = i + 1;
            }
            if (count != kFieldCount || fields[0].empty()) return damaged(line, error);
            if (!visit(line, fields)) return false;
        }
        return true;
    }

    static void appendItem(std::string& out, std::string_view id, const KQUKeychainItem& item) {
        out += id;
        for (std::string_view field : {std::string_view(item.genericItem), std::string_view(item.service),
                                       std::string_view(item.description), std::string_view(item.label),
                                       std::string_view(item.account), item.secret.view()}) {
            out.push_back(' ');
            appendHex(out, field);
        }
        out.push_back('\n');
    }

    // Under the write lock: reads the file, copies each item line for which
    // keep(out, id) answers true (keep may write a replacement itself), then append(out),
    // and puts the result in place atomically with mode 0600.
    template <typename Keep, typename Append>
    bool rewrite(KQUError* error, Keep&& keep, Append&& append) {
        auto lock = lockForWriting(error);
        if (!lock) return false;
        Descriptor directory(openDirectory(true, error));
        if (directory.get() < 0) return false;
        WipedText contents, out;
        if (!readFile(directory.get(), contents, error)) return false;
        out.bytes.reserve(contents.bytes.size() + 256);
        out.bytes += kHeader;
        bool ok = forEachLine(contents.bytes, error, [&](std::string_view line, const std::string_view* fields) {
            if (keep(out.bytes, fields[0])) {
                out.bytes += line;
                out.bytes.push_back('\n');
            }
            return true;
        });
        if (!ok) return false;
        append(out.bytes);
        try {
            KQUAtomicOutputFile file(mPath, {.mode = 0600, .syncToDisk = true});
            // The umask may have taken bits the store insists on.
            if (::fchmod(file.fd(), 0600) != 0) KQUErrnoRaise("KQUKeychainError", mPath);
            file.write(out.bytes);
            file.keep();
        } catch (const KQUException& e) {
            KQUSetKeychainError(error, KQUKeychainStoreFailedError, e.reason());
            return false;
        }
        return true;
    }

    std::string mPath;
    std::string mDirectory;
    std::string mName;
    int mHeldLock = -1;  // the directory descriptor holding the flock, while a write lock lives
};

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

}  // namespace

std::string KQUDefaultKeychainFilePath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base = data && data[0] == '/' ? std::string(data) : homeDirectory() + "/.local/share";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/kqutility/keychain";
}

std::shared_ptr<KQUKeychainStore> KQUMakeFileKeychainStore(std::string path) {
    return std::make_shared<FileKeychainStore>(std::move(path));
}

}  // namespace kqu
