// Test hooks of KQUTemporaryDirectory (internal; not installed): the candidate parent
// folders, and a call made during removal just before a subdirectory is opened, so a
// test can swap a link in at the worst moment.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kqu {

struct KQUTemporaryDirectoryTesting {
    struct Roots {
        std::vector<std::string> nearCandidates;  // tried in order for a path's file system
        std::vector<std::string> userCandidates;  // tried in order without a usable near one
        std::string cacheFolder;                  // the last resort (made 0700 when missing)
    };
    // nullopt restores the system's folders.
    static void setRoots(std::optional<Roots> roots);
    // Called with (directory descriptor, entry name) before a subdirectory is opened.
    static void setRemovalHook(std::function<void(int, const std::string&)> hook);
};

}  // namespace kqu
