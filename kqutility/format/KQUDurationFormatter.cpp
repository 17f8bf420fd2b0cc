#include "kqutility/format/KQUDurationFormatter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include <fmt/format.h>
#include <unicode/dcfmtsym.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/format/KQUDuration.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/format/KQUNumberRendering.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUStringTable.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

namespace {

constexpr int kUnitCount = 6;
constexpr int kMillisecondIndex = 5;
constexpr char16_t kPlaceholders[kUnitCount + 1] = u"wdhmsf";
// Whole milliseconds per unit, so that carry ratios between any two units are exact.
constexpr std::array<int64_t, kUnitCount> kMilliseconds = {604800000, 86400000, 3600000, 60000, 1000, 1};
constexpr std::array<double, kUnitCount> kSeconds = {604800, 86400, 3600, 60, 1, 0.001};

struct EnglishNames {
    const char *longSingular, *longPlural, *mediumSingular, *mediumPlural, *shortName;
};
constexpr std::array<EnglishNames, kUnitCount> kEnglishNames = {{
    {"week", "weeks", "wk", "wks", "w"},
    {"day", "days", "day", "days", "d"},
    {"hour", "hours", "hr", "hrs", "h"},
    {"minute", "minutes", "min", "mins", "m"},
    {"second", "seconds", "sec", "secs", "s"},
    {"millisecond", "milliseconds", nullptr, nullptr, "ms"},
}};

KQUDurationUnits unitAt(int index) {
    return KQUDurationUnits{1} << index;
}
// Index of the largest unit in units; units must not be 0.
int largestIndex(KQUDurationUnits units) {
    return std::countr_zero(units);
}
int smallestIndex(KQUDurationUnits units) {
    return 31 - std::countl_zero(units);
}

int placeholderIndex(char16_t c) {
    for (int i = 0; i < kUnitCount; ++i)
        if (kPlaceholders[i] == c) return i;
    return -1;
}

// The unit names of the library's language, read once. Folded copies serve the
// case-insensitive look-up of typed words.
struct UnitNames {
    std::array<std::u16string, kUnitCount> longSingular, longPlural, mediumSingular, mediumPlural, shortName;
    std::array<std::u16string, kUnitCount> foldedLong[2], foldedMedium[2], foldedShort;
};

std::u16string localized(const char* key) {
    if (!key) return {};
    return KQUUTF16FromUTF8(KQULocalizedString(key, "Localizable")).value_or(u"");
}

std::u16string folded(const std::u16string& text) {
    icu::UnicodeString copy(text.data(), static_cast<int32_t>(text.size()));
    copy.foldCase();
    return std::u16string(copy.getBuffer(), static_cast<size_t>(copy.length()));
}

const UnitNames& unitNames() {
    static const UnitNames names = [] {
        UnitNames n;
        for (int i = 0; i < kUnitCount; ++i) {
            const auto& e = kEnglishNames[i];
            n.longSingular[i] = localized(e.longSingular);
            n.longPlural[i] = localized(e.longPlural);
            n.mediumSingular[i] = localized(e.mediumSingular);
            n.mediumPlural[i] = localized(e.mediumPlural);
            n.shortName[i] = localized(e.shortName);
            n.foldedLong[0][i] = folded(n.longSingular[i]);
            n.foldedLong[1][i] = folded(n.longPlural[i]);
            n.foldedMedium[0][i] = folded(n.mediumSingular[i]);
            n.foldedMedium[1][i] = folded(n.mediumPlural[i]);
            n.foldedShort[i] = folded(n.shortName[i]);
        }
        return n;
    }();
    return names;
}

// The current locale's decimal and grouping separators, looked up again after the
// current locale changes.
struct LocaleSeparators {
    uint64_t generation = 0;
    std::u16string decimal, grouping;
};

const LocaleSeparators& localeSeparators() {
    thread_local LocaleSeparators separators;
    const uint64_t generation = KQULocaleGeneration();
    if (separators.generation != generation) {
        UErrorCode status = U_ZERO_ERROR;
        icu::DecimalFormatSymbols symbols(icu::Locale(KQUGetCurrentLocale().identifier().c_str()), status);
        auto text = [&](icu::DecimalFormatSymbols::ENumberFormatSymbol which, const char16_t* fallback) {
            if (U_FAILURE(status)) return std::u16string(fallback);
            const icu::UnicodeString& s = symbols.getConstSymbol(which);
            return std::u16string(s.getBuffer(), static_cast<size_t>(s.length()));
        };
        separators.decimal = text(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol, u".");
        separators.grouping = text(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol, u",");
        separators.generation = generation;
    }
    return separators;
}

// One placeholder run of a pattern: where its text goes in the literal output, its unit
// index and its length.
struct Field {
    size_t position;
    int index;
    size_t run;
};

// Walks pattern: literal text (quotes resolved) into *literal when given, each placeholder
// run to visit.
template <typename Visit>
void walkPattern(std::u16string_view pattern, std::u16string* literal, Visit visit) {
    auto emit = [&](char16_t c) {
        if (literal) literal->push_back(c);
    };
    size_t i = 0;
    const size_t n = pattern.size();
    while (i < n) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < n && pattern[i + 1] == u'\'') {
                emit(u'\'');
                i += 2;
                continue;
            }
            for (++i; i < n; ++i) {  // a quoted run; unterminated, it reaches the end
                if (pattern[i] != u'\'') {
                    emit(pattern[i]);
                } else if (i + 1 < n && pattern[i + 1] == u'\'') {
                    emit(u'\'');
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            continue;
        }
        const int index = placeholderIndex(c);
        if (index < 0) {
            emit(c);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < n && pattern[end] == c) ++end;
        visit(Field{literal ? literal->size() : 0, index, end - i});
        i = end;
    }
}

