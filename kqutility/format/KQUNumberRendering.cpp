#include "kqutility/format/KQUNumberRendering.h"

#include <array>
#include <charconv>
#include <climits>
#include <cmath>

#include <unicode/fpositer.h>
#include <unicode/unum.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUDecimalFormatCache.h"
#include "kqutility/foundation/KQUICUSupport.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

namespace {

constexpr uint16_t kAsManyAsNecessary = 65534;

// The last few configurations this thread rendered with, compared by their arguments, so
// that a run of cells in the same format neither builds a configuration nor hashes one.
// The cache below stays the owner of the formatters and of the count of those built.
struct MemoSlot {
    uint64_t generation = 0;
    std::u16string pattern;
    std::string currency;
    uint16_t minimum = 0, places = 0;
    bool apply = false, grouping = false, suppress = false;
    std::shared_ptr<const icu::DecimalFormat> format;
};

struct Memo {
    std::array<MemoSlot, 8> slots;
    size_t next = 0;
};

// The formatter stays owned by the memo (and the cache) for at least this call.
const icu::DecimalFormat* formatterFor(std::u16string_view pattern, bool apply, uint16_t minimum,
                                       uint16_t places, bool grouping, std::string_view currency,
                                       bool suppress) {
    thread_local Memo memo;
    const uint64_t generation = KQULocaleGeneration();
    if (!apply) minimum = places = 0;  // not part of the configuration
    for (auto& slot : memo.slots) {
        if (slot.format && slot.generation == generation && slot.apply == apply && slot.minimum == minimum &&
            slot.places == places && slot.grouping == grouping && slot.suppress == suppress &&
            slot.pattern == pattern && slot.currency == currency)
            return slot.format.get();
    }

    KQUDecimalFormatConfig config;
    config.locale = KQULocale::current().identifier();
    config.pattern = std::u16string(pattern);
    config.currency = std::u16string(currency.begin(), currency.end());
    // CHF has a rounding increment in some data; amounts are rounded to the places only.
    if (currency == "CHF") config.roundingIncrement = 0;
    if (apply) {
        config.minimumFractionDigits = places == kAsManyAsNecessary ? 0 : minimum;
        config.maximumFractionDigits = places == kAsManyAsNecessary ? INT32_MAX : places;
        config.minimumIntegerDigits = 1;
    }
    config.grouping = grouping ? 1 : 0;
    if (suppress) config.minusSign = u"";
    config.roundingMode = icu::DecimalFormat::kRoundHalfUp;

    auto& cache = KQUDecimalFormatCache::forCurrentThread();
    auto format = cache.formatter(config);
    if (!format) {
        KQULogWarning("Number pattern refused by ICU; rendering with the locale's decimal pattern: {}",
                      KQUUTF8FromUTF16(pattern));
        config.style = KQUDecimalFormatStyle::Decimal;
        config.pattern.clear();
        format = cache.formatter(config);
        if (!format) return nullptr;
    }
    MemoSlot& slot = memo.slots[memo.next];
    memo.next = (memo.next + 1) % memo.slots.size();
    slot = {generation, std::u16string(pattern), std::string(currency), minimum, places, apply, grouping,
            suppress,   std::move(format)};
    return slot.format.get();
}

std::u16string nonFinite(double value, bool suppress) {
    if (std::isnan(value)) return u"NaN";
    return value < 0 && !suppress ? u"-∞" : u"∞";
}

std::u16string shortestText(double value, std::chars_format style) {
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, style);
    return std::u16string(buffer, result.ptr);
}

}  // namespace

