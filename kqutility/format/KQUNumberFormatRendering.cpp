// KQUNumberFormat's rendering members: ICU (through KQUNumberRendering) for decimal,
// currency, percentage and scientific values, the library itself for fractions, base-N
// numbers and the custom layouts (space padding, interstitial texts, fraction tokens).
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include <fmt/format.h>
#include <unicode/uchar.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/format/KQUCustomNumberFormatTokens.h"
#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberFormatter.h"
#include "kqutility/format/KQUNumberRendering.h"

namespace kqu {

namespace {

bool isDigit(char16_t c) {
    return u_charType(c) == U_DECIMAL_DIGIT_NUMBER;
}

bool isZeroDigit(char16_t c) {
    return isDigit(c) && u_charDigitValue(c) == 0;
}

void replaceAll(std::u16string& text, char16_t target, std::u16string_view replacement) {
    for (size_t at = text.find(target); at != std::u16string::npos;
         at = text.find(target, at + replacement.size()))
        text.replace(at, 1, replacement);
}

std::u16string ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

const std::u16string& patternOf(const std::optional<std::u16string>& pattern) {
    static const std::u16string kNone;
    return pattern ? *pattern : kNone;
}

// Radix 1 writes one digit per unit: beyond this many the text is no use to anyone.
constexpr uint64_t kMaximumUnaryDigits = 1024;

}  // namespace

std::u16string KQUNumberFormat::generalString(double scaled, uint16_t places, uint16_t minimumPlaces,
                                              bool suppress, bool apply) const {
    return KQUNumberFormatterStringFromDoubleWithFormat(scaled, mValueType, patternOf(mFormatString), apply,
                                                        minimumPlaces, places, mShowThousandsSeparator,
                                                        mCurrencyCode, suppress);
}

std::u16string KQUNumberFormat::stringFromDouble(double value, bool forceSuppressMinusSign) const {
    return stringFromDoubleWithDecimalPlaces(value, mDecimalPlaces, mDecimalPlaces, forceSuppressMinusSign);
}

std::u16string KQUNumberFormat::stringFromDoubleWithMinimumDecimalPlaces(double value, uint16_t minimumPlaces,
                                                                         bool forceSuppressMinusSign) const {
    return stringFromDoubleWithDecimalPlaces(value, mDecimalPlaces, minimumPlaces, forceSuppressMinusSign);
}

std::u16string KQUNumberFormat::chartLabelStringFromDouble(double value, bool forceSuppressMinusSign) const {
    std::u16string text = mDecimalPlaces == kKQUNumberFormatterDecimalPlacesAsManyAsNecessary
                              ? stringFromDoubleWithDecimalPlaces(value, 3, 0, forceSuppressMinusSign)
                              : stringFromDouble(value, forceSuppressMinusSign);
    if (mSuffixString &&
        (mValueType == KQUNumberFormatValueTypeDecimal || mValueType == KQUNumberFormatValueTypeCurrency))
        text += *mSuffixString;
    return text;
}

std::u16string KQUNumberFormat::stringFromString(std::u16string_view text) const {
    if (!mIsTextFormat)
        KQU_OBJECT_ASSERT_FAILURE(
            "Attempt to generate a string from a string with a non-text number format!");
    std::u16string result = patternOf(mFormatString);
    replaceAll(result, KQUCustomNumberFormatTextReplacementCharacter, text);
    return result;
}

std::u16string KQUNumberFormat::stringFromDoubleWithDecimalPlaces(double value, uint16_t places,
                                                                  uint16_t minimumPlaces,
                                                                  bool forceSuppressMinusSign) const {
    if (value == 0) value = 0.0;
    if (!hasValidDecimalPlaces())
        places = minimumPlaces =
            static_cast<uint16_t>(std::min(KQUNumberOfDecimalPlacesInValue(value), 999u));
    const double scaled = value * mScaleFactor;
    const bool suppress = forceSuppressMinusSign || mFormatStringRequiresSuppressionOfMinusSign;

    if (mIsTextFormat)
        return KQUNumberFormatterStringFromDoubleWithFormat(scaled, 0, u"#,##0", true, 2, 2, true,
                                                            std::nullopt, false);
    if (mIsCustom && !mFormatContainsSpecialTokens)
        return KQUNumberFormatterStringByUnescapingFormatString(patternOf(mFormatString));
    if (!mInterstitialStrings.empty() || mMinimumIntegerWidth != 0 || mDecimalWidth != 0)
        return customLayoutString(scaled, places, minimumPlaces, suppress);
    if (mRequiresFractionReplacement) {
        if (mFormatContainsIntegerToken) return customLayoutString(scaled, places, minimumPlaces, suppress);
        std::u16string text = KQUNumberFormatterStringByUnescapingFormatString(patternOf(mFormatString));
        replaceAll(text, u'\u00A4',
                   KQUNumberFormatter::formatterForLocale()->currencySymbolForCurrencyCode(mCurrencyCode));
        replaceAll(text, KQUCustomNumberFormatFractionReplacementCharacter, fractionStringFromDouble(scaled));
        return text;
    }
    if (mValueType == KQUNumberFormatValueTypeFraction) return fractionStringFromDouble(scaled);
    if (mValueType == KQUNumberFormatValueTypeBase) {
        if (auto text = baseStringFromDouble(scaled)) return *text;
        auto fallback = KQUNumberFormat::create({.decimalPlaces = 0, .fractionAccuracy = -3});
        fallback->setUseScientificFormattingAutomatically(true);
        return fallback->stringFromDouble(scaled);
    }
    if (mValueType == KQUNumberFormatValueTypeCurrency && mUseAccountingStyle) {
        auto plain = numberFormatBySettingValueType(KQUNumberFormatValueTypeDecimal)
                         ->numberFormatBySettingNegativeStyle(KQUNumberFormatNegativeStyleParentheses);
        return KQUNumberFormatter::formatterForLocale()->currencySymbolForCurrencyCode(mCurrencyCode) +
               u"\t" + plain->stringFromDouble(scaled);
    }
    if (mUseScientificFormattingAutomatically && !mIsCustom &&
        mValueType == KQUNumberFormatValueTypeDecimal &&
        (std::fabs(scaled) > 999999999999.0 || (std::fabs(scaled) < 1e-07 && scaled != 0)))
        return KQUNumberFormatterStringFromDoubleWithFormat(scaled, 3, u"0E0", true, 0, 5, false,
                                                            std::nullopt, suppress);
    if (mIgnoreDecimalPlacesForZeroValue && !mIsCustom && scaled == 0)
        return generalString(scaled, 0, 0, suppress, true);
    return generalString(scaled, places, minimumPlaces, suppress, !mIsCustom);
}

// The custom layouts work on the text ICU wrote, located through its integer and
// fraction fields, so that grouping (en_IN's too), scale characters in the pattern and
// digits of other scripts cannot shift the positions.
std::u16string KQUNumberFormat::customLayoutString(double scaled, uint16_t places, uint16_t minimumPlaces,
                                                   bool suppress) const {
    const bool separateFraction = mRequiresFractionReplacement && mFormatContainsIntegerToken;
    // trunc keeps the sign of -0.5, so its whole part renders as "-0".
    const double shown = separateFraction ? std::trunc(scaled) : scaled;
    detail::KQURenderedNumberFields fields;
    const std::u16string rendered =
        detail::KQURenderNumber(shown, patternOf(mFormatString), !mIsCustom, minimumPlaces, places,
                                mShowThousandsSeparator, mCurrencyCode, suppress, &fields, separateFraction);
    if (!std::isfinite(shown)) return rendered;
    std::u16string text = rendered;
    const size_t intBegin = std::min(fields.integerBegin, text.size());
    const size_t intEnd = std::clamp(fields.integerEnd, intBegin, text.size());

    if (mMinimumIntegerWidth != 0) {
        // Only the leading zeros that stand for space placeholders become spaces: the
        // digits the value needs and the zero placeholders are kept.
        int64_t digits = 0, leadingZeros = 0;
        bool significantSeen = false;
        for (size_t i = intBegin; i < intEnd; ++i) {
            if (!isDigit(text[i])) continue;
            ++digits;
            if (!significantSeen && isZeroDigit(text[i]))
                ++leadingZeros;
            else
                significantSeen = true;
        }
        const int64_t kept = std::max<int64_t>(digits - leadingZeros, mNonSpaceIntegerDigits);
        int64_t blanks =
            std::min<int64_t>(mMinimumIntegerWidth - kept, std::min(leadingZeros, digits - kept));
        size_t i = intBegin;
        for (; i < intEnd && blanks > 0; ++i) {
            if (isDigit(text[i])) --blanks;
            text[i] = u' ';
        }
        // A separator left between the spaces and the first kept digit goes too.
        if (i != intBegin)
            for (; i < intEnd && !isDigit(text[i]); ++i) text[i] = u' ';
    }
    if (mDecimalWidth > mNonSpaceDecimalDigits && fields.fractionEnd > fields.fractionBegin) {
        const size_t first = std::min(fields.fractionBegin + mNonSpaceDecimalDigits, text.size());
        const size_t last = std::min({fields.fractionBegin + mDecimalWidth, fields.fractionEnd, text.size()});
        for (size_t i = last; i > first && isZeroDigit(text[i - 1]); --i) text[i - 1] = u' ';
    }

    if (!mInterstitialStrings.empty()) {
        const size_t pairs = std::min(mInterstitialStrings.size(), mInterstitialIndexes.size());
        std::vector<std::u16string_view> pieces;  // right to left
        size_t next = 0;
        uint64_t digitsPassed = 0;
        bool flushed = false;
        auto flush = [&] {
            for (; next < pairs; ++next) pieces.push_back(mInterstitialStrings[next]);
            flushed = true;
        };
        for (size_t i = text.size(); i-- > 0;) {
            if (i < intBegin && !flushed) flush();
            if (!flushed && i < intEnd && next < pairs && digitsPassed == mInterstitialIndexes[next])
                pieces.push_back(mInterstitialStrings[next++]);
            pieces.push_back(std::u16string_view(text).substr(i, 1));
            if (i >= intBegin && i < intEnd && isDigit(rendered[i])) ++digitsPassed;
        }
        if (!flushed) flush();
        std::u16string joined;
        for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) joined += *piece;
        text = std::move(joined);
    }

