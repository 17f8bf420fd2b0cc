// File-system helpers in place of the platform's file manager.
//
// Moves never replace silently: KQUMoveItem fails when the destination exists unless the
// caller asks for replacement explicitly. Paths are UTF-8 strings passed to the system as
// they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

enum class KQUFileType { Regular, Directory, SymbolicLink, Other };

struct KQUFileAttributes {
    KQUFileType type = KQUFileType::Other;
    int64_t size = 0;
    uint32_t permissions = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t modificationTime = 0;  // seconds since 1970
};

// Readable by this process (access(R_OK)).
bool KQUIsReadableFile(const std::string& path);
bool KQUFileExists(const std::string& path);
// Attributes of the item, following symbolic links unless told not to; nullopt when
// there is no such item.
std::optional<KQUFileAttributes> KQUAttributesOfItem(const std::string& path, bool followLinks = true);

enum class KQUMoveOptions { NeverReplace, ReplaceExisting };
// Moves from -> to. With NeverReplace an existing destination is an error (EEXIST). A move
// across file systems copies and then removes the source.
bool KQUMoveItem(const std::string& from, const std::string& to, KQUError* error = nullptr,
                 KQUMoveOptions options = KQUMoveOptions::NeverReplace);
// Removes a file, or a directory with everything below it. Missing items are not an error.
bool KQURemoveItem(const std::string& path, KQUError* error = nullptr);
// mkdir -p.
bool KQUCreateDirectory(const std::string& path, KQUError* error = nullptr);
// Writes contents (mode 0644 before the umask) through KQUAtomicOutputFile: beside path,
// synced to disk, then renamed over path. Creates missing parent directories.
bool KQUWriteFileAtomically(const std::string& path, std::string_view contents, KQUError* error = nullptr);
// A path in the same directory as path that does not exist yet (".<name>.<random>").
// For writing a file that replaces another use KQUAtomicOutputFile instead: this name is
// 14 bytes longer than path's, too long for names above 241 bytes, and is only checked,
// not reserved.
std::string KQUTemporaryPathNear(const std::string& path);
std::string KQULastPathComponent(std::string_view path);
std::string KQUDirectoryOfPath(std::string_view path);

}  // namespace kqu
