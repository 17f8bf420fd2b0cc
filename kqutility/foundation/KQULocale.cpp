#include "kqutility/foundation/KQULocale.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <unicode/uloc.h>

#include "kqutility/foundation/KQUICUSupport.h"

namespace kqu {

namespace {

std::string canonicalName(std::string_view identifier) {
    std::string id(identifier);
    icu::Locale locale;
    if (id.find('-') != std::string::npos) {
        UErrorCode status = U_ZERO_ERROR;
        locale = icu::Locale::forLanguageTag(id, status);
        if (U_FAILURE(status)) locale = icu::Locale(id.c_str());
    } else {
        locale = icu::Locale::createCanonical(id.c_str());
    }
    return locale.isBogus() ? std::string() : std::string(locale.getName());
}

// The locale named by the environment, as the C library reads it (LC_ALL, then
// LC_NUMERIC, then LANG), canonicalised by ICU. ICU's own default locale is read once
// per process and cannot follow a changed environment, so it is not used here.
// A C/POSIX environment (which ICU calls en_US_POSIX or root) becomes en_US: people
// running with no locale set still expect "1,234.5" and dollars, not ungrouped digits.
std::string environmentLocale() {
    std::string value;
    for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            value = v;
            break;
        }
    }
    value = value.substr(0, value.find_first_of(".@"));  // codeset and modifier
    std::string name = value.empty() || value == "C" || value == "POSIX" ? std::string() : canonicalName(value);
    if (name.empty() || name == "root" || name == "en_US_POSIX" || name == "c") return "en_US";
    return name;
}

struct CurrentLocaleState {
    std::mutex lock;
    std::optional<std::string> override;
    std::optional<std::string> environment;  // read on first use
    std::atomic<uint64_t> generation{1};
};

CurrentLocaleState& state() {
    static CurrentLocaleState sState;
    return sState;
}

void changed() {
    state().generation.fetch_add(1);
    KQUNotificationCenter::defaultCenter().postNotificationName(KQUCurrentLocaleDidChangeNotification, nullptr);
}

}  // namespace

KQULocale::KQULocale(std::string_view identifier) : mIdentifier(canonicalName(identifier)) {}

KQULocale KQULocale::current() {
    auto& s = state();
    std::lock_guard guard(s.lock);
    if (s.override) return KQULocale(*s.override);
    if (!s.environment) s.environment = environmentLocale();
    return KQULocale(*s.environment);
}

bool KQULocale::isAvailable() const {
    icu::Locale locale(mIdentifier.c_str());
    if (locale.isBogus() || std::strlen(locale.getLanguage()) == 0) return false;
    int32_t count = 0;
    const icu::Locale* available = icu::Locale::getAvailableLocales(count);
    for (int32_t i = 0; i < count; ++i)
        if (std::strcmp(available[i].getLanguage(), locale.getLanguage()) == 0) return true;
    return false;
}

icu::Locale KQUICULocale(const KQULocale& locale) {
    return icu::Locale(locale.identifier().c_str());
}

uint64_t KQULocaleGeneration() {
    return state().generation.load(std::memory_order_acquire);
}

void KQUSetCurrentLocaleOverride(std::optional<std::string> identifier) {
    {
        auto& s = state();
        std::lock_guard guard(s.lock);
        s.override = std::move(identifier);
    }
    changed();
}

void KQUCurrentLocaleEnvironmentDidChange() {
    {
        auto& s = state();
        std::lock_guard guard(s.lock);
        s.environment = environmentLocale();
    }
    changed();
}

KQUObserverToken KQURegisterLocaleChangeObserver(const void* observer, std::function<void()> callback) {
    return KQUNotificationCenter::defaultCenter().addObserver(
        observer, KQUCurrentLocaleDidChangeNotification, nullptr,
        [callback = std::move(callback)](const KQUNotification&) { callback(); });
}

void KQURemoveLocaleChangeObserver(const void* observer) {
    KQUNotificationCenter::defaultCenter().removeObserver(observer, KQUCurrentLocaleDidChangeNotification,
                                                          nullptr);
}

KQUScopedLocaleOverride::KQUScopedLocaleOverride(std::string identifier) {
    {
        auto& s = state();
        std::lock_guard guard(s.lock);
        mPrevious = s.override;
    }
    KQUSetCurrentLocaleOverride(std::move(identifier));
}

KQUScopedLocaleOverride::~KQUScopedLocaleOverride() {
    KQUSetCurrentLocaleOverride(std::move(mPrevious));
}

}  // namespace kqu
