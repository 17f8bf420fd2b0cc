// Conversions between the two text encodings of the library: UTF-8 std::string for names,
// keys and messages, UTF-16 std::u16string for text that people type or read (see the
// design notes). Both directions go through ICU.
//
// Decoding is strict: ill-formed UTF-8 (overlong forms, surrogates, truncated sequences,
// bytes that start no character) is refused rather than repaired, so a caller never
// silently stores text that differs from what it was handed. Encoding replaces a lone
// surrogate of a UTF-16 string, which has no UTF-8 form, with U+FFFD.
//
// Plain functions; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kqu {

// nullopt when utf8 is not well-formed UTF-8.
[[nodiscard]] std::optional<std::u16string> KQUUTF16FromUTF8(std::string_view utf8);
// The UTF-8 form of utf16; lone surrogates become U+FFFD.
[[nodiscard]] std::string KQUUTF8FromUTF16(std::u16string_view utf16);

}  // namespace kqu