// Splits a finite, non-negative t over the shown units, rounds the smallest half up and
// carries upwards between shown units at their true ratio.
std::array<double, kUnitCount> splitInterval(double t, KQUDurationUnits shown) {
    std::array<double, kUnitCount> counts{};
    double rest = t;
    for (int i = 0; i < kMillisecondIndex; ++i) {
        if (!(shown & unitAt(i))) continue;
        const double remainder = std::fmod(rest, kSeconds[i]);  // exact, unlike rest - s * floor(rest / s)
        counts[i] = std::round((rest - remainder) / kSeconds[i]);
        rest = remainder;
    }
    const int smallest = smallestIndex(shown);
    if (smallest == kMillisecondIndex) {
        counts[smallest] = std::round(rest * 1000);
    } else if (std::round(rest / kSeconds[smallest]) >= 1) {
        counts[smallest] += 1;
    }
    int lower = smallest;
    for (int upper = lower - 1; upper >= 0; --upper) {
        if (!(shown & unitAt(upper))) continue;
        const auto limit = static_cast<double>(kMilliseconds[upper] / kMilliseconds[lower]);
        if (counts[lower] < limit) break;
        counts[lower] -= limit;
        counts[upper] += 1;
        lower = upper;
    }
    return counts;
}

std::u16string renderNumber(double value, std::u16string_view pattern) {
    return KQUNumberFormatterStringFromDoubleWithFormat(value, 0, pattern, false, 0, 0, false, std::nullopt,
                                                        false);
}

std::u16string fieldText(double value, int index, size_t run) {
    const bool milliseconds = index == kMillisecondIndex;
    if (run == 1) return renderNumber(value, milliseconds ? u"000" : u"0");
    if (run == 2) return renderNumber(value, milliseconds ? u"000" : u"00");
    std::u16string text = renderNumber(value, u"0");
    if (run == 3) return text + KQTDurationFormatterUnitString(value, unitAt(index), KQUDurationStyleShort);
    return text + u' ' + KQTDurationFormatterUnitString(value, unitAt(index), KQUDurationStyleLong);
}

// ---- Typed text ------------------------------------------------------------------------

bool isWhitespace(char32_t c) {
    return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}
bool isLetter(char32_t c) {
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK)) != 0;
}
bool isDigit(char32_t c) {
    return u_charType(c) == U_DECIMAL_DIGIT_NUMBER;
}

char32_t codePointAt(std::u16string_view text, size_t i, size_t* next) {
    char32_t c;
    size_t at = i;
    U16_NEXT(text.data(), at, text.size(), c);
    *next = at;
    return c;
}

// Length of the separator (decimal or grouping) at text[i], or 0.
size_t separatorAt(std::u16string_view text, size_t i, const LocaleSeparators& separators) {
    for (const auto& separator : {separators.decimal, separators.grouping})
        if (!separator.empty() && text.substr(i).starts_with(separator)) return separator.size();
    return 0;
}

