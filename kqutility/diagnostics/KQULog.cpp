#include "kqutility/diagnostics/KQULog.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <strings.h>

#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUUserDefaults.h"

namespace kqu {

namespace {
std::atomic<int> sCachedLevel{0};

bool equalsIgnoringCase(std::string_view a, const char* b) {
    return a.size() == std::char_traits<char>::length(b) && ::strncasecmp(a.data(), b, a.size()) == 0;
}

// The level named by a string, or 0 for a name that is none of ours.
int levelFromName(const std::optional<std::string>& name) {
    if (!name) return KQULogLevelError;
    const std::string& s = *name;
    if (equalsIgnoringCase(s, "Error") || equalsIgnoringCase(s, "KQUError")) return KQULogLevelError;
    if (equalsIgnoringCase(s, "Warning") || equalsIgnoringCase(s, "KQUWarning")) return KQULogLevelWarning;
    if (equalsIgnoringCase(s, "Informational") || equalsIgnoringCase(s, "KQUInformational"))
        return KQULogLevelInformational;
    return 0;
}
}  // namespace

int KQUCurrentLogLevel() {
    return static_cast<int>(KQUUserDefaults::standardUserDefaults().integerForKey(KQULOG_LEVEL));
}

bool KQUShouldLog_Fn(int level) {
    int cached = sCachedLevel.load(std::memory_order_relaxed);
    if (cached == 0) {
        cached = KQUCurrentLogLevel();
        if (cached == 0) cached = levelFromName(KQUUserDefaults::standardUserDefaults().stringForKey(KQULOG_LEVEL));
        if (cached != 0) sCachedLevel.store(cached, std::memory_order_relaxed);
    }
    return cached != 0 && cached >= level;
}

void KQUResetCachedLogLevel() { sCachedLevel.store(0, std::memory_order_relaxed); }

bool KQULogIfKeyIsSet(std::string_view key) { return KQUUserDefaults::standardUserDefaults().boolForKey(key); }

void detail::logFormatted(const char* file, std::string_view message) {
    if (file && KQUUserDefaults::standardUserDefaults().boolForKey(KQULogEmitFilename)) {
        KQULogMessage(fmt::format("({}) {}", KQULastPathComponent(file), message));
    } else {
        KQULogMessage(message);
    }
}

bool KQUCurrentUserNameIs_Fn(std::string_view user) {
    std::string login;
    struct passwd pw;
    struct passwd* result = nullptr;
    char buffer[1024];
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &result) == 0 && result) login = result->pw_name;
    if (!login.empty() && user == login) return true;
    auto alias = KQUUserDefaults::standardUserDefaults().stringForKey(KQUUsernameAliasKey);
    return alias && user == *alias;
}

uint64_t KQUAbsoluteTime() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void KQULogTiming(int level, std::string_view label, uint64_t start, uint64_t end) {
    // Ticks are nanoseconds: the time base is 1/1, so the factor is 1e-9 seconds a tick.
    double seconds = (static_cast<double>(end) - static_cast<double>(start)) * 1e-9;
    KQULog_Fn(level, "kqutility/KQUTiming", "{}: {:e}", label, seconds);
}

}  // namespace kqu
