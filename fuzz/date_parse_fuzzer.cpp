// Feeds arbitrary bytes to the typed-date parser, the ISO 8601 reader and the calendar-date
// readers. The first byte picks the locale; the rest is UTF-16 text for the parsers (pairs
// of bytes, so unpaired surrogates are reached) and, as it stands, UTF-8 text for the
// calendar-date readers. Nothing may crash or read out of bounds, and no reader may hand
// out a date that is not finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/format/KQUCalendarDate.h"
#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateParser.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQULogSink.h"

namespace {

const char* const kLocales[] = {"en_US", "en_GB", "de_DE",      "ja_JP",
                                "es_ES", "ar_EG", "zh_Hans_CN", "x_unknown"};

void check(const std::optional<kqu::KQUDate>& date) {
    if (date && !std::isfinite(date->timeIntervalSinceReferenceDate)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    kqu::KQUAssertionHandlerTesting::setRaisesForTests(false);
    kqu::KQUSetCurrentLocaleOverride("en_US");
    kqu::KQUSetWallClockSource([] { return 1718434800.0; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::u16string text;
    for (size_t i = 1; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    kqu::KQULocale locale(kLocales[data[0] % 8]);
    std::u16string format;
    check(kqu::KQUCreateDateFromString(text, &locale, &format));
    check(kqu::KQUCreateDateFromStringWithPreferredFormat(text, &locale, text, nullptr, (data[0] & 8) != 0));
    check(kqu::KQUDateFormatterCreateDateFromStringWithISO8601Format(text));
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    for (const auto& date : {kqu::KQUCalendarDate::iso8601DateWithString(bytes),
                             kqu::KQUCalendarDate::rfc1123DateWithString(bytes)})
        if (date) {
            check(date->date());
            (void)date->description();
        }
    return 0;
}
