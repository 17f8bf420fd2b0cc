#include "kqutility/interchange/KQUURLAdditions.h"

#include <unicode/uidna.h>

#include <memory>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

std::string escapeAllBut(std::string_view text, std::string_view keep) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || std::string_view("-._~").find(c) != std::string_view::npos ||
            keep.find(c) != std::string_view::npos)
            out.push_back(c);
        else
            fmt::format_to(std::back_inserter(out), "%{:02X}", static_cast<unsigned char>(c));
    }
    return out;
}

constexpr std::string_view kPathAndQuery = "!$&'()*+,;=:@/?";
constexpr std::string_view kProper = "!'()*/";

// Percent escapes decoded; nullopt when the bytes are not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    if (!KQUUTF16FromUTF8(out)) return std::nullopt;
    return out;
}

struct IDNAClose {
    void operator()(UIDNA* idna) const { uidna_close(idna); }
};

const UIDNA* sharedIDNA() {
    // ICU's UTS #46 object is immutable once opened and may be used from any thread.
    static const std::unique_ptr<UIDNA, IDNAClose> idna = [] {
        UErrorCode status = U_ZERO_ERROR;
        UIDNA* made = uidna_openUTS46(
            UIDNA_USE_STD3_RULES | UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ, &status);
        return std::unique_ptr<UIDNA, IDNAClose>(U_SUCCESS(status) ? made : nullptr);
    }();
    return idna.get();
}

}  // namespace

bool KQUContainsPercentEscapes(std::string_view text) {
    for (size_t i = 0; i + 2 < text.size(); ++i)
        if (text[i] == '%' && isHex(text[i + 1]) && isHex(text[i + 2])) return true;
    return false;
}

std::string KQUStringByPercentEscaping(std::string_view text) { return escapeAllBut(text, kPathAndQuery); }

std::string KQUProperlyEscapedString(std::string_view text) { return escapeAllBut(text, kProper); }

std::string KQUImproperlyEscapedString(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::string_view(";?:@&=+$#/%<>'\"\\").find(c) != std::string_view::npos)
            fmt::format_to(std::back_inserter(out), "_{}_", static_cast<int>(c));
        else
            out.push_back(c);
    }
    return out;
}

std::optional<std::string> KQUASCIIHostName(std::string_view host) {
    if (host.empty()) return std::string();
    const UIDNA* idna = sharedIDNA();
    if (!idna || host.size() > INT32_MAX / 4) return std::nullopt;
    std::string out(host.size() * 4 + 256, '\0');
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = uidna_nameToASCII_UTF8(idna, host.data(), static_cast<int32_t>(host.size()), out.data(),
                                            static_cast<int32_t>(out.size()), &info, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<size_t>(length) + 1, '\0');
        status = U_ZERO_ERROR;
        info = UIDNA_INFO_INITIALIZER;
        length = uidna_nameToASCII_UTF8(idna, host.data(), static_cast<int32_t>(host.size()), out.data(),
                                        static_cast<int32_t>(out.size()), &info, &status);
    }
    // ICU reports what is wrong with the name in info.errors, under a success status.
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || info.errors != 0) return std::nullopt;
    out.resize(static_cast<size_t>(length));
    return out;
}

std::optional<KQUURL> KQURFC1808URLWithUserEnteredString(std::string_view text) {
    std::string s(text);
    if (s.find(':') == std::string::npos) s = "http://" + s;
    size_t colon = s.find(':');
    KQU_ASSERT(colon != std::string::npos, "we should have a scheme by now");
    std::string result = s.substr(0, colon + 1);
    size_t i = colon + 1;
    for (int slashes = 0; slashes < 2 && i < s.size() && s[i] == '/'; ++slashes) ++i;
    result += "//";

    size_t pathStart = s.find('/', i);
    if (pathStart == std::string::npos) pathStart = s.size();
    std::string_view authority = std::string_view(s).substr(i, pathStart - i);
    size_t at = authority.find('@');
    if (at != std::string_view::npos) {
        result.append(authority.substr(0, at + 1));
        authority.remove_prefix(at + 1);
    }
    size_t portStart = authority.find(':');
    std::string_view hostText = authority.substr(0, portStart);
    std::string host(hostText);
    if (KQUContainsPercentEscapes(host)) {
        auto decoded = percentDecoded(host);
        if (!decoded) return std::nullopt;
        host = std::move(*decoded);
    }
    auto asciiHost = KQUASCIIHostName(host);
    if (!asciiHost) return std::nullopt;
    result += *asciiHost;
    if (portStart != std::string_view::npos) result.append(authority.substr(portStart));

    std::string_view rest = std::string_view(s).substr(pathStart);
    size_t hash = rest.rfind('#');
    std::string_view before = rest.substr(0, hash);
    auto escaped = [](std::string_view part) {
        return KQUContainsPercentEscapes(part) ? std::string(part) : KQUStringByPercentEscaping(part);
    };
    result += escaped(before);
    if (hash != std::string_view::npos) {
        result += '#';
        result += escaped(rest.substr(hash + 1));
    }
    return KQUURL::fromString(result);
}

std::optional<KQUURL> KQURelativeURLWithEscapes(std::string_view text) {
    return KQUURL::fromString(KQUProperlyEscapedString(text));
}

std::optional<KQUURL> KQUFilePathURLWithEscapes(std::string_view path) {
    std::string escaped = KQUProperlyEscapedString(path);
    return KQUURL::fromString(path.starts_with('/') ? "file://localhost" + escaped : "file:" + escaped);
}

bool KQUURLIsRelative(const KQUURL& url) {
    return url.relativeString() != url.absoluteString() || !url.path().starts_with('/');
}

}  // namespace kqu
