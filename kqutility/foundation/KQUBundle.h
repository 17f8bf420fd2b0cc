// Bundles: a directory that ships resources with a piece of code, as the suite's
// applications and their frameworks do. A bundle has a path, an identifier, resources
// in <path>/Resources/<name>.<type> and, for an application, private frameworks in
// <path>/Frameworks.
//
// The host application says which bundle is the main one and which frameworks it has
// loaded, in load order (setMainBundle, setLoadedFrameworks); nothing is discovered by
// looking at the running process. The library's own bundle (libraryBundle) has no
// directory: its resources are the ones embedded in the library at build time.
//
// Bundles are immutable and shared (std::shared_ptr); the main bundle and the loaded
// frameworks are process-wide settings read and written under a lock.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqu {

class KQUBundle {
public:
    // nullptr when path is not a directory.
    static std::shared_ptr<const KQUBundle> create(std::string path, std::string identifier = {});
    static std::shared_ptr<const KQUBundle> libraryBundle();

    static std::shared_ptr<const KQUBundle> mainBundle();
    static void setMainBundle(std::shared_ptr<const KQUBundle> bundle);
    static std::vector<std::shared_ptr<const KQUBundle>> loadedFrameworks();
    static void setLoadedFrameworks(std::vector<std::shared_ptr<const KQUBundle>> frameworks);

    const std::string& bundlePath() const { return mPath; }  // "" for the library bundle
    const std::string& bundleIdentifier() const { return mIdentifier; }
    // <path>/Frameworks; "" for the library bundle.
    std::string privateFrameworksPath() const;
    // <path>/Resources/<name>.<type> when that file exists.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;
    // The bytes of a resource (read from its file, or embedded for the library bundle).
    std::optional<std::string> resourceContents(std::string_view name, std::string_view type) const;

private:
    KQUBundle(std::string path, std::string identifier, bool embedded)
        : mPath(std::move(path)), mIdentifier(std::move(identifier)), mEmbedded(embedded) {}
    std::string mPath;
    std::string mIdentifier;
    bool mEmbedded;
};

}  // namespace kqu
