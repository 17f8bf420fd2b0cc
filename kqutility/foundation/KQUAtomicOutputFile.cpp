#include "kqutility/foundation/KQUAtomicOutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include <fmt/format.h>

#include "kqutility/foundation/KQUFileManager.h"

namespace kqu {
namespace {

constexpr const char* kErrorName = "KQUAtomicOutputFileError";

constexpr std::string_view kTemporaryPrefix = ".kqu-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// Eight hexadecimal digits that every temporary file for one target name shares, the same
// in every process (FNV-1a), so that a later writer of that target recognises debris.
std::string targetTag(std::string_view targetName) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : targetName) hash = (hash ^ c) * 16777619u;
    return fmt::format("{:08x}", hash);
}

std::string temporaryName(std::string_view tag) {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    return fmt::format("{}{}-{:08x}{}", kTemporaryPrefix, tag, generator() & 0xffffffffULL, kTemporarySuffix);
}

// Removes the temporary files an earlier writer of the same target left when it was
// killed: named for this target, regular, ours, and not locked by a live writer (every
// writer holds an exclusive flock on its temporary file until it is placed or removed).
void removeAbandonedTemporaries(int directoryFd, std::string_view tag) {
    int scanFd = ::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scanFd < 0) return;  // search-only directory: nothing can be listed
    DIR* directory = ::fdopendir(scanFd);
    if (!directory) {
        ::close(scanFd);
        return;
    }
    const size_t length = kTemporaryPrefix.size() + tag.size() + 1 + 8 + kTemporarySuffix.size();
    while (const dirent* entry = ::readdir(directory)) {
        std::string_view name = entry->d_name;
        if (name.size() != length || !name.starts_with(kTemporaryPrefix) ||
            name.substr(kTemporaryPrefix.size(), tag.size()) != tag || !name.ends_with(kTemporarySuffix))
            continue;
        int fd = ::openat(directoryFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(directoryFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(directory);
}

// Unnamed files are linked in through /proc; without it they cannot be kept.
bool canLinkUnnamedFiles() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

}  // namespace

KQUAtomicOutputFileError::KQUAtomicOutputFileError(std::string reason, int errorNumber)
    : KQUException(kErrorName, std::move(reason)), mErrorNumber(errorNumber) {}

KQUAtomicOutputFile::KQUAtomicOutputFile(std::string targetPath, KQUAtomicOutputFileOptions options)
    : mTarget(std::move(targetPath)), mTargetName(KQULastPathComponent(mTarget)), mOptions(options) {
    std::string directory = KQUDirectoryOfPath(mTarget);
    if (mTarget.empty() || mTargetName == "/" || mTargetName == "." || mTargetName == "..") fail(EINVAL);
    // Read access lets keep() fsync the directory; search access is enough for the rest.
    mDirectoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mDirectoryFd < 0) mDirectoryFd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (mDirectoryFd < 0) fail(errno);
    if (!mOptions.namedTemporary && canLinkUnnamedFiles()) {
        mFd = ::openat(mDirectoryFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mOptions.mode);
        if (mFd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
            int saved = errno;
            closeDescriptors();
            fail(saved);
        }
    }
    if (mFd < 0) createNamed(mOptions.mode);
    // Held until the file is placed or removed: the mark of a live writer.
    ::flock(mFd, LOCK_EX | LOCK_NB);
}

