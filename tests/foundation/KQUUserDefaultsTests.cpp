#include <cstdlib>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUUserDefaults.h"
#include "support/KQUTestSupport.h"

using namespace kqu;

namespace {

class UserDefaults : public ::testing::Test {
protected:
    void SetUp() override { KQUUserDefaults::resetStandardUserDefaults(); }
    void TearDown() override {
        ::unsetenv("KQU_DEFAULT_Color");
        KQUUserDefaults::resetStandardUserDefaults();
    }
    KQUUserDefaults& defaults = KQUUserDefaults::standardUserDefaults();
};

TEST_F(UserDefaults, DomainsSearchedEnvironmentThenApplicationThenRegistration) {
    defaults.registerDefaults({{"Color", KQUValue("red")}, {"Size", KQUValue(12)}});
    EXPECT_EQ(defaults.stringForKey("Color"), "red");
    defaults.setObject(KQUValue("green"), "Color");
    EXPECT_EQ(defaults.stringForKey("Color"), "green");
    ::setenv("KQU_DEFAULT_Color", "blue", 1);
    EXPECT_EQ(defaults.stringForKey("Color"), "blue");
    ::unsetenv("KQU_DEFAULT_Color");
    defaults.removeObjectForKey("Color");
    EXPECT_EQ(std::tuple(defaults.stringForKey("Color"), defaults.integerForKey("Size"),
                         defaults.stringForKey("Size")),
              std::tuple(std::string("red"), 12, std::string("12")));
    EXPECT_FALSE(defaults.objectForKey("Missing").has_value() || defaults.boolForKey("Missing"));
}

TEST_F(UserDefaults, SynchronizeWritesAReadableFileThatIsReloaded) {
    defaults.setObject(KQUValue("warning"), "KQULogLevel");
    defaults.setObject(KQUValue(50), "KQUAssertLevel");
    defaults.registerDefaults({{"Factory", KQUValue("not saved")}});
    KQUError error;
    ASSERT_TRUE(defaults.synchronize(&error)) << error.description;
    std::string text = test::readFile(defaults.persistentDomainPath());
    EXPECT_NE(text.find("KQULogLevel = warning\n"), std::string::npos) << text;
    EXPECT_NE(text.find("KQUAssertLevel = 50\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Factory"), std::string::npos);

    test::writeFile(defaults.persistentDomainPath(), text + "# a comment\nbroken line\n  Spaced  =  out  \n");
    KQUUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(defaults.stringForKey("KQULogLevel").value_or("-") + " " +
                  defaults.stringForKey("Spaced").value_or("-"),
              "warning out");
    EXPECT_EQ(defaults.objectForKey("KQUAssertLevel"), KQUValue(50));
    EXPECT_FALSE(defaults.objectForKey("Factory").has_value());
    ::unlink(defaults.persistentDomainPath().c_str());
}

TEST_F(UserDefaults, SynchronizeReportsAnUnwritableFolder) {
    std::string saved = std::getenv("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", "/proc/no-such-place", 1);
    KQUError error;
    EXPECT_TRUE(!defaults.synchronize(&error) && !error.description.empty());
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

}  // namespace
