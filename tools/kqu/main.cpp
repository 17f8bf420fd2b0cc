// kqu: the command-line face of the library. main finds the command named by the first
// one or two words, answers help requests from the command's declaration, and turns
// what the command throws into one line on stderr and the exit status (0 success,
// 1 failure, 2 usage error).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolOutput.h"

#ifndef KQU_VERSION
#define KQU_VERSION "0"
#endif

namespace kqu::tool {
namespace {

constexpr size_t kNameColumn = 20;

void printCommandList(FILE* out, const std::string& group) {
    for (const auto& c : KQUToolCommands()) {
        if (!group.empty() && c.name.rfind(group + " ", 0) != 0) continue;
        std::string left = "  " + c.name;
        left += std::string(left.size() < kNameColumn ? kNameColumn - left.size() : 1, ' ');
        fmt::print(out, "{}{}\n", left, KQUWrapText(c.summary, 80, kNameColumn, left.size()));
    }
}

void printOverview(FILE* out) {
    fmt::print(out, "usage: kqu COMMAND [OPTIONS] [OPERANDS]\n\nCommands:\n");
    printCommandList(out, "");
    fmt::print(out,
               "  {:<{}}{}\n  {:<{}}{}\n\n"
               "'kqu help COMMAND' or 'kqu COMMAND --help' shows a command's options.\n"
               "'-' names standard input or output where a command reads or writes one file.\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n",
               "help [COMMAND]", kNameColumn - 2, "Show this list, or one command's help", "--version",
               kNameColumn - 2, "Show the version");
}

bool isGroup(const std::string& word) {
    for (const auto& c : KQUToolCommands())
        if (c.name.rfind(word + " ", 0) == 0) return true;
    return false;
}

// The command the words begin with, and how many words its name took.
const KQUToolCommandDeclaration* findCommand(const std::vector<std::string>& words, size_t* consumed) {
    if (words.size() >= 2)
        if (auto c = KQUFindToolCommand(words[0] + " " + words[1])) {
            *consumed = 2;
            return c;
        }
    if (auto c = KQUFindToolCommand(words[0])) {
        *consumed = 1;
        return c;
    }
    return nullptr;
}

int help(const std::vector<std::string>& topic) {
    if (topic.empty()) {
        printOverview(stdout);
        return 0;
    }
    size_t consumed = 0;
    auto command = findCommand(topic, &consumed);
    if (command && consumed == topic.size()) {
        fmt::print("{}", KQUToolHelp(*command));
        return 0;
    }
    if (topic.size() == 1 && isGroup(topic[0])) {
        fmt::print("Commands of 'kqu {}':\n", topic[0]);
        printCommandList(stdout, topic[0]);
        return 0;
    }
    std::string name = fmt::format("{}", fmt::join(topic, " "));
    fmt::print(stderr, "kqu: no command '{}'; see 'kqu help'\n", name);
    return 2;
}

int run(const std::vector<std::string>& words) {
    if (words.empty()) {
        printOverview(stderr);
        return 2;
    }
    if (words[0] == "help" || words[0] == "--help" || words[0] == "-h")
        return help(std::vector<std::string>(words.begin() + 1, words.end()));
    if (words[0] == "--version") {
        fmt::print("kqu {}\n", KQU_VERSION);
        return 0;
    }
    size_t consumed = 0;
    const KQUToolCommandDeclaration* command = findCommand(words, &consumed);
    if (!command) {
        if (isGroup(words[0])) {
            if (words.size() == 1)
                fmt::print(stderr, "kqu: '{}' needs a subcommand:\n", words[0]);
            else
                fmt::print(stderr, "kqu: unknown subcommand '{} {}'; the subcommands are:\n", words[0],
                           words[1]);
            printCommandList(stderr, words[0]);
        } else {
            fmt::print(stderr, "kqu: unknown command '{}'; see 'kqu help'\n", words[0]);
        }
        return 2;
    }
    std::vector<std::string> rest(words.begin() + static_cast<ptrdiff_t>(consumed), words.end());
    for (const auto& word : rest) {
        if (word == "--") break;
        if (word == "--help" || word == "-h") {
            fmt::print("{}", KQUToolHelp(*command));
            return 0;
        }
    }
    try {
        if (command->runWords) return command->runWords(rest);
        return command->run(KQUParseToolArguments(*command, rest));
    } catch (const KQUToolUsageError& e) {
        fmt::print(stderr, "kqu: {}\n", e.what());
        if (std::string_view(e.what()).rfind("usage:", 0) != 0)
            fmt::print(stderr, "{}", KQUToolUsage(*command));
        return 2;
    } catch (const KQUToolError& e) {
        fmt::print(stderr, "kqu: {}\n", e.what());
    } catch (const kqu::KQUException& e) {
        fmt::print(stderr, "kqu: {}\n", e.reason());
    } catch (const std::exception& e) {
        fmt::print(stderr, "kqu: {}\n", e.what());
    }
    return 1;
}

}  // namespace
}  // namespace kqu::tool

int main(int argc, char** argv) {
    kqu::KQUUserDefaults::setApplicationName("kqu");
    kqu::tool::KQUInstallCleanupSignalHandlers();
    int status = kqu::tool::run(std::vector<std::string>(argv + 1, argv + argc));
    if (std::fflush(stdout) != 0 && status == 0) {
        std::fputs("kqu: could not write to standard output\n", stderr);
        status = 1;
    }
    return status;
}
