// kqu zip list / cat / extract / test: reading document packages.
//
// Names are printed with control characters escaped (KQUEscapedName) everywhere except in
// the bytes `zip cat` writes. Free-space entries (".QlTrash/...") are the package's
// unused space, not content: list shows them only with --all, extract skips them, test
// counts them apart. Encrypted packages need the passphrase (--passphrase-file FILE,
// KQU_PASSPHRASE or a prompt) for cat and extract; test without it checks the stored
// bytes and says which entries' contents it could not check.
//
// extract resolves every directory beneath the target without following symbolic links
// (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS, else component by component with
// O_NOFOLLOW), writes each file as a new unnamed file in its directory and gives it its
// name only when complete, so an existing link is replaced and never written through,
// and an existing file is replaced only with --force.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "kqutility/zip/KQUZipHeaderCheck.h"
#include "tools/kqu/KQUPassphrase.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolProgress.h"
#include "tools/kqu/KQUToolOutput.h"
#include "tools/kqu/KQUToolKeychain.h"
#include "tools/kqu/KQUZipToolSupport.h"

namespace kqu::tool {
namespace {

constexpr uint32_t kChunk = 256 << 10;

struct Row {
    std::string name;
    std::shared_ptr<KQUZipEntry> entry;
    bool isFreeSpace;
};

std::vector<Row> rowsOf(const KQUZipArchive& archive) {
    std::vector<Row> rows;
    auto names = archive.allEntryNames();
    auto entries = archive.allEntries();
    for (size_t i = 0; i < names.size(); ++i)
        rows.push_back({names[i], entries[i], KQUZipIsFreeSpaceEntryName(entries[i]->name())});
    return rows;
}

// ---- list ---------------------------------------------------------------------------------

// How much smaller the stored bytes are, as unzip -v shows it (negative when larger).
std::string ratioOf(uint64_t length, uint64_t stored) {
    if (length == 0) return "0%";
    double saved = 100.0 * (1.0 - static_cast<double>(stored) / static_cast<double>(length));
    auto rounded = static_cast<long long>(saved < 0 ? saved - 0.5 : saved + 0.5);
    return fmt::format("{}%", rounded);
}

int runList(const KQUToolArguments& arguments) {
    auto archive = KQUToolOpenArchive(arguments.operands[0]);
    bool all = arguments.has("--all");
    bool verbose = arguments.has("--verbose");
    if (arguments.has("--porcelain")) {
        if (verbose) throw KQUToolUsageError("--porcelain and --verbose exclude each other");
        for (const auto& row : rowsOf(*archive))
            if (all || !row.isFreeSpace)
                fmt::print("{} {} {} {:08x} {}\n", row.entry->uncompressedSize(), row.entry->compressedSize(),
                           KQUEntryMethodName(*row.entry), row.entry->crc(), KQUEscapedName(row.name));
        return 0;
    }
    uint64_t length = 0, stored = 0, count = 0;
    if (verbose)
        fmt::print(
            "   Length  Method                  Size  Cmpr  Date       Time   CRC-32    Name\n"
            "---------  ------------------ ---------  ----  ---------- -----  --------  ----\n");
    else
        fmt::print("   Length  Date       Time   Name\n---------  ---------- -----  ----\n");
    for (const auto& row : rowsOf(*archive)) {
        if (row.isFreeSpace && !all) continue;
        const auto& e = *row.entry;
        ++count;
        length += e.uncompressedSize();
        stored += e.compressedSize();
        if (verbose)
            fmt::print("{:>9}  {:<18} {:>9} {:>4}  {}  {:08x}  {}\n", e.uncompressedSize(),
                       KQUEntryMethodName(e), e.compressedSize(),
                       ratioOf(e.uncompressedSize(), e.compressedSize()), KQUFormatDosTime(e.dosTime()),
                       e.crc(), KQUEscapedName(row.name));
        else
            fmt::print("{:>9}  {}  {}\n", e.uncompressedSize(), KQUFormatDosTime(e.dosTime()),
                       KQUEscapedName(row.name));
    }
    std::string entries = fmt::format("{} entr{}", count, count == 1 ? "y" : "ies");
    if (verbose)
        fmt::print(
            "---------                     ---------  ----                              -------\n"
            "{:>9}                     {:>9} {:>4}                              {}\n",
            length, stored, ratioOf(length, stored), entries);
    else
        fmt::print("---------                     -------\n{:>9}                     {}\n", length, entries);
    return 0;
}

// ---- cat ----------------------------------------------------------------------------------

int runCat(const KQUToolArguments& arguments) {
    const std::string& path = arguments.operands[0];
    const std::string& name = arguments.operands[1];
    auto archive = KQUToolOpenArchive(path);
    auto entry = archive->entryWithName(name);
    if (!entry) throw KQUToolError(fmt::format("{}: no entry named {}", path, KQUEscapedName(name)));
    if (entry->hasEncryptedMethod()) KQUToolUnlockArchive(*archive, arguments, true);
    try {
        auto stream = entry->inputStream();
        if (!stream)
            throw KQUToolError(
                fmt::format("{}: the local header of {} is missing", path, KQUEscapedName(name)));
        std::vector<char> buffer(kChunk);
        while (uint32_t n = stream->readToBuffer(buffer.data(), kChunk))
            if (std::fwrite(buffer.data(), 1, n, stdout) != n)
                throw KQUToolError(fmt::format("standard output: {}", std::strerror(errno)));
        stream->close();
    } catch (const KQUException& e) {
        std::fflush(stdout);
        throw KQUToolError(fmt::format("{}: {}: {}", path, KQUEscapedName(name), e.reason()));
    }
    if (std::fflush(stdout) != 0)
        throw KQUToolError(fmt::format("standard output: {}", std::strerror(errno)));
    return 0;
}

// ---- extract ------------------------------------------------------------------------------

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : mFd(fd) {}
    ~Fd() {
        if (mFd >= 0) ::close(mFd);
    }
    Fd(Fd&& other) noexcept : mFd(other.mFd) { other.mFd = -1; }
    Fd& operator=(Fd&& other) noexcept {
        std::swap(mFd, other.mFd);
        return *this;
    }
    int get() const { return mFd; }

private:
    int mFd = -1;
};

// The components of name, or empty when it is absolute, climbs out or has none.
std::vector<std::string> componentsOf(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return {};
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") {
            if (parts.empty()) return {};
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) path += (i ? "/" : "") + parts[i];
    return path.empty() ? "." : path;
}

