#include <gmock/gmock.h>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUUserDefaults.h"
#include "support/KQUTestSupport.h"

using namespace kqu;
using kqu::test::ContinueAfterAssertions;
using kqu::test::LogCapture;
using kqu::test::ScopedDefault;

namespace {

struct Widget {
    void check(bool ok) { KQU_OBJECT_ASSERT(ok, "widget {} broken", 7); }
};

void checkFunction(bool ok) {
    KQU_ASSERT(ok, "value was {}", ok);
}

TEST(AssertionHandler, RaisesUnderTestsWithTheFunctionMessage) {
    LogCapture log;
    try {
        checkFunction(false);
        FAIL() << "no exception";
    } catch (const KQUException& e) {
        EXPECT_EQ(e.name(), "AssertionFailure");
        EXPECT_THAT(e.reason(),
                    ::testing::MatchesRegex("Assertion Failure:\nFunction: checkFunction\nFile: "
                                            ".*KQUAssertionHandlerTests.cpp\n Line #: .*\nvalue was false"));
    }
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_TRUE(log.messages()[0].starts_with("Assertion failure: Function: checkFunction"))
        << log.messages()[0];
    EXPECT_NO_THROW(checkFunction(true));
}

TEST(AssertionHandler, MethodMessageNamesClassAndObject) {
    Widget w;
    try {
        w.check(false);
        FAIL() << "no exception";
    } catch (const KQUException& e) {
        // The object line names the class as the compiler spells it, then the address.
        EXPECT_THAT(e.reason(),
                    ::testing::MatchesRegex(fmt::format("Assertion Failure:\nMethod: check\nObject: "
                                                        "<.*Widget {}>\n(.*\n)?widget 7 broken",
                                                        static_cast<const void*>(&w))));
    }
}

// The policy, driven through the hooks so nothing stops or exits for real.
class AssertPolicy : public ::testing::Test {
protected:
    void SetUp() override {
        KQUAssertionHandler::Hooks hooks;
        hooks.isDebuggerAttached = [this] { return debugger; };
        hooks.stopInDebugger = [this] { ++stops; };
        hooks.exitProcess = [this](int status) { exits.push_back(status); };
        hooks.alert = [this](std::string_view title, std::string_view message) {
            ++alerts;
            EXPECT_EQ(title, "An unexpected runtime error has occured!");
            EXPECT_NE(message.find("boom"), std::string_view::npos);
            if (nestedFailure) checkFunction(false);
            return response;
        };
        KQUAssertionHandler::currentHandler().setHooks(hooks);
    }
    void TearDown() override { KQUAssertionHandler::currentHandler().setHooks({}); }

    void fail() { KQUAssertionHandler::currentHandler().displayAlertWithMessage("boom"); }

    ContinueAfterAssertions continuing;
    LogCapture log;
    bool debugger = false;
    bool nestedFailure = false;
    KQUAlertResponse response = KQUAlertResponse::Continue;
    int stops = 0, alerts = 0;
    std::vector<int> exits;
};

TEST_F(AssertPolicy, EachLevelLogsStopsAsksOrExits) {
    fail();  // default 10 without a debugger: only logs
    EXPECT_EQ(log.messages(), std::vector<std::string>{"Assertion failure: boom"});
    // Each step: debugger attached, level, the alert's answer; then stops, alerts and exits so far.
    const struct {
        bool debugger;
        const char* level;
        KQUAlertResponse response;
        int stops, alerts, exits;
    } steps[] = {
        {true, "10", KQUAlertResponse::Continue, 1, 0, 0},  {true, "9", KQUAlertResponse::Continue, 1, 0, 0},
        {false, "50", KQUAlertResponse::Continue, 1, 1, 0}, {false, "50", KQUAlertResponse::Quit, 1, 2, 1},
        {true, "50", KQUAlertResponse::Quit, 2, 2, 1},  // a debugger stops instead of asking
        {false, "100", KQUAlertResponse::Quit, 2, 2, 2},
    };
    for (const auto& s : steps) {
        ScopedDefault level(KQUAssertLevel, s.level);
        debugger = s.debugger;
        response = s.response;
        fail();
        EXPECT_EQ(std::tuple(stops, alerts, exits.size()), std::tuple(s.stops, s.alerts, size_t(s.exits)))
            << s.level;
    }
    EXPECT_EQ(exits, (std::vector<int>{-2, -2}));
    EXPECT_TRUE(log.contains("Exiting due to assertion failure and KQUAssertLevel being set to 100"));
}

TEST_F(AssertPolicy, FailureDuringAnAlertOnlyLogs) {
    ScopedDefault level(KQUAssertLevel, "60");
    nestedFailure = true;
    fail();
    EXPECT_EQ(std::pair(alerts, log.messages().size()), std::pair(1, size_t{2}));
    nestedFailure = false;
    fail();  // the guard was released
    EXPECT_EQ(alerts, 2);
}

}  // namespace
