#include "kqutility/foundation/KQUPropertyList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <fmt/format.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "kqutility/foundation/KQUCivilDate.h"
#include "kqutility/foundation/KQUScopeExit.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

namespace {

// A failure anywhere in a reader: caught once at the top and turned into nullopt.
struct ReadFailure {
    std::string reason;
};
[[noreturn]] void refuse(std::string reason) { throw ReadFailure{std::move(reason)}; }

// ---- dates --------------------------------------------------------------------------

unsigned daysInMonth(int64_t y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// ---- base64 -------------------------------------------------------------------------

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Digit(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// White space is skipped; padding may be present or not; anything else is refused.
KQUData decodeBase64(std::string_view text) {
    KQUData out;
    out.reserve(text.size() / 4 * 3);
    uint32_t accumulator = 0;
    int bits = 0;
    size_t padding = 0;
    for (unsigned char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        int digit = base64Digit(c);
        if (digit < 0 || padding) refuse("<data> holds a character that is not base64");
        accumulator = (accumulator << 6) | static_cast<uint32_t>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(accumulator >> bits));
        }
    }
    if (bits >= 6 || padding > 2) refuse("<data> is not complete base64");
    return out;
}

void appendBase64(std::string& out, const KQUData& data, std::string_view indent) {
    size_t column = 0;
    auto put = [&](char c) {
        if (column == 0) out += indent;
        out += c;
        if (++column == 76) {
            out += '\n';
            column = 0;
        }
    };
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        for (int s = 18; s >= 0; s -= 6) put(kBase64[(v >> s) & 63]);
    }
    if (size_t rest = data.size() - i) {
        uint32_t v = uint32_t(data[i]) << 16 | (rest == 2 ? uint32_t(data[i + 1]) << 8 : 0);
        put(kBase64[(v >> 18) & 63]);
        put(kBase64[(v >> 12) & 63]);
        put(rest == 2 ? kBase64[(v >> 6) & 63] : '=');
        put('=');
    }
    if (column) out += '\n';
}

// ---- shared reading budget ----------------------------------------------------------

class Budget {
public:
    explicit Budget(const KQUPropertyListLimits& limits) : mLimits(limits) {}
    void enter(size_t depth) const {
        if (depth > mLimits.maxDepth) refuse(fmt::format("nested deeper than {} levels", mLimits.maxDepth));
    }
    void count(uint64_t values) {
        mValues += values;
        if (mValues > mLimits.maxValues) refuse(fmt::format("holds more than {} values", mLimits.maxValues));
    }

private:
    const KQUPropertyListLimits& mLimits;
    uint64_t mValues = 0;
};

// ---- XML ----------------------------------------------------------------------------

std::string_view trimmed(std::string_view s) {
    const char* blanks = " \t\r\n";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool isNamed(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// The element's text. Entity references other than the predefined ones (which the parser
// has already replaced) are refused rather than expanded.
std::string textOf(const xmlNode* element) {
    std::string text;
    for (const xmlNode* c = element->children; c; c = c->next) {
        switch (c->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (c->content) text += reinterpret_cast<const char*>(c->content);
                break;
            case XML_COMMENT_NODE:
            case XML_PI_NODE: break;
            case XML_ENTITY_REF_NODE: refuse(fmt::format("entity reference &{}; is not allowed", (const char*)c->name));
            default: refuse(fmt::format("<{}> holds an element", (const char*)element->name));
        }
    }
    return text;
}

// The element children of node, refusing stray text.
std::vector<const xmlNode*> elementChildren(const xmlNode* node) {
    std::vector<const xmlNode*> out;
    for (const xmlNode* c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            out.push_back(c);
        else if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content &&
                 !trimmed(reinterpret_cast<const char*>(c->content)).empty())
            refuse(fmt::format("<{}> holds text outside its elements", (const char*)node->name));
        else if (c->type == XML_ENTITY_REF_NODE)
            refuse(fmt::format("entity reference &{}; is not allowed", (const char*)c->name));
    }
    return out;
}

KQUValue parseXMLInteger(std::string_view raw) {
    std::string_view text = trimmed(raw);
    bool negative = false;
    std::string_view digits = text;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) refuse(fmt::format("<integer> \"{}\" is not a number", text));
    unsigned __int128 magnitude = 0;
    for (char c : digits) {
        int d = c >= '0' && c <= '9'                ? c - '0'
                : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
        if (d < 0) refuse(fmt::format("<integer> \"{}\" is not a number", text));
        magnitude = magnitude * base + d;
        if (magnitude > (unsigned __int128)1 << 64) refuse(fmt::format("<integer> {} is out of range", text));
    }
    if (negative ? magnitude > (unsigned __int128)1 << 63 : magnitude > (unsigned __int128)INT64_MAX)
        refuse(fmt::format("<integer> {} is out of range", text));
    return KQUValue(negative ? static_cast<int64_t>(-static_cast<__int128>(magnitude)) : static_cast<int64_t>(magnitude));
}