// Opens the first count components of parts beneath root as a directory, creating the
// missing ones, following no symbolic link. Throws KQUToolError with the reason.
Fd openDirectoryBeneath(int root, const std::vector<std::string>& parts, size_t count) {
    struct open_how how {};
    how.flags = O_DIRECTORY | O_RDONLY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    std::string path = joined(parts, count);
    long fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
    if (fd >= 0) return Fd(static_cast<int>(fd));
    if (errno == ELOOP || errno == EXDEV)
        throw KQUToolError(fmt::format("refused: a symbolic link is in the way at {}", KQUEscapedName(path)));
    if (errno == ENOTDIR)
        throw KQUToolError(fmt::format("refused: a file is in the way at {}", KQUEscapedName(path)));
    // Missing directories (or a kernel without openat2): one component at a time.
    Fd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (size_t i = 0; i < count; ++i) {
        const std::string& part = parts[i];
        if (::mkdirat(current.get(), part.c_str(), 0777) != 0 && errno != EEXIST)
            throw KQUToolError(
                fmt::format("{}: {}", KQUEscapedName(joined(parts, i + 1)), std::strerror(errno)));
        int next = ::openat(current.get(), part.c_str(), O_DIRECTORY | O_NOFOLLOW | O_RDONLY | O_CLOEXEC);
        if (next < 0) {
            int error = errno;
            struct stat status {};
            bool isLink = ::fstatat(current.get(), part.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(status.st_mode);
            std::string where = KQUEscapedName(joined(parts, i + 1));
            if (isLink)
                throw KQUToolError(fmt::format("refused: a symbolic link is in the way at {}", where));
            if (error == ENOTDIR)
                throw KQUToolError(fmt::format("refused: a file is in the way at {}", where));
            throw KQUToolError(fmt::format("{}: {}", where, std::strerror(error)));
        }
        current = Fd(next);
    }
    return current;
}

std::string shortName() {
    std::random_device device;
    return fmt::format(".kqu{:08x}", device());
}

struct ExtractOptions {
    bool force = false;
    bool quiet = false;
    mode_t umask = 022;
    KQUToolProgress* progress = nullptr;
};

// The permission bits for an extracted entry.
mode_t modeFor(const KQUZipEntry& entry, bool isDirectory, const ExtractOptions& options) {
    auto recorded = KQUEntryUnixMode(entry);
    mode_t mode =
        recorded && !S_ISLNK(*recorded) ? (*recorded & 0777) : ((isDirectory ? 0777 : 0666) & ~options.umask);
    if (isDirectory) mode |= 0700;  // the owner must be able to fill and walk it
    // Plaintext out of an encrypted package is for the user alone.
    if (entry.hasEncryptedMethod() && !isDirectory) mode = (mode & 0700) | 0600;
    return mode;
}

void setTimes(int fd, const KQUZipEntry& entry) {
    auto seconds = KQUDosTimeToUnixTime(entry.dosTime());
    if (!seconds) return;
    struct timespec times[2] = {{*seconds, 0}, {*seconds, 0}};
    ::futimens(fd, times);
}

void writeAll(int fd, const char* bytes, size_t n, const std::string& shown) {
    for (size_t done = 0; done < n;) {
        ssize_t w = ::write(fd, bytes + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(w < 0 ? errno : EIO)));
        done += static_cast<size_t>(w);
    }
}

