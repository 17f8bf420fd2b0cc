// Typed-number parsing against ICU's DecimalFormat::parse called directly.
//
// The subject parses 1,000,000 en_US texts (80 % decimal, 10 % dollar amounts, 5 %
// percentages, 5 % scientific) through KQUGetNumberValueAndTypeFromString, which tries
// its formatters in order. The baseline hands each text straight to the one pre-built
// formatter that accepts it, so the ratio is the price of not knowing the kind of input.
// A second pair measures a parenthesised amount that only a late currency template
// accepts. The counter formattersBuilt must stay 0: every formatter is built by the
// first parse.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <unicode/decimfmt.h>
#include <unicode/numfmt.h>

#include "KQUBenchSupport.h"
#include "kqutility/foundation/KQUDecimalFormatCache.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/format/KQUNumberFormatter.h"

namespace {

constexpr size_t kCount = 1000000;

struct Input {
    std::u16string text;
    int kind;  // 0 decimal, 1 currency, 2 percentage, 3 scientific
};

std::u16string ascii(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

std::string grouped(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

const std::vector<Input>& inputs() {
    static const std::vector<Input> sInputs = [] {
        std::vector<Input> v;
        v.reserve(kCount);
        uint64_t x = 88172645463325252ULL;
        auto next = [&] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
        for (size_t i = 0; i < kCount; ++i) {
            uint64_t r = next();
            uint64_t n = next() % 10000000;
            std::string cents = std::to_string(100 + next() % 100).substr(1);
            int slot = static_cast<int>(r % 100);
            if (slot < 80) {
                std::string text = (r >> 8) % 2 ? grouped(n) + "." + cents : std::to_string(n);
                if ((r >> 9) % 5 == 0) text = "-" + text;
                v.push_back({ascii(text), 0});
            } else if (slot < 90) {
                v.push_back({ascii("$" + grouped(n % 100000) + "." + cents), 1});
            } else if (slot < 95) {
                v.push_back({ascii(std::to_string(n % 1000) + "." + cents.substr(0, 1) + "%"), 2});
            } else {
                v.push_back({ascii(std::to_string(n % 10) + "." + cents + "E" + std::to_string(n % 30)), 3});
            }
        }
        return v;
    }();
    return sInputs;
}

std::unique_ptr<icu::DecimalFormat> icuFormatter(UNumberFormatStyle style, bool noExponent) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DecimalFormat> f(
        dynamic_cast<icu::DecimalFormat*>(icu::NumberFormat::createInstance(icu::Locale("en_US"), style, status)));
    if (!f || U_FAILURE(status)) std::abort();
    f->setParseNoExponent(noExponent);
    return f;
}

double icuParse(const icu::DecimalFormat& f, const std::u16string& text) {
    icu::UnicodeString s(false, text.data(), static_cast<int32_t>(text.size()));
    icu::Formattable result;
    icu::ParsePosition position(0);
    f.parse(s, result, position);
    if (position.getIndex() != s.length()) std::abort();
    UErrorCode status = U_ZERO_ERROR;
    return result.getDouble(status);
}

void BM_IcuParseKnownFormatter(benchmark::State& state) {
    const auto& in = inputs();
    std::unique_ptr<icu::DecimalFormat> formatters[] = {
        icuFormatter(UNUM_DECIMAL, true), icuFormatter(UNUM_CURRENCY, true), icuFormatter(UNUM_PERCENT, true),
        icuFormatter(UNUM_SCIENTIFIC, false)};
    for (auto _ : state) {
        double sum = 0;
        for (const auto& input : in) sum += icuParse(*formatters[input.kind], input.text);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void BM_ParseTypedNumbers(benchmark::State& state) {
    const auto& in = inputs();
    kqu::KQULocale locale("en_US");
    double value;
    int type;
    if (!kqu::KQUGetNumberValueAndTypeFromString(u"1", &locale, &value, &type, nullptr, nullptr)) std::abort();
    uint64_t built = kqu::KQUDecimalFormatCache::formattersBuilt();
    for (auto _ : state) {
        double sum = 0;
        for (const auto& input : in) {
            if (!kqu::KQUGetNumberValueAndTypeFromString(input.text, &locale, &value, &type, nullptr, nullptr) ||
                type != input.kind)
                std::abort();
            sum += value;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["formattersBuilt"] = static_cast<double>(kqu::KQUDecimalFormatCache::formattersBuilt() - built);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

constexpr int kLateCount = 20000;
const std::u16string kLate = u"($1,234.56)";

void BM_IcuParseLateTemplate(benchmark::State& state) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormat f(icu::UnicodeString(u"\u00A4#,##0.00;(\u00A4#,##0.00)"),
                         new icu::DecimalFormatSymbols(icu::Locale("en_US"), status), status);
    f.setCurrency(u"USD", status);
    for (auto _ : state)
        for (int i = 0; i < kLateCount; ++i) benchmark::DoNotOptimize(icuParse(f, kLate));
}

void BM_ParseLateTemplate(benchmark::State& state) {
    kqu::KQULocale locale("en_US");
    double value;
    int type;
    for (auto _ : state)
        for (int i = 0; i < kLateCount; ++i)
            if (!kqu::KQUGetNumberValueAndTypeFromString(kLate, &locale, &value, &type, nullptr, nullptr)) std::abort();
}

BENCHMARK(BM_IcuParseKnownFormatter)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_ParseTypedNumbers)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_IcuParseLateTemplate)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);
BENCHMARK(BM_ParseLateTemplate)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    return kqu::bench::runWithRatios(argc, argv,
                                     {{"BM_ParseTypedNumbers", "BM_IcuParseKnownFormatter", 0.5},
                                      {"BM_ParseLateTemplate", "BM_IcuParseLateTemplate", 0.0}});
}
