// User defaults: the settings that steer the library without rebuilding it.
//
// Lookups search three domains, first hit wins:
//   1. the environment: KQU_DEFAULT_<key>=value (for example KQU_DEFAULT_KQULogLevel=warning);
//   2. the application domain: values set with setObject(), loaded at creation from and
//      saved by synchronize() to $XDG_CONFIG_HOME/kqutility/<application>.defaults
//      (~/.config when XDG_CONFIG_HOME is unset), one "key = value" line each;
//   3. the registration domain: factory values given with registerDefaults(), never saved.
// Typed getters coerce as KQUValue does. All members are thread-safe.
//
// standardUserDefaults() is created on first use; tests call resetStandardUserDefaults()
// to start again from the environment and the file.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUValue.h"

namespace kqu {

class KQUUserDefaults {
public:
    static KQUUserDefaults& standardUserDefaults();
    // Forgets every set and registered value and reloads the file for applicationName().
    static void resetStandardUserDefaults();

    // The application whose file is used: set before first use, or defaults to the
    // program's name.
    static void setApplicationName(std::string name);
    static std::string applicationName();

    void registerDefaults(const KQUValueDictionary& defaults);
    std::optional<KQUValue> objectForKey(std::string_view key) const;
    void setObject(KQUValue value, std::string_view key);
    void removeObjectForKey(std::string_view key);

    std::optional<std::string> stringForKey(std::string_view key) const;
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    bool boolForKey(std::string_view key) const;

    // Writes the application domain to its file (atomically). Returns false, with the
    // reason in *error, when the file cannot be written.
    bool synchronize(struct KQUError* error = nullptr);
    // The file the application domain is kept in.
    std::string persistentDomainPath() const;

private:
    KQUUserDefaults();
    void load();

    mutable std::mutex mLock;
    std::map<std::string, KQUValue, std::less<>> mApplication;
    std::map<std::string, KQUValue, std::less<>> mRegistration;
};

}  // namespace kqu
