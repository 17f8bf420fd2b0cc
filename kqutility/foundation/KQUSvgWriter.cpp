#include "kqutility/foundation/KQUSvgWriter.h"

#include <libxml/xmlwriter.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

namespace kqu {
namespace {

const xmlChar* xml(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}

void check(int result, const char* what) {
    if (result < 0) throw std::runtime_error(fmt::format("SVG writer: {} failed", what));
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Elements whose content is text: a line break inside one would be drawn as a space.
bool holdsText(std::string_view name) {
    return name == "text" || name == "tspan" || name == "title" || name == "desc" || name == "textPath";
}

bool isXmlCharacter(uint32_t c) {
    if (c < 0x20) return c == 0x09 || c == 0x0A || c == 0x0D;
    return c != 0xFFFE && c != 0xFFFF;
}

}  // namespace

std::string KQUSvgWriter::number(double value) {
    if (!std::isfinite(value)) return "0";
    std::string text = fmt::format("{:.2f}", value);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}

std::string KQUSvgWriter::xmlSafeText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (isXmlCharacter(c))
                out += static_cast<char>(c);
            else
                out += kReplacement;
            ++i;
            continue;
        }
        size_t extra;
        uint32_t minimum, code;
        if ((c & 0xE0) == 0xC0)
            extra = 1, minimum = 0x80, code = c & 0x1F;
        else if ((c & 0xF0) == 0xE0)
            extra = 2, minimum = 0x800, code = c & 0x0F;
        else if ((c & 0xF8) == 0xF0)
            extra = 3, minimum = 0x10000, code = c & 0x07;
        else
            extra = 0, minimum = 1, code = 0;  // a byte that starts no character
        size_t k = 1;
        for (; extra != 0 && k <= extra && i + k < s.size(); ++k) {
            auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) break;
            code = (code << 6) | (d & 0x3F);
        }
        bool valid = extra != 0 && k == extra + 1 && code >= minimum && code <= 0x10FFFF &&
                     !(code >= 0xD800 && code <= 0xDFFF) && isXmlCharacter(code);
        if (valid)
            out.append(s.substr(i, k));
        else
            out += kReplacement;
        // A broken sequence gives one replacement and resumes at the byte that broke it.
        i += extra == 0 ? 1 : k;
    }
    return out;
}

KQUSvgAttribute::KQUSvgAttribute(std::string_view attributeName, double value)
    : name(attributeName), value(KQUSvgWriter::number(value)) {}

struct KQUSvgWriter::State {
    xmlBufferPtr buffer = nullptr;
    xmlTextWriterPtr writer = nullptr;
    struct Frame {
        bool holdsText;
        bool hasChildElements;
    };
    std::vector<Frame> open;
    bool finished = false;

    void newline() { check(xmlTextWriterWriteRaw(writer, BAD_CAST "\n"), "write"); }

    ~State() {
        if (writer) xmlFreeTextWriter(writer);
        if (buffer) xmlBufferFree(buffer);
    }
};

KQUSvgWriter::KQUSvgWriter(double width, double height, std::string_view title)
    : mState(std::make_unique<State>()) {
    mState->buffer = xmlBufferCreate();
    if (!mState->buffer) throw std::bad_alloc();
    mState->writer = xmlNewTextWriterMemory(mState->buffer, 0);
    if (!mState->writer) throw std::bad_alloc();
    check(xmlTextWriterStartDocument(mState->writer, "1.0", "UTF-8", nullptr), "start document");
    start("svg", {{"xmlns", "http://www.w3.org/2000/svg"},
                  {"width", width},
                  {"height", height},
                  {"viewBox", fmt::format("0 0 {} {}", number(width), number(height))}});
    if (!title.empty()) element("title", {}, title);
}

KQUSvgWriter::~KQUSvgWriter() = default;
KQUSvgWriter::KQUSvgWriter(KQUSvgWriter&&) noexcept = default;
KQUSvgWriter& KQUSvgWriter::operator=(KQUSvgWriter&&) noexcept = default;

void KQUSvgWriter::start(std::string_view name, std::initializer_list<KQUSvgAttribute> attributes) {
    if (!mState || mState->finished) throw std::logic_error("SVG writer: used after finish()");
    if (!mState->open.empty()) {
        auto& parent = mState->open.back();
        parent.hasChildElements = true;
        if (!parent.holdsText) mState->newline();
    }
    check(xmlTextWriterStartElement(mState->writer, xml(std::string(name))), "start element");
    mState->open.push_back({holdsText(name), false});
    for (const auto& a : attributes) attribute(a);
}

void KQUSvgWriter::attribute(const KQUSvgAttribute& a) {
    check(xmlTextWriterWriteAttribute(mState->writer, xml(std::string(a.name)), xml(xmlSafeText(a.value))),
          "write attribute");
}

void KQUSvgWriter::text(std::string_view utf8) {
    check(xmlTextWriterWriteString(mState->writer, xml(xmlSafeText(utf8))), "write text");
}

void KQUSvgWriter::end() {
    if (!mState || mState->open.empty()) throw std::logic_error("SVG writer: no element to end");
    const auto frame = mState->open.back();
    if (frame.hasChildElements && !frame.holdsText) mState->newline();
    check(xmlTextWriterEndElement(mState->writer), "end element");
    mState->open.pop_back();
}

void KQUSvgWriter::element(std::string_view name, std::initializer_list<KQUSvgAttribute> attributes,
                           std::string_view content) {
    start(name, attributes);
    if (!content.empty()) text(content);
    end();
}

std::string KQUSvgWriter::finish() {
    if (!mState || mState->finished) throw std::logic_error("SVG writer: used after finish()");
    while (!mState->open.empty()) end();
    check(xmlTextWriterEndDocument(mState->writer), "end document");
    check(xmlTextWriterFlush(mState->writer), "flush");
    mState->finished = true;
    const xmlChar* content = xmlBufferContent(mState->buffer);
    std::string bytes(reinterpret_cast<const char*>(content),
                      static_cast<size_t>(xmlBufferLength(mState->buffer)));
    mState.reset();
    return bytes;
}

}  // namespace kqu
