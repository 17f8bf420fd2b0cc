#include "tools/kqu/KQUToolOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>

#include <fmt/format.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {

// ---- Temporary files removed on SIGINT, SIGTERM and SIGHUP ----------------------------

namespace {

constexpr int kSlots = 16;
// A slot is 0 free, 1 being filled or emptied, 2 holding a path the handler removes.
std::array<std::atomic<int>, kSlots> sSlotState{};
char sSlotPath[kSlots][PATH_MAX];

extern "C" void removeTemporariesAndRaise(int signal) {
    for (int i = 0; i < kSlots; ++i)
        if (sSlotState[i].load() == 2) ::unlink(sSlotPath[i]);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string systemReason(int error) {
    return std::strerror(error);
}

}  // namespace

void KQUInstallCleanupSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndRaise;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        // A shell that started us with a signal ignored meant it to stay ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

void KQUCleanupRegistration::registerPath(const std::string& path) {
    release();
    if (path.size() >= PATH_MAX) return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!sSlotState[i].compare_exchange_strong(expected, 1)) continue;
        std::memcpy(sSlotPath[i], path.c_str(), path.size() + 1);
        sSlotState[i].store(2);
        mSlot = i;
        return;
    }
}

KQUCleanupRegistration::~KQUCleanupRegistration() {
    release();
}

void KQUCleanupRegistration::release() {
    if (mSlot < 0) return;
    sSlotState[mSlot].store(0);
    mSlot = -1;
}

// ---- Streams over descriptors ---------------------------------------------------------

