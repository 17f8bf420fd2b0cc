// String tables: the library's user-visible texts, kept apart from the code so that they
// can be worded (and translated) without touching it.
//
// A table is a UTF-8 file resources/<Table>.strings, embedded in the library at build
// time (KQUParseStringTable also reads UTF-16 with a byte-order mark, strictly: an odd
// byte count or an unpaired surrogate is refused), holding entries of the form
//
//     /* comment */  // or line comment
//     "&Undo %@" = "Undo %@";
//
// Keys and values are quoted strings (escapes \" \\ \n \t \r \0 and \Uxxxx / \uxxxx, with
// surrogate pairs joined) or bare words of letters, digits and _ $ + - . / : ; an entry
// "key"; maps the key to itself; a later entry replaces an earlier one.
//
// KQULocalizedString() answers the value for a key, or the key itself when the table or
// the key is missing (as a person would rather see the key than nothing). Parsed tables
// are cached for the life of the process. All functions are thread-safe.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kqu {

using KQUStringTable = std::map<std::string, std::string, std::less<>>;

// nullopt for malformed text, with "line N: what" in *error.
std::optional<KQUStringTable> KQUParseStringTable(std::string_view text, std::string* error = nullptr);

// The value of key in the embedded table (the file <table>.strings), or key.
std::string KQULocalizedString(std::string_view key, std::string_view table);

// Fills a localized format: each "%@" takes the next argument, "%n$@" argument n
// (from 1), "%%" is a percent sign. Arguments are inserted as they are, never read as
// formats; a placeholder without an argument becomes the empty string.
std::string KQUFormatLocalizedString(std::string_view format,
                                     std::initializer_list<std::string_view> arguments);

}  // namespace kqu
