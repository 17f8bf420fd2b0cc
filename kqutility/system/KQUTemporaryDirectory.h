// KQUTemporaryDirectory: private scratch space on disk that cleans itself up. It creates
// a uniquely named directory (mode 0700) in a temporary folder, preferably on the same
// file system as a given path, so that a finished file can later be moved next to that
// path by a rename instead of a copy, and removes it with everything in it when the
// object goes away.
//
// The parent folder: near a path, the first writable folder of $TMPDIR, /var/tmp, /tmp
// and $XDG_CACHE_HOME/kqutility/tmp (~/.cache when unset; made with mode 0700) that lies
// on the path's file system; otherwise $TMPDIR or /tmp; otherwise that cache folder.
// Only the folder type 'temp' names a folder on this system; any other finds none.
//
// The name is "<application>_<pid>_<signature>_<seconds since 2001>_<counter>", with "/"
// and NUL in the application name and signature replaced by "_", cut on a UTF-8
// character boundary so that the whole name, counter included, is at most 255 bytes.
// mkdir never reuses an existing name or follows a planted link; a name already taken
// moves on to the next counter. Removal walks the tree from the directory's descriptor
// (openat with O_NOFOLLOW, unlinkat), so a symbolic link inside, even one swapped in
// during the walk, is unlinked and never followed, and the directory is removed only when
// it is still the one that was created (same device and inode).
//
// Ownership: create() hands out a shared_ptr; the directory goes when the last owner
// lets go, unless leakTemporaryDirectory() was called. One thread at a time per object;
// the name counter is process-wide and atomic.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kqutility/foundation/KQUHasFileName.h"

namespace kqu {

inline constexpr uint32_t KQUTemporaryFolderType = 0x74656d70;  // 'temp'

class KQUTemporaryDirectory : public KQUHasFileName {
public:
    // nullptr (after logging why) when no parent folder was found or the directory could
    // not be made.
    static std::shared_ptr<KQUTemporaryDirectory> create(std::optional<std::string> nearPath = std::nullopt,
                                                         std::string signature = "TEMP",
                                                         uint32_t folderType = KQUTemporaryFolderType);
    static std::shared_ptr<KQUTemporaryDirectory> createWithParentFolderType(uint32_t folderType) {
        return create(std::nullopt, "TEMP", folderType);
    }

    ~KQUTemporaryDirectory() override;
    KQUTemporaryDirectory(const KQUTemporaryDirectory&) = delete;
    KQUTemporaryDirectory& operator=(const KQUTemporaryDirectory&) = delete;

    // The directory's path, or "" once leaked.
    std::string fileName() const override;
    // Gives up ownership: the directory stays on disk and fileName() answers "".
    void leakTemporaryDirectory();
    // "{KQUTemporaryDirectory 0x..., <path or (null)>}"
    std::string description() const;

private:
    KQUTemporaryDirectory() = default;
    bool make(const std::string& parent, const std::string& signature);

    std::string mPath;
    std::string mName;
    int mParentFd = -1;
    dev_t mDevice = 0;
    ino_t mInode = 0;
    bool mOwned = false;
};

}  // namespace kqu
