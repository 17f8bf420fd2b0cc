// Internal consistency checks and what happens when one fails.
//
// Code checks its own assumptions with the macros below; a failure goes to the shared
// KQUAssertionHandler, which logs "Assertion failure: <message>" and then acts on the
// default "KQUAssertLevel" (10 when unset):
//   >= 100  log, then exit the process with status -2;
//   50..99  stop in the debugger when one is attached, otherwise ask the host's alert
//           hook ("Quit" exits with -2, "Continue" goes on; no hook means Continue);
//   10..49  stop in the debugger when one is attached, otherwise continue;
//   < 10    continue.
// A failure raised while another is being handled only logs. Under the library's test
// harness (KQUAssertionHandlerTesting.h, not installed) every failure throws KQUException("AssertionFailure", ...)
// after logging, so tests can see it. After a failure that continues, the caller carries
// on with the fallback its documentation states.
//
//     KQU_ASSERT(offset >= 0, "Offset is too large.");        // in a free function
//     KQU_OBJECT_ASSERT(mFd >= 0, "Using a closed stream");    // in a member function
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <typeinfo>

#include <fmt/format.h>

namespace kqu {

enum class KQUAlertResponse { Quit, Continue };

class KQUAssertionHandler {
public:
    // The points a host application or a test can replace. Unset members keep the
    // built-in behaviour: /proc/self/status TracerPid for the debugger probe,
    // raise(SIGTRAP) to stop, std::exit to quit, no alert (Continue).
    struct Hooks {
        std::function<KQUAlertResponse(std::string_view title, std::string_view message)> alert;
        std::function<bool()> isDebuggerAttached;
        std::function<void()> stopInDebugger;
        std::function<void(int status)> exitProcess;
    };

    static KQUAssertionHandler& currentHandler();

    void handleFailureInMethod(std::string_view method, std::string_view className, const void* object,
                               std::string_view file, int line, std::string_view description);
    void handleFailureInFunction(std::string_view function, std::string_view file, int line,
                                 std::string_view description);
    // The policy above, applied to a finished message.
    void displayAlertWithMessage(const std::string& message);

    void setHooks(Hooks hooks);

    static constexpr const char* kAlertTitle = "An unexpected runtime error has occured!";

private:
    KQUAssertionHandler() = default;
};

// True when a tracer (debugger) is attached to this process.
bool KQUIsDebuggerAttached();

namespace detail {
std::string demangledTypeName(const std::type_info& type);
}

}  // namespace kqu

#define KQU_ASSERT_FAILURE(...)                                                                    \
    ::kqu::KQUAssertionHandler::currentHandler().handleFailureInFunction(__func__, __FILE__, __LINE__, \
                                                                         ::fmt::format(__VA_ARGS__))
#define KQU_ASSERT(condition, ...)                              \
    do {                                                        \
        if (!(condition)) [[unlikely]] KQU_ASSERT_FAILURE(__VA_ARGS__); \
    } while (0)
#define KQU_OBJECT_ASSERT_FAILURE(...)                                                   \
    ::kqu::KQUAssertionHandler::currentHandler().handleFailureInMethod(                  \
        __func__, ::kqu::detail::demangledTypeName(typeid(*this)), static_cast<const void*>(this), \
        __FILE__, __LINE__, ::fmt::format(__VA_ARGS__))
#define KQU_OBJECT_ASSERT(condition, ...)                              \
    do {                                                               \
        if (!(condition)) [[unlikely]] KQU_OBJECT_ASSERT_FAILURE(__VA_ARGS__); \
    } while (0)
