// File references, alias files and file type codes, in place of the platform's persistent
// file references.
//
// A KQUFileReference names a file by its (device, inode) pair and remembers the path where
// it was last seen. Asking for its current path finds the file again when it has been
// renamed within the directory where it was last seen (the usual "save under another
// name" or "move to a backup name" case); a file moved to another directory, or replaced
// by another file (another inode) at its path, is not found. Alias files are symbolic
// links. A file type code is a four-character code kept in the extended attribute
// "user.kqu.filetype" (four bytes, big-endian).
//
// A reference is a plain value; the functions are safe to call from any thread, but one
// KQUFileReference object must not be updated from two threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kqu {

struct KQUFileReference {
    uint64_t device = 0;
    uint64_t inode = 0;
    // The file's creation time in nanoseconds, 0 where the file system does not keep it.
    // It tells a new file that was given a removed file's inode number from the old one.
    int64_t birthTime = 0;
    std::string lastKnownPath;

    bool refersToSameFileAs(const KQUFileReference& other) const {
        return device == other.device && inode == other.inode &&
               (birthTime == 0 || other.birthTime == 0 || birthTime == other.birthTime);
    }
};

// A reference to the item at path (symbolic links followed); nullopt when there is none.
std::optional<KQUFileReference> KQUFileReferenceFromPath(const std::string& path);
// The item's current path: its last known path when the same item is still there,
// otherwise the entry of that directory that is the same item (which then becomes the last
// known path). nullopt when the item cannot be found.
std::optional<std::string> KQUFileReferenceCurrentPath(KQUFileReference& reference);
// When path is an alias file (a symbolic link), the path of its final target, resolved
// relative to each link's directory; nullopt when path is not an alias, or the chain of
// links is longer than 40 or cannot be read.
std::optional<std::string> KQUPathByResolvingAlias(const std::string& path);
// Whether the directory contains the file, directly or in any folder below it.
bool KQUDirectoryContainsFile(const KQUFileReference& directory, const std::string& filePath);

// The name of the extended attribute that holds a file type code.
inline constexpr const char* KQUFileTypeAttributeName = "user.kqu.filetype";
// The file's type code: 0 when it has none. nullopt when the file system keeps no
// extended attributes (or the file cannot be reached).
std::optional<uint32_t> KQUReadFileTypeCode(const std::string& path);
// Writes the type code; false when the file system keeps no extended attributes or the
// write fails.
bool KQUWriteFileTypeCode(const std::string& path, uint32_t typeCode);

}  // namespace kqu
