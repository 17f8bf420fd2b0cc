#include "kqutility/diagnostics/KQUAssertionHandler.h"

#include <cxxabi.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUUserDefaults.h"

namespace kqu {

namespace {
std::atomic<bool> sRaisesForTests{false};
std::atomic<int> sFailuresBeingHandled{0};
std::mutex sHooksLock;
KQUAssertionHandler::Hooks sHooks;

KQUAssertionHandler::Hooks currentHooks() {
    std::lock_guard guard(sHooksLock);
    return sHooks;
}
}  // namespace

bool KQUIsDebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::atol(line.c_str() + 10) != 0;
    }
    return false;
}

std::string detail::demangledTypeName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    std::string result = status == 0 && name ? name.get() : type.name();
    if (result.rfind("kqu::", 0) == 0) result.erase(0, 5);
    return result;
}

KQUAssertionHandler& KQUAssertionHandler::currentHandler() {
    static KQUAssertionHandler handler;
    return handler;
}

void KQUAssertionHandlerTesting::setRaisesForTests(bool raises) { sRaisesForTests = raises; }
bool KQUAssertionHandlerTesting::raisesForTests() { return sRaisesForTests; }

void KQUAssertionHandler::setHooks(Hooks hooks) {
    std::lock_guard guard(sHooksLock);
    sHooks = std::move(hooks);
}

void KQUAssertionHandler::handleFailureInMethod(std::string_view method, std::string_view className,
                                                const void* object, std::string_view file, int line,
                                                std::string_view description) {
    displayAlertWithMessage(fmt::format("Method: {}\nObject: <{} {}>\nFile: {}\nLine #: {}\n{}", method,
                                        className, object, file, line, description));
}

void KQUAssertionHandler::handleFailureInFunction(std::string_view function, std::string_view file, int line,
                                                  std::string_view description) {
    displayAlertWithMessage(
        fmt::format("Function: {}\nFile: {}\n Line #: {}\n{}", function, file, line, description));
}

void KQUAssertionHandler::displayAlertWithMessage(const std::string& message) {
    if (sRaisesForTests) {
        KQULogMessage(fmt::format("Assertion failure: {}", message));
        throw KQUException("AssertionFailure", fmt::format("Assertion Failure:\n{}", message));
    }
    auto assertLevelValue = KQUUserDefaults::standardUserDefaults().objectForKey(KQUAssertLevel);
    int assertLevel = assertLevelValue ? assertLevelValue->intValue() : 10;
    Hooks hooks = currentHooks();
    bool debuggerAttached = hooks.isDebuggerAttached ? hooks.isDebuggerAttached() : KQUIsDebuggerAttached();

    KQULogMessage(fmt::format("Assertion failure: {}", message));

    if (sFailuresBeingHandled.fetch_add(1) != 0) {
        sFailuresBeingHandled.fetch_sub(1);
        return;
    }
    struct Leave {
        ~Leave() { sFailuresBeingHandled.fetch_sub(1); }
    } leave;

    auto exitProcess = [&] {
        if (hooks.exitProcess) hooks.exitProcess(-2);
        else std::exit(-2);
    };
    auto stop = [&] {
        if (hooks.stopInDebugger) hooks.stopInDebugger();
        else std::raise(SIGTRAP);
    };

    if (assertLevel >= 100) {
        KQULogMessage(
            fmt::format("Exiting due to assertion failure and KQUAssertLevel being set to {}", assertLevel));
        exitProcess();
    } else if (assertLevel < 50) {
        if (assertLevel >= 10 && debuggerAttached) stop();
    } else if (debuggerAttached) {
        stop();
    } else if (hooks.alert && hooks.alert(kAlertTitle, message) == KQUAlertResponse::Quit) {
        exitProcess();
    }
}

}  // namespace kqu
