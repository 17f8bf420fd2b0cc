// The text layer: strict UTF-8, character sets, the current locale and the per-thread ICU formatter cache.
#include <cstdlib>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUCharacterSet.h"
#include "kqutility/foundation/KQUDecimalFormatCache.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {
namespace {

TEST(KQUUnicode, IllFormedUTF8IsRefused) {
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xE2\x82", "\xFF", "a\x80", "\xF4\x90\x80\x80"})
        EXPECT_FALSE(KQUUTF16FromUTF8(bad)) << bad;
    EXPECT_EQ(KQUUTF16FromUTF8("a\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u20AC\U0001F600");
    EXPECT_EQ(KQUUTF16FromUTF8(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(KQUUTF8FromUTF16(u"\u20AC\U0001F600"), "\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(KQUUTF8FromUTF16(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
}

TEST(KQUCharacterSet, ListedCharactersAndProperties) {
    auto listed = KQUCharacterSet::withCharacters(u"a\U0001F600");
    EXPECT_TRUE(listed.contains(U'\U0001F600') && listed.intersects(u"xyza"));
    EXPECT_FALSE(listed.contains(0xD83D) ||
                 listed.intersects(u"xyz"));  // the pair is one character, not two halves
    // Zero width space is no white space; superscript two is No, not Nd.
    EXPECT_TRUE(KQUCharacterSet::whitespace().contains(U'\u3000') &&
                !KQUCharacterSet::whitespace().contains(U'\u200B'));
    EXPECT_TRUE(KQUCharacterSet::decimalDigits().contains(U'\u0663') &&
                !KQUCharacterSet::decimalDigits().contains(U'\u00B2'));
    EXPECT_TRUE(KQUCharacterSet().isEmpty() && !KQUCharacterSet::withPattern(u"[a-"));
    EXPECT_TRUE(KQUCharacterSet::withPattern(u"[a-c]")->contains(U'b'));
}

TEST(KQULocale, OverrideGenerationAndNotification) {
    int heard = 0, token = 0;
    KQURegisterLocaleChangeObserver(&token, [&] { ++heard; });
    uint64_t before = KQULocaleGeneration();
    {
        KQUScopedLocaleOverride german("de-DE");
        EXPECT_TRUE(KQULocale::current().identifier() == "de_DE" && heard == 1);
        EXPECT_GT(KQULocaleGeneration(), before);
    }
    EXPECT_EQ(heard, 2);
    KQURemoveLocaleChangeObserver(&token);
    KQUSetCurrentLocaleOverride("ja_JP");
    KQUSetCurrentLocaleOverride(std::nullopt);
    EXPECT_EQ(heard, 2);
    EXPECT_TRUE(KQULocale("fr_FR").isAvailable() && !KQULocale("qq_ZZ").isAvailable());
}

TEST(KQULocale, PosixEnvironmentMeansUnitedStatesEnglish) {
    std::pair<const char*, std::optional<std::string>> vars[] = {
        {"LC_ALL", {}}, {"LC_NUMERIC", {}}, {"LANG", {}}};
    for (auto& [name, saved] : vars)
        if (const char* value = std::getenv(name)) saved = value;
    const std::pair<const char*, const char*> cases[] = {
        {"C", "en_US"}, {"POSIX", "en_US"}, {"de_CH.UTF-8", "de_CH"}};
    for (auto [lang, expected] : cases) {
        ::unsetenv("LC_NUMERIC");
        ::setenv("LC_ALL", lang, 1);
        ::setenv("LANG", lang, 1);
        KQUCurrentLocaleEnvironmentDidChange();
        EXPECT_EQ(KQULocale::current().identifier(), expected) << lang;
    }
    for (auto& [name, saved] : vars) saved ? (void)::setenv(name, saved->c_str(), 1) : (void)::unsetenv(name);
    KQUCurrentLocaleEnvironmentDidChange();
}

icu::UnicodeString render(const KQUDecimalFormatConfig& config, double value) {
    icu::UnicodeString out;
    KQUDecimalFormatCache::forCurrentThread().formatter(config)->format(value, out);
    return out;
}

TEST(KQUDecimalFormatCache, ConfiguresOnceInOrderAndStaysBounded) {
    KQUDecimalFormatConfig config{.locale = "en_US", .pattern = u"\u00A4#,##0.000", .currency = u"USD"};
    // The currency goes in before the pattern, so the pattern's three places stay.
    EXPECT_EQ(render(config, 1.23456), icu::UnicodeString(u"$1.235"));
    KQUDecimalFormatConfig minus{.locale = "en_US", .pattern = u"0", .minusSign = u"\u2212"};
    EXPECT_EQ(render(minus, -5), icu::UnicodeString(u"\u22125"));
    KQUDecimalFormatConfig digits{.locale = "de_DE", .style = KQUDecimalFormatStyle::Decimal,
                                .minimumFractionDigits = 2, .grouping = 0};
    EXPECT_EQ(render(digits, 1234.5), icu::UnicodeString(u"1234,50"));
    EXPECT_FALSE(KQUDecimalFormatCache::forCurrentThread().formatter({.locale = "en_US", .pattern = u"#,##0.0#0"}));

    auto& cache = KQUDecimalFormatCache::forCurrentThread();
    auto first = cache.formatter(config);
    EXPECT_EQ(cache.formatter(config), first);
    cache.setCapacity(2);
    auto kept = cache.formatter(minus);
    (void)cache.formatter(digits);
    (void)cache.formatter(config);
    EXPECT_EQ(cache.size(), 2u);
    uint64_t built = KQUDecimalFormatCache::formattersBuilt();
    EXPECT_NE(cache.formatter(minus), kept);  // evicted, built again
    EXPECT_EQ(KQUDecimalFormatCache::formattersBuilt(), built + 1);
    cache.setCapacity(KQUDecimalFormatCache::kDefaultCapacity);

    std::shared_ptr<const icu::DecimalFormat> other;
    std::thread([&] { other = KQUDecimalFormatCache::forCurrentThread().formatter(config); }).join();
    EXPECT_NE(other, cache.formatter(config));
    uint64_t generation = KQULocaleGeneration();
    KQUScopedLocaleOverride change("fr_FR");
    EXPECT_NE(KQULocaleGeneration(), generation);
    EXPECT_NE(cache.formatter(config), first);  // a locale change empties the cache
}

}  // namespace
}  // namespace kqu
