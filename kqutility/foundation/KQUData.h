// Byte containers shared between streams, data representations and archives.
//
// KQUData is a plain byte vector. Objects that "retain" bytes hold a KQUDataRef, so the
// bytes live as long as any stream or representation lent from them.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kqu {

using KQUData = std::vector<uint8_t>;
using KQUDataRef = std::shared_ptr<const KQUData>;

inline KQUDataRef KQUMakeData(std::string_view bytes) {
    return std::make_shared<const KQUData>(bytes.begin(), bytes.end());
}
inline KQUDataRef KQUMakeData(KQUData bytes) {
    return std::make_shared<const KQUData>(std::move(bytes));
}

}  // namespace kqu