// Writes the entry as the file leaf in directory. Throws KQUToolError.
void extractFile(const KQUZipEntry& entry, int directory, const std::string& leaf, const std::string& shown,
                 const ExtractOptions& options) {
    struct stat existing {};
    bool exists = ::fstatat(directory, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(existing.st_mode)) throw KQUToolError(fmt::format("{} is a directory", shown));
    if (exists && !options.force)
        throw KQUToolError(fmt::format("{} exists; use --force to replace it", shown));

    std::string fallbackName;
    Fd file(::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(errno)));
        // No unnamed files here: remove what is there, then create afresh, never through a link.
        if (exists && ::unlinkat(directory, leaf.c_str(), 0) != 0)
            throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(errno)));
        file =
            Fd(::openat(directory, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() < 0) throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(errno)));
        fallbackName = leaf;
    }
    try {
        try {
            auto stream = entry.inputStream();
            if (!stream) throw KQUToolError("local file header record signature not found");
            std::vector<char> buffer(kChunk);
            while (uint32_t n = stream->readToBuffer(buffer.data(), kChunk)) {
                writeAll(file.get(), buffer.data(), n, shown);
                if (options.progress) options.progress->advance(n);
            }
            stream->close();
        } catch (const KQUException& e) {
            throw KQUToolError(e.reason());
        }
        auto recorded = KQUEntryUnixMode(entry);
        if (recorded && S_ISLNK(*recorded) && !options.quiet) {
            if (options.progress) options.progress->erase();
            fmt::print(stderr,
                       "kqu: {} is a symbolic link in the package; extracted as a file holding its target\n",
                       shown);
        }
        if (::fchmod(file.get(), modeFor(entry, false, options)) != 0)
            throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(errno)));
        setTimes(file.get(), entry);
        if (!fallbackName.empty()) return;
        std::string source = fmt::format("/proc/self/fd/{}", file.get());
        if (!exists) {
            if (::linkat(AT_FDCWD, source.c_str(), directory, leaf.c_str(), AT_SYMLINK_FOLLOW) != 0)
                throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(errno)));
            return;
        }
        // Replacing: a short name first, then a rename that replaces the old name itself
        // (a link there is replaced, not followed).
        std::string temporary = shortName();
        if (::linkat(AT_FDCWD, source.c_str(), directory, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
            throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(errno)));
        if (::renameat(directory, temporary.c_str(), directory, leaf.c_str()) != 0) {
            int error = errno;
            ::unlinkat(directory, temporary.c_str(), 0);
            throw KQUToolError(fmt::format("{}: {}", shown, std::strerror(error)));
        }
    } catch (...) {
        if (!fallbackName.empty()) ::unlinkat(directory, fallbackName.c_str(), 0);
        throw;
    }
}

