#include "kqutility/foundation/KQUFileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "kqutility/foundation/KQUFileManager.h"

namespace kqu {

namespace {

bool sameFile(int fd, const std::string& path) {
    struct stat held {}, named {};
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

}  // namespace

std::unique_ptr<KQUFileLock> KQUFileLock::lockForRewriting(const std::string& path, std::chrono::milliseconds timeout,
                                                           KQUError* error) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    auto pause = std::chrono::milliseconds(2);
    for (;;) {
        bool locksFile = true;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0 && errno == ENOENT) {
            std::string directory = KQUDirectoryOfPath(path);
            locksFile = false;
            fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0) {
            KQUSetPOSIXError(error, errno, path);
            return nullptr;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // The holder before us may have replaced the file, or created it.
            bool stillRight = locksFile ? sameFile(fd, path) : !KQUFileExists(path);
            if (stillRight) return std::unique_ptr<KQUFileLock>(new KQUFileLock(fd, locksFile));
            close(fd);
            continue;
        }
        int lockError = errno;
        close(fd);
        if (lockError != EWOULDBLOCK && lockError != EINTR) {
            KQUSetPOSIXError(error, lockError, path);
            return nullptr;
        }
        if (Clock::now() >= deadline) {
            KQUSetPOSIXError(error, ETIMEDOUT, path);
            return nullptr;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

KQUFileLock::~KQUFileLock() {
    close(mDescriptor);  // releases the flock
}

}  // namespace kqu
