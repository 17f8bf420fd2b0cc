// String additions: small operations on UTF-16 text (std::u16string) that the suite's code
// needs everywhere: removing characters of a set, escaping for XML and for quoted fields,
// guessing the encoding of bytes, splitting at separators, and a fresh UUID string.
//
// Characters are code points: a surrogate pair counts as one character of a set, and a
// set never splits a pair.
//
// Plain functions; thread-safe. The system single-byte encoding is a process-wide
// setting read under a lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUCharacterSet.h"

namespace kqu {

// Search options as the removal takes them: Anchored removes only a leading run of set
// characters; Backwards is accepted and ignored (the result does not depend on it).
enum KQUStringSearchOptions : unsigned {
    KQUStringSearchNone = 0,
    KQUStringSearchBackwards = 4,
    KQUStringSearchAnchored = 8,
};

// One shared string holding U+000D.
const std::u16string& KQUCarriageReturnString();

// The upper-case text of a new random (version 4, RFC 4122 variant) UUID, from
// getrandom(); nullopt when the system gave no random bytes.
[[nodiscard]] std::optional<std::string> KQUStringFromCFUUID();

[[nodiscard]] std::u16string KQUStringByRemovingCharactersInSet(std::u16string_view text, const KQUCharacterSet& set,
                                                                unsigned options = KQUStringSearchNone);
// text with every occurrence of from (searched left to right, not overlapping) replaced
// by to; from must not be empty.
[[nodiscard]] std::u16string KQUStringByReplacingOccurrences(std::u16string_view text, std::u16string_view from,
                                                             std::u16string_view to);
[[nodiscard]] std::u16string KQUStringByRemovingCharacter(std::u16string_view text, char16_t character);

// The system's single-byte encoding, an ICU converter name: "windows-1252" unless set.
void KQUSetSystemSingleByteEncoding(std::string name);
[[nodiscard]] std::string KQUSystemSingleByteEncoding();
// bytes decoded as UTF-8 (strictly); failing that in the system single-byte encoding;
// failing that, when fallbackEncoding differs from it, in fallbackEncoding; otherwise
// nullopt. Decoding in a named encoding is strict too: a byte it does not map fails.
[[nodiscard]] std::optional<std::u16string> KQUStringWithDataBestGuessEncoding(std::string_view bytes,
                                                                              std::string_view fallbackEncoding);
// bytes decoded strictly in the named ICU encoding; nullopt for an unknown name or a
// byte sequence it does not map.
[[nodiscard]] std::optional<std::u16string> KQUStringWithDataInEncoding(std::string_view bytes,
                                                                       std::string_view encoding);

// The pieces between separator characters: every separator ends a piece, so n separators
// give n + 1 pieces and "" gives one empty piece.
[[nodiscard]] std::vector<std::u16string> KQUPortableComponentsSeparatedByCharactersInSet(std::u16string_view text,
                                                                                         const KQUCharacterSet& set);

// "&" -> "&amp;", then "<" -> "&lt;", then ">" -> "&gt;".
[[nodiscard]] std::u16string KQUEscapeXML(std::u16string_view text);
// "&lt;" -> "<", "&gt;" -> ">", and last "&amp;" -> "&".
[[nodiscard]] std::u16string KQUUnescapeXML(std::u16string_view text);
// text itself when it holds no character of set; otherwise text with each '"' doubled,
// enclosed in '"'.
[[nodiscard]] std::u16string KQUStringQuotedIfContainsCharacterSet(std::u16string_view text,
                                                                   const KQUCharacterSet& set);
// Inserts one UTF-16 unit at index; throws KQUException(NSRangeException) past the end.
void KQUInsertCharacter(std::u16string& text, char16_t character, uint64_t index);

}  // namespace kqu
