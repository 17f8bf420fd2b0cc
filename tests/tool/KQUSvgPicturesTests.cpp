// kqu trend --svg and kqu zip map as a user meets them: each picture parses with libxml2
// and renders with rsvg-convert at its size; its structure is checked against answers
// found independently (hand-computed round ticks, the locale's own digits, Python's
// zipfile and struct reading of the package).
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <memory>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace {

using kqu::test::TempDir;

int run(const std::string& command, std::string* output = nullptr) {
    return kqu::test::runCommand(command + " 2>&1", output);
}

std::string kquCommand(const std::string& arguments) {
    return fmt::format("'{}' {}", KQU_TOOL_PATH, arguments);
}

// A parsed picture and XPath over it ("s:" is the SVG namespace).
class Svg {
public:
    explicit Svg(const std::string& bytes)
        : mDoc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "picture.svg", nullptr,
                             XML_PARSE_NONET),
               xmlFreeDoc) {}
    bool parsed() const { return mDoc != nullptr; }

    std::vector<xmlNodePtr> select(const std::string& path) const {
        std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(
            xmlXPathNewContext(mDoc.get()), xmlXPathFreeContext);
        xmlXPathRegisterNs(context.get(), BAD_CAST "s", BAD_CAST "http://www.w3.org/2000/svg");
        std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> result(
            xmlXPathEvalExpression(BAD_CAST path.c_str(), context.get()), xmlXPathFreeObject);
        std::vector<xmlNodePtr> nodes;
        if (result && result->nodesetval)
            for (int i = 0; i < result->nodesetval->nodeNr; ++i)
                nodes.push_back(result->nodesetval->nodeTab[i]);
        return nodes;
    }
    std::vector<std::string> texts(const std::string& path) const {
        std::vector<std::string> out;
        for (auto* node : select(path)) out.push_back(content(node));
        return out;
    }
    static std::string content(xmlNodePtr node) {
        xmlChar* text = xmlNodeGetContent(node);
        std::string out = text ? reinterpret_cast<const char*>(text) : "";
        xmlFree(text);
        return out;
    }
    static std::string attribute(xmlNodePtr node, const char* name) {
        xmlChar* value = xmlGetProp(node, BAD_CAST name);
        std::string out = value ? reinterpret_cast<const char*>(value) : "";
        xmlFree(value);
        return out;
    }

private:
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> mDoc;
};

// Renders the picture with rsvg-convert; the PNG's width and height from its header.
std::pair<uint32_t, uint32_t> renderedSize(const std::string& svgPath) {
    std::string output;
    const std::string png = svgPath + ".png";
    EXPECT_EQ(run(fmt::format("rsvg-convert -o '{}' '{}'", png, svgPath), &output), 0) << output;
    EXPECT_EQ(output, "") << "rsvg-convert complained";
    const std::string bytes = kqu::test::readFile(png);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
    auto be32 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
               uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
    };
    return {be32(16), be32(20)};
}

