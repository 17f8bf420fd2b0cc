// KQULocale and the current locale: which language and region the library formats and
// parses for.
//
// A KQULocale is a value: an ICU locale identifier in canonical form ("en_US", "de_DE",
// "ja_JP"); language tags ("de-DE") are accepted too. It carries no data of its own; the
// formatters look their data up through ICU.
//
// The current locale comes from the environment (LC_ALL, LC_NUMERIC, LANG) through ICU.
// A C or POSIX environment, which ICU reports as en_US_POSIX or as the root locale,
// becomes en_US, as people running with no locale set expect ordinary numbers. An
// override (tests, the tool's --locale) replaces the environment until it is cleared.
//
// Every change of the current locale (override set or cleared, environment re-read)
// bumps the locale generation. Caches of locale-dependent data (formatters, symbols,
// grouping sizes) remember the generation they were filled under and refill when it
// differs, so one change refreshes all of them. The change is then posted through the
// default KQUNotificationCenter as KQUCurrentLocaleDidChangeNotification, which
// KQURegisterLocaleChangeObserver observes.
//
// All functions are thread-safe; observers run on the thread that made the change.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUNotificationCenter.h"

namespace kqu {

class KQULocale {
public:
    // identifier: an ICU locale identifier or a BCP 47 language tag.
    explicit KQULocale(std::string_view identifier);

    // The current locale (see above).
    static KQULocale current();

    const std::string& identifier() const { return mIdentifier; }
    // ICU has data for this locale's language (not merely the root fallback).
    [[nodiscard]] bool isAvailable() const;

    friend bool operator==(const KQULocale&, const KQULocale&) = default;

private:
    std::string mIdentifier;
};

// The notification posted after the current locale changed; object nullptr.
inline constexpr const char* KQUCurrentLocaleDidChangeNotification = "KQUCurrentLocaleDidChangeNotification";

// Bumped by every change of the current locale; never 0.
[[nodiscard]] uint64_t KQULocaleGeneration();

// Replaces the environment's locale (nullopt: back to the environment). Always counts as
// a change.
void KQUSetCurrentLocaleOverride(std::optional<std::string> identifier);
// Reads the environment's locale again (after the host changed LANG and the like).
void KQUCurrentLocaleEnvironmentDidChange();

// Calls callback after every change of the current locale, until removed.
KQUObserverToken KQURegisterLocaleChangeObserver(const void* observer, std::function<void()> callback);
void KQURemoveLocaleChangeObserver(const void* observer);

// Sets an override for its lifetime and restores the previous one after.
class KQUScopedLocaleOverride {
public:
    explicit KQUScopedLocaleOverride(std::string identifier);
    ~KQUScopedLocaleOverride();
    KQUScopedLocaleOverride(const KQUScopedLocaleOverride&) = delete;
    KQUScopedLocaleOverride& operator=(const KQUScopedLocaleOverride&) = delete;

private:
    std::optional<std::string> mPrevious;
};

}  // namespace kqu
