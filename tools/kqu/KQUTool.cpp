// The command table, the parser built from each declaration, and the help text.
#include "tools/kqu/KQUTool.h"

#include <algorithm>

#include <fmt/format.h>

namespace kqu::tool {

namespace {

constexpr size_t kWidth = 80;
constexpr size_t kOptionColumn = 24;

std::vector<KQUToolCommandDeclaration>& table() {
    static std::vector<KQUToolCommandDeclaration> commands;
    return commands;
}

const KQUToolOption kHelpOption{"-h, --help", "", "show this help"};

std::string optionSynopsis(const KQUToolOption& option) {
    return option.value.empty() ? fmt::format("[{}]", option.name)
                                : fmt::format("[{} {}]", option.name, option.value);
}

// Appends words (each kept whole) to lines of at most width columns; continuation lines
// start with indent spaces. column is where the first word goes.
void appendWrapped(std::string& out, const std::vector<std::string>& words, size_t column, size_t indent,
                   size_t width) {
    bool first = true;
    for (const auto& word : words) {
        if (!first && column + 1 + word.size() > width) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
    }
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

}  // namespace

std::string KQUWrapText(const std::string& text, size_t width, size_t indent, size_t firstIndent) {
    std::string out;
    size_t start = 0;
    bool firstParagraph = true;
    // Lines the author broke by hand stay broken; each is wrapped on its own.
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (!firstParagraph) out += "\n" + std::string(indent, ' ');
        std::string line = text.substr(start, end - start);
        if (!line.empty())
            appendWrapped(out, splitWords(line), firstParagraph ? firstIndent : indent, indent, width);
        firstParagraph = false;
        start = end + 1;
    }
    return out;
}

KQUToolRegistration::KQUToolRegistration(KQUToolCommandDeclaration declaration) {
    table().push_back(std::move(declaration));
}

KQUToolRegistrar::KQUToolRegistrar(KQUToolCommand command) {
    std::string operands = command.usage;
    if (operands.rfind(command.name, 0) == 0) operands.erase(0, command.name.size());
    while (!operands.empty() && operands.front() == ' ') operands.erase(0, 1);
    KQUToolCommandDeclaration declaration;
    declaration.name = std::move(command.name);
    declaration.operands = std::move(operands);
    declaration.summary = std::move(command.summary);
    declaration.maxOperands = KQUToolAnyNumber;
    declaration.runWords = std::move(command.run);
    table().push_back(std::move(declaration));
}

const std::vector<KQUToolCommandDeclaration>& KQUToolCommands() {
    static bool sorted = false;
    if (!sorted) {
        std::sort(table().begin(), table().end(), [](auto& a, auto& b) { return a.name < b.name; });
        sorted = true;
    }
    return table();
}

const KQUToolCommandDeclaration* KQUFindToolCommand(const std::string& name) {
    for (const auto& command : KQUToolCommands())
        if (command.name == name) return &command;
    return nullptr;
}

bool KQUToolArguments::has(const std::string& option) const {
    for (const auto& [k, v] : options)
        if (k == option) return true;
    return false;
}

std::optional<std::string> KQUToolArguments::value(const std::string& option) const {
    std::optional<std::string> found;
    for (const auto& [k, v] : options)
        if (k == option) found = v;
    return found;
}

namespace {

// The parser shared by both kinds of registration: takesValue answers for a known
// option, nullopt for an unknown one.
template <typename Lookup>
KQUToolArguments parseWords(const std::vector<std::string>& arguments, Lookup takesValue) {
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
        std::optional<bool> valued = takesValue(name);
        if (!valued) throw KQUToolUsageError(fmt::format("unknown option {}", name));
        if (!*valued) {
            if (hasValue) throw KQUToolUsageError(fmt::format("option {} takes no value", name));
            parsed.options.emplace_back(name, "");
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                throw KQUToolUsageError(fmt::format("option {} needs a value", name));
            value = arguments[++i];
        }
        parsed.options.emplace_back(name, value);
    }
    return parsed;
}

}  // namespace

KQUToolArguments KQUParseToolArguments(const KQUToolCommandDeclaration& command,
                                       const std::vector<std::string>& words) {
    auto parsed = parseWords(words, [&](const std::string& name) -> std::optional<bool> {
        for (const auto& option : command.options)
            if (option.name == name) return !option.value.empty();
        return std::nullopt;
    });
    size_t count = parsed.operands.size();
    if (count < command.minOperands || count > command.maxOperands) {
        std::string expected = command.operands.empty() ? "no operands" : command.operands;
        throw KQUToolUsageError(fmt::format("{}: expected {}, got {} operand{}", command.name, expected,
                                            count, count == 1 ? "" : "s"));
    }
    return parsed;
}

KQUToolArguments KQUParseToolArguments(const std::vector<std::string>& arguments,
                                       const std::vector<std::string>& flags,
                                       const std::vector<std::string>& valuedOptions) {
    return parseWords(arguments, [&](const std::string& name) -> std::optional<bool> {
        if (std::find(flags.begin(), flags.end(), name) != flags.end()) return false;
        if (std::find(valuedOptions.begin(), valuedOptions.end(), name) != valuedOptions.end()) return true;
        return std::nullopt;
    });
}

void KQURequireOperands(const KQUToolArguments& arguments, size_t min, size_t max, const std::string& usage) {
    if (arguments.operands.size() < min || arguments.operands.size() > max)
        throw KQUToolUsageError("usage: kqu " + usage);
}

std::string KQUToolUsage(const KQUToolCommandDeclaration& command) {
    std::string head = "usage: kqu " + command.name;
    std::vector<std::string> words;
    for (const auto& option : command.options) words.push_back(optionSynopsis(option));
    for (const auto& word : splitWords(command.operands)) words.push_back(word);
    std::string out = head;
    if (!words.empty()) {
        out += ' ';
        appendWrapped(out, words, head.size() + 1, head.size() + 1, kWidth);
    }
    return out + "\n";
}

std::string KQUToolHelp(const KQUToolCommandDeclaration& command) {
    std::string out = KQUToolUsage(command);
    out += "\n" + KQUWrapText(command.summary + ".", kWidth, 0) + "\n";
    if (!command.details.empty()) {
        size_t start = 0;
        while (start < command.details.size()) {
            size_t end = command.details.find("\n\n", start);
            if (end == std::string::npos) end = command.details.size();
            out += "\n" + KQUWrapText(command.details.substr(start, end - start), kWidth, 0) + "\n";
            start = end + 2;
        }
    }
    if (!command.runWords || !command.options.empty()) {
        out += "\nOptions:\n";
        std::vector<KQUToolOption> options = command.options;
        options.push_back(kHelpOption);
        for (const auto& option : options) {
            std::string left = "  " + option.name + (option.value.empty() ? "" : " " + option.value);
            if (left.size() + 2 > kOptionColumn) {
                out += left + "\n" + std::string(kOptionColumn, ' ');
            } else {
                out += left + std::string(kOptionColumn - left.size(), ' ');
            }
            out += KQUWrapText(option.help, kWidth, kOptionColumn, kOptionColumn) + "\n";
        }
    }
    if (!command.example.empty()) out += "\nExample:\n  " + command.example + "\n";
    return out;
}

}  // namespace kqu::tool
