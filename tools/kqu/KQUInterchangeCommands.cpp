// kqu strings write / strings read, kqu plist, kqu path relative / inside / find: the
// string-table writer, the property-list reader and writer, and the lexical path
// functions, for localization scripts and for checking paths by hand.
//
// Input files may be "-" (standard input, also the default). Text is UTF-8; ill-formed
// UTF-8 is refused rather than repaired.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include <fmt/format.h>

#include "kqutility/foundation/KQUPathAdditions.h"
#include "kqutility/foundation/KQUPropertyList.h"
#include "kqutility/foundation/KQUStringTable.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/interchange/KQURegisteredDefaults.h"
#include "kqutility/interchange/KQUStringFile.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

std::string readAll(const std::string& path) {
    if (path == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream in(path, std::ios::binary);
    if (!in) throw KQUToolError(fmt::format("cannot read {}", path));
    std::ostringstream out;
    out << in.rdbuf();
    return std::move(out).str();
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out + "\"";
}

int runStringsWrite(const KQUToolArguments& arguments) {
    const std::string& out = arguments.operands[0];
    std::string input = readAll(arguments.operands.size() > 1 ? arguments.operands[1] : "-");
    std::optional<std::u16string> comment;
    if (auto text = arguments.value("--comment")) {
        comment = KQUUTF16FromUTF8(*text);
        if (!comment) throw KQUToolError("--comment is not UTF-8");
    }
    KQUStringFile file;
    size_t count = 0, lineNumber = 0;
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        std::string_view line(input.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        ++lineNumber;
        if (line.empty()) continue;
        auto text = KQUUTF16FromUTF8(line);
        if (!text) throw KQUToolError(fmt::format("line {} is not UTF-8", lineNumber));
        file.addString(*text, comment);
        ++count;
    }
    KQUError error;
    if (!file.writeToFile(out, &error)) throw KQUToolError(error.description);
    fmt::print("wrote {} entries to {}\n", count, out);
    return 0;
}

int runStringsRead(const KQUToolArguments& arguments) {
    std::string error;
    auto table = KQUParseStringTable(readAll(arguments.operands[0]), &error);
    if (!table) throw KQUToolError(fmt::format("{}: {}", arguments.operands[0], error));
    for (const auto& [key, value] : *table) fmt::print("{} = {};\n", quoted(key), quoted(value));
    return 0;
}

int runPlist(const KQUToolArguments& arguments) {
    const std::string path = arguments.operands.empty() ? "-" : arguments.operands[0];
    std::string error;
    auto value = KQUPropertyListFromBytes(readAll(path), &error);
    if (!value) throw KQUToolError(fmt::format("{}: {}", path == "-" ? "standard input" : path, error));
    if (arguments.has("--localize")) *value = KQULocalizedPList(*value);
    fmt::print("{}", KQUXMLPropertyListFromValue(*value));
    return 0;
}

int runPathRelative(const KQUToolArguments& arguments) {
    const auto& path = arguments.operands[0];
    const auto& base = arguments.operands[1];
    auto relative = KQUPathRelativeTo(path, base, arguments.has("--backtrack"));
    if (!relative) throw KQUToolError(fmt::format("{} has no relative path from {}", path, base));
    fmt::print("{}\n", *relative);
    return 0;
}

int runPathInside(const KQUToolArguments& arguments) {
    bool inside = KQUIsPathCreatedByAppendingPathComponentInsideBasePath(arguments.operands[0], arguments.operands[1],
                                                                         arguments.operands[2]);
    fmt::print("{}\n", inside ? "inside" : "outside");
    return inside ? 0 : 1;
}

int runPathFind(const KQUToolArguments& arguments) {
    auto found = KQUPathToRelativeComponentPath(arguments.operands[0], arguments.operands[1]);
    if (!found) throw KQUToolError(fmt::format("no tail of {} exists in {}", arguments.operands[1], arguments.operands[0]));
    fmt::print("{}\n", *found);
    return 0;
}

KQUToolRegistration stringsWriteCommand({
    .name = "strings write",
    .operands = "OUT [FILE|-]",
    .summary = "Write a sorted string table with one entry per input line",
    .options = {{"--comment", "TEXT", "the comment written above every entry"}},
    .minOperands = 1,
    .maxOperands = 2,
    .example = "kqu strings write --comment 'Menu item' Menu.strings items.txt",
    .details = "Each non-empty line of FILE (standard input when absent or -) becomes an entry whose key and "
               "value are the line. The table is sorted case-insensitively, escaped so that quotes and "
               "backslashes read back, and written as UTF-16 with a byte-order mark; OUT is replaced only "
               "when the new table is complete.",
    .run = runStringsWrite,
});
KQUToolRegistration stringsReadCommand({
    .name = "strings read",
    .operands = "FILE",
    .summary = "Print a string table's entries as UTF-8 lines",
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu strings read Menu.strings",
    .details = "Reads UTF-8 tables and UTF-16 tables with a byte-order mark, and prints one '\"key\" = "
               "\"value\";' line per entry, escaped as the table writer escapes.",
    .run = runStringsRead,
});
KQUToolRegistration plistCommand({
    .name = "plist",
    .operands = "[FILE|-]",
    .summary = "Read a property list (XML or binary) and print it as XML",
    .options = {{"--localize", "", "resolve the _LOCALIZABLE_ markers first"}},
    .minOperands = 0,
    .maxOperands = 1,
    .example = "kqu plist --localize Defaults.plist",
    .run = runPlist,
});
KQUToolRegistration pathRelativeCommand({
    .name = "path relative",
    .operands = "PATH BASE",
    .summary = "Print PATH relative to BASE",
    .options = {{"--backtrack", "", "allow climbing out of BASE with .."}},
    .minOperands = 2,
    .maxOperands = 2,
    .example = "kqu path relative --backtrack /a/x /a/b/c",
    .details = "Paths are compared lexically (no links are resolved). Without --backtrack PATH must lie "
               "below BASE. Exit status 1 when there is no relative path (for example between an absolute "
               "and a relative path).",
    .run = runPathRelative,
});
KQUToolRegistration pathInsideCommand({
    .name = "path inside",
    .operands = "PATH COMPONENT BASE",
    .summary = "Say whether PATH/COMPONENT stays inside BASE",
    .minOperands = 3,
    .maxOperands = 3,
    .example = "kqu path inside /a/b ../x /a/b",
    .details = "Prints inside (exit status 0) or outside (exit status 1).",
    .run = runPathInside,
});
KQUToolRegistration pathFindCommand({
    .name = "path find",
    .operands = "DIR RELATIVE",
    .summary = "Find the shortest tail of RELATIVE that exists inside DIR",
    .minOperands = 2,
    .maxOperands = 2,
    .example = "kqu path find Document.pkg old/place/Data/image.png",
    .details = "Tails holding .. are never tried, so the answer lies inside DIR. Exit status 1 when none exists.",
    .run = runPathFind,
});

}  // namespace
}  // namespace kqu::tool
