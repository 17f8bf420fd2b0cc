#include "kqutility/foundation/KQUUnicode.h"

#include <climits>

#include <unicode/ustring.h>
#include <unicode/utf8.h>

namespace kqu {

std::optional<std::u16string> KQUUTF16FromUTF8(std::string_view utf8) {
    if (utf8.size() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
    const auto length = static_cast<int32_t>(utf8.size());
    std::u16string out(utf8.size(), u'\0');  // never more UTF-16 units than bytes
    int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    // Substitution character -1: any ill-formed sequence is an error, not a replacement.
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, utf8.data(), length,
                         -1, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<size_t>(written));
    return out;
}

std::string KQUUTF8FromUTF16(std::u16string_view utf16) {
    std::string out;
    if (utf16.empty()) return out;
    if (utf16.size() > static_cast<size_t>(INT32_MAX / 3)) return out;
    out.resize(utf16.size() * 3);  // at most three bytes per UTF-16 unit
    int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, utf16.data(),
                       static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return {};
    out.resize(static_cast<size_t>(written));
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