KQUValue parseXMLReal(std::string_view raw) {
    std::string text(trimmed(raw));
    if (text.empty()) refuse("<real> is empty");
    char* end = nullptr;
    double d = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) refuse(fmt::format("<real> \"{}\" is not a number", text));
    return KQUValue(d);
}

class XMLReader {
public:
    explicit XMLReader(const KQUPropertyListLimits& limits) : mBudget(limits) {}

    KQUValue read(std::string_view bytes) {
        // libxml2 wants its globals set up once before threads parse at the same time.
        static const bool sInitialised = (xmlInitParser(), true);
        (void)sInitialised;
        // No external DTD, no entity substitution, no network; libxml2 keeps its own
        // limits on names and text (no XML_PARSE_HUGE).
        const int options = XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR | XML_PARSE_NOCDATA;
        xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, options);
        if (!doc) {
            const xmlError* e = xmlGetLastError();
            std::string message = e && e->message ? std::string(trimmed(e->message)) : "not well-formed";
            refuse(fmt::format("not a well-formed XML property list (line {}: {})", e ? e->line : 0, message));
        }
        auto freeDoc = KQUScopeExit([&] { xmlFreeDoc(doc); });
        const xmlNode* root = xmlDocGetRootElement(doc);
        if (!root) refuse("the XML document has no root element");
        if (!isNamed(root, "plist")) return value(root, 0);
        auto children = elementChildren(root);
        if (children.size() != 1) refuse(fmt::format("<plist> must hold one value, not {}", children.size()));
        return value(children[0], 0);
    }

private:
    KQUValue value(const xmlNode* node, size_t depth) {
        mBudget.count(1);
        if (isNamed(node, "dict")) {
            mBudget.enter(depth + 1);
            KQUValueDictionary dictionary;
            auto children = elementChildren(node);
            for (size_t i = 0; i < children.size(); i += 2) {
                if (!isNamed(children[i], "key"))
                    refuse(fmt::format("<dict> holds <{}> where a <key> belongs", (const char*)children[i]->name));
                if (i + 1 == children.size()) refuse("<dict> ends with a <key> that has no value");
                std::string key = textOf(children[i]);
                KQUDictionarySet(dictionary, std::move(key), value(children[i + 1], depth + 1));
            }
            return KQUValue(std::move(dictionary));
        }
        if (isNamed(node, "array")) {
            mBudget.enter(depth + 1);
            KQUValueArray array;
            for (const xmlNode* child : elementChildren(node)) array.push_back(value(child, depth + 1));
            return KQUValue(std::move(array));
        }
        if (isNamed(node, "string")) return KQUValue(textOf(node));
        if (isNamed(node, "integer")) return parseXMLInteger(textOf(node));
        if (isNamed(node, "real")) return parseXMLReal(textOf(node));
        if (isNamed(node, "true") || isNamed(node, "false")) {
            if (!trimmed(textOf(node)).empty()) refuse(fmt::format("<{}/> must be empty", (const char*)node->name));
            return KQUValue(isNamed(node, "true"));
        }
        if (isNamed(node, "data")) return KQUValue(decodeBase64(textOf(node)));
        if (isNamed(node, "date")) {
            std::string text = textOf(node);
            auto date = KQUPropertyListDateFromString(trimmed(text));
            if (!date) refuse(fmt::format("<date> \"{}\" is not an ISO 8601 date", trimmed(text)));
            return KQUValue(*date);
        }
        refuse(fmt::format("unknown element <{}>", (const char*)node->name));
    }

    Budget mBudget;
};

// ---- binary -------------------------------------------------------------------------

class BinaryReader {
public:
    BinaryReader(std::string_view bytes, const KQUPropertyListLimits& limits)
        : mBytes(reinterpret_cast<const uint8_t*>(bytes.data())), mSize(bytes.size()), mLimits(limits), mBudget(limits) {}

