// kqu duration format: shows intervals as a duration cell would.
//
//     $ kqu duration format --units h,m,s 3725 -90
//     1:02:05
//     -0:01:30
//     $ kqu duration format --pattern 'dddd hhhh' 90000
//     1 day 1 hour
//
// kqu parse: reads typed text as a number-or-date-or-duration field does, and prints one
// tab-separated line per text: the kind, the value (a date in ISO 8601 GMT, a number or
// seconds in their shortest round-trip form), the format it was typed in and the text the
// field shows for the value.
//
//     $ kqu parse --now 2024-06-15T12:00:00Z 3/14/24 1,234.5 '2 hrs 5 min' xyz
//     date	2024-03-14T00:00:00Z	M/d/yy	3/14/24
//     number	1234.5	decimal	1234.5
//     duration	7500	hhh mmm	2h 5m
//     none	Failed to parse a number, date, or duration!
//
// Both commands parse their own words: a text or value that starts with "-" ("-90",
// "-1:30") is an operand, not an option.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <fmt/format.h>

#include "kqutility/format/KQUDuration.h"
#include "kqutility/format/KQUDurationFormatter.h"
#include "kqutility/format/KQUNumberFormatting.h"
#include "kqutility/format/KQUNumberOrDateOrDurationFormatter.h"
#include "kqutility/foundation/KQUCivilDate.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

std::string shortest(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Options (from valued and flags) and operands of words; "--" ends the options, and an
// unknown word starting with "--" is refused, while one starting with a single "-" is an
// operand.
struct Words {
    std::map<std::string, std::string> options;
    std::vector<std::string> operands;
    bool has(const std::string& name) const { return options.count(name) != 0; }
};

Words splitWords(const std::vector<std::string>& words, const std::vector<std::string>& valued,
                 const std::vector<std::string>& flags) {
    Words out;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const std::string name = word.substr(0, word.find('='));
        if (optionsEnded || !word.starts_with("--")) {
            out.operands.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
            if (word.size() > name.size())
                out.options[name] = word.substr(name.size() + 1);
            else if (i + 1 < words.size())
                out.options[name] = words[++i];
            else
                throw KQUToolUsageError(fmt::format("option {} needs a value", name));
        } else if (std::find(flags.begin(), flags.end(), word) != flags.end()) {
            out.options[word] = "";
        } else {
            throw KQUToolUsageError(fmt::format("unknown option {}", name));
        }
    }
    return out;
}

void setLocaleOption(const Words& words, std::optional<KQUScopedLocaleOverride>& scoped) {
    if (!words.has("--locale")) return;
    const std::string& name = words.options.at("--locale");
    KQULocale locale(name);
    if (locale.identifier().empty() || !locale.isAvailable())
        throw KQUToolError(fmt::format("unknown locale '{}'", name));
    scoped.emplace(locale.identifier());
}

// ---- duration format -------------------------------------------------------------------

KQUDurationUnits unitsOption(const std::string& text) {
    static const std::string kLetters = "wdhmsf";
    KQUDurationUnits units = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string letter = text.substr(start, end - start);
        const size_t index = letter.size() == 1 ? kLetters.find(letter[0]) : std::string::npos;
        if (index == std::string::npos)
            throw KQUToolUsageError(
                fmt::format("--units takes letters of w,d,h,m,s,f separated by commas, not '{}'", text));
        units |= KQUDurationUnits{1} << index;
        start = end + 1;
    }
    return units;
}

