// KQUSvgWriter writes one self-contained SVG document into memory through libxml2's text
// writer, so that every text and attribute value is escaped by the library and the result
// is well-formed whatever the caller's strings hold.
//
//     KQUSvgWriter svg(800, 500, "Sales by month");    // <svg ...><title>Sales by month</title>
//     svg.element("rect", {{"x", 10.5}, {"y", 20}, {"width", 100}, {"height", 8}, {"fill", "#4477aa"}});
//     svg.start("text", {{"x", 40}, {"y", 30}});
//     svg.text("a < b & c");
//     svg.end();
//     std::string bytes = svg.finish();
//
// Numbers are written in the C locale with at most two decimals and no trailing zeros
// ("12.5", "-3", "0"), so the same drawing always gives the same bytes. Text that is not
// valid UTF-8, and characters that XML 1.0 does not allow (C0 controls other than tab,
// line feed and carriage return; U+FFFE, U+FFFF), are written as U+FFFD: a name from a
// damaged file still gives a document every reader parses. Each element starts on a line
// of its own except inside elements that hold text (text, tspan, title, desc), where a
// line break would be drawn as a space; nothing is indented.
//
// No scripts, styles sheets or external references are written by the class itself; what
// the caller adds is its own affair. Failures of the underlying writer (out of memory)
// throw std::runtime_error. Ownership: the object owns its libxml2 writer and buffer.
// Move-only; one thread at a time.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace kqu {

struct KQUSvgAttribute {
    KQUSvgAttribute(std::string_view attributeName, std::string_view text)
        : name(attributeName), value(text) {}
    KQUSvgAttribute(std::string_view attributeName, const char* text) : name(attributeName), value(text) {}
    KQUSvgAttribute(std::string_view attributeName, const std::string& text)
        : name(attributeName), value(text) {}
    KQUSvgAttribute(std::string_view attributeName, double number);

    std::string_view name;
    std::string value;
};

class KQUSvgWriter {
public:
    // Starts the document: the XML declaration, the root <svg> of the given size in user
    // units (viewBox 0 0 width height) and, when title is not empty, its <title>.
    KQUSvgWriter(double width, double height, std::string_view title = {});
    ~KQUSvgWriter();
    KQUSvgWriter(KQUSvgWriter&&) noexcept;
    KQUSvgWriter& operator=(KQUSvgWriter&&) noexcept;

    // Opens an element with its attributes; end() closes the innermost open one.
    void start(std::string_view name, std::initializer_list<KQUSvgAttribute> attributes = {});
    void end();
    // Adds one attribute to the element just started (before any content).
    void attribute(const KQUSvgAttribute& attribute);
    // Character data inside the open element.
    void text(std::string_view utf8);
    // start, text (when not empty), end.
    void element(std::string_view name, std::initializer_list<KQUSvgAttribute> attributes,
                 std::string_view text = {});

    // Closes every open element and returns the document's bytes (UTF-8). The writer
    // is spent afterwards.
    [[nodiscard]] std::string finish();

    // How numbers are written: at most two decimals, C locale, no "-0"; non-finite
    // values as "0" (a drawing never has a use for them).
    static std::string number(double value);
    // utf8 with invalid sequences and characters XML does not allow replaced by U+FFFD.
    static std::string xmlSafeText(std::string_view utf8);

private:
    struct State;
    std::unique_ptr<State> mState;
};

}  // namespace kqu
