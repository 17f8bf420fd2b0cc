// KQUURL: a small URL value, the least the library needs of the platform's URL class. It
// holds a URL reference as text (optionally relative to a base URL), accepts only text that
// is a well-formed RFC 3986 reference, and answers its parts.
//
// Well-formed means: only the characters RFC 3986 allows (letters, digits, "-._~",
// ":/?#@!$&'()*+,;=", "[" and "]" in the host only), every "%" followed by two hexadecimal
// digits, a scheme of a letter then letters, digits, "+", "-", ".", and a port of digits.
// A relative reference is resolved against its base as RFC 3986 section 5.2 says.
//
// An immutable value; copy it freely and share it between threads.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kqu {

class KQUURL {
public:
    // The URL for text, or nullopt when text is not a well-formed reference (or, with a
    // base, when the base has no scheme).
    [[nodiscard]] static std::optional<KQUURL> fromString(std::string_view text);
    [[nodiscard]] static std::optional<KQUURL> fromString(std::string_view text, const KQUURL& base);
    // True when text is a well-formed RFC 3986 URI reference (the test fromString applies).
    [[nodiscard]] static bool isValidURLString(std::string_view text);

    // The text as given.
    const std::string& relativeString() const { return mRelative; }
    // The text resolved against the base; the relative string when there is no base.
    const std::string& absoluteString() const { return mAbsolute; }
    bool hasBase() const { return mHasBase; }

    // Parts of the absolute string; nullopt when the part is absent (an empty query "?" is
    // present and empty). The path is always there, maybe empty, still escaped.
    std::optional<std::string> scheme() const;
    std::optional<std::string> authority() const;
    std::optional<std::string> host() const;
    std::optional<std::string> port() const;
    std::string path() const;
    std::optional<std::string> query() const;
    std::optional<std::string> fragment() const;

    bool operator==(const KQUURL& other) const { return mAbsolute == other.mAbsolute && mRelative == other.mRelative; }

private:
    std::string mRelative;
    std::string mAbsolute;
    bool mHasBase = false;
};

}  // namespace kqu