    KQUValue read() {
        if (mSize < 8 + 32) refuse("binary property list is too short");
        const uint8_t* trailer = mBytes + mSize - 32;
        mOffsetSize = trailer[6];
        mRefSize = trailer[7];
        uint64_t objectCount = be(trailer + 8, 8);
        uint64_t top = be(trailer + 16, 8);
        uint64_t tableOffset = be(trailer + 24, 8);
        if (mOffsetSize < 1 || mOffsetSize > 8 || mRefSize < 1 || mRefSize > 8)
            refuse("binary property list trailer has bad integer sizes");
        const uint64_t tableEnd = mSize - 32;
        if (objectCount == 0 || top >= objectCount) refuse("binary property list has no top object");
        if (tableOffset < 8 || tableOffset > tableEnd || objectCount > (tableEnd - tableOffset) / mOffsetSize)
            refuse("binary property list offset table lies outside the file");
        // Every object a writer stores is used at least once, so a list with more objects
        // than values allowed is refused before any table is allocated for it.
        if (objectCount > mLimits.maxValues) refuse(fmt::format("holds more than {} values", mLimits.maxValues));
        mObjectCount = objectCount;
        mTable = mBytes + tableOffset;
        mObjectsEnd = tableOffset;
        mState.assign(objectCount, State{});
        return object(top, 0);
    }

private:
    struct State {
        bool busy = false;  // being decoded: meeting it again is a cycle
        bool done = false;
        uint64_t weight = 0;  // values the object stands for, shared children counted each time
        size_t height = 0;    // container levels below and including the object
        KQUValue value;
    };

    static uint64_t be(const uint8_t* p, size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
        return v;
    }

    // Bytes [offset, offset + length) of the object area, checked.
    const uint8_t* span(uint64_t offset, uint64_t length) const {
        if (offset > mObjectsEnd || length > mObjectsEnd - offset) refuse("binary property list object runs past its area");
        return mBytes + offset;
    }

    uint64_t offsetOf(uint64_t ref) const {
        if (ref >= mObjectCount) refuse(fmt::format("binary property list refers to object {} of {}", ref, mObjectCount));
        uint64_t offset = be(mTable + ref * mOffsetSize, mOffsetSize);
        if (offset < 8 || offset >= mObjectsEnd) refuse("binary property list object offset lies outside the file");
        return offset;
    }

