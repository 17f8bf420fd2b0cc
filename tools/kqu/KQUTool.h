// The kqu tool's command table. Each command lives in its own source file and registers
// itself with a static KQUToolRegistrar, so adding a command touches no other file:
//
//     static KQUToolRegistrar copyCommand({"copy", "copy [--force] SRC DST", "Copy a file safely", runCopy});
//
// A command receives the words after its name and returns the exit status. Errors are
// reported by throwing KQUToolError (or any KQUException): main prints "kqu: <message>"
// on one line and exits with status 1.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqu::tool {

struct KQUToolCommand {
    std::string name;     // one or two words: "copy", "zip list"
    std::string usage;    // shown by "kqu help"
    std::string summary;  // one line
    std::function<int(const std::vector<std::string>& arguments)> run;
};

struct KQUToolRegistrar {
    explicit KQUToolRegistrar(KQUToolCommand command);
};

const std::vector<KQUToolCommand>& KQUToolCommands();

class KQUToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Splits arguments into options and operands. flags are options without a value
// ("--force"); valued options take the next word ("--iterations 1000") or "--name=value".
struct KQUToolArguments {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;

    bool has(const std::string& option) const;
    std::optional<std::string> value(const std::string& option) const;
};
KQUToolArguments KQUParseToolArguments(const std::vector<std::string>& arguments,
                                       const std::vector<std::string>& flags,
                                       const std::vector<std::string>& valuedOptions);
// Throws KQUToolError with "usage: kqu <usage>" unless operands has count words (or
// between min and max).
void KQURequireOperands(const KQUToolArguments& arguments, size_t min, size_t max, const std::string& usage);

}  // namespace kqu::tool
