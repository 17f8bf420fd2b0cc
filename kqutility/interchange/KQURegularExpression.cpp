#include "kqutility/interchange/KQURegularExpression.h"

#include <regex.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <functional>
#include <vector>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUCharacterSet.h"

namespace kqu {

struct KQURegularExpression::Compiled {
    regex_t regex{};
    ~Compiled() { regfree(&regex); }
};

std::string KQURegularExpression::bytesForString(std::u16string_view string, char lossByte) {
    std::string bytes(string.size(), lossByte);
    for (size_t i = 0; i < string.size(); ++i)
        if (string[i] < 0x80) bytes[i] = static_cast<char>(string[i]);
    return bytes;
}

std::optional<KQURegularExpression> KQURegularExpression::create(std::u16string_view pattern, unsigned options) {
    constexpr const char* kFunction = "KQURegularExpression::create";
    // The C library reads the pattern up to its first NUL; one inside would cut it short.
    if (pattern.find(u'\0') != std::u16string_view::npos) {
        KQULogError("*** {}: error {}", kFunction, static_cast<int>(REG_BADPAT));
        return std::nullopt;
    }
    std::string bytes = bytesForString(pattern, ' ');
    int flags = 0;
    if (!(options & kKQURegularExpressionBasicSyntax)) flags |= REG_EXTENDED;
    if (!(options & kKQURegularExpressionDotMatchesNewlines)) flags |= REG_NEWLINE;
    if (options & kKQURegularExpressionCaseInsensitive) flags |= REG_ICASE;
    auto compiled = std::make_shared<Compiled>();
    int error = regcomp(&compiled->regex, bytes.c_str(), flags);
    if (error != 0) {
        // regcomp leaves nothing to free on failure; the deleter must not run regfree.
        KQULogError("*** {}: error {}", kFunction, error);
        std::memset(&compiled->regex, 0, sizeof compiled->regex);
        return std::nullopt;
    }
    KQURegularExpression expression;
    expression.mPattern = std::u16string(pattern);
    expression.mOptions = options;
    expression.mCompiled = std::move(compiled);
    return expression;
}

size_t KQURegularExpression::numberOfSubexpressions() const { return mCompiled->regex.re_nsub; }

size_t KQURegularExpression::hash() const {
    return std::hash<std::u16string>{}(mPattern) * 31 + mOptions;
}

KQURange KQURegularExpression::matchedRangeForCString(const char* bytes, KQURange range, KQURange* out,
                                                      size_t count) const {
    const KQURange notFound{KQUNotFound, 0};
    if (!out) count = 0;
    size_t slots = std::min(numberOfSubexpressions(), count) + 1;
    std::vector<regmatch_t> matches(slots);
    uint64_t offset = 0;
    int status;
    if (range.location == KQUNotFound) {
        status = regexec(&mCompiled->regex, bytes, slots, matches.data(), 0);
    } else {
        if (range.length > static_cast<uint64_t>(std::numeric_limits<regoff_t>::max())) {
            KQU_ASSERT_FAILURE("range length {} is too large to match", range.length);
            return notFound;
        }
        // The range is the subject: the matcher starts at its first byte, so "^" can match.
        offset = range.location;
        matches[0].rm_so = 0;
        matches[0].rm_eo = static_cast<regoff_t>(range.length);
        status = regexec(&mCompiled->regex, bytes + offset, slots, matches.data(), REG_STARTEND);
    }
    if (status != 0) return notFound;
    auto toRange = [&](const regmatch_t& m) {
        if (m.rm_so < 0) return notFound;
        return KQURange{offset + static_cast<uint64_t>(m.rm_so), static_cast<uint64_t>(m.rm_eo - m.rm_so)};
    };
    for (size_t i = 1; i < slots; ++i) out[i - 1] = toRange(matches[i]);
    for (size_t i = slots - 1; i < count; ++i) out[i] = notFound;
    return toRange(matches[0]);
}

KQURange KQURegularExpression::matchedRangeForString(std::u16string_view string, KQURange range, KQURange* out,
                                                     size_t count) const {
    // The whole string, not up to a U+0000 it may hold, when no range is given.
    if (range.location == KQUNotFound) range = {0, string.size()};
    if (range.location > string.size() || range.length > string.size() - range.location) {
        KQU_ASSERT_FAILURE("range {{{}, {}}} lies outside a string of length {}", range.location, range.length,
                           string.size());
        return {KQUNotFound, 0};
    }
    std::string bytes = bytesForString(string, '?');
    return matchedRangeForCString(bytes.c_str(), range, out, count);
}

// ---- E-mail addresses ----

std::u16string KQUUncommentedAddress(std::u16string_view address) {
    const KQUCharacterSet& whitespace = KQUCharacterSet::whitespace();
    std::u16string out;
    bool quoted = false, lastWasBlank = false, sawAngle = false;
    int depth = 0;
    for (size_t i = 0; i < address.size(); ++i) {
        char16_t c = address[i];
        if (c == u'\\' && i + 1 < address.size()) {
            out.push_back(c);
            out.push_back(address[++i]);
            lastWasBlank = false;
        } else if (quoted) {
            out.push_back(c);
            if (c == u'"') quoted = false;
            lastWasBlank = false;
        } else if (c == u'(') {
            ++depth;
        } else if (depth > 0) {
            if (c == u')') --depth;
        } else if (c == u'<') {
            out.clear();
            sawAngle = true;
            lastWasBlank = false;
        } else if (c == u'>' && sawAngle) {
            break;
        } else if (whitespace.contains(c)) {
            if (!lastWasBlank && !out.empty()) {
                out.push_back(u' ');
                lastWasBlank = true;
            }
        } else {
            out.push_back(c);
            if (c == u'"') quoted = true;
            lastWasBlank = false;
        }
    }
    while (!out.empty() && whitespace.contains(out.back())) out.pop_back();
    return out;
}

std::u16string KQUUncommentedAddressRespectingGroups(std::u16string_view address) {
    if (address.find(u'@') == std::u16string_view::npos && address.find(u'<') == std::u16string_view::npos)
        return std::u16string(address);
    return KQUUncommentedAddress(address);
}

namespace {
// An atom: anything but white space and the specials ] ( ) < > @ , ; : \ " . [
#define KQU_ATOM "[^][()<>@,;:\\\".[:space:]]+"
#define KQU_LOCAL KQU_ATOM "(\\." KQU_ATOM ")*"
#define KQU_LABEL "[A-Za-z0-9_+-]+"
#define KQU_ADDRESS KQU_LOCAL "(@" KQU_LABEL "(\\." KQU_LABEL ")*)?"
// A display name: non-specials (white space allowed) or quoted strings without quotation
// mark, backslash, carriage return or line feed (the bytes themselves: brackets know no
// escapes).
#define KQU_DISPLAY_NAME "([^][()<>@,;:\\\".]|\"[^\"\\\r\n]*\")*"
constexpr const char16_t* kEmailPattern = u"^(" KQU_ADDRESS "|" KQU_DISPLAY_NAME "<" KQU_ADDRESS ">)$";
#undef KQU_ATOM
#undef KQU_LOCAL
#undef KQU_LABEL
#undef KQU_ADDRESS
#undef KQU_DISPLAY_NAME

const KQURegularExpression& emailExpression() {
    static const KQURegularExpression expression = *KQURegularExpression::create(kEmailPattern);
    return expression;
}
}  // namespace

bool KQUIsLegalEmailAddress(std::u16string_view address) {
    std::u16string uncommented = KQUUncommentedAddressRespectingGroups(address);
    std::string bytes = KQURegularExpression::bytesForString(uncommented, '\n');
    KQURange match = emailExpression().matchedRangeForCString(bytes.c_str(), {0, bytes.size()}, nullptr, 0);
    if (match != KQURange{0, bytes.size()}) return false;
    size_t at = uncommented.find(u'@');
    size_t dot = uncommented.rfind(u'.');
    return at != std::u16string::npos && dot != std::u16string::npos && dot > at;
}

}  // namespace kqu
