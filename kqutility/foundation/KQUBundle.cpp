#include "kqutility/foundation/KQUBundle.h"

#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "kqutility/foundation/KQUResources.h"

namespace kqu {

namespace {
std::mutex sLock;
std::shared_ptr<const KQUBundle> sMainBundle;
std::vector<std::shared_ptr<const KQUBundle>> sFrameworks;
}  // namespace

std::shared_ptr<const KQUBundle> KQUBundle::create(std::string path, std::string identifier) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return std::shared_ptr<const KQUBundle>(new KQUBundle(std::move(path), std::move(identifier), false));
}

std::shared_ptr<const KQUBundle> KQUBundle::libraryBundle() {
    static const std::shared_ptr<const KQUBundle> sBundle(new KQUBundle("", "org.kqutility.KQUtility", true));
    return sBundle;
}

std::shared_ptr<const KQUBundle> KQUBundle::mainBundle() {
    std::lock_guard guard(sLock);
    return sMainBundle;
}

void KQUBundle::setMainBundle(std::shared_ptr<const KQUBundle> bundle) {
    std::lock_guard guard(sLock);
    sMainBundle = std::move(bundle);
}

std::vector<std::shared_ptr<const KQUBundle>> KQUBundle::loadedFrameworks() {
    std::lock_guard guard(sLock);
    return sFrameworks;
}

void KQUBundle::setLoadedFrameworks(std::vector<std::shared_ptr<const KQUBundle>> frameworks) {
    std::lock_guard guard(sLock);
    sFrameworks = std::move(frameworks);
}

std::string KQUBundle::privateFrameworksPath() const { return mEmbedded ? std::string() : mPath + "/Frameworks"; }

std::optional<std::string> KQUBundle::pathForResource(std::string_view name, std::string_view type) const {
    if (mEmbedded || name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    std::string path = mPath + "/Resources/" + std::string(name);
    if (!type.empty()) path += "." + std::string(type);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return path;
}

std::optional<std::string> KQUBundle::resourceContents(std::string_view name, std::string_view type) const {
    if (mEmbedded) {
        std::string file(name);
        if (!type.empty()) file += "." + std::string(type);
        auto bytes = KQUEmbeddedResource(file);
        return bytes ? std::optional<std::string>(std::string(*bytes)) : std::nullopt;
    }
    auto path = pathForResource(name, type);
    if (!path) return std::nullopt;
    std::ifstream in(*path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(out).str();
}

}  // namespace kqu
