#include "kqutility/foundation/KQUFileManager.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include <fmt/format.h>

#include "kqutility/foundation/KQUAtomicOutputFile.h"

namespace kqu {

namespace fs = std::filesystem;

bool KQUIsReadableFile(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

bool KQUFileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::optional<KQUFileAttributes> KQUAttributesOfItem(const std::string& path, bool followLinks) {
    struct stat st;
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return std::nullopt;
    KQUFileAttributes a;
    if (S_ISREG(st.st_mode))
        a.type = KQUFileType::Regular;
    else if (S_ISDIR(st.st_mode))
        a.type = KQUFileType::Directory;
    else if (S_ISLNK(st.st_mode))
        a.type = KQUFileType::SymbolicLink;
    a.size = static_cast<int64_t>(st.st_size);
    a.permissions = st.st_mode & 07777;
    a.device = st.st_dev;
    a.inode = st.st_ino;
    a.modificationTime = st.st_mtim.tv_sec;
    return a;
}

bool KQUMoveItem(const std::string& from, const std::string& to, KQUError* error, KQUMoveOptions options) {
    if (options == KQUMoveOptions::ReplaceExisting) {
        if (::rename(from.c_str(), to.c_str()) == 0) return true;
    } else {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno == EINVAL || errno == ENOSYS) {
            // The file system cannot rename without replacing: link() refuses an existing
            // destination just the same.
            if (::link(from.c_str(), to.c_str()) == 0) {
                ::unlink(from.c_str());
                return true;
            }
        }
    }
    if (errno != EXDEV) {
        KQUSetPOSIXError(error, errno, fmt::format("Could not move {} to {}", from, to));
        return false;
    }
    std::error_code ec;
    auto copyOptions = options == KQUMoveOptions::ReplaceExisting ? fs::copy_options::overwrite_existing
                                                                  : fs::copy_options::none;
    if (!fs::copy_file(from, to, copyOptions, ec) || !fs::remove(from, ec)) {
        KQUSetPOSIXError(error, ec ? ec.value() : EEXIST, fmt::format("Could not move {} to {}", from, to));
        return false;
    }
    return true;
}

bool KQURemoveItem(const std::string& path, KQUError* error) {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) {
        KQUSetPOSIXError(error, ec.value(), fmt::format("Could not remove {}", path));
        return false;
    }
    return true;
}

bool KQUCreateDirectory(const std::string& path, KQUError* error) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        KQUSetPOSIXError(error, ec.value(), fmt::format("Could not create directory {}", path));
        return false;
    }
    return true;
}

std::string KQULastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos || path.size() == 1 ? path : path.substr(slash + 1));
}

std::string KQUDirectoryOfPath(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string KQUTemporaryPathNear(const std::string& path) {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    std::string dir = KQUDirectoryOfPath(path);
    std::string name = KQULastPathComponent(path);
    for (;;) {
        std::string candidate = fmt::format("{}/.{}.{:012x}", dir, name, generator() & 0xffffffffffffULL);
        if (!KQUFileExists(candidate)) return candidate;
    }
}

bool KQUWriteFileAtomically(const std::string& path, std::string_view contents, KQUError* error) {
    if (!KQUCreateDirectory(KQUDirectoryOfPath(path), error)) return false;
    try {
        KQUAtomicOutputFile file(path, {.mode = 0644, .syncToDisk = true});
        file.write(contents);
        file.keep();
    } catch (const KQUAtomicOutputFileError& e) {
        if (error) *error = KQUError{KQUPOSIXErrorDomain, e.errorNumber(), e.reason()};
        return false;
    }
    return true;
}

}  // namespace kqu
