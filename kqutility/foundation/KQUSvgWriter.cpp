#include "kqutility/foundation/KQUSvgWriter.h"

#include <libxml/xmlwriter.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "kqutility/foundation/KQUUnicode.h"

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
    for (size_t i = 0; i < s.size();) {
        const size_t start = i;
        const int32_t code = KQUNextUTF8CodePoint(s, i);
        // A broken sequence gives one replacement and resumes at the byte that broke it.
        if (code >= 0 && isXmlCharacter(static_cast<uint32_t>(code)))
            out.append(s.substr(start, i - start));
        else
            out += kReplacement;
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
