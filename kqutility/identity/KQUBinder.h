// The registry that tells which class handles a given pasteboard type, file or MIME type.
//
// A class is bound as a KQUBoundClass descriptor: its name, the pasteboard, file and MIME
// types it handles, a canOpenFile(path) test for files its types do not name, and the
// application's factory that makes an instance. Look-ups answer the descriptor; a later
// binding of the same type replaces an earlier one.
//
// File types are matched against a path's extension in lower case, so a type declared as
// "JPG" is bound under "jpg" as well (fileTypes() lists the types as declared). A file
// without an extension is looked up by its type code (KQUReadFileTypeCode) as a
// four-character string ("TEXT"); without a binding, the bound classes are asked
// canOpenFile, most recently bound first.
//
// Ownership: the binder keeps the descriptors it is given. Threads: none of its own; bind
// classes at start-up, before other threads look them up, or confine it to one thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kqu {

struct KQUBoundClass {
    std::string name;
    std::vector<std::string> pasteboardTypes;
    std::vector<std::string> fileTypes;
    std::vector<std::string> MIMETypes;
    // Whether the class can open the file at path (may be empty: never).
    std::function<bool(const std::string& path)> canOpenFile;
    // Makes an instance (may be empty when the application makes them itself).
    std::function<std::shared_ptr<void>()> factory;
};

using KQUBoundClassRef = std::shared_ptr<const KQUBoundClass>;

class KQUBinder {
public:
    static KQUBinder& instance();

    KQUBinder() = default;
    KQUBinder(const KQUBinder&) = delete;
    KQUBinder& operator=(const KQUBinder&) = delete;

    // Binds the class (it becomes the most recent) and answers its registered descriptor.
    KQUBoundClassRef bindClass(KQUBoundClass boundClass);

    // The class of the first of types, in their order, that has a binding; else nullptr.
    KQUBoundClassRef classForPasteboard(std::span<const std::string> types) const;
    KQUBoundClassRef classForFile(const std::string& path) const;
    KQUBoundClassRef classForMIMEType(std::string_view type) const;

    // The bound types (sorted); file types as they were declared.
    std::vector<std::string> pasteboardTypes() const;
    std::vector<std::string> fileTypes() const;
    std::vector<std::string> MIMETypes() const;

    // A file's type code as a four-character string, "" when it has none.
    static std::string fileTypeStringOfFile(const std::string& path);

private:
    using Map = std::map<std::string, KQUBoundClassRef, std::less<>>;

    std::vector<KQUBoundClassRef> mBoundClasses;  // most recently bound first
    Map mMIMETypeToClassMap;
    Map mFileTypeToClassMap;  // declared and lower-case forms
    Map mDeclaredFileTypes;   // as declared, for fileTypes()
    Map mPasteboardToClassMap;
};

}  // namespace kqu
