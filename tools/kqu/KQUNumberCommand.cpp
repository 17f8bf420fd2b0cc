// kqu number parse: reads numbers as a table cell would, and says what it understood:
// the value, the value type it was written in, and the currency code for amounts.
//
//     $ kqu number parse 1,234.5 '$5' 15% 1E3 '1 1/2' 12abc
//     1234.5 decimal -
//     5 currency USD
//     ...
//     not a number
//
// kqu number format: shows values as a cell in a given number format would.
//
//     $ kqu number format --type currency --currency EUR --locale de_DE 1234.5 -2
//     1.234,50 €
//     -2,00 €
//
// Words that start with "-" but are not options are texts ("-5" is a number to parse).
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

#include <map>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/format/KQUNumberFormatting.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

std::string shortest(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void setLocaleOption(const std::optional<std::string>& localeName, std::optional<KQUScopedLocaleOverride>& scoped) {
    if (!localeName) return;
    KQULocale locale(*localeName);
    if (locale.identifier().empty() || !locale.isAvailable())
        throw KQUToolError(fmt::format("unknown locale '{}'", *localeName));
    scoped.emplace(locale.identifier());
}

std::string checkedCurrency(std::string code) {
    for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto codes = KQUNumberFormatter::availableCurrencyCodes();
    if (std::find(codes.begin(), codes.end(), code) == codes.end())
        throw KQUToolError(fmt::format("unknown currency code '{}'", code));
    return code;
}

int runNumberParse(const std::vector<std::string>& words) {
    std::optional<std::string> localeName, currency;
    std::vector<std::string> texts;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        std::optional<std::string>* target = nullptr;
        std::string name = word.substr(0, word.find('='));
        if (!optionsEnded && (name == "--locale" || name == "--currency"))
            target = name == "--locale" ? &localeName : &currency;
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
        } else if (target) {
            if (word.size() > name.size()) *target = word.substr(name.size() + 1);
            else if (i + 1 < words.size()) *target = words[++i];
            else throw KQUToolUsageError(fmt::format("option {} needs a value", name));
        } else {
            texts.push_back(word);
        }
    }
    if (texts.empty()) throw KQUToolUsageError("no TEXT given");

    std::optional<KQUScopedLocaleOverride> scopedLocale;
    setLocaleOption(localeName, scopedLocale);
    std::string extraCode;
    if (currency) extraCode = checkedCurrency(*currency);

    int status = 0;
    for (const auto& text : texts) {
        auto utf16 = KQUUTF16FromUTF8(text);
        double value = 0;
        int valueType = KQUNumberParseFailedValueType;
        std::string code;
        if (!utf16 || !KQUGetNumberValueAndTypeFromStringWithCurrencyCode(*utf16, extraCode, nullptr, &value,
                                                                         &valueType, nullptr, &code)) {
            fmt::print("not a number\n");
            status = 1;
            continue;
        }
        fmt::print("{} {} {}\n", shortest(value), KQUNumberFormatterStringFromValueType(valueType),
                   code.empty() ? "-" : code);
    }
    return status;
}

// A VALUE in C syntax ("-1e-8", "0x10", "nan", "inf"), the whole word.
std::optional<double> readValue(const std::string& word) {
    if (word.empty() || std::isspace(static_cast<unsigned char>(word.front()))) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(word.c_str(), &end);
    if (end != word.c_str() + word.size()) return std::nullopt;
    return value;  // out of range reads as +-inf or a denormal, as C does
}

long integerOption(const std::string& name, const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno != 0 || value < low || value > high)
        throw KQUToolError(fmt::format("{} must be a whole number from {} to {}, not '{}'", name, low, high, text));
    return value;
}

int indexOfName(const std::string& option, const std::string& text, const std::vector<std::string>& names) {
    auto found = std::find(names.begin(), names.end(), text);
    if (found == names.end())
        throw KQUToolUsageError(fmt::format("{} must be one of {}, not '{}'", option, fmt::join(names, ", "), text));
    return static_cast<int>(found - names.begin());
}