void KQUAtomicOutputFile::createNamed(mode_t mode) {
    std::string tag = targetTag(mTargetName);
    removeAbandonedTemporaries(mDirectoryFd, tag);
    for (;;) {
        mTemporaryName = temporaryName(tag);
        mFd = ::openat(mDirectoryFd, mTemporaryName.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (mFd >= 0) return;
        if (errno == EEXIST) continue;
        int saved = errno;
        mTemporaryName.clear();
        closeDescriptors();
        fail(saved);
    }
}

KQUAtomicOutputFile::KQUAtomicOutputFile(KQUAtomicOutputFile&& other) noexcept
    : mTarget(std::move(other.mTarget)),
      mTargetName(std::move(other.mTargetName)),
      mOptions(other.mOptions),
      mDirectoryFd(std::exchange(other.mDirectoryFd, -1)),
      mFd(std::exchange(other.mFd, -1)),
      mLockFd(std::exchange(other.mLockFd, -1)),
      mTemporaryName(std::move(other.mTemporaryName)),
      mDone(std::exchange(other.mDone, true)) {
    other.mTemporaryName.clear();
}

KQUAtomicOutputFile::~KQUAtomicOutputFile() {
    discard();
}

std::string KQUAtomicOutputFile::temporaryPath() const {
    if (mTemporaryName.empty()) return {};
    std::string directory = KQUDirectoryOfPath(mTarget);
    return directory == "/" ? "/" + mTemporaryName : directory + "/" + mTemporaryName;
}

void KQUAtomicOutputFile::fail(int errorNumber) const {
    throw KQUAtomicOutputFileError(fmt::format("Could not write {}: {}", mTarget, std::strerror(errorNumber)),
                                   errorNumber);
}

void KQUAtomicOutputFile::write(std::span<const std::byte> bytes) {
    if (mFd < 0) fail(EBADF);
    while (!bytes.empty()) {
        ssize_t n = ::write(mFd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(errno);
        if (n == 0) fail(EIO);
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
}

void KQUAtomicOutputFile::keep() {
    if (mDone || mFd < 0) fail(EBADF);
    try {
        if (!mTemporaryName.empty()) {
            // A writer given temporaryPath() may have replaced the file there: what is kept
            // is the file at that path, so the steps below act on it.
            int current = ::openat(mDirectoryFd, mTemporaryName.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
            if (current < 0) fail(errno);
            // The first descriptor keeps holding the lock until the file is in place.
            mLockFd = std::exchange(mFd, current);
        }
        if (mOptions.keepReplacedPermissions) {
            struct stat replaced;
            if (::fstatat(mDirectoryFd, mTargetName.c_str(), &replaced, 0) == 0) {
                if (::geteuid() == 0 && ::fchown(mFd, replaced.st_uid, replaced.st_gid) != 0) fail(errno);
                // After fchown, which clears set-id bits.
                if (::fchmod(mFd, replaced.st_mode & 07777) != 0) fail(errno);
            } else if (errno != ENOENT) {
                fail(errno);
            }
        }
        if (mOptions.syncToDisk && ::fsync(mFd) != 0) fail(errno);
        place();
    } catch (...) {
        discard();
        throw;
    }
    mDone = true;
    // Some file systems (NFS) report write errors only when the file is closed.
    int fd = std::exchange(mFd, -1);
    int closed = ::close(fd);
    int closeErrno = errno;
    if (mOptions.syncToDisk && mDirectoryFd >= 0) ::fsync(mDirectoryFd);  // EBADF for O_PATH: nothing to do
    closeDescriptors();
    if (closed != 0 && closeErrno != EINTR) fail(closeErrno);
}

void KQUAtomicOutputFile::place() {
    const bool replace = mOptions.replace == KQUReplaceMode::ReplaceExisting;
    if (mTemporaryName.empty()) {
        std::string procPath = fmt::format("/proc/self/fd/{}", mFd);
        if (!replace) {
            if (::linkat(AT_FDCWD, procPath.c_str(), mDirectoryFd, mTargetName.c_str(), AT_SYMLINK_FOLLOW) !=
                0)
                fail(errno);
            return;
        }
        // Give the file a name beside the target, then rename it over the target.
        for (;;) {
            std::string name = temporaryName(targetTag(mTargetName));
            if (::linkat(AT_FDCWD, procPath.c_str(), mDirectoryFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                mTemporaryName = std::move(name);
                break;
            }
            if (errno != EEXIST) fail(errno);
        }
    }
    if (replace) {
        if (::renameat(mDirectoryFd, mTemporaryName.c_str(), mDirectoryFd, mTargetName.c_str()) != 0)
            fail(errno);
    } else if (::renameat2(mDirectoryFd, mTemporaryName.c_str(), mDirectoryFd, mTargetName.c_str(),
                           RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) fail(errno);
        // File systems without the flag: a hard link fails just as atomically on EEXIST.
        if (::linkat(mDirectoryFd, mTemporaryName.c_str(), mDirectoryFd, mTargetName.c_str(), 0) != 0)
            fail(errno);
        ::unlinkat(mDirectoryFd, mTemporaryName.c_str(), 0);
    }
    mTemporaryName.clear();
}

void KQUAtomicOutputFile::discard() noexcept {
    if (mFd >= 0) ::close(std::exchange(mFd, -1));
    if (!mTemporaryName.empty() && mDirectoryFd >= 0) ::unlinkat(mDirectoryFd, mTemporaryName.c_str(), 0);
    mTemporaryName.clear();
    mDone = true;
    closeDescriptors();
}

void KQUAtomicOutputFile::closeDescriptors() noexcept {
    if (mFd >= 0) ::close(std::exchange(mFd, -1));
    if (mLockFd >= 0) ::close(std::exchange(mLockFd, -1));
    if (mDirectoryFd >= 0) ::close(std::exchange(mDirectoryFd, -1));
}

}  // namespace kqu
