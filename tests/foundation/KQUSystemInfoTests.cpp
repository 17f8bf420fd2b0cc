#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kqutility/foundation/KQUNotificationCenter.h"
#include "kqutility/foundation/KQUSystemInfo.h"
#include "support/KQUTestSupport.h"

namespace kqu {
namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

using Files = std::vector<std::pair<std::string, std::string>>;  // path under the root, contents

TEST(KQUSystemInfo, ReadsCgroupLimitsOfFakeTrees) {
    const std::string v2Mounts = "30 22 0:27 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
    const std::string hybridMounts =
        "30 22 0:27 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"
        "34 30 0:31 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
        "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";
    const std::tuple<const char*, Files, std::optional<uint64_t>> trees[] = {
        // name, files, limit
        {"v2 nested: smallest ancestor wins",
         {{"proc/self/mountinfo", v2Mounts},
          {"proc/self/cgroup", "0::/app/job\n"},
          {"sys/fs/cgroup/app/memory.max", "1073741824\n"},
          {"sys/fs/cgroup/app/job/memory.max", "max\n"}},
         1073741824},
        {"v2 all max",
         {{"proc/self/mountinfo", v2Mounts},
          {"proc/self/cgroup", "0::/app\n"},
          {"sys/fs/cgroup/app/memory.max", "max\n"}},
         std::nullopt},
        {"v2 mount of a nested cgroup (cgroup namespace), escaped mount point",
         {{"proc/self/mountinfo", "30 22 0:27 /ns /my\\040cg rw - cgroup2 cgroup2 rw\n"},
          {"proc/self/cgroup", "0::/ns/job\n"},
          {"my cg/job/memory.max", "536870912"},
          {"my cg/memory.max", "garbage"}},
         536870912},
        {"hybrid: v1 memory controller wins over unified",
         {{"proc/self/mountinfo", hybridMounts},
          {"proc/self/cgroup", "4:memory:/box\n0::/\n"},
          {"sys/fs/cgroup/memory/box/memory.limit_in_bytes", "268435456\n"},
          {"sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
          {"sys/fs/cgroup/unified/memory.max", "1024\n"}},
         268435456},
        {"no cgroup mounts", {{"proc/self/mountinfo", "1 0 8:1 / / rw - ext4 /dev/sda rw\n"}}, std::nullopt},
        {"nothing at all", {}, std::nullopt},
    };
    for (const auto& [name, files, limit] : trees) {
        test::TempDir dir;
        for (const auto& [path, text] : files) writeFile(dir.file(path), text);
        EXPECT_EQ(KQUCgroupMemoryLimit(dir.path()), limit) << name;
    }
}

TEST(KQUSystemInfo, UsableMemoryIsTheSmallestOfHardwareCgroupAndAddressSpace) {
    test::TempDir dir;
    writeFile(dir.file("proc/self/mountinfo"), "30 22 0:27 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
    writeFile(dir.file("proc/self/cgroup"), "0::/a\n");
    writeFile(dir.file("sys/fs/cgroup/a/memory.max"), "2147483648\n");
    writeFile(dir.file("proc/meminfo"), "MemTotal:        8388608 kB\nMemFree: 1 kB\n");

    KQUSystemProbe probe{.pageSize = 4096, .root = dir.path()};
    auto probed = [&] {
        auto memory = KQUProbePhysicalMemory(probe);
        return std::tuple(memory.hardwareBytes, memory.usableBytes, memory.limitedBy);
    };
    // Hardware from the fake meminfo.
    EXPECT_EQ(probed(), std::tuple(uint64_t{8589934592}, uint64_t{2147483648}, KQUMemoryLimitSource::Cgroup));
    probe.addressSpaceLimit = 1u << 30;
    EXPECT_EQ(probed(),
              std::tuple(uint64_t{8589934592}, uint64_t{1} << 30, KQUMemoryLimitSource::AddressSpace));
    probe = {.pageSize = 4096, .physicalBytes = 1u << 20, .root = dir.path()};
    EXPECT_EQ(probed(), std::tuple(uint64_t{1} << 20, uint64_t{1} << 20, KQUMemoryLimitSource::Hardware));

    std::filesystem::remove(dir.file("proc/meminfo"));
    EXPECT_FALSE(KQUProbePhysicalMemory({.pageSize = 4096, .root = dir.path()}).known());
}

TEST(KQUNotificationSwitch, OffDropsPostsOnEveryThreadUntilOn) {
    KQUNotificationCenter center;
    std::atomic<int> heard{0};
    center.addObserver(nullptr, "N", nullptr, [&](const KQUNotification&) { ++heard; });
    // Actions: 'f' off, 'n' on, 'p' post, 't' post from another thread.
    const std::pair<std::string_view, int> steps[] = {{"fpnp", 1}, {"ffnp", 1}, {"ftn", 0}, {"t", 1}};
    for (auto [actions, expected] : steps) {
        heard = 0;
        for (char action : actions) {
            if (action == 'f') KQUNotificationCenter::turnOffNotifications();
            if (action == 'n') KQUNotificationCenter::turnOnNotifications();
            if (action == 'p') center.postNotification({"N", nullptr, {}});
            if (action == 't') std::thread([&] { center.postNotificationName("N", nullptr); }).join();
        }
        KQUNotificationCenter::turnOnNotifications();
        EXPECT_EQ(heard, expected) << actions;
    }
}

}  // namespace
}  // namespace kqu
