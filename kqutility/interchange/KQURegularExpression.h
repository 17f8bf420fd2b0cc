// KQURegularExpression: a compiled POSIX regular expression (the C library's regcomp and
// regexec) that matches strings by their one-byte-per-UTF-16-unit ASCII form, so that
// match ranges are string indices. Also the e-mail address functions built on one such
// expression.
//
// The ASCII form of a string has one byte per UTF-16 code unit: the unit itself up to
// U+007F and a stand-in byte above ("?" for matching; a surrogate pair gives two). A
// pattern's units above U+007F compile as blanks; a pattern holding U+0000 is refused.
//
// Options: kKQURegularExpressionCaseInsensitive, kKQURegularExpressionDotMatchesNewlines
// ("." and bracket expressions also match newlines; without it "^" and "$" match at line
// ends and brackets never match a newline), kKQURegularExpressionBasicSyntax (basic
// instead of extended syntax).
//
// A value: copies share the compiled pattern and keep pattern and options; equality and
// hash take both. Matching is const and may run on several threads at once.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQURange.h"

namespace kqu {

inline constexpr unsigned kKQURegularExpressionCaseInsensitive = 1;
inline constexpr unsigned kKQURegularExpressionDotMatchesNewlines = 2;
inline constexpr unsigned kKQURegularExpressionBasicSyntax = 4;

class KQURegularExpression {
public:
    // The compiled pattern; nullopt (after logging "*** <function>: error <code>") when it
    // does not compile.
    [[nodiscard]] static std::optional<KQURegularExpression> create(std::u16string_view pattern,
                                                                    unsigned options = 0);

    const std::u16string& expressionString() const { return mPattern; }
    unsigned options() const { return mOptions; }
    size_t numberOfSubexpressions() const;

    // Matches bytes within range (the range is the subject: "^" matches at its start),
    // or the whole NUL-terminated bytes when range.location is KQUNotFound. Answers the
    // whole match in offsets of bytes, or (KQUNotFound, 0). On a match, out[i-1] receives
    // subexpression i for i = 1 .. min(numberOfSubexpressions(), count), (KQUNotFound, 0)
    // for one that took no part and for every other slot; without a match out is left
    // alone. range must lie within the bytes.
    KQURange matchedRangeForCString(const char* bytes, KQURange range, KQURange* out, size_t count) const;
    // The same over string's ASCII form; ranges are indices into the whole string.
    KQURange matchedRangeForString(std::u16string_view string, KQURange range, KQURange* out, size_t count) const;

    // The ASCII form of string with lossByte for each unit above U+007F.
    [[nodiscard]] static std::string bytesForString(std::u16string_view string, char lossByte);

    bool operator==(const KQURegularExpression& other) const {
        return mPattern == other.mPattern && mOptions == other.mOptions;
    }
    size_t hash() const;

private:
    struct Compiled;
    std::u16string mPattern;
    unsigned mOptions = 0;
    std::shared_ptr<const Compiled> mCompiled;
};

// ---- E-mail addresses (RFC 822 style: display names, comments, angle brackets) ----

// The address with comments removed, white space collapsed, and only what stands
// between "<" and ">" when there are angle brackets: "John (x) <john@y.z>" gives
// "john@y.z".
[[nodiscard]] std::u16string KQUUncommentedAddress(std::u16string_view address);
// address unchanged when it holds neither "@" nor "<" (a group name), else
// KQUUncommentedAddress.
[[nodiscard]] std::u16string KQUUncommentedAddressRespectingGroups(std::u16string_view address);
// True when the uncommented address matches the address pattern in full, holds "@",
// and its last "." comes after its first "@".
[[nodiscard]] bool KQUIsLegalEmailAddress(std::u16string_view address);

}  // namespace kqu
