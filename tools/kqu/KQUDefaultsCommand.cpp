// kqu defaults read / write / delete: the settings that steer the library (log level,
// assertion policy, ...) as the library sees them. A value comes from the environment
// (KQU_DEFAULT_<key>), else the application's defaults file, else the factory value the
// library registers; `read` says which. `write` checks the value of a key the library
// knows against what that key can take, so a typo cannot silently turn logging off.
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "tools/kqu/KQUTool.h"

extern char** environ;

namespace kqu::tool {
namespace {

// A key the library reads, its factory value, and the values it accepts.
struct KnownKey {
    const char* name;
    const char* factoryValue;  // nullptr: none
    enum class Kind { LogLevel, Integer, Boolean, Text } kind;
};

const KnownKey kKnownKeys[] = {
    {"KQULogLevel", "error", KnownKey::Kind::LogLevel},
    {"KQULogEmitFilename", "NO", KnownKey::Kind::Boolean},
    {"KQUAssertLevel", "10", KnownKey::Kind::Integer},
    {"usernameAlias", nullptr, KnownKey::Kind::Text},
    {"IgnoreMemoryChecks", "NO", KnownKey::Kind::Boolean},
    {"ProgressDebug", "NO", KnownKey::Kind::Boolean},
    {"PerformanceLogEnabled", "NO", KnownKey::Kind::Boolean},
};

const KnownKey* knownKey(const std::string& name) {
    for (const auto& key : kKnownKeys)
        if (name == key.name) return &key;
    return nullptr;
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    return ::strcasecmp(a.c_str(), b) == 0;
}

bool isWholeNumber(const std::string& text) {
    if (text.empty()) return false;
    size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size() || text.size() > 12) return false;
    return text.find_first_not_of("0123456789", start) == std::string::npos;
}

// Why value does not suit key, or empty when it does.
std::string refusal(const KnownKey& key, const std::string& value) {
    switch (key.kind) {
        case KnownKey::Kind::LogLevel:
            for (const char* name : {"error", "warning", "informational"})
                if (equalsIgnoringCase(value, name)) return {};
            if (isWholeNumber(value)) return {};
            return "error, warning, informational or a whole number (1, 10, 100)";
        case KnownKey::Kind::Integer:
            return isWholeNumber(value) ? std::string() : "a whole number";
        case KnownKey::Kind::Boolean:
            for (const char* name : {"YES", "NO", "true", "false", "1", "0"})
                if (equalsIgnoringCase(value, name)) return {};
            return "YES, NO, true, false, 1 or 0";
        case KnownKey::Kind::Text:
            return {};
    }
    return {};
}

void selectApplication(const KQUToolArguments& arguments) {
    if (auto app = arguments.value("--app")) {
        if (app->empty() || app->find('/') != std::string::npos || *app == "." || *app == "..")
            throw KQUToolUsageError("--app needs a plain name");
        KQUUserDefaults::setApplicationName(*app);
        KQUUserDefaults::resetStandardUserDefaults();
    }
}

const KQUToolOption kAppOption{"--app", "NAME", "the application whose settings to use (default: kqu)"};

std::string environmentName(const std::string& key) {
    return "KQU_DEFAULT_" + key;
}

// "KEY = VALUE (source)", or nullopt when the key has no value anywhere.
std::optional<std::string> describe(const std::string& key) {
    auto& defaults = KQUUserDefaults::standardUserDefaults();
    auto value = defaults.stringForKey(key);
    std::string source;
    if (std::getenv(environmentName(key).c_str())) {
        source = "environment: " + environmentName(key);
    } else if (value) {
        source = "file: " + defaults.persistentDomainPath();
    } else if (auto known = knownKey(key); known && known->factoryValue) {
        value = known->factoryValue;
        source = "registered default";
    }
    if (!value) return std::nullopt;
    return fmt::format("{} = {} ({})", key, *value, source);
}

int runRead(const KQUToolArguments& arguments) {
    selectApplication(arguments);
    if (arguments.operands.size() == 1) {
        auto line = describe(arguments.operands[0]);
        if (!line) throw KQUToolError(fmt::format("no value for {}", arguments.operands[0]));
        fmt::print("{}\n", *line);
        return 0;
    }
    // Every key with a value: the known ones, then those of the environment and the file.
    std::vector<std::string> keys;
    for (const auto& key : kKnownKeys) keys.emplace_back(key.name);
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        if (text.rfind("KQU_DEFAULT_", 0) != 0) continue;
        keys.push_back(text.substr(12, text.find('=') - 12));
    }
    if (FILE* file =
            std::fopen(KQUUserDefaults::standardUserDefaults().persistentDomainPath().c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, file)) {
            std::string text = line;
            size_t eq = text.find('=');
            if (text.empty() || text[0] == '#' || eq == std::string::npos) continue;
            std::string key = text.substr(0, eq);
            while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
            if (!key.empty()) keys.push_back(key);
        }
        std::fclose(file);
    }
    std::vector<std::string> seen;
    for (const auto& key : keys) {
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
        seen.push_back(key);
        if (auto line = describe(key)) fmt::print("{}\n", *line);
    }
    return 0;
}

