// Where kqu commands read and write whole files: "-" for standard input or output, and
// destinations written safely.
//
// KQUToolOutput decides how a destination path is written:
//   - "-": standard output;
//   - an existing character device, FIFO or socket (/dev/null, /dev/stdout, a named
//     pipe): opened and written directly, never removed or replaced, no --force needed;
//   - a regular file, or a path that does not exist yet: a KQUAtomicOutputFile (a new
//     unnamed file in the same directory, or a short hidden name where the file system
//     has no O_TMPFILE) that takes the destination's name only on commit(), so the
//     destination is either the old file or the complete new one. An existing file is
//     replaced only when asked to;
//   - a symbolic link to a regular file: the file it points to is replaced as above, and
//     the link stays;
//   - anything else (a directory, a block device, a dangling link) is refused.
// The new file gets its final mode from the start: 0600 for private data (decrypted
// plaintext), else the mode of the file it replaces (and, for root, its owner and group),
// else the requested mode, else 0666 under the umask. Errors name the user's path and
// carry the system's reason.
//
// Writers that need a path rather than a stream (the zip writer) use scratchPath(): a
// path naming the unnamed file, or for stdout and devices a scratch file in the
// temporary directory whose bytes commit() copies to the destination.
//
// Until commit() nothing is visible at the destination; destroying an uncommitted output
// removes what it made. Named temporary files are registered with the signal handlers
// that KQUInstallCleanupSignalHandlers installs, so SIGINT, SIGTERM and SIGHUP remove them
// too. One thread at a time.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "kqutility/streams/KQUStream.h"

namespace kqu::tool {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the registered temporary
// files and then end the process as the signal would have.
void KQUInstallCleanupSignalHandlers();

// Keeps path on the list the signal handlers remove, for as long as it lives.
class KQUCleanupRegistration {
public:
    KQUCleanupRegistration() = default;
    explicit KQUCleanupRegistration(const std::string& path) { registerPath(path); }
    ~KQUCleanupRegistration();
    KQUCleanupRegistration(const KQUCleanupRegistration&) = delete;
    KQUCleanupRegistration& operator=(const KQUCleanupRegistration&) = delete;
    // Puts path on the list (in place of any path registered before).
    void registerPath(const std::string& path);
    // Drops the path from the list without removing it.
    void release();

private:
    int mSlot = -1;
};

struct KQUToolOutputOptions {
    bool replace = false;             // --force: an existing regular file may be replaced
    bool privateData = false;         // always 0600 (plaintext from decryption)
    std::optional<mode_t> newMode{};  // for a new file (before the umask); else 0666
};

class KQUToolOutput {
public:
    enum class Kind { StandardOutput, Direct, File };

    // Checks the destination and makes the temporary file; throws KQUToolError.
    KQUToolOutput(const std::string& path, KQUToolOutputOptions options);
    ~KQUToolOutput();
    KQUToolOutput(const KQUToolOutput&) = delete;
    KQUToolOutput& operator=(const KQUToolOutput&) = delete;

    Kind kind() const { return mKind; }
    // The user's path, or "standard output".
    const std::string& name() const { return mName; }
    // Where a regular destination will appear (the link's target for a link).
    const std::string& finalPath() const { return mFinalPath; }

    // A stream writing to the destination (the temporary file for regular files).
    std::shared_ptr<KQUOutputStream> stream();
    // A path that a writer may open and write instead of using stream().
    std::string scratchPath();
    // Makes the written bytes the destination's. Throws KQUToolError naming the user's path.
    void commit();

private:
    void copyScratchToDestination();
    [[noreturn]] void rethrowForUser(const KQUAtomicOutputFileError& error) const;

    Kind mKind = Kind::File;
    KQUToolOutputOptions mOptions;
    std::string mName;
    std::string mFinalPath;
    std::optional<KQUAtomicOutputFile> mFile;  // for Kind::File
    int mFd = -1;                     // the destination (direct, stdout) or the atomic file's descriptor
    int mScratchFd = -1;              // scratch file for path writers going to stdout or a device
    KQUCleanupRegistration mCleanup;  // the atomic file's name, when it has one
    std::shared_ptr<KQUOutputStream> mStream;
    bool mCommitted = false;
};

// A buffered stream over the file at path, or over standard input for "-". Throws
// KQUToolError ("PATH: no such file", "PATH: not a regular file", "PATH: <reason>").
std::shared_ptr<KQUBufferedInputStreamProtocol> KQUToolOpenInput(const std::string& path,
                                                                 uint32_t bufferSize);

}  // namespace kqu::tool
