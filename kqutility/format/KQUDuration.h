// Duration cells: KQUDuration, the value a duration cell holds (a time interval in
// seconds), and KQUDurationFormat, the named duration pattern a cell shows it through.
// The pattern language, rendering and parsing are in KQUDurationFormatter.h.
//
// KQUDuration is an immutable KQUObject, so a KQUValue can carry it (the combined cell
// formatter hands durations out that way); share it by std::shared_ptr<const KQUDuration>.
// Its interval is any double: NaN and the infinities are kept as they are, never
// converted to integers. KQUDurationFormat is a KQUDataFormat: immutable apart from its
// name, used by one thread at a time. Patterns and names are UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kqutility/format/KQUNumberFormatting.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

class KQUDuration : public KQUObject {
public:
    explicit KQUDuration(double timeInterval) : mTimeInterval(timeInterval) {}
    static std::shared_ptr<const KQUDuration> durationWithTimeInterval(double timeInterval) {
        return std::make_shared<const KQUDuration>(timeInterval);
    }

    double timeInterval() const { return mTimeInterval; }
    // Equal intervals compared as doubles (so a NaN duration equals nothing).
    bool isEqual(const KQUDuration& other) const { return mTimeInterval == other.mTimeInterval; }
    // The interval clamped to 0...4294967295 and truncated; NaN hashes as 0.
    uint32_t hash() const;

private:
    double mTimeInterval;
};

class KQUDurationFormat : public KQUDataFormat {
public:
    KQUDurationFormat(std::u16string format, std::optional<std::u16string> name)
        : mFormat(std::move(format)), mName(std::move(name)) {}
    static std::shared_ptr<KQUDurationFormat> formatWithFormat(
        std::u16string format, std::optional<std::u16string> name = std::nullopt) {
        return std::make_shared<KQUDurationFormat>(std::move(format), std::move(name));
    }

    const std::u16string& format() const { return mFormat; }
    std::optional<std::u16string> formatName() const override { return mName; }
    void setFormatName(std::optional<std::u16string> name) override { mName = std::move(name); }
    [[nodiscard]] std::shared_ptr<KQUDataFormat> copyFormat() const override {
        return std::make_shared<KQUDurationFormat>(mFormat, mName);
    }

    // Another duration format with the same pattern text, and both names absent or equal.
    bool isEqual(const KQUDataFormat& other) const {
        auto duration = dynamic_cast<const KQUDurationFormat*>(&other);
        return duration && mFormat == duration->mFormat && mName == duration->mName;
    }
    // Hash of the name (0 when absent) plus hash of the pattern.
    size_t hash() const;
    // "KQTDurationFormat[0x...]: Format String: <pattern> Name: <name or (null)>".
    std::string description() const;

private:
    std::u16string mFormat;
    std::optional<std::u16string> mName;
};

}  // namespace kqu
