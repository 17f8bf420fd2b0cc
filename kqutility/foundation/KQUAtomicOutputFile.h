// KQUAtomicOutputFile writes a new file so that its target path shows either the old file
// or the complete new one, never a partial one. The bytes go to a temporary file beside the
// target, created with the requested mode from the start (open(..., mode): never a wider
// mode narrowed later); keep() flushes it and puts it in place; anything else (destruction
// without keep(), discard(), a failed keep()) removes it and leaves the target untouched.
//
//     KQUAtomicOutputFile out(path, {.mode = 0600, .replace = KQUReplaceMode::NeverReplace});
//     out.write(bytes);          // or ::write(out.fd(), ...), or KQUAtomicOutputStream
//     out.keep();                // path now holds the new file
//
// Where the file system allows it the temporary file is unnamed (O_TMPFILE): it has no
// directory entry until keep() links it in, so a process killed at any point leaves
// nothing behind. Elsewhere (or with namedTemporary) it is a file named ".kqu-", eight
// hexadecimal digits for the target's name, "-", eight random ones and ".tmp" in the
// target's directory: short and of fixed length, so targets with names of up to 255 bytes
// work. The writer holds an exclusive flock on it; a killed writer's file, left unlocked,
// is removed by the next writer of the same target that makes a named file.
//
// Errors throw KQUAtomicOutputFileError (name "KQUAtomicOutputFileError") whose reason
// names the user's target path and the system's error text, e.g.
// "Could not write /doc/a.txt: No space left on device"; errorNumber() gives errno.
//
// Ownership: the object owns its descriptor and its temporary file. Move-only. Threads:
// one thread at a time.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

enum class KQUReplaceMode {
    ReplaceExisting,  // keep() replaces a file at the target path
    NeverReplace,     // keep() fails with EEXIST when the target path exists (checked atomically)
};

struct KQUAtomicOutputFileOptions {
    mode_t mode = 0666;  // permission bits at creation; the umask applies as for open()
    KQUReplaceMode replace = KQUReplaceMode::ReplaceExisting;
    bool syncToDisk = false;  // keep() fsyncs the file and then its directory
    // keep() gives the new file the permission bits of the file it replaces and, when run
    // as root, its owner and group. Nothing changes when there is no file to replace.
    bool keepReplacedPermissions = false;
    // Always use a named temporary file, for writers that must open the file by path
    // themselves (temporaryPath()). keep() moves whatever file is at that path then.
    bool namedTemporary = false;
};

class KQUAtomicOutputFileError : public KQUException {
public:
    KQUAtomicOutputFileError(std::string reason, int errorNumber);
    int errorNumber() const noexcept { return mErrorNumber; }

private:
    int mErrorNumber;
};

class KQUAtomicOutputFile {
public:
    // Creates the temporary file in the target's directory (which must exist).
    explicit KQUAtomicOutputFile(std::string targetPath, KQUAtomicOutputFileOptions options = {});
    // Removes the temporary file unless keep() succeeded.
    ~KQUAtomicOutputFile();
    KQUAtomicOutputFile(KQUAtomicOutputFile&& other) noexcept;
    KQUAtomicOutputFile& operator=(KQUAtomicOutputFile&&) = delete;
    KQUAtomicOutputFile(const KQUAtomicOutputFile&) = delete;
    KQUAtomicOutputFile& operator=(const KQUAtomicOutputFile&) = delete;

    const std::string& targetPath() const { return mTarget; }
    // The temporary file's path, or empty while the file is unnamed.
    std::string temporaryPath() const;
    // The descriptor to write to (write-only, close-on-exec), -1 after keep() or discard().
    // Owned: do not close it.
    int fd() const { return mFd; }

    // Writes all bytes at the descriptor's position; throws on failure.
    void write(std::span<const std::byte> bytes);
    void write(std::string_view bytes) { write(std::as_bytes(std::span(bytes.data(), bytes.size()))); }

    // Flushes (fsync with syncToDisk) and puts the file in place; afterwards the object is
    // done. On failure the target is untouched, the temporary file removed, and the error
    // thrown.
    void keep();
    // Removes the temporary file now. Harmless when already kept or discarded.
    void discard() noexcept;

private:
    [[noreturn]] void fail(int errorNumber) const;
    void createNamed(mode_t mode);
    void place();
    void closeDescriptors() noexcept;

    std::string mTarget;
    std::string mTargetName;  // last component, relative to mDirectoryFd
    KQUAtomicOutputFileOptions mOptions;
    int mDirectoryFd = -1;
    int mFd = -1;
    int mLockFd = -1;  // the first descriptor, holding the flock, once keep() reopened the file
    std::string mTemporaryName;  // empty while unnamed
    bool mDone = false;
};

}  // namespace kqu
