// kqu defaults: write, read and delete in the user's defaults file; bad keys refused.
#include <gtest/gtest.h>

#include "support/KQUTestSupport.h"

namespace kqu::test {
namespace {

TEST(KquDefaults, WritesReadsAndDeletes) {
    TempDir dir;
    std::string env = "XDG_CONFIG_HOME=" + dir.path();
    ASSERT_EQ(runKqu("defaults write KQULogLevel warning", env).status, 0);
    EXPECT_NE(readFile(dir.file("kqutility/kqu.defaults")).find("KQULogLevel = warning\n"),
              std::string::npos);
    auto read = runKqu("defaults read KQULogLevel", env);
    EXPECT_EQ(read.output, "warning\n");
    ASSERT_EQ(runKqu("defaults delete KQULogLevel", env).status, 0);
    EXPECT_EQ(runKqu("defaults read KQULogLevel", env).status, 1);
    auto bad = runKqu("defaults write 'bad key' x", env);
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.output, "kqu: invalid key 'bad key'\n");
}

}  // namespace
}  // namespace kqu::test
