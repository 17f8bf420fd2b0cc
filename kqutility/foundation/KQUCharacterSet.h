// KQUCharacterSet: an immutable set of Unicode code points, for the scanners of typed
// text (number and date parsers, search) that ask "is this character one of ...".
//
// A set is made from listed characters or from a Unicode property (white space, decimal
// digits, or any ICU set pattern such as "[:Nd:]") and is frozen once made, so lookups
// take no lock. Copies share the same frozen set; a set may be used from any thread.
#pragma once

#include <memory>
#include <string_view>

namespace kqu {

class KQUCharacterSet {
public:
    // The empty set.
    KQUCharacterSet();

    // Exactly the code points of characters (UTF-16; surrogate pairs count as one).
    static KQUCharacterSet withCharacters(std::u16string_view characters);
    // Unicode White_Space (space, tab, line ends, U+00A0, U+2000..U+200A, U+3000, ...).
    static const KQUCharacterSet& whitespace();
    // General category Nd: decimal digits of every script.
    static const KQUCharacterSet& decimalDigits();
    // An ICU set pattern ("[:Nd:]", "[a-z]"); nullptr when the pattern is malformed.
    static std::unique_ptr<KQUCharacterSet> withPattern(std::u16string_view pattern);

    [[nodiscard]] bool contains(char32_t c) const;
    // True when some character of text is in the set.
    [[nodiscard]] bool intersects(std::u16string_view text) const;
    [[nodiscard]] bool isEmpty() const;

    struct Impl;
    const Impl& impl() const { return *mImpl; }

private:
    explicit KQUCharacterSet(std::shared_ptr<const Impl> impl) : mImpl(std::move(impl)) {}
    std::shared_ptr<const Impl> mImpl;
};

}  // namespace kqu
