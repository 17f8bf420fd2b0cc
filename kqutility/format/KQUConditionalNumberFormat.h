// KQUConditionalNumberFormat: a number format that chooses, for each value, one of
// several KQUNumberFormats by testing the value against a list of conditions (less than a
// threshold, equal to it, ...), and falls back to a default format. It implements
// KQUNumberFormatting, so a cell holds either kind without knowing which.
//
// The first condition that holds picks the format at its index; a negative value shown
// through a condition's format has no minus sign (the condition already says the value is
// negative). No condition holds for NaN. Questions about the format as a whole (value
// type, places, currency, ...) are answered by the default format.
//
// The format keeps shared references to its formats; like KQUNumberFormat it is
// immutable apart from its name, and used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kqutility/format/KQUNumberFormat.h"
#include "kqutility/format/KQUNumberFormatting.h"

namespace kqu {

// Condition types: with x the value and v the threshold.
inline constexpr int KQUNumberFormatConditionEqual = 0;           // x = v
inline constexpr int KQUNumberFormatConditionLess = 1;            // x < v
inline constexpr int KQUNumberFormatConditionLessOrEqual = 2;     // x <= v
inline constexpr int KQUNumberFormatConditionGreater = 3;         // x > v
inline constexpr int KQUNumberFormatConditionGreaterOrEqual = 4;  // x >= v

struct KQUNumberFormatCondition {
    int type = KQUNumberFormatConditionEqual;
    double threshold = 0;

    bool operator==(const KQUNumberFormatCondition&) const = default;
};

class KQUConditionalNumberFormat : public KQUNumberFormatting {
public:
    using Ptr = std::shared_ptr<KQUConditionalNumberFormat>;

    // conditions and formats are parallel. Lists of different lengths are reported to the
    // assertion handler ("conditions and formats must contain parallel data!") and only
    // the first min(count) conditions take part; a missing default format is reported
    // ("must supply a default format!") and replaced by a plain KQUNumberFormat, as is a
    // missing condition format.
    KQUConditionalNumberFormat(std::vector<KQUNumberFormatCondition> conditions,
                               std::vector<KQUNumberFormat::Ptr> formats, KQUNumberFormat::Ptr defaultFormat,
                               std::optional<std::u16string> formatName = std::nullopt);
    static Ptr create(std::vector<KQUNumberFormatCondition> conditions,
                      std::vector<KQUNumberFormat::Ptr> formats, KQUNumberFormat::Ptr defaultFormat,
                      std::optional<std::u16string> formatName = std::nullopt);

    size_t conditionCount() const { return mConditions.size(); }
    // Throw KQUException (NSRangeException) for an index past the end.
    KQUNumberFormatCondition conditionAtIndex(uint8_t index) const;
    KQUNumberFormat::Ptr formatAtIndex(uint8_t index) const;
    const KQUNumberFormat::Ptr& defaultFormat() const { return mDefaultFormat; }

    // The format for value, and whether it must drop the minus sign.
    const KQUNumberFormat& formatForValue(double value, bool* suppressMinusSign) const;

    // KQUDataFormat
    std::optional<std::u16string> formatName() const override { return mFormatName; }
    void setFormatName(std::optional<std::u16string> name) override { mFormatName = std::move(name); }
    std::shared_ptr<KQUDataFormat> copyFormat() const override;

    // KQUNumberFormatting
    bool isEquivalent(const KQUNumberFormatting& other) const override { return isEqual(other); }
    bool isEqual(const KQUNumberFormatting& other) const override;
    uint32_t hash() const override;

    std::u16string stringFromDouble(double value) const override;
    std::u16string stringFromDoubleWithMinimumDecimalPlaces(double value,
                                                            uint16_t minimumPlaces) const override;
    std::u16string stringFromDoubleWithDecimalPlaces(double value, uint16_t places,
                                                     uint16_t minimumPlaces) const override;
    std::u16string chartLabelStringFromDouble(double value) const override;
    std::u16string stringFromString(std::u16string_view text) const override;
    bool requiresParensToBeReplacedWithSpacesForDouble(double value) const override;
    bool usesTextFormatForValue(double value) const override;

    int valueType() const override { return mDefaultFormat->valueType(); }
    std::optional<std::u16string> formatString() const override { return mDefaultFormat->formatString(); }
    uint16_t decimalPlaces() const override { return mDefaultFormat->decimalPlaces(); }
    bool hasValidDecimalPlaces() const override { return mDefaultFormat->hasValidDecimalPlaces(); }
    std::string currencyCode() const override { return mDefaultFormat->currencyCode(); }
    bool usesAccountingStyle() const override { return mDefaultFormat->usesAccountingStyle(); }
    int negativeStyle() const override { return mDefaultFormat->negativeStyle(); }
    bool showThousandsSeparator() const override { return mDefaultFormat->showThousandsSeparator(); }
    int fractionAccuracy() const override { return mDefaultFormat->fractionAccuracy(); }
    std::optional<std::u16string> suffixString() const override { return mDefaultFormat->suffixString(); }
    double scaleFactor() const override { return mDefaultFormat->scaleFactor(); }
    uint16_t base() const override { return mDefaultFormat->base(); }
    uint16_t basePlaces() const override { return mDefaultFormat->basePlaces(); }
    bool baseUseMinusSign() const override { return mDefaultFormat->baseUseMinusSign(); }
    bool usesTabs() const override { return mDefaultFormat->usesTabs(); }
    bool customFormatShouldAutoInsertPercentSymbol() const override {
        return mDefaultFormat->customFormatShouldAutoInsertPercentSymbol();
    }
    bool isCustom() const override { return true; }
    bool isTextFormat() const override { return false; }
    bool canFormatText() const override;
    // Logged (level 1); the default format's tokens.
    std::optional<std::vector<std::u16string>> customNumberFormatTokens() const override;

    // A plain KQUNumberFormat derived from the default format.
    Ref numberFormatBySettingValueType(int valueType) const override;
    // The others ignore their argument and return a copy of this format.
    Ref numberFormatBySettingDecimalPlaces(uint16_t) const override { return copy(); }
    Ref numberFormatBySettingDecimalPlacesAndNegativeStyle(uint16_t, int) const override { return copy(); }
    Ref numberFormatBySettingUseAccountingStyle(bool) const override { return copy(); }
    Ref numberFormatBySettingFractionAccuracy(int) const override { return copy(); }
    Ref numberFormatBySettingShowThousandsSeparator(bool) const override { return copy(); }
    Ref numberFormatBySettingNegativeStyle(int) const override { return copy(); }
    Ref numberFormatBySettingSuffixString(std::optional<std::u16string>) const override { return copy(); }
    Ref numberFormatBySettingCurrencyCode(std::optional<std::string>) const override { return copy(); }
    Ref numberFormatByIncrementingDecimalPlaces(int16_t) const override { return copy(); }

    std::string description() const;

private:
    Ref copy() const;

    std::vector<KQUNumberFormatCondition> mConditions;
    std::vector<KQUNumberFormat::Ptr> mFormats;
    KQUNumberFormat::Ptr mDefaultFormat;
    std::optional<std::u16string> mFormatName;
};

}  // namespace kqu
