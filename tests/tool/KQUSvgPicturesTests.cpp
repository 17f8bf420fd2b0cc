// kqu trend --svg and kqu zip map as a user meets them: each picture parses with libxml2 and renders
// with rsvg-convert at its size; its structure is checked against answers found independently
// (hand-computed round ticks, Python's zipfile and struct reading of the package).
#include <arpa/inet.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tool/KQUToolTestRunner.h"

namespace kqu::test {
namespace {

using Texts = std::vector<std::string>;

// A parsed picture and XPath over it ("s:" is the SVG namespace).
class Svg {
public:
    explicit Svg(const std::string& bytes)
        : mDoc(xmlReadMemory(bytes.data(), int(bytes.size()), "picture.svg", nullptr, XML_PARSE_NONET),
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
            nodes.assign(result->nodesetval->nodeTab,
                         result->nodesetval->nodeTab + result->nodesetval->nodeNr);
        return nodes;
    }
    Texts texts(const std::string& path) const {
        Texts out;
        for (auto* node : select(path)) out.push_back(owned(xmlNodeGetContent(node)));
        return out;
    }
    static std::string attribute(xmlNodePtr node, const char* name) {
        return owned(xmlGetProp(node, BAD_CAST name));
    }

private:
    static std::string owned(xmlChar* text) {
        std::string out = text ? reinterpret_cast<const char*>(text) : "";
        xmlFree(text);
        return out;
    }
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> mDoc;
};

// Renders the picture with rsvg-convert; the PNG's width and height from its header.
std::pair<uint32_t, uint32_t> renderedSize(const std::string& svgPath) {
    std::string output;
    EXPECT_EQ(runCommand(fmt::format("rsvg-convert -o '{0}.png' '{0}' 2>&1", svgPath), &output), 0) << output;
    EXPECT_EQ(output, "") << "rsvg-convert complained";
    const std::string png = readFile(svgPath + ".png");
    if (png.size() < 24 || png.compare(1, 3, "PNG") != 0) return {0, 0};
    uint32_t size[2];  // big-endian width and height in the header
    std::memcpy(size, png.data() + 16, 8);
    return {ntohl(size[0]), ntohl(size[1])};
}

TEST(KquTrendSvg, ChartsShowPointsTicksAndEquation) {
    TempDir dir;
    // y from 10.1 to 11.9 over x from 1000 to 1001, and three rows a chart leaves out (missing y, nan, inf).
    // No header in powers.csv: a first row holding "nan" is a point left out, not the column names.
    writeFiles(dir, {{"line.csv",
                      "x,y\n1000,10.1\n1000.1,\n1000.25,10.5\n1000.3,nan\n1000.5,11.0\ninf,3\n"
                      "1000.75,11.4\n1001,11.9\n"},
                     {"powers.csv", "nan,1\n1,2\n2,8\n3,18\n"},
                     {"ma.csv", "day,sales\n1,10\n2,\n3,30\n4,40\n5,50\n"}});
    const std::string three = "3 points left out: a value missing or not finite";
    const std::string one = "1 point left out: a value missing or not finite";
    struct Case {
        std::string options, file;
        size_t dots;
        std::string note;
        Texts xTicks, yTicks, superscripts;
        uint32_t width = 800, height = 500;
    } cases[] = {
        // Steps of 0.25 and 0.5: the first of 5, 2.5, 2, 1 times a power of ten giving 5 to 10 ticks.
        // clang-format off
        {"--model linear --locale en_US", "line.csv", 5, three,
         {"1,000", "1,000.25", "1,000.5", "1,000.75", "1,001"}, {"10", "10.5", "11", "11.5", "12"}, {}},
        {"--model power --locale en_US --size 300x200", "powers.csv", 3, one,
         {"1", "1.5", "2", "2.5", "3"}, {"0", "5", "10", "15", "20"}, {"2"}, 300, 200},
        {"--model ma:2 --locale en_US", "ma.csv", 4, one,
         {"1", "2", "3", "4", "5"}, {"10", "20", "30", "40", "50"}, {}},
        // clang-format on
    };
    const std::string out = dir.file("chart.svg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string arguments =
            fmt::format("trend --force {} --svg '{}' '{}'", c.options, out, dir.file(c.file));
        kquOk(arguments);
        const std::string bytes = readFile(out);
        Svg svg(bytes);
        ASSERT_TRUE(svg.parsed());
        EXPECT_EQ(svg.select("//s:circle[@class='point']").size(), c.dots);
        EXPECT_EQ(svg.texts("//s:text[@class='x-tick']"), c.xTicks);
        EXPECT_EQ(svg.texts("//s:text[@class='y-tick']"), c.yTicks);
        EXPECT_EQ(svg.texts("//s:text[@class='note']"), c.note.empty() ? Texts{} : Texts{c.note});
        EXPECT_EQ(svg.texts("//s:text[@class='equation']/s:tspan[@class='sup']"), c.superscripts);
        EXPECT_EQ(svg.select("//s:path[@class='trend']").size(), 1u);
        EXPECT_EQ(svg.texts("/s:svg/s:title"), Texts{c.file});
        EXPECT_EQ(renderedSize(out), std::make_pair(c.width, c.height));
        // The same input gives the same bytes.
        kquOk(arguments + " >/dev/null");
        EXPECT_EQ(readFile(out), bytes);
    }
    // The last chart drawn, the moving average's, has neither equation nor R²; its axes
    // are named by the file's header.
    Svg average(readFile(out));
    EXPECT_TRUE(average.select("//s:text[@class='equation']").empty());
    EXPECT_EQ(average.texts("//s:text[@class='x-title']"), Texts{"day"});
    EXPECT_EQ(average.texts("//s:text[@class='y-title']"), Texts{"sales"});
}

TEST(KquTrendSvg, TitlesAreEscapedAndRefusalsLeaveNoPicture) {
    TempDir dir;
    writeFile(dir.file("d.csv"), "1,2\n2,4\n3,7\n");
    // (How the writer escapes text is KQUSvgWriter's.)
    auto run = runKqu("trend --model linear --svg - --title 'Q1 <&> Q2' " + sq(dir.file("d.csv")));
    ASSERT_EQ(run.status, 0);
    Svg svg(run.output);
    ASSERT_TRUE(svg.parsed()) << run.output;
    EXPECT_EQ(svg.texts("/s:svg/s:title"), Texts{"Q1 <&> Q2"});
    EXPECT_EQ(svg.texts("//s:text[@class='title']"), Texts{"Q1 <&> Q2"});
    EXPECT_TRUE(svg.texts("//s:text[@class='note']").empty());  // no point left out

    writeFiles(dir, {{"plane.csv", "1,2,3\n2,1,4\n3,3,5\n"},
                     {"negative.csv", "1,2\n2,-1\n3,3\n"},
                     {"taken.svg", "mine"}});
    const std::string no = dir.file("no.svg"), taken = dir.file("taken.svg");
    const std::tuple<std::string, std::string, std::string> refusals[] = {
        {"--model linear --svg " + no, "plane.csv",
         "line 1: a chart shows one x column: expected 2 fields, found 3"},
        {"--model linear --size 800x500", "d.csv", "give --svg OUT.svg too"},
        {"--model linear --svg " + no + " --size 10x10", "d.csv", "--size: expected WxH"},
        {"--model linear --svg - --json", "d.csv", "both want standard output"},
        {"--model exp --svg " + no, "negative.csv", "an exponential fit needs every y > 0"},
        {"--model linear --svg " + taken, "d.csv", "taken.svg exists; use --force to replace it"},
    };
    for (const auto& [options, file, message] : refusals) {
        SCOPED_TRACE(options);
        run = runKqu(fmt::format("trend {} '{}'", options, dir.file(file)));
        EXPECT_NE(run.status, 0);
        EXPECT_THAT(run.output, HasSubstr(message));
        EXPECT_THAT(run.output, Not(HasSubstr("R2"))) << "a refusal comes before the fit is printed";
        EXPECT_FALSE(std::ifstream(no).good());
    }
}

// The package's ranges as Python's zipfile and struct read them: "offset length kind".
const char* kLayoutScript = R"(import sys, struct, zipfile
data = open(sys.argv[1], 'rb').read()
for i in sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda i: i.header_offset):
    h = 30 + sum(struct.unpack('<HH', data[i.header_offset + 26:i.header_offset + 30]))
    if i.filename.startswith('.QlTrash/'):
        print(i.header_offset, h + i.compress_size, 'free-space')
        continue
    print(i.header_offset, h, 'local-header')
    if i.compress_size:
        kind = {0: 'stored-data', 8: 'deflated-data'}.get(i.compress_type, 'encrypted-data')
        print(i.header_offset + h, i.compress_size, kind)
e = data.rindex(b'PK\x05\x06')
size, offset, comment = struct.unpack('<IIH', data[e + 12:e + 22])
print(offset, size, 'central-directory')
print(e, 22 + comment, 'end-record')
)";

