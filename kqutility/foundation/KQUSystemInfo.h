// How much memory this process may really use, for the checks an application makes before
// heavy work (opening a table of millions of cells).
//
// The figure starts from the hardware (page size and physical pages from sysconf, or
// MemTotal of /proc/meminfo when sysconf cannot tell) and is lowered to the limits the
// process runs under: the cgroup memory limit (v2 "memory.max" of the process's cgroup
// and of each ancestor, the smallest; "max" means none; or v1 "memory.limit_in_bytes"
// when the memory controller is mounted as v1, as on hybrid hosts) and RLIMIT_AS. Missing
// or unreadable files simply mean "no limit from there".
//
// Every input can be injected through KQUSystemProbe: the figures themselves, and a root
// under which /proc/self/cgroup, /proc/self/mountinfo, /proc/meminfo and the cgroup mount
// points are looked up (a fake tree in tests). The functions keep no state and may be
// called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kqu {

enum class KQUMemoryLimitSource { Hardware, Cgroup, AddressSpace };

struct KQUPhysicalMemory {
    uint64_t pageSize = 0;       // 0: unknown
    uint64_t hardwareBytes = 0;  // physical memory of the machine; 0: unknown
    uint64_t usableBytes = 0;    // the smallest of the hardware and the limits; 0: unknown
    std::optional<uint64_t> cgroupLimitBytes;
    KQUMemoryLimitSource limitedBy = KQUMemoryLimitSource::Hardware;

    bool known() const { return pageSize > 0 && usableBytes > 0; }
};

struct KQUSystemProbe {
    std::optional<uint64_t> pageSize{};
    std::optional<uint64_t> physicalBytes{};
    // RLIMIT_AS in bytes; nullopt asks getrlimit (only when root is "/").
    std::optional<uint64_t> addressSpaceLimit{};
    // Where /proc and the cgroup mounts are found.
    std::string root = "/";
};

[[nodiscard]] KQUPhysicalMemory KQUProbePhysicalMemory(const KQUSystemProbe& probe = {});

// The cgroup memory limit of this process under root, or nullopt when there is none.
[[nodiscard]] std::optional<uint64_t> KQUCgroupMemoryLimit(const std::string& root = "/");

// "cgroup", "hardware" or "address space".
const char* KQUMemoryLimitSourceName(KQUMemoryLimitSource source);

}  // namespace kqu
