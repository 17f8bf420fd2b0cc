// Levelled logging steered by user defaults.
//
// A message of level L is written when the current level is >= L. The level comes from
// the default "KQULogLevel" (an integer, or one of the names error, warning,
// informational, optionally prefixed with "KQU", in any case) and is cached once read.
// Messages are {fmt} format strings; callers normally use the macros, which pass the
// calling file so that "KQULogEmitFilename" can prefix it:
//
//     KQULog(KQULogLevelWarning, "Could not read {}", path);
//     KQULogIf("ProgressDebug", KQULogLevelInformational, "stage {} done", name);
//
// Every function may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace kqu {

inline constexpr int KQULogLevelError = 1;
inline constexpr int KQULogLevelWarning = 10;
inline constexpr int KQULogLevelInformational = 100;

// User-defaults keys.
inline constexpr const char* KQULOG_LEVEL = "KQULogLevel";
inline constexpr const char* KQULogEmitFilename = "KQULogEmitFilename";
inline constexpr const char* KQUAssertLevel = "KQUAssertLevel";
inline constexpr const char* KQUUsernameAliasKey = "usernameAlias";

bool KQUShouldLog_Fn(int level);
// The integer under "KQULogLevel", read afresh on every call.
int KQUCurrentLogLevel();
// Forgets the cached level so that the next KQUShouldLog_Fn reads the defaults again.
void KQUResetCachedLogLevel();

namespace detail {
void logFormatted(const char* file, std::string_view message);
}

template <typename... Args>
void KQULog_Fn(int level, const char* file, fmt::format_string<Args...> format, Args&&... args) {
    if (!KQUShouldLog_Fn(level)) return;
    detail::logFormatted(file, fmt::format(format, std::forward<Args>(args)...));
}

bool KQULogIfKeyIsSet(std::string_view key);

template <typename... Args>
void KQULogIf_Fn(std::string_view key, int level, const char* file, fmt::format_string<Args...> format,
                 Args&&... args) {
    if (!KQUShouldLog_Fn(level) || !KQULogIfKeyIsSet(key)) return;
    detail::logFormatted(file, fmt::format(format, std::forward<Args>(args)...));
}

// True when user equals the login name or the default "usernameAlias".
bool KQUCurrentUserNameIs_Fn(std::string_view user);

template <typename... Args>
void KQULogForUser_Fn(std::string_view user, fmt::format_string<Args...> format, Args&&... args) {
    if (!KQUCurrentUserNameIs_Fn(user)) return;
    detail::logFormatted(nullptr, fmt::format(format, std::forward<Args>(args)...));
}

// Host absolute-time ticks (nanoseconds of a monotonic clock) for KQULogTiming.
uint64_t KQUAbsoluteTime();
// Logs "<label>: <elapsed seconds as %e>" at level, as the file "kqutility/KQUTiming".
void KQULogTiming(int level, std::string_view label, uint64_t start, uint64_t end);

}  // namespace kqu

#define KQULog(level, ...) ::kqu::KQULog_Fn((level), __FILE__, __VA_ARGS__)
#define KQULogError(...) ::kqu::KQULog_Fn(::kqu::KQULogLevelError, __FILE__, __VA_ARGS__)
#define KQULogWarning(...) ::kqu::KQULog_Fn(::kqu::KQULogLevelWarning, __FILE__, __VA_ARGS__)
#define KQULogInfo(...) ::kqu::KQULog_Fn(::kqu::KQULogLevelInformational, __FILE__, __VA_ARGS__)
#define KQULogIf(key, level, ...) ::kqu::KQULogIf_Fn((key), (level), __FILE__, __VA_ARGS__)
