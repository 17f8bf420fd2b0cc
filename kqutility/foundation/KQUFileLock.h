// An exclusive advisory lock for a program that rewrites a file: held from before it
// reads the file until its new version has been renamed into place, so that two such
// programs never both read the old version and one of their results is lost.
//
//     KQUError error;
//     auto lock = KQUFileLock::lockForRewriting(path, std::chrono::seconds(30), &error);
//     if (!lock) ... // error.code is ETIMEDOUT when another writer held it that long
//     ... read path, write the new version beside it, rename it over path ...
//     // the lock is released when `lock` goes
//
// The lock is flock(2) on the file itself. Since every rewrite replaces the file (a new
// inode), a waiter that gets the lock checks that path still names the file it locked
// and otherwise locks the new one. For a path that does not exist yet the lock is taken
// on its directory, and given up for the file's own as soon as the file appears. Only
// programs that take this lock are kept out; the writer classes themselves never block.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

class KQUFileLock {
public:
    // The lock, or nullptr with *error filled: ETIMEDOUT when another holder kept it for
    // the whole timeout (zero: try once), or the errno of a failed open.
    static std::unique_ptr<KQUFileLock> lockForRewriting(const std::string& path, std::chrono::milliseconds timeout,
                                                         KQUError* error = nullptr);
    ~KQUFileLock();
    KQUFileLock(const KQUFileLock&) = delete;
    KQUFileLock& operator=(const KQUFileLock&) = delete;

    // True when the lock is held on the file (false: on its directory, as it did not exist).
    bool locksExistingFile() const { return mLocksFile; }

private:
    KQUFileLock(int fd, bool locksFile) : mDescriptor(fd), mLocksFile(locksFile) {}
    int mDescriptor;
    bool mLocksFile;
};

}  // namespace kqu
