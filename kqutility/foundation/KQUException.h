// The library's exception and error types.
//
// Misuse and malformed data throw KQUException, whose name() and reason() are the
// library's exact texts (callers and tests compare them). Failures of system services
// that a caller is expected to handle are returned as false/nullptr with an optional
// KQUError out-parameter instead. KQUErrnoRaise() is the one way the stream layer
// reports a failed system call: the reason is "<message>: <strerror(errno)>".
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace kqu {

// Names of the general exceptions, kept as the texts callers match on.
inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* NSGenericException = "NSGenericException";
inline constexpr const char* NSRangeException = "NSRangeException";

class KQUException : public std::exception {
public:
    KQUException(std::string name, std::string reason);

    const std::string& name() const noexcept { return mName; }
    const std::string& reason() const noexcept { return mReason; }
    // "<name>: <reason>"
    const char* what() const noexcept override { return mWhat.c_str(); }

private:
    std::string mName;
    std::string mReason;
    std::string mWhat;
};

// Throws KQUException(name, "<message>: <strerror(errno)>"), reading errno on entry.
[[noreturn]] void KQUErrnoRaise(std::string_view name, std::string_view message);
// The same with an explicit error number (for calls that return it instead of setting errno).
[[noreturn]] void KQUErrnoRaise(std::string_view name, std::string_view message, int errorNumber);

// An error reported through an out-parameter: a domain, a code and a readable text.
struct KQUError {
    std::string domain;
    int code = 0;
    std::string description;
};

inline constexpr const char* KQUPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* KQUOSStatusErrorDomain = "NSOSStatusErrorDomain";

// Fills *error (when non-null) from an errno value.
void KQUSetPOSIXError(KQUError* error, int errorNumber, std::string_view context);

}  // namespace kqu
