#include "kqutility/foundation/KQUDecimalFormatCache.h"

#include <functional>

#include <unicode/numfmt.h>

#include "kqutility/foundation/KQULocale.h"

namespace kqu {

std::atomic<uint64_t> KQUDecimalFormatCache::sBuilt{0};

namespace {

void mix(size_t& h, size_t v) {
    h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
}

UNumberFormatStyle icuStyle(KQUDecimalFormatStyle style) {
    switch (style) {
        case KQUDecimalFormatStyle::Currency: return UNUM_CURRENCY;
        case KQUDecimalFormatStyle::Percent: return UNUM_PERCENT;
        case KQUDecimalFormatStyle::Scientific: return UNUM_SCIENTIFIC;
        default: return UNUM_DECIMAL;
    }
}

std::unique_ptr<icu::DecimalFormat> build(const KQUDecimalFormatConfig& config) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale(config.locale.c_str());
    // Symbols.
    auto symbols = std::make_unique<icu::DecimalFormatSymbols>(locale, status);
    if (U_FAILURE(status)) return nullptr;
    if (config.minusSign)
        symbols->setSymbol(icu::DecimalFormatSymbols::kMinusSignSymbol,
                           icu::UnicodeString(config.minusSign->data(), static_cast<int32_t>(config.minusSign->size())));
    std::unique_ptr<icu::DecimalFormat> format;
    if (config.style == KQUDecimalFormatStyle::Pattern) {
        // A neutral pattern first, so that the currency comes before the real pattern.
        format = std::make_unique<icu::DecimalFormat>(icu::UnicodeString(u"#"), symbols.release(), status);
    } else {
        std::unique_ptr<icu::NumberFormat> made(icu::NumberFormat::createInstance(locale, icuStyle(config.style), status));
        if (U_FAILURE(status)) return nullptr;
        auto* decimal = dynamic_cast<icu::DecimalFormat*>(made.get());
        if (!decimal) return nullptr;
        made.release();
        format.reset(decimal);
        format->adoptDecimalFormatSymbols(symbols.release());
    }
    if (U_FAILURE(status)) return nullptr;
    // Currency.
    if (!config.currency.empty()) {
        if (config.currency.size() != 3) return nullptr;
        format->setCurrency(config.currency.c_str(), status);
        if (U_FAILURE(status)) return nullptr;
    }
    // Pattern.
    if (config.style == KQUDecimalFormatStyle::Pattern) {
        UParseError parseError;
        format->applyPattern(icu::UnicodeString(config.pattern.data(), static_cast<int32_t>(config.pattern.size())),
                             parseError, status);
        if (U_FAILURE(status)) return nullptr;
    }
    // Digits and the rest.
    if (config.minimumFractionDigits >= 0) format->setMinimumFractionDigits(config.minimumFractionDigits);
    if (config.maximumFractionDigits >= 0) format->setMaximumFractionDigits(config.maximumFractionDigits);
    if (config.minimumIntegerDigits >= 0) format->setMinimumIntegerDigits(config.minimumIntegerDigits);
    if (config.grouping >= 0) format->setGroupingUsed(config.grouping != 0);
    if (config.roundingMode >= 0)
        format->setRoundingMode(static_cast<icu::DecimalFormat::ERoundingMode>(config.roundingMode));
    if (config.parseNoExponent) format->setParseNoExponent(true);
    if (config.roundingIncrement >= 0) format->setRoundingIncrement(config.roundingIncrement);
    return format;
}

}  // namespace

size_t KQUDecimalFormatConfig::hash() const {
    size_t h = std::hash<std::string>()(locale);
    mix(h, static_cast<size_t>(style));
    mix(h, std::hash<std::u16string>()(pattern));
    mix(h, std::hash<std::u16string>()(currency));
    // Each count mixed on its own: any int is a valid count (INT32_MAX means no limit).
    mix(h, static_cast<size_t>(static_cast<uint32_t>(minimumFractionDigits)));
    mix(h, static_cast<size_t>(static_cast<uint32_t>(maximumFractionDigits)));
    mix(h, static_cast<size_t>(static_cast<uint32_t>(minimumIntegerDigits)));
    mix(h, static_cast<size_t>(grouping + 1) | static_cast<size_t>(roundingMode + 1) << 8 |
               static_cast<size_t>(parseNoExponent) << 16 | static_cast<size_t>(minusSign.has_value()) << 17);
    if (minusSign) mix(h, std::hash<std::u16string>()(*minusSign));
    mix(h, std::hash<double>()(roundingIncrement));
    return h;
}

KQUDecimalFormatCache& KQUDecimalFormatCache::forCurrentThread() {
    thread_local KQUDecimalFormatCache sCache;
    return sCache;
}

void KQUDecimalFormatCache::setCapacity(size_t capacity) {
    mCapacity = capacity == 0 ? 1 : capacity;
    while (mEntries.size() > mCapacity) {
        mIndex.erase(mEntries.back().first);
        mEntries.pop_back();
    }
}

std::shared_ptr<const icu::DecimalFormat> KQUDecimalFormatCache::formatter(const KQUDecimalFormatConfig& config) {
    if (uint64_t generation = KQULocaleGeneration(); generation != mGeneration) {
        mIndex.clear();
        mEntries.clear();
        mGeneration = generation;
    }
    if (auto found = mIndex.find(config); found != mIndex.end()) {
        mEntries.splice(mEntries.begin(), mEntries, found->second);
        return found->second->second;
    }
    std::shared_ptr<const icu::DecimalFormat> made(build(config));
    sBuilt.fetch_add(1, std::memory_order_relaxed);
    if (!made) return nullptr;
    mEntries.emplace_front(config, made);
    mIndex.emplace(config, mEntries.begin());
    if (mEntries.size() > mCapacity) {
        mIndex.erase(mEntries.back().first);
        mEntries.pop_back();
    }
    return made;
}

}  // namespace kqu
