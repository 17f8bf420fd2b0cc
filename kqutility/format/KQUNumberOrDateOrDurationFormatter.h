// KQUNumberOrDateOrDurationFormatter: the formatter of fields that may hold a number, a
// date or a duration. It shows each kind in one fixed way and reads typed text as a date,
// else a number, else a duration, in that order.
//
// Shown texts:
//   - numbers: up to nine decimals, rounded half up, the current locale's decimal
//     separator, no grouping; -0 (and any negative that rounds to zero) shows "0";
//     1/3 is "0.333333333", NaN "NaN", infinity "∞";
//   - dates: the locale's short date in GMT, with the medium time unless the date falls
//     on a whole midnight GMT;
//   - durations (KQUDuration objects): the short-style units needed to show the
//     interval, from days down ("1d 2h 3m 4s").
// Typed text goes through the shared date parser (KQUCreateDateFromString), the number
// parser (KQUGetNumberValueAndTypeFromString) and the duration parser, all in the
// current locale; read() also says which reader accepted the text and in what format.
//
// The formatter holds no state of its own (the readers and renderers keep their own
// per-thread caches, rebuilt after a locale change); one object may be used by one thread
// at a time. Text is UTF-16.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kqutility/format/KQUDurationFormatter.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

// The error description of a text none of the three readers accepts.
inline constexpr const char* KQUNumberOrDateOrDurationFormatterParseError =
    "Failed to parse a number, date, or duration!";

class KQUNumberOrDateOrDurationFormatter {
public:
    enum class Kind { Date, Number, Duration };

    // What a text was read as.
    struct Reading {
        Kind kind;
        // A KQUDate, a double, or a KQUDuration object.
        KQUValue value;
        // The date pattern that matched, the number's value type, or the units and
        // style of the typed duration.
        std::u16string datePattern;
        int numberValueType = 0;
        KQUDurationUnits durationUnits = 0;
        int durationStyle = 0;
    };

    // A number (any numeric KQUValue), a date, or a KQUDuration object shown as described
    // above; nullopt for any other value.
    std::optional<std::u16string> stringForObjectValue(const KQUValue& value) const;

    // Reads text as a date, a number or a duration. On failure returns false, leaves
    // *value alone and puts KQUNumberOrDateOrDurationFormatterParseError in
    // *errorDescription. Either output may be nullptr.
    [[nodiscard]] bool getObjectValue(KQUValue* value, std::u16string_view text,
                                      std::string* errorDescription) const;
    // The same, with the details; nullopt when no reader accepts the text.
    std::optional<Reading> read(std::u16string_view text) const;

    // The number rendering on its own.
    static std::u16string stringFromNumber(double value);
};

}  // namespace kqu
