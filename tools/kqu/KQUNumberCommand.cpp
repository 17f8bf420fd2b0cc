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

const char* const kUsage = "number parse [--locale L] [--currency C] TEXT...";

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
            else throw KQUToolError(fmt::format("option {} needs a value", name));
        } else {
            texts.push_back(word);
        }
    }
    if (texts.empty()) throw KQUToolError(fmt::format("usage: kqu {}", kUsage));

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

KQUToolRegistrar registrar({"number parse", kUsage, "Read typed numbers as a table cell would", runNumberParse});

}  // namespace
}  // namespace kqu::tool
