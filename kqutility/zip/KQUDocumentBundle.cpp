#include "kqutility/zip/KQUDocumentBundle.h"

#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/zip/KQUZipArchive.h"

namespace kqu {

namespace {

// Path components as the platform splits them: a leading slash is a component "/", empty
// pieces are dropped, and a trailing slash is a component "/" of its own.
std::vector<std::string_view> pathComponents(std::string_view path) {
    std::vector<std::string_view> components;
    if (path.empty()) return components;
    if (path.front() == '/') components.push_back("/");
    size_t start = 0;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash > start) components.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    if (path.size() > 1 && path.back() == '/') components.push_back("/");
    return components;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    icu::UnicodeString ua =
        icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())));
    icu::UnicodeString ub =
        icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size())));
    return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

}  // namespace

KQUDocumentBundle::KQUDocumentBundle(const KQUHasFileName* document) : mDocument(document) {
    try {
        std::string path = bundlePath();
        struct stat info {};
        if (path.empty() || ::stat(path.c_str(), &info) != 0)
            mDocumentPackageType = NoPackage;
        else if (S_ISDIR(info.st_mode))
            mDocumentPackageType = DirectoryPackage;
        else if (KQUZipArchive::isZipArchiveAtPath(path))
            mDocumentPackageType = ZipFilePackage;
        else
            mDocumentPackageType = NoPackage;
    } catch (...) {
        mDocumentPackageType = NoPackage;
    }
}

KQUDocumentBundle::~KQUDocumentBundle() = default;

std::string KQUDocumentBundle::bundlePath() const {
    return mDocument ? mDocument->fileName() : std::string();
}

std::shared_ptr<KQUZipArchive> KQUDocumentBundle::currentZipArchive() {
    if (mDocumentPackageType != ZipFilePackage) return mZipArchive;
    std::string path = bundlePath();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        mZipArchive.reset();
        mZipFileIdentity.reset();
        return nullptr;
    }
    FileIdentity identity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                          static_cast<int64_t>(info.st_size),
                          static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
    // Any change of the file (a newer save, a replacement, even one with an older date)
    // opens it again.
    if (mZipArchive && mZipFileIdentity == identity) return mZipArchive;
    try {
        mZipArchive = std::make_shared<KQUZipArchive>(path, true);
        mZipFileIdentity = identity;
    } catch (const std::exception& e) {
        KQULogInfo("Could not open the document package {}: {}", path, e.what());
        mZipArchive.reset();
        mZipFileIdentity.reset();
    } catch (...) {
        mZipArchive.reset();
        mZipFileIdentity.reset();
    }
    return mZipArchive;
}

std::optional<std::string> KQUDocumentBundle::pathInsideDirectoryPackage(
    std::string_view relativePath) const {
    if (relativePath.empty() || relativePath.front() == '/') return std::nullopt;
    for (std::string_view component : pathComponents(relativePath))
        if (component == "..") return std::nullopt;
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path root = fs::weakly_canonical(fs::path(bundlePath()), error);
    if (error) return std::nullopt;
    fs::path joined = fs::path(bundlePath()) / fs::path(std::string(relativePath));
    fs::path resolved = fs::weakly_canonical(joined, error);
    if (error) return std::nullopt;
    // Symbolic links inside the package must not lead out of it.
    auto [rootEnd, _] = std::mismatch(root.begin(), root.end(), resolved.begin(), resolved.end());
    if (rootEnd != root.end()) return std::nullopt;
    return joined.string();
}

KQUDataRef KQUDocumentBundle::dataForPath(std::string_view relativePath) {
    try {
        if (mDocumentPackageType == ZipFilePackage) {
            auto archive = currentZipArchive();
            if (!archive) return nullptr;
            auto entry = archive->entryWithName(relativePath);
            if (!entry) return nullptr;
            KQUDataRef data = entry->data();
            return data ? KQUMakeData(KQUData(data->begin(), data->end())) : nullptr;
        }
        if (mDocumentPackageType == DirectoryPackage) {
            auto path = pathInsideDirectoryPackage(relativePath);
            if (!path) return nullptr;
            struct stat info {};
            if (::stat(path->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
            std::ifstream in(*path, std::ios::binary);
            if (!in) return nullptr;
            KQUData bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (in.bad()) return nullptr;
            return KQUMakeData(std::move(bytes));
        }
    } catch (const std::exception& e) {
        KQULogInfo("Could not read {} of the document package {}: {}", relativePath, bundlePath(), e.what());
    } catch (...) {
    }
    return nullptr;
}

bool KQUDocumentBundle::hasDataForPath(std::string_view relativePath) {
    try {
        if (mDocumentPackageType == ZipFilePackage) {
            auto archive = currentZipArchive();
            return archive && archive->entryWithName(relativePath) != nullptr;
        }
        if (mDocumentPackageType == DirectoryPackage) {
            auto path = pathInsideDirectoryPackage(relativePath);
            struct stat info {};
            return path && ::stat(path->c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
        }
    } catch (...) {
    }
    return false;
}

std::optional<std::vector<std::string>> KQUDocumentBundle::directoryContentsAtPath(
    std::string_view relativePath) {
    try {
        while (relativePath.size() > 1 && relativePath.back() == '/') relativePath.remove_suffix(1);
        if (mDocumentPackageType == ZipFilePackage) {
            auto archive = currentZipArchive();
            if (!archive) return std::nullopt;
            std::vector<std::string_view> wanted = pathComponents(relativePath);
            size_t c = wanted.size();
            std::vector<std::string> names;
            for (const std::string& name : archive->allEntryNames()) {
                std::vector<std::string_view> components = pathComponents(name);
                bool isFile = components.size() == c + 1 && components.back() != "/";
                bool isDirectory = components.size() == c + 2 && components.back() == "/";
                if (!isFile && !isDirectory) continue;
                bool matches = true;
                for (size_t i = 0; i < c && matches; ++i)
                    matches = equalIgnoringCase(components[i], wanted[i]);
                if (matches) names.emplace_back(components[c]);
            }
            if (names.empty()) return std::nullopt;
            return names;
        }
        if (mDocumentPackageType == DirectoryPackage) {
            std::optional<std::string> path = relativePath.empty() ? std::optional<std::string>(bundlePath())
                                                                   : pathInsideDirectoryPackage(relativePath);
            if (!path) return std::nullopt;
            std::error_code error;
            std::vector<std::string> names;
            for (std::filesystem::directory_iterator it(*path, error), end; !error && it != end;
                 it.increment(error))
                names.push_back(it->path().filename().string());
            if (error) return std::nullopt;
            std::sort(names.begin(), names.end());
            return names;
        }
    } catch (...) {
    }
    return std::nullopt;
}

}  // namespace kqu
