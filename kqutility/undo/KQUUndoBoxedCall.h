// Undo calls built from boxed arguments: for callers that hold a method's arguments as
// values (numbers, strings, geometry records, objects) rather than as a closure, such as
// scripting bridges. The target describes each method by the type codes of its arguments
// and is called back with the arguments converted to those types:
//
//     "@", "#"          the boxed argument itself
//     "c", "C"          char from a number, else the truth of the value ("YES" -> 1)
//     "s" "S" "i" "I"   short, int, long, long long (and their unsigned forms) from the
//     "l" "L" "q" "Q"   value's integer coercion
//     "f", "d"          float, double
//     "{..."            a point, size, rectangle or range, as the boxed argument holds
//
// KQUUndoManager::registerUndoWithTarget(target, selector, arguments) converts when it
// registers, so a bad argument is reported to the registering code, not at undo time.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kqutility/foundation/KQUGeometry.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

using KQUUndoBoxedArgument =
    std::variant<KQUValue, KQUPoint, KQUSize, KQURect, KQURange, std::shared_ptr<void>>;

using KQUUndoCallArgument =
    std::variant<KQUUndoBoxedArgument, char, unsigned char, short, unsigned short, int, unsigned int, long,
                 unsigned long, long long, unsigned long long, float, double, KQUPoint, KQUSize, KQURect,
                 KQURange>;

class KQUUndoBoxedTarget {
public:
    virtual ~KQUUndoBoxedTarget() = default;
    // One type code per argument (after the receiver and the selector); nullopt when the
    // target has no method of that name.
    virtual std::optional<std::vector<std::string>> methodSignatureForSelector(
        std::string_view selector) const = 0;
    virtual void performSelectorWithArguments(std::string_view selector,
                                              const std::vector<KQUUndoCallArgument>& arguments) = 0;
};

// Converts arguments for the method selector of target. Throws
// NSInternalInconsistencyException "Could not get a signature for selector <sel>" and
// NSInvalidArgumentException for a count that does not match, an unhandled type code, or
// a structure argument that is not a point, size, rectangle or range.
std::vector<KQUUndoCallArgument> KQUConvertUndoBoxedArguments(
    const KQUUndoBoxedTarget& target, std::string_view selector,
    std::span<const KQUUndoBoxedArgument> arguments);

// "(\n    a,\n    b\n)", as argument arrays are shown in messages.
std::string KQUDescribeUndoBoxedArguments(std::span<const KQUUndoBoxedArgument> arguments);

}  // namespace kqu
