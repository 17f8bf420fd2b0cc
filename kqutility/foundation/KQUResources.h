// Resources (string tables, property lists) embedded into the library at build time
// from the resources/ folder, looked up by file name.
#pragma once

#include <optional>
#include <string_view>

namespace kqu {

std::optional<std::string_view> KQUEmbeddedResource(std::string_view name);

}  // namespace kqu
