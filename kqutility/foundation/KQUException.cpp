#include "kqutility/foundation/KQUException.h"

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace kqu {

KQUException::KQUException(std::string name, std::string reason)
    : mName(std::move(name)), mReason(std::move(reason)), mWhat(mName + ": " + mReason) {}

void KQUErrnoRaise(std::string_view name, std::string_view message) {
    KQUErrnoRaise(name, message, errno);
}

void KQUErrnoRaise(std::string_view name, std::string_view message, int errorNumber) {
    throw KQUException(std::string(name), fmt::format("{}: {}", message, std::strerror(errorNumber)));
}

void KQUSetPOSIXError(KQUError* error, int errorNumber, std::string_view context) {
    if (!error) return;
    error->domain = KQUPOSIXErrorDomain;
    error->code = errorNumber;
    error->description = context.empty() ? std::string(std::strerror(errorNumber))
                                         : fmt::format("{}: {}", context, std::strerror(errorNumber));
}

}  // namespace kqu
