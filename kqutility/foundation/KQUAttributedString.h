// Text with attributes: a UTF-16 string whose characters carry named attributes
// (name -> KQUValue) in runs, as a document's styled text does. Regression equations use
// it to mark indices and powers with KQUSuperscriptAttributeName.
//
// Indices and lengths count UTF-16 code units, as every text range of the library does.
// Ranges are KQURange records whose end is computed in 64 bits; a range reaching past the
// end of the text is refused with KQUException(NSRangeException), never clipped.
// Runs are kept normalised (no empty runs, no two neighbours with equal attributes), so
// two strings are equal exactly when their text and per-character attributes are equal,
// however they were built.
//
// A value type: copy it freely. Not synchronised; one thread at a time per object.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUGeometry.h"
#include "kqutility/foundation/KQUValue.h"

namespace kqu {

// The font of the characters: a dictionary {"name": string, "size": real} made by
// KQUFontAttributeValue. The system fonts are named by the two names below; a host maps
// them to its real faces when it draws.
inline constexpr const char* KQUFontAttributeName = "NSFont";
inline constexpr const char* KQUSystemFontName = ".SystemFont";
inline constexpr const char* KQUBoldSystemFontName = ".SystemFont-Bold";
// The size of the system font in points.
inline constexpr double KQUSystemFontSize = 13.0;

[[nodiscard]] inline KQUValue KQUFontAttributeValue(std::string name, double size) {
    return KQUValue(KQUValueDictionary{{"name", KQUValue(std::move(name))}, {"size", KQUValue(size)}});
}

// Integer value: +1 superscript (a power), -1 subscript (an index), 0 baseline.
inline constexpr const char* KQUSuperscriptAttributeName = "NSSuperscript";

class KQUAttributedString {
public:
    using Attributes = std::map<std::string, KQUValue, std::less<>>;

    KQUAttributedString() = default;
    explicit KQUAttributedString(std::u16string text, Attributes attributes = {});

    const std::u16string& string() const { return mText; }
    uint64_t length() const { return mText.size(); }

    // Appends text carrying exactly the given attributes (none by default); it does not
    // inherit those of the character before it.
    void append(std::u16string_view text, const Attributes& attributes = {});
    void append(const KQUAttributedString& other);

    // Sets attribute name to value over range, replacing any earlier value there.
    // Throws NSRangeException when the range reaches past the end.
    void addAttribute(std::string_view name, const KQUValue& value, KQURange range);
    void removeAttribute(std::string_view name, KQURange range);

    // The attributes of the character at index, and in *effectiveRange (when given) the
    // whole run of characters sharing them. Throws NSRangeException when index >= length().
    const Attributes& attributes(uint64_t index, KQURange* effectiveRange = nullptr) const;
    // The value of one attribute at index (nullptr when absent), and in *effectiveRange the
    // longest range around index over which that attribute has the same value (or is
    // equally absent). Throws NSRangeException when index >= length().
    const KQUValue* attribute(std::string_view name, uint64_t index,
                              KQURange* effectiveRange = nullptr) const;

    bool operator==(const KQUAttributedString& other) const = default;

private:
    struct Run {
        uint64_t length;
        Attributes attributes;
        bool operator==(const Run&) const = default;
    };
    void checkRange(KQURange range) const;
    void splitAt(uint64_t position);
    void normalise();
    size_t runIndexAt(uint64_t index, uint64_t* runStart) const;
    template <typename Change>
    void changeRange(KQURange range, Change change);

    std::u16string mText;
    std::vector<Run> mRuns;  // lengths sum to mText.size()
};

}  // namespace kqu