    // The count in a marker's low nibble, or the integer object that follows when it is 15.
    uint64_t count(uint8_t marker, uint64_t& position) const {
        if ((marker & 0x0F) != 0x0F) return marker & 0x0F;
        uint8_t intMarker = *span(position, 1);
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) refuse("binary property list has a bad length");
        size_t n = size_t(1) << (intMarker & 0x0F);
        uint64_t value = be(span(position + 1, n), n);
        position += 1 + n;
        return value;
    }

    KQUValue object(uint64_t ref, size_t depth) {
        if (ref >= mObjectCount) refuse(fmt::format("binary property list refers to object {} of {}", ref, mObjectCount));
        State& state = mState[ref];
        if (state.busy) refuse("binary property list holds a reference cycle");
        if (state.done) {
            // A shared object is decoded once, but counted and measured where it is used
            // again, as a reader walking the result would meet it.
            mBudget.count(state.weight);
            mWeight += state.weight;
            if (state.height) mBudget.enter(depth + state.height);
            mHeight = state.height;
            return state.value;
        }
        state.busy = true;
        uint64_t before = mWeight;
        mHeight = 0;
        KQUValue v = decode(offsetOf(ref), depth);
        State& after = mState[ref];
        after.busy = false;
        after.done = true;
        after.weight = mWeight - before;
        after.height = mHeight;
        after.value = v;
        return v;
    }

    KQUValue decode(uint64_t offset, size_t depth) {
        countOne();
        uint8_t marker = *span(offset, 1);
        uint64_t position = offset + 1;
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08) return KQUValue(false);
                if (marker == 0x09) return KQUValue(true);
                refuse(fmt::format("binary property list object 0x{:02x} has no value form", marker));
            case 0x1: {
                unsigned power = marker & 0x0F;
                if (power > 4) refuse("binary property list integer is too wide");
                size_t n = size_t(1) << power;
                const uint8_t* p = span(position, n);
                if (n == 16) {
                    // 128-bit: only values that fit in 64 signed bits are accepted.
                    uint64_t high = be(p, 8), low = be(p + 8, 8);
                    bool fits = (high == 0 && low <= uint64_t(INT64_MAX)) || (high == UINT64_MAX && low > uint64_t(INT64_MAX));
                    if (!fits) refuse("binary property list integer is out of range");
                    return KQUValue(static_cast<int64_t>(low));
                }
                uint64_t v = be(p, n);
                return KQUValue(static_cast<int64_t>(v));  // 8 bytes are signed, fewer unsigned
            }
            case 0x2: {
                unsigned power = marker & 0x0F;
                if (power == 2) {
                    uint32_t bits = static_cast<uint32_t>(be(span(position, 4), 4));
                    float f;
                    std::memcpy(&f, &bits, 4);
                    return KQUValue(static_cast<double>(f));
                }
                if (power == 3) {
                    uint64_t bits = be(span(position, 8), 8);
                    double d;
                    std::memcpy(&d, &bits, 8);
                    return KQUValue(d);
                }
                refuse("binary property list real has a bad width");
            }
            case 0x3: {
                if (marker != 0x33) refuse("binary property list date has a bad width");
                uint64_t bits = be(span(position, 8), 8);
                double d;
                std::memcpy(&d, &bits, 8);
                return KQUValue(KQUDate{d});
            }
            case 0x4: {
                uint64_t n = count(marker, position);
                const uint8_t* p = span(position, n);
                return KQUValue(KQUData(p, p + n));
            }
            case 0x5: {
                uint64_t n = count(marker, position);
                const uint8_t* p = span(position, n);
                for (uint64_t i = 0; i < n; ++i)
                    if (p[i] >= 0x80) refuse("binary property list ASCII string holds a non-ASCII byte");
                return KQUValue(std::string(reinterpret_cast<const char*>(p), n));
            }
            case 0x6: {
                uint64_t n = count(marker, position);
                if (n > mObjectsEnd / 2) refuse("binary property list object runs past its area");
                const uint8_t* p = span(position, n * 2);
                std::u16string units(n, u'\0');
                for (uint64_t i = 0; i < n; ++i) units[i] = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
                for (uint64_t i = 0; i < n; ++i) {
                    char16_t u = units[i];
                    bool high = u >= 0xD800 && u <= 0xDBFF, low = u >= 0xDC00 && u <= 0xDFFF;
                    if (low || (high && (i + 1 == n || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)))
                        refuse("binary property list string holds an unpaired surrogate");
                    if (high) ++i;
                }
                return KQUValue(KQUUTF8FromUTF16(units));
            }
            case 0x8: refuse("binary property list UIDs have no value form");
            case 0xA:
            case 0xC: {
                uint64_t n = count(marker, position);
                std::vector<uint64_t> refs = references(position, n);
                mBudget.enter(depth + 1);
                KQUValueArray array;
                array.reserve(refs.size());
                size_t height = 0;
                for (uint64_t r : refs) {
                    array.push_back(object(r, depth + 1));
                    height = std::max(height, mHeight);
                }
                mHeight = height + 1;
                return KQUValue(std::move(array));
            }
            case 0xD: {
                uint64_t n = count(marker, position);
                if (n > mObjectsEnd / 2) refuse("binary property list object runs past its area");
                std::vector<uint64_t> refs = references(position, n * 2);
                mBudget.enter(depth + 1);
                KQUValueDictionary dictionary;
                dictionary.reserve(n);
                size_t height = 0;
                for (uint64_t i = 0; i < n; ++i) {
                    KQUValue key = object(refs[i], depth + 1);
                    if (!key.string()) refuse("binary property list dictionary key is not a string");
                    KQUValue value = object(refs[n + i], depth + 1);
                    height = std::max(height, mHeight);
                    KQUDictionarySet(dictionary, *key.string(), std::move(value));
                }
                mHeight = height + 1;
                return KQUValue(std::move(dictionary));
            }
            default: refuse(fmt::format("binary property list object 0x{:02x} is unknown", marker));
        }
    }

    std::vector<uint64_t> references(uint64_t position, uint64_t n) const {
        if (n > mObjectsEnd / mRefSize) refuse("binary property list object runs past its area");
        if (n > mLimits.maxValues) refuse(fmt::format("holds more than {} values", mLimits.maxValues));
        const uint8_t* p = span(position, n * mRefSize);
        std::vector<uint64_t> refs(n);
        for (uint64_t i = 0; i < n; ++i) refs[i] = be(p + i * mRefSize, mRefSize);
        return refs;
    }

    void countOne() {
        ++mWeight;
        mBudget.count(1);
    }

    const uint8_t* mBytes;
    uint64_t mSize;
    const KQUPropertyListLimits& mLimits;
    Budget mBudget;
    size_t mOffsetSize = 0;
    size_t mRefSize = 0;
    uint64_t mObjectCount = 0;
    const uint8_t* mTable = nullptr;
    uint64_t mObjectsEnd = 0;
    uint64_t mWeight = 0;
    size_t mHeight = 0;  // of the object decode() or object() just returned
    std::vector<State> mState;
};

