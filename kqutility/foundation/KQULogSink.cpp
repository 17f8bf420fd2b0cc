#include "kqutility/foundation/KQULogSink.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include <fmt/format.h>

extern char* program_invocation_short_name;

namespace kqu {

namespace {
std::recursive_mutex& sinkLock() {
    static std::recursive_mutex lock;
    return lock;
}
KQULogSink& currentSink() {
    static KQULogSink sink;
    return sink;
}
}  // namespace

std::string KQUFormatLogLine(std::string_view message) {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return fmt::format("{}.{:03d} {}[{}:{}] {}", stamp, millis,
                       program_invocation_short_name ? program_invocation_short_name : "?", ::getpid(),
                       static_cast<long>(::syscall(SYS_gettid)), message);
}

void KQULogMessage(std::string_view message) {
    std::lock_guard guard(sinkLock());
    if (currentSink()) {
        currentSink()(message);
        return;
    }
    std::string line = KQUFormatLogLine(message);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

KQULogSink KQUSetLogSink(KQULogSink sink) {
    std::lock_guard guard(sinkLock());
    KQULogSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

}  // namespace kqu
