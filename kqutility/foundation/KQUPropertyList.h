// Property lists: the files in which bundles ship their defaults, date formats and other
// structured resources, read into and written from KQUValue.
//
// Reading takes both stored forms, told apart by their first bytes: the XML form
// (<plist version="1.0"> holding one <dict>, <array>, <string>, <integer>, <real>,
// <true/>, <false/>, <date> or <data>) and the binary form (files that begin with
// "bplist00"). Input is treated as hostile: nesting depth, the number of values (counted
// as a reader of the result would walk them, so objects shared many times in a binary
// list cannot blow up into billions of values) and the input size are limited, every
// offset and length of a binary list is checked against the bytes before it is followed,
// reference cycles are refused, the XML parser loads no external DTD or entity and
// reaches no network. Readers never throw: they answer nullopt with a one-line reason.
//
// Mapping: <integer> and binary integers must fit in int64_t (a larger one is refused
// rather than truncated); dates become KQUDate; binary sets become arrays; binary UIDs,
// which have no KQUValue counterpart, are refused. A dictionary with a key given twice
// keeps the key's first position and its last value.
//
// Writing produces the XML form, indented by tabs, with no DOCTYPE. A null value has no
// property-list form (nor has an object value), and XML 1.0 cannot carry most control characters: the writer throws
// KQUException(NSInvalidArgumentException) for either rather than write a file nobody
// can read back. Carriage returns are written as "&#13;" so that they survive a reader's
// line-end normalisation. Dates are written in whole seconds (the XML form has no
// fractions; the fraction is dropped toward the earlier second).
//
// Plain functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

enum class KQUPropertyListFormat { XML, Binary };

struct KQUPropertyListLimits {
    size_t maxInputBytes = 64u << 20;  // larger input is refused before it is parsed
    size_t maxDepth = 256;             // nested arrays and dictionaries
    size_t maxValues = 1u << 22;       // values of the result, shared ones counted each time
};

// The value held by bytes (XML or binary), or nullopt with the reason in *error.
// *format (when given) tells which form was read.
[[nodiscard]] std::optional<KQUValue> KQUPropertyListFromBytes(std::string_view bytes, std::string* error = nullptr,
                                                               KQUPropertyListFormat* format = nullptr,
                                                               const KQUPropertyListLimits& limits = {});

// Reads the file at path (refusing one larger than limits.maxInputBytes before reading
// it). A file that cannot be read fills *error with the system's text.
[[nodiscard]] std::optional<KQUValue> KQUPropertyListFromFile(const std::string& path, std::string* error = nullptr,
                                                              KQUPropertyListFormat* format = nullptr,
                                                              const KQUPropertyListLimits& limits = {});

// The XML form of value. Throws NSInvalidArgumentException for what the form cannot hold
// (null and object values, control characters other than tab, line feed and carriage return, text
// that is not UTF-8, non-finite dates).
[[nodiscard]] std::string KQUXMLPropertyListFromValue(const KQUValue& value);

// Writes the XML form of value to path through KQUAtomicOutputFile (the old file stays
// until the new one is complete). Throws as KQUXMLPropertyListFromValue does; a file
// that cannot be written answers false with the reason in *error.
bool KQUWriteXMLPropertyListToFile(const KQUValue& value, const std::string& path, KQUError* error = nullptr);

// The ISO 8601 text of a property-list date ("2001-01-01T00:00:00Z"), and back. Parsing
// accepts what the XML form allows: a year, optionally followed by month, day, hour,
// minute and second, always ending in "Z".
[[nodiscard]] std::optional<std::string> KQUPropertyListDateString(KQUDate date);
[[nodiscard]] std::optional<KQUDate> KQUPropertyListDateFromString(std::string_view text);

}  // namespace kqu
