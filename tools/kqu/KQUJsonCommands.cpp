// kqu json check / kqu json format: validate and lay out JSON text with the library's
// reader and writer.
//
//     $ kqu json check data.json          (silent, status 0, when the text is valid)
//     kqu: data.json:3:14: expected ',' or ']'
//     $ kqu json format --compact data.json
//     {"a":[1,2]}
//
// Unlike the library's readers, these commands refuse anything but white space after the
// closing bracket or brace. Line and column count from 1, the column in characters.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fmt/format.h>

#include "kqutility/interchange/KQUJson.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

std::string readAll(const std::string& path) {
    FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) throw KQUToolError(fmt::format("cannot read {}: {}", path, std::strerror(errno)));
    std::string text;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    bool failed = std::ferror(file);
    int error = errno;
    if (file != stdin) std::fclose(file);
    if (failed) throw KQUToolError(fmt::format("cannot read {}: {}", path, std::strerror(error)));
    return text;
}

// The document in text (null when only checking), or a KQUToolError "NAME:LINE:COLUMN:
// REASON".
KQUValue readDocument(const std::string& name, std::string_view text, bool build) {
    KQUJsonError error;
    size_t end = 0;
    std::optional<KQUValue> value;
    if (build) value = KQUJson::parse(text, &error, &end);
    else if (KQUJson::validate(text, &error, &end)) value = KQUValue();
    if (value) {
        end = KQUJson::skipWhitespace(text, end);
        if (end == text.size()) return *value;
        error = {end, "text after the end"};
    }
    size_t offset = std::min(error.offset, text.size());
    size_t lineStart = text.rfind('\n', offset == 0 ? std::string_view::npos : offset - 1);
    lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(lineStart), '\n'));
    size_t column = 1;
    for (size_t i = lineStart; i < offset; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
    throw KQUToolError(fmt::format("{}:{}:{}: {}", name, line, column, error.reason));
}

int runCheck(const KQUToolArguments& arguments) {
    std::string path = arguments.operands.empty() ? "-" : arguments.operands[0];
    std::string text = readAll(path);
    (void)readDocument(path, text, false);
    return 0;
}

int runFormat(const KQUToolArguments& arguments) {
    std::string path = arguments.operands.empty() ? "-" : arguments.operands[0];
    std::string text = readAll(path);
    KQUValue value = readDocument(path, text, true);
    std::string out = arguments.has("--compact") ? KQUJson::stringFromObject(value) : KQUJson::prettyStringFromObject(value, 2);
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

KQUToolRegistration checkRegistration({
    .name = "json check",
    .operands = "[FILE|-]",
    .summary = "Check that a file holds one JSON array or object",
    .minOperands = 0,
    .maxOperands = 1,
    .example = "kqu json check settings.json",
    .details = "Silent with status 0 when the text is one array or object, with only white space around "
               "it. Otherwise prints FILE:LINE:COLUMN: REASON (columns in characters) and exits 1. "
               "Without FILE, or with '-', reads standard input.",
    .run = runCheck,
});

KQUToolRegistration formatRegistration({
    .name = "json format",
    .operands = "[FILE|-]",
    .summary = "Print a JSON document indented by two blanks, or compact",
    .options = {{"--compact", "", "no white space at all"}},
    .minOperands = 0,
    .maxOperands = 1,
    .example = "kqu json format --compact settings.json",
    .details = "Numbers are printed exactly as read, without exponent; keys keep their order (a repeated "
               "key keeps its first place and last value). Invalid text is reported as by json check.",
    .run = runFormat,
});

}  // namespace
}  // namespace kqu::tool