    if (separateFraction) {
        const double a = std::fabs(scaled);
        replaceAll(text, KQUCustomNumberFormatFractionReplacementCharacter,
                   fractionStringFromDouble(a - std::floor(a)));
    }
    return text;
}

std::u16string KQUNumberFormat::fractionStringFromDouble(double x) const {
    if (!std::isfinite(x))
        return KQUNumberFormatterStringFromDoubleWithFormat(x, mValueType, patternOf(mFormatString), false, 0,
                                                            0, mShowThousandsSeparator, mCurrencyCode, false);
    const bool negative = x < 0;
    const double a = std::fabs(x);
    double whole = std::floor(a);
    const double f = a - whole;
    // Accuracies without a denominator range (0, below -3) act as "up to 1 digit".
    int accuracy = mFractionAccuracy;
    if (accuracy == 0 || accuracy < -3) accuracy = -1;
    int64_t low = 2, high = 9;
    if (accuracy == -2)
        high = 99;
    else if (accuracy == -3)
        high = 999;
    else if (accuracy > 0)
        low = high = accuracy;

    int64_t numerator = 0, denominator = 1;
    double best = std::numeric_limits<double>::max();
    for (int64_t d = low; d <= high; ++d) {
        const double dd = static_cast<double>(d);
        const double error = std::fabs(f - std::round(f * dd) / dd);
        if (error < best) {
            best = error;
            numerator = std::llround(f * dd);
            denominator = d;
        }
    }
    if (accuracy < 0) {
        const int64_t divisor = numerator == 0 ? denominator : std::gcd(numerator, denominator);
        numerator /= divisor;
        denominator /= divisor;
    }
    if (numerator == denominator) {
        whole += 1;
        numerator = 0;
    }
    if (whole == 0)
        return numerator == 0 ? u"0"
                              : ascii(fmt::format("{}/{}", negative ? -numerator : numerator, denominator));
    const double signedWhole = negative ? -whole : whole;
    return ascii(numerator == 0 ? fmt::format("{:.0f}", signedWhole)
                                : fmt::format("{:.0f} {}/{}", signedWhole, numerator, denominator));
}

