#include "kqutility/format/KQUConditionalNumberFormat.h"

#include <algorithm>
#include <functional>

#include <fmt/format.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"

namespace kqu {

namespace {

uint32_t hashText(const std::optional<std::u16string>& text) {
    return text ? static_cast<uint32_t>(std::hash<std::u16string>()(*text)) : 0;
}

}  // namespace

KQUConditionalNumberFormat::KQUConditionalNumberFormat(std::vector<KQUNumberFormatCondition> conditions,
                                                       std::vector<KQUNumberFormat::Ptr> formats,
                                                       KQUNumberFormat::Ptr defaultFormat,
                                                       std::optional<std::u16string> formatName)
    : mConditions(std::move(conditions)),
      mFormats(std::move(formats)),
      mDefaultFormat(std::move(defaultFormat)),
      mFormatName(std::move(formatName)) {
    // Repair first, so that the format is sound whether or not the report throws.
    const bool parallel = mConditions.size() == mFormats.size();
    const size_t count = std::min(mConditions.size(), mFormats.size());
    mConditions.resize(count);
    mFormats.resize(count);
    for (auto& format : mFormats)
        if (!format) format = KQUNumberFormat::create();
    const bool hadDefault = mDefaultFormat != nullptr;
    if (!mDefaultFormat) mDefaultFormat = KQUNumberFormat::create();
    KQU_OBJECT_ASSERT(parallel, "conditions and formats must contain parallel data!");
    KQU_OBJECT_ASSERT(hadDefault, "must supply a default format!");
}

KQUConditionalNumberFormat::Ptr KQUConditionalNumberFormat::create(
    std::vector<KQUNumberFormatCondition> conditions, std::vector<KQUNumberFormat::Ptr> formats,
    KQUNumberFormat::Ptr defaultFormat, std::optional<std::u16string> formatName) {
    return std::make_shared<KQUConditionalNumberFormat>(std::move(conditions), std::move(formats),
                                                        std::move(defaultFormat), std::move(formatName));
}

KQUNumberFormatCondition KQUConditionalNumberFormat::conditionAtIndex(uint8_t index) const {
    if (index >= mConditions.size())
        throw KQUException(NSRangeException,
                           fmt::format("condition index {} beyond count {}", index, mConditions.size()));
    return mConditions[index];
}

KQUNumberFormat::Ptr KQUConditionalNumberFormat::formatAtIndex(uint8_t index) const {
    if (index >= mFormats.size())
        throw KQUException(NSRangeException,
                           fmt::format("format index {} beyond count {}", index, mFormats.size()));
    return mFormats[index];
}

const KQUNumberFormat& KQUConditionalNumberFormat::formatForValue(double x, bool* suppressMinusSign) const {
    *suppressMinusSign = false;
    for (size_t i = 0; i < mConditions.size(); ++i) {
        const double v = mConditions[i].threshold;
        bool holds = false;
        switch (mConditions[i].type) {
            case KQUNumberFormatConditionEqual:
                holds = x == v;
                break;
            case KQUNumberFormatConditionLess:
                holds = x < v;
                break;
            case KQUNumberFormatConditionLessOrEqual:
                holds = x <= v;
                break;
            case KQUNumberFormatConditionGreater:
                holds = x > v;
                break;
            case KQUNumberFormatConditionGreaterOrEqual:
                holds = x >= v;
                break;
            default:
                KQU_OBJECT_ASSERT_FAILURE("Unexpected condition type in conditional number format!");
        }
        if (holds) {
            *suppressMinusSign = x < 0;
            return *mFormats[i];
        }
    }
    return *mDefaultFormat;
}

std::u16string KQUConditionalNumberFormat::stringFromDouble(double value) const {
    bool suppress;
    const auto& format = formatForValue(value, &suppress);
    return format.stringFromDouble(value, suppress);
}

std::u16string KQUConditionalNumberFormat::stringFromDoubleWithMinimumDecimalPlaces(
    double value, uint16_t minimumPlaces) const {
    bool suppress;
    const auto& format = formatForValue(value, &suppress);
    return format.stringFromDoubleWithMinimumDecimalPlaces(value, minimumPlaces, suppress);
}

std::u16string KQUConditionalNumberFormat::stringFromDoubleWithDecimalPlaces(double value, uint16_t places,
                                                                             uint16_t minimumPlaces) const {
    bool suppress;
    const auto& format = formatForValue(value, &suppress);
    return format.stringFromDoubleWithDecimalPlaces(value, places, minimumPlaces, suppress);
}

std::u16string KQUConditionalNumberFormat::chartLabelStringFromDouble(double value) const {
    bool suppress;
    const auto& format = formatForValue(value, &suppress);
    return format.chartLabelStringFromDouble(value, suppress);
}

std::u16string KQUConditionalNumberFormat::stringFromString(std::u16string_view text) const {
    return mDefaultFormat->stringFromString(text);
}

bool KQUConditionalNumberFormat::requiresParensToBeReplacedWithSpacesForDouble(double value) const {
    bool suppress;
    return formatForValue(value, &suppress).requiresParensToBeReplacedWithSpacesForDouble(value);
}

bool KQUConditionalNumberFormat::usesTextFormatForValue(double value) const {
    bool suppress;
    return formatForValue(value, &suppress).usesTextFormatForValue(value);
}

bool KQUConditionalNumberFormat::canFormatText() const {
    return mDefaultFormat->isTextFormat() ||
           std::any_of(mFormats.begin(), mFormats.end(),
                       [](const auto& format) { return format->isTextFormat(); });
}

std::optional<std::vector<std::u16string>> KQUConditionalNumberFormat::customNumberFormatTokens() const {
    KQULogError(
        "Asked conditional number format for custom format tokens! Returning the tokens of the default "
        "format!");
    return mDefaultFormat->customNumberFormatTokens();
}

KQUNumberFormatting::Ref KQUConditionalNumberFormat::numberFormatBySettingValueType(int valueType) const {
    return mDefaultFormat->numberFormatBySettingValueType(valueType);
}

KQUNumberFormatting::Ref KQUConditionalNumberFormat::copy() const {
    return create(mConditions, mFormats, mDefaultFormat, mFormatName);
}

std::shared_ptr<KQUDataFormat> KQUConditionalNumberFormat::copyFormat() const {
    return copy();
}

bool KQUConditionalNumberFormat::isEqual(const KQUNumberFormatting& otherFormat) const {
    auto* other = dynamic_cast<const KQUConditionalNumberFormat*>(&otherFormat);
    if (!other || other->mConditions != mConditions || other->mFormats.size() != mFormats.size() ||
        other->mFormatName != mFormatName || !mDefaultFormat->isEqual(*other->mDefaultFormat))
        return false;
    for (size_t i = 0; i < mFormats.size(); ++i)
        if (!mFormats[i]->isEqual(*other->mFormats[i])) return false;
    return true;
}

uint32_t KQUConditionalNumberFormat::hash() const {
    uint32_t h = mDefaultFormat->hash() + hashText(mFormatName);
    for (const auto& format : mFormats) h += format->hash();
    for (const auto& condition : mConditions)
        h += static_cast<uint32_t>(condition.type) +
             static_cast<uint32_t>(std::hash<double>()(condition.threshold));
    return h;
}

std::string KQUConditionalNumberFormat::description() const {
    const void* self = this;
    return fmt::format("KQUConditionalNumberFormat[{}]: <KQUConditionalNumberFormat: {}>", self, self);
}

}  // namespace kqu