TEST(KquTrendSvg, ChartsShowPointsTicksAndEquation) {
    TempDir dir;
    // A line with y from 10.1 to 11.9 (fitted 10.08 to 11.88) over x from 1000 to 1001,
    // and three rows a chart leaves out: a missing y, a nan, an infinite x.
    kqu::test::writeFile(dir.file("line.csv"),
                         "x,y\n1000,10.1\n1000.1,\n1000.25,10.5\n1000.3,nan\n1000.5,11.0\ninf,3\n"
                         "1000.75,11.4\n1001,11.9\n");
    kqu::test::writeFile(dir.file("square.csv"), "x,y\n1,2\n2,8\n3,18\n");
    // No header: a first row holding "nan" is a point left out, not the column names.
    kqu::test::writeFile(dir.file("powers.csv"), "nan,1\n1,2\n2,8\n3,18\n");
    kqu::test::writeFile(dir.file("ma.csv"), "day,sales\n1,10\n2,\n3,30\n4,40\n5,50\n");
    struct Case {
        std::string options, file;
        size_t dots;
        std::string note;
        std::vector<std::string> xTicks, yTicks, superscripts;
        uint32_t width = 800, height = 500;
    } cases[] = {
        // Steps of 0.25 and 0.5: the first of 5, 2.5, 2, 1 times a power of ten giving 5 to 10 ticks.
        // clang-format off
        {"--model linear --locale en_US", "line.csv", 5, "3 points left out: a value missing or not finite",
         {"1,000", "1,000.25", "1,000.5", "1,000.75", "1,001"}, {"10", "10.5", "11", "11.5", "12"}, {}},
        {"--model linear --locale de_DE --size 640x400", "line.csv", 5,
         "3 points left out: a value missing or not finite",
         {"1.000", "1.000,25", "1.000,5", "1.000,75", "1.001"}, {"10", "10,5", "11", "11,5", "12"}, {}, 640, 400},
        {"--model poly:2 --locale en_US", "square.csv", 3, "",
         {"1", "1.5", "2", "2.5", "3"}, {"0", "5", "10", "15", "20"}, {"2"}},
        {"--model power --locale en_US --size 300x200", "powers.csv", 3,
         "1 point left out: a value missing or not finite",
         {"1", "1.5", "2", "2.5", "3"}, {"0", "5", "10", "15", "20"}, {"2"}, 300, 200},
        {"--model ma:2 --locale en_US", "ma.csv", 4, "1 point left out: a value missing or not finite",
         {"1", "2", "3", "4", "5"}, {"10", "20", "30", "40", "50"}, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = dir.file("chart.svg");
        std::string output;
        ASSERT_EQ(
            run(kquCommand(fmt::format("trend --force {} --svg '{}' '{}'", c.options, out, dir.file(c.file))),
                &output),
            0)
            << output;
        const std::string bytes = kqu::test::readFile(out);
        Svg svg(bytes);
        ASSERT_TRUE(svg.parsed());
        EXPECT_EQ(svg.select("//s:circle[@class='point']").size(), c.dots);
        EXPECT_EQ(svg.texts("//s:text[@class='x-tick']"), c.xTicks);
        EXPECT_EQ(svg.texts("//s:text[@class='y-tick']"), c.yTicks);
        EXPECT_EQ(svg.texts("//s:text[@class='note']"),
                  c.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.note});
        EXPECT_EQ(svg.texts("//s:text[@class='equation']/s:tspan[@class='sup']"), c.superscripts);
        EXPECT_EQ(svg.select("//s:path[@class='trend']").size(), 1u);
        EXPECT_EQ(svg.texts("/s:svg/s:title"), std::vector<std::string>{c.file});
        const auto size = renderedSize(out);
        EXPECT_EQ(size.first, c.width);
        EXPECT_EQ(size.second, c.height);
        // The same input gives the same bytes.
        ASSERT_EQ(run(kquCommand(fmt::format("trend --force {} --svg '{}' '{}' >/dev/null", c.options, out,
                                             dir.file(c.file)))),
                  0);
        EXPECT_EQ(kqu::test::readFile(out), bytes);
    }
    // The last chart drawn, the moving average's, has neither equation nor R²; its axes
    // are named by the file's header.
    Svg average(kqu::test::readFile(dir.file("chart.svg")));
    EXPECT_TRUE(average.select("//s:text[@class='equation']").empty());
    EXPECT_EQ(average.texts("//s:text[@class='x-title']"), std::vector<std::string>{"day"});
    EXPECT_EQ(average.texts("//s:text[@class='y-title']"), std::vector<std::string>{"sales"});
}

TEST(KquTrendSvg, TitlesAreEscapedAndRefusalsLeaveNoPicture) {
    TempDir dir;
    kqu::test::writeFile(dir.file("d.csv"), "1,2\n2,4\n3,7\n");
    kqu::test::writeFile(dir.file("title.txt"),
                         "Ums\xC3\xA4tze <Q1> & Q2 \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC\x01!");
    std::string output;
    ASSERT_EQ(run(kquCommand(fmt::format("trend --model linear --svg - --title \"$(cat '{}')\" '{}'",
                                         dir.file("title.txt"), dir.file("d.csv"))),
                  &output),
              0);
    Svg svg(output);
    ASSERT_TRUE(svg.parsed()) << output;
    // Intact after parsing; the control character, which XML cannot carry, as U+FFFD.
    const std::string expected =
        "Ums\xC3\xA4tze <Q1> & Q2 \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC\xEF\xBF\xBD!";
    EXPECT_EQ(svg.texts("/s:svg/s:title"), std::vector<std::string>{expected});
    EXPECT_EQ(svg.texts("//s:text[@class='title']"), std::vector<std::string>{expected});
    EXPECT_NE(output.find("Ums\xC3\xA4tze &lt;Q1&gt; &amp; Q2"), std::string::npos);

    struct Refusal {
        std::string options, file, message;
    } refusals[] = {
        {"--model linear --svg OUT", "plane.csv",
         "line 1: a chart shows one x column: expected 2 fields, found 3"},
        {"--model linear --size 800x500", "d.csv", "give --svg OUT.svg too"},
        {"--model linear --svg OUT --size 10x10", "d.csv", "--size: expected WxH"},
        {"--model linear --svg - --json", "d.csv", "both want standard output"},
        {"--model exp --svg OUT", "negative.csv", "an exponential fit needs every y > 0"},
        {"--model linear --svg TAKEN", "d.csv", "taken.svg exists; use --force to replace it"},
    };
    kqu::test::writeFile(dir.file("plane.csv"), "1,2,3\n2,1,4\n3,3,5\n");
    kqu::test::writeFile(dir.file("negative.csv"), "1,2\n2,-1\n3,3\n");
    kqu::test::writeFile(dir.file("taken.svg"), "mine");
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.options);
        std::string options = r.options;
        if (auto at = options.find("OUT"); at != std::string::npos)
            options.replace(at, 3, dir.file("no.svg"));
        if (auto at = options.find("TAKEN"); at != std::string::npos)
            options.replace(at, 5, dir.file("taken.svg"));
        EXPECT_NE(run(kquCommand(fmt::format("trend {} '{}'", options, dir.file(r.file))), &output), 0);
        EXPECT_NE(output.find(r.message), std::string::npos) << output;
        EXPECT_EQ(output.find("R2"), std::string::npos) << "a refusal comes before the fit is printed";
        EXPECT_NE(run(fmt::format("test -e '{}'", dir.file("no.svg"))), 0);
    }
}

