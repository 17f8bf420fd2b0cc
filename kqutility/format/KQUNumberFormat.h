// KQUNumberFormat: the immutable value object that says how a numeric cell value is
// shown: plain decimal, currency, percentage, scientific, fraction, base-N, or a custom
// format built from tokens (see KQUCustomNumberFormatTokens.h).
//
// A format is made from a KQUNumberFormatSettings (every stored setting, with the
// defaults of a plain decimal format) and never changes afterwards, apart from its name
// and the two rendering flags: each numberFormatBySetting...() returns a new format.
// Non-custom formats store their pattern already adapted to the negative style, taken
// from the current locale's KQUNumberFormatter when none is given; custom formats keep
// their pattern and the layout facts the custom-format editor computed from the tokens
// (interstitial strings between integer digits, widths, counts of placeholders), which
// the renderer relies on.
//
// Formats are held by std::shared_ptr and may be shared; a format is used by one thread
// at a time (construction reads the shared formatter of the current locale).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/format/KQUNumberFormatting.h"

namespace kqu {

struct KQUNumberFormatSettings {
    int valueType = KQUNumberFormatValueTypeDecimal;
    // The pattern (ICU decimal pattern syntax; a text template for text formats). Empty
    // or nullopt: the locale's default pattern for the value type.
    std::optional<std::u16string> formatString = std::nullopt;
    uint16_t decimalPlaces = 2;
    std::optional<std::string> currencyCode = std::nullopt;  // nullopt: the current locale's
    bool useAccountingStyle = false;
    int negativeStyle = KQUNumberFormatNegativeStyleMinus;
    bool showThousandsSeparator = true;
    int fractionAccuracy = KQUNumberFormatFractionAccuracyUpToOneDigit;
    std::optional<std::u16string> suffixString = std::nullopt;  // appended to chart labels
    double scaleFactor = 1.0;
    uint16_t base = 10;  // kept as given; the renderer refuses radices outside 1...36
    uint16_t basePlaces = 0;
    bool baseUseMinusSign = true;
    bool isCustom = false;
    // Custom layout facts.
    std::vector<std::u16string> interstitialStrings = {};
    // For each interstitial string, the count of integer digits from the right after
    // which it stands; kept sorted and unique.
    std::vector<uint64_t> interstitialStringInsertionIndexes = {};
    uint16_t indexFromRightOfLastDigitPlaceholder = 0;
    uint8_t minimumIntegerWidth = 0;
    uint8_t decimalWidth = 0;
    uint8_t numberOfNonSpaceIntegerPlaceholderDigits = 0;
    uint8_t numberOfNonSpaceDecimalPlaceholderDigits = 0;
    bool isTextFormat = false;
    std::optional<std::u16string> formatName = std::nullopt;
};

class KQUNumberFormat : public KQUNumberFormatting {
public:
    using Ptr = std::shared_ptr<KQUNumberFormat>;

    explicit KQUNumberFormat(KQUNumberFormatSettings settings);
    static Ptr create(KQUNumberFormatSettings settings = {});
    // A custom format: value type decimal, no decimal places, minus style, custom on,
    // whatever those fields of settings say.
    static Ptr createCustom(KQUNumberFormatSettings settings);

    // KQUDataFormat
    std::optional<std::u16string> formatName() const override { return mFormatName; }
    void setFormatName(std::optional<std::u16string> name) override { mFormatName = std::move(name); }
    std::shared_ptr<KQUDataFormat> copyFormat() const override;

