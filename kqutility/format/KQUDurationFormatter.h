// Duration patterns: rendering a time interval through a pattern, building a pattern from
// a set of units, and reading durations that people type.
//
// Units are bits, larger units on smaller bits: week 1 ("w"), day 2 ("d"), hour 4 ("h"),
// minute 8 ("m"), second 16 ("s"), millisecond 32 ("f"). A pattern is text in which a
// run of one placeholder character is one field, "'" quotes literal text ("''" is a
// quote) and every other character is copied. The run length says how a field is
// written: 1 the number ("000" for milliseconds), 2 zero-padded to two digits, 3 the
// number and the short unit name ("5m"), 4 or more the number, a space and the long name
// ("5 minutes", singular for exactly 1). Styles: 0 compact ("1:02:05"), 1 short
// ("1h 2m"), 2 long ("1 hour 2 minutes").
//
// Rendering splits the interval over the pattern's units, rounds the smallest shown unit
// half up and carries into the next shown unit. A unit skipped between two shown ones
// ("h:ss") leaves its share in the smaller shown unit, which carries at the true ratio of
// the two (3599 s is "0:3599", 3600 s is "1:00"). NaN and infinite intervals render each
// field as the number renderer writes them ("NaN", "∞"), after "-" for -∞.
//
// Typed durations come in two forms: compact, numbers joined by ":" with an optional
// final "." and fraction of a second ("1:02:03.5"; the fraction is its digits over
// 10^digits seconds, so ".1234" is 0.1234 s), and words, numbers each followed by a unit
// name in any style and any case ("2 hrs 5 min", "-3 Days"). Unit names come from the
// "Localizable" string table (the English text is the key), so both forms follow the
// library's language; the decimal and grouping separators of numbers follow the current
// locale and are looked up again after it changes.
//
// Plain functions over UTF-16 text; thread-safe. Failed parses return false and never
// throw; misuse (no units, an unknown unit) goes to the assertion handler, after which
// the documented fallback is returned.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kqu {

using KQUDurationUnits = uint32_t;
inline constexpr KQUDurationUnits KQUDurationUnitNone = 0;
inline constexpr KQUDurationUnits KQUDurationUnitWeek = 1;
inline constexpr KQUDurationUnits KQUDurationUnitDay = 2;
inline constexpr KQUDurationUnits KQUDurationUnitHour = 4;
inline constexpr KQUDurationUnits KQUDurationUnitMinute = 8;
inline constexpr KQUDurationUnits KQUDurationUnitSecond = 16;
inline constexpr KQUDurationUnits KQUDurationUnitMillisecond = 32;
inline constexpr KQUDurationUnits KQUDurationUnitsAll = 63;

inline constexpr int KQUDurationStyleCompact = 0;
inline constexpr int KQUDurationStyleShort = 1;
inline constexpr int KQUDurationStyleLong = 2;

// The interval t written through pattern (see above).
std::u16string KQUDurationFormatterStringFromTimeIntervalWithFormat(double t, std::u16string_view pattern);

// The placeholders present in pattern (quoted text skipped), and the style of its last
// field: run length 1 or 2 gives 0, 3 gives 1, 4 or more 2. No field: units 0, style 0.
void KQUDurationFormatterGetFormatInfo(std::u16string_view pattern, KQUDurationUnits* units, int* style);
KQUDurationUnits KQUDurationFormatterDurationUnitsInFormat(std::u16string_view pattern);

// The largest / smallest unit of units (0 for none), and how many units it holds.
KQUDurationUnits KQUDurationFormatterMaxDurationUnitInUnits(KQUDurationUnits units);
KQUDurationUnits KQUDurationFormatterMinDurationUnitInUnits(KQUDurationUnits units);
int KQUDurationFormatterDurationUnitCountInUnits(KQUDurationUnits units);
// Seconds in the largest unit of units (0.001 for milliseconds); -1, reported, for none.
double KQUDurationFormatterSecondsInDurationUnit(KQUDurationUnits units);
// Compact fields from maxUnit down to seconds (week 5 ... second 1, millisecond 0, any
// other value as week), plus one with milliseconds.
int KQUDurationFormatterMaxValuesForCompactStyleDurationWithMaxUnit(KQUDurationUnits maxUnit,
                                                                    bool withMilliseconds);
// unit and the smaller units needed to show t with nothing left over (t = 90061 from
// day: day, hour, minute, second). A zero or non-finite t needs unit alone. unit must be
// a single unit; otherwise reported, and unit is returned.
KQUDurationUnits KQUDurationFormatterDurationUnitsNecessaryToFullyDisplayDuration(double t,
                                                                                  KQUDurationUnits unit);

// A pattern showing units in style; fill (always on in style 0) also shows every unit
// below the largest down to seconds. The units between the largest and smallest are
// always shown. Hour, minute and second in style 0 give "h:mm:ss". No units: "",
// reported. The pattern reports its own units and style back through GetFormatInfo.
std::u16string KQUDurationFormatterFormatFromDurationUnits(KQUDurationUnits units, int style, bool fill);

// The unit a word names (any case; long names give style 2, medium and short names 1),
// or 0 with *style untouched.
KQUDurationUnits KQUDurationFormatterDurationUnitFromString(std::u16string_view word, int* style);
// Style 0 "", style 1 the short name, style 2 the long name (singular for exactly 1).
std::u16string KQTDurationFormatterUnitString(double value, KQUDurationUnits unit, int style);

// One token of typed duration text.
struct KQUDurationNumberToken {
    double value = 0;
    std::u16string text;  // as typed
    bool operator==(const KQUDurationNumberToken&) const = default;
};
struct KQUDurationWordToken {
    std::u16string text;
    bool operator==(const KQUDurationWordToken&) const = default;
};
struct KQUDurationSeparatorToken {
    std::u16string text;  // a run of ":" and "."
    bool operator==(const KQUDurationSeparatorToken&) const = default;
};
struct KQUDurationMinusToken {
    bool operator==(const KQUDurationMinusToken&) const = default;
};
using KQUDurationToken = std::variant<KQUDurationNumberToken, KQUDurationWordToken, KQUDurationSeparatorToken,
                                      KQUDurationMinusToken>;

// The tokens of text, or nullopt when it is neither a compact nor a word-form duration;
// *compact tells which (may be nullptr).
std::optional<std::vector<KQUDurationToken>> KQUDurationFormatterTokensFromString(std::u16string_view text,
                                                                                  bool* compact);

// Reads a typed duration. On success fills the interval, the units typed and the style
// (0 for compact text, else that of the first unit word); on failure writes nothing.
// A compact text with startUnit set and few enough numbers begins at startUnit ("1:30"
// from hours is 1 h 30 min); otherwise its number count decides (two numbers are minutes
// and seconds). Outputs may be nullptr.
[[nodiscard]] bool KQUDurationFormatterTimeIntervalFromStringWithCompactStyleStartUnit(
    std::u16string_view text, double* interval, KQUDurationUnits* units, int* style,
    KQUDurationUnits startUnit);
[[nodiscard]] bool KQUDurationFormatterTimeIntervalFromString(std::u16string_view text, double* interval,
                                                              KQUDurationUnits* units, int* style);

}  // namespace kqu
