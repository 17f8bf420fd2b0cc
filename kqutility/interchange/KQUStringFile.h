// String-table files written by localization tools: each string becomes an entry whose
// key and value are the string, optionally with a comment, and the file is written
// sorted by key (case-insensitively, ICU case folding; equal keys keep the order they
// were added in) as UTF-16 little-endian with the byte-order mark FF FE.
//
// An entry is written as "/* comment */" on its own line (when it has one), then
// "key" = "value"; and an empty line. Keys and values are escaped (\" \\ \n \r \t), and
// "*/" inside a comment becomes "* /", so every file written reads back with
// KQUParseStringTable to exactly the strings that were added.
//
// Value types; one thread at a time per object.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

class KQUStringFileEntry {
public:
    // Copies rather than moves: GCC 12 warns about moving an optional string here.
    KQUStringFileEntry(std::u16string_view key, std::u16string_view value,
                       const std::optional<std::u16string>& comment = std::nullopt)
        : mKey(key), mValue(value), mComment(comment) {}
    static KQUStringFileEntry entryWithKeyValueComment(std::u16string_view key, std::u16string_view value,
                                                       const std::optional<std::u16string>& comment) {
        return KQUStringFileEntry(key, value, comment);
    }

    const std::u16string& key() const { return mKey; }
    const std::u16string& value() const { return mValue; }
    const std::optional<std::u16string>& comment() const { return mComment; }

    // Case-insensitive comparison of the keys (ICU full case folding); an absent entry
    // compares as the empty key.
    std::weak_ordering compare(const KQUStringFileEntry* other) const;
    // The entry's text as written (comment line, entry line, empty line).
    std::u16string description() const;

private:
    std::u16string mKey;
    std::u16string mValue;
    std::optional<std::u16string> mComment;
};

class KQUStringFile {
public:
    void addString(std::u16string_view string, const std::optional<std::u16string>& comment = std::nullopt);
    const std::vector<KQUStringFileEntry>& entries() const { return mEntries; }

    // Sorts when unsorted, then writes the whole text through KQUAtomicOutputFile (the
    // old file stays until the new one is complete). false, with the reason in *error,
    // when the file cannot be written.
    bool writeToFile(const std::string& path, KQUError* error = nullptr);
    // The bytes writeToFile writes (sorting first when needed).
    std::string fileContents();

private:
    void sort();
    std::vector<KQUStringFileEntry> mEntries;
    bool mSorted = true;
};

}  // namespace kqu
