// The kqu tool's command table. Each command lives in its own source file and declares
// itself once, with a static KQUToolRegistration; the parser, `kqu help`, `kqu help CMD`,
// `kqu CMD --help` and usage errors all come from that one declaration:
//
//     static KQUToolRegistration copyCommand({
//         .name = "copy",
//         .operands = "SRC DST",
//         .summary = "Copy a file; DST appears only when complete",
//         .options = {{"--force", "", "replace DST when it exists"}},
//         .minOperands = 2, .maxOperands = 2,
//         .example = "kqu copy notes.txt backup/notes.txt",
//         .run = runCopy,
//     });
//
// run receives the parsed options and operands and returns the exit status. Exit
// statuses are the same everywhere: 0 success, 1 failure (bad data, wrong passphrase,
// refused destination: throw KQUToolError, or let a KQUException through), 2 usage error
// (unknown option, missing value, wrong number of operands: KQUToolUsageError). main
// prints "kqu: <message>" on one line.
//
// The registration table is filled by static objects before main runs and only read
// afterwards; nothing here is meant for more than one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqu::tool {

class KQUToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command line the command cannot make sense of; main adds the usage line and exits 2.
class KQUToolUsageError : public KQUToolError {
public:
    using KQUToolError::KQUToolError;
};

struct KQUToolOption {
    std::string name{};   // "--force"
    std::string value{};  // what the value is called ("FILE"); empty for an option without one
    std::string help{};   // one line
};

// Parsed command line: options in the order given, and the operands.
struct KQUToolArguments {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;

    bool has(const std::string& option) const;
    // The last value given for option.
    std::optional<std::string> value(const std::string& option) const;
};

inline constexpr size_t KQUToolAnyNumber = SIZE_MAX;

struct KQUToolCommandDeclaration {
    std::string name{};      // one or two words: "copy", "zip list"
    std::string operands{};  // "ARCHIVE NAME..."; shown after the options in the usage line
    std::string summary{};   // one line, shown by `kqu help`
    std::vector<KQUToolOption> options{};
    size_t minOperands = 0;
    size_t maxOperands = 0;  // KQUToolAnyNumber for no limit
    std::string example{};   // a whole command line, shown by `kqu help CMD`
    std::string details{};   // optional paragraphs for `kqu help CMD` (wrapped; "\n\n" separates)
    std::function<int(const KQUToolArguments&)> run{};
    // Commands written for the older registration take the raw words instead.
    std::function<int(const std::vector<std::string>&)> runWords{};
};

struct KQUToolRegistration {
    explicit KQUToolRegistration(KQUToolCommandDeclaration declaration);
};

// The table, sorted by name.
const std::vector<KQUToolCommandDeclaration>& KQUToolCommands();
const KQUToolCommandDeclaration* KQUFindToolCommand(const std::string& name);

// Parses words by the declaration: options anywhere before "--", "--name value" or
// "--name=value" for options that take a value, "-" as an operand. Throws
// KQUToolUsageError for unknown options, missing or unwanted values and operand counts
// outside the declared range.
KQUToolArguments KQUParseToolArguments(const KQUToolCommandDeclaration& command,
                                       const std::vector<std::string>& words);
// "usage: kqu NAME [--opt] [--opt VALUE] OPERANDS", wrapped to 80 columns.
std::string KQUToolUsage(const KQUToolCommandDeclaration& command);
// The whole help of one command: usage, summary, details, options, example.
std::string KQUToolHelp(const KQUToolCommandDeclaration& command);
// text wrapped to width columns, continuation lines indented by indent spaces.
std::string KQUWrapText(const std::string& text, size_t width, size_t indent, size_t firstIndent = 0);

// ---- The older registration, kept so that commands written against it still build ------
//
//     static KQUToolRegistrar trendCommand({"trend", "trend [--degree N] FILE", "Fit ...", runTrend});
//
// Such a command parses its own words (KQUParseToolArguments with flag lists below); its
// help shows only its usage and summary. Converting means moving its option list into a
// KQUToolCommandDeclaration and taking KQUToolArguments in run.
struct KQUToolCommand {
    std::string name;
    std::string usage;    // "copy [--force] SRC DST"
    std::string summary;  // one line
    std::function<int(const std::vector<std::string>& arguments)> run;
};

struct KQUToolRegistrar {
    explicit KQUToolRegistrar(KQUToolCommand command);
};

KQUToolArguments KQUParseToolArguments(const std::vector<std::string>& arguments,
                                       const std::vector<std::string>& flags,
                                       const std::vector<std::string>& valuedOptions);
// Throws KQUToolUsageError with "usage: kqu <usage>" unless the operand count lies
// between min and max.
void KQURequireOperands(const KQUToolArguments& arguments, size_t min, size_t max, const std::string& usage);

}  // namespace kqu::tool
