#include "kqutility/format/KQUDateFormat.h"

#include <fmt/format.h>

#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

std::shared_ptr<KQUDataFormat> KQUDateFormat::copyFormat() const {
    return std::make_shared<KQUDateFormat>(mFormat, mName);
}

bool KQUDateFormat::isEqual(const KQUDataFormat& other) const {
    auto* date = dynamic_cast<const KQUDateFormat*>(&other);
    return date && date->mFormat == mFormat && date->mName == mName;
}

size_t KQUDateFormat::hash() const {
    std::hash<std::u16string> hasher;
    return (mName ? hasher(*mName) : 0) + hasher(mFormat);
}

std::string KQUDateFormat::description() const {
    return fmt::format("KQTDateFormat[{}]: Format String: {} Name: {}", static_cast<const void*>(this),
                       KQUUTF8FromUTF16(mFormat), mName ? KQUUTF8FromUTF16(*mName) : std::string("(null)"));
}

}  // namespace kqu
