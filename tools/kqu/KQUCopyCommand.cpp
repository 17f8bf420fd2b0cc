// kqu copy: copies a file into a destination written safely (see KQUToolOutput): a
// regular DST appears only when every byte has been written, so it is never left
// half-written; devices and FIFOs are written directly; "-" is standard input or output.
// A new DST gets SRC's permission bits (under the umask), a replaced one keeps its own.
#include <sys/stat.h>

#include <fmt/format.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolOutput.h"
#include "tools/kqu/KQUToolProgress.h"

namespace kqu::tool {
namespace {

constexpr uint32_t kChunk = 256 << 10;

int runCopy(const KQUToolArguments& arguments) {
    const std::string& source = arguments.operands[0];
    std::string destination = arguments.operands[1];
    if (destination != "-" && source != "-") {
        if (auto attributes = KQUAttributesOfItem(destination);
            attributes && attributes->type == KQUFileType::Directory) {
            // Appended piecewise: GCC 12 at -O3 reports a false -Wrestrict for "/" + string.
            destination += '/';
            destination += KQULastPathComponent(source);
        }
    }

    auto input = KQUToolOpenInput(source, kChunk);
    KQUToolOutputOptions options{.replace = arguments.has("--force")};
    struct stat status {};
    if (source != "-" && ::stat(source.c_str(), &status) == 0) options.newMode = status.st_mode & 0777;
    KQUToolOutput output(destination, options);
    auto stream = output.stream();
    KQUToolProgress progress(arguments, "copy");
    if (source != "-" && S_ISREG(status.st_mode)) progress.begin(static_cast<uint64_t>(status.st_size));
    KQUToolProgress::Phase phase(progress, "copy");
    int64_t copied = 0;
    const char* bytes = nullptr;
    while (uint32_t n = input->readToOwnBuffer(&bytes, kChunk)) {
        stream->writeBuffer(bytes, n);
        copied += n;
        progress.advance(n);
    }
    input->close();
    output.commit();
    progress.finish();
    if (!arguments.has("--quiet") && output.kind() != KQUToolOutput::Kind::StandardOutput)
        fmt::print("copied {} bytes from {} to {}\n", copied, source == "-" ? "standard input" : source,
                   output.name());
    return 0;
}

KQUToolRegistration registration({
    .name = "copy",
    .operands = "SRC DST",
    .summary = "Copy a file; a regular DST appears only when complete",
    .options = {{"--force", "", "replace DST when it is an existing file"},
                {"--quiet", "", "print nothing on success"}},
    .minOperands = 2,
    .maxOperands = 2,
    .example = "kqu copy report.zip /media/backup/",
    .details = "SRC or DST may be '-' for standard input or output. A DST that is a directory receives "
               "SRC's name; a device or FIFO is written directly; a symbolic link to a file is followed "
               "and stays a link. A new DST gets SRC's permissions, a replaced one keeps its own.",
    .run = runCopy,
});

}  // namespace
}  // namespace kqu::tool
