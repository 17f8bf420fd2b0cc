#include "kqutility/identity/KQUBinder.h"

#include "kqutility/foundation/KQUFileReference.h"

namespace kqu {

namespace {

std::string asciiLower(std::string_view s) {
    std::string lower(s);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The extension of the path's last component ("" when none).
std::string_view extensionOf(std::string_view path) {
    size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

template <typename Map>
std::vector<std::string> keysOf(const Map& map) {
    std::vector<std::string> keys;
    keys.reserve(map.size());
    for (const auto& [key, value] : map) keys.push_back(key);
    return keys;
}

}  // namespace

KQUBinder& KQUBinder::instance() {
    static KQUBinder sInstance;
    return sInstance;
}

KQUBoundClassRef KQUBinder::bindClass(KQUBoundClass boundClass) {
    auto bound = std::make_shared<const KQUBoundClass>(std::move(boundClass));
    mBoundClasses.insert(mBoundClasses.begin(), bound);
    for (const std::string& type : bound->pasteboardTypes)
        mPasteboardToClassMap.insert_or_assign(type, bound);
    for (const std::string& type : bound->fileTypes) {
        mDeclaredFileTypes.insert_or_assign(type, bound);
        mFileTypeToClassMap.insert_or_assign(type, bound);
        // Extensions are looked up in lower case, so "JPG" must answer for "photo.JPG".
        mFileTypeToClassMap.insert_or_assign(asciiLower(type), bound);
    }
    for (const std::string& type : bound->MIMETypes) mMIMETypeToClassMap.insert_or_assign(type, bound);
    return bound;
}

KQUBoundClassRef KQUBinder::classForPasteboard(std::span<const std::string> types) const {
    for (const std::string& type : types)
        if (auto found = mPasteboardToClassMap.find(type); found != mPasteboardToClassMap.end())
            return found->second;
    return nullptr;
}

std::string KQUBinder::fileTypeStringOfFile(const std::string& path) {
    std::optional<uint32_t> code = KQUReadFileTypeCode(path);
    if (!code || *code == 0) return {};
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(*code >> (24 - 8 * i));
    return text;
}

KQUBoundClassRef KQUBinder::classForFile(const std::string& path) const {
    std::string key = asciiLower(extensionOf(path));
    if (key.empty()) key = fileTypeStringOfFile(path);
    if (!key.empty())
        if (auto found = mFileTypeToClassMap.find(key); found != mFileTypeToClassMap.end())
            return found->second;
    for (const KQUBoundClassRef& bound : mBoundClasses)
        if (bound->canOpenFile && bound->canOpenFile(path)) return bound;
    return nullptr;
}

KQUBoundClassRef KQUBinder::classForMIMEType(std::string_view type) const {
    auto found = mMIMETypeToClassMap.find(type);
    return found == mMIMETypeToClassMap.end() ? nullptr : found->second;
}

std::vector<std::string> KQUBinder::pasteboardTypes() const {
    return keysOf(mPasteboardToClassMap);
}
std::vector<std::string> KQUBinder::fileTypes() const {
    return keysOf(mDeclaredFileTypes);
}
std::vector<std::string> KQUBinder::MIMETypes() const {
    return keysOf(mMIMETypeToClassMap);
}

}  // namespace kqu