struct Range {
    uint64_t offset, length;
    std::string kind;
    bool operator==(const Range&) const = default;
};

std::vector<Range> pythonLayout(const TempDir& dir, const std::string& package) {
    std::istringstream lines(runPython(dir, kLayoutScript, sq(package)));
    std::vector<Range> ranges;
    for (Range r; lines >> r.offset >> r.length >> r.kind;) ranges.push_back(r);
    return ranges;
}

// Draws the map of package (its bytes into *bytes); its ranges in document order, each with how many
// layout ranges it stands for.
std::vector<std::pair<Range, uint64_t>> mapRanges(const std::string& package, std::string* bytes) {
    kquOk(fmt::format("zip map --svg '{0}.svg' '{0}'", package));
    const Svg svg(*bytes = readFile(package + ".svg"));
    EXPECT_TRUE(svg.parsed());
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
    const std::string odd = "x<b&c \xC3\xBC.txt", cd = "cd " + sq(dir.path()) + " &&";  // after index.xml
    // A plain package whose index is replaced by a shorter one (leaving free space in the middle), and an
    // encrypted one.
    writeFiles(dir, {{"Report/" + odd, std::string(3000, 'p')}, {"pass.txt", "secret\n"}});
    writeFile(dir.file("Report/index.xml"), patternBytes(9000));
    kquOk("zip create --quiet plain.zip Report", cd);
    writeFile(dir.file("Report/index.xml"), "<short/>");
    kquOk("zip add --quiet plain.zip Report/index.xml", cd);
    kquOk("zip create --quiet --encrypt --passphrase-file pass.txt locked.zip Report", cd);
    for (const char* name : {"plain.zip", "locked.zip"}) {
        SCOPED_TRACE(name);
        const std::string package = dir.file(name), out = package + ".svg";
        std::string bytes;
        std::vector<Range> drawn;
        for (auto& [range, count] : mapRanges(package, &bytes)) {
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
        EXPECT_EQ(std::string(name) == "plain.zip", freeBytes > 0);
        const Svg svg(bytes);
        EXPECT_EQ(svg.texts("//s:text[@class='totals']"),
                  Texts{fmt::format("{} entries; {} free-space entr{} holding {} bytes, {:.1f} % of the file",
                                    entries, freeBytes ? 1 : 0, freeBytes ? "y" : "ies", freeBytes,
                                    100.0 * double(freeBytes) / double(readFile(package).size()))});
        // The odd name, escaped in the bytes and intact once parsed.
        EXPECT_THAT(bytes, HasSubstr("local header of Report/x&lt;b&amp;c \xC3\xBC.txt"));
        const std::string oddTitle = "local header of Report/" + odd + "\noffset ";
        const auto titles = svg.texts("//s:g[@data-kind='local-header']/s:title");
        EXPECT_EQ(
            std::ranges::count_if(titles, [&](const std::string& t) { return t.starts_with(oddTitle); }), 1);
        const auto [width, height] = renderedSize(out);
        const auto root = svg.select("/s:svg")[0];
        EXPECT_EQ(fmt::format("{}x{}", width, height),
                  Svg::attribute(root, "width") + "x" + Svg::attribute(root, "height"));
    }

    // Too damaged to open: the usual one-line error, and no picture.
    writeFile(dir.file("cut.zip"), readFile(dir.file("plain.zip")).substr(0, 100));
    auto run = runKqu(fmt::format("zip map --svg '{}' '{}'", dir.file("cut.svg"), dir.file("cut.zip")));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_THAT(run.output, StartsWith("kqu: "));
    EXPECT_FALSE(std::ifstream(dir.file("cut.svg")).good());
}

TEST(KquZipMap, RangesNarrowerThanAPixelAreDrawnTogether) {
    // 3000 one-byte entries: 285,022 bytes in 5 rows of 960 pixels, so every header
    // (39 bytes, 0.66 pixel) and data byte joins a group; the directory is drawn alone.
    TempDir dir;
    const std::string package = dir.file("many.zip");
    runPython(dir,
              "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    for i in range(3000): z.writestr('f%08d' % i, 'x')\n",
              sq(package));
    std::string bytes;
    const auto drawn = mapRanges(package, &bytes);
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
    EXPECT_EQ(end, readFile(package).size());
    EXPECT_EQ(represented, expected.size());
    EXPECT_GT(groups, 100u);
    EXPECT_EQ(drawn.back().first, expected.back());
    EXPECT_EQ(drawn[drawn.size() - 2].first, expected[expected.size() - 2]);
    const auto titles = Svg(bytes).texts("//s:g[@data-count][1]/s:title");
    ASSERT_FALSE(titles.empty());
    EXPECT_THAT(titles[0], HasSubstr("ranges, each narrower than a pixel"));
}

}  // namespace
}  // namespace kqu::test
