// KQUJson: reads JSON text into KQUValue trees and writes KQUValue trees as JSON text, for
// exchanging property-list-like data (dictionaries, arrays, strings, numbers, booleans,
// null) with other programs.
//
// Reading is a recursive descent over the text's code units: UTF-16 (std::u16string_view)
// or UTF-8 bytes (std::string_view, scanned directly; ill-formed UTF-8 fails). Both give the
// same values: objects become insertion-ordered dictionaries (a repeated key keeps its
// first place and its last value), arrays arrays, strings UTF-8 std::string (a lone
// surrogate written as a \u escape becomes U+FFFD), numbers KQUDecimal (38 significant
// digits, rounded half-up beyond; out of range fails), true/false booleans, null null.
// Only an array or an object is read at the top; white space between tokens is any
// Unicode white space; digits are ASCII 0-9 only; text after the closing bracket or brace
// is not looked at. Nesting deeper than kMaxDepth levels fails instead of exhausting the
// stack. Malformed text never throws: the readers answer nullopt, and parse() also says
// where and why.
//
// Writing produces compact UTF-8 text (no white space) or a pretty-printed layout.
// Booleans are true/false, integers and decimals plain digits, reals their shortest
// round-trip text, dictionaries in insertion order. Control characters in strings are
// escaped (\b \t \n \f \r, the rest as \u00xx); U+2028 and U+2029 are escaped only in a
// string that also holds a character needing an escape. Bytes of a string that are not UTF-8 are
// written as U+FFFD, so the text is always readable. Values JSON cannot carry (data,
// non-finite reals) fail an assertion and are written as null so the text stays valid.
//
// Plain functions; thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUValue.h"

namespace kqu {

// Where and why reading stopped: offset in code units of the text handed in (UTF-16
// units or UTF-8 bytes), and a short reason ("expected ',' or ']'").
struct KQUJsonError {
    size_t offset = 0;
    std::string reason;
};

class KQUJson {
public:
    static constexpr int kMaxDepth = 512;

    // Compact JSON text of value (UTF-8).
    [[nodiscard]] static std::string stringFromObject(const KQUValue& value);
    // Appends the compact JSON text of value to out.
    static void appendJsonString(const KQUValue& value, std::string& out);
    // Pretty-printed text: one element per line, indent blanks a level, ": " after keys,
    // empty containers as [] and {}.
    [[nodiscard]] static std::string prettyStringFromObject(const KQUValue& value, int indent = 2);

    // The array (or dictionary) the text starts with, after white space; nullopt when the
    // text starts with something else or is malformed.
    [[nodiscard]] static std::optional<KQUValue> arrayFromString(std::u16string_view text);
    [[nodiscard]] static std::optional<KQUValue> dictionaryFromString(std::u16string_view text);
    [[nodiscard]] static std::optional<KQUValue> arrayFromString(std::string_view utf8);
    [[nodiscard]] static std::optional<KQUValue> dictionaryFromString(std::string_view utf8);

    // Reads the array or object the text starts with. On failure fills *error (when
    // given); on success sets *end (when given) to the offset just past the closing
    // bracket or brace, so a caller can insist that only white space follows.
    [[nodiscard]] static std::optional<KQUValue> parse(std::u16string_view text, KQUJsonError* error = nullptr,
                                                       size_t* end = nullptr);
    [[nodiscard]] static std::optional<KQUValue> parse(std::string_view utf8, KQUJsonError* error = nullptr,
                                                       size_t* end = nullptr);
    // The verdict of parse() without making the values (faster, for checking text).
    [[nodiscard]] static bool validate(std::string_view utf8, KQUJsonError* error = nullptr, size_t* end = nullptr);
    // Offset of the first code unit at or after offset that is not white space (the
    // readers' white space).
    [[nodiscard]] static size_t skipWhitespace(std::string_view utf8, size_t offset);
};

}  // namespace kqu
