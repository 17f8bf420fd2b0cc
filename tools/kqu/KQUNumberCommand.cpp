// kqu number parse: reads numbers as a table cell would, and says what it understood:
// the value, the value type it was written in, and the currency code for amounts.
//
//     $ kqu number parse 1,234.5 '$5' 15% 1E3 '1 1/2' 12abc
//     1234.5 decimal -
//     5 currency USD
//     ...
//     not a number
//
// Words that start with "-" but are not options are texts ("-5" is a number to parse).
#include <charconv>

#include <fmt/format.h>

#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"
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
    if (localeName) {
        KQULocale locale(*localeName);
        if (locale.identifier().empty() || !locale.isAvailable())
            throw KQUToolError(fmt::format("unknown locale '{}'", *localeName));
        scopedLocale.emplace(locale.identifier());
    }
    std::string extraCode;
    if (currency) {
        for (char& c : *currency) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        auto codes = KQUNumberFormatter::availableCurrencyCodes();
        if (std::find(codes.begin(), codes.end(), *currency) == codes.end())
            throw KQUToolError(fmt::format("unknown currency code '{}'", *currency));
        extraCode = *currency;
    }

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