std::optional<std::u16string> KQUNumberFormat::baseStringFromDouble(double x) const {
    const uint64_t b = mBase;
    if (b < 1 || b > 36) {
        KQU_OBJECT_ASSERT_FAILURE("Trying to format a baseFormat cell with an illegal base number");
        return std::nullopt;
    }
    constexpr double kTwo63 = 9223372036854775808.0;
    if (!(x > -kTwo63 && x < kTwo63)) return std::nullopt;  // NaN too
    const int64_t n = std::llrint(x);
    const bool negative = n < 0;
    uint64_t v = negative ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    const bool twosComplement = !mBaseUseMinusSign;

    if (negative && twosComplement) {
        if (b != 2 && b != 8 && b != 16)
            KQU_OBJECT_ASSERT_FAILURE("Trying to display two's-complement for unsupported base {}", b);
        constexpr uint64_t kLimit = 1000000000000000ULL;  // 1e15
        unsigned width = 32;
        uint64_t modulus = 1ULL << 32;
        if (v > (1ULL << 31)) {
            for (width = 33;; ++width) {
                modulus = 1ULL << width;
                if (modulus > kLimit) return std::nullopt;
                if (v <= (1ULL << (width - 1))) break;
            }
        }
        v = modulus - v;
        const unsigned minimumWidth =
            std::max(static_cast<unsigned>(mBasePlaces * std::log2(static_cast<double>(b))), 32u);
        while (width < minimumWidth) {
            if (modulus > kLimit) return std::nullopt;
            v += modulus;
            modulus *= 2;
            ++width;
            if (modulus > kLimit) return std::nullopt;
        }
    }

    std::u16string digits;
    if (b == 1) {
        if (v > kMaximumUnaryDigits) return std::nullopt;
        digits.assign(v == 0 ? 1 : static_cast<size_t>(v), v == 0 ? u'0' : u'1');
    } else {
        uint64_t rest = v;
        do {
            const auto digit = static_cast<char16_t>(rest % b);
            digits.insert(digits.begin(), b == 26      ? char16_t(u'A' + digit)
                                          : digit < 10 ? char16_t(u'0' + digit)
                                                       : char16_t(u'A' + digit - 10));
            rest /= b;
        } while (rest != 0);
    }
    if (mBasePlaces > digits.size()) digits.insert(0, mBasePlaces - digits.size(), b == 26 ? u'A' : u'0');
    if (!negative && twosComplement && v >= (1ULL << 31) && digits.front() != u'0') digits.insert(0, 1, u'0');
    if (negative && !twosComplement) digits.insert(0, 1, u'-');
    return digits;
}

}  // namespace kqu
