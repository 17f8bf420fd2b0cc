// Agreement between an entry's local header and its central directory record.
//
// Readers find entries through the central directory and skip the local header, so a
// name or size damaged in one of the two copies goes unnoticed while reading: a flipped
// byte in a central name silently renames the entry. Testing a package compares the two.
#pragma once

#include <string>
#include <vector>

#include "kqutility/zip/KQUZipEntry.h"

namespace kqu {

// One sentence per field in which the local header disagrees with the central record
// ("the local header names it \"b.txt\""), in the order name, method, flags, CRC-32,
// compressed size, uncompressed size; empty when they agree. CRC-32 and sizes are
// compared only where the local header holds them (not after a data descriptor flag;
// Zip64 values when the local header has the Zip64 field). A local header that cannot be
// read or has no signature gives one sentence saying so. Throws nothing.
std::vector<std::string> KQUZipLocalHeaderDisagreements(const KQUZipEntry& entry);

}  // namespace kqu