namespace {

class FdOutputStream final : public KQUOutputStream {
public:
    FdOutputStream(int fd, std::string name) : mFd(fd), mName(std::move(name)) {}
    void writeBuffer(const char* buffer, uint32_t size) override {
        while (size > 0) {
            ssize_t n = ::write(mFd, buffer, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw KQUToolError(fmt::format("{}: {}", mName, systemReason(n < 0 ? errno : EIO)));
            buffer += n;
            size -= static_cast<uint32_t>(n);
            mOffset += n;
        }
    }
    int64_t offset() override { return mOffset; }
    bool canSeek() override { return false; }
    void seekToOffset(int64_t, int) override { throw KQUToolError(fmt::format("{}: cannot seek", mName)); }
    bool canCreateInputStream() override { return false; }
    std::shared_ptr<KQUInputStream> inputStream() override { return nullptr; }
    // The descriptor belongs to the KQUToolOutput.
    void close() override {}
    std::shared_ptr<KQUOutputStream> closeLocalStream() override { return nullptr; }

private:
    int mFd;
    std::string mName;
    int64_t mOffset = 0;
};

class FdInputStream final : public KQUInputStream {
public:
    FdInputStream(int fd, std::string name, bool owned) : mFd(fd), mName(std::move(name)), mOwned(owned) {}
    ~FdInputStream() override { close(); }
    uint32_t readToBuffer(char* buffer, uint32_t size) override {
        if (mFd < 0) return 0;
        for (;;) {
            ssize_t n = ::read(mFd, buffer, size);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw KQUToolError(fmt::format("{}: {}", mName, systemReason(errno)));
            mOffset += n;
            return static_cast<uint32_t>(n);
        }
    }
    int64_t offset() override { return mOffset; }
    bool canSeek() override { return false; }
    void seekToOffset(int64_t) override { throw KQUToolError(fmt::format("{}: cannot seek", mName)); }
    void disableSystemCaching() override {
        if (mFd >= 0) ::posix_fadvise(mFd, 0, 0, POSIX_FADV_NOREUSE);
    }
    void enableSystemCaching() override {}
    void close() override {
        if (mOwned && mFd >= 0) ::close(mFd);
        mFd = -1;
    }
    std::shared_ptr<KQUInputStream> closeLocalStream() override {
        close();
        return nullptr;
    }

private:
    int mFd;
    std::string mName;
    bool mOwned;
    int64_t mOffset = 0;
};

std::string randomHex() {
    std::random_device device;
    return fmt::format("{:08x}", device());
}

std::string procPath(int fd) {
    return fmt::format("/proc/self/fd/{}", fd);
}

// A new file in directory, created 0600: unnamed when the file system allows, else a
// short hidden name (which fits beside any name the directory can hold).
int createTemporary(const std::string& directory, std::string* namedPath) {
    int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        // The zip writer reopens its file by path; without /proc the unnamed file has none.
        if (::access(procPath(fd).c_str(), F_OK) == 0) return fd;
        ::close(fd);
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = directory + "/.kqu" + randomHex();
        fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            *namedPath = path;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

// ---- KQUToolOutput ----------------------------------------------------------------------

KQUToolOutput::KQUToolOutput(const std::string& path, KQUToolOutputOptions options)
    : mOptions(options), mName(path) {
    if (path == "-") {
        mKind = Kind::StandardOutput;
        mName = "standard output";
        mFd = STDOUT_FILENO;
        return;
    }
    struct stat status {};
    std::optional<struct stat> existing;
    mFinalPath = path;
    if (::lstat(path.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            if (::stat(path.c_str(), &status) != 0)
                throw KQUToolError(
                    fmt::format("{}: a symbolic link to nothing ({})", path, systemReason(errno)));
            if (S_ISREG(status.st_mode)) {
                char resolved[PATH_MAX];
                if (!::realpath(path.c_str(), resolved))
                    throw KQUToolError(fmt::format("{}: {}", path, systemReason(errno)));
                mFinalPath = resolved;
            }
        }
        if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
            mKind = Kind::Direct;
            mFd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (mFd < 0) throw KQUToolError(fmt::format("{}: {}", path, systemReason(errno)));
            return;
        }
        if (S_ISDIR(status.st_mode)) throw KQUToolError(fmt::format("{} is a directory", path));
        if (!S_ISREG(status.st_mode))
            throw KQUToolError(fmt::format("{}: not a regular file, character device or FIFO", path));
        if (!options.replace) throw KQUToolError(fmt::format("{} exists; use --force to replace it", path));
        existing = status;
    } else if (errno != ENOENT) {
        throw KQUToolError(fmt::format("{}: {}", path, systemReason(errno)));
    }

    // Private data is 0600 from the start; a file that replaces another is made 0600 and
    // takes the replaced file's mode (and for root its owner) when put in place.
    KQUAtomicOutputFileOptions atomic;
    atomic.mode = options.privateData || existing ? 0600 : options.newMode.value_or(0666) & 0777;
    atomic.replace = options.replace ? KQUReplaceMode::ReplaceExisting : KQUReplaceMode::NeverReplace;
    atomic.syncToDisk = true;
    atomic.keepReplacedPermissions = existing && !options.privateData;
    try {
        mFile.emplace(mFinalPath, atomic);
    } catch (const KQUAtomicOutputFileError& error) {
        rethrowForUser(error);
    }
    mFd = mFile->fd();
    if (auto named = mFile->temporaryPath(); !named.empty()) mCleanup.registerPath(named);
}

void KQUToolOutput::rethrowForUser(const KQUAtomicOutputFileError& error) const {
    if (error.errorNumber() == EEXIST)
        throw KQUToolError(fmt::format("{} exists; use --force to replace it", mName));
    throw KQUToolError(fmt::format("{}: {}", mName, systemReason(error.errorNumber())));
}

KQUToolOutput::~KQUToolOutput() {
    if (mScratchFd >= 0) ::close(mScratchFd);
    if (mKind == Kind::Direct && mFd >= 0) ::close(mFd);
    // An uncommitted atomic file removes itself.
}

std::shared_ptr<KQUOutputStream> KQUToolOutput::stream() {
    if (!mStream) mStream = std::make_shared<FdOutputStream>(mFd, mName);
    return mStream;
}

std::string KQUToolOutput::scratchPath() {
    if (mKind == Kind::File) {
        // The writer reopens the file by this path: the unnamed file through /proc.
        std::string named = mFile->temporaryPath();
        return named.empty() ? procPath(mFd) : named;
    }
    if (mScratchFd < 0) {
        const char* directory = std::getenv("TMPDIR");
        std::string named;
        mScratchFd = createTemporary(directory && *directory ? directory : "/tmp", &named);
        if (mScratchFd < 0)
            throw KQUToolError(
                fmt::format("cannot make a scratch file for {}: {}", mName, systemReason(errno)));
        if (!named.empty()) {
            // Still reachable through the descriptor; nothing is left behind.
            ::unlink(named.c_str());
        }
    }
    return procPath(mScratchFd);
}

void KQUToolOutput::copyScratchToDestination() {
    auto out = stream();
    std::vector<char> buffer(256 << 10);
    for (off_t at = 0;;) {
        ssize_t n = ::pread(mScratchFd, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw KQUToolError(fmt::format("scratch file for {}: {}", mName, systemReason(errno)));
        if (n == 0) break;
        out->writeBuffer(buffer.data(), static_cast<uint32_t>(n));
        at += n;
    }
}

void KQUToolOutput::commit() {
    if (mCommitted) return;
    auto fail = [&](int error) { throw KQUToolError(fmt::format("{}: {}", mName, systemReason(error))); };
    if (mKind != Kind::File) {
        if (mScratchFd >= 0) copyScratchToDestination();
        if (mKind == Kind::Direct) {
            int fd = mFd;
            mFd = -1;
            if (::close(fd) != 0) fail(errno);
        }
        mCommitted = true;
        return;
    }
    try {
        mFile->keep();
    } catch (const KQUAtomicOutputFileError& error) {
        rethrowForUser(error);
    }
    mCleanup.release();
    mCommitted = true;
}

std::shared_ptr<KQUBufferedInputStreamProtocol> KQUToolOpenInput(const std::string& path,
                                                                 uint32_t bufferSize) {
    std::shared_ptr<KQUInputStream> stream;
    if (path == "-") {
        stream = std::make_shared<FdInputStream>(STDIN_FILENO, "standard input", false);
    } else {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0)
            throw KQUToolError(errno == ENOENT ? fmt::format("{}: no such file", path)
                                               : fmt::format("{}: {}", path, systemReason(errno)));
        if (S_ISDIR(status.st_mode)) throw KQUToolError(fmt::format("{}: not a regular file", path));
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) throw KQUToolError(fmt::format("{}: {}", path, systemReason(errno)));
        stream = std::make_shared<FdInputStream>(fd, path, true);
    }
    stream->disableSystemCaching();
    return std::make_shared<KQUBufferedInputStream>(stream, bufferSize);
}

}  // namespace kqu::tool
