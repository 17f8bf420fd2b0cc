// Typed dates against Python's datetime; "now" is 07:00 GMT, one calendar day in GMT, New York
// and Kiritimati, so every TZ gives the same answers.
#include <gtest/gtest.h>

#include <cmath>

#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>

#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateParser.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

constexpr double kNow2024 = 1718434800;  // 2024-06-15 07:00 GMT (a leap year)
constexpr double kNow2023 = 1686812400;  // 2023-06-15 07:00 GMT

std::string utf8(std::u16string_view text) {
    return KQUUTF8FromUTF16(text);
}

// The instant read, or kNoDate.
constexpr double kNoDate = -1e300;
double seconds(const std::optional<KQUDate>& date) {
    return date ? date->timeIntervalSinceReferenceDate : kNoDate;
}

TEST(KQUDateParser, ReadsTypedDatesOfFourLocales) {
    KQUManualWallClock clock(kNow2024);
    const double march14 = 732067200, at1530 = 732123000, today1530 = 740158200;
    using Cases =
        std::vector<std::tuple<std::u16string_view, double, std::u16string_view>>;  // text, date, pattern
    // clang-format off
    const std::pair<const char*, Cases> locales[] = {
        {"en_US", {{u"3/14/24", march14, u"M/d/y"}, {u"3/14/2024", march14, u"M/d/y"},
                   {u"3/14/45", -1761004800, u"M/d/y"} /* the window starts 80 years back */,
                   {u"3/14/43", 1331596800, u"M/d/y"}, {u"March 14, 2024", march14, u"MMMM d, y"},
                   {u"Mar 14, 2024", march14, u"MMM d, y"}, {u"Thursday, March 14, 2024", march14, u"EEEE, MMMM d, y"},
                   {u"3/14/24 3:30 PM", at1530, u"M/d/y h:mm a"}, {u"3:30 PM 3/14/24", at1530, u"h:mm a M/d/y"},
                   {u"3:30 PM", today1530, u"h:mm a"}, {u"3:30\u202fPM", today1530, u"h:mm a"},
                   {u"3:30\u00a0PM", today1530, u"h:mm a"}, {u"15:30:05", 740158205, u"HH:mm:ss"},
                   {u"Mar 14", march14, u"MMM d"}, {u"\uff13/\uff11\uff14/\uff12\uff14", march14, u"M/d/y"},
                   {u"2/30/24", kNoDate, u""}, {u"3.14", kNoDate, u""} /* numbers stay numbers */,
                   {u"12", kNoDate, u""}, {u"13/1/24", kNoDate, u""}}},
        {"en_GB", {{u"14/03/2024", march14, u"dd/MM/y"}, {u"14/03/24", march14, u"dd/MM/y"},
                   {u"14 March 2024", march14, u"d MMMM y"}, {u"14/03/2024 15:30", at1530, u"dd/MM/y HH:mm"}}},
        {"de_DE", {{u"14.03.2024", march14, u"d.M.y"}, {u"14.3.24", march14, u"d.M.y"},
                   {u"14. M\u00e4rz 2024", march14, u"d. MMM y"} /* "M\u00e4rz" is also the short name */,
                   {u"14.03.2024 15:30", at1530, u"d.M.y HH:mm"}, {u"14.3.", march14, u"d.M."}}},
        {"ja_JP", {{u"2024/03/14", march14, u"y/M/d"},
                   {u"2024\u5e743\u670814\u65e5", march14, u"y\u5e74M\u6708d\u65e5"},
                   {u"2024/3/14 15:30", at1530, u"y/M/d H:mm"}, {u"\u5348\u5f8c3:30", today1530, u"aK:mm"},
                   {u"PM3:30", today1530, u"aK:mm"} /* Latin AM/PM */, {u"AM3:30", 740115000, u"aK:mm"}}}};
    // clang-format on
    for (const auto& [name, cases] : locales)
        for (const auto& [text, expected, pattern] : cases) {
            KQULocale locale(name);
            std::u16string format;
            EXPECT_EQ(seconds(KQUCreateDateFromString(text, &locale, &format)), expected)
                << name << " " << utf8(text);
            EXPECT_EQ(pattern.empty() ? "" : utf8(format), utf8(pattern)) << name << " " << utf8(text);
        }
}

