// KQUDateFormat: the small value object a cell holds to say "show me as this date
// pattern". The pattern is an ICU date pattern ("d MMM y"); the name is what a person
// sees in a format menu and may be absent.
//
// Formats are held by std::shared_ptr through KQUDataFormat; only the name changes after
// construction. One thread at a time, like every format. Pattern and name are UTF-16.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "kqutility/format/KQUNumberFormatting.h"

namespace kqu {

class KQUDateFormat : public KQUDataFormat {
public:
    KQUDateFormat(std::u16string format, std::optional<std::u16string> name)
        : mFormat(std::move(format)), mName(std::move(name)) {}
    static std::shared_ptr<KQUDateFormat> formatWithFormat(
        std::u16string format, std::optional<std::u16string> name = std::nullopt) {
        return std::make_shared<KQUDateFormat>(std::move(format), std::move(name));
    }

    const std::u16string& format() const { return mFormat; }

    // KQUDataFormat
    std::optional<std::u16string> formatName() const override { return mName; }
    void setFormatName(std::optional<std::u16string> name) override { mName = std::move(name); }
    std::shared_ptr<KQUDataFormat> copyFormat() const override;

    // Equal patterns (as text) and names both absent or equal.
    bool isEqual(const KQUDataFormat& other) const;
    size_t hash() const;
    // "KQTDateFormat[0x...]: Format String: d MMM y Name: (null)" (UTF-8).
    std::string description() const;

private:
    std::u16string mFormat;
    std::optional<std::u16string> mName;
};

}  // namespace kqu
