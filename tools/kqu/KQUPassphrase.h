// How kqu commands get a passphrase, never as a plain argument (where other users could
// read it in the process list and shells keep it in their history):
//
//   1. --passphrase-file FILE: the file's first line, without its line end ("\n" or
//      "\r\n");
//   2. the environment variable KQU_PASSPHRASE;
//   3. a prompt on the controlling terminal, with echo off.
//
// A command that accepts a passphrase lists KQUPassphraseFileOption among its valued
// options and calls KQUToolPassphrase. The bytes are used as they are: no encoding or
// normalisation, so the same passphrase typed on another system must be the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kqutility/crypto/KQUSecretBuffer.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {

inline constexpr const char* KQUPassphraseFileOption = "--passphrase-file";
inline constexpr const char* KQUPassphraseEnvironmentVariable = "KQU_PASSPHRASE";
inline constexpr const char* KQUIterationsOption = "--iterations";

// The --passphrase-file option as commands declare it.
inline const KQUToolOption KQUPassphraseFileToolOption{
    KQUPassphraseFileOption, "FILE", "read the passphrase from FILE's first line (else KQU_PASSPHRASE or a prompt)"};

enum class KQUPassphrasePurpose {
    Open,    // for existing data: asked once
    Create,  // for new data: asked twice at the terminal, and never empty
};

// The passphrase from the first source above that is present. When none is and required
// is false, nullopt (no prompt); when required, the terminal prompt. Throws KQUToolError
// when the file cannot be read, when no terminal is there to ask, when the two typed
// entries differ, or (for Create) when the passphrase is empty.
// The passphrase is wiped when the returned buffer goes away, on every path.
std::optional<KQUSecretBuffer> KQUToolPassphrase(const KQUToolArguments& arguments, bool required,
                                                 KQUPassphrasePurpose purpose = KQUPassphrasePurpose::Open);

// The value of --iterations (1 to 2147483647), or defaultCount when absent. Throws
// KQUToolError for anything else.
uint32_t KQUToolIterationCount(const KQUToolArguments& arguments, uint32_t defaultCount);

}  // namespace kqu::tool