// The common case of a field typed as plain ASCII digits, read without the number parser
// (which would give the same integer): up to 15 digits are exact in a double.
bool asciiInteger(std::u16string_view run, double* value) {
    if (run.empty() || run.size() > 15) return false;
    int64_t n = 0;
    for (char16_t c : run) {
        if (c < u'0' || c > u'9') return false;
        n = n * 10 + (c - u'0');
    }
    *value = static_cast<double>(n);
    return true;
}

enum class Kind { None, Number, Word, Separator, Minus };

Kind kindOf(const KQUDurationToken& token) {
    switch (token.index()) {
        case 0:
            return Kind::Number;
        case 1:
            return Kind::Word;
        case 2:
            return Kind::Separator;
        default:
            return Kind::Minus;
    }
}

size_t digitCount(std::u16string_view text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size();) {
        if (isDigit(codePointAt(text, i, &i))) ++count;
    }
    return count;
}

bool parseWordForm(const std::vector<KQUDurationToken>& tokens, double* interval, KQUDurationUnits* units,
                   int* style) {
    size_t i = 0;
    const bool negative = std::holds_alternative<KQUDurationMinusToken>(tokens[0]);
    if (negative) ++i;
    std::array<double, kUnitCount> counts{};
    KQUDurationUnits typed = 0;
    int firstStyle = -1;
    for (; i + 1 < tokens.size(); i += 2) {
        auto number = std::get_if<KQUDurationNumberToken>(&tokens[i]);
        auto word = std::get_if<KQUDurationWordToken>(&tokens[i + 1]);
        if (!number || !word) return false;
        int wordStyle = 0;
        const KQUDurationUnits unit = KQUDurationFormatterDurationUnitFromString(word->text, &wordStyle);
        if (!unit) return false;
        if (firstStyle < 0) firstStyle = wordStyle;
        counts[largestIndex(unit)] = number->value;
        typed |= unit;
    }
    if (i != tokens.size() || firstStyle < 0) return false;
    double sum = 0;
    for (int u = 0; u < kUnitCount; ++u) sum += counts[u] * kSeconds[u];
    if (interval) *interval = negative ? -sum : sum;
    if (units) *units = typed;
    if (style) *style = firstStyle;
    return true;
}

bool parseCompactForm(const std::vector<KQUDurationToken>& tokens, KQUDurationUnits startUnit,
                      double* interval, KQUDurationUnits* units, int* style) {
    int numbers = 0;
    bool fraction = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        // Words have no place among the numbers of a compact duration ("5 min 1:30").
        if (std::holds_alternative<KQUDurationWordToken>(tokens[i])) return false;
        if (!std::holds_alternative<KQUDurationNumberToken>(tokens[i])) continue;
        ++numbers;
        auto before = i > 0 ? std::get_if<KQUDurationSeparatorToken>(&tokens[i - 1]) : nullptr;
        fraction = before && before->text == u".";
    }
    const int f = fraction ? 1 : 0;
    const int whole = numbers - f;
    if (whole > 5 || whole < 1) return false;
    int index;
    startUnit = KQUDurationFormatterMaxDurationUnitInUnits(startUnit & KQUDurationUnitsAll);
    if (startUnit &&
        numbers <= KQUDurationFormatterMaxValuesForCompactStyleDurationWithMaxUnit(startUnit, false) + 1 -
                       (fraction ? 0 : 1)) {
        index = largestIndex(startUnit);
    } else {
        index = kMillisecondIndex - whole;  // 1 number: seconds ... 5 numbers: weeks
    }

    std::array<double, kUnitCount> counts{};
    double fractionSeconds = 0;
    KQUDurationUnits typed = 0;
    bool negative = false, afterDot = false;
    for (const auto& token : tokens) {
        if (std::holds_alternative<KQUDurationMinusToken>(token)) {
            negative = true;
        } else if (auto separator = std::get_if<KQUDurationSeparatorToken>(&token)) {
            afterDot = separator->text == u".";
        } else if (auto number = std::get_if<KQUDurationNumberToken>(&token)) {
            if (afterDot) {
                // The fraction of a second is its digits over 10^digits: ".5" is 0.5 s,
                // ".05" 0.05 s, ".1234" 0.1234 s.
                fractionSeconds =
                    number->value / std::pow(10.0, static_cast<double>(digitCount(number->text)));
                typed |= KQUDurationUnitMillisecond;
            } else {
                if (index >= kMillisecondIndex) {
                    KQU_ASSERT_FAILURE("Unexpected duration unit!");
                    return false;
                }
                counts[index] = number->value;
                typed |= unitAt(index);
                ++index;
            }
        }
    }
    double sum = fractionSeconds;
    for (int u = 0; u < kMillisecondIndex; ++u) sum += counts[u] * kSeconds[u];
    if (interval) *interval = negative ? -sum : sum;
    if (units) *units = typed;
    if (style) *style = KQUDurationStyleCompact;
    return true;
}

}  // namespace

