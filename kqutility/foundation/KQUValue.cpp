#include "kqutility/foundation/KQUValue.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

namespace kqu {

const KQUData* KQUValue::data() const {
    auto p = std::get_if<std::shared_ptr<const KQUData>>(&mStorage);
    return p ? p->get() : nullptr;
}
const KQUValueArray* KQUValue::array() const {
    auto p = std::get_if<std::shared_ptr<const KQUValueArray>>(&mStorage);
    return p ? p->get() : nullptr;
}
const KQUValueDictionary* KQUValue::dictionary() const {
    auto p = std::get_if<std::shared_ptr<const KQUValueDictionary>>(&mStorage);
    return p ? p->get() : nullptr;
}

namespace {
// Parses the leading number of a string the way the platform's intValue/doubleValue do:
// leading blanks skipped, an optional sign, then digits; anything unparsable is 0.
double leadingDouble(const std::string& s) {
    const char* p = s.c_str();
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    char* end = nullptr;
    double d = std::strtod(p, &end);
    return end == p ? 0.0 : d;
}
int64_t leadingInteger(const std::string& s) {
    const char* p = s.c_str();
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(p, &end, 10);
    return end == p ? 0 : static_cast<int64_t>(v);
}
}  // namespace

int64_t KQUValue::integerValue() const {
    switch (type()) {
        case Type::Bool: return std::get<bool>(mStorage) ? 1 : 0;
        case Type::Integer: return std::get<int64_t>(mStorage);
        case Type::Real: {
            double d = std::get<double>(mStorage);
            if (std::isnan(d)) return 0;
            if (d >= 9.2233720368547758e18) return INT64_MAX;
            if (d <= -9.2233720368547758e18) return INT64_MIN;
            return static_cast<int64_t>(d);
        }
        case Type::Decimal: return KQUValue(std::get<KQUDecimal>(mStorage).doubleValue()).integerValue();
        case Type::String: return leadingInteger(std::get<std::string>(mStorage));
        default: return 0;
    }
}

double KQUValue::doubleValue() const {
    switch (type()) {
        case Type::Bool: return std::get<bool>(mStorage) ? 1.0 : 0.0;
        case Type::Integer: return static_cast<double>(std::get<int64_t>(mStorage));
        case Type::Real: return std::get<double>(mStorage);
        case Type::Decimal: return std::get<KQUDecimal>(mStorage).doubleValue();
        case Type::String: return leadingDouble(std::get<std::string>(mStorage));
        default: return 0.0;
    }
}

bool KQUValue::boolValue() const {
    if (type() != Type::String) return isNumber() && doubleValue() != 0.0;
    const std::string& s = std::get<std::string>(mStorage);
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    while (i < s.size() && s[i] == '0') ++i;
    if (i >= s.size()) return false;
    char c = s[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::optional<std::string> KQUValue::stringValue() const {
    switch (type()) {
        case Type::String: return std::get<std::string>(mStorage);
        case Type::Bool: return std::get<bool>(mStorage) ? "1" : "0";
        case Type::Integer: return fmt::format("{}", std::get<int64_t>(mStorage));
        case Type::Real: return fmt::format("{}", std::get<double>(mStorage));
        case Type::Decimal: return std::get<KQUDecimal>(mStorage).toString();
        default: return std::nullopt;
    }
}

const KQUValue* KQUValue::find(std::string_view key) const {
    const KQUValueDictionary* d = dictionary();
    if (!d) return nullptr;
    for (const auto& [k, v] : *d)
        if (k == key) return &v;
    return nullptr;
}

bool KQUValue::operator==(const KQUValue& other) const {
    if (type() != other.type()) return false;
    switch (type()) {
        case Type::Data: return *data() == *other.data();
        case Type::Array: return *array() == *other.array();
        case Type::Dictionary: return *dictionary() == *other.dictionary();
        default: return mStorage == other.mStorage;
    }
}

void KQUDictionarySet(KQUValueDictionary& dictionary, std::string key, KQUValue value) {
    for (auto& [k, v] : dictionary) {
        if (k == key) {
            v = std::move(value);
            return;
        }
    }
    dictionary.emplace_back(std::move(key), std::move(value));
}

}  // namespace kqu
