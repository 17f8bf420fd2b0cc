// Durations against ICU's DecimalFormat called directly.
//
// Rendering: 100,000 intervals through "h:mm:ss" (split, rounding, carry, three fields
// through the number renderer); the baseline splits with integer arithmetic and formats
// the three fields with pre-built ICU formatters ("0", "00", "00"). Parsing: the same
// intervals typed as "h:mm:ss.f" read by the duration parser (tokenizer, locale-aware
// number reading of each field); the baseline cuts the text at its separators and parses
// each field with one pre-built ICU formatter. The ratios are printed at the end.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <unicode/decimfmt.h>

#include "KQUBenchSupport.h"
#include "kqutility/format/KQUDurationFormatter.h"
#include "kqutility/foundation/KQULocale.h"

namespace {

constexpr size_t kCount = 100000;

const std::vector<double>& intervals() {
    static const std::vector<double> sIntervals = [] {
        std::vector<double> v;
        v.reserve(kCount);
        uint64_t x = 88172645463325252ULL;
        for (size_t i = 0; i < kCount; ++i) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            v.push_back(static_cast<double>(x % 400000000) / 1000.0);  // up to about 4.6 days, in ms
        }
        return v;
    }();
    return sIntervals;
}

const std::vector<std::u16string>& typed() {
    static const std::vector<std::u16string> sTyped = [] {
        kqu::KQUScopedLocaleOverride locale("en_US");
        std::vector<std::u16string> v;
        for (double t : intervals())
            v.push_back(kqu::KQUDurationFormatterStringFromTimeIntervalWithFormat(t, u"h:mm:ss.f"));
        return v;
    }();
    return sTyped;
}

std::unique_ptr<icu::DecimalFormat> icuFormatter(const char16_t* pattern) {
    UErrorCode status = U_ZERO_ERROR;
    auto f = std::make_unique<icu::DecimalFormat>(
        icu::UnicodeString(pattern), new icu::DecimalFormatSymbols(icu::Locale("en_US"), status), status);
    if (U_FAILURE(status)) std::abort();
    f->setGroupingUsed(false);
    f->setRoundingMode(icu::DecimalFormat::kRoundHalfUp);
    return f;
}

void BM_IcuRenderClock(benchmark::State& state) {
    auto one = icuFormatter(u"0"), two = icuFormatter(u"00");
    for (auto _ : state) {
        size_t length = 0;
        for (double t : intervals()) {
            auto seconds = static_cast<int64_t>(std::llround(t));
            icu::UnicodeString out;
            one->format(static_cast<double>(seconds / 3600), out);
            out.append(u':');
            two->format(static_cast<double>(seconds / 60 % 60), out);
            out.append(u':');
            two->format(static_cast<double>(seconds % 60), out);
            length += static_cast<size_t>(out.length());
        }
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kCount));
}

void BM_RenderClock(benchmark::State& state) {
    kqu::KQUScopedLocaleOverride locale("en_US");
    for (auto _ : state) {
        size_t length = 0;
        for (double t : intervals())
            length += kqu::KQUDurationFormatterStringFromTimeIntervalWithFormat(t, u"h:mm:ss").size();
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kCount));
}

void BM_IcuParseClock(benchmark::State& state) {
    auto f = icuFormatter(u"0");
    f->setParseIntegerOnly(true);
    const auto& texts = typed();
    for (auto _ : state) {
        double sum = 0;
        for (const auto& text : texts) {
            icu::UnicodeString s(text.data(), static_cast<int32_t>(text.size()));
            double fields[4] = {};
            int index = 0;
            int32_t start = 0;
            for (int32_t i = 0; i <= s.length() && index < 4; ++i) {
                if (i < s.length() && s[i] != u':' && s[i] != u'.') continue;
                icu::Formattable value;
                icu::ParsePosition position(0);
                f->parse(icu::UnicodeString(s, start, i - start), value, position);
                fields[index++] = value.getDouble();
                start = i + 1;
            }
            sum += fields[0] * 3600 + fields[1] * 60 + fields[2] + fields[3] / 1000;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kCount));
}

void BM_ParseClock(benchmark::State& state) {
    kqu::KQUScopedLocaleOverride locale("en_US");
    const auto& texts = typed();
    for (auto _ : state) {
        double sum = 0;
        for (const auto& text : texts) {
            double t = 0;
            if (!kqu::KQUDurationFormatterTimeIntervalFromString(text, &t, nullptr, nullptr)) std::abort();
            sum += t;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kCount));
}

BENCHMARK(BM_IcuRenderClock)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_RenderClock)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_IcuParseClock)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_ParseClock)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(
        argc, argv,
        {{"BM_RenderClock", "BM_IcuRenderClock", 0.3}, {"BM_ParseClock", "BM_IcuParseClock", 0.5}});
}
