#include "kqutility/foundation/KQUFileReference.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "kqutility/foundation/KQUFileManager.h"

namespace kqu {
namespace {

constexpr int kMaxAliasDepth = 40;

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

struct Identity {
    KQUFileReference reference;
    bool isDirectory = false;
};

// The identity of the item at path, following symbolic links or not.
std::optional<Identity> identify(const std::string& path, bool followLinks) {
    struct statx st;
    int flags = AT_STATX_SYNC_AS_STAT | (followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
    if (path.empty() ||
        ::statx(AT_FDCWD, path.c_str(), flags, STATX_INO | STATX_TYPE | STATX_BTIME, &st) != 0)
        return std::nullopt;
    KQUFileReference reference;
    reference.device = (uint64_t{st.stx_dev_major} << 32) | st.stx_dev_minor;
    reference.inode = st.stx_ino;
    if (st.stx_mask & STATX_BTIME)
        reference.birthTime = st.stx_btime.tv_sec * int64_t{1'000'000'000} + st.stx_btime.tv_nsec;
    reference.lastKnownPath = path;
    return Identity{std::move(reference), S_ISDIR(st.stx_mode)};
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory == ".") return name;
    if (directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

}  // namespace

std::optional<KQUFileReference> KQUFileReferenceFromPath(const std::string& path) {
    auto identity = identify(path, true);
    if (!identity) return std::nullopt;
    return std::move(identity->reference);
}

std::optional<std::string> KQUFileReferenceCurrentPath(KQUFileReference& reference) {
    if (auto current = identify(reference.lastKnownPath, true);
        current && current->reference.refersToSameFileAs(reference))
        return reference.lastKnownPath;
    // Look for the same inode among the neighbours of the last known path. Not following
    // links keeps a symbolic link to the file from being taken for the file itself.
    std::string directory = KQUDirectoryOfPath(reference.lastKnownPath);
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) return std::nullopt;
    while (struct dirent* entry = ::readdir(dir.get())) {
        if (static_cast<uint64_t>(entry->d_ino) != reference.inode) continue;
        std::string candidate = joinPath(directory, entry->d_name);
        auto found = identify(candidate, false);
        if (found && found->reference.refersToSameFileAs(reference) && !found->isDirectory) {
            reference.lastKnownPath = candidate;
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::string> KQUPathByResolvingAlias(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < kMaxAliasDepth; ++depth) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0) return std::nullopt;
        if (!S_ISLNK(st.st_mode)) return depth == 0 ? std::nullopt : std::optional<std::string>(current);
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return std::nullopt;
        target.resize(static_cast<size_t>(n));
        current = target.front() == '/' ? target : joinPath(KQUDirectoryOfPath(current), target);
    }
    return std::nullopt;
}

bool KQUDirectoryContainsFile(const KQUFileReference& directory, const std::string& filePath) {
    char* resolved = ::realpath(filePath.c_str(), nullptr);
    if (!resolved) return false;
    std::string path(resolved);
    std::free(resolved);
    while (path.size() > 1) {
        path = KQUDirectoryOfPath(path);
        auto ancestor = identify(path, true);
        if (!ancestor) return false;
        if (ancestor->reference.refersToSameFileAs(directory)) return true;
    }
    return false;
}

std::optional<uint32_t> KQUReadFileTypeCode(const std::string& path) {
    uint8_t bytes[4];
    ssize_t n = ::getxattr(path.c_str(), KQUFileTypeAttributeName, bytes, sizeof bytes);
    if (n == 4)
        return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    if (n < 0 && errno == ENODATA) return 0u;
    // No support (ENOTSUP), no file, or a value of another size: the file system does not
    // tell a type code.
    if (n >= 0) return 0u;
    return std::nullopt;
}

bool KQUWriteFileTypeCode(const std::string& path, uint32_t typeCode) {
    uint8_t bytes[4] = {static_cast<uint8_t>(typeCode >> 24), static_cast<uint8_t>(typeCode >> 16),
                        static_cast<uint8_t>(typeCode >> 8), static_cast<uint8_t>(typeCode)};
    return ::setxattr(path.c_str(), KQUFileTypeAttributeName, bytes, sizeof bytes, 0) == 0;
}

}  // namespace kqu