// ---- XML writer ---------------------------------------------------------------------

[[noreturn]] void refuseToWrite(std::string reason) { throw KQUException(NSInvalidArgumentException, std::move(reason)); }

void appendEscaped(std::string& out, std::string_view text) {
    if (!KQUUTF16FromUTF8(text)) refuseToWrite("property-list strings must be UTF-8");
    // U+FFFE and U+FFFF are no XML characters either.
    if (text.find("\xEF\xBF\xBE") != std::string_view::npos || text.find("\xEF\xBF\xBF") != std::string_view::npos)
        refuseToWrite("property-list strings cannot hold U+FFFE or U+FFFF");
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\r': out += "&#13;"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n')
                    refuseToWrite("property-list strings cannot hold control characters");
                out += c;
        }
    }
}

void writeValue(std::string& out, const KQUValue& v, size_t depth) {
    std::string indent(depth, '\t');
    switch (v.type()) {
        case KQUValue::Type::Null: refuseToWrite("a null value has no property-list form");
        case KQUValue::Type::Object: refuseToWrite("an object value has no property-list form");
        case KQUValue::Type::Bool: out += indent + (v.boolValue() ? "<true/>\n" : "<false/>\n"); return;
        case KQUValue::Type::Integer: out += fmt::format("{}<integer>{}</integer>\n", indent, v.integerValue()); return;
        case KQUValue::Type::Real: {
            double d = v.doubleValue();
            std::string text = std::isnan(d) ? "nan" : std::isinf(d) ? (d > 0 ? "inf" : "-inf") : fmt::format("{}", d);
            out += fmt::format("{}<real>{}</real>\n", indent, text);
            return;
        }
        case KQUValue::Type::Decimal: out += fmt::format("{}<real>{}</real>\n", indent, v.decimal()->toString()); return;
        case KQUValue::Type::String:
            out += indent + "<string>";
            appendEscaped(out, *v.string());
            out += "</string>\n";
            return;
        case KQUValue::Type::Data:
            out += indent + "<data>\n";
            appendBase64(out, *v.data(), indent);
            out += indent + "</data>\n";
            return;
        case KQUValue::Type::Date: {
            auto text = KQUPropertyListDateString(*v.date());
            if (!text) refuseToWrite("the date has no property-list form");
            out += fmt::format("{}<date>{}</date>\n", indent, *text);
            return;
        }
        case KQUValue::Type::Array:
            if (v.array()->empty()) {
                out += indent + "<array/>\n";
                return;
            }
            out += indent + "<array>\n";
            for (const KQUValue& e : *v.array()) writeValue(out, e, depth + 1);
            out += indent + "</array>\n";
            return;
        case KQUValue::Type::Dictionary:
            if (v.dictionary()->empty()) {
                out += indent + "<dict/>\n";
                return;
            }
            out += indent + "<dict>\n";
            for (const auto& [key, value] : *v.dictionary()) {
                out += indent + "\t<key>";
                appendEscaped(out, key);
                out += "</key>\n";
                writeValue(out, value, depth + 1);
            }
            out += indent + "</dict>\n";
            return;
    }
}

}  // namespace

std::optional<KQUValue> KQUPropertyListFromBytes(std::string_view bytes, std::string* error,
                                                 KQUPropertyListFormat* format, const KQUPropertyListLimits& limits) {
    try {
        if (bytes.size() > limits.maxInputBytes || bytes.size() > size_t(std::numeric_limits<int>::max()))
            refuse(fmt::format("property list is larger than {} bytes", limits.maxInputBytes));
        if (bytes.substr(0, 8) == "bplist00") {
            if (format) *format = KQUPropertyListFormat::Binary;
            return BinaryReader(bytes, limits).read();
        }
        if (bytes.substr(0, 6) == "bplist") refuse("unsupported binary property list version");
        if (format) *format = KQUPropertyListFormat::XML;
        return XMLReader(limits).read(bytes);
    } catch (const ReadFailure& failure) {
        if (error) *error = failure.reason;
    } catch (const std::bad_alloc&) {
        if (error) *error = "not enough memory to read the property list";
    }
    return std::nullopt;
}

