// What the kqu zip commands share: opening a package (a path, or "-" for standard
// input), unlocking an encrypted one with the user's passphrase, and printing entry
// names and DOS times so that a person can read them and a crafted name cannot forge
// output or reach the terminal. Plain functions; no state.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUFileLock.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "kqutility/zip/KQUZipEntry.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {

// Opens the package at path ("-": read standard input into memory), turning a malformed
// one into a KQUToolError that names it.
std::unique_ptr<KQUZipArchive> KQUToolOpenArchive(const std::string& path);

// The package has entries stored with the library's encrypted methods.
bool KQUToolArchiveNeedsKey(const KQUZipArchive& archive);

// Derives the key from the user's passphrase, checks it against the package's verifier
// and gives it to the archive; returns it. With required false and no passphrase
// offered, returns nullptr and changes nothing. Throws "wrong passphrase". With --keychain
// among the arguments the passphrase is the keychain item's of the package's document UUID
// (none, or one the verifier refuses: KQUToolError).
KQUCryptoKeyRef KQUToolUnlockArchive(KQUZipArchive& archive, const KQUToolArguments& arguments,
                                     bool required);

// Waits up to 30 seconds for the advisory lock that every kqu command rewriting the
// package takes before reading it (KQUFileLock), and holds it while alive. Throws
// "PATH is being written by another process". nullptr for "-" and for anything that is
// not a regular file (a device or FIFO is written, not rewritten).
std::unique_ptr<KQUFileLock> KQUToolLockPackage(const std::string& path);

// name with control characters, DEL, C1 controls, bytes that are not UTF-8 and the
// backslash written as C escapes (\n, \t, \033, \\), as `ls -b` prints them.
std::string KQUEscapedName(std::string_view name);

// "2022-03-04 12:34" from a DOS date and time.
std::string KQUFormatDosTime(uint32_t dosTime);
// The DOS time as seconds since 1970, read in the local time zone; nullopt when its
// fields are not a valid date.
std::optional<int64_t> KQUDosTimeToUnixTime(uint32_t dosTime);

// The Unix mode (type and permission bits) of an entry made on Unix that records one;
// nullopt otherwise.
std::optional<uint32_t> KQUEntryUnixMode(const KQUZipEntry& entry);

// "stored", "deflated", "stored+encrypted", "deflated+encrypted".
std::string KQUEntryMethodName(const KQUZipEntry& entry);

}  // namespace kqu::tool
