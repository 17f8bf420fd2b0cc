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

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kqu {

// nullopt when utf8 is not well-formed UTF-8.
[[nodiscard]] std::optional<std::u16string> KQUUTF16FromUTF8(std::string_view utf8);
// The same into out, which has room for utf8.size() code units (never more are needed):
// the number written, or nullopt when utf8 is not well-formed UTF-8. For callers that
// choose where a large text lives.
[[nodiscard]] std::optional<size_t> KQUUTF16FromUTF8Into(std::string_view utf8, char16_t* out);
// The UTF-8 form of utf16; lone surrogates become U+FFFD.
[[nodiscard]] std::string KQUUTF8FromUTF16(std::u16string_view utf16);

// The code point that starts at utf8[at], moving at past it; -1 for an ill-formed sequence,
// with at moved past its longest ill-formed start (so the caller resumes at the byte that
// broke it). at must be below utf8.size().
[[nodiscard]] int32_t KQUNextUTF8CodePoint(std::string_view utf8, size_t& at);
// Whether utf8 is well-formed UTF-8 throughout.
[[nodiscard]] bool KQUIsValidUTF8(std::string_view utf8);

}  // namespace kqu
