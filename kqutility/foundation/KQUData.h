// Byte containers shared between streams, data representations and archives.
//
// KQUData is a plain byte vector. Objects that "retain" bytes hold a KQUDataRef, so the
// bytes live as long as any stream or representation lent from them.
//
// A KQUDataRef only promises that its holder does not change the bytes; whoever made the
// block from a std::shared_ptr<KQUData> may still change or reallocate it. Blocks made by
// KQUMakeData are sealed: nobody ever holds a non-const pointer to them. Objects that must
// rely on their bytes staying as they are (data representations) keep KQUSealedData(ref):
// the block itself when sealed, otherwise a sealed copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kqu {

using KQUData = std::vector<uint8_t>;
using KQUDataRef = std::shared_ptr<const KQUData>;

// The deleter that marks a block as sealed (see std::get_deleter).
struct KQUSealedDataDeleter {
    void operator()(const KQUData* data) const noexcept { std::default_delete<const KQUData>()(data); }
};

// A sealed block that takes over bytes without copying them.
inline KQUDataRef KQUMakeData(KQUData bytes) {
    return KQUDataRef(std::unique_ptr<const KQUData, KQUSealedDataDeleter>(
        std::make_unique<const KQUData>(std::move(bytes)).release()));
}
inline KQUDataRef KQUMakeData(std::string_view bytes) {
    return KQUMakeData(KQUData(bytes.begin(), bytes.end()));
}

inline bool KQUIsSealedData(const KQUDataRef& data) {
    return data && std::get_deleter<KQUSealedDataDeleter>(data) != nullptr;
}
// data when it is sealed, otherwise a sealed copy of its bytes; null gives an empty block.
inline KQUDataRef KQUSealedData(KQUDataRef data) {
    if (KQUIsSealedData(data)) return data;
    return KQUMakeData(data ? KQUData(*data) : KQUData());
}

}  // namespace kqu
