// Reads arbitrary text as a typed duration and renders arbitrary intervals through
// arbitrary duration patterns. Byte 0 picks the locale and the compact start unit, bytes
// 1-8 are the interval, the rest is UTF-16 text, used both as typed text and as a pattern.
// Neither may crash, read out of bounds or convert a non-finite value to an integer; a
// successful read must report units that name the fields it read, and reading the same
// text twice must give the same interval.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/format/KQUDurationFormatter.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQULogSink.h"

namespace {

const char* const kLocales[] = {"en_US", "de_DE", "fr_FR", "ja_JP"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    kqu::KQUAssertionHandlerTesting::setRaisesForTests(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    double interval;
    std::memcpy(&interval, data + 1, sizeof interval);
    std::u16string text;
    for (size_t i = 9; i + 1 < size && text.size() < 200; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    kqu::KQUScopedLocaleOverride locale(kLocales[data[0] % 4]);
    const kqu::KQUDurationUnits startUnit = (data[0] >> 2) % 7 == 6 ? 0 : 1u << ((data[0] >> 2) % 7);

    double read = 0, again = 0;
    kqu::KQUDurationUnits units = 0;
    int style = -1;
    if (kqu::KQUDurationFormatterTimeIntervalFromStringWithCompactStyleStartUnit(text, &read, &units, &style,
                                                                                 startUnit)) {
        if (units == 0 || units > kqu::KQUDurationUnitsAll || style < 0 || style > 2) std::abort();
        if (!kqu::KQUDurationFormatterTimeIntervalFromStringWithCompactStyleStartUnit(text, &again, nullptr,
                                                                                      nullptr, startUnit))
            std::abort();
        if (!(read == again || (std::isnan(read) && std::isnan(again)))) std::abort();
        (void)kqu::KQUDurationFormatterStringFromTimeIntervalWithFormat(
            read, kqu::KQUDurationFormatterFormatFromDurationUnits(units, style, false));
    }
    if (text.size() <= 64) (void)kqu::KQUDurationFormatterStringFromTimeIntervalWithFormat(interval, text);
    (void)kqu::KQUDurationFormatterDurationUnitsNecessaryToFullyDisplayDuration(interval,
                                                                                kqu::KQUDurationUnitDay);
    return 0;
}