int runWrite(const KQUToolArguments& arguments) {
    selectApplication(arguments);
    const std::string& key = arguments.operands[0];
    const std::string& value = arguments.operands[1];
    if (key.find_first_of("= \t\n#") != std::string::npos || key.empty())
        throw KQUToolError(fmt::format("invalid key '{}'", key));
    if (value.find('\n') != std::string::npos) throw KQUToolError("a value is one line");
    if (auto known = knownKey(key))
        if (auto allowed = refusal(*known, value); !allowed.empty())
            throw KQUToolError(fmt::format("{} cannot be '{}'; it takes {}", key, value, allowed));
    auto& defaults = KQUUserDefaults::standardUserDefaults();
    defaults.setObject(KQUValue(value), key);
    KQUError error;
    if (!defaults.synchronize(&error)) throw KQUToolError(error.description);
    return 0;
}

int runDelete(const KQUToolArguments& arguments) {
    selectApplication(arguments);
    auto& defaults = KQUUserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(arguments.operands[0]);
    KQUError error;
    if (!defaults.synchronize(&error)) throw KQUToolError(error.description);
    return 0;
}

KQUToolRegistration readCommand({
    .name = "defaults read",
    .operands = "[KEY]",
    .summary = "Show a setting's effective value and where it comes from, or every setting",
    .options = {kAppOption},
    .minOperands = 0,
    .maxOperands = 1,
    .example = "kqu defaults read KQULogLevel",
    .details = "A value comes from the environment (KQU_DEFAULT_KEY=VALUE), else from the settings file, "
               "else from the library's registered default. Each line reads 'KEY = VALUE (source)'.",
    .run = runRead,
});
KQUToolRegistration writeCommand({
    .name = "defaults write",
    .operands = "KEY VALUE",
    .summary = "Store a setting in the settings file",
    .options = {kAppOption},
    .minOperands = 2,
    .maxOperands = 2,
    .example = "kqu defaults write KQULogLevel warning",
    .details = "Keys the library knows take only the values they understand: KQULogLevel error, warning, "
               "informational or a number; KQUAssertLevel a number; KQULogEmitFilename, "
               "IgnoreMemoryChecks, ProgressDebug and PerformanceLogEnabled YES or NO.",
    .run = runWrite,
});
KQUToolRegistration deleteCommand({
    .name = "defaults delete",
    .operands = "KEY",
    .summary = "Remove a setting from the settings file",
    .options = {kAppOption},
    .minOperands = 1,
    .maxOperands = 1,
    .example = "kqu defaults delete KQULogLevel",
    .run = runDelete,
});

}  // namespace
}  // namespace kqu::tool
