#include "kqutility/foundation/KQUUnicode.h"

#include <algorithm>

#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace kqu {

std::optional<size_t> KQUUTF16FromUTF8Into(std::string_view utf8, char16_t* out) {
    // ICU counts in int32_t: longer texts go in pieces that end on a character boundary.
    constexpr size_t kPiece = size_t{1} << 30;
    size_t written = 0;
    while (!utf8.empty()) {
        size_t piece = std::min(utf8.size(), kPiece);
        for (int back = 0; back < 3 && piece < utf8.size() && (utf8[piece] & 0xC0) == 0x80; ++back) --piece;
        int32_t count = 0;
        UErrorCode status = U_ZERO_ERROR;
        // Substitution character -1: any ill-formed sequence is an error, not a replacement.
        u_strFromUTF8WithSub(out + written, static_cast<int32_t>(piece), &count, utf8.data(),
                             static_cast<int32_t>(piece), -1, nullptr, &status);
        if (U_FAILURE(status)) return std::nullopt;
        written += static_cast<size_t>(count);
        utf8.remove_prefix(piece);
    }
    return written;
}

std::optional<std::u16string> KQUUTF16FromUTF8(std::string_view utf8) {
    std::u16string out(utf8.size(), u'\0');  // never more UTF-16 units than bytes
    auto written = KQUUTF16FromUTF8Into(utf8, out.data());
    if (!written) return std::nullopt;
    out.resize(*written);
    return out;
}

std::string KQUUTF8FromUTF16(std::u16string_view utf16) {
    // ICU counts in int32_t: longer texts go in pieces that do not split a surrogate pair.
    constexpr size_t kPiece = size_t{1} << 28;  // at most three bytes a unit: 768 MiB a piece
    std::string out(utf16.size() * 3, '\0');
    size_t written = 0;
    while (!utf16.empty()) {
        size_t piece = std::min(utf16.size(), kPiece);
        if (piece < utf16.size() && U16_IS_LEAD(utf16[piece - 1]) && U16_IS_TRAIL(utf16[piece])) --piece;
        int32_t count = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8WithSub(out.data() + written, static_cast<int32_t>(piece * 3), &count, utf16.data(),
                           static_cast<int32_t>(piece), 0xFFFD, nullptr, &status);
        if (U_FAILURE(status)) return {};
        written += static_cast<size_t>(count);
        utf16.remove_prefix(piece);
    }
    out.resize(written);
    return out;
}

int32_t KQUNextUTF8CodePoint(std::string_view utf8, size_t& at) {
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(utf8.data()), at, utf8.size(), c);
    return c;
}

bool KQUIsValidUTF8(std::string_view utf8) {
    for (size_t at = 0; at < utf8.size();)
        if (static_cast<unsigned char>(utf8[at]) < 0x80)
            ++at;
        else if (KQUNextUTF8CodePoint(utf8, at) < 0)
            return false;
    return true;
}

}  // namespace kqu
