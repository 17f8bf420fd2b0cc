#include <cstdlib>

#include <gtest/gtest.h>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using kqu::test::LogCapture;
using kqu::test::ScopedDefault;

namespace {

class LogLevel : public ::testing::Test {
protected:
    void SetUp() override {
        KQUUserDefaults::resetStandardUserDefaults();
        KQUResetCachedLogLevel();
    }
    void TearDown() override {
        ::unsetenv("KQU_DEFAULT_KQULogLevel");
        KQUResetCachedLogLevel();
    }
};

TEST_F(LogLevel, NamesInAnyCaseNumbersAndTheEnvironment) {
    {
        LogCapture log;  // absent: errors only
        KQULogError("first {}", 1);
        KQULogWarning("second {}", 2);
        EXPECT_EQ(log.messages(), std::vector<std::string>{"first 1"});
    }
    const std::pair<const char*, int> cases[] = {{"KQUWarning", 10}, {"kquINFORMATIONAL", 100}, {"5", 5}};
    for (auto [name, level] : cases) {
        ScopedDefault d(KQULOG_LEVEL, name);
        EXPECT_TRUE(KQUShouldLog_Fn(level) && !KQUShouldLog_Fn(level + 1)) << name;
    }
    ::setenv("KQU_DEFAULT_KQULogLevel", "warning", 1);
    KQUResetCachedLogLevel();
    EXPECT_TRUE(KQUShouldLog_Fn(KQULogLevelWarning) && !KQUShouldLog_Fn(KQULogLevelInformational));
}

TEST_F(LogLevel, FileNamePrefixAndTopicKeys) {
    ScopedDefault level(KQULOG_LEVEL, "informational");
    ScopedDefault emit(KQULogEmitFilename, "YES");
    LogCapture log;
    KQULog_Fn(KQULogLevelInformational, "/src/kqutility/zip/KQUZipArchive.cpp", "opened {} entries", 3);
    KQULogIf("ProgressDebug", KQULogLevelError, "topic off");
    {
        ScopedDefault topic("ProgressDebug", "true");
        KQULogIf("ProgressDebug", KQULogLevelError, "topic on");
    }
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"(KQUZipArchive.cpp) opened 3 entries",
                                                        "(KQULogTests.cpp) topic on"}));
}

TEST_F(LogLevel, CallerTextIsNotAFormatAndTimingIsInExponentForm) {
    ScopedDefault level(KQULOG_LEVEL, "informational");
    LogCapture log;
    KQULogError("{}", "100% {} %s");
    KQULogTiming(KQULogLevelInformational, "parse", 1000, 1500001000);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"100% {} %s", "parse: 1.500000e+00"}));
}

TEST_F(LogLevel, PerUserLoggingHonoursTheAlias) {
    LogCapture log;
    KQULogForUser_Fn("someone-else-entirely", "hidden");
    EXPECT_FALSE(KQUCurrentUserNameIs_Fn("someone-else-entirely"));
    ScopedDefault alias(KQUUsernameAliasKey, "someone-else-entirely");
    KQULogForUser_Fn("someone-else-entirely", "shown {}", 1);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"shown 1"});
}

}  // namespace
