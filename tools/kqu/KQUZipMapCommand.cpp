// kqu zip map: a picture of a package's bytes, as SVG.
//
// The file is one long band scaled to the picture's width, wrapped into up to 16 rows
// for files over 64 KiB, and every range of KQUZipPackageLayout is a box coloured by
// what it is, with a <title> a browser shows on hover (entry name, offset, sizes).
// Ranges narrower than a pixel are drawn together, as one box coloured by the kind
// holding most of its bytes and titled with how many ranges it holds, so the picture of
// a package with 100,000 entries stays as small as the band has pixels. A legend and the
// totals (entries, free-space bytes and their share of the file) follow.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/foundation/KQUSvgWriter.h"
#include "kqutility/zip/KQUZipFormat.h"
#include "kqutility/zip/KQUZipPackageLayout.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUTrendChart.h"
#include "tools/kqu/KQUZipToolSupport.h"

namespace kqu::tool {
namespace {

constexpr double kWidth = 1000, kMargin = 20, kBandWidth = kWidth - 2 * kMargin;
constexpr double kBandTop = 68, kRowHeight = 28, kRowGap = 12;
constexpr uint64_t kBytesPerRowBeforeWrapping = 64 << 10;
constexpr uint64_t kMaximumRows = 16;
constexpr size_t kKindCount = static_cast<size_t>(KQUZipLayoutKind::Unknown) + 1;

// One colour per kind (the end records share one), readable by the colour-blind.
const char* colourOf(KQUZipLayoutKind kind) {
    switch (kind) {
        case KQUZipLayoutKind::LocalHeader:
            return "#ccbb44";
        case KQUZipLayoutKind::StoredData:
            return "#66ccee";
        case KQUZipLayoutKind::DeflatedData:
            return "#228833";
        case KQUZipLayoutKind::EncryptedData:
            return "#aa3377";
        case KQUZipLayoutKind::DataDescriptor:
            return "#997700";
        case KQUZipLayoutKind::FreeSpace:
            return "#ee6677";
        case KQUZipLayoutKind::CentralDirectory:
            return "#4477aa";
        case KQUZipLayoutKind::Zip64EndRecord:
        case KQUZipLayoutKind::Zip64EndLocator:
        case KQUZipLayoutKind::EndRecord:
            return "#222255";
        case KQUZipLayoutKind::Unknown:
            break;
    }
    return "#bbbbbb";
}

// "local header" -> "local-header": the kind as an attribute value.
std::string slugOf(KQUZipLayoutKind kind) {
    std::string slug = KQUZipLayoutKindName(kind);
    std::replace(slug.begin(), slug.end(), ' ', '-');
    std::transform(slug.begin(), slug.end(), slug.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return slug;
}

std::string bytesText(uint64_t n) {
    return fmt::format("{} byte{}", n, n == 1 ? "" : "s");
}

std::string titleOf(const KQUZipLayoutRange& range) {
    const std::string where = fmt::format("offset {}, {}", range.offset, bytesText(range.length));
    const std::string name = range.entry ? KQUEscapedName(range.entry->name()) : std::string();
    switch (range.kind) {
        case KQUZipLayoutKind::LocalHeader:
            return fmt::format("local header of {}\n{}", name, where);
        case KQUZipLayoutKind::StoredData:
        case KQUZipLayoutKind::DeflatedData:
            return fmt::format("{}: {}\n{}; {} uncompressed", name, KQUZipLayoutKindName(range.kind), where,
                               bytesText(range.entry->uncompressedSize()));
        case KQUZipLayoutKind::EncryptedData:
            return fmt::format("{}: {} ({})\n{}", name, KQUZipLayoutKindName(range.kind),
                               KQUEntryMethodName(*range.entry), where);
        case KQUZipLayoutKind::DataDescriptor:
            return fmt::format("data descriptor of {}\n{}", name, where);
        case KQUZipLayoutKind::FreeSpace:
            return fmt::format("free space ({})\n{}", name, where);
        default:
            return fmt::format("{}\n{}", KQUZipLayoutKindName(range.kind), where);
    }
}

class BandPainter {
public:
    BandPainter(KQUSvgWriter& svg, uint64_t fileLength, uint64_t rows)
        : mSvg(svg),
          mBytesPerRow((fileLength + rows - 1) / rows),
          mScale(kBandWidth / double(mBytesPerRow)) {}

    double widthOf(uint64_t length) const { return double(length) * mScale; }

    // One box per row the bytes [offset, offset + length) reach, in one group.
    void paint(uint64_t offset, uint64_t length, KQUZipLayoutKind kind, const std::string& title,
               size_t count) {
        mSvg.start("g", {{"class", count > 1 ? "range group" : "range"},
                         {"data-kind", slugOf(kind)},
                         {"data-offset", std::to_string(offset)},
                         {"data-length", std::to_string(length)},
                         {"fill", colourOf(kind)}});
        if (count > 1) mSvg.attribute({"data-count", std::to_string(count)});
        mSvg.element("title", {}, title);
        const uint64_t end = offset + length;
        for (uint64_t row = offset / mBytesPerRow; row * mBytesPerRow < end; ++row) {
            const uint64_t from = std::max(offset, row * mBytesPerRow);
            const uint64_t to = std::min(end, (row + 1) * mBytesPerRow);
            mSvg.element("rect", {{"x", kMargin + widthOf(from - row * mBytesPerRow)},
                                  {"y", kBandTop + double(row) * (kRowHeight + kRowGap)},
                                  {"width", widthOf(to - from)},
                                  {"height", kRowHeight}});
        }
        mSvg.end();
    }

private:
    KQUSvgWriter& mSvg;
    uint64_t mBytesPerRow;
    double mScale;
};

// Ranges narrower than a pixel, gathered until together they fill one.
struct Group {
    uint64_t offset = 0, length = 0;
    size_t count = 0;
    std::array<uint64_t, kKindCount> bytes{};
    std::array<size_t, kKindCount> ranges{};
    const KQUZipLayoutRange* first = nullptr;
    std::string firstName, lastName;

    void add(const KQUZipLayoutRange& range) {
        if (count == 0) offset = range.offset, first = &range;
        length = range.offset + range.length - offset;
        ++count;
        bytes[static_cast<size_t>(range.kind)] += range.length;
        ++ranges[static_cast<size_t>(range.kind)];
        if (range.entry) {
            if (firstName.empty()) firstName = range.entry->name();
            lastName = range.entry->name();
        }
    }

    KQUZipLayoutKind dominantKind() const {
        return static_cast<KQUZipLayoutKind>(std::max_element(bytes.begin(), bytes.end()) - bytes.begin());
    }

    std::string title() const {
        std::string text = fmt::format("{} ranges, each narrower than a pixel\noffset {}, {}", count, offset,
                                       bytesText(length));
        for (size_t k = 0; k < kKindCount; ++k)
            if (ranges[k])
                text +=
                    fmt::format("\n{} {} ({})", ranges[k],
                                KQUZipLayoutKindName(static_cast<KQUZipLayoutKind>(k)), bytesText(bytes[k]));
        if (!firstName.empty())
            text += firstName == lastName ? fmt::format("\nentry {}", KQUEscapedName(firstName))
                                          : fmt::format("\nentries {} to {}", KQUEscapedName(firstName),
                                                        KQUEscapedName(lastName));
        return text;
    }
};

std::string mapSvg(const KQUZipArchive& archive, const std::string& title) {
    const std::vector<KQUZipLayoutRange> layout = KQUZipPackageLayout(archive);
    const uint64_t fileLength = static_cast<uint64_t>(archive.dataRepresentation()->dataLength());
    const uint64_t rows = std::clamp<uint64_t>(
        (fileLength + kBytesPerRowBeforeWrapping - 1) / kBytesPerRowBeforeWrapping, 1, kMaximumRows);

    std::array<uint64_t, kKindCount> bytesOfKind{};
    uint64_t freeEntries = 0, entries = 0;
    for (const auto& range : layout) bytesOfKind[static_cast<size_t>(range.kind)] += range.length;
    for (const auto& entry : archive.allEntries())
        ++(KQUZipIsFreeSpaceEntryName(entry->name()) ? freeEntries : entries);

    // The legend: one line per colour present, three to a row.
    struct LegendItem {
        KQUZipLayoutKind kind;
        std::string text;
    };
    std::vector<LegendItem> legend;
    const uint64_t endBytes = bytesOfKind[size_t(KQUZipLayoutKind::Zip64EndRecord)] +
                              bytesOfKind[size_t(KQUZipLayoutKind::Zip64EndLocator)] +
                              bytesOfKind[size_t(KQUZipLayoutKind::EndRecord)];
    for (size_t k = 0; k < kKindCount; ++k) {
        const auto kind = static_cast<KQUZipLayoutKind>(k);
        if (kind == KQUZipLayoutKind::Zip64EndRecord || kind == KQUZipLayoutKind::Zip64EndLocator) continue;
        const uint64_t n = kind == KQUZipLayoutKind::EndRecord ? endBytes : bytesOfKind[k];
        if (n == 0) continue;
        legend.push_back({kind, fmt::format("{} ({})",
                                            kind == KQUZipLayoutKind::EndRecord ? "end records"
                                                                                : KQUZipLayoutKindName(kind),
                                            bytesText(n))});
    }
    const double bandBottom = kBandTop + double(rows) * (kRowHeight + kRowGap) - kRowGap;
    const double legendTop = bandBottom + 28;
    const double legendRows = std::ceil(double(legend.size()) / 3);
    const double totalsY = legendTop + legendRows * 22 + 18;
    const double height = totalsY + 24;

    KQUSvgWriter svg(kWidth, height, fmt::format("Byte map of {}", title));
    svg.element("rect", {{"width", kWidth}, {"height", height}, {"fill", "#ffffff"}});
    svg.start("g", {{"font-family", "DejaVu Sans, Helvetica, Arial, sans-serif"},
                    {"font-size", 12},
                    {"fill", "#222222"}});
    svg.element("text",
                {{"class", "title"}, {"x", kMargin}, {"y", 28}, {"font-size", 18}, {"font-weight", "bold"}},
                fmt::format("{}: {}", title, bytesText(fileLength)));
    svg.element(
        "text", {{"class", "scale"}, {"x", kMargin}, {"y", 48}, {"fill", "#666666"}},
        rows == 1
            ? std::string("from the first byte, left, to the last, right; hover over a range for details")
            : fmt::format("{} rows of {} each, read like text; hover over a range for details", rows,
                          bytesText((fileLength + rows - 1) / rows)));

    svg.start("g", {{"class", "band"}, {"stroke", "#ffffff"}, {"stroke-width", 0.25}});
    BandPainter painter(svg, fileLength, rows);
    Group group;
    auto flush = [&] {
        if (group.count == 1)
            painter.paint(group.offset, group.length, group.first->kind, titleOf(*group.first), 1);
        else if (group.count > 1)
            painter.paint(group.offset, group.length, group.dominantKind(), group.title(), group.count);
        group = Group();
    };
    for (const auto& range : layout) {
        if (painter.widthOf(range.length) >= 1) {
            flush();
            painter.paint(range.offset, range.length, range.kind, titleOf(range), 1);
            continue;
        }
        group.add(range);
        if (painter.widthOf(group.length) >= 1) flush();
    }
    flush();
    svg.end();
    // Where each row starts, small above it, when the band wraps.
    if (rows > 1) {
        svg.start("g", {{"class", "row-offsets"}, {"font-size", 9}, {"fill", "#888888"}});
        for (uint64_t row = 0; row < rows; ++row)
            svg.element("text", {{"x", kMargin}, {"y", kBandTop + double(row) * (kRowHeight + kRowGap) - 3}},
                        fmt::format("offset {}", row * ((fileLength + rows - 1) / rows)));
        svg.end();
    }

    svg.start("g", {{"class", "legend"}});
    for (size_t i = 0; i < legend.size(); ++i) {
        const double x = kMargin + double(i % 3) * 320, y = legendTop + double(i / 3) * 22;
        svg.element("rect",
                    {{"x", x}, {"y", y}, {"width", 14}, {"height", 14}, {"fill", colourOf(legend[i].kind)}});
        svg.element("text", {{"x", x + 20}, {"y", y + 11.5}}, legend[i].text);
    }
    svg.end();

    const uint64_t freeBytes = bytesOfKind[size_t(KQUZipLayoutKind::FreeSpace)];
    std::string totals =
        fmt::format("{} entr{}; {} free-space entr{} holding {}, {:.1f} % of the file", entries,
                    entries == 1 ? "y" : "ies", freeEntries, freeEntries == 1 ? "y" : "ies",
                    bytesText(freeBytes), fileLength ? 100.0 * double(freeBytes) / double(fileLength) : 0.0);
    if (uint64_t unknown = bytesOfKind[size_t(KQUZipLayoutKind::Unknown)])
        totals += fmt::format("; {} claimed by no record", bytesText(unknown));
    svg.element("text", {{"class", "totals"}, {"x", kMargin}, {"y", totalsY}}, totals);
    svg.end();
    return svg.finish();
}

int runMap(const KQUToolArguments& arguments) {
    const std::string& path = arguments.operands[0];
    auto out = arguments.value("--svg");
    if (!out) throw KQUToolUsageError("--svg OUT.svg is needed");
    auto archive = KQUToolOpenArchive(path);
    KQUToolOutput output(*out, {.replace = arguments.has("--force")});
    std::string bytes;
    try {
        bytes = mapSvg(*archive, path == "-" ? "standard input" : KQULastPathComponent(path));
    } catch (const KQUException& e) {
        throw KQUToolError(fmt::format("{}: {}", path, e.reason()));
    }
    KQUToolWriteWholeOutput(output, bytes);
    return 0;
}

KQUToolRegistration mapCommand({
    .name = "zip map",
    .operands = "ARCHIVE",
    .summary = "Draw a package's bytes as an SVG map: headers, data, free space, directory",
    .options = {{"--svg", "OUT", "where the picture goes ('-': standard output; needed)"},
                {"--force", "", "replace OUT when it is an existing file"}},
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu zip map --svg report-map.svg report.zip",
    .details = "Each range of the file is coloured by what it holds and titled with its entry's name, offset "
               "and sizes (shown on hover in a browser). Ranges narrower than a pixel are drawn together, "
               "with their count in the title. Encrypted packages need no passphrase.",
    .run = runMap,
});

}  // namespace
}  // namespace kqu::tool
