// How kqu commands use the keychain (KQUKeychainUtils, in the store the user default
// "KQUKeychainStore" picks):
//
//   - `--remember` on commands that encrypt stores the passphrase under the new data's
//     generic item: a package's document UUID, an encrypted file's IV (its first 16
//     bytes, random per file). The store is checked before any work, so a passphrase is
//     never typed for a result that cannot be remembered.
//   - `--keychain` on commands that read encrypted data takes the passphrase from that
//     item instead of --passphrase-file, KQU_PASSPHRASE or a prompt.
//
// Failures are KQUToolErrors with one line for the user. Passphrases stay in
// KQUSecretBuffers. Plain functions; no state.
#pragma once

#include <string>
#include <string_view>

#include "kqutility/crypto/KQUSecretBuffer.h"
#include "kqutility/zip/KQUZipArchive.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {

inline constexpr const char* KQUKeychainOption = "--keychain";
inline constexpr const char* KQURememberOption = "--remember";
inline const KQUToolOption KQUKeychainToolOption{
    KQUKeychainOption, "", "take the passphrase from the keychain (stored there with --remember)"};
inline const KQUToolOption KQURememberToolOption{KQURememberOption, "",
                                                 "remember the passphrase in the keychain (see 'kqu keychain')"};

// Throws unless the keychain store can be used now.
void KQUToolCheckKeychain();

// The passphrase of the item of genericItem; `what` names the data in messages.
KQUSecretBuffer KQUToolKeychainPassphrase(std::string_view genericItem, std::string_view what);
// The same for a package, by its document UUID.
KQUSecretBuffer KQUToolKeychainPassphrase(const KQUZipArchive& archive);

// Stores passphrase under genericItem with service "kqu", label "kqu: NAME" (NAME: the
// data's file name), description "document passphrase" and the login name as account.
void KQUToolRememberPassphrase(std::string_view passphrase, std::string_view genericItem, std::string_view name);

// The login name (the password database's, else $USER, else the user id).
std::string KQUToolLoginName();

// The generic item of an encrypted file: its first 16 bytes, the IV.
std::string KQUToolFileKeychainItem(const std::string& path);

// The generic item a `kqu keychain` TARGET stands for: "hex:BYTES", a zip package (its
// document UUID) or another file (its first 16 bytes).
std::string KQUToolKeychainTarget(const std::string& target);

}  // namespace kqu::tool
