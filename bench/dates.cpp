// Typed dates and date rendering against ICU's SimpleDateFormat called directly.
//
// Parsing: 100,000 en_US texts of mixed forms ("3/14/24", "Mar 14, 2024", "March 14, 2024
// 3:30 PM", "15:30", ...) through the calling thread's shared parser, which does not know
// the form and tries its pattern groups; the baseline hands each text to the one pre-built
// strict GMT formatter of its own pattern. The target is at most 5 times slower (ratio >=
// 0.2). The counter formattersMade must stay 0: after a warm-up pass over the same inputs
// every formatter the parser needs has been made. us_per_parse is CPU microseconds per
// text (Google Benchmark prints it with an "s").
//
// Rendering: 1,000,000 dates through three patterns in turn, KQUDateFormatterStringFromDateWithFormat
// against three pre-built formatters; target ratio >= 0.8.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include "KQUBenchSupport.h"
#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateParser.h"
#include "kqutility/foundation/KQULocale.h"

namespace {

constexpr size_t kParseCount = 100000;
constexpr size_t kRenderCount = 1000000;

const std::u16string kParsePatterns[] = {u"M/d/yy",    u"M/d/y",        u"MMM d, y",
                                         u"MMMM d, y", u"M/d/y h:mm a", u"MMMM d, y h:mm a",
                                         u"h:mm a",    u"HH:mm",        u"EEEE, MMMM d, y"};
const std::u16string kRenderPatterns[] = {u"M/d/yy", u"MMM d, y h:mm a", u"EEEE, MMMM d, y"};

std::unique_ptr<icu::SimpleDateFormat> strictFormat(const std::u16string& pattern) {
    UErrorCode status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(
        icu::UnicodeString(pattern.data(), static_cast<int32_t>(pattern.size())), icu::Locale("en_US"),
        status);
    if (U_FAILURE(status)) std::abort();
    format->setTimeZone(*icu::TimeZone::getGMT());
    format->setLenient(false);
    return format;
}

struct Input {
    std::u16string text;
    size_t pattern;
};

uint64_t next(uint64_t& x) {
    return x ^= x << 13, x ^= x >> 7, x ^= x << 17;
}

const std::vector<Input>& parseInputs() {
    static const std::vector<Input> sInputs = [] {
        std::vector<std::unique_ptr<icu::SimpleDateFormat>> formats;
        for (const auto& p : kParsePatterns) formats.push_back(strictFormat(p));
        std::vector<Input> v;
        uint64_t x = 88172645463325252ULL;
        for (size_t i = 0; i < kParseCount; ++i) {
            // Minutes between 1950 and 2040, so two-digit years stay in the window.
            const double minutes = static_cast<double>(next(x) % (90ULL * 366 * 24 * 60));
            const UDate when = -631152000000.0 + minutes * 60000.0;
            const size_t pattern = next(x) % std::size(kParsePatterns);
            icu::UnicodeString text;
            formats[pattern]->format(when, text);
            v.push_back({std::u16string(text.getBuffer(), static_cast<size_t>(text.length())), pattern});
        }
        return v;
    }();
    return sInputs;
}

void BM_IcuParseKnownPattern(benchmark::State& state) {
    const auto& in = parseInputs();
    std::vector<std::unique_ptr<icu::SimpleDateFormat>> formats;
    for (const auto& p : kParsePatterns) formats.push_back(strictFormat(p));
    for (auto _ : state) {
        double sum = 0;
        for (const auto& input : in) {
            icu::UnicodeString text(false, input.text.data(), static_cast<int32_t>(input.text.size()));
            icu::ParsePosition position(0);
            UDate when = formats[input.pattern]->parse(text, position);
            if (position.getIndex() != text.length()) std::abort();
            sum += when;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void BM_ParseTypedDates(benchmark::State& state) {
    const auto& in = parseInputs();
    kqu::KQUScopedLocaleOverride locale("en_US");
    for (const auto& input : in)  // warm-up: the parser makes what these inputs need
        if (!kqu::KQUCreateDateFromString(input.text, nullptr)) std::abort();
    const uint64_t made = kqu::KQUDateParser::formattersMade();
    for (auto _ : state) {
        double sum = 0;
        for (const auto& input : in) {
            auto date = kqu::KQUCreateDateFromString(input.text, nullptr);
            if (!date) std::abort();
            sum += date->timeIntervalSinceReferenceDate;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["formattersMade"] = static_cast<double>(kqu::KQUDateParser::formattersMade() - made);
    state.counters["us_per_parse"] =
        benchmark::Counter(static_cast<double>(in.size()) * 1e-6,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

double renderDate(size_t i) {
    return -31622400.0 + static_cast<double>(i) * 7919.0;
}

void BM_IcuFormatPrebuilt(benchmark::State& state) {
    std::vector<std::unique_ptr<icu::SimpleDateFormat>> formats;
    for (const auto& p : kRenderPatterns) formats.push_back(strictFormat(p));
    for (auto _ : state) {
        size_t length = 0;
        for (size_t i = 0; i < kRenderCount; ++i) {
            icu::UnicodeString text;
            formats[i % 3]->format((renderDate(i) + 978307200.0) * 1000.0, text);
            std::u16string copy(text.getBuffer(), static_cast<size_t>(text.length()));
            length += copy.size();
        }
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kRenderCount));
}

void BM_RenderDates(benchmark::State& state) {
    kqu::KQUScopedLocaleOverride locale("en_US");
    for (auto _ : state) {
        size_t length = 0;
        for (size_t i = 0; i < kRenderCount; ++i)
            length += kqu::KQUDateFormatterStringFromDateWithFormat(kqu::KQUDate{renderDate(i)},
                                                                    kRenderPatterns[i % 3])
                          .size();
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kRenderCount));
}

BENCHMARK(BM_IcuParseKnownPattern)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_ParseTypedDates)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_IcuFormatPrebuilt)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_RenderDates)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv,
                                     {{"BM_ParseTypedDates", "BM_IcuParseKnownPattern", 0.2},
                                      {"BM_RenderDates", "BM_IcuFormatPrebuilt", 0.8}});
}
