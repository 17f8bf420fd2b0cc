#include "kqutility/format/KQUNumberOrDateOrDurationFormatter.h"

#include <cmath>

#include "kqutility/format/KQUDateFormatter.h"
#include "kqutility/format/KQUDateParser.h"
#include "kqutility/format/KQUDuration.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/format/KQUNumberRendering.h"

namespace kqu {

namespace {

constexpr int kDateStyleShort = 1;
constexpr int kTimeStyleNone = 0;
constexpr int kTimeStyleMedium = 2;

std::u16string stringFromDate(KQUDate date) {
    // Seconds into the GMT day; the reference date is a midnight GMT. Only whole hours,
    // minutes and seconds count, so half a second past midnight is still midnight.
    const double t = date.timeIntervalSinceReferenceDate;
    const double intoDay = t - 86400 * std::floor(t / 86400);
    const int timeStyle = intoDay < 1 ? kTimeStyleNone : kTimeStyleMedium;
    const std::u16string pattern =
        KQUDateFormatterCopyFormatStringForDateAndTimeStyles(kDateStyleShort, timeStyle);
    return KQUDateFormatterStringFromDateWithFormat(date, pattern);
}

std::u16string stringFromDuration(double interval) {
    const KQUDurationUnits units =
        KQUDurationFormatterDurationUnitsNecessaryToFullyDisplayDuration(interval, KQUDurationUnitDay);
    const std::u16string pattern =
        KQUDurationFormatterFormatFromDurationUnits(units, KQUDurationStyleShort, false);
    return KQUDurationFormatterStringFromTimeIntervalWithFormat(interval, pattern);
}

}  // namespace

std::u16string KQUNumberOrDateOrDurationFormatter::stringFromNumber(double value) {
    // "#.#########" with at least one integer digit, half up, no grouping.
    auto render = [](double v) {
        return KQUNumberFormatterStringFromDoubleWithFormat(v, 0, u"#.#########", true, 0, 9, false,
                                                            std::nullopt, false);
    };
    if (value < 0) {
        // A negative that rounds to zero is shown as zero, as -0 is.
        std::u16string magnitude = render(-value);
        if (magnitude == render(0.0)) return magnitude;
    }
    return render(value);
}

std::optional<std::u16string> KQUNumberOrDateOrDurationFormatter::stringForObjectValue(
    const KQUValue& value) const {
    if (value.isNumber()) return stringFromNumber(value.doubleValue());
    if (const KQUDate* date = value.date()) return stringFromDate(*date);
    if (auto duration = value.object<KQUDuration>()) return stringFromDuration(duration->timeInterval());
    return std::nullopt;
}

std::optional<KQUNumberOrDateOrDurationFormatter::Reading> KQUNumberOrDateOrDurationFormatter::read(
    std::u16string_view text) const {
    Reading reading;
    if (auto date = KQUCreateDateFromString(text, nullptr, &reading.datePattern)) {
        reading.kind = Kind::Date;
        reading.value = *date;
        return reading;
    }
    double number = 0;
    if (KQUGetNumberValueAndTypeFromString(text, nullptr, &number, &reading.numberValueType, nullptr,
                                           nullptr)) {
        reading.kind = Kind::Number;
        reading.value = number;
        return reading;
    }
    double interval = 0;
    if (KQUDurationFormatterTimeIntervalFromString(text, &interval, &reading.durationUnits,
                                                   &reading.durationStyle)) {
        reading.kind = Kind::Duration;
        reading.value =
            KQUValue(std::shared_ptr<const KQUObject>(KQUDuration::durationWithTimeInterval(interval)));
        return reading;
    }
    return std::nullopt;
}

bool KQUNumberOrDateOrDurationFormatter::getObjectValue(KQUValue* value, std::u16string_view text,
                                                        std::string* errorDescription) const {
    auto reading = read(text);
    if (!reading) {
        if (errorDescription) *errorDescription = KQUNumberOrDateOrDurationFormatterParseError;
        return false;
    }
    if (value) *value = std::move(reading->value);
    return true;
}

}  // namespace kqu
