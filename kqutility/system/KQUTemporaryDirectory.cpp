#include "kqutility/system/KQUTemporaryDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "kqutility/foundation/KQUValue.h"
#include "kqutility/system/KQUTemporaryDirectoryTesting.h"

namespace kqu {

namespace {

std::atomic<unsigned> sCounter{0};
std::mutex sHookLock;
std::optional<KQUTemporaryDirectoryTesting::Roots> sRoots;
std::function<void(int, const std::string&)> sRemovalHook;

constexpr unsigned kMaxNameAttempts = 1000;

std::string sanitized(std::string text) {
    for (char& c : text)
        if (c == '/' || c == '\0') c = '_';
    return text;
}

// text cut to at most limit bytes, never inside a UTF-8 character.
std::string cutUTF8(std::string text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

bool isWritableFolder(const std::string& path, struct stat* st) {
    return !path.empty() && ::stat(path.c_str(), st) == 0 && S_ISDIR(st->st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string defaultCacheFolder() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.cache";
    } else {
        return {};
    }
    return base + "/kqutility/tmp";
}

KQUTemporaryDirectoryTesting::Roots roots() {
    {
        std::lock_guard guard(sHookLock);
        if (sRoots) return *sRoots;
    }
    KQUTemporaryDirectoryTesting::Roots r;
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && *tmpdir) r.nearCandidates.emplace_back(tmpdir);
    r.nearCandidates.insert(r.nearCandidates.end(), {"/var/tmp", "/tmp"});
    r.cacheFolder = defaultCacheFolder();
    if (!r.cacheFolder.empty()) r.nearCandidates.push_back(r.cacheFolder);
    r.userCandidates.emplace_back(tmpdir && *tmpdir ? tmpdir : "/tmp");
    return r;
}

// Makes the cache folder and its missing parents; the last level with mode 0700.
bool makeCacheFolder(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (::mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (!isWritableFolder(path, &st)) {
        if (errno == 0) errno = EACCES;
        return false;
    }
    return true;
}

std::string findParent(const std::optional<std::string>& nearPath, uint32_t folderType) {
    const auto r = roots();
    const bool isTemp = folderType == KQUTemporaryFolderType;
    struct stat st;
    if (nearPath) {
        struct stat near;
        if (::stat(nearPath->c_str(), &near) != 0) {
            const int error = errno;  // KQULog takes its arguments by reference and may reset errno
            KQULog(10, "KQUTemporaryDirectory: Error {} trying to get FSRef to {}", error, *nearPath);
        } else {
            if (isTemp) {
                for (const auto& candidate : r.nearCandidates) {
                    if (candidate == r.cacheFolder && !makeCacheFolder(candidate)) continue;
                    if (isWritableFolder(candidate, &st) && st.st_dev == near.st_dev) {
                        KQULog(100, "KQUTemporaryDirectory: Found temp dir relative to {}", *nearPath);
                        return candidate;
                    }
                }
            }
            KQULog(10, "KQUTemporaryDirectory: Error {} from FSFindFolder({}) for the volume for {}", EXDEV,
                   folderType, *nearPath);
        }
    }
    if (isTemp) {
        for (const auto& candidate : r.userCandidates) {
            if (isWritableFolder(candidate, &st)) {
                KQULog(100, "KQUTemporaryDirectory: Found user-domain temp directory");
                return candidate;
            }
        }
    }
    const int userError = isTemp ? errno : ENOENT;
    KQULog(10, "KQUTemporaryDirectory: Error {} from FSFindFolder(kUserDomain, {})", userError, folderType);
    if (isTemp && makeCacheFolder(r.cacheFolder)) return r.cacheFolder;
    const int cacheError = isTemp ? errno : ENOENT;
    KQULog(10, "KQUTemporaryDirectory: Error {} trying to get FSRef to user's home directory", cacheError);
    return {};
}

// Removes everything inside the directory open as dirFd, following no link.
void removeContents(int dirFd, size_t depth) {
    int listFd = ::dup(dirFd);
    if (listFd < 0) return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    // (name, listed as a directory): d_type saves a failing unlink per directory; it is
    // only a hint, since the entry may be swapped before it is removed.
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") entries.emplace_back(name, entry->d_type == DT_DIR);
    }
    ::closedir(dir);
    for (const auto& [name, listedAsDirectory] : entries) {
        if (!listedAsDirectory) {
            if (::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) continue;
            if (errno != EISDIR && errno != EPERM) continue;
        }
        std::function<void(int, const std::string&)> hook;
        {
            std::lock_guard guard(sHookLock);
            hook = sRemovalHook;
        }
        if (hook) hook(dirFd, name);
        int child = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
            // Swapped for a link or a file meanwhile: unlink whatever is there now.
            if (errno == ELOOP || errno == ENOTDIR) ::unlinkat(dirFd, name.c_str(), 0);
            continue;
        }
        if (depth < 4096) removeContents(child, depth + 1);
        ::close(child);
        ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    }
}

}  // namespace