int runExtract(const KQUToolArguments& arguments) {
    const std::string& path = arguments.operands[0];
    KQUToolProgress progress(arguments, "zip extract");
    std::string target = arguments.operands.size() > 1 ? arguments.operands[1] : ".";
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    auto archive = KQUToolOpenArchive(path);
    if (KQUToolArchiveNeedsKey(*archive)) KQUToolUnlockArchive(*archive, arguments, true);
    ExtractOptions options;
    options.force = arguments.has("--force");
    options.quiet = arguments.has("--quiet");
    options.umask = ::umask(0);
    ::umask(options.umask);
    options.progress = &progress;

    KQUError error;
    if (!KQUCreateDirectory(target, &error)) throw KQUToolError(error.description);
    Fd root(::open(target.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC));
    if (root.get() < 0) throw KQUToolError(fmt::format("{}: {}", target, std::strerror(errno)));

    struct DirectoryEntry {
        std::vector<std::string> parts;
        std::shared_ptr<KQUZipEntry> entry;
    };
    std::vector<DirectoryEntry> directories;
    int failures = 0, extracted = 0;
    auto report = [&](const std::string& name, const std::string& why) {
        progress.erase();
        fmt::print(stderr, "kqu: {}: {}: {}\n", path, KQUEscapedName(name), why);
        ++failures;
    };
    auto rows = rowsOf(*archive);
    uint64_t total = 0;
    for (const auto& row : rows)
        if (!row.isFreeSpace) total += row.entry->uncompressedSize();
    progress.begin(total);
    KQUToolProgress::Phase phase(progress, "extract");
    for (const auto& row : rows) {
        if (row.isFreeSpace) continue;
        KQUToolProgress::Item item(progress, row.entry->uncompressedSize());
        auto parts = componentsOf(row.name);
        if (parts.empty()) {
            report(row.name, fmt::format("refused: it would land outside {}", target));
            continue;
        }
        std::string shown = KQUEscapedName(target + "/" + joined(parts, parts.size()));
        try {
            if (row.name.back() == '/') {
                openDirectoryBeneath(root.get(), parts, parts.size());
                directories.push_back({parts, row.entry});
                continue;
            }
            Fd directory = openDirectoryBeneath(root.get(), parts, parts.size() - 1);
            extractFile(*row.entry, directory.get(), parts.back(), shown, options);
            ++extracted;
        } catch (const KQUToolError& e) {
            report(row.name, e.what());
        }
    }
    // Directories last, deepest first: writing their files would change their times, and a
    // read-only mode would have kept the files out.
    std::sort(directories.begin(), directories.end(),
              [](const auto& a, const auto& b) { return a.parts.size() > b.parts.size(); });
    for (const auto& d : directories) {
        try {
            Fd directory = openDirectoryBeneath(root.get(), d.parts, d.parts.size());
            ::fchmod(directory.get(), modeFor(*d.entry, true, options));
            setTimes(directory.get(), *d.entry);
        } catch (const KQUToolError&) {
            // Reported when the entry was made.
        }
    }
    progress.finish();
    if (!arguments.has("--quiet"))
        fmt::print("extracted {} file{} and {} director{} into {}{}\n", extracted, extracted == 1 ? "" : "s",
                   directories.size(), directories.size() == 1 ? "y" : "ies", KQUEscapedName(target),
                   failures ? fmt::format("; {} not extracted", failures) : "");
    return failures ? 1 : 0;
}

// ---- test ---------------------------------------------------------------------------------