int runNumberFormat(const std::vector<std::string>& words) {
    static const std::vector<std::string> kValued = {"--format", "--type",     "--places",      "--currency",
                                                     "--negative", "--accuracy", "--radix", "--base-places",
                                                     "--locale"};
    static const std::vector<std::string> kFlags = {"--accounting", "--no-grouping", "--twos-complement",
                                                    "--auto-scientific"};
    std::map<std::string, std::string> options;
    std::vector<double> values;
    std::vector<std::string> notNumbers;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const std::string name = word.substr(0, word.find('='));
        const bool valued = std::find(kValued.begin(), kValued.end(), name) != kValued.end();
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && valued) {
            if (word.size() > name.size()) options[name] = word.substr(name.size() + 1);
            else if (i + 1 < words.size()) options[name] = words[++i];
            else throw KQUToolUsageError(fmt::format("option {} needs a value", name));
        } else if (!optionsEnded && std::find(kFlags.begin(), kFlags.end(), word) != kFlags.end()) {
            options[word] = "";
        } else if (auto value = readValue(word)) {
            values.push_back(*value);
        } else if (!optionsEnded && word.size() > 2 && word.starts_with("--")) {
            throw KQUToolUsageError(fmt::format("unknown option {}", name));
        } else {
            notNumbers.push_back(word);
        }
    }
    auto has = [&](const char* option) { return options.count(option) != 0; };
    if (has("--format") == has("--type")) throw KQUToolUsageError("give either --format PATTERN or --type TYPE");
    if (values.empty() && notNumbers.empty()) throw KQUToolUsageError("no VALUE given");
    if (!notNumbers.empty()) throw KQUToolError(fmt::format("not a number: {}", notNumbers.front()));

    std::optional<KQUScopedLocaleOverride> scopedLocale;
    setLocaleOption(has("--locale") ? std::optional(options["--locale"]) : std::nullopt, scopedLocale);
    std::optional<std::string> currency;
    if (has("--currency")) currency = checkedCurrency(options["--currency"]);
    KQUNumberFormatSettings settings;
    settings.currencyCode = currency;
    settings.showThousandsSeparator = !has("--no-grouping");
    if (has("--accuracy")) {
        settings.fractionAccuracy = static_cast<int>(integerOption("--accuracy", options["--accuracy"], -3, INT32_MAX));
        if (settings.fractionAccuracy == 0) throw KQUToolError("--accuracy must be -1, -2, -3 or a denominator");
    }

    KQUNumberFormat::Ptr format;
    if (has("--format")) {
        for (const char* typeOnly : {"--places", "--accounting", "--negative", "--radix", "--base-places",
                                     "--twos-complement"})
            if (has(typeOnly)) throw KQUToolUsageError(fmt::format("{} goes with --type, not --format", typeOnly));
        auto pattern = KQUUTF16FromUTF8(options["--format"]);
        if (!pattern) throw KQUToolError("the pattern is not UTF-8");
        settings.formatString = *pattern;
        format = KQUNumberFormat::createCustom(std::move(settings));
    } else {
        settings.valueType = indexOfName(
            "--type", options["--type"], {"decimal", "currency", "percentage", "scientific", "fraction", "base"});
        if (has("--places")) {
            settings.decimalPlaces =
                options["--places"] == "auto"
                    ? kKQUNumberFormatterDecimalPlacesAsManyAsNecessary
                    : static_cast<uint16_t>(integerOption("--places", options["--places"], 0,
                                                          kKQUNumberFormatUserMaxNumberOfDecimalPlaces));
        } else if (settings.valueType == KQUNumberFormatValueTypeCurrency) {
            settings.decimalPlaces = KQUNumberFormatter::defaultDecimalPlacesForCurrencyCode(
                currency.value_or(KQUNumberFormatter::currentLocaleCurrencyCode()));
        }
        settings.useAccountingStyle = has("--accounting");
        if (has("--negative"))
            settings.negativeStyle = indexOfName("--negative", options["--negative"],
                                                 {"minus", "red", "parentheses", "red-parentheses", "none"});
        if (has("--radix"))
            settings.base = static_cast<uint16_t>(
                integerOption("--radix", options["--radix"], 1, kKQUNumberFormatUserMaxBaseValue));
        if (has("--base-places"))
            settings.basePlaces = static_cast<uint16_t>(integerOption("--base-places", options["--base-places"], 0,
                                                                      kKQUNumberFormatUserMaxNumberOfBasePlaces));
        settings.baseUseMinusSign = !has("--twos-complement");
        format = KQUNumberFormat::create(std::move(settings));
    }
    format->setUseScientificFormattingAutomatically(has("--auto-scientific"));
    for (double value : values) fmt::print("{}\n", KQUUTF8FromUTF16(format->stringFromDouble(value)));
    return 0;
}

// Parses its own words: a text such as "-5" starts with "-" and is no option.
KQUToolRegistration formatRegistration({
    .name = "number format",
    .operands = "VALUE...",
    .summary = "Show values as a cell in a number format would",
    .options = {{"--format", "PATTERN", "a custom format from an ICU number pattern (\"#,##0.0#\", \"0 %\")"},
                {"--type", "TYPE", "decimal, currency, percentage, scientific, fraction or base"},
                {"--places", "N", "decimal places, 0 to 30, or auto (default 2; a currency's own)"},
                {"--currency", "C", "ISO 4217 currency code (default: the locale's)"},
                {"--accounting", "", "currency symbol, a tab, then the amount"},
                {"--negative", "S", "minus, red, parentheses, red-parentheses or none"},
                {"--no-grouping", "", "no thousands separators"},
                {"--accuracy", "A", "fractions: -1, -2, -3 (up to 1, 2, 3 digits) or a fixed denominator"},
                {"--radix", "R", "base: the radix, 1 to 36 (default 10)"},
                {"--base-places", "N", "base: at least N digits"},
                {"--twos-complement", "", "base: negative values in two's complement"},
                {"--auto-scientific", "", "decimal: very large and very small values in scientific notation"},
                {"--locale", "L", "the locale whose conventions to follow (default: the environment's)"}},
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu number format --type currency --currency EUR --locale de_DE 1234.5 -2",
    .details = "Prints one line per VALUE, as the format renders it (accounting style keeps its tab). A VALUE "
               "is a number in C syntax (-1e-8, 0x10, nan, inf); a word that reads as a number is a VALUE, "
               "not an option. When any word is not a number, nothing is printed, the error names it and the "
               "exit status is 1.",
    .runWords = runNumberFormat,
});

// Parses its own words: a text such as "-5" starts with "-" and is no option.
KQUToolRegistration registration({
    .name = "number parse",
    .operands = "TEXT...",
    .summary = "Read typed numbers as a table cell would",
    .options = {{"--locale", "L", "the locale whose conventions the texts follow (default: the environment's)"},
                {"--currency", "C", "one more currency code to recognise (ISO 4217)"}},
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu number parse --locale de_DE 1.234,5 '5 €'",
    .details = "Prints one line per TEXT: the value, its type and the currency code (or -). A TEXT that is "
               "not a number prints \"not a number\" and makes the exit status 1. A word that starts with "
               "\"-\" and is not an option is a TEXT.",
    .runWords = runNumberParse,
});

}  // namespace
}  // namespace kqu::tool