int runDurationFormat(const std::vector<std::string>& words) {
    const Words parsed = splitWords(words, {"--pattern", "--units", "--style"}, {"--fill"});
    if (parsed.has("--pattern") == parsed.has("--units"))
        throw KQUToolUsageError("give either --pattern P or --units LIST");
    if (parsed.operands.empty()) throw KQUToolUsageError("no SECONDS given");

    std::vector<double> values;
    for (const auto& word : parsed.operands) {
        char* end = nullptr;
        const double value = std::strtod(word.c_str(), &end);
        if (word.empty() || std::isspace(static_cast<unsigned char>(word[0])) ||
            end != word.c_str() + word.size())
            throw KQUToolError(fmt::format("not a number of seconds: {}", word));
        values.push_back(value);
    }

    std::u16string pattern;
    if (parsed.has("--pattern")) {
        for (const char* unitsOnly : {"--style", "--fill"})
            if (parsed.has(unitsOnly))
                throw KQUToolUsageError(fmt::format("{} goes with --units, not --pattern", unitsOnly));
        auto utf16 = KQUUTF16FromUTF8(parsed.options.at("--pattern"));
        if (!utf16) throw KQUToolError("the pattern is not UTF-8");
        pattern = std::move(*utf16);
        if (KQUDurationFormatterDurationUnitsInFormat(pattern) == 0)
            throw KQUToolError("the pattern shows no unit: use w, d, h, m, s or f outside quotes");
    } else {
        int style = KQUDurationStyleCompact;
        if (parsed.has("--style")) {
            const std::string& name = parsed.options.at("--style");
            if (name == "compact")
                style = KQUDurationStyleCompact;
            else if (name == "short")
                style = KQUDurationStyleShort;
            else if (name == "long")
                style = KQUDurationStyleLong;
            else
                throw KQUToolUsageError(
                    fmt::format("--style must be compact, short or long, not '{}'", name));
        }
        pattern = KQUDurationFormatterFormatFromDurationUnits(unitsOption(parsed.options.at("--units")),
                                                              style, parsed.has("--fill"));
    }
    for (double value : values)
        fmt::print("{}\n",
                   KQUUTF8FromUTF16(KQUDurationFormatterStringFromTimeIntervalWithFormat(value, pattern)));
    return 0;
}

// ---- parse -----------------------------------------------------------------------------

// "2024-06-15T12:00:00Z", with ".fff" when the instant has milliseconds.
std::string iso8601(KQUDate date) {
    const double unix = date.timeIntervalSinceReferenceDate + KQUUnixTimeOfReferenceDate;
    const double milliseconds = std::round(unix * 1000);
    const auto total = static_cast<int64_t>(std::floor(milliseconds / 1000));
    const auto fraction = static_cast<int>(milliseconds - static_cast<double>(total) * 1000);
    const int64_t days = (total >= 0 ? total : total - 86399) / 86400;
    const int64_t seconds = total - days * 86400;
    const KQUCivilDate civil = KQUCivilFromDays(days);
    std::string text = fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", civil.year, civil.month, civil.day,
                                   seconds / 3600, seconds / 60 % 60, seconds % 60);
    if (fraction) text += fmt::format(".{:03}", fraction);
    return text + "Z";
}

