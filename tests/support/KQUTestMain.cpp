// The main of every test program: assertion failures throw, user defaults come from a
// private configuration folder (never the developer's own), and log output is quiet
// unless a test captures it.
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/foundation/KQUUserDefaults.h"

int main(int argc, char** argv) {
    std::string config = std::filesystem::temp_directory_path() / ("kqutest-config-" + std::to_string(::getpid()));
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::unsetenv("KQU_DEFAULT_KQULogLevel");
    ::unsetenv("KQU_DEFAULT_KQUAssertLevel");
    kqu::KQUUserDefaults::resetStandardUserDefaults();
    kqu::KQUAssertionHandlerTesting::setRaisesForTests(true);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(config, ec);
    return result;
}