void KQUTemporaryDirectoryTesting::setRoots(std::optional<Roots> r) {
    std::lock_guard guard(sHookLock);
    sRoots = std::move(r);
}

void KQUTemporaryDirectoryTesting::setRemovalHook(std::function<void(int, const std::string&)> hook) {
    std::lock_guard guard(sHookLock);
    sRemovalHook = std::move(hook);
}

std::shared_ptr<KQUTemporaryDirectory> KQUTemporaryDirectory::create(std::optional<std::string> nearPath,
                                                                     std::string signature, uint32_t folderType) {
    std::shared_ptr<KQUTemporaryDirectory> directory(new KQUTemporaryDirectory());
    std::string parent = findParent(nearPath, folderType);
    if (parent.empty() || !directory->make(parent, signature)) {
        KQULog(1, "KQUTemporaryDirectory: Could not find ANY volume temporary folder.");
        return nullptr;
    }
    return directory;
}

bool KQUTemporaryDirectory::make(const std::string& parent, const std::string& signature) {
    mParentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mParentFd < 0) {
        const int error = errno;
        KQULog(10, "KQUTemporaryDirectory: Error {} trying to create temp folder {}", error, parent);
        return false;
    }
    static const std::string sPrefix =
        fmt::format("{}_{}", sanitized(KQUUserDefaults::applicationName()), static_cast<long>(::getpid()));
    const int64_t seconds = static_cast<int64_t>(std::time(nullptr)) - KQUUnixTimeOfReferenceDate;
    const std::string base = fmt::format("{}_{}_{}", sPrefix, sanitized(signature), seconds);
    for (unsigned attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        std::string suffix = fmt::format("_{}", ++sCounter);
        std::string name = cutUTF8(base, 255 - suffix.size()) + suffix;
        std::string path = parent + (parent.back() == '/' ? "" : "/") + name;
        if (::mkdirat(mParentFd, name.c_str(), 0700) != 0) {
            const int error = errno;
            if (error == EEXIST) continue;
            KQULog(10, "KQUTemporaryDirectory: Error {} trying to create temp folder {}", error, path);
            return false;
        }
        struct stat st;
        if (::fstatat(mParentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        mPath = std::move(path);
        mName = std::move(name);
        mDevice = st.st_dev;
        mInode = st.st_ino;
        mOwned = true;
        KQULog(100, "KQUTemporaryDirectory: Made {}", mPath);
        return true;
    }
    KQULog(10, "KQUTemporaryDirectory: Error {} trying to create temp folder {}", EEXIST, parent);
    return false;
}

KQUTemporaryDirectory::~KQUTemporaryDirectory() {
    if (mOwned) {
        KQULog(100, "KQUTemporaryDirectory: Removing dir {}", mPath);
        int fd = ::openat(mParentFd, mName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == mDevice && st.st_ino == mInode) {
            removeContents(fd, 0);
            ::unlinkat(mParentFd, mName.c_str(), AT_REMOVEDIR);
        } else {
            KQULog(10, "KQUTemporaryDirectory: Could not resolve temp FSRef to a path to remove.");
        }
        if (fd >= 0) ::close(fd);
    }
    if (mParentFd >= 0) ::close(mParentFd);
}

std::string KQUTemporaryDirectory::fileName() const { return mOwned ? mPath : std::string(); }

void KQUTemporaryDirectory::leakTemporaryDirectory() { mOwned = false; }

std::string KQUTemporaryDirectory::description() const {
    return fmt::format("{{KQUTemporaryDirectory {}, {}}}", static_cast<const void*>(this),
                       mOwned ? mPath : std::string("(null)"));
}

}  // namespace kqu
