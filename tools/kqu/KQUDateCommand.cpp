// kqu date format: shows instants as a date cell would, in GMT.
//
//     $ kqu date format --style medium,short 2024-03-14T15:30:00Z
//     Mar 14, 2024, 3:30 PM
//     $ kqu date format --locale de_DE --pattern 'EEEE, d. MMMM y' now
//     $ kqu date format --rfc1123 2024-03-14T17:30:00+02:00
//     Thu, 14 Mar 2024 15:30:00 GMT
//
// An INSTANT is ISO 8601 with a zone ("Z", "+02:00", "-0500"; seconds and milliseconds
// optional) or "now". Words that start with "-" but are not options are INSTANTs (a year
// before 1 is written "-0044-03-15T12:00:00Z").
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kqutility/format/KQUCalendarDate.h"
#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

std::optional<KQUDate> readInstant(const std::string& word) {
    if (word == "now")
        return KQUDate{KQUWallClockSeconds() - static_cast<double>(KQUUnixTimeOfReferenceDate)};
    for (const char* format : {"%Y-%m-%dT%H:%M:%S%z", "%Y-%m-%dT%H:%M:%S.%F%z", "%Y-%m-%dT%H:%M%z"})
        if (auto date = KQUCalendarDate::dateWithString(word, format)) return date->date();
    return std::nullopt;
}

int styleNumber(const std::string& name) {
    static const std::vector<std::string> kNames = {"none", "short", "medium", "long", "full"};
    for (size_t i = 0; i < kNames.size(); ++i)
        if (name == kNames[i] || name == std::to_string(i)) return static_cast<int>(i);
    throw KQUToolUsageError(
        fmt::format("a style is none, short, medium, long or full (or 0 to 4), not '{}'", name));
}

int runDateFormat(const std::vector<std::string>& words) {
    static const std::vector<std::string> kValued = {"--locale", "--pattern", "--style"};
    static const std::vector<std::string> kFlags = {"--iso8601", "--rfc1123"};
    std::optional<std::string> localeName, pattern, style;
    bool iso8601 = false, rfc1123 = false, optionsEnded = false;
    std::vector<std::string> instants;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const std::string name = word.substr(0, word.find('='));
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && std::find(kValued.begin(), kValued.end(), name) != kValued.end()) {
            std::string value;
            if (word.size() > name.size())
                value = word.substr(name.size() + 1);
            else if (i + 1 < words.size())
                value = words[++i];
            else
                throw KQUToolUsageError(fmt::format("option {} needs a value", name));
            (name == "--locale" ? localeName : name == "--pattern" ? pattern : style) = value;
        } else if (!optionsEnded && std::find(kFlags.begin(), kFlags.end(), word) != kFlags.end()) {
            (word == "--iso8601" ? iso8601 : rfc1123) = true;
        } else if (!optionsEnded && word.size() > 2 && word.starts_with("--")) {
            throw KQUToolUsageError(fmt::format("unknown option {}", name));
        } else {
            instants.push_back(word);
        }
    }
    if (int(pattern.has_value()) + int(style.has_value()) + int(iso8601) + int(rfc1123) != 1)
        throw KQUToolUsageError("give exactly one of --pattern, --style, --iso8601 and --rfc1123");
    if (instants.empty()) throw KQUToolUsageError("no INSTANT given");

    std::vector<KQUDate> dates;
    for (const auto& word : instants) {
        auto date = readInstant(word);
        if (!date)
            throw KQUToolError(
                fmt::format("'{}' is no instant: give ISO 8601 with a zone "
                            "(2024-03-14T15:30:00Z, 2024-03-14T17:30:00+02:00) or now",
                            word));
        dates.push_back(*date);
    }

    KQULocale locale = KQULocale::current();
    if (localeName) {
        locale = KQULocale(*localeName);
        if (locale.identifier().empty() || !locale.isAvailable())
            throw KQUToolError(fmt::format("unknown locale '{}'", *localeName));
    }
    std::u16string icuPattern;
    if (pattern) {
        auto wide = KQUUTF16FromUTF8(*pattern);
        if (!wide || wide->empty()) throw KQUToolError("the pattern is empty or not UTF-8");
        icuPattern = *wide;
    } else if (style) {
        const size_t comma = style->find(',');
        if (comma == std::string::npos)
            throw KQUToolUsageError("--style takes DATE,TIME (for example medium,short)");
        icuPattern = KQUDateFormatterCopyFormatStringForDateAndTimeStyles(
            locale, styleNumber(style->substr(0, comma)), styleNumber(style->substr(comma + 1)));
    }

    KQUDateFormatter formatter(locale);
    for (KQUDate date : dates) {
        std::string text;
        if (iso8601)
            text = KQUUTF8FromUTF16(KQUDateFormatterCreateStringFromDateWithISO8601Format(date));
        else if (rfc1123)
            text = KQUCalendarDate::rfc1123DateWithDate(date).description();
        else if (!icuPattern.empty())
            text = KQUUTF8FromUTF16(formatter.stringFromDate(date, icuPattern));
        fmt::print("{}\n", text);
    }
    return 0;
}

// Parses its own words: an INSTANT such as "-0044-03-15T12:00:00Z" starts with "-".
KQUToolRegistration registration({
    .name = "date format",
    .operands = "INSTANT...",
    .summary = "Show instants as a date cell would (GMT)",
    .options = {{"--locale", "L",
                 "the locale whose names and conventions to use (default: the environment's)"},
                {"--pattern", "P", "an ICU date pattern (\"EEEE, MMMM d, y\", \"HH:mm\")"},
                {"--style", "D,T", "the locale's date and time styles: none, short, medium, long, full"},
                {"--iso8601", "", "yyyy-MM-dd'T'HH:mm:ssZZ (2024-03-14T15:30:00+0000)"},
                {"--rfc1123", "", "RFC 1123 (Thu, 14 Mar 2024 15:30:00 GMT)"}},
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu date format --style medium,short 2024-03-14T15:30:00Z now",
    .details =
        "Prints one line per INSTANT, shown in GMT. An INSTANT is ISO 8601 with a zone "
        "(2024-03-14T15:30:00Z, 2024-03-14T17:30:00.250+02:00) or now. Give exactly one of --pattern, "
        "--style, --iso8601 and --rfc1123. --style none,none shows nothing (an empty line). A word that "
        "starts with \"-\" and is not an option is an INSTANT.",
    .runWords = runDateFormat,
});

}  // namespace
}  // namespace kqu::tool
