// Uniform read access to the parts of a saved document, whether it is a directory
// package on disk or a zip file package.
//
// Parts are addressed by relative path ("Index.xml", "Data/picture.png") in both cases.
// A zip package is read through KQUZipArchive with its common root directory stripped,
// so documents zipped together with their enclosing folder read the same as documents
// zipped from inside it; the archive is opened again whenever the file is replaced or
// changed. A path that would leave a directory package (an absolute path, ".." components,
// a symbolic link pointing outside) reads nothing.
//
// A bundle never throws: a missing, damaged or foreign file, a damaged entry, or an
// unreadable part gives nullptr, false or nullopt. It keeps a plain pointer to its
// document, which must outlive it, and is used by one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUData.h"
#include "kqutility/foundation/KQUHasFileName.h"

namespace kqu {

class KQUZipArchive;

class KQUDocumentBundle {
public:
    enum PackageType : int { DirectoryPackage = 0, ZipFilePackage = 1, NoPackage = 2 };

    // Classifies the document's path once: a directory, a zip file (one that starts with
    // a local file header), or neither (missing, or any other file).
    explicit KQUDocumentBundle(const KQUHasFileName* document);
    ~KQUDocumentBundle();
    KQUDocumentBundle(const KQUDocumentBundle&) = delete;
    KQUDocumentBundle& operator=(const KQUDocumentBundle&) = delete;

    std::string bundlePath() const;
    PackageType packageType() const { return mDocumentPackageType; }

    // The part's bytes (a copy); nullptr when there is no such part or it cannot be read.
    // Zip entry names must match exactly.
    KQUDataRef dataForPath(std::string_view relativePath);
    // A zip entry of that name, or a regular file (not a directory) in a directory package.
    bool hasDataForPath(std::string_view relativePath);
    // The names directly inside a directory of the package; nullopt when nothing is
    // there. In a zip package a subdirectory is listed only when it has an entry of its
    // own ("Data/"); names are compared without regard to case.
    std::optional<std::vector<std::string>> directoryContentsAtPath(std::string_view relativePath);

private:
    std::shared_ptr<KQUZipArchive> currentZipArchive();
    // The path of a part inside a directory package, or nullopt when it would leave it.
    std::optional<std::string> pathInsideDirectoryPackage(std::string_view relativePath) const;

    struct FileIdentity {
        uint64_t device = 0, inode = 0;
        int64_t size = 0, modificationNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };

    const KQUHasFileName* mDocument;
    PackageType mDocumentPackageType = NoPackage;
    std::shared_ptr<KQUZipArchive> mZipArchive;
    std::optional<FileIdentity> mZipFileIdentity;
};

}  // namespace kqu
