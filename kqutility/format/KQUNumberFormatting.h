// The interfaces through which cells and labels hold their formats, and the enumerations
// and constants of the number format model.
//
// KQUDataFormat is what every value format (number, date, duration) has: a user-visible
// name and copying. KQUNumberFormatting is everything a cell needs of a number format;
// KQUNumberFormat and KQUConditionalNumberFormat implement it. Formats are held
// by std::shared_ptr; a format is immutable except for its name (and, on KQUNumberFormat,
// two rendering flags), so one format may be shared by many cells, but it is used by one
// thread at a time. Patterns, names and suffixes are UTF-16 (they are shown to people);
// currency codes are ISO 4217 codes in UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqu {

// Value types.
inline constexpr int KQUNumberFormatValueTypeDecimal = 0;  // also every custom format
inline constexpr int KQUNumberFormatValueTypeCurrency = 1;
inline constexpr int KQUNumberFormatValueTypePercentage = 2;
inline constexpr int KQUNumberFormatValueTypeScientific = 3;
inline constexpr int KQUNumberFormatValueTypeFraction = 4;
inline constexpr int KQUNumberFormatValueTypeBase = 5;

// Negative styles.
inline constexpr int KQUNumberFormatNegativeStyleMinus = 0;
inline constexpr int KQUNumberFormatNegativeStyleRed = 1;  // no minus sign; the caller colours the text
inline constexpr int KQUNumberFormatNegativeStyleParentheses = 2;
inline constexpr int KQUNumberFormatNegativeStyleRedAndParentheses = 3;
inline constexpr int KQUNumberFormatNegativeStyleNone = 4;  // the pattern is used as it stands

// Fraction accuracies: -1, -2, -3 are "closest with up to 1, 2, 3 denominator digits",
// a positive n the fixed denominator n.
inline constexpr int KQUNumberFormatFractionAccuracyUpToOneDigit = -1;

// Decimal places sentinels and limits.
inline constexpr uint16_t kKQUNumberFormatterDecimalPlacesAsManyAsNecessary = 65534;
inline constexpr uint16_t kKQUNumberFormatInvalidDecimalPlaces = 65535;
inline constexpr uint16_t kKQUNumberFormatUserMaxNumberOfDecimalPlaces = 30;
inline constexpr uint16_t kKQUNumberFormatUserMaxNumberOfBasePlaces = 32;
inline constexpr uint16_t kKQUNumberFormatUserMaxNumberOfBaseDigits = 32;
inline constexpr uint16_t kKQUNumberFormatUserMaxBaseValue = 36;
inline constexpr int32_t kKQUCustomFormatMaxNumberFormats = 4;

// "decimal", "currency", ... ; "unknown" for other values.
std::string KQUNumberFormatterStringFromValueType(int valueType);
// "minus", "red only", "parentheses", "red and parentheses", "none"; "unknown".
std::string KQUNumberFormatterStringFromNegativeStyle(int negativeStyle);
// "up to 1 digit", "up to 2 digits", "up to 3 digits" for -1..-3; otherwise "1/<n>".
std::string KQUNumberFormatterStringFromFractionAccuracy(int fractionAccuracy);

class KQUDataFormat {
public:
    virtual ~KQUDataFormat() = default;
    virtual std::optional<std::u16string> formatName() const = 0;
    virtual void setFormatName(std::optional<std::u16string> name) = 0;
    // An independent copy (a new object with the same stored settings).
    [[nodiscard]] virtual std::shared_ptr<KQUDataFormat> copyFormat() const = 0;
};

class KQUNumberFormatting : public KQUDataFormat {
public:
    using Ref = std::shared_ptr<KQUNumberFormatting>;

    // Same look to the user (see KQUNumberFormat::isEquivalent).
    virtual bool isEquivalent(const KQUNumberFormatting& other) const = 0;
    virtual bool isEqual(const KQUNumberFormatting& other) const = 0;
    virtual uint32_t hash() const = 0;

    virtual int valueType() const = 0;
    virtual std::optional<std::u16string> formatString() const = 0;
    virtual uint16_t decimalPlaces() const = 0;
    virtual bool hasValidDecimalPlaces() const = 0;
    virtual std::string currencyCode() const = 0;
    virtual bool usesAccountingStyle() const = 0;
    virtual int negativeStyle() const = 0;
    virtual bool showThousandsSeparator() const = 0;
    virtual int fractionAccuracy() const = 0;
    virtual std::optional<std::u16string> suffixString() const = 0;
    virtual double scaleFactor() const = 0;
    virtual uint16_t base() const = 0;
    virtual uint16_t basePlaces() const = 0;
    virtual bool baseUseMinusSign() const = 0;
    virtual bool isCustom() const = 0;
    virtual bool isTextFormat() const = 0;
    virtual bool canFormatText() const = 0;
    virtual bool usesTextFormatForValue(double value) const = 0;
    virtual bool usesTabs() const = 0;
    virtual bool requiresParensToBeReplacedWithSpacesForDouble(double value) const = 0;
    virtual bool customFormatShouldAutoInsertPercentSymbol() const = 0;
    // Rendering (UTF-16 text). stringFromDouble uses the format's decimal places; the
    // variants override the minimum, or both, places. chartLabelStringFromDouble shows at
    // most 3 places for "as many as necessary" and appends the suffix to decimal and
    // currency values. stringFromString fills a text format's template.
    virtual std::u16string stringFromDouble(double value) const = 0;
    virtual std::u16string stringFromDoubleWithMinimumDecimalPlaces(double value, uint16_t minimumPlaces) const = 0;
    virtual std::u16string stringFromDoubleWithDecimalPlaces(double value, uint16_t places,
                                                             uint16_t minimumPlaces) const = 0;
    virtual std::u16string chartLabelStringFromDouble(double value) const = 0;
    virtual std::u16string stringFromString(std::u16string_view text) const = 0;

    // The custom format read back into tokens; nullopt for a format that is not custom.
    virtual std::optional<std::vector<std::u16string>> customNumberFormatTokens() const = 0;

    virtual Ref numberFormatBySettingDecimalPlaces(uint16_t places) const = 0;
    virtual Ref numberFormatBySettingDecimalPlacesAndNegativeStyle(uint16_t places, int negativeStyle) const = 0;
    virtual Ref numberFormatBySettingUseAccountingStyle(bool accounting) const = 0;
    virtual Ref numberFormatBySettingFractionAccuracy(int accuracy) const = 0;
    virtual Ref numberFormatBySettingShowThousandsSeparator(bool show) const = 0;
    virtual Ref numberFormatBySettingNegativeStyle(int negativeStyle) const = 0;
    virtual Ref numberFormatBySettingSuffixString(std::optional<std::u16string> suffix) const = 0;
    virtual Ref numberFormatBySettingCurrencyCode(std::optional<std::string> code) const = 0;
    virtual Ref numberFormatByIncrementingDecimalPlaces(int16_t delta) const = 0;
    virtual Ref numberFormatBySettingValueType(int valueType) const = 0;
};

}  // namespace kqu