int runTest(const KQUToolArguments& arguments) {
    const std::string& path = arguments.operands[0];
    auto archive = KQUToolOpenArchive(path);
    bool haveKey = KQUToolArchiveNeedsKey(*archive) && KQUToolUnlockArchive(*archive, arguments, false);
    size_t damaged = 0, unchecked = 0, entries = 0;
    std::vector<char> buffer(kChunk);
    auto rows = rowsOf(*archive);
    // Without the key an encrypted entry is read as stored; with it, as its contents.
    auto bytesRead = [&](const KQUZipEntry& entry) {
        return entry.hasEncryptedMethod() && !haveKey ? entry.compressedSize() : entry.uncompressedSize();
    };
    uint64_t total = 0;
    for (const auto& row : rows) total += bytesRead(*row.entry);
    KQUToolProgress progress(arguments, "zip test");
    progress.begin(total);
    KQUToolProgress::Phase phase(progress, "read");
    for (const auto& row : rows) {
        if (!row.isFreeSpace) ++entries;
        bool withoutKey = row.entry->hasEncryptedMethod() && !haveKey;
        KQUToolProgress::Item item(progress, bytesRead(*row.entry));
        try {
            // Without the key, encrypted entries are checked as stored: their CRC-32 covers
            // the stored bytes, not the contents.
            auto stream = withoutKey ? row.entry->storedInputStream() : row.entry->inputStream();
            if (!stream) throw KQUToolError("local file header record signature not found");
            while (uint32_t n = stream->readToBuffer(buffer.data(), kChunk)) progress.advance(n);
            stream->close();
            // A name or size damaged in only one of the two copies goes unnoticed by reading.
            auto disagreements = KQUZipLocalHeaderDisagreements(*row.entry);
            if (!disagreements.empty()) {
                std::string why;
                for (const auto& sentence : disagreements) why += (why.empty() ? "" : "; ") + sentence;
                throw KQUToolError("the local header disagrees with the central directory: " + why);
            }
            if (withoutKey) {
                progress.erase();
                fmt::print("{}: stored bytes intact; contents not checked without the passphrase\n",
                           KQUEscapedName(row.name));
                ++unchecked;
            }
        } catch (const KQUException& e) {
            progress.erase();
            fmt::print("{}: {}\n", KQUEscapedName(row.name), e.reason());
            ++damaged;
        } catch (const KQUToolError& e) {
            progress.erase();
            fmt::print("{}: {}\n", KQUEscapedName(row.name), e.what());
            ++damaged;
        }
    }
    progress.finish();
    if (damaged)
        fmt::print("{} of {} entries are damaged.\n", damaged, entries);
    else if (unchecked)
        fmt::print("{} of {} entries could not be checked without the passphrase.\n", unchecked, entries);
    else
        fmt::print("No errors detected in {} ({} entries).\n", path == "-" ? "standard input" : path,
                   entries);
    return damaged || unchecked ? 1 : 0;
}

KQUToolRegistration listCommand({
    .name = "zip list",
    .operands = "ARCHIVE",
    .summary = "List a package's entries: length, date, time and name, with totals",
    .options = {{"--verbose", "", "also method, compressed size, compression ratio and CRC-32"},
                {"--porcelain", "", "one line per entry for scripts: 'LENGTH SIZE METHOD CRC NAME'"},
                {"--all", "", "include free-space entries (.QlTrash/...)"}},
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu zip list --verbose report.zip",
    .details = "ARCHIVE may be '-' for standard input. Control characters in names are shown escaped "
               "(\\n, \\t, \\033, and \\\\ for a backslash).",
    .run = runList,
});
KQUToolRegistration catCommand({
    .name = "zip cat",
    .operands = "ARCHIVE NAME",
    .summary = "Write one entry's contents to standard output",
    .options = {KQUPassphraseFileToolOption, KQUKeychainToolOption},
    .minOperands = 2,
    .maxOperands = 2,
    .example = "kqu zip cat report.zip Report/index.xml",
    .details = "ARCHIVE may be '-' for standard input. The contents are checked against their CRC-32 as "
               "they are read; damage ends the command with status 1.",
    .run = runCat,
});
KQUToolRegistration extractCommand({
    .name = "zip extract",
    .operands = "ARCHIVE [DIR]",
    .summary = "Extract every entry under DIR (default: the current directory)",
    .options = {KQUPassphraseFileToolOption, KQUKeychainToolOption,
                {"--force", "", "replace existing files"},
                {"--quiet", "", "print nothing but errors"}},
    .minOperands = 1,
    .maxOperands = 2,
    .example = "kqu zip extract report.zip out",
    .details = "Names that are absolute or climb out of DIR, and paths through a symbolic link, are "
               "refused. Files get their modification time and, from packages made on Unix, their "
               "permission bits (never setuid, setgid or sticky); contents of encrypted packages are "
               "readable by the owner only. A symbolic-link entry becomes a file holding the link's "
               "target. Free-space entries are skipped.",
    .run = runExtract,
});
KQUToolRegistration testCommand({
    .name = "zip test",
    .operands = "ARCHIVE",
    .summary = "Read every entry and report the damaged ones",
    .options = {KQUPassphraseFileToolOption, KQUKeychainToolOption, {"--quiet", "", "draw no progress bar"}},
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu zip test report.zip",
    .details = "Ends with 'No errors detected in ARCHIVE (N entries).' (status 0) or 'N of M entries are "
               "damaged.' (status 1). Without the passphrase, the stored bytes of encrypted entries are "
               "checked, each such entry is named as not checked, and the status is 1.",
    .run = runTest,
});

}  // namespace
}  // namespace kqu::tool
