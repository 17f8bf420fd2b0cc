#include "kqutility/foundation/KQUStringAdditions.h"

#include <sys/random.h>

#include <cerrno>
#include <mutex>

#include <fmt/format.h>
#include <unicode/ucnv.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUICUSupport.h"
#include "kqutility/foundation/KQUScopeExit.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

namespace {

std::mutex sEncodingLock;
std::string& systemEncoding() {
    static std::string sEncoding = "windows-1252";
    return sEncoding;
}

int32_t span(const KQUCharacterSet& set, std::u16string_view text, size_t from, USetSpanCondition condition) {
    return KQUICUSet(set).span(text.data() + from, static_cast<int32_t>(text.size() - from), condition);
}
}  // namespace

std::u16string KQUStringByReplacingOccurrences(std::u16string_view text, std::u16string_view from,
                                               std::u16string_view to) {
    std::u16string out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t hit; (hit = text.find(from, start)) != std::u16string_view::npos; start = hit + from.size()) {
        out.append(text.substr(start, hit - start));
        out.append(to);
    }
    out.append(text.substr(start));
    return out;
}

const std::u16string& KQUCarriageReturnString() {
    static const std::u16string sString = u"\r";
    return sString;
}

std::optional<std::string> KQUStringFromCFUUID() {
    uint8_t b[16];
    size_t got = 0;
    while (got < sizeof b) {
        ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        got += static_cast<size_t>(n);
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    return fmt::format("{:02X}{:02X}{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
                       b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                       b[15]);
}

std::u16string KQUStringByRemovingCharactersInSet(std::u16string_view text, const KQUCharacterSet& set,
                                                  unsigned options) {
    if (options & KQUStringSearchAnchored) {
        size_t lead = static_cast<size_t>(span(set, text, 0, USET_SPAN_CONTAINED));
        return std::u16string(text.substr(lead));
    }
    std::u16string out;
    out.reserve(text.size());
    // ICU's span works on whole code points, so a pair is kept or removed as one.
    for (size_t pos = 0; pos < text.size();) {
        size_t keep = static_cast<size_t>(span(set, text, pos, USET_SPAN_NOT_CONTAINED));
        out.append(text.substr(pos, keep));
        pos += keep;
        if (pos < text.size()) pos += static_cast<size_t>(span(set, text, pos, USET_SPAN_CONTAINED));
    }
    return out;
}

std::u16string KQUStringByRemovingCharacter(std::u16string_view text, char16_t character) {
    return KQUStringByRemovingCharactersInSet(text, KQUCharacterSet::withCharacters(std::u16string_view(&character, 1)));
}

void KQUSetSystemSingleByteEncoding(std::string name) {
    std::lock_guard guard(sEncodingLock);
    systemEncoding() = std::move(name);
}

std::string KQUSystemSingleByteEncoding() {
    std::lock_guard guard(sEncodingLock);
    return systemEncoding();
}

std::optional<std::u16string> KQUStringWithDataInEncoding(std::string_view bytes, std::string_view encoding) {
    UErrorCode status = U_ZERO_ERROR;
    std::string name(encoding);
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status) || !converter) return std::nullopt;
    auto close = KQUScopeExit([&] { ucnv_close(converter); });
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;
    std::u16string out(bytes.size() * 2 + 2, u'\0');
    int32_t length = ucnv_toUChars(converter, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                                   static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<size_t>(length));
    return out;
}

std::optional<std::u16string> KQUStringWithDataBestGuessEncoding(std::string_view bytes,
                                                                std::string_view fallbackEncoding) {
    if (auto utf8 = KQUUTF16FromUTF8(bytes)) return utf8;
    std::string system = KQUSystemSingleByteEncoding();
    if (auto text = KQUStringWithDataInEncoding(bytes, system)) return text;
    if (ucnv_compareNames(system.c_str(), std::string(fallbackEncoding).c_str()) != 0)
        return KQUStringWithDataInEncoding(bytes, fallbackEncoding);
    return std::nullopt;
}

std::vector<std::u16string> KQUPortableComponentsSeparatedByCharactersInSet(std::u16string_view text,
                                                                            const KQUCharacterSet& set) {
    std::vector<std::u16string> pieces;
    size_t pos = 0;
    for (;;) {
        size_t piece = static_cast<size_t>(span(set, text, pos, USET_SPAN_NOT_CONTAINED));
        pieces.emplace_back(text.substr(pos, piece));
        pos += piece;
        if (pos >= text.size()) return pieces;
        // Step over exactly one separator character (one or two units).
        pos += (pos + 1 < text.size() && U16_IS_LEAD(text[pos]) && U16_IS_TRAIL(text[pos + 1])) ? 2 : 1;
    }
}

std::u16string KQUEscapeXML(std::u16string_view text) {
    return KQUStringByReplacingOccurrences(KQUStringByReplacingOccurrences(KQUStringByReplacingOccurrences(text, u"&", u"&amp;"), u"<", u"&lt;"), u">", u"&gt;");
}

std::u16string KQUUnescapeXML(std::u16string_view text) {
    return KQUStringByReplacingOccurrences(KQUStringByReplacingOccurrences(KQUStringByReplacingOccurrences(text, u"&lt;", u"<"), u"&gt;", u">"), u"&amp;", u"&");
}

std::u16string KQUStringQuotedIfContainsCharacterSet(std::u16string_view text, const KQUCharacterSet& set) {
    if (!set.intersects(text)) return std::u16string(text);
    return u"\"" + KQUStringByReplacingOccurrences(text, u"\"", u"\"\"") + u"\"";
}

void KQUInsertCharacter(std::u16string& text, char16_t character, uint64_t index) {
    if (index > text.size())
        throw KQUException(NSRangeException, fmt::format("-insertCharacter:atIndex: index {} beyond length {}", index,
                                                         text.size()));
    text.insert(text.begin() + static_cast<std::ptrdiff_t>(index), character);
}

}  // namespace kqu