// An ISO 8601 instant with its zone: "2024-06-15T12:00:00Z", "2024-06-15T14:00:00+02:00",
// "...+0200", optional ".fff" seconds. Seconds since 1970.
std::optional<double> readInstant(const std::string& text) {
    int year, month, day, hour, minute, consumed = 0;
    double second;
    if (std::sscanf(text.c_str(), "%5d-%2d-%2dT%2d:%2d:%lf%n", &year, &month, &day, &hour, &minute, &second,
                    &consumed) != 6)
        return std::nullopt;
    const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (text[4] != '-' || month < 1 || month > 12 || day < 1 ||
        day > monthDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 ||
        !(second >= 0) || second >= 60)
        return std::nullopt;
    std::string zone = text.substr(static_cast<size_t>(consumed));
    int offset = 0;
    if (zone != "Z") {
        int zoneHours = 0, zoneMinutes = 0, zoneConsumed = 0;
        if (zone.size() < 5 || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
        const char* format = zone[3] == ':' ? "%2d:%2d%n" : "%2d%2d%n";
        if (std::sscanf(zone.c_str() + 1, format, &zoneHours, &zoneMinutes, &zoneConsumed) != 2 ||
            static_cast<size_t>(zoneConsumed) + 1 != zone.size() || zoneHours > 23 || zoneMinutes > 59)
            return std::nullopt;
        offset = (zoneHours * 3600 + zoneMinutes * 60) * (zone[0] == '-' ? -1 : 1);
    }
    return static_cast<double>(KQUDaysFromCivil(year, static_cast<int>(month), static_cast<int>(day)) *
                                   86400 +
                               hour * 3600 + minute * 60 - offset) +
           second;
}

int runParse(const std::vector<std::string>& words) {
    const Words parsed = splitWords(words, {"--locale", "--now"}, {});
    if (parsed.operands.empty()) throw KQUToolUsageError("no TEXT given");
    std::optional<KQUScopedLocaleOverride> scopedLocale;
    setLocaleOption(parsed, scopedLocale);
    std::optional<KQUManualWallClock> clock;
    if (parsed.has("--now")) {
        auto now = readInstant(parsed.options.at("--now"));
        if (!now)
            throw KQUToolError(
                fmt::format("--now takes an ISO 8601 instant with its zone "
                            "(2024-06-15T12:00:00Z), not '{}'",
                            parsed.options.at("--now")));
        clock.emplace(*now);
    }

    const KQUNumberOrDateOrDurationFormatter formatter;
    int status = 0;
    for (const auto& text : parsed.operands) {
        auto utf16 = KQUUTF16FromUTF8(text);
        auto reading = utf16 ? formatter.read(*utf16) : std::nullopt;
        if (!reading) {
            fmt::print("none\t{}\n", KQUNumberOrDateOrDurationFormatterParseError);
            status = 1;
            continue;
        }
        const std::string shown =
            KQUUTF8FromUTF16(formatter.stringForObjectValue(reading->value).value_or(u""));
        switch (reading->kind) {
            case KQUNumberOrDateOrDurationFormatter::Kind::Date:
                fmt::print("date\t{}\t{}\t{}\n", iso8601(*reading->value.date()),
                           KQUUTF8FromUTF16(reading->datePattern), shown);
                break;
            case KQUNumberOrDateOrDurationFormatter::Kind::Number:
                fmt::print("number\t{}\t{}\t{}\n", shortest(*reading->value.real()),
                           KQUNumberFormatterStringFromValueType(reading->numberValueType), shown);
                break;
            case KQUNumberOrDateOrDurationFormatter::Kind::Duration:
                fmt::print("duration\t{}\t{}\t{}\n",
                           shortest(reading->value.object<KQUDuration>()->timeInterval()),
                           KQUUTF8FromUTF16(KQUDurationFormatterFormatFromDurationUnits(
                               reading->durationUnits, reading->durationStyle, false)),
                           shown);
                break;
        }
    }
    return status;
}

KQUToolRegistration durationFormatRegistration({
    .name = "duration format",
    .operands = "SECONDS...",
    .summary = "Show time intervals as a duration cell would",
    .options = {{"--pattern", "P", "a duration pattern: runs of w d h m s f, 'quoted text' (\"h:mm:ss\")"},
                {"--units", "LIST", "the units to show, from w,d,h,m,s,f (\"h,m,s\")"},
                {"--style", "S", "with --units: compact (1:02:05), short (1h 2m) or long (1 hour 2 minutes)"},
                {"--fill", "", "with --units: also show every unit below the largest down to seconds"}},
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu duration format --units d,s --style short 93784",
    .details = "Prints one line per SECONDS (a number in C syntax; \"-90\" is a value, not an option). Give "
               "either --pattern or --units. In a pattern a run of one letter is one field: one or two "
               "letters show the number (two padded to two digits), three add the short unit name, four or "
               "more a space and the long name. The smallest field is rounded half up and carried into the "
               "next field shown. Compact style always shows every unit down to seconds.",
    .runWords = runDurationFormat,
});

KQUToolRegistration parseRegistration({
    .name = "parse",
    .operands = "TEXT...",
    .summary = "Read typed text as a number, date or duration field does",
    .options = {{"--locale", "L",
                 "the locale whose conventions the texts follow (default: the environment's)"},
                {"--now", "INSTANT", "the current time, ISO 8601 with zone (default: the clock)"}},
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu parse --locale en_GB --now 2024-06-15T12:00:00Z 14/3/24 '1.5' 1:30",
    .details = "Each TEXT is tried as a date, then a number, then a duration, and printed on one line of "
               "tab-separated fields: the kind (date, number or duration), the value (an ISO 8601 instant in "
               "GMT, the number, or seconds), the format (the date pattern that matched, the number's value "
               "type, or the duration pattern of the units and style typed) and the text the field then "
               "shows. A TEXT nothing reads prints \"none\" and the error, and makes the exit status 1. "
               "Dates are read in GMT; years and days left out come from --now.",
    .runWords = runParse,
});

}  // namespace
}  // namespace kqu::tool
