#include "kqutility/foundation/KQUUserDefaults.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"

extern char* program_invocation_short_name;

namespace kqu {

namespace {

std::mutex sInstanceLock;
std::unique_ptr<KQUUserDefaults> sStandard;
std::mutex sNameLock;
std::string sApplicationName;

std::string trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

// Values in the file are read as integers when they are whole numbers, else as strings;
// the getters' coercions make "YES", "10" or "warning" mean what a person expects.
KQUValue parseFileValue(const std::string& text) {
    if (!text.empty()) {
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(text.c_str(), &end, 10);
        if (*end == '\0' && errno == 0) return KQUValue(static_cast<int64_t>(v));
    }
    return KQUValue(text);
}

}  // namespace

KQUUserDefaults& KQUUserDefaults::standardUserDefaults() {
    std::lock_guard guard(sInstanceLock);
    if (!sStandard) sStandard.reset(new KQUUserDefaults());
    return *sStandard;
}

void KQUUserDefaults::resetStandardUserDefaults() {
    KQUUserDefaults& d = standardUserDefaults();
    std::lock_guard guard(d.mLock);
    d.mApplication.clear();
    d.mRegistration.clear();
    d.load();
}

void KQUUserDefaults::setApplicationName(std::string name) {
    std::lock_guard guard(sNameLock);
    sApplicationName = std::move(name);
}

std::string KQUUserDefaults::applicationName() {
    std::lock_guard guard(sNameLock);
    if (!sApplicationName.empty()) return sApplicationName;
    return program_invocation_short_name ? program_invocation_short_name : "kqutility";
}

KQUUserDefaults::KQUUserDefaults() { load(); }

std::string KQUUserDefaults::persistentDomainPath() const {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.config";
    } else {
        base = "/tmp";
    }
    return base + "/kqutility/" + applicationName() + ".defaults";
}

void KQUUserDefaults::load() {
    std::ifstream in(persistentDomainPath());
    std::string line;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(std::string_view(t).substr(0, eq));
        if (key.empty()) continue;
        mApplication[key] = parseFileValue(trim(std::string_view(t).substr(eq + 1)));
    }
}

void KQUUserDefaults::registerDefaults(const KQUValueDictionary& defaults) {
    std::lock_guard guard(mLock);
    for (const auto& [k, v] : defaults) mRegistration[k] = v;
}

std::optional<KQUValue> KQUUserDefaults::objectForKey(std::string_view key) const {
    std::string envName = "KQU_DEFAULT_" + std::string(key);
    if (const char* env = std::getenv(envName.c_str())) return parseFileValue(env);
    std::lock_guard guard(mLock);
    if (auto it = mApplication.find(key); it != mApplication.end()) return it->second;
    if (auto it = mRegistration.find(key); it != mRegistration.end()) return it->second;
    return std::nullopt;
}

void KQUUserDefaults::setObject(KQUValue value, std::string_view key) {
    std::lock_guard guard(mLock);
    mApplication[std::string(key)] = std::move(value);
}

void KQUUserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard guard(mLock);
    if (auto it = mApplication.find(key); it != mApplication.end()) mApplication.erase(it);
}

std::optional<std::string> KQUUserDefaults::stringForKey(std::string_view key) const {
    auto v = objectForKey(key);
    return v ? v->stringValue() : std::nullopt;
}

int64_t KQUUserDefaults::integerForKey(std::string_view key) const {
    auto v = objectForKey(key);
    return v ? v->integerValue() : 0;
}

double KQUUserDefaults::doubleForKey(std::string_view key) const {
    auto v = objectForKey(key);
    return v ? v->doubleValue() : 0.0;
}

bool KQUUserDefaults::boolForKey(std::string_view key) const {
    auto v = objectForKey(key);
    return v && v->boolValue();
}

bool KQUUserDefaults::synchronize(KQUError* error) {
    std::ostringstream text;
    text << "# Settings of " << applicationName() << ", one \"key = value\" a line.\n";
    {
        std::lock_guard guard(mLock);
        for (const auto& [k, v] : mApplication) {
            auto s = v.stringValue();
            if (s && s->find('\n') == std::string::npos) text << k << " = " << *s << "\n";
        }
    }
    return KQUWriteFileAtomically(persistentDomainPath(), text.str(), error);
}

}  // namespace kqu