std::optional<KQUValue> KQUPropertyListFromFile(const std::string& path, std::string* error,
                                                KQUPropertyListFormat* format, const KQUPropertyListLimits& limits) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = fmt::format("{}: {}", path, std::strerror(errno));
        return std::nullopt;
    }
    auto closeFd = KQUScopeExit([&] { ::close(fd); });
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = fmt::format("{}: not a regular file", path);
        return std::nullopt;
    }
    if (static_cast<uint64_t>(st.st_size) > limits.maxInputBytes) {
        if (error) *error = fmt::format("{}: property list is larger than {} bytes", path, limits.maxInputBytes);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (error) *error = fmt::format("{}: {}", path, std::strerror(errno));
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > limits.maxInputBytes) break;  // grew while read: the parser refuses it
    }
    std::string reason;
    auto value = KQUPropertyListFromBytes(bytes, &reason, format, limits);
    if (!value && error) *error = fmt::format("{}: {}", path, reason);
    return value;
}

std::string KQUXMLPropertyListFromValue(const KQUValue& value) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
    writeValue(out, value, 0);
    out += "</plist>\n";
    return out;
}

bool KQUWriteXMLPropertyListToFile(const KQUValue& value, const std::string& path, KQUError* error) {
    std::string text = KQUXMLPropertyListFromValue(value);
    try {
        KQUAtomicOutputFile out(path, {.mode = 0666});
        out.write(text);
        out.keep();
        return true;
    } catch (const KQUAtomicOutputFileError& e) {
        if (error) *error = KQUError{KQUPOSIXErrorDomain, e.errorNumber(), e.reason()};
        return false;
    }
}

std::optional<std::string> KQUPropertyListDateString(KQUDate date) {
    double seconds = std::floor(date.timeIntervalSinceReferenceDate);
    // Years 1 to 9999 only: the form has four year digits.
    if (!(seconds >= -63113904000.0 && seconds < 252423993600.0)) return std::nullopt;
    int64_t unix = static_cast<int64_t>(seconds) + KQUUnixTimeOfReferenceDate;
    int64_t days = unix >= 0 ? unix / 86400 : -((-unix + 86399) / 86400);
    int64_t rest = unix - days * 86400;
    const KQUCivilDate civil = KQUCivilFromDays(days);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", civil.year, civil.month, civil.day, rest / 3600,
                       rest / 60 % 60, rest % 60);
}

std::optional<KQUDate> KQUPropertyListDateFromString(std::string_view text) {
    // YYYY[-MM[-DD[THH[:MM[:SS]]]]]Z
    size_t pos = 0;
    auto number = [&](size_t digits, int& out) {
        if (pos + digits > text.size()) return false;
        out = 0;
        for (size_t i = 0; i < digits; ++i) {
            char c = text[pos + i];
            if (c < '0' || c > '9') return false;
            out = out * 10 + (c - '0');
        }
        pos += digits;
        return true;
    };
    int fields[6] = {0, 1, 1, 0, 0, 0};
    const char separators[] = {'-', '-', 'T', ':', ':'};
    if (!number(4, fields[0])) return std::nullopt;
    for (int i = 1; i < 6; ++i) {
        if (pos < text.size() && text[pos] == separators[i - 1]) {
            ++pos;
            if (!number(2, fields[i])) return std::nullopt;
        } else {
            break;
        }
    }
    if (pos + 1 != text.size() || text[pos] != 'Z') return std::nullopt;
    auto [year, month, day, hour, minute, second] = fields;
    if (year < 1 || month < 1 || month > 12 || day < 1 || unsigned(day) > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    int64_t unix = KQUDaysFromCivil(year, static_cast<int>(month), static_cast<int>(day)) * 86400 +
                   hour * 3600 + minute * 60 + second;
    return KQUDate{static_cast<double>(unix - KQUUnixTimeOfReferenceDate)};
}

}  // namespace kqu