// The package's ranges as Python's zipfile and struct read them: "offset length kind".
const char* kLayoutScript = R"(import sys, struct, zipfile
data = open(sys.argv[1], 'rb').read()
rows = []
for i in sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda i: i.header_offset):
    n, m = struct.unpack('<HH', data[i.header_offset + 26:i.header_offset + 30])
    h = 30 + n + m
    if i.filename.startswith('.QlTrash/'):
        rows.append((i.header_offset, h + i.compress_size, 'free-space'))
        continue
    rows.append((i.header_offset, h, 'local-header'))
    if i.compress_size:
        kind = {0: 'stored-data', 8: 'deflated-data'}.get(i.compress_type, 'encrypted-data')
        rows.append((i.header_offset + h, i.compress_size, kind))
e = data.rindex(b'PK\x05\x06')
size, offset, comment = struct.unpack('<IIH', data[e + 12:e + 22])
rows.append((offset, size, 'central-directory'))
rows.append((e, 22 + comment, 'end-record'))
for r in rows: print(*r)
)";

struct Range {
    uint64_t offset, length;
    std::string kind;
    bool operator==(const Range&) const = default;
};

std::vector<Range> pythonLayout(const TempDir& dir, const std::string& package) {
    kqu::test::writeFile(dir.file("layout.py"), kLayoutScript);
    std::string output;
    EXPECT_EQ(
        kqu::test::runCommand(fmt::format("python3 '{}' '{}'", dir.file("layout.py"), package), &output), 0);
    std::vector<Range> ranges;
    std::istringstream lines(output);
    Range r;
    while (lines >> r.offset >> r.length >> r.kind) ranges.push_back(r);
    return ranges;
}

// The map's ranges in document order, and how many layout ranges each stands for.
std::vector<std::pair<Range, uint64_t>> mapRanges(const Svg& svg) {
    std::vector<std::pair<Range, uint64_t>> ranges;
    for (auto* node : svg.select("//s:g[@data-kind]")) {
        const std::string count = Svg::attribute(node, "data-count");
        ranges.push_back(
            {{std::stoull(Svg::attribute(node, "data-offset")),
              std::stoull(Svg::attribute(node, "data-length")), Svg::attribute(node, "data-kind")},
             count.empty() ? 1 : std::stoull(count)});
    }
    return ranges;
}

