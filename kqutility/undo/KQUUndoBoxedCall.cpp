#include "kqutility/undo/KQUUndoBoxedCall.h"

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

namespace {

constexpr const char* kMethod = "-registerUndoWithTarget:selector:arguments:";

std::string describe(const KQUUndoBoxedArgument& argument) {
    struct Visitor {
        std::string operator()(const KQUValue& v) const {
            if (v.isNull()) return "<null>";
            if (auto s = v.stringValue()) return *s;
            switch (v.type()) {
                case KQUValue::Type::Data:
                    return fmt::format("<{} bytes>", v.data()->size());
                case KQUValue::Type::Array:
                    return fmt::format("<array of {}>", v.array()->size());
                case KQUValue::Type::Dictionary:
                    return fmt::format("<dictionary of {}>", v.dictionary()->size());
                default:
                    return "<value>";
            }
        }
        std::string operator()(const KQUPoint& p) const { return fmt::format("{{{}, {}}}", p.x, p.y); }
        std::string operator()(const KQUSize& s) const {
            return fmt::format("{{{}, {}}}", s.width, s.height);
        }
        std::string operator()(const KQURect& r) const {
            return fmt::format("{{{{{}, {}}}, {{{}, {}}}}}", r.origin.x, r.origin.y, r.size.width,
                               r.size.height);
        }
        std::string operator()(const KQURange& r) const {
            return fmt::format("{{{}, {}}}", r.location, r.length);
        }
        std::string operator()(const std::shared_ptr<void>& o) const {
            return o ? fmt::format("<object 0x{:x}>", reinterpret_cast<uintptr_t>(o.get())) : "<null>";
        }
    };
    return std::visit(Visitor{}, argument);
}

template <class T>
T integerArgument(const KQUUndoBoxedArgument& argument, size_t index, const std::string& code) {
    if (auto value = std::get_if<KQUValue>(&argument)) return static_cast<T>(value->integerValue());
    throw KQUException(NSInvalidArgumentException,
                       fmt::format("Argument {} ({}) cannot be passed as type {} in {}", index,
                                   describe(argument), code, kMethod));
}

KQUUndoCallArgument convert(const KQUUndoBoxedArgument& argument, size_t index, const std::string& code) {
    switch (code.empty() ? '\0' : code[0]) {
        case '@':
        case '#':
            return argument;
        case 'c':
        case 'C': {
            const KQUValue* value = std::get_if<KQUValue>(&argument);
            if (!value) return integerArgument<char>(argument, index, code);
            char c = value->isNumber() ? static_cast<char>(value->integerValue()) : char(value->boolValue());
            if (code[0] == 'C') return static_cast<unsigned char>(c);
            return c;
        }
        case 's':
            return integerArgument<short>(argument, index, code);
        case 'S':
            return integerArgument<unsigned short>(argument, index, code);
        case 'i':
            return integerArgument<int>(argument, index, code);
        case 'I':
            return integerArgument<unsigned int>(argument, index, code);
        case 'l':
            return integerArgument<long>(argument, index, code);
        case 'L':
            return integerArgument<unsigned long>(argument, index, code);
        case 'q':
            return integerArgument<long long>(argument, index, code);
        case 'Q':
            return integerArgument<unsigned long long>(argument, index, code);
        case 'f':
        case 'd': {
            const KQUValue* value = std::get_if<KQUValue>(&argument);
            if (!value)
                throw KQUException(NSInvalidArgumentException,
                                   fmt::format("Argument {} ({}) cannot be passed as type {} in {}", index,
                                               describe(argument), code, kMethod));
            if (code[0] == 'f') return static_cast<float>(value->doubleValue());
            return value->doubleValue();
        }
        case '{': {
            if (auto p = std::get_if<KQUPoint>(&argument)) return *p;
            if (auto s = std::get_if<KQUSize>(&argument)) return *s;
            if (auto r = std::get_if<KQURect>(&argument)) return *r;
            if (auto r = std::get_if<KQURange>(&argument)) return *r;
            throw KQUException(
                NSInvalidArgumentException,
                fmt::format("Encountered an unknown struct argument in {}; only NSSize, NSRect, NSPoint "
                            "or NSRange structs are permitted.",
                            kMethod));
        }
        default:
            throw KQUException(NSInvalidArgumentException,
                               fmt::format("Encountered unhandled type {} in {}", code, kMethod));
    }
}

}  // namespace

std::string KQUDescribeUndoBoxedArguments(std::span<const KQUUndoBoxedArgument> arguments) {
    std::string out = "(";
    for (size_t i = 0; i < arguments.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        out += describe(arguments[i]);
    }
    out += arguments.empty() ? ")" : "\n)";
    return out;
}

std::vector<KQUUndoCallArgument> KQUConvertUndoBoxedArguments(
    const KQUUndoBoxedTarget& target, std::string_view selector,
    std::span<const KQUUndoBoxedArgument> arguments) {
    std::optional<std::vector<std::string>> signature = target.methodSignatureForSelector(selector);
    if (!signature)
        throw KQUException(NSInternalInconsistencyException,
                           fmt::format("Could not get a signature for selector {}", selector));
    if (signature->size() != arguments.size())
        throw KQUException(NSInvalidArgumentException,
                           fmt::format("Mismatch between selector {} and argument array {} passed to {}",
                                       selector, KQUDescribeUndoBoxedArguments(arguments), kMethod));
    std::vector<KQUUndoCallArgument> converted;
    converted.reserve(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i)
        converted.push_back(convert(arguments[i], i, (*signature)[i]));
    return converted;
}

}  // namespace kqu
