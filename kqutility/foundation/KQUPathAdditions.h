// Path additions: lexical operations on UTF-8 file paths, for computing where a document's
// parts lie relative to the document and for checking that a stored relative path stays
// inside the folder it names.
//
// Every function here works through one lexical normaliser, KQUNormalizePath: it collapses
// repeated "/" and ".", resolves ".." against the component before it in absolute and
// relative paths alike, keeps the leading ".." of a relative path (there is nothing
// before them to resolve against), drops ".." directly below the root, and resolves no
// symbolic links (the file system is never asked). The current directory is "" (where
// Python's os.path.normpath says ".").
//
// Plain functions; thread-safe (KQUStandardizePath reads $HOME).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kqu {

[[nodiscard]] std::string KQUNormalizePath(std::string_view path);
// "~" and "~/..." expanded from $HOME (the password database when unset), then normalised.
[[nodiscard]] std::string KQUStandardizePath(std::string_view path);
// The components of a normalised path; an absolute path begins with "/".
[[nodiscard]] std::vector<std::string> KQUPathComponents(std::string_view path);

// True when path + "/" + component, normalised, still lies within base, normalised: its
// components begin with all of base's. Absolute and relative paths never contain each
// other, and a result that climbs above a relative base (a leading "..") is outside.
[[nodiscard]] bool KQUIsPathCreatedByAppendingPathComponentInsideBasePath(std::string_view path,
                                                                          std::string_view component,
                                                                          std::string_view base);

// The part of path below base ("" when equal), or nullopt when base is not a prefix of path
// or one is absolute and the other relative.
[[nodiscard]] std::optional<std::string> KQUPathRelativeTo(std::string_view path, std::string_view base);
// With allowBacktracking, a relative path that may climb with "..": the path that leads
// from base to path. nullopt when one is absolute and the other relative, or when the
// way would have to climb out of a leading ".." of base (the name of the folder it
// leaves is not known lexically).
[[nodiscard]] std::optional<std::string> KQUPathRelativeTo(std::string_view path, std::string_view base,
                                                           bool allowBacktracking);

// directory joined with the shortest tail of relativePath whose first component exists in
// directory and that exists as a whole; nullopt when none does. Tails holding ".." or an
// absolute path are never tried, so the result always lies inside directory.
[[nodiscard]] std::optional<std::string> KQUPathToRelativeComponentPath(std::string_view directory,
                                                                        std::string_view relativePath);

}  // namespace kqu
