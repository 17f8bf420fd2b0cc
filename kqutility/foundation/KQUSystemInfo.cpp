#include "kqutility/foundation/KQUSystemInfo.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace kqu {

namespace {

std::string joinRoot(const std::string& root, std::string_view path) {
    if (root.empty() || root == "/") return std::string(path);
    std::string joined = root;
    if (joined.back() == '/') joined.pop_back();
    joined += path;
    return joined;
}

std::optional<std::string> readSmallFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A limit file holds a decimal count of bytes or "max"; anything else is no limit.
std::optional<uint64_t> readLimitFile(const std::string& path) {
    auto text = readSmallFile(path);
    if (!text) return std::nullopt;
    std::string_view s = *text;
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
    uint64_t value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return value;
}

// mountinfo escapes space, tab, newline and backslash as three octal digits.
std::string unescapeMountField(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + i + 1, field.begin() + i + 4, [](char c) { return c >= '0' && c <= '7'; })) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string_view> splitSpaces(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

struct CgroupMount {
    std::string root;        // the cgroup mounted there
    std::string mountPoint;  // without the probe root
};

struct Mounts {
    std::optional<CgroupMount> v2;
    std::optional<CgroupMount> v1Memory;
};

Mounts findCgroupMounts(const std::string& root) {
    Mounts mounts;
    auto text = readSmallFile(joinRoot(root, "/proc/self/mountinfo"));
    if (!text) return mounts;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        auto fields = splitSpaces(line);
        auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4) continue;
        std::string_view type = dash[1];
        std::string_view superOptions = dash[3];
        CgroupMount mount{unescapeMountField(fields[3]), unescapeMountField(fields[4])};
        if (type == "cgroup2") {
            if (!mounts.v2) mounts.v2 = mount;
        } else if (type == "cgroup") {
            std::string options = "," + std::string(superOptions) + ",";
            if (options.find(",memory,") != std::string::npos && !mounts.v1Memory) mounts.v1Memory = mount;
        }
    }
    return mounts;
}

// The process's path in the hierarchy whose controller list names controller (v2: the
// "0::" line, given as an empty controller).
std::optional<std::string> cgroupPath(const std::string& root, std::string_view controller) {
    auto text = readSmallFile(joinRoot(root, "/proc/self/cgroup"));
    if (!text) return std::nullopt;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t first = line.find(':');
        size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        std::string_view controllers = std::string_view(line).substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (controller.empty()) {
            if (line.compare(0, first, "0") == 0 && controllers.empty()) return path;
            continue;
        }
        std::string list = "," + std::string(controllers) + ",";
        if (list.find("," + std::string(controller) + ",") != std::string::npos) return path;
    }
    return std::nullopt;
}

// The smallest limit in file named fileName of the process's cgroup directory and of
// every ancestor up to the mount point.
std::optional<uint64_t> smallestLimitAlongPath(const std::string& root, const CgroupMount& mount,
                                               const std::string& path, const char* fileName) {
    std::string relative = path;
    // The mount shows the cgroup mount.root; the process's path is relative to that.
    if (mount.root != "/" && relative.compare(0, mount.root.size(), mount.root) == 0)
        relative = relative.substr(mount.root.size());
    if (relative.find("/..") != std::string::npos) relative.clear();  // outside our view
    while (!relative.empty() && relative.back() == '/') relative.pop_back();
    std::optional<uint64_t> smallest;
    std::string base = joinRoot(root, mount.mountPoint);
    while (true) {
        if (auto limit = readLimitFile(base + relative + "/" + fileName))
            smallest = smallest ? std::min(*smallest, *limit) : *limit;
        if (relative.empty()) break;
        relative.erase(relative.rfind('/'));
    }
    return smallest;
}

std::optional<uint64_t> memTotalFromMeminfo(const std::string& root) {
    auto text = readSmallFile(joinRoot(root, "/proc/meminfo"));
    if (!text) return std::nullopt;
    std::istringstream lines(*text);
    std::string key;
    uint64_t kilobytes = 0;
    while (lines >> key >> kilobytes) {
        if (key == "MemTotal:") return kilobytes * 1024;
        lines.ignore(256, '\n');
    }
    return std::nullopt;
}

}  // namespace

std::optional<uint64_t> KQUCgroupMemoryLimit(const std::string& root) {
    Mounts mounts = findCgroupMounts(root);
    // A hybrid host mounts v2 as well, but its memory controller then lives in v1.
    if (mounts.v1Memory) {
        auto path = cgroupPath(root, "memory");
        return smallestLimitAlongPath(root, *mounts.v1Memory, path.value_or("/"), "memory.limit_in_bytes");
    }
    if (mounts.v2) {
        auto path = cgroupPath(root, "");
        return smallestLimitAlongPath(root, *mounts.v2, path.value_or("/"), "memory.max");
    }
    return std::nullopt;
}

KQUPhysicalMemory KQUProbePhysicalMemory(const KQUSystemProbe& probe) {
    const bool realSystem = probe.root.empty() || probe.root == "/";
    KQUPhysicalMemory memory;
    if (probe.pageSize) {
        memory.pageSize = *probe.pageSize;
    } else if (long pageSize = ::sysconf(_SC_PAGESIZE); pageSize > 0) {
        memory.pageSize = static_cast<uint64_t>(pageSize);
    }
    if (probe.physicalBytes) {
        memory.hardwareBytes = *probe.physicalBytes;
    } else {
        long pages = realSystem ? ::sysconf(_SC_PHYS_PAGES) : -1;
        if (pages > 0 && memory.pageSize > 0)
            memory.hardwareBytes = static_cast<uint64_t>(pages) * memory.pageSize;
        else
            memory.hardwareBytes = memTotalFromMeminfo(probe.root).value_or(0);
    }
    memory.usableBytes = memory.hardwareBytes;
    if (memory.hardwareBytes == 0) return memory;

    memory.cgroupLimitBytes = KQUCgroupMemoryLimit(probe.root);
    if (memory.cgroupLimitBytes && *memory.cgroupLimitBytes < memory.usableBytes) {
        memory.usableBytes = *memory.cgroupLimitBytes;
        memory.limitedBy = KQUMemoryLimitSource::Cgroup;
    }
    std::optional<uint64_t> addressSpace = probe.addressSpaceLimit;
    if (!addressSpace && realSystem) {
        struct rlimit limit;
        if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) addressSpace = limit.rlim_cur;
    }
    if (addressSpace && *addressSpace < memory.usableBytes) {
        memory.usableBytes = *addressSpace;
        memory.limitedBy = KQUMemoryLimitSource::AddressSpace;
    }
    return memory;
}

const char* KQUMemoryLimitSourceName(KQUMemoryLimitSource source) {
    switch (source) {
        case KQUMemoryLimitSource::Cgroup: return "cgroup";
        case KQUMemoryLimitSource::AddressSpace: return "address space";
        case KQUMemoryLimitSource::Hardware: break;
    }
    return "hardware";
}

}  // namespace kqu
