#include "KQUTestSupport.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUUserDefaults.h"

namespace kqu::test {

TempDir::TempDir() {
    std::string base = std::filesystem::temp_directory_path();
    if (const char* t = std::getenv("KQU_TEST_TMPDIR")) {
        std::filesystem::create_directories(t);
        base = t;
    }
    std::string templ = base + "/kqutest.XXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    mPath = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(mPath, ec);
}

LogCapture::LogCapture() {
    KQUSetLogSink([this](std::string_view m) { mMessages.emplace_back(m); });
}
LogCapture::~LogCapture() {
    KQUSetLogSink(nullptr);
}

bool LogCapture::contains(const std::string& fragment) const {
    return std::ranges::any_of(mMessages,
                               [&](const auto& m) { return m.find(fragment) != std::string::npos; });
}

ScopedDefault::ScopedDefault(const std::string& key, const std::string& value) : mKey(key) {
    KQUUserDefaults::standardUserDefaults().setObject(KQUValue(value), key);
    KQUResetCachedLogLevel();
}
ScopedDefault::~ScopedDefault() {
    KQUUserDefaults::standardUserDefaults().removeObjectForKey(mKey);
    KQUResetCachedLogLevel();
}

ContinueAfterAssertions::ContinueAfterAssertions() {
    KQUAssertionHandlerTesting::setRaisesForTests(false);
}
ContinueAfterAssertions::~ContinueAfterAssertions() {
    KQUAssertionHandlerTesting::setRaisesForTests(true);
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

KQUData fromHex(std::string_view hex) {
    if (hex.size() % 2) throw std::invalid_argument("odd hex");
    KQUData bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

std::string toHex(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) hex.append({digits[bytes[i] >> 4], digits[bytes[i] & 15]});
    return hex;
}

std::string patternBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(generator() & 0xff);
    return s;
}

int runCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    int status = ::pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

KquRun runKqu(std::string_view arguments, std::string_view prefix) {
    KquRun run;
    std::string command =
        "{ " + std::string(prefix) + " '" KQU_TOOL_PATH "' " + std::string(arguments) + "; } 2>&1";
    run.status = runCommand(command, &run.output);
    return run;
}

}  // namespace kqu::test
