// Proleptic Gregorian calendar arithmetic on day counts: the date of a day since
// 1970-01-01 and back, exact for any year an int64_t day count can hold. Used wherever
// dates are read or written without ICU (property lists, ISO 8601 texts, GMT
// components).
//
// Plain constexpr functions; thread-safe.
#pragma once

#include <cstdint>

namespace kqu {

struct KQUCivilDate {
    int64_t year;
    int month;  // 1 to 12
    int day;    // 1 to 31
};

// Days since 1970-01-01 of year-month-day; month must be 1 to 12, a day past the month's
// end carries into the next.
constexpr int64_t KQUDaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr KQUCivilDate KQUCivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month, static_cast<int>(doy - (153 * mp + 2) / 5 + 1)};
}

static_assert(KQUDaysFromCivil(1970, 1, 1) == 0 && KQUDaysFromCivil(2001, 1, 1) == 11323);
static_assert(KQUCivilFromDays(-1).year == 1969 && KQUCivilFromDays(-1).month == 12 &&
              KQUCivilFromDays(-1).day == 31);

}  // namespace kqu
