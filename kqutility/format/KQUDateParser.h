// Reading dates that people type. KQUDateParser knows every pattern a locale accepts
// (its accepted date patterns, its accepted time patterns, each date pattern followed by
// each time pattern and the other way round, and the locale's date and time styles) and
// finds the first that reads the whole text.
//
// The patterns are grouped by their leading field and the separator after it: one cheap
// parse of the leading field picks the short list of patterns worth trying. Each ICU
// formatter is made the first time its pattern is tried and kept for the life of the
// parser, never per parse. Parsing is strict (no lenient reading: 30 February fails), in
// GMT, with the Gregorian calendar; two-digit years fall in the 100 years starting 80
// years before now (the wall clock of KQUClock.h); U+202F and U+00A0 count as spaces in
// patterns and text, full-width characters as their ordinary forms. Units the matched
// pattern lacks are completed as KQUCreateDateWithGregorianUnitsSetToDefaultValue says
// (a typed "29 Feb" is read in a leap year, then moved into this year, and refused when
// this year has no 29 February). In a Japanese locale a time typed with "AM"/"PM" is
// read too.
//
// A parser is used by one thread at a time. parserForDefaultLocale() answers the calling
// thread's parser for the current locale, rebuilt after a locale change. Text and
// patterns are UTF-16. Parsing never throws; no match is nullopt.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

class KQUDateParser {
public:
    // The calling thread's parser for the current locale.
    static std::shared_ptr<KQUDateParser> parserForDefaultLocale();

    // nullopt: the current locale. The locale's calendar is forced to Gregorian.
    explicit KQUDateParser(const std::optional<KQULocale>& locale = std::nullopt);
    ~KQUDateParser();
    KQUDateParser(const KQUDateParser&) = delete;
    KQUDateParser& operator=(const KQUDateParser&) = delete;

    const KQULocale& locale() const { return mLocale; }

    // successfulFormat (may be nullptr) receives the pattern that matched.
    [[nodiscard]] std::optional<KQUDate> createDateFromString(std::u16string_view text,
                                                              std::u16string* successfulFormat = nullptr);
    // preferredFormat (may be empty) is tried first, then its date portion and its time
    // portion; tryAggressiveFormats adds a last try of a lone two-digit year ("yy").
    [[nodiscard]] std::optional<KQUDate> createDateFromString(std::u16string_view text,
                                                              std::u16string_view preferredFormat,
                                                              std::u16string* successfulFormat,
                                                              bool tryAggressiveFormats);

    // Every pattern this parser accepts, in the order it tries them (for tests and tools).
    std::vector<std::u16string> acceptedFormats() const;
    // ICU formatters made by all parsers since the process started (for benchmarks).
    static uint64_t formattersMade();

private:
    struct Impl;  // ICU state: the locale, the work calendar, the categories
    KQULocale mLocale;
    std::unique_ptr<Impl> mImpl;
};

// Through a new parser for locale, or the calling thread's shared parser when locale is
// nullptr.
[[nodiscard]] std::optional<KQUDate> KQUCreateDateFromString(std::u16string_view text,
                                                             const KQULocale* locale,
                                                             std::u16string* successfulFormat = nullptr);
[[nodiscard]] std::optional<KQUDate> KQUCreateDateFromStringWithPreferredFormat(
    std::u16string_view text, const KQULocale* locale, std::u16string_view preferredFormat,
    std::u16string* successfulFormat, bool tryAggressiveFormats);
// Tries each pattern in order (strict, GMT, whole text); the first match is completed
// with KQUCreateDateWithGregorianUnitsSetToDefaultValue.
[[nodiscard]] std::optional<KQUDate> KQUCreateDateFromStringTryingFormats(
    std::u16string_view text, const KQULocale* locale, const std::vector<std::u16string>& formats,
    std::u16string* successfulFormat = nullptr);

}  // namespace kqu