uint32_t KQUDuration::hash() const {
    if (std::isnan(mTimeInterval)) return 0;
    return static_cast<uint32_t>(std::clamp(mTimeInterval, 0.0, 4294967295.0));
}

size_t KQUDurationFormat::hash() const {
    const std::hash<std::u16string> hasher;
    return (mName ? hasher(*mName) : 0) + hasher(mFormat);
}

std::string KQUDurationFormat::description() const {
    return fmt::format("KQTDurationFormat[{}]: Format String: {} Name: {}", static_cast<const void*>(this),
                       KQUUTF8FromUTF16(mFormat), mName ? KQUUTF8FromUTF16(*mName) : std::string("(null)"));
}

std::u16string KQUDurationFormatterStringFromTimeIntervalWithFormat(double t, std::u16string_view pattern) {
    std::u16string literal;
    if (t < 0) {
        literal.push_back(u'-');
        t = -t;
    }
    std::vector<Field> fields;
    KQUDurationUnits shown = 0;
    walkPattern(pattern, &literal, [&](const Field& field) {
        fields.push_back(field);
        shown |= unitAt(field.index);
    });
    if (fields.size() > kUnitCount) KQU_ASSERT_FAILURE("Too many placeholders in duration format string!");
    if (!shown) {
        KQU_ASSERT_FAILURE("Unknown minimum unit!");
        return literal;
    }

    std::array<double, kUnitCount> counts;
    if (std::isfinite(t)) {
        counts = splitInterval(t, shown);
    } else {
        counts.fill(t);  // NaN and infinity are no count of anything; every field shows them
    }

    std::u16string out;
    size_t copied = 0;
    for (const Field& field : fields) {
        out.append(literal, copied, field.position - copied);
        copied = field.position;
        out += fieldText(counts[field.index], field.index, field.run);
    }
    out.append(literal, copied);
    return out;
}

void KQUDurationFormatterGetFormatInfo(std::u16string_view pattern, KQUDurationUnits* units, int* style) {
    KQUDurationUnits found = 0;
    size_t lastRun = 0;
    walkPattern(pattern, nullptr, [&](const Field& field) {
        found |= unitAt(field.index);
        lastRun = field.run;
    });
    if (units) *units = found;
    if (style)
        *style = lastRun <= 2   ? KQUDurationStyleCompact
                 : lastRun == 3 ? KQUDurationStyleShort
                                : KQUDurationStyleLong;
}

KQUDurationUnits KQUDurationFormatterDurationUnitsInFormat(std::u16string_view pattern) {
    KQUDurationUnits units = 0;
    KQUDurationFormatterGetFormatInfo(pattern, &units, nullptr);
    return units;
}

KQUDurationUnits KQUDurationFormatterMaxDurationUnitInUnits(KQUDurationUnits units) {
    units &= KQUDurationUnitsAll;
    return units ? unitAt(largestIndex(units)) : 0;
}

KQUDurationUnits KQUDurationFormatterMinDurationUnitInUnits(KQUDurationUnits units) {
    units &= KQUDurationUnitsAll;
    return units ? unitAt(smallestIndex(units)) : 0;
}

int KQUDurationFormatterDurationUnitCountInUnits(KQUDurationUnits units) {
    return std::popcount(units & KQUDurationUnitsAll);
}

double KQUDurationFormatterSecondsInDurationUnit(KQUDurationUnits units) {
    units &= KQUDurationUnitsAll;
    if (!units) {
        KQU_ASSERT_FAILURE("Unknown duration unit in KQUDurationFormatterSecondsInDurationUnit!");
        return -1;
    }
    return kSeconds[largestIndex(units)];
}

int KQUDurationFormatterMaxValuesForCompactStyleDurationWithMaxUnit(KQUDurationUnits maxUnit,
                                                                    bool withMilliseconds) {
    int count = 5;
    switch (maxUnit) {
        case KQUDurationUnitDay:
            count = 4;
            break;
        case KQUDurationUnitHour:
            count = 3;
            break;
        case KQUDurationUnitMinute:
            count = 2;
            break;
        case KQUDurationUnitSecond:
            count = 1;
            break;
        case KQUDurationUnitMillisecond:
            count = 0;
            break;
        default:
            break;
    }
    return count + (withMilliseconds ? 1 : 0);
}

