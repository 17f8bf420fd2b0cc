// One dynamic value: null, boolean, integer, real, string, data, array, ordered
// dictionary, exact decimal (the numbers JSON text reads as), date or a shared object. It
// carries user-defaults values, notification user info, property lists, JSON and the
// attributes of styled text (objects such as attachments and paragraph styles, held by
// shared_ptr and compared by identity).
//
// Values are cheap to copy for scalars; arrays and dictionaries share their storage
// (copy-on-assign semantics are not needed: treat a KQUValue as immutable once shared).
// The coercions intValue()/boolValue()/stringValue() behave as the platform's number and
// string conversions do, so that a default written as "10" or "YES" reads as 10 or true.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "kqutility/foundation/KQUData.h"
#include "kqutility/foundation/KQUDecimal.h"

namespace kqu {

// An absolute time: seconds since 1 January 2001 00:00:00 GMT, the reference date of the
// suite's documents and property lists (Unix time = this + 978307200).
struct KQUDate {
    double timeIntervalSinceReferenceDate = 0;
    bool operator==(const KQUDate&) const = default;
};
inline constexpr int64_t KQUUnixTimeOfReferenceDate = 978307200;

// Base of the objects a value can hold (text attachments, paragraph styles, colours).
// Values compare objects by identity; an object is immutable once shared.
class KQUObject {
public:
    virtual ~KQUObject() = default;
};

class KQUValue;
using KQUValueArray = std::vector<KQUValue>;
// Insertion-ordered; keys are unique (set() replaces).
using KQUValueDictionary = std::vector<std::pair<std::string, KQUValue>>;

class KQUValue {
public:
    enum class Type { Null, Bool, Integer, Real, String, Data, Array, Dictionary, Decimal, Date, Object };

    KQUValue() = default;
    KQUValue(std::nullptr_t) {}
    KQUValue(bool b) : mStorage(b) {}
    KQUValue(int i) : mStorage(int64_t(i)) {}
    KQUValue(int64_t i) : mStorage(i) {}
    KQUValue(double d) : mStorage(d) {}
    KQUValue(const char* s) : mStorage(std::string(s)) {}
    KQUValue(std::string s) : mStorage(std::move(s)) {}
    KQUValue(KQUData d) : mStorage(std::make_shared<const KQUData>(std::move(d))) {}
    KQUValue(KQUValueArray a) : mStorage(std::make_shared<const KQUValueArray>(std::move(a))) {}
    KQUValue(KQUValueDictionary d)
        : mStorage(std::make_shared<const KQUValueDictionary>(std::move(d))) {}
    KQUValue(KQUDecimal d) : mStorage(d) {}
    KQUValue(KQUDate d) : mStorage(d) {}
    KQUValue(std::shared_ptr<const KQUObject> o) : mStorage(std::move(o)) {}

    Type type() const { return static_cast<Type>(mStorage.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isNumber() const {
        return type() == Type::Bool || type() == Type::Integer || type() == Type::Real ||
               type() == Type::Decimal;
    }
    bool isString() const { return type() == Type::String; }

    // Exact accessors: nullptr when the value is of another type.
    const std::string* string() const { return std::get_if<std::string>(&mStorage); }
    const KQUData* data() const;
    const KQUValueArray* array() const;
    const KQUValueDictionary* dictionary() const;
    const KQUDecimal* decimal() const { return std::get_if<KQUDecimal>(&mStorage); }
    const bool* boolean() const { return std::get_if<bool>(&mStorage); }
    const int64_t* integer() const { return std::get_if<int64_t>(&mStorage); }
    const double* real() const { return std::get_if<double>(&mStorage); }
    const KQUDate* date() const { return std::get_if<KQUDate>(&mStorage); }
    // The object held (nullptr for other types); object<T>() when it is a T.
    std::shared_ptr<const KQUObject> object() const {
        auto p = std::get_if<std::shared_ptr<const KQUObject>>(&mStorage);
        return p ? *p : nullptr;
    }
    template <typename T>
    std::shared_ptr<const T> object() const {
        return std::dynamic_pointer_cast<const T>(object());
    }

    // Coercions as the platform does them: numbers convert, strings are parsed from their
    // leading characters ("12abc" -> 12, "abc" -> 0), anything else is 0 / false.
    int64_t integerValue() const;
    int intValue() const { return static_cast<int>(integerValue()); }
    double doubleValue() const;
    // true for a non-zero number, or a string starting with "Y", "y", "T", "t" or a
    // non-zero digit (after optional blanks, sign and zeros): "YES", "true", "1".
    bool boolValue() const;
    // Strings as they are, numbers in their shortest text, other types nullopt.
    std::optional<std::string> stringValue() const;

    // Dictionary lookup; nullptr when absent or not a dictionary.
    const KQUValue* find(std::string_view key) const;

    bool operator==(const KQUValue& other) const;

private:
    std::variant<std::monostate, bool, int64_t, double, std::string, std::shared_ptr<const KQUData>,
                 std::shared_ptr<const KQUValueArray>, std::shared_ptr<const KQUValueDictionary>, KQUDecimal,
                 KQUDate, std::shared_ptr<const KQUObject>>
        mStorage;
};

// Replaces or appends key in an ordered dictionary.
void KQUDictionarySet(KQUValueDictionary& dictionary, std::string key, KQUValue value);

}  // namespace kqu
