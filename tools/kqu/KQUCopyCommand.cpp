// kqu copy: copies a file through a buffered input stream into an atomic output file that
// is put in place only when every byte has been written, so DST is never left
// half-written.
#include <fmt/format.h>

#include "kqutility/foundation/KQUAtomicOutputFile.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

int runCopy(const std::vector<std::string>& words) {
    const std::string usage = "copy [--force] [--quiet] SRC DST";
    auto arguments = KQUParseToolArguments(words, {"--force", "--quiet"}, {});
    KQURequireOperands(arguments, 2, 2, usage);
    const std::string& source = arguments.operands[0];
    std::string destination = arguments.operands[1];
    if (auto attributes = KQUAttributesOfItem(destination);
        attributes && attributes->type == KQUFileType::Directory) {
        // Appended piecewise: GCC 12 at -O3 reports a false -Wrestrict for "/" + string.
        destination += '/';
        destination += KQULastPathComponent(source);
    }
    bool replace = arguments.has("--force");
    if (!replace && KQUFileExists(destination))
        throw KQUToolError(fmt::format("{} exists; use --force to replace it", destination));

    auto attributes = KQUAttributesOfItem(source);
    if (!attributes) throw KQUToolError(fmt::format("{}: no such file", source));
    if (attributes->type != KQUFileType::Regular)
        throw KQUToolError(fmt::format("{}: not a regular file", source));
    auto file = KQUFileInputStream::create(source);
    if (!file) throw KQUToolError(fmt::format("{}: cannot read", source));
    file->disableSystemCaching();
    KQUBufferedInputStream input(file);

    KQUAtomicOutputFile output(
        destination, {.replace = replace ? KQUReplaceMode::ReplaceExisting : KQUReplaceMode::NeverReplace,
                      .syncToDisk = true});
    int64_t copied = 0;
    const char* bytes = nullptr;
    while (uint32_t n = input.readToOwnBuffer(&bytes, input.bufferSize())) {
        output.write(std::string_view(bytes, n));
        copied += n;
    }
    input.close();
    try {
        output.keep();
    } catch (const KQUAtomicOutputFileError& e) {
        if (e.errorNumber() == EEXIST)
            throw KQUToolError(fmt::format("{} exists; use --force to replace it", destination));
        throw KQUToolError(e.reason());
    }
    if (!arguments.has("--quiet")) fmt::print("copied {} bytes from {} to {}\n", copied, source, destination);
    return 0;
}

KQUToolRegistrar registrar({"copy", "copy [--force] [--quiet] SRC DST",
                            "Copy a file; DST appears only when complete", runCopy});

}  // namespace
}  // namespace kqu::tool
