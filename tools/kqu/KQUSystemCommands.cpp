// kqu memory and kqu equation: the probes an application asks before heavy work, for a
// person at a shell.
//
// memory prints the memory this process may use (the smallest of the hardware, the cgroup
// limit and RLIMIT_AS), what limits it,
// the estimate left for documents and the system's uptime; with --cells it also judges a
// document of that many cells and exits 1 when it is refused. equation tells for each file
// whether it is an equation picture, with the editor's creator code and the descent.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUPerformanceLog.h"
#include "kqutility/system/KQUEquationPicture.h"
#include "kqutility/system/KQUMemoryChecks.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

double parseNumber(const std::string& option, const std::string& text, double limit) {
    size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || !(value >= 0) || value > limit)
        throw KQUToolUsageError(fmt::format("{} needs a number from 0 to {:g}, not '{}'", option, limit, text));
    return value;
}

int runMemory(const KQUToolArguments& arguments) {
    const bool judge = arguments.has("--cells");
    if (!judge && (arguments.has("--bytes-per-cell") || arguments.has("--import")))
        throw KQUToolUsageError("--bytes-per-cell and --import go with --cells");
    if (judge && !arguments.has("--bytes-per-cell")) throw KQUToolUsageError("--cells needs --bytes-per-cell");

    const uint64_t pages = KQUMemoryTotalPageCount();
    const KQUPhysicalMemory probe = KQUMemoryProbeResult();
    if (pages == 0) {
        fmt::print("physical: unknown\n");
    } else {
        fmt::print("physical: {} MB\n", probe.usableBytes / (1u << 20));
        fmt::print("limited by: {}\n", KQUMemoryLimitSourceName(probe.limitedBy));
        fmt::print("estimated: {} MB\n", KQUMemoryEstimatedMemoryInMegabytes());
    }
    fmt::print("uptime: {:.0f} s\n", KQUUptime());
    if (!judge) return 0;

    auto cells = static_cast<uint32_t>(parseNumber("--cells", *arguments.value("--cells"), 4294967295.0));
    double bytes = parseNumber("--bytes-per-cell", *arguments.value("--bytes-per-cell"), 1e15);
    const bool import = arguments.has("--import");
    const bool admitted = import ? isThereEnoughMemoryToImport(cells, bytes) : isThereEnoughMemory(cells, bytes);
    fmt::print("{}: {}\n", import ? "import" : "open", admitted ? "admitted" : "refused");
    return admitted ? 0 : 1;
}

KQUToolRegistration memoryCommand({
    .name = "memory",
    .summary = "Show the memory documents may use, and judge a document of N cells",
    .options = {{"--cells", "N", "judge opening a document of N table cells"},
                {"--bytes-per-cell", "B", "the estimated bytes each cell takes"},
                {"--import", "", "judge importing instead of opening"}},
    .example = "kqu memory --cells 2000000 --bytes-per-cell 120",
    .details = "physical is the memory this process may use in MB: the smallest of the machine's memory, its "
               "cgroup limit and its address-space limit; 'limited by' says which. "
               "estimated is what is left for documents (of at most 4096 MB) after the share kept for the system. With --cells the "
               "last line is 'open: admitted' or 'open: refused' ('import: ...' with --import), and the status "
               "is 1 when refused. The default IgnoreMemoryChecks admits everything.",
    .run = runMemory,
});

int runEquation(const KQUToolArguments& arguments) {
    int status = 0;
    for (const std::string& path : arguments.operands) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            fmt::print(stderr, "kqu: {}: {}\n", path, std::strerror(errno));
            status = 1;
            continue;
        }
        // Only the first 1024 bytes (and a signature straddling them) matter.
        std::vector<uint8_t> bytes(1024 + 8);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<size_t>(in.gcount()));
        if (!KQUPictDataIsEgoEquation(bytes)) {
            fmt::print("{}: not an equation picture\n", path);
            status = 1;
            continue;
        }
        uint32_t creator = KQUEgoPictGetCreator(bytes);
        char code[5] = {char(creator >> 24), char(creator >> 16), char(creator >> 8), char(creator), 0};
        char descent[32];
        std::snprintf(descent, sizeof descent, "%g", static_cast<double>(KQUEgoPictGetDescent(bytes)));
        fmt::print("{}: {} descent {}\n", path, code, descent);
    }
    return status;
}

KQUToolRegistration equationCommand({
    .name = "equation",
    .operands = "FILE...",
    .summary = "Tell which pictures are equations, with their editor and descent",
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu equation formula.pict",
    .details = "Prints 'FILE: CREATOR descent D' for an equation picture (CREATOR is the editor's four-character "
               "code, MTHU or CWEE; D the points from the baseline to the picture's bottom), or "
               "'FILE: not an equation picture'. The status is 1 when any file is not one.",
    .run = runEquation,
});

}  // namespace
}  // namespace kqu::tool
