// The byte layout of an opened package: which records lie where, from the first byte to
// the last, for pictures and diagnostics of how a package uses its file.
//
//     KQUZipArchive archive(path);
//     for (const auto& range : KQUZipPackageLayout(archive))
//         printf("%llu+%llu %s\n", range.offset, range.length, KQUZipLayoutKindName(range.kind));
//
// The ranges are in offset order and cover the archive exactly: each starts where the
// one before it ends, the first at 0, the last ends at the archive's length, and none is
// empty. Each entry of the archive gives its local header and its data (stored,
// deflated or encrypted; none when the entry holds no bytes) and, when its flags say so,
// its data descriptor; a free-space entry gives one range for header and data together.
// Then come the central directory and the end records. Bytes no record claims become
// Unknown ranges; where records would overlap (a damaged package) the later one is cut
// to start where the earlier ends, so the cover stays exact.
//
// The archive is read, never changed: one small read per entry and two or three for
// the end records. Entries come from allEntries(), so a central record hidden behind a
// later one of the same name leaves its bytes Unknown. Throws what the archive's data
// representation throws on a read error. A plain function: its reads are positioned, so
// other threads may read the same archive meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipEntry.h"

namespace kqu {

enum class KQUZipLayoutKind {
    LocalHeader,
    StoredData,
    DeflatedData,
    EncryptedData,  // stored with one of the library's encrypted methods
    DataDescriptor,
    FreeSpace,  // a free-space entry: local header and data
    CentralDirectory,
    Zip64EndRecord,
    Zip64EndLocator,
    EndRecord,  // the end of central directory record with its comment
    Unknown,
};

struct KQUZipLayoutRange {
    uint64_t offset = 0;
    uint64_t length = 0;
    KQUZipLayoutKind kind = KQUZipLayoutKind::Unknown;
    // The entry the range belongs to; nullptr for the directory, end records and Unknown.
    std::shared_ptr<KQUZipEntry> entry{};
};

// "local header", "stored data", "deflated data", "encrypted data", "data descriptor",
// "free space", "central directory", "Zip64 end record", "Zip64 end locator",
// "end record", "unknown".
const char* KQUZipLayoutKindName(KQUZipLayoutKind kind);

[[nodiscard]] std::vector<KQUZipLayoutRange> KQUZipPackageLayout(const KQUZipArchive& archive);

}  // namespace kqu
