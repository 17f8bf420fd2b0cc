#include "kqutility/interchange/KQUJson.h"

#include <charconv>
#include <cmath>
#include <unordered_map>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUCharacterSet.h"

namespace kqu {

namespace {

void appendUTF8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c < 0xE000; }

// UTF-16 units as UTF-8; a surrogate without its partner becomes U+FFFD.
void appendUTF16(std::string& out, const char16_t* p, size_t n) {
    for (size_t i = 0; i < n;) {
        char32_t c = p[i++];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (isHighSurrogate(c) && i < n && isLowSurrogate(p[i])) c = 0x10000 + ((c - 0xD800) << 10) + (p[i++] - 0xDC00);
        else if (isHighSurrogate(c) || isLowSurrogate(c)) c = 0xFFFD;
        appendUTF8(out, c);
    }
}

// Length of the well-formed UTF-8 sequence at p (at most n bytes), 0 when ill-formed.
int decodeUTF8(const unsigned char* p, size_t n, char32_t& c) {
    unsigned char b = p[0];
    if (b < 0x80) {
        c = b;
        return 1;
    }
    int length;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        c = b & 0x0F;
        if (b == 0xE0) low = 0xA0;  // overlong
        if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        c = b & 0x07;
        if (b == 0xF0) low = 0x90;  // overlong
        if (b == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (n < static_cast<size_t>(length)) return 0;
    for (int i = 1; i < length; ++i) {
        unsigned char k = p[i];
        if (k < (i == 1 ? low : 0x80) || k > (i == 1 ? high : 0xBF)) return 0;
        c = (c << 6) | (k & 0x3F);
    }
    return length;
}

bool isSpace(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return KQUCharacterSet::whitespace().contains(c);
}

int hexValue(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

enum class Top { Any, Array, Dictionary };

// One parse over UTF-16 units (char16_t) or UTF-8 bytes (char).
template <typename Unit>
class Scanner {
public:
    // build false only checks the text: no values are made, the verdict is the same.
    Scanner(std::basic_string_view<Unit> text, bool build = true)
        : mText(text.data()), mLength(text.size()), mBuild(build) {}

    std::optional<KQUValue> parseTop(Top top) {
        skipWhitespace();
        Unit expected = top == Top::Dictionary ? Unit('{') : Unit('[');
        if (mPosition >= mLength || (top == Top::Any ? mText[mPosition] != Unit('[') && mText[mPosition] != Unit('{')
                                                      : mText[mPosition] != expected)) {
            fail(top == Top::Array ? "expected '['" : top == Top::Dictionary ? "expected '{'" : "expected '[' or '{'");
            return std::nullopt;
        }
        KQUValue value;
        if (!parseValue(value, 0)) return std::nullopt;
        return value;
    }

    void skipWhitespace() {
        while (mPosition < mLength) {
            char32_t c = unit(mPosition);
            if (c < 0x80) {
                if (!isSpace(c)) return;
                ++mPosition;
                continue;
            }
            int length = decode(mPosition, c);
            if (!length || !isSpace(c)) return;
            mPosition += static_cast<size_t>(length);
        }
    }

    size_t position() const { return mPosition; }
    const KQUJsonError& error() const { return mError; }

private:
    char32_t unit(size_t i) const { return static_cast<std::make_unsigned_t<Unit>>(mText[i]); }

    // The character at i and its length in units; 0 for ill-formed UTF-8. A UTF-16
    // surrogate pair counts as one character, a lone surrogate as itself.
    int decode(size_t i, char32_t& c) const {
        if constexpr (sizeof(Unit) == 1) {
            return decodeUTF8(reinterpret_cast<const unsigned char*>(mText + i), mLength - i, c);
        } else {
            c = unit(i);
            if (isHighSurrogate(c) && i + 1 < mLength && isLowSurrogate(unit(i + 1))) {
                c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
                return 2;
            }
            return 1;
        }
    }

    bool fail(std::string_view reason, std::optional<size_t> at = std::nullopt) {
        size_t offset = at.value_or(mPosition);
        mError.offset = offset;
        char32_t c;
        if (offset >= mLength) mError.reason = "unexpected end of text";
        else if (sizeof(Unit) == 1 && unit(offset) >= 0x80 && !decode(offset, c)) mError.reason = "invalid UTF-8";
        else mError.reason = reason;
        return false;
    }

    bool parseValue(KQUValue& value, int depth) {
        skipWhitespace();
        if (mPosition >= mLength) return fail("expected a value");
        switch (unit(mPosition)) {
            case '"': {
                std::string s;
                if (!parseString(s)) return false;
                value = KQUValue(std::move(s));
                return true;
            }
            case '[': return parseArray(value, depth + 1);
            case '{': return parseDictionary(value, depth + 1);
            case 't': return parseConstant("true", KQUValue(true), value);
            case 'f': return parseConstant("false", KQUValue(false), value);
            case 'n': return parseConstant("null", KQUValue(), value);
            default: return parseNumber(value);
        }
    }

    bool checkDepth(int depth) {
        if (depth > KQUJson::kMaxDepth)
            return fail(fmt::format("nesting deeper than {} levels", KQUJson::kMaxDepth));
        return true;
    }

    bool parseArray(KQUValue& value, int depth) {
        if (!checkDepth(depth)) return false;
        ++mPosition;
        skipWhitespace();
        KQUValueArray elements;
        if (mPosition < mLength && unit(mPosition) == ']') {
            ++mPosition;
            value = KQUValue(std::move(elements));
            return true;
        }
        for (;;) {
            KQUValue element;
            if (!parseValue(element, depth)) return false;
            if (mBuild) elements.push_back(std::move(element));
            skipWhitespace();
            if (mPosition < mLength && unit(mPosition) == ']') {
                ++mPosition;
                value = KQUValue(std::move(elements));
                return true;
            }
            if (mPosition >= mLength || unit(mPosition) != ',') return fail("expected ',' or ']'");
            ++mPosition;
        }
    }

    bool parseDictionary(KQUValue& value, int depth) {
        if (!checkDepth(depth)) return false;
        ++mPosition;
        skipWhitespace();
        KQUValueDictionary entries;
        if (mPosition < mLength && unit(mPosition) == '}') {
            ++mPosition;
            value = KQUValue(std::move(entries));
            return true;
        }
        for (;;) {
            skipWhitespace();
            if (mPosition >= mLength || unit(mPosition) != '"') return fail("expected a string key");
            std::string key;
            if (!parseString(key)) return false;
            skipWhitespace();
            if (mPosition >= mLength || unit(mPosition) != ':') return fail("expected ':'");
            ++mPosition;
            KQUValue element;
            if (!parseValue(element, depth)) return false;
            if (mBuild) entries.emplace_back(std::move(key), std::move(element));
            skipWhitespace();
            if (mPosition < mLength && unit(mPosition) == '}') {
                ++mPosition;
                value = KQUValue(mergeRepeatedKeys(std::move(entries)));
                return true;
            }
            if (mPosition >= mLength || unit(mPosition) != ',') return fail("expected ',' or '}'");
            ++mPosition;
        }
    }

    // A repeated key keeps the place of its first appearance and the value of its last.
    static KQUValueDictionary mergeRepeatedKeys(KQUValueDictionary entries) {
        size_t n = entries.size();
        if (n < 2) return entries;
        if (n <= 16) {
            bool repeated = false;
            for (size_t i = 1; i < n && !repeated; ++i)
                for (size_t j = 0; j < i && !repeated; ++j) repeated = entries[i].first == entries[j].first;
            if (!repeated) return entries;
        }
        KQUValueDictionary merged;
        merged.reserve(n);  // no reallocation: the map's views point into merged's keys
        std::unordered_map<std::string_view, size_t> index;
        index.reserve(n);
        for (auto& [key, element] : entries) {
            auto found = index.find(key);
            if (found != index.end()) {
                merged[found->second].second = std::move(element);
            } else {
                merged.emplace_back(std::move(key), std::move(element));
                index.emplace(merged.back().first, merged.size() - 1);
            }
        }
        return merged;
    }

    bool parseConstant(std::string_view literal, KQUValue constant, KQUValue& value) {
        size_t start = mPosition;
        for (char c : literal) {
            if (mPosition >= mLength || unit(mPosition) != static_cast<char32_t>(c)) return fail("invalid literal", start);
            ++mPosition;
        }
        value = std::move(constant);
        return true;
    }

    bool isDigit(size_t i) const { return i < mLength && unit(i) >= '0' && unit(i) <= '9'; }

    bool parseNumber(KQUValue& value) {
        size_t start = mPosition;
        bool negative = unit(mPosition) == '-';
        if (negative) ++mPosition;
        if (!isDigit(mPosition)) return fail(negative ? "invalid number" : "expected a value", start);
        mDigits.clear();
        int64_t exponent = 0;
        while (isDigit(mPosition)) mDigits.push_back(static_cast<char>(unit(mPosition++)));
        if (mPosition < mLength && unit(mPosition) == '.') {
            ++mPosition;
            if (!isDigit(mPosition)) return fail("invalid number");
            while (isDigit(mPosition)) {
                mDigits.push_back(static_cast<char>(unit(mPosition++)));
                --exponent;
            }
        }
        if (mPosition < mLength && (unit(mPosition) == 'e' || unit(mPosition) == 'E')) {
            ++mPosition;
            bool negativeExponent = mPosition < mLength && unit(mPosition) == '-';
            if (mPosition < mLength && (unit(mPosition) == '-' || unit(mPosition) == '+')) ++mPosition;
            if (!isDigit(mPosition)) return fail("invalid number");
            int64_t written = 0;
            // Saturates: any exponent this large is out of range whatever the digits.
            while (isDigit(mPosition))
                written = std::min<int64_t>(written * 10 + (unit(mPosition++) - '0'), 1'000'000'000);
            exponent += negativeExponent ? -written : written;
        }
        auto decimal = KQUDecimal::fromDigits(negative, mDigits, exponent);
        if (!decimal) return fail("number out of range", start);
        value = KQUValue(*decimal);
        return true;
    }

    bool parseHexUnit(char32_t& result) {
        result = 0;
        for (int i = 0; i < 4; ++i) {
            int digit = mPosition < mLength ? hexValue(unit(mPosition)) : -1;
            if (digit < 0) return fail("invalid \\u escape");
            result = result * 16 + static_cast<char32_t>(digit);
            ++mPosition;
        }
        return true;
    }

    void appendRun(std::string& out, size_t start, size_t end) {
        if constexpr (sizeof(Unit) == 1) out.append(mText + start, end - start);
        else appendUTF16(out, mText + start, end - start);
    }

    bool parseString(std::string& out) {
        ++mPosition;  // the opening quotation mark
        for (;;) {
            size_t run = mPosition;
            while (mPosition < mLength) {
                char32_t c = unit(mPosition);
                if (c == '"' || c == '\\' || c < 0x20 || c == 0x7F) break;
                if (c < 0x80) {
                    ++mPosition;
                    continue;
                }
                if constexpr (sizeof(Unit) == 1) {
                    int length = decode(mPosition, c);
                    if (!length) return fail("invalid UTF-8");
                    if (c <= 0x9F) break;
                    mPosition += static_cast<size_t>(length);
                } else {
                    if (c <= 0x9F) break;
                    ++mPosition;
                }
            }
            if (mBuild) appendRun(out, run, mPosition);
            if (mPosition >= mLength) return fail("unterminated string");
            char32_t c = unit(mPosition);
            if (c == '"') {
                ++mPosition;
                return true;
            }
            if (c != '\\') return fail("control character in string");
            ++mPosition;
            if (mPosition >= mLength) return fail("unterminated string");
            switch (unit(mPosition++)) {
                case '"': out.push_back('"'); break;
                case '/': out.push_back('/'); break;
                case '\\': out.push_back('\\'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': {
                    char32_t code;
                    if (!parseHexUnit(code)) return false;
                    if (isHighSurrogate(code) && mPosition + 6 <= mLength && unit(mPosition) == '\\' &&
                        unit(mPosition + 1) == 'u') {
                        size_t save = mPosition;
                        mPosition += 2;
                        char32_t low;
                        if (!parseHexUnit(low)) return false;
                        if (isLowSurrogate(low)) code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        else mPosition = save;  // a lone high surrogate; the next escape stands alone
                    }
                    if (isHighSurrogate(code) || isLowSurrogate(code)) code = 0xFFFD;
                    appendUTF8(out, code);
                    break;
                }
                default: return fail("invalid escape", mPosition - 2);
            }
        }
    }

    const Unit* mText;
    size_t mLength;
    bool mBuild;
    size_t mPosition = 0;
    std::string mDigits;
    KQUJsonError mError;
};

template <typename Unit>
std::optional<KQUValue> parseText(std::basic_string_view<Unit> text, Top top, KQUJsonError* error, size_t* end) {
    Scanner<Unit> scanner(text);
    auto value = scanner.parseTop(top);
    if (!value && error) *error = scanner.error();
    if (value && end) *end = scanner.position();
    return value;
}

// ---- Writing ----

void appendString(std::string_view s, std::string& out) {
    out.push_back('"');
    // Plain: nothing to escape, and well-formed UTF-8 (a string made from bytes may not be).
    bool plain = true, special = false;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t decoded;
        if (c < 0x20 || c == '"' || c == '\\') {
            plain = false;
            special = true;
            break;
        }
        if (c == 0x7F) {  // the reader takes DEL and U+0080-U+009F only escaped
            plain = false;
            break;
        }
        if (c >= 0x80) {
            int length = decodeUTF8(reinterpret_cast<const unsigned char*>(s.data() + i), s.size() - i, decoded);
            if (!length || decoded <= 0x9F) {
                plain = false;
                break;
            }
            i += static_cast<size_t>(length) - 1;
        }
    }
    if (!plain && !special) {
        for (char c : s) special = special || static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
    }
    if (plain) {
        out.append(s);
    } else {
        for (size_t i = 0; i < s.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            char32_t decoded;
            switch (c) {
                case '\b': out += "\\b"; break;
                case '\t': out += "\\t"; break;
                case '\n': out += "\\n"; break;
                case '\f': out += "\\f"; break;
                case '\r': out += "\\r"; break;
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        fmt::format_to(std::back_inserter(out), "\\u{:04x}", c);
                    } else if (c < 0x80) {
                        out.push_back(static_cast<char>(c));
                    } else if (int length = decodeUTF8(reinterpret_cast<const unsigned char*>(s.data() + i),
                                                       s.size() - i, decoded);
                               !length) {
                        out += "\xef\xbf\xbd";  // ill-formed UTF-8 would make the text unreadable
                    } else if (decoded <= 0x9F) {
                        fmt::format_to(std::back_inserter(out), "\\u{:04x}", static_cast<unsigned>(decoded));
                        i += static_cast<size_t>(length) - 1;
                    } else {
                        if (special && (decoded == 0x2028 || decoded == 0x2029))
                            out += decoded == 0x2028 ? "\\u2028" : "\\u2029";
                        else
                            out.append(s.substr(i, static_cast<size_t>(length)));
                        i += static_cast<size_t>(length) - 1;
                    }
            }
        }
    }
    out.push_back('"');
}

void appendScalar(const KQUValue& value, std::string& out) {
    switch (value.type()) {
        case KQUValue::Type::Null: out += "null"; return;
        case KQUValue::Type::Bool: out += *value.boolean() ? "true" : "false"; return;
        case KQUValue::Type::Integer: fmt::format_to(std::back_inserter(out), "{}", *value.integer()); return;
        case KQUValue::Type::Decimal: out += value.decimal()->toString(); return;
        case KQUValue::Type::String: appendString(*value.string(), out); return;
        case KQUValue::Type::Real: {
            double d = *value.real();
            if (!std::isfinite(d)) {
                KQU_ASSERT_FAILURE("{} doesn't support JSON encoding", d);
                out += "null";
                return;
            }
            char buffer[32];
            auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
            out.append(buffer, result.ptr);
            return;
        }
        default:
            KQU_ASSERT_FAILURE("{} doesn't support JSON encoding", "KQUData");
            out += "null";
            return;
    }
}

void appendCompact(const KQUValue& value, std::string& out) {
    if (const KQUValueArray* array = value.array()) {
        out.push_back('[');
        for (size_t i = 0; i < array->size(); ++i) {
            if (i) out.push_back(',');
            appendCompact((*array)[i], out);
        }
        out.push_back(']');
    } else if (const KQUValueDictionary* dictionary = value.dictionary()) {
        out.push_back('{');
        bool first = true;
        for (const auto& [key, element] : *dictionary) {
            if (!first) out.push_back(',');
            first = false;
            appendString(key, out);
            out.push_back(':');
            appendCompact(element, out);
        }
        out.push_back('}');
    } else {
        appendScalar(value, out);
    }
}

void appendPretty(const KQUValue& value, std::string& out, int indent, int level) {
    auto newline = [&](int atLevel) {
        out.push_back('\n');
        out.append(static_cast<size_t>(indent) * static_cast<size_t>(atLevel), ' ');
    };
    if (const KQUValueArray* array = value.array(); array && !array->empty()) {
        out.push_back('[');
        for (size_t i = 0; i < array->size(); ++i) {
            if (i) out.push_back(',');
            newline(level + 1);
            appendPretty((*array)[i], out, indent, level + 1);
        }
        newline(level);
        out.push_back(']');
    } else if (const KQUValueDictionary* dictionary = value.dictionary(); dictionary && !dictionary->empty()) {
        out.push_back('{');
        bool first = true;
        for (const auto& [key, element] : *dictionary) {
            if (!first) out.push_back(',');
            first = false;
            newline(level + 1);
            appendString(key, out);
            out += ": ";
            appendPretty(element, out, indent, level + 1);
        }
        newline(level);
        out.push_back('}');
    } else {
        appendCompact(value, out);
    }
}

}  // namespace

std::string KQUJson::stringFromObject(const KQUValue& value) {
    std::string out;
    appendCompact(value, out);
    return out;
}

void KQUJson::appendJsonString(const KQUValue& value, std::string& out) { appendCompact(value, out); }

std::string KQUJson::prettyStringFromObject(const KQUValue& value, int indent) {
    std::string out;
    appendPretty(value, out, std::max(indent, 0), 0);
    return out;
}

std::optional<KQUValue> KQUJson::arrayFromString(std::u16string_view text) {
    return parseText(text, Top::Array, nullptr, nullptr);
}
std::optional<KQUValue> KQUJson::dictionaryFromString(std::u16string_view text) {
    return parseText(text, Top::Dictionary, nullptr, nullptr);
}
std::optional<KQUValue> KQUJson::arrayFromString(std::string_view utf8) {
    return parseText(utf8, Top::Array, nullptr, nullptr);
}
std::optional<KQUValue> KQUJson::dictionaryFromString(std::string_view utf8) {
    return parseText(utf8, Top::Dictionary, nullptr, nullptr);
}
std::optional<KQUValue> KQUJson::parse(std::u16string_view text, KQUJsonError* error, size_t* end) {
    return parseText(text, Top::Any, error, end);
}
std::optional<KQUValue> KQUJson::parse(std::string_view utf8, KQUJsonError* error, size_t* end) {
    return parseText(utf8, Top::Any, error, end);
}

bool KQUJson::validate(std::string_view utf8, KQUJsonError* error, size_t* end) {
    Scanner<char> scanner(utf8, false);
    bool valid = scanner.parseTop(Top::Any).has_value();
    if (!valid && error) *error = scanner.error();
    if (valid && end) *end = scanner.position();
    return valid;
}

size_t KQUJson::skipWhitespace(std::string_view utf8, size_t offset) {
    Scanner<char> scanner(utf8.substr(std::min(offset, utf8.size())));
    scanner.skipWhitespace();
    return std::min(offset, utf8.size()) + scanner.position();
}

}  // namespace kqu
