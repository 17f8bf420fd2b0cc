// kqu: the command-line face of the library.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "tools/kqu/KQUTool.h"

#ifndef KQU_VERSION
#define KQU_VERSION "0"
#endif

namespace kqu::tool {

namespace {
std::vector<KQUToolCommand>& table() {
    static std::vector<KQUToolCommand> commands;
    return commands;
}

void printHelp(FILE* out) {
    fmt::print(out, "usage: kqu COMMAND [ARGUMENTS]\n\nCommands:\n");
    for (const auto& c : KQUToolCommands()) fmt::print(out, "  {:<44} {}\n", c.usage, c.summary);
    fmt::print(out, "  {:<44} {}\n  {:<44} {}\n", "help", "Show this list", "--version", "Show the version");
}
}  // namespace

KQUToolRegistrar::KQUToolRegistrar(KQUToolCommand command) {
    table().push_back(std::move(command));
}

const std::vector<KQUToolCommand>& KQUToolCommands() {
    static bool sorted = false;
    if (!sorted) {
        std::sort(table().begin(), table().end(), [](auto& a, auto& b) { return a.name < b.name; });
        sorted = true;
    }
    return table();
}

bool KQUToolArguments::has(const std::string& option) const {
    for (const auto& [k, v] : options)
        if (k == option) return true;
    return false;
}

std::optional<std::string> KQUToolArguments::value(const std::string& option) const {
    for (const auto& [k, v] : options)
        if (k == option) return v;
    return std::nullopt;
}

KQUToolArguments KQUParseToolArguments(const std::vector<std::string>& arguments,
                                       const std::vector<std::string>& flags,
                                       const std::vector<std::string>& valuedOptions) {
    KQUToolArguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            parsed.operands.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word, value;
        bool hasValue = false;
        if (auto eq = word.find('='); eq != std::string::npos) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
            hasValue = true;
        }
        if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
            if (hasValue) throw KQUToolError(fmt::format("option {} takes no value", name));
            parsed.options.emplace_back(name, "");
        } else if (std::find(valuedOptions.begin(), valuedOptions.end(), name) != valuedOptions.end()) {
            if (!hasValue) {
                if (i + 1 >= arguments.size())
                    throw KQUToolError(fmt::format("option {} needs a value", name));
                value = arguments[++i];
            }
            parsed.options.emplace_back(name, value);
        } else {
            throw KQUToolError(fmt::format("unknown option {}", word));
        }
    }
    return parsed;
}

void KQURequireOperands(const KQUToolArguments& arguments, size_t min, size_t max, const std::string& usage) {
    if (arguments.operands.size() < min || arguments.operands.size() > max)
        throw KQUToolError("usage: kqu " + usage);
}

}  // namespace kqu::tool

int main(int argc, char** argv) {
    using namespace kqu::tool;
    kqu::KQUUserDefaults::setApplicationName("kqu");
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "help" || words[0] == "--help" || words[0] == "-h") {
        printHelp(words.empty() ? stderr : stdout);
        return words.empty() ? 2 : 0;
    }
    if (words[0] == "--version") {
        fmt::print("kqu {}\n", KQU_VERSION);
        return 0;
    }
    const KQUToolCommand* found = nullptr;
    size_t consumed = 0;
    for (const auto& c : KQUToolCommands()) {
        size_t space = c.name.find(' ');
        if (space == std::string::npos) {
            if (words[0] == c.name && consumed < 1) found = &c, consumed = 1;
        } else if (words.size() >= 2 && words[0] == c.name.substr(0, space) &&
                   words[1] == c.name.substr(space + 1)) {
            found = &c, consumed = 2;
        }
    }
    if (!found) {
        bool isGroup = false;
        for (const auto& c : KQUToolCommands())
            if (c.name.rfind(words[0] + " ", 0) == 0) isGroup = true;
        fmt::print(stderr, "kqu: {} '{}'; see 'kqu help'\n",
                   isGroup ? "unknown or missing subcommand for" : "unknown command",
                   fmt::join(words.begin(), words.begin() + (isGroup && words.size() > 1 ? 2 : 1), " "));
        return 2;
    }
    try {
        return found->run(std::vector<std::string>(words.begin() + consumed, words.end()));
    } catch (const KQUToolError& e) {
        fmt::print(stderr, "kqu: {}\n", e.what());
    } catch (const kqu::KQUException& e) {
        fmt::print(stderr, "kqu: {}\n", e.reason());
    } catch (const std::exception& e) {
        fmt::print(stderr, "kqu: {}\n", e.what());
    }
    return 1;
}