KQUDurationUnits KQUDurationFormatterDurationUnitsNecessaryToFullyDisplayDuration(double t,
                                                                                  KQUDurationUnits unit) {
    if (std::popcount(unit) != 1 || unit > KQUDurationUnitMillisecond) {
        KQU_ASSERT_FAILURE("Unknown duration unit!");
        return unit;
    }
    double rest = std::fabs(t);
    if (rest == 0 || !std::isfinite(rest)) return unit;
    KQUDurationUnits result = 0;
    for (int index = largestIndex(unit);; ++index) {
        result |= unitAt(index);
        if (index == kMillisecondIndex) break;
        rest = std::fmod(rest, kSeconds[index]);
        if (rest == 0) break;
    }
    return result;
}

std::u16string KQUDurationFormatterFormatFromDurationUnits(KQUDurationUnits units, int style, bool fill) {
    units &= KQUDurationUnitsAll;
    if (!units) {
        KQU_ASSERT_FAILURE("No units passed to KQUDurationFormatterFormatFromDurationUnits()!");
        return u"";
    }
    if (style != KQUDurationStyleShort && style != KQUDurationStyleLong) style = KQUDurationStyleCompact;
    if (style == KQUDurationStyleCompact) fill = true;

    // Which units the pattern shows: those asked for, those between the largest and the
    // smallest, and with fill those below the largest down to seconds.
    KQUDurationUnits written = 0;
    for (int i = 0; i < kUnitCount; ++i) {
        const bool smallerRemain = (units >> (i + 1)) != 0;
        const bool fills = fill && i != kMillisecondIndex;
        if ((units & unitAt(i)) || (written && (smallerRemain || fills))) written |= unitAt(i);
    }
    // Minutes and seconds are padded when the pattern shows more than one unit, so that
    // hours alone in compact style give "h:mm:ss", not "h:m:s".
    const bool several = std::popcount(written) > 1;
    std::u16string out;
    for (int i = 0; i < kUnitCount; ++i) {
        if (!(written & unitAt(i))) continue;
        const char16_t c = kPlaceholders[i];
        if (style == KQUDurationStyleCompact) {
            if (i == 3 && several)
                out += u"mm:";
            else if (i == 4)
                out += several ? u"ss." : u"s:";
            else if (i == kMillisecondIndex)
                out += u"f.";
            else
                out += std::u16string{c, u':'};
        } else {
            out.append(style == KQUDurationStyleShort ? 3 : 4, c);
            out += u' ';
        }
    }
    out.pop_back();
    return out;
}

KQUDurationUnits KQUDurationFormatterDurationUnitFromString(std::u16string_view word, int* style) {
    const UnitNames& names = unitNames();
    const std::u16string key = folded(std::u16string(word));
    if (key.empty()) return 0;
    // Long names first, so that a long name never loses to an equal shorter one.
    for (int form = 0; form < 2; ++form)
        for (int i = 0; i < kUnitCount; ++i)
            if (names.foldedLong[form][i] == key) {
                if (style) *style = KQUDurationStyleLong;
                return unitAt(i);
            }
    for (int i = 0; i < kUnitCount; ++i)
        if (names.foldedMedium[0][i] == key || names.foldedMedium[1][i] == key ||
            names.foldedShort[i] == key) {
            if (style) *style = KQUDurationStyleShort;
            return unitAt(i);
        }
    return 0;
}

std::u16string KQTDurationFormatterUnitString(double value, KQUDurationUnits unit, int style) {
    if (std::popcount(unit) != 1 || unit > KQUDurationUnitMillisecond) {
        KQU_ASSERT_FAILURE("Unknown unit!");
        return u"";
    }
    const UnitNames& names = unitNames();
    const int i = largestIndex(unit);
    if (style == KQUDurationStyleShort) return names.shortName[i];
    if (style == KQUDurationStyleLong) return value == 1.0 ? names.longSingular[i] : names.longPlural[i];
    return u"";
}

