#include "kqutility/format/KQUNumberFormat.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/format/KQUCustomNumberFormatTokens.h"
#include "kqutility/format/KQUNumberFormatter.h"

namespace kqu {

namespace {

uint32_t hashText(const std::optional<std::u16string>& text) {
    if (!text) return 0;
    uint32_t h = 2166136261u;  // FNV-1a over the UTF-16 units
    for (char16_t c : *text) h = (h ^ c) * 16777619u;
    return h;
}

// The integer part of the scale for the hash: defined for every double (NaN and the
// infinities give 0, values beyond 32 bits saturate).
uint32_t hashScale(double scale) {
    if (!std::isfinite(scale)) return 0;
    if (scale >= 2147483647.0) return static_cast<uint32_t>(INT32_MAX);
    if (scale <= -2147483648.0) return static_cast<uint32_t>(INT32_MIN);
    return static_cast<uint32_t>(static_cast<int32_t>(scale));
}

bool isSpaceCharacter(char16_t c) {
    return c == KQUCustomNumberFormatSpaceFlexibleCharacter || c == KQUCustomNumberFormatSpaceWideCharacter ||
           c == KQUCustomNumberFormatSpaceNormalCharacter || c == KQUCustomNumberFormatSpaceNarrowCharacter;
}

bool isDigitRunCharacter(char16_t c) {
    return std::u16string_view(u"+-,#@0123456789").find(c) != std::u16string_view::npos;
}

bool isPlaceholder(char16_t c) {
    return std::u16string_view(u"#@0123456789").find(c) != std::u16string_view::npos;
}

int64_t atLeastZero(int64_t n) {
    return n < 0 ? 0 : n;
}

const char* yesNo(bool b) {
    return b ? "YES" : "NO";
}

}  // namespace

std::string KQUNumberFormatterStringFromValueType(int valueType) {
    static const char* const kNames[] = {"decimal", "currency", "percentage", "scientific", "fraction", "base"};
    return valueType >= 0 && valueType <= 5 ? kNames[valueType] : "unknown";
}

std::string KQUNumberFormatterStringFromNegativeStyle(int negativeStyle) {
    static const char* const kNames[] = {"minus", "red only", "parentheses", "red and parentheses", "none"};
    return negativeStyle >= 0 && negativeStyle <= 4 ? kNames[negativeStyle] : "unknown";
}

std::string KQUNumberFormatterStringFromFractionAccuracy(int fractionAccuracy) {
    switch (fractionAccuracy) {
        case -1: return "up to 1 digit";
        case -2: return "up to 2 digits";
        case -3: return "up to 3 digits";
        default: return fmt::format("1/{}", fractionAccuracy);
    }
}

KQUNumberFormat::KQUNumberFormat(KQUNumberFormatSettings s)
    : mValueType(s.valueType),
      mDecimalPlaces(s.decimalPlaces),
      mUseAccountingStyle(s.useAccountingStyle),
      mNegativeStyle(s.negativeStyle),
      mShowThousandsSeparator(s.showThousandsSeparator),
      mFractionAccuracy(s.fractionAccuracy),
      mSuffixString(std::move(s.suffixString)),
      mBase(s.base),
      mBasePlaces(s.basePlaces),
      mBaseUseMinusSign(s.baseUseMinusSign),
      mIsCustom(s.isCustom),
      mScaleFactor(s.scaleFactor),
      mInterstitialStrings(std::move(s.interstitialStrings)),
      mInterstitialIndexes(std::move(s.interstitialStringInsertionIndexes)),
      mIndexFromRightOfLastDigitPlaceholder(s.indexFromRightOfLastDigitPlaceholder),
      mIsTextFormat(s.isTextFormat),
      mMinimumIntegerWidth(s.minimumIntegerWidth),
      mDecimalWidth(s.decimalWidth),
      mNonSpaceIntegerDigits(s.numberOfNonSpaceIntegerPlaceholderDigits),
      mNonSpaceDecimalDigits(s.numberOfNonSpaceDecimalPlaceholderDigits),
      mFormatName(std::move(s.formatName)) {
    std::sort(mInterstitialIndexes.begin(), mInterstitialIndexes.end());
    mInterstitialIndexes.erase(std::unique(mInterstitialIndexes.begin(), mInterstitialIndexes.end()),
                               mInterstitialIndexes.end());
    if (mIsCustom) {
        KQU_ASSERT(s.formatString.has_value(), "Passed a nil format string while creating a custom format!");
        mFormatString = std::move(s.formatString);
        for (char16_t c : mFormatString.value_or(u"")) {
            if (c == u'\t') mFormatStringContainsTabCharacter = true;
            if (c == KQUCustomNumberFormatFractionReplacementCharacter) mRequiresFractionReplacement = true;
        }
    } else {
        int patternStyle = mNegativeStyle;
        if (mValueType == KQUNumberFormatValueTypeScientific) patternStyle = KQUNumberFormatNegativeStyleMinus;
        else if (mUseAccountingStyle && mValueType == KQUNumberFormatValueTypeCurrency)
            patternStyle = KQUNumberFormatNegativeStyleParentheses;
        // An empty pattern is no pattern: the transformation would make ";-" of it.
        if (s.formatString && !s.formatString->empty())
            mFormatString = KQUNumberFormatter::formatStringTransformedForNegativeStyle(*s.formatString, patternStyle);
        else
            mFormatString = KQUNumberFormatter::formatterForLocale()->defaultFormatStringForValueType(mValueType, patternStyle);
        mFormatStringRequiresSuppressionOfMinusSign = mNegativeStyle == KQUNumberFormatNegativeStyleRed;
    }
    mCurrencyCode = s.currencyCode ? std::move(*s.currencyCode) : KQUNumberFormatter::currentLocaleCurrencyCode();
    if (!mIsCustom) return;
    auto tokens = customNumberFormatTokens();
    if (!tokens || tokens->empty() || (tokens->size() == 1 && !KQUIsSpecialCustomNumberFormatToken(tokens->front())))
        return;
    mFormatContainsSpecialTokens = true;
    for (const auto& token : *tokens) {
        if (KQUIsSpecialCustomNumberFormatTokenOfType(token, KQUCustomNumberFormatTokenTypeInteger)) {
            mFormatContainsIntegerToken = true;
        } else if (KQUIsSpecialCustomNumberFormatTokenOfType(token, KQUCustomNumberFormatTokenTypeDecimal)) {
            auto n = static_cast<uint8_t>(KQUNumberOfDigitsInCustomNumberFormatDecimalToken(token));
            mTotalNumberOfDecimalPlaceholders = static_cast<uint8_t>(mTotalNumberOfDecimalPlaceholders + n);
            if (KQUDigitPlaceholderStringInDigitToken(token) == u"#") mNumberOfHashDecimalPlaceholders = n;
        }
    }
}

KQUNumberFormat::Ptr KQUNumberFormat::create(KQUNumberFormatSettings settings) {
    return std::make_shared<KQUNumberFormat>(std::move(settings));
}

KQUNumberFormat::Ptr KQUNumberFormat::createCustom(KQUNumberFormatSettings settings) {
    settings.valueType = KQUNumberFormatValueTypeDecimal;
    settings.decimalPlaces = 0;
    settings.useAccountingStyle = false;
    settings.negativeStyle = KQUNumberFormatNegativeStyleMinus;
    settings.isCustom = true;
    return create(std::move(settings));
}

KQUNumberFormatSettings KQUNumberFormat::settings() const {
    KQUNumberFormatSettings s;
    s.valueType = mValueType;
    s.formatString = mFormatString;
    s.decimalPlaces = mDecimalPlaces;
    s.currencyCode = mCurrencyCode;
    s.useAccountingStyle = mUseAccountingStyle;
    s.negativeStyle = mNegativeStyle;
    s.showThousandsSeparator = mShowThousandsSeparator;
    s.fractionAccuracy = mFractionAccuracy;
    s.suffixString = mSuffixString;
    s.scaleFactor = mScaleFactor;
    s.base = mBase;
    s.basePlaces = mBasePlaces;
    s.baseUseMinusSign = mBaseUseMinusSign;
    s.isCustom = mIsCustom;
    s.interstitialStrings = mInterstitialStrings;
    s.interstitialStringInsertionIndexes = mInterstitialIndexes;
    s.indexFromRightOfLastDigitPlaceholder = mIndexFromRightOfLastDigitPlaceholder;
    s.minimumIntegerWidth = mMinimumIntegerWidth;
    s.decimalWidth = mDecimalWidth;
    s.numberOfNonSpaceIntegerPlaceholderDigits = mNonSpaceIntegerDigits;
    s.numberOfNonSpaceDecimalPlaceholderDigits = mNonSpaceDecimalDigits;
    s.isTextFormat = mIsTextFormat;
    s.formatName = mFormatName;
    return s;
}

std::shared_ptr<KQUDataFormat> KQUNumberFormat::copyFormat() const {
    return std::make_shared<KQUNumberFormat>(settings());
}

uint16_t KQUNumberFormat::decimalPlaces() const {
    return mDecimalPlaces == kKQUNumberFormatInvalidDecimalPlaces ? 0 : mDecimalPlaces;
}

bool KQUNumberFormat::usesTabs() const {
    return mFormatStringContainsTabCharacter ||
           (mValueType == KQUNumberFormatValueTypeCurrency && mUseAccountingStyle);
}

bool KQUNumberFormat::requiresParensToBeReplacedWithSpacesForDouble(double value) const {
    if (value < 0 || std::isnan(value)) return false;
    return mNegativeStyle == KQUNumberFormatNegativeStyleParentheses ||
           mNegativeStyle == KQUNumberFormatNegativeStyleRedAndParentheses;
}

bool KQUNumberFormat::customFormatShouldAutoInsertPercentSymbol() const {
    if (!mIsCustom) KQU_OBJECT_ASSERT_FAILURE("not a custom format!");
    if (mScaleFactor == 100.0) return true;
    for (const auto& token : customNumberFormatTokens().value_or(std::vector<std::u16string>{}))
        if (KQUIsSpecialCustomNumberFormatTokenOfType(token, KQUCustomNumberFormatTokenTypeScale) &&
            KQUScaleCharacterInCustomNumberFormatScaleToken(token) == u'%')
            return true;
    return false;
}

// Derivations: every stored setting carried over except the custom layout facts (the
// editor recomputes them), with one setting replaced.
KQUNumberFormatting::Ref KQUNumberFormat::derived(KQUNumberFormatSettings s) const {
    s.interstitialStrings.clear();
    s.interstitialStringInsertionIndexes.clear();
    s.indexFromRightOfLastDigitPlaceholder = 0;
    s.minimumIntegerWidth = s.decimalWidth = 0;
    s.numberOfNonSpaceIntegerPlaceholderDigits = s.numberOfNonSpaceDecimalPlaceholderDigits = 0;
    s.isTextFormat = false;
    return create(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingDecimalPlaces(uint16_t places) const {
    auto s = settings();
    s.decimalPlaces = places;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingDecimalPlacesAndNegativeStyle(uint16_t places,
                                                                                            int negativeStyle) const {
    auto s = settings();
    s.decimalPlaces = places;
    s.negativeStyle = negativeStyle;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingUseAccountingStyle(bool accounting) const {
    auto s = settings();
    s.useAccountingStyle = accounting;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingFractionAccuracy(int accuracy) const {
    auto s = settings();
    s.fractionAccuracy = accuracy;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingShowThousandsSeparator(bool show) const {
    auto s = settings();
    s.showThousandsSeparator = show;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingNegativeStyle(int negativeStyle) const {
    auto s = settings();
    s.negativeStyle = negativeStyle;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingSuffixString(std::optional<std::u16string> suffix) const {
    auto s = settings();
    s.suffixString = std::move(suffix);
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingCurrencyCode(std::optional<std::string> code) const {
    auto s = settings();
    s.currencyCode = std::move(code);
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingBase(uint16_t base) const {
    auto s = settings();
    s.base = base;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingBasePlaces(uint16_t places) const {
    auto s = settings();
    s.basePlaces = places;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingBaseRepresentNegativeWithMinus(bool minus) const {
    auto s = settings();
    s.baseUseMinusSign = minus;
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatByIncrementingDecimalPlaces(int16_t delta) const {
    int current = decimalPlaces();
    int places = delta >= 0 ? current + delta : (-delta <= current ? current + delta : 0);
    places = std::min<int>(places, kKQUNumberFormatUserMaxNumberOfDecimalPlaces);
    auto s = settings();
    s.decimalPlaces = static_cast<uint16_t>(places);
    s.suffixString.reset();
    s.scaleFactor = 1.0;
    s.isCustom = false;
    s.formatName.reset();
    return derived(std::move(s));
}

KQUNumberFormatting::Ref KQUNumberFormat::numberFormatBySettingValueType(int valueType) const {
    if (valueType == mValueType &&
        (valueType == KQUNumberFormatValueTypeCurrency || valueType == KQUNumberFormatValueTypePercentage))
        return std::make_shared<KQUNumberFormat>(settings());
    auto s = settings();
    s.valueType = valueType;
    if (valueType == KQUNumberFormatValueTypeCurrency) {
        s.decimalPlaces =
            KQUNumberFormatter::defaultDecimalPlacesForCurrencyCode(KQUNumberFormatter::currentLocaleCurrencyCode());
        s.currencyCode.reset();
    }
    if (valueType == KQUNumberFormatValueTypeCurrency || valueType == KQUNumberFormatValueTypePercentage)
        s.showThousandsSeparator = true;
    s.formatString.reset();
    s.scaleFactor = 1.0;
    s.isCustom = false;
    s.formatName.reset();
    return derived(std::move(s));
}

bool KQUNumberFormat::isEqual(const KQUNumberFormatting& otherFormat) const {
    auto* other = dynamic_cast<const KQUNumberFormat*>(&otherFormat);
    if (!other) return false;
    return mValueType == other->mValueType && mFormatString == other->mFormatString &&
           mDecimalPlaces == other->mDecimalPlaces && mCurrencyCode == other->mCurrencyCode &&
           mUseAccountingStyle == other->mUseAccountingStyle && mNegativeStyle == other->mNegativeStyle &&
           mShowThousandsSeparator == other->mShowThousandsSeparator &&
           mFractionAccuracy == other->mFractionAccuracy &&
           mFormatStringRequiresSuppressionOfMinusSign == other->mFormatStringRequiresSuppressionOfMinusSign &&
           mIsCustom == other->mIsCustom && mScaleFactor == other->mScaleFactor &&
           mFormatStringContainsTabCharacter == other->mFormatStringContainsTabCharacter &&
           mRequiresFractionReplacement == other->mRequiresFractionReplacement &&
           mInterstitialStrings == other->mInterstitialStrings && mInterstitialIndexes == other->mInterstitialIndexes &&
           mIndexFromRightOfLastDigitPlaceholder == other->mIndexFromRightOfLastDigitPlaceholder &&
           mIsTextFormat == other->mIsTextFormat && mMinimumIntegerWidth == other->mMinimumIntegerWidth &&
           mDecimalWidth == other->mDecimalWidth && mNonSpaceIntegerDigits == other->mNonSpaceIntegerDigits &&
           mNonSpaceDecimalDigits == other->mNonSpaceDecimalDigits && mFormatName == other->mFormatName &&
           mBase == other->mBase && mBasePlaces == other->mBasePlaces &&
           mBaseUseMinusSign == other->mBaseUseMinusSign && mSuffixString == other->mSuffixString;
}

uint32_t KQUNumberFormat::hash() const {
    uint32_t h = static_cast<uint32_t>(mValueType);
    h <<= (hashText(mFormatString) + mDecimalPlaces + 24u) % 32u;
    uint32_t s = hashText(std::u16string(mCurrencyCode.begin(), mCurrencyCode.end()));
    s += mUseAccountingStyle + static_cast<uint32_t>(mNegativeStyle) + mShowThousandsSeparator +
         static_cast<uint32_t>(mFractionAccuracy) + mFormatStringRequiresSuppressionOfMinusSign + mIsCustom +
         hashScale(mScaleFactor) + mFormatStringContainsTabCharacter + mRequiresFractionReplacement;
    for (const auto& text : mInterstitialStrings) s += hashText(text);
    for (uint64_t index : mInterstitialIndexes) s = s * 31u + static_cast<uint32_t>(index);
    s += mIndexFromRightOfLastDigitPlaceholder + mIsTextFormat + mMinimumIntegerWidth + mDecimalWidth +
         mNonSpaceIntegerDigits + mNonSpaceDecimalDigits + hashText(mFormatName) + hashText(mSuffixString);
    h <<= (s + 16u) % 32u;
    return h;
}

bool KQUNumberFormat::isEquivalent(const KQUNumberFormatting& otherFormat) const {
    auto* other = dynamic_cast<const KQUNumberFormat*>(&otherFormat);
    if (!other || other->mValueType != mValueType) return false;
    switch (mValueType) {
        case KQUNumberFormatValueTypeDecimal:
        case KQUNumberFormatValueTypePercentage:
            return mDecimalPlaces == other->mDecimalPlaces && mNegativeStyle == other->mNegativeStyle &&
                   mShowThousandsSeparator == other->mShowThousandsSeparator;
        case KQUNumberFormatValueTypeCurrency:
            return mDecimalPlaces == other->mDecimalPlaces && mCurrencyCode == other->mCurrencyCode &&
                   mNegativeStyle == other->mNegativeStyle &&
                   mShowThousandsSeparator == other->mShowThousandsSeparator &&
                   mUseAccountingStyle == other->mUseAccountingStyle;
        case KQUNumberFormatValueTypeScientific: return mDecimalPlaces == other->mDecimalPlaces;
        case KQUNumberFormatValueTypeFraction: return mFractionAccuracy == other->mFractionAccuracy;
        default: return isEqual(otherFormat);
    }
}

std::string KQUNumberFormat::description() const {
    auto text = [](const std::optional<std::u16string>& s) {
        return s ? KQUUTF8FromUTF16(*s) : std::string("(null)");
    };
    return fmt::format(
        "KQUNumberFormat[{}]\nCustom Format: {}\nName: {}\nValue Type: {}\nFormat String: {}\nDecimal Places: {}\n"
        "Currency Code: {}\nUse Accounting Style: {}\nNegative Style: {}\nShow Thousands Separator: {}\n"
        "Fraction Accuracy: {}\n",
        static_cast<const void*>(this), yesNo(mIsCustom), text(mFormatName),
        KQUNumberFormatterStringFromValueType(mValueType), text(mFormatString), decimalPlaces(), mCurrencyCode,
        yesNo(mUseAccountingStyle), KQUNumberFormatterStringFromNegativeStyle(mNegativeStyle),
        yesNo(mShowThousandsSeparator), KQUNumberFormatterStringFromFractionAccuracy(mFractionAccuracy));
}

std::optional<std::vector<std::u16string>> KQUNumberFormat::customNumberFormatTokens() const {
    if (!mIsCustom) return std::nullopt;
    std::vector<std::u16string> tokens;
    const std::u16string pattern = mFormatString.value_or(u"");
    auto token = [](int type, std::u16string_view content) { return KQUCustomNumberFormatTokenString(type, content); };

    if (mIsTextFormat) {
        std::u16string run;
        for (char16_t c : pattern) {
            if (c != KQUCustomNumberFormatTextReplacementCharacter) {
                run += c;
                continue;
            }
            if (!run.empty()) tokens.push_back(std::exchange(run, {}));
            tokens.push_back(token(KQUCustomNumberFormatTokenTypeText, u"@"));
        }
        if (!run.empty()) tokens.push_back(run);
        return tokens;
    }

    const size_t pairs = std::min(mInterstitialStrings.size(), mInterstitialIndexes.size());
    size_t nextInterstitial = 0;
    bool afterDecimalPoint = false, scaleTokenSeen = false;
    for (size_t i = 0; i < pattern.size();) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
                tokens.emplace_back(u"'");
                i += 2;
                continue;
            }
            std::u16string literal;
            size_t j = i + 1;
            for (; j < pattern.size(); ++j) {
                if (pattern[j] != u'\'') {
                    literal += pattern[j];
                } else if (j + 1 < pattern.size() && pattern[j + 1] == u'\'') {
                    literal += u'\'';
                    ++j;
                } else {
                    break;
                }
            }
            if (!literal.empty()) tokens.push_back(literal);
            i = j + 1;
        } else if (isSpaceCharacter(c)) {
            tokens.push_back(token(KQUCustomNumberFormatTokenTypeSpace, std::u16string(1, c)));
            ++i;
        } else if (c == KQUCustomNumberFormatFractionReplacementCharacter) {
            auto accuracy = KQUUTF16FromUTF8(std::to_string(mFractionAccuracy)).value_or(u"");
            tokens.push_back(token(KQUCustomNumberFormatTokenTypeFraction, accuracy));
            ++i;
        } else if (c == u'\u00A4') {
            tokens.push_back(token(KQUCustomNumberFormatTokenTypeCurrency,
                                   std::u16string(mCurrencyCode.begin(), mCurrencyCode.end())));
            ++i;
        } else if (std::u16string_view(u"CKMBT%").find(c) != std::u16string_view::npos) {
            tokens.push_back(token(KQUCustomNumberFormatTokenTypeScale, std::u16string(2, c)));
            scaleTokenSeen = true;
            ++i;
        } else if (c == u'E') {
            tokens.push_back(token(KQUCustomNumberFormatTokenTypeScale, u"E"));
            scaleTokenSeen = true;
            for (++i; i < pattern.size() && isDigitRunCharacter(pattern[i]);) ++i;
        } else if (c == u'.') {
            afterDecimalPoint = true;
            ++i;
        } else if (isDigitRunCharacter(c)) {
            size_t end = i;
            int64_t placeholders = 0, zeros = 0;
            for (; end < pattern.size() && isDigitRunCharacter(pattern[end]); ++end) {
                if (isPlaceholder(pattern[end])) ++placeholders;
                if (pattern[end] == u'0') ++zeros;
            }
            i = end;
            if (afterDecimalPoint) {
                // Layout facts may disagree with the pattern (tokens from the pasteboard,
                // older files): no count goes below zero.
                int64_t zeroDigits = mNonSpaceDecimalDigits;
                int64_t spaceDigits = mDecimalWidth ? atLeastZero(zeros - mNonSpaceDecimalDigits) : 0;
                int64_t optionalDigits = atLeastZero(mDecimalWidth ? placeholders - zeros : placeholders - zeroDigits);
                for (auto [count, digit] : {std::pair{zeroDigits, u"0"}, {spaceDigits, u"?"}, {optionalDigits, u"#"}})
                    if (count > 0)
                        tokens.push_back(token(KQUCustomNumberFormatTokenTypeDecimal,
                                               KQUCustomNumberFormatDecimalTokenRepresentedString(
                                                   static_cast<uint64_t>(count), digit)));
                continue;
            }
            int64_t zeroDigits = mNonSpaceIntegerDigits;
            int64_t spaceDigits = mMinimumIntegerWidth ? atLeastZero(mMinimumIntegerWidth - zeroDigits) : 0;
            int64_t optionalDigits =
                atLeastZero(mMinimumIntegerWidth ? placeholders - mMinimumIntegerWidth : placeholders - zeroDigits);
            std::deque<std::u16string> run;
            int64_t placed = 0;
            for (auto [count, digit] : {std::pair{zeroDigits, u"0"}, {spaceDigits, u"?"}, {optionalDigits, u"#"}}) {
                int64_t left = count;
                while (left > 0) {
                    int64_t take = left;
                    if (nextInterstitial < pairs)
                        take = std::min(static_cast<int64_t>(mInterstitialIndexes[nextInterstitial]) - placed, left);
                    // An insertion index of 0 yields no digits before the string: no
                    // empty integer token.
                    if (take > 0)
                        run.push_front(token(KQUCustomNumberFormatTokenTypeInteger,
                                             KQUCustomNumberFormatIntegerTokenRepresentedString(
                                                 static_cast<uint64_t>(take), mShowThousandsSeparator, digit)));
                    placed += take;
                    left -= take;
                    if (nextInterstitial < pairs &&
                        placed == static_cast<int64_t>(mInterstitialIndexes[nextInterstitial]))
                        run.push_front(mInterstitialStrings[nextInterstitial++]);
                }
            }
            // Strings standing beyond the integer digits are rendered in front of them,
            // in index order; keep them so that saving from the tokens loses nothing.
            while (nextInterstitial < pairs) run.push_front(mInterstitialStrings[nextInterstitial++]);
            tokens.insert(tokens.end(), run.begin(), run.end());
            afterDecimalPoint = false;
        } else {
            KQULogWarning("Unexpected character encountered in format pattern while generating custom format tokens!");
            tokens.emplace_back(1, c);
            ++i;
        }
    }
    if (!scaleTokenSeen && mScaleFactor != 1.0) {
        char16_t scale = u'\0';
        if (mScaleFactor == 100.0) scale = u'%';
        else if (mScaleFactor == 0.01) scale = u'C';
        else if (mScaleFactor == 0.001) scale = u'K';
        else if (mScaleFactor == 1e-6) scale = u'M';
        else if (mScaleFactor == 1e-9) scale = u'B';
        else if (mScaleFactor == 1e-12) scale = u'T';
        tokens.push_back(token(KQUCustomNumberFormatTokenTypeScale, std::u16string(1, scale)));
    }
    return tokens;
}

}  // namespace kqu