TEST(KquZipMap, RangesFollowThePackageInOrder) {
    TempDir dir;
    const std::string odd =
        "x<b&c \xC3\xBC.txt";  // after index.xml, so that its space is freed in the middle
    ASSERT_EQ(
        run(fmt::format("mkdir -p '{0}/Report' && cd '{0}' && printf 'p%.0s' $(seq 3000) > 'Report/{1}' && "
                        "seq 1 2000 > Report/index.xml && printf 'secret\\n' > pass.txt",
                        dir.path(), odd)),
        0);
    // A plain package whose index is replaced by a shorter one (leaving free space), and
    // an encrypted one.
    ASSERT_EQ(run(fmt::format("cd '{}' && {} && printf '<short/>' > Report/index.xml && {}", dir.path(),
                              kquCommand("zip create --quiet plain.zip Report"),
                              kquCommand("zip add plain.zip Report/index.xml"))),
              0);
    ASSERT_EQ(run(fmt::format(
                  "cd '{}' && {}", dir.path(),
                  kquCommand("zip create --quiet --encrypt --passphrase-file pass.txt locked.zip Report"))),
              0);
    for (const char* name : {"plain.zip", "locked.zip"}) {
        SCOPED_TRACE(name);
        const std::string package = dir.file(name), out = dir.file(std::string(name) + ".svg");
        std::string output;
        ASSERT_EQ(run(kquCommand(fmt::format("zip map --svg '{}' '{}'", out, package)), &output), 0)
            << output;
        const std::string bytes = kqu::test::readFile(out);
        Svg svg(bytes);
        ASSERT_TRUE(svg.parsed());
        std::vector<Range> drawn;
        for (auto& [range, count] : mapRanges(svg)) {
            EXPECT_EQ(count, 1u);
            drawn.push_back(range);
        }
        const std::vector<Range> expected = pythonLayout(dir, package);
        EXPECT_EQ(drawn, expected);
        uint64_t freeBytes = 0, entries = 0;
        for (const auto& r : expected) {
            freeBytes += r.kind == "free-space" ? r.length : 0;
            entries += r.kind == "local-header";
        }
        const uint64_t fileSize = kqu::test::readFile(package).size();
        EXPECT_EQ(std::string(name) == "plain.zip", freeBytes > 0);
        EXPECT_EQ(svg.texts("//s:text[@class='totals']"),
                  std::vector<std::string>{
                      fmt::format("{} entries; {} free-space entr{} holding {} bytes, {:.1f} % of the file",
                                  entries, freeBytes ? 1 : 0, freeBytes ? "y" : "ies", freeBytes,
                                  100.0 * double(freeBytes) / double(fileSize))});
        // The odd name, escaped in the bytes and intact once parsed.
        EXPECT_NE(bytes.find("local header of Report/x&lt;b&amp;c \xC3\xBC.txt"), std::string::npos);
        const auto titles = svg.texts("//s:g[@data-kind='local-header']/s:title");
        EXPECT_EQ(std::count_if(titles.begin(), titles.end(),
                                [&](const std::string& t) {
                                    return t.rfind("local header of Report/" + odd + "\noffset ", 0) == 0;
                                }),
                  1);
        const auto size = renderedSize(out);
        EXPECT_EQ(std::to_string(size.first), Svg::attribute(svg.select("/s:svg")[0], "width"));
        EXPECT_EQ(std::to_string(size.second), Svg::attribute(svg.select("/s:svg")[0], "height"));
    }

    // Too damaged to open: the usual one-line error, and no picture.
    kqu::test::writeFile(dir.file("cut.zip"), kqu::test::readFile(dir.file("plain.zip")).substr(0, 100));
    std::string output;
    EXPECT_EQ(
        run(kquCommand(fmt::format("zip map --svg '{}' '{}'", dir.file("cut.svg"), dir.file("cut.zip"))),
            &output),
        1);
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_EQ(output.rfind("kqu: ", 0), 0u) << output;
    EXPECT_NE(run(fmt::format("test -e '{}'", dir.file("cut.svg"))), 0);
}

TEST(KquZipMap, RangesNarrowerThanAPixelAreDrawnTogether) {
    // 3000 one-byte entries: 285,022 bytes in 5 rows of 960 pixels, so every header
    // (39 bytes, 0.66 pixel) and data byte joins a group; the directory is drawn alone.
    TempDir dir;
    kqu::test::writeFile(dir.file("make.py"),
                         "import sys, zipfile\n"
                         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                         "    for i in range(3000): z.writestr('f%08d' % i, 'x')\n");
    const std::string package = dir.file("many.zip");
    ASSERT_EQ(run(fmt::format("python3 '{}' '{}'", dir.file("make.py"), package)), 0);
    std::string output;
    ASSERT_EQ(run(kquCommand(fmt::format("zip map --svg '{}' '{}'", dir.file("many.svg"), package)), &output),
              0)
        << output;
    Svg svg(kqu::test::readFile(dir.file("many.svg")));
    ASSERT_TRUE(svg.parsed());
    const auto drawn = mapRanges(svg);
    const auto expected = pythonLayout(dir, package);
    ASSERT_EQ(expected.size(), 6002u);
    EXPECT_LT(drawn.size(), 5u * 960u);
    EXPECT_GT(drawn.size(), 100u);
    uint64_t represented = 0, end = 0, groups = 0;
    for (const auto& [range, count] : drawn) {
        EXPECT_EQ(range.offset, end);
        end = range.offset + range.length;
        represented += count;
        groups += count > 1;
    }
    EXPECT_EQ(end, kqu::test::readFile(package).size());
    EXPECT_EQ(represented, expected.size());
    EXPECT_GT(groups, 100u);
    EXPECT_EQ(drawn.back().first, expected.back());
    EXPECT_EQ(drawn[drawn.size() - 2].first, expected[expected.size() - 2]);
    const auto titles = svg.texts("//s:g[@data-count][1]/s:title");
    ASSERT_FALSE(titles.empty());
    EXPECT_NE(titles[0].find("ranges, each narrower than a pixel"), std::string::npos) << titles[0];
}

}  // namespace