std::optional<std::vector<KQUDurationToken>> KQUDurationFormatterTokensFromString(std::u16string_view text,
                                                                                  bool* compact) {
    // Trim white space and line ends.
    size_t begin = 0, end = text.size();
    while (begin < end) {
        size_t next;
        if (!isWhitespace(codePointAt(text, begin, &next))) break;
        begin = next;
    }
    while (end > begin) {
        size_t at = end;
        char32_t c;
        U16_PREV(text.data(), begin, at, c);
        if (!isWhitespace(c)) break;
        end = at;
    }
    text = text.substr(0, end);

    const LocaleSeparators& separators = localeSeparators();
    std::vector<KQUDurationToken> tokens;
    bool colonSeen = false, dotSeen = false, minusSeen = false, fractionalSeen = false;
    auto lastKind = [&] { return tokens.empty() ? Kind::None : kindOf(tokens.back()); };
    auto skipWhitespace = [&](size_t& i) {
        while (i < text.size()) {
            size_t next;
            if (!isWhitespace(codePointAt(text, i, &next))) break;
            i = next;
        }
    };

    size_t i = begin;
    while (i < text.size()) {
        size_t next;
        const char32_t c = codePointAt(text, i, &next);
        if (isLetter(c)) {
            const Kind last = lastKind();
            if (colonSeen || dotSeen || last == Kind::None || last == Kind::Word || last == Kind::Minus)
                return std::nullopt;
            size_t stop = next;
            while (stop < text.size()) {
                size_t after;
                if (!isLetter(codePointAt(text, stop, &after))) break;
                stop = after;
            }
            tokens.emplace_back(KQUDurationWordToken{std::u16string(text.substr(i, stop - i))});
            i = stop;
        } else if (isDigit(c) || (!colonSeen && separatorAt(text, i, separators))) {
            if (lastKind() == Kind::Number) return std::nullopt;
            // After a colon only digits belong to a number: "1:02.5" ends in a fraction
            // of a second, not in the number 2.5.
            size_t stop = i;
            while (stop < text.size()) {
                size_t after;
                if (isDigit(codePointAt(text, stop, &after))) {
                    stop = after;
                } else if (const size_t length = colonSeen ? 0 : separatorAt(text, stop, separators)) {
                    stop += length;
                } else {
                    break;
                }
            }
            std::u16string run(text.substr(i, stop - i));
            double value = 0;
            if (!asciiInteger(run, &value)) {
                int valueType = 0;
                if (!KQUGetNumberValueAndTypeFromString(run, nullptr, &value, &valueType, nullptr, nullptr))
                    return std::nullopt;
            }
            if (value != std::trunc(value)) fractionalSeen = true;
            tokens.emplace_back(KQUDurationNumberToken{value, std::move(run)});
            i = stop;
        } else if (c == u'-') {
            if (!tokens.empty()) return std::nullopt;
            tokens.emplace_back(KQUDurationMinusToken{});
            minusSeen = true;
            i = next;
        } else {
            return std::nullopt;
        }

        skipWhitespace(i);
        size_t stop = i;
        while (stop < text.size() && (text[stop] == u':' || text[stop] == u'.')) ++stop;
        if (stop > i) {
            if (tokens.empty() || dotSeen) return std::nullopt;
            std::u16string run(text.substr(i, stop - i));
            (run == u"." ? dotSeen : colonSeen) = true;
            tokens.emplace_back(KQUDurationSeparatorToken{std::move(run)});
            i = stop;
            skipWhitespace(i);
        }
    }

    if (lastKind() == Kind::Separator) return std::nullopt;
    const bool isCompact = colonSeen || dotSeen;
    if (colonSeen && fractionalSeen) return std::nullopt;
    if (!isCompact && tokens.size() % 2 != (minusSeen ? 1u : 0u)) return std::nullopt;
    if (dotSeen && !colonSeen) return std::nullopt;
    if (minusSeen && tokens.size() < 2) return std::nullopt;
    if (compact) *compact = isCompact;
    return tokens;
}

bool KQUDurationFormatterTimeIntervalFromStringWithCompactStyleStartUnit(std::u16string_view text,
                                                                         double* interval,
                                                                         KQUDurationUnits* units, int* style,
                                                                         KQUDurationUnits startUnit) {
    bool compact = false;
    auto tokens = KQUDurationFormatterTokensFromString(text, &compact);
    if (!tokens || tokens->empty()) return false;
    return compact ? parseCompactForm(*tokens, startUnit, interval, units, style)
                   : parseWordForm(*tokens, interval, units, style);
}

bool KQUDurationFormatterTimeIntervalFromString(std::u16string_view text, double* interval,
                                                KQUDurationUnits* units, int* style) {
    return KQUDurationFormatterTimeIntervalFromStringWithCompactStyleStartUnit(text, interval, units, style,
                                                                               0);
}

}  // namespace kqu
