// Running kqu and small Python scripts from the tool tests, as a user's shell would.
#pragma once

#include <string>

#include <fmt/format.h>

#include "support/KQUTestSupport.h"

namespace kqu::test {

struct ToolRun {
    int status;
    std::string output;  // standard output and standard error, in order
};

// Runs "prefix kqu arguments" through the shell; arguments are shell words (quote them).
inline ToolRun runTool(const std::string& arguments, const std::string& prefix = "") {
    ToolRun run{};
    run.status = runCommand(fmt::format("{} '{}' {} 2>&1", prefix, KQU_TOOL_PATH, arguments), &run.output);
    return run;
}

// Runs a Python program (given as text) with arguments; returns its standard output.
inline std::string runPython(const TempDir& dir, const std::string& program,
                             const std::string& arguments = "") {
    writeFile(dir.file("script.py"), program);
    std::string output;
    int status = runCommand(fmt::format("python3 '{}' {} 2>&1", dir.file("script.py"), arguments), &output);
    EXPECT_EQ(status, 0) << output;
    return output;
}

// path in single quotes for the shell.
inline std::string sq(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace kqu::test
