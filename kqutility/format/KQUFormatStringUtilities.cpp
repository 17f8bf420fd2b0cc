#include "kqutility/format/KQUFormatStringUtilities.h"

#include "kqutility/diagnostics/KQUAssertionHandler.h"

namespace kqu {

namespace {

bool inRuns(const std::vector<KQURange>& runs, size_t index) {
    for (const auto& r : runs)
        if (index >= r.location && index < r.location + r.length) return true;
    return false;
}

bool isNumberSymbol(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'#' || c == u'@';
}

int64_t firstNumberSymbol(std::u16string_view p) {
    auto runs = KQURangesOfEscapedCharactersInNumberFormatPattern(p);
    for (size_t i = 0; i < p.size(); ++i)
        if (isNumberSymbol(p[i]) && !inRuns(runs, i)) return static_cast<int64_t>(i);
    return -1;
}

int64_t lastNumberSymbol(std::u16string_view p) {
    auto runs = KQURangesOfEscapedCharactersInNumberFormatPattern(p);
    for (size_t i = p.size(); i-- > 0;)
        if (isNumberSymbol(p[i]) && !inRuns(runs, i)) return static_cast<int64_t>(i);
    return -1;
}

}  // namespace

const KQUCharacterSet& KQUNumberFormatNumberSymbols() {
    static const KQUCharacterSet sSet = KQUCharacterSet::withCharacters(u"0123456789#@");
    return sSet;
}

std::vector<KQURange> KQURangesOfEscapedCharactersInNumberFormatPattern(std::u16string_view pattern) {
    std::vector<KQURange> runs;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'\'') continue;
        size_t close = pattern.find(u'\'', i + 1);
        size_t end = close == std::u16string_view::npos ? pattern.size() : close + 1;
        runs.push_back({i, end - i});
        i = end - 1;
    }
    return runs;
}

int64_t KQUIndexOfNumberFormatSubpatternSeparator(std::u16string_view pattern) {
    auto runs = KQURangesOfEscapedCharactersInNumberFormatPattern(pattern);
    for (size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == u';' && !inRuns(runs, i)) return static_cast<int64_t>(i);
    return -1;
}

std::u16string KQUPositiveSubpatternOfNumberFormatPattern(std::u16string_view pattern) {
    int64_t i = KQUIndexOfNumberFormatSubpatternSeparator(pattern);
    return std::u16string(i < 0 ? pattern : pattern.substr(0, static_cast<size_t>(i)));
}

std::u16string KQUNegativeSubpatternOfNumberFormatPattern(std::u16string_view pattern) {
    int64_t i = KQUIndexOfNumberFormatSubpatternSeparator(pattern);
    return i < 0 ? std::u16string() : std::u16string(pattern.substr(static_cast<size_t>(i) + 1));
}

int64_t KQUIndexOfFirstNonPrefixCharacterInNumberFormatSubpattern(std::u16string_view subpattern) {
    int64_t i = firstNumberSymbol(subpattern);
    KQU_ASSERT(i >= 0, "invalid number format subpattern");
    return i;
}

int64_t KQUIndexOfLastNonSuffixCharacterInNumberFormatSubpattern(std::u16string_view subpattern) {
    int64_t i = lastNumberSymbol(subpattern);
    KQU_ASSERT(i >= 0, "invalid number format subpattern");
    return i;
}

std::u16string KQUPrefixOfNumberFormatSubpattern(std::u16string_view subpattern) {
    int64_t i = firstNumberSymbol(subpattern);
    return std::u16string(i < 0 ? subpattern : subpattern.substr(0, static_cast<size_t>(i)));
}

std::u16string KQUSuffixOfNumberFormatSubpattern(std::u16string_view subpattern) {
    int64_t i = lastNumberSymbol(subpattern);
    return i < 0 ? std::u16string() : std::u16string(subpattern.substr(static_cast<size_t>(i) + 1));
}

std::u16string KQUNumberPortionOfNumberFormatSubpattern(std::u16string_view subpattern) {
    int64_t first = firstNumberSymbol(subpattern);
    if (first < 0) return {};
    int64_t last = lastNumberSymbol(subpattern);
    return std::u16string(subpattern.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1)));
}

std::u16string KQUStringByRemovingEscapedCharactersFromNumberFormatPattern(std::u16string_view pattern) {
    std::u16string out;
    auto runs = KQURangesOfEscapedCharactersInNumberFormatPattern(pattern);
    for (size_t i = 0; i < pattern.size(); ++i)
        if (!inRuns(runs, i)) out.push_back(pattern[i]);
    return out;
}

bool KQUIsNumberFormatPattern(std::u16string_view pattern) {
    return KQUNumberFormatNumberSymbols().intersects(KQUStringByRemovingEscapedCharactersFromNumberFormatPattern(pattern));
}

void KQUReplaceOccurrencesOfUnescapedString(std::u16string& pattern, std::u16string_view target,
                                            std::u16string_view replacement) {
    if (target.empty()) return;
    std::u16string out;
    auto runs = KQURangesOfEscapedCharactersInNumberFormatPattern(pattern);
    size_t pos = 0;
    auto replaceIn = [&](size_t begin, size_t end) {
        while (begin < end) {
            size_t found = pattern.find(target, begin);
            if (found == std::u16string::npos || found + target.size() > end) break;
            out.append(pattern, begin, found - begin);
            out.append(replacement);
            begin = found + target.size();
        }
        out.append(pattern, begin, end - begin);
    };
    for (const auto& run : runs) {
        replaceIn(pos, run.location);
        out.append(pattern, run.location, run.length);
        pos = run.location + run.length;
    }
    replaceIn(pos, pattern.size());
    pattern = std::move(out);
}

std::u16string KQUStringBySubstitutingCharactersNumberFormatterDoesntUnderstand(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) {
        if (c == u'\u2212' || c == u'\uFE63' || c == u'\uFF0D') c = u'-';
        else if (c == u'\uFE62' || c == u'\uFF0B') c = u'+';
    }
    return out;
}

std::u16string KQUHalfWidthString(std::u16string_view text) {
    static constexpr char16_t kSigns[] = {u'\u00A2', u'\u00A3', u'\u00AC', u'\u00AF',
                                          u'\u00A6', u'\u00A5', u'\u20A9'};
    std::u16string out(text);
    for (auto& c : out) {
        if (c >= u'\uFF01' && c <= u'\uFF5E') c = static_cast<char16_t>(c - 0xFF01 + 0x21);
        else if (c == u'\u3000') c = u' ';
        else if (c >= u'\uFFE0' && c <= u'\uFFE6') c = kSigns[c - 0xFFE0];
    }
    return out;
}

}  // namespace kqu