// Typed numbers are no dates, so that a cell reading dates first still gets its numbers.
TEST(KQUDateParser, NumbersStayNumbers) {
    KQUManualWallClock clock(kNow2024);
    const std::pair<const char*, std::u16string_view> numbers[] = {
        {"en_US", u"1234"},    {"en_US", u"1,234.5"}, {"en_US", u"-5"},    {"en_US", u"3.14"},
        {"en_US", u"1E3"},     {"en_US", u"$5"},      {"en_US", u"15%"},   {"en_US", u"0.5"},
        {"de_DE", u"1.234,5"}, {"de_DE", u"3,14"},    {"de_DE", u"1.234"}, {"de_DE", u"12,5"},
        {"ja_JP", u"1234"},    {"ja_JP", u"3.14"},    {"fr_FR", u"3,14"},  {"fr_FR", u"1\u202f234,5"},
        {"de_CH", u"3.14"},    {"en_GB", u"12.5"},    {"lt_LT", u"3,14"},  {"fi_FI", u"3,14"},
    };
    for (const auto& [name, text] : numbers) {
        KQULocale locale(name);
        std::u16string format;
        EXPECT_FALSE(KQUCreateDateFromString(text, &locale, &format))
            << name << " " << utf8(text) << " read by " << utf8(format);
    }
}

// A yearless 29 February is kept in 2024, refused in 2023 (never 1 March); a typed year always counts.
TEST(KQUDateParser, TwentyNinthOfFebruaryWithoutYearFollowsThisYear) {
    KQULocale us("en_US"), gb("en_GB");
    {
        KQUManualWallClock clock(kNow2024);
        EXPECT_EQ(seconds(KQUCreateDateFromString(u"2/29", &us)), 730857600);
        EXPECT_EQ(seconds(KQUCreateDateFromString(u"29/02", &gb)), 730857600);
    }
    KQUManualWallClock clock(kNow2023);
    EXPECT_FALSE(KQUCreateDateFromString(u"2/29", &us).has_value());
    EXPECT_FALSE(KQUCreateDateFromString(u"Feb 29", &us).has_value());
    EXPECT_EQ(seconds(KQUCreateDateFromString(u"2/29/24", &us)), 730857600);
    EXPECT_EQ(seconds(KQUCreateDateFromString(u"3:30 PM", &us)), 708535800);
}

TEST(KQUDateParser, PreferredFormatAndAggressiveYear) {
    KQUManualWallClock clock(kNow2024);
    KQUDateParser parser(KQULocale("en_US"));
    std::u16string format;
    // The preferred pattern wins over the locale's reading (day first here): 2024-04-03.
    EXPECT_EQ(seconds(parser.createDateFromString(u"3/4/24", u"d/M/yy", &format, false)), 733795200);
    // Its time portion alone.
    EXPECT_EQ(seconds(parser.createDateFromString(u"15:30", u"d/M/yy HH:mm", &format, false)), 740158200);
    EXPECT_EQ(utf8(format), "HH:mm");
    // A lone two-digit year only when asked for: 2024-01-01.
    EXPECT_FALSE(parser.createDateFromString(u"24", {}, nullptr, false));
    EXPECT_EQ(seconds(parser.createDateFromString(u"24", {}, &format, true)), 725760000);
    EXPECT_FALSE(parser.createDateFromString(u"", {}, nullptr, true));
}

// A pattern with no unit cannot be completed: reported, and the parsed date is kept as it is.
TEST(KQUDateParser, CompletionWithNoUnitKeepsTheParsedDate) {
    KQUManualWallClock clock(kNow2024);
    KQULocale locale("en_US");
    EXPECT_ASSERTION_FAILURE((void)KQUCreateDateFromStringTryingFormats(u"Monday", &locale, {u"EEEE"}));
    test::ContinueAfterAssertions keepGoing;
    auto date = KQUCreateDateFromStringTryingFormats(u"Monday", &locale, {u"EEEE"});
    ASSERT_TRUE(date);
    EXPECT_EQ(KQUGregorianComponentsInGMT(*date)->weekday, 2);
}

// A quoted "m" adds no time to a date pattern; a time pattern with a quoted "d" completes to today.
TEST(KQUDateParser, QuotedTextIsNoUnit) {
    // clang-format off
    for (auto [pattern, units] : {std::pair{u"y 'm'. MMMM d 'd'.", 7u}, {u"HH:mm 'd'", 24u}, {u"HH:mm", 24u},
                                  {u"MMM yyyy", 3u}, {u"h 'o''clock' a", 8u}})
        // clang-format on
        EXPECT_EQ(KQUGregorianUnitsPresentInFormatString(pattern), units) << utf8(pattern);
    KQUManualWallClock clock(kNow2024);
    KQULocale locale("en_US");
    EXPECT_EQ(seconds(KQUCreateDateFromStringTryingFormats(u"15:30 d", &locale, {u"HH:mm 'd'"})), 740158200);
}