namespace detail {

std::u16string KQURenderNumber(double value, std::u16string_view pattern, bool applyDecimalPlaces,
                               uint16_t minimumDecimalPlaces, uint16_t decimalPlaces,
                               bool showThousandsSeparator, std::optional<std::string_view> currencyCode,
                               bool suppressMinusSign, KQURenderedNumberFields* fields,
                               bool keepNegativeZero) {
    if (fields) *fields = {};
    if (!std::isfinite(value)) return nonFinite(value, suppressMinusSign);
    if (value == 0 && !keepNegativeZero)
        value = 0.0;  // an exact -0 only; values rounding to zero keep their sign
    const icu::DecimalFormat* format =
        formatterFor(pattern, applyDecimalPlaces, minimumDecimalPlaces, decimalPlaces, showThousandsSeparator,
                     currencyCode.value_or(std::string_view()), suppressMinusSign);
    if (!format) return shortestText(value, std::chars_format::general);
    icu::UnicodeString out;
    if (!fields) {
        format->format(value, out);
        return KQUU16String(out);
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::FieldPositionIterator iterator;
    format->format(value, out, &iterator, status);
    icu::FieldPosition position;
    while (U_SUCCESS(status) && iterator.next(position)) {
        auto begin = static_cast<size_t>(position.getBeginIndex()),
             end = static_cast<size_t>(position.getEndIndex());
        if (position.getField() == UNUM_INTEGER_FIELD) fields->integerBegin = begin, fields->integerEnd = end;
        if (position.getField() == UNUM_FRACTION_FIELD)
            fields->fractionBegin = begin, fields->fractionEnd = end;
    }
    return KQUU16String(out);
}

}  // namespace detail

std::u16string KQUNumberFormatterStringFromDoubleWithFormat(
    double value, int /*valueType*/, std::u16string_view pattern, bool applyDecimalPlaces,
    uint16_t minimumDecimalPlaces, uint16_t decimalPlaces, bool showThousandsSeparator,
    std::optional<std::string_view> currencyCode, bool suppressMinusSign) {
    return detail::KQURenderNumber(value, pattern, applyDecimalPlaces, minimumDecimalPlaces, decimalPlaces,
                                   showThousandsSeparator, currencyCode, suppressMinusSign, nullptr);
}

unsigned KQUNumberOfDecimalPlacesInValue(double value) {
    if (!std::isfinite(value) || value == std::trunc(value)) return 0;
    // "d.ddde-XX": the fraction digits of the mantissa, shifted by the exponent.
    std::u16string text = shortestText(std::fabs(value), std::chars_format::scientific);
    size_t e = text.find(u'e');
    size_t point = text.find(u'.');
    long mantissaDigits = point == std::u16string::npos || point > e ? 0 : static_cast<long>(e - point - 1);
    long exponent = std::stol(std::string(text.begin() + static_cast<long>(e) + 1, text.end()));
    return mantissaDigits > exponent ? static_cast<unsigned>(mantissaDigits - exponent) : 0;
}

unsigned KQUNumberOfDecimalPlacesNecessaryToDisplayFullPrecisionInScientificNotation(double value) {
    if (!std::isfinite(value)) return 0;
    const std::u16string text = shortestText(value, std::chars_format::fixed);
    const std::u16string_view skip = u"0.-";
    size_t first = text.find_first_not_of(skip);
    if (first == std::u16string::npos || first + 1 >= text.size()) return 0;
    size_t last = text.find_last_not_of(skip);
    if (last == std::u16string::npos || last <= first) return 0;
    size_t distance = last - first;
    if (text.find(u'.', first) < last) --distance;
    return static_cast<unsigned>(distance);
}

unsigned KQUNumberOfTrailingZerosInMantissaWhenFormattedAsScientific(double value, unsigned places) {
    if (!std::isfinite(value)) return 0;
    KQUDecimalFormatConfig config;
    config.locale = "en_US";
    config.pattern = u"#E+00";
    config.minimumFractionDigits = config.maximumFractionDigits = static_cast<int>(std::min(places, 999u));
    config.minimumIntegerDigits = 1;
    auto format = KQUDecimalFormatCache::forCurrentThread().formatter(config);
    if (!format) return 0;
    icu::UnicodeString out;
    format->format(value, out);
    const std::u16string text = KQUU16String(out);
    size_t point = text.find(u'.'), e = text.find(u'E');
    if (point == std::u16string::npos || e == std::u16string::npos || point > e) return 0;
    unsigned zeros = 0;
    for (size_t i = e; i > point + 1 && text[i - 1] == u'0'; --i) ++zeros;
    return zeros;
}

std::u16string KQUNumberFormatterStringByUnescapingFormatString(std::u16string_view pattern) {
    std::u16string out;
    out.reserve(pattern.size());
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'\'') {
            out += pattern[i];
        } else if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
            out += u'\'';
            ++i;
        } else {
            for (++i; i < pattern.size(); ++i) {
                if (pattern[i] != u'\'') {
                    out += pattern[i];
                } else if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
                    out += u'\'';
                    ++i;
                } else {
                    break;
                }
            }
        }
    }
    return out;
}

}  // namespace kqu