    // KQUNumberFormatting
    bool isEquivalent(const KQUNumberFormatting& other) const override;
    bool isEqual(const KQUNumberFormatting& other) const override;
    uint32_t hash() const override;
    int valueType() const override { return mValueType; }
    std::optional<std::u16string> formatString() const override { return mFormatString; }
    uint16_t decimalPlaces() const override;
    bool hasValidDecimalPlaces() const override { return mDecimalPlaces != kKQUNumberFormatInvalidDecimalPlaces; }
    std::string currencyCode() const override { return mCurrencyCode; }
    bool usesAccountingStyle() const override { return mUseAccountingStyle; }
    int negativeStyle() const override { return mNegativeStyle; }
    bool showThousandsSeparator() const override { return mShowThousandsSeparator; }
    int fractionAccuracy() const override { return mFractionAccuracy; }
    std::optional<std::u16string> suffixString() const override { return mSuffixString; }
    double scaleFactor() const override { return mScaleFactor; }
    uint16_t base() const override { return mBase; }
    uint16_t basePlaces() const override { return mBasePlaces; }
    bool baseUseMinusSign() const override { return mBaseUseMinusSign; }
    bool isCustom() const override { return mIsCustom; }
    bool isTextFormat() const override { return mIsTextFormat; }
    bool canFormatText() const override { return mIsTextFormat; }
    bool usesTextFormatForValue(double) const override { return mIsTextFormat; }
    bool usesTabs() const override;
    bool requiresParensToBeReplacedWithSpacesForDouble(double value) const override;
    bool customFormatShouldAutoInsertPercentSymbol() const override;
    std::optional<std::vector<std::u16string>> customNumberFormatTokens() const override;

    // Rendering (see KQUNumberRendering.h for how values become text). The overloads with
    // forceSuppressMinusSign drop the minus sign as the conditional formats need.
    std::u16string stringFromDouble(double value) const override { return stringFromDouble(value, false); }
    std::u16string stringFromDouble(double value, bool forceSuppressMinusSign) const;
    std::u16string stringFromDoubleWithMinimumDecimalPlaces(double value, uint16_t minimumPlaces) const override {
        return stringFromDoubleWithMinimumDecimalPlaces(value, minimumPlaces, false);
    }
    std::u16string stringFromDoubleWithMinimumDecimalPlaces(double value, uint16_t minimumPlaces,
                                                            bool forceSuppressMinusSign) const;
    std::u16string stringFromDoubleWithDecimalPlaces(double value, uint16_t places,
                                                     uint16_t minimumPlaces) const override {
        return stringFromDoubleWithDecimalPlaces(value, places, minimumPlaces, false);
    }
    // The main operation: every other member renders through it.
    std::u16string stringFromDoubleWithDecimalPlaces(double value, uint16_t places, uint16_t minimumPlaces,
                                                     bool forceSuppressMinusSign) const;
    std::u16string chartLabelStringFromDouble(double value) const override {
        return chartLabelStringFromDouble(value, false);
    }
    std::u16string chartLabelStringFromDouble(double value, bool forceSuppressMinusSign) const;
    // Text formats only (others are reported to the assertion handler first): the
    // template with every U+E421 replaced by text.
    std::u16string stringFromString(std::u16string_view text) const override;
    // A fraction ("1 1/2", "-1/3", "0"); non-finite values render as decimals.
    std::u16string fractionStringFromDouble(double value) const;
    // Base-N digits; nullopt when the radix is illegal or the value out of range (the
    // caller falls back to a decimal rendering).
    std::optional<std::u16string> baseStringFromDouble(double value) const;

    Ref numberFormatBySettingDecimalPlaces(uint16_t places) const override;
    Ref numberFormatBySettingDecimalPlacesAndNegativeStyle(uint16_t places, int negativeStyle) const override;
    Ref numberFormatBySettingUseAccountingStyle(bool accounting) const override;
    Ref numberFormatBySettingFractionAccuracy(int accuracy) const override;
    Ref numberFormatBySettingShowThousandsSeparator(bool show) const override;
    Ref numberFormatBySettingNegativeStyle(int negativeStyle) const override;
    Ref numberFormatBySettingSuffixString(std::optional<std::u16string> suffix) const override;
    Ref numberFormatBySettingCurrencyCode(std::optional<std::string> code) const override;
    // Clamped to 0 ... kKQUNumberFormatUserMaxNumberOfDecimalPlaces; suffix, scale,
    // custom flag and name are not carried over.
    Ref numberFormatByIncrementingDecimalPlaces(int16_t delta) const override;
    Ref numberFormatBySettingValueType(int valueType) const override;
    Ref numberFormatBySettingBase(uint16_t base) const;
    Ref numberFormatBySettingBasePlaces(uint16_t places) const;
    Ref numberFormatBySettingBaseRepresentNegativeWithMinus(bool minus) const;

