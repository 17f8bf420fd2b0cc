// Helpers shared by the collection templates of this room: the exceptions they throw and
// the texts of their descriptions. Not meant for callers outside the room.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace kqu::detail {

// Throws KQUException(NSInvalidArgumentException, "<method>: attempt to insert nil").
[[noreturn]] void raiseInsertNil(std::string_view method);
// Throws KQUException(NSInvalidArgumentException, "invalid capacity: <capacity>").
[[noreturn]] void raiseInvalidCapacity(size_t capacity);
// "0x" and all 16 hex digits of an address.
std::string fullHex(const void* address);

// The text an object stands for in a description: "(null)" for none, the object formatted
// by {fmt} when it can be, else its address.
template <typename V>
std::string describeObject(const V* object) {
    if (!object) return "(null)";
    if constexpr (fmt::is_formattable<V>::value)
        return fmt::format("{}", *object);
    else
        return fullHex(object);
}

}  // namespace kqu::detail
