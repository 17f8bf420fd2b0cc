// Internal bridge between the date code and ICU (not installed; public headers never
// include it): the shared GMT zone, Gregorian locales, conversion of KQUDate to ICU's
// milliseconds since 1970, and making strict GMT formatters.
//
// Everything here is thread-safe; the formatters made are owned by the caller and used by
// one thread at a time.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <string_view>

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

// The shared zone with offset 0 from GMT, made on first use.
const icu::TimeZone& KQUGetGMTTimeZone();

// locale (its identifier up to "@" kept) with the calendar keyword set to Gregorian, as
// an ICU locale identifier.
std::string KQUGregorianLocaleIdentifier(const KQULocale& locale);

inline UDate KQUUDateFromDate(KQUDate date) {
    return (date.timeIntervalSinceReferenceDate + 978307200.0) * 1000.0;
}
inline KQUDate KQUDateFromUDate(UDate udate) {
    return KQUDate{udate / 1000.0 - 978307200.0};
}
inline bool KQUIsFiniteDate(KQUDate date) {
    return std::isfinite(date.timeIntervalSinceReferenceDate);
}

// ICU's style number (kNone, kShort...) for one of ours (0 none .. 4 full); other values
// count as none.
icu::DateFormat::EStyle KQUICUDateStyle(int style);

// A formatter for locale and pattern, GMT, Gregorian, strict (lenient off, no partial
// or whitespace-lenient matching); nullptr when ICU refuses the pattern.
std::unique_ptr<icu::SimpleDateFormat> KQUMakeStrictDateFormat(const icu::Locale& locale,
                                                               std::u16string_view pattern);

// The calling thread's cached strict formatter for an ICU locale identifier and pattern,
// with a calendar of its own; both stay valid until the thread's next request (the cache
// is bounded). format is nullptr when ICU refuses the pattern.
struct KQUCachedDateFormat {
    icu::SimpleDateFormat* format = nullptr;
    icu::Calendar* calendar = nullptr;
};
KQUCachedDateFormat KQUCachedStrictDateFormat(std::string_view icuLocale, std::u16string_view pattern);

// The pattern of locale's date style and time style ("" for none and none).
std::u16string KQUPatternForStyles(const icu::Locale& locale, int dateStyle, int timeStyle);

// The index of each pattern character outside quoted runs, handed to visit(index, c).
template <typename Visit>
void KQUForEachUnquotedPatternCharacter(std::u16string_view pattern, Visit&& visit) {
    bool quoted = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char16_t c = pattern[i];
        if (c == u'\'') {
            quoted = !quoted;  // "''" toggles twice: a literal quote outside any run
            continue;
        }
        if (!quoted) visit(i, c);
    }
}

}  // namespace kqu
