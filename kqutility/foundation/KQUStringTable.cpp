#include "kqutility/foundation/KQUStringTable.h"

#include <mutex>
#include <vector>

#include <fmt/format.h>

#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUResources.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : mText(text) {
        if (mText.substr(0, 3) == "\xEF\xBB\xBF") mPos = 3;
    }

    std::optional<KQUStringTable> parse(std::string* error) {
        KQUStringTable table;
        for (;;) {
            if (!skipBlanks(error)) return std::nullopt;
            if (mPos == mText.size()) return table;
            std::string key;
            if (!readString(key, error)) return std::nullopt;
            if (!skipBlanks(error)) return std::nullopt;
            std::string value;
            if (peek() == '=') {
                ++mPos;
                if (!skipBlanks(error)) return std::nullopt;
                if (!readString(value, error)) return std::nullopt;
                if (!skipBlanks(error)) return std::nullopt;
            } else {
                value = key;
            }
            if (peek() != ';') return fail(error, "expected ';' after an entry");
            ++mPos;
            table.insert_or_assign(std::move(key), std::move(value));
        }
    }

private:
    char peek() const { return mPos < mText.size() ? mText[mPos] : '\0'; }

    int line() const {
        int n = 1;
        for (size_t i = 0; i < mPos && i < mText.size(); ++i)
            if (mText[i] == '\n') ++n;
        return n;
    }

    std::nullopt_t fail(std::string* error, std::string_view what) const {
        if (error) *error = fmt::format("line {}: {}", line(), what);
        return std::nullopt;
    }

    bool bad(std::string* error, std::string_view what) const {
        fail(error, what);
        return false;
    }

    bool skipBlanks(std::string* error) {
        while (mPos < mText.size()) {
            char c = mText[mPos];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++mPos;
            } else if (mText.substr(mPos, 2) == "//") {
                size_t end = mText.find('\n', mPos);
                mPos = end == std::string_view::npos ? mText.size() : end + 1;
            } else if (mText.substr(mPos, 2) == "/*") {
                size_t end = mText.find("*/", mPos + 2);
                if (end == std::string_view::npos) return bad(error, "unterminated comment");
                mPos = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    static bool isWordCharacter(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '$' || c == '+' || c == '-' || c == '.' || c == '/' || c == ':';
    }

    static void appendUTF8(std::string& out, uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    // Four hex digits after \u or \U.
    bool readCodeUnit(uint32_t& unit, std::string* error) {
        if (mPos + 4 > mText.size()) return bad(error, "incomplete \\u escape");
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            char c = mText[mPos++];
            unit <<= 4;
            if (c >= '0' && c <= '9')
                unit |= c - '0';
            else if (c >= 'a' && c <= 'f')
                unit |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                unit |= c - 'A' + 10;
            else
                return bad(error, "bad hex digit in \\u escape");
        }
        return true;
    }

    bool readString(std::string& out, std::string* error) {
        if (peek() != '"') {
            size_t start = mPos;
            while (mPos < mText.size() && isWordCharacter(mText[mPos])) ++mPos;
            if (mPos == start) return bad(error, "expected a quoted string");
            out.assign(mText.substr(start, mPos - start));
            return true;
        }
        ++mPos;
        for (;;) {
            if (mPos >= mText.size()) return bad(error, "unterminated string");
            char c = mText[mPos++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (mPos >= mText.size()) return bad(error, "unterminated string");
            char e = mText[mPos++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case '0':
                    out += '\0';
                    break;
                case '"':
                case '\\':
                case '\'':
                    out += e;
                    break;
                case 'u':
                case 'U': {
                    uint32_t unit;
                    if (!readCodeUnit(unit, error)) return false;
                    if (unit >= 0xDC00 && unit <= 0xDFFF)
                        return bad(error, "unpaired surrogate in \\u escape");
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        uint32_t low;
                        if (mText.substr(mPos, 2) != "\\u" && mText.substr(mPos, 2) != "\\U")
                            return bad(error, "unpaired surrogate in \\u escape");
                        mPos += 2;
                        if (!readCodeUnit(low, error)) return false;
                        if (low < 0xDC00 || low > 0xDFFF)
                            return bad(error, "unpaired surrogate in \\u escape");
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    }
                    appendUTF8(out, unit);
                    break;
                }
                default:
                    return bad(error, fmt::format("unknown escape \\{}", e));
            }
        }
    }

    std::string_view mText;
    size_t mPos = 0;
};

std::mutex sCacheLock;
std::map<std::string, KQUStringTable, std::less<>>& cache() {
    static std::map<std::string, KQUStringTable, std::less<>> sCache;
    return sCache;
}

}  // namespace

std::optional<KQUStringTable> KQUParseStringTable(std::string_view text, std::string* error) {
    const bool little = text.substr(0, 2) == "\xFF\xFE", big = text.substr(0, 2) == "\xFE\xFF";
    if (!little && !big) return Parser(text).parse(error);
    // UTF-16 with a byte-order mark: decoded strictly (whole units, paired surrogates)
    // before the UTF-8 parser sees it, so a damaged file is refused, not repaired.
    text.remove_prefix(2);
    if (text.size() % 2) {
        if (error) *error = "line 1: UTF-16 string table has an odd number of bytes";
        return std::nullopt;
    }
    std::u16string units(text.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        auto a = static_cast<unsigned char>(text[2 * i]), b = static_cast<unsigned char>(text[2 * i + 1]);
        units[i] = static_cast<char16_t>(little ? (b << 8 | a) : (a << 8 | b));
    }
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t u = units[i];
        bool lead = u >= 0xD800 && u <= 0xDBFF, trail = u >= 0xDC00 && u <= 0xDFFF;
        if (trail || (lead && (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF))) {
            if (error) *error = fmt::format("UTF-16 string table holds an unpaired surrogate at unit {}", i);
            return std::nullopt;
        }
        if (lead) ++i;
    }
    return Parser(KQUUTF8FromUTF16(units)).parse(error);
}

std::string KQULocalizedString(std::string_view key, std::string_view table) {
    std::lock_guard guard(sCacheLock);
    auto it = cache().find(table);
    if (it == cache().end()) {
        KQUStringTable parsed;
        std::string file = fmt::format("{}.strings", table);
        if (auto bytes = KQUEmbeddedResource(file)) {
            std::string error;
            if (auto result = KQUParseStringTable(*bytes, &error))
                parsed = std::move(*result);
            else
                KQULogMessage(fmt::format("Cannot read the string table {}: {}", file, error));
        }
        it = cache().emplace(std::string(table), std::move(parsed)).first;
    }
    auto value = it->second.find(key);
    return value != it->second.end() ? value->second : std::string(key);
}

std::string KQUFormatLocalizedString(std::string_view format,
                                     std::initializer_list<std::string_view> arguments) {
    std::vector<std::string_view> args(arguments);
    std::string out;
    out.reserve(format.size());
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        if (format[i + 1] == '%') {
            out += '%';
            ++i;
        } else if (format[i + 1] == '@') {
            if (next < args.size()) out += args[next];
            ++next;
            ++i;
        } else {
            size_t j = i + 1;
            size_t n = 0;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9')
                n = n * 10 + (format[j++] - '0');
            if (j > i + 1 && j + 1 < format.size() && format[j] == '$' && format[j + 1] == '@') {
                if (n >= 1 && n <= args.size()) out += args[n - 1];
                i = j + 1;
            } else {
                out += c;
            }
        }
    }
    return out;
}

}  // namespace kqu
