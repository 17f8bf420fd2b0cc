// kqu defaults: reads and writes the settings that steer the library (log level,
// assertion policy, ...) in the application's defaults file.
#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

int runDefaults(const std::vector<std::string>& words) {
    const std::string usage = "defaults [--app NAME] read [KEY] | write KEY VALUE | delete KEY";
    auto arguments = KQUParseToolArguments(words, {}, {"--app"});
    if (auto app = arguments.value("--app")) {
        if (app->empty() || app->find('/') != std::string::npos)
            throw KQUToolError("--app needs a plain name");
        KQUUserDefaults::setApplicationName(*app);
        KQUUserDefaults::resetStandardUserDefaults();
    }
    KQURequireOperands(arguments, 1, 3, usage);
    const auto& ops = arguments.operands;
    auto& defaults = KQUUserDefaults::standardUserDefaults();
    KQUError error;
    if (ops[0] == "read") {
        KQURequireOperands(arguments, 1, 2, usage);
        if (ops.size() == 2) {
            auto value = defaults.stringForKey(ops[1]);
            if (!value) throw KQUToolError(fmt::format("no value for {}", ops[1]));
            fmt::print("{}\n", *value);
            return 0;
        }
        std::string path = defaults.persistentDomainPath();
        FILE* file = std::fopen(path.c_str(), "r");
        if (!file) return 0;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) std::fwrite(buffer, 1, n, stdout);
        std::fclose(file);
        return 0;
    }
    if (ops[0] == "write") {
        KQURequireOperands(arguments, 3, 3, usage);
        if (ops[1].find_first_of("= \t\n#") != std::string::npos || ops[1].empty())
            throw KQUToolError(fmt::format("invalid key '{}'", ops[1]));
        if (ops[2].find('\n') != std::string::npos) throw KQUToolError("a value is one line");
        defaults.setObject(KQUValue(ops[2]), ops[1]);
    } else if (ops[0] == "delete") {
        KQURequireOperands(arguments, 2, 2, usage);
        defaults.removeObjectForKey(ops[1]);
    } else {
        throw KQUToolError("usage: kqu " + usage);
    }
    if (!defaults.synchronize(&error)) throw KQUToolError(error.description);
    return 0;
}

KQUToolRegistrar registrar({"defaults", "defaults read [KEY] | write KEY VALUE | delete KEY",
                            "Show or change the settings that steer logging and assertions", runDefaults});

}  // namespace
}  // namespace kqu::tool
