// Number rendering against ICU's DecimalFormat::format called directly.
//
// The subjects render 1,000,000 en_US values through one KQUNumberFormat each (a decimal
// format with two places, a dollar format), going the whole way: format members, the
// rendering function, the per-thread formatter cache. Each baseline is one pre-built ICU
// DecimalFormat with the same settings (pattern, places, grouping, half-up rounding),
// formatting into a UnicodeString. Custom layouts (space padding and an interstitial
// text) and fractions are measured on their own (ns per value = 1e9 / items_per_second). The
// counter formattersBuilt is the number of ICU formatters the subject built: one per
// distinct configuration, none per value.
#include <cstdint>
#include <memory>
#include <vector>

#include <unicode/decimfmt.h>

#include "KQUBenchSupport.h"
#include "kqutility/format/KQUCustomNumberFormatTokens.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/foundation/KQUDecimalFormatCache.h"
#include "kqutility/foundation/KQULocale.h"

namespace {

constexpr size_t kCount = 1000000;

const std::vector<double>& values() {
    static const std::vector<double> sValues = [] {
        std::vector<double> v;
        v.reserve(kCount);
        uint64_t x = 88172645463325252ULL;
        for (size_t i = 0; i < kCount; ++i) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            double magnitude = static_cast<double>(x % 100000000) / 1000.0;
            v.push_back((x >> 40) % 5 == 0 ? -magnitude : magnitude);
        }
        return v;
    }();
    return sValues;
}

std::unique_ptr<icu::DecimalFormat> icuFormatter(const char16_t* pattern, bool currency) {
    UErrorCode status = U_ZERO_ERROR;
    auto f = std::make_unique<icu::DecimalFormat>(
        icu::UnicodeString(u"#"), new icu::DecimalFormatSymbols(icu::Locale("en_US"), status), status);
    if (currency) f->setCurrency(u"USD", status);
    f->applyPattern(icu::UnicodeString(pattern), status);
    if (U_FAILURE(status)) std::abort();
    f->setMinimumFractionDigits(2);
    f->setMaximumFractionDigits(2);
    f->setMinimumIntegerDigits(1);
    f->setGroupingUsed(true);
    f->setRoundingMode(icu::DecimalFormat::kRoundHalfUp);
    return f;
}

void icuLoop(benchmark::State& state, const char16_t* pattern, bool currency) {
    const auto& in = values();
    auto f = icuFormatter(pattern, currency);
    for (auto _ : state) {
        size_t length = 0;
        for (double value : in) {
            icu::UnicodeString out;
            f->format(value, out);
            length += static_cast<size_t>(out.length());
        }
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void renderLoop(benchmark::State& state, const kqu::KQUNumberFormat& format) {
    const auto& in = values();
    (void)format.stringFromDouble(1.0);  // the formatter is built by the first call
    const uint64_t built = kqu::KQUDecimalFormatCache::formattersBuilt();
    for (auto _ : state) {
        size_t length = 0;
        for (double value : in) length += format.stringFromDouble(value).size();
        benchmark::DoNotOptimize(length);
    }
    state.counters["formattersBuilt"] =
        static_cast<double>(kqu::KQUDecimalFormatCache::formattersBuilt() - built);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void BM_IcuFormatDecimal(benchmark::State& state) {
    icuLoop(state, u"#,##0.###;-#,##0.###", false);
}

void BM_IcuFormatCurrency(benchmark::State& state) {
    icuLoop(state, u"\u00A4#,##0.00;-\u00A4#,##0.00", true);
}

void BM_RenderDecimal(benchmark::State& state) {
    kqu::KQUScopedLocaleOverride locale("en_US");
    renderLoop(state, *kqu::KQUNumberFormat::create({}));
}

void BM_RenderCurrency(benchmark::State& state) {
    kqu::KQUScopedLocaleOverride locale("en_US");
    renderLoop(state, *kqu::KQUNumberFormat::create({.valueType = 1, .currencyCode = "USD"}));
}

void BM_RenderCustomLayout(benchmark::State& state) {
    kqu::KQUScopedLocaleOverride locale("en_US");
    renderLoop(state, *kqu::KQUNumberFormat::createCustom({.formatString = u"00000000.000",
                                                           .interstitialStrings = {u"-"},
                                                           .interstitialStringInsertionIndexes = {4},
                                                           .minimumIntegerWidth = 8,
                                                           .decimalWidth = 3,
                                                           .numberOfNonSpaceIntegerPlaceholderDigits = 1,
                                                           .numberOfNonSpaceDecimalPlaceholderDigits = 1}));
}

void BM_RenderFraction(benchmark::State& state) {
    kqu::KQUScopedLocaleOverride locale("en_US");
    renderLoop(state, *kqu::KQUNumberFormat::create({.valueType = 4, .fractionAccuracy = -2}));
}

BENCHMARK(BM_IcuFormatDecimal)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_RenderDecimal)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_IcuFormatCurrency)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_RenderCurrency)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_RenderCustomLayout)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_RenderFraction)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv,
                                     {{"BM_RenderDecimal", "BM_IcuFormatDecimal", 0.8},
                                      {"BM_RenderCurrency", "BM_IcuFormatCurrency", 0.8}});
}
