// Helpers of the tool tests: Python scripts, files, kqu runs that must succeed or are compared as
// tables (each through runKqu), and shell quoting.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

#include <fmt/format.h>
#include <gmock/gmock.h>

#include "support/KQUTestSupport.h"

namespace kqu::test {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Runs a Python program (given as text) with arguments; returns its standard output.
inline std::string runPython(const TempDir& dir, const std::string& program,
                             const std::string& arguments = "") {
    writeFile(dir.file("script.py"), program);
    std::string output;
    EXPECT_EQ(runCommand(fmt::format("python3 '{}' {} 2>&1", dir.file("script.py"), arguments), &output), 0)
        << output;
    return output;
}

// Writes each (name, contents) under dir, making the folders it needs; a name ending in
// "/" is a folder only.
inline void writeFiles(const TempDir& dir, std::initializer_list<std::pair<std::string, std::string>> files) {
    for (const auto& [name, contents] : files) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
        if (!name.ends_with('/')) writeFile(dir.file(name), contents);
    }
}

// Runs kqu like runKqu and expects status 0, showing the output if not; returns the output.
inline std::string kquOk(const std::string& arguments, const std::string& prefix = "") {
    auto run = runKqu(arguments, prefix);
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.output;
    return run.output;
}

// One run of "kqu COMMAND arguments": its expected output (all of it, its first line, or
// what comes before the usage line of a usage error) and exit status.
struct ToolCase {
    std::string arguments, expected;
    int status;
};
enum class Compare { Whole, FirstLine, BeforeUsage };
inline void expectRuns(const std::string& command, std::initializer_list<ToolCase> cases,
                       Compare compare = Compare::Whole, const std::string& prefix = "") {
    for (const auto& c : cases) {
        auto run = runKqu(command + " " + c.arguments, prefix);
        size_t end = run.output.find(compare == Compare::FirstLine ? "\n" : "\nusage:");
        if (compare == Compare::Whole || end == std::string::npos) end = run.output.size();
        if (compare == Compare::BeforeUsage) ++end;
        EXPECT_EQ(run.output.substr(0, end), c.expected) << command << " " << c.arguments;
        EXPECT_EQ(run.status, c.status) << command << " " << c.arguments << "\n" << run.output;
    }
}

// path in single quotes for the shell.
inline std::string sq(const std::string& path) {
    return shellQuoted(path);
}

}  // namespace kqu::test