    // Rendering flags: not compared, not copied.
    bool ignoreDecimalPlacesForZeroValue() const { return mIgnoreDecimalPlacesForZeroValue; }
    void setIgnoreDecimalPlacesForZeroValue(bool ignore) { mIgnoreDecimalPlacesForZeroValue = ignore; }
    bool useScientificFormattingAutomatically() const { return mUseScientificFormattingAutomatically; }
    void setUseScientificFormattingAutomatically(bool use) { mUseScientificFormattingAutomatically = use; }

    // Layout facts and derived counts, for the renderer.
    const std::vector<std::u16string>& interstitialStrings() const { return mInterstitialStrings; }
    const std::vector<uint64_t>& interstitialStringInsertionIndexes() const { return mInterstitialIndexes; }
    uint16_t indexFromRightOfLastDigitPlaceholder() const { return mIndexFromRightOfLastDigitPlaceholder; }
    uint8_t minimumIntegerWidth() const { return mMinimumIntegerWidth; }
    uint8_t decimalWidth() const { return mDecimalWidth; }
    uint8_t numberOfNonSpaceIntegerPlaceholderDigits() const { return mNonSpaceIntegerDigits; }
    uint8_t numberOfNonSpaceDecimalPlaceholderDigits() const { return mNonSpaceDecimalDigits; }
    bool formatStringRequiresSuppressionOfMinusSign() const { return mFormatStringRequiresSuppressionOfMinusSign; }
    bool formatContainsSpecialTokens() const { return mFormatContainsSpecialTokens; }
    bool formatContainsIntegerToken() const { return mFormatContainsIntegerToken; }
    uint8_t numberOfHashDecimalPlaceholders() const { return mNumberOfHashDecimalPlaceholders; }
    uint8_t totalNumberOfDecimalPlaceholdersInFormat() const { return mTotalNumberOfDecimalPlaceholders; }
    bool requiresFractionReplacement() const { return mRequiresFractionReplacement; }

    // Every stored setting (the pattern as stored), for deriving and copying.
    KQUNumberFormatSettings settings() const;
    // A multi-line description for logs.
    std::string description() const;

private:
    Ref derived(KQUNumberFormatSettings settings) const;
    std::u16string generalString(double scaled, uint16_t places, uint16_t minimumPlaces, bool suppress,
                                 bool apply) const;
    std::u16string customLayoutString(double scaled, uint16_t places, uint16_t minimumPlaces, bool suppress) const;

    int mValueType;
    std::optional<std::u16string> mFormatString;
    uint16_t mDecimalPlaces;
    std::string mCurrencyCode;
    bool mUseAccountingStyle;
    int mNegativeStyle;
    bool mShowThousandsSeparator;
    int mFractionAccuracy;
    bool mFormatStringRequiresSuppressionOfMinusSign = false;
    bool mUseScientificFormattingAutomatically = false;
    bool mIgnoreDecimalPlacesForZeroValue = false;
    std::optional<std::u16string> mSuffixString;
    uint16_t mBase;
    uint16_t mBasePlaces;
    bool mBaseUseMinusSign;
    bool mIsCustom;
    double mScaleFactor;
    bool mFormatStringContainsTabCharacter = false;
    bool mFormatContainsSpecialTokens = false;
    bool mFormatContainsIntegerToken = false;
    uint8_t mNumberOfHashDecimalPlaceholders = 0;
    uint8_t mTotalNumberOfDecimalPlaceholders = 0;
    bool mRequiresFractionReplacement = false;
    std::vector<std::u16string> mInterstitialStrings;
    std::vector<uint64_t> mInterstitialIndexes;
    uint16_t mIndexFromRightOfLastDigitPlaceholder;
    bool mIsTextFormat;
    uint8_t mMinimumIntegerWidth;
    uint8_t mDecimalWidth;
    uint8_t mNonSpaceIntegerDigits;
    uint8_t mNonSpaceDecimalDigits;
    std::optional<std::u16string> mFormatName;
};

}  // namespace kqu
