#include "kqutility/foundation/KQUPathAdditions.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace kqu {

namespace {

std::vector<std::string_view> split(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string join(const std::vector<std::string>& components, size_t from = 0) {
    std::string out;
    for (size_t i = from; i < components.size(); ++i) {
        if (components[i] == "/") {
            out = "/";
            continue;
        }
        if (!out.empty() && out.back() != '/') out += '/';
        out += components[i];
    }
    return out;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<std::string> KQUPathComponents(std::string_view path) {
    std::vector<std::string> out;
    const bool absolute = !path.empty() && path[0] == '/';
    if (absolute) out.emplace_back("/");
    size_t fixed = out.size();  // components that ".." never removes
    for (std::string_view part : split(path)) {
        if (part == ".") continue;
        if (part == "..") {
            if (out.size() > fixed && out.back() != "..") {
                out.pop_back();
                continue;
            }
            if (absolute) continue;  // ".." of the root is the root
        }
        out.emplace_back(part);
    }
    return out;
}

std::string KQUNormalizePath(std::string_view path) { return join(KQUPathComponents(path)); }

std::string KQUStandardizePath(std::string_view path) {
    if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
        std::string home;
        if (const char* h = std::getenv("HOME"); h && *h) {
            home = h;
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            home = pw->pw_dir;
        }
        if (!home.empty()) return KQUNormalizePath(home + std::string(path.substr(1)));
    }
    return KQUNormalizePath(path);
}

bool KQUIsPathCreatedByAppendingPathComponentInsideBasePath(std::string_view path, std::string_view component,
                                                            std::string_view base) {
    std::string joined = std::string(path) + "/" + std::string(component);
    if (path.empty()) joined = component;
    auto full = KQUPathComponents(KQUStandardizePath(joined));
    auto prefix = KQUPathComponents(KQUStandardizePath(base));
    if (!full.empty() && full[0] == "..") {
        // Above a relative base's folder: inside only when base climbs at least as far.
        size_t climb = 0, baseClimb = 0;
        while (climb < full.size() && full[climb] == "..") ++climb;
        while (baseClimb < prefix.size() && prefix[baseClimb] == "..") ++baseClimb;
        if (climb > baseClimb) return false;
    }
    if (prefix.size() > full.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (prefix[i] != full[i]) return false;
    // Absolute and relative never contain each other (a relative "" base has no "/").
    bool fullAbsolute = !full.empty() && full[0] == "/", baseAbsolute = !prefix.empty() && prefix[0] == "/";
    return fullAbsolute == baseAbsolute;
}

std::optional<std::string> KQUPathRelativeTo(std::string_view path, std::string_view base) {
    return KQUPathRelativeTo(path, base, false);
}

std::optional<std::string> KQUPathRelativeTo(std::string_view path, std::string_view base, bool allowBacktracking) {
    auto to = KQUPathComponents(KQUStandardizePath(path));
    auto from = KQUPathComponents(KQUStandardizePath(base));
    bool toAbsolute = !to.empty() && to[0] == "/", fromAbsolute = !from.empty() && from[0] == "/";
    if (toAbsolute != fromAbsolute) return std::nullopt;
    size_t common = 0;
    while (common < to.size() && common < from.size() && to[common] == from[common]) ++common;
    if (!allowBacktracking) {
        if (common != from.size()) return std::nullopt;
        return join(to, common);
    }
    std::vector<std::string> result;
    for (size_t i = common; i < from.size(); ++i) {
        if (from[i] == "..") return std::nullopt;  // would have to name the folder it climbed out of
        result.emplace_back("..");
    }
    for (size_t i = common; i < to.size(); ++i) result.push_back(to[i]);
    return join(result);
}

std::optional<std::string> KQUPathToRelativeComponentPath(std::string_view directory, std::string_view relativePath) {
    std::vector<std::string_view> parts;
    for (std::string_view part : split(relativePath))
        if (part != ".") parts.push_back(part);
    // Tails holding ".." (or an absolute path: only the whole path could be one) could
    // lead outside directory; they are never tried.
    const bool absolute = !relativePath.empty() && relativePath[0] == '/';
    std::string base(directory);
    if (base.empty()) base = ".";
    for (size_t i = parts.size(); i-- > 0;) {
        if (parts[i] == "..") break;  // every longer tail holds it too
        if (absolute && i == 0) break;
        std::string first = base + "/" + std::string(parts[i]);
        if (!exists(first)) continue;
        std::string whole = first;
        for (size_t j = i + 1; j < parts.size(); ++j) whole += "/" + std::string(parts[j]);
        if (exists(whole)) return whole;
    }
    return std::nullopt;
}

}  // namespace kqu
