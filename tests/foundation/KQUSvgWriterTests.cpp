// The SVG writer: exact bytes of a small document, numbers, and unsafe text (expected forms by hand).
#include <cmath>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUSvgWriter.h"

namespace {

using kqu::KQUSvgWriter;

TEST(KQUSvgWriter, WritesEscapedElementsOneToALine) {
    KQUSvgWriter svg(10, 20.5, "a&b");
    svg.start("g", {{"fill", "#fff"}});
    svg.element("text", {{"x", 1.5}, {"class", "q\"t"}}, "<x>");
    std::string bytes = svg.finish();  // closes the group and the root
    EXPECT_EQ(
        bytes,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"20.5\" viewBox=\"0 0 10 20.5\">\n"
        "<title>a&amp;b</title>\n"
        "<g fill=\"#fff\">\n"
        "<text x=\"1.5\" class=\"q&quot;t\">&lt;x&gt;</text>\n"
        "</g>\n"
        "</svg>\n");
    EXPECT_THROW(svg.start("g"), std::logic_error);
}

TEST(KQUSvgWriter, NumbersAndUnsafeText) {
    const std::pair<double, const char*> numbers[] = {
        {3, "3"}, {2.5, "2.5"}, {-7.1, "-7.1"}, {1234.567, "1234.57"}, {-0.001, "0"}, {NAN, "0"}};
    for (auto [value, text] : numbers) EXPECT_EQ(KQUSvgWriter::number(value), text) << value;

    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const std::pair<std::string, std::string> texts[] = {
        {"plain <&> \t\n\r text", "plain <&> \t\n\r text"},
        {"\xC3\xA4\xE6\x9D\xB1\xF0\x9F\x98\x80", "\xC3\xA4\xE6\x9D\xB1\xF0\x9F\x98\x80"},  // ä 東 😀
        {"a\x01"
         "b\x1F",
         "a" + r + "b" + r},  // controls XML 1.0 has no place for
        {"x\xC3", "x" + r},   // truncated at the end
        {"\xE2\x82"
         "A",
         r + "A"},  // broken off; resumes at the breaking byte
        // Ill-formed sequences: one replacement per maximal subpart, as Python's decode(errors="replace").
        {"\xC0\x80", r + r},                  // overlong
        {"\xED\xA0\x80", r + r + r},          // a surrogate
        {"\xEF\xBF\xBE", r},                  // U+FFFE
        {"\xF4\x90\x80\x80", r + r + r + r},  // beyond U+10FFFF
        {"\x80z", r + "z"},                   // a lone continuation byte
    };
    for (const auto& [in, out] : texts) EXPECT_EQ(KQUSvgWriter::xmlSafeText(in), out) << in;
}

}  // namespace