// After warm-up a parse makes no formatter: each is made the first time it is tried.
TEST(KQUDateParser, FormattersAreMadeOnceAndKept) {
    KQUManualWallClock clock(kNow2024);
    KQUDateParser parser(KQULocale("en_US"));
    const std::u16string_view texts[] = {u"3/14/24", u"March 14, 2024", u"3:30 PM", u"14:05", u"nonsense"};
    for (auto text : texts) (void)parser.createDateFromString(text);
    const uint64_t made = KQUDateParser::formattersMade();
    for (int round = 0; round < 3; ++round)
        for (auto text : texts) (void)parser.createDateFromString(text);
    EXPECT_EQ(KQUDateParser::formattersMade(), made);
}

// The embedded lists keep numbers numbers and years what people mean, in every locale:
// no "yyyy", no stand-alone "L"/"c", no lone numeric field, no yearless numeric pattern
// joined by the locale's decimal separator (asked of ICU here).
TEST(KQUDateParser, EveryEmbeddedListObeysTheDataRules) {
    int32_t count = 0;
    const icu::Locale* locales = icu::DateFormat::getAvailableLocales(count);
    ASSERT_GT(count, 700);
    for (int32_t i = 0; i < count; ++i) {
        KQULocale locale(locales[i].getName());
        auto info = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&locale);
        ASSERT_TRUE(info) << locale.identifier();
        EXPECT_FALSE(info->acceptedDateFormats.empty() || info->acceptedTimeFormats.empty())
            << locale.identifier();
        UErrorCode status = U_ZERO_ERROR;
        icu::DecimalFormatSymbols symbols(locales[i], status);
        const char16_t decimal =
            symbols.getConstSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol)[0];
        std::vector<std::u16string> patterns = info->acceptedDateFormats;
        patterns.insert(patterns.end(), info->acceptedTimeFormats.begin(), info->acceptedTimeFormats.end());
        for (const auto& pattern : patterns) {
            std::u16string unquoted;  // letters outside quotes, other characters as '_'
            bool quoted = false;
            for (char16_t c : pattern) {
                if (c == u'\'')
                    quoted = !quoted;
                else if (!quoted)
                    unquoted += (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ? c : u'_';
            }
            const std::string text = utf8(unquoted), trace = locale.identifier() + " " + utf8(pattern);
            EXPECT_EQ(text.find("yyy"), std::string::npos) << trace;
            EXPECT_EQ(text.find_first_of("LcY"), std::string::npos) << trace;
            const bool numericOnly = text.find_first_not_of("ydMHhKkms_") == std::string::npos &&
                                     text.find("MMM") == std::string::npos;
            const size_t firstLetter = text.find_first_not_of('_');
            const bool oneField = firstLetter != std::string::npos &&
                                  text.find_first_not_of(text[firstLetter], firstLetter) == std::string::npos;
            EXPECT_FALSE(numericOnly && oneField) << trace;
            EXPECT_FALSE(numericOnly && text.find('y') == std::string::npos &&
                         pattern.find(decimal) != std::u16string::npos)
                << trace;
        }
    }
}

// What each accepted pattern renders, the locale's parser reads back (completed for the
// units the pattern lacks), in a spread of locales (es_ES: "p. m." holds a no-break space).
TEST(KQUDateParser, AcceptedPatternsReadBackWhatTheyRender) {
    KQUManualWallClock clock(kNow2024);
    const KQUDate instant{732123000};  // 2024-03-14 15:30:00 GMT
    std::vector<std::string> names = {"en_US", "en_GB", "de_DE", "ja_JP", "es_ES", "zh_Hans_CN", "ko_KR",
                                      "ar_EG", "hi_IN", "lt_LT", "de_CH", "yrl",   "x_unknown"};
    int32_t count = 0;
    const icu::Locale* locales = icu::DateFormat::getAvailableLocales(count);
    for (int32_t i = 0; i < count; i += 16) names.push_back(locales[i].getName());
    for (const auto& name : names) {
        KQULocale locale(name);
        KQUDateParser parser(locale);
        KQUDateFormatter formatter(locale);
        auto info = KQUDateFormatterCopyDateTimeFormatInfoDictionaryForLocale(&locale);
        ASSERT_TRUE(info) << name;
        std::vector<std::u16string> patterns = info->acceptedDateFormats;
        patterns.insert(patterns.end(), info->acceptedTimeFormats.begin(), info->acceptedTimeFormats.end());
        for (const auto& pattern : patterns) {
            auto shown = formatter.stringFromDate(instant, pattern);
            auto read = parser.createDateFromString(shown);
            auto expected = KQUCreateDateWithGregorianUnitsSetToDefaultValue(instant, pattern);
            const std::string trace = name + " " + utf8(pattern) + " " + utf8(shown);
            ASSERT_TRUE(read) << trace;
            EXPECT_EQ(read->timeIntervalSinceReferenceDate, expected->timeIntervalSinceReferenceDate) << trace;
        }
    }
}

}  // namespace
