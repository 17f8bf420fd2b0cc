// Utilities over number patterns (ICU decimal pattern syntax): quoted runs, the positive
// and negative subpatterns, prefix, number portion and suffix, and the clean-ups applied
// to typed text before it is parsed.
//
// In a pattern, ";" separates the positive from the negative subpattern, "'" quotes
// literal text ("''" is a quote character) and "0123456789#@" are the number symbols; a
// quoted run reaches from an opening "'" to its closing "'" inclusive, or to the end when
// it is not closed. Patterns and text are UTF-16; indexes are UTF-16 units. Plain
// functions, thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kqutility/foundation/KQUCharacterSet.h"
#include "kqutility/foundation/KQUGeometry.h"

namespace kqu {

// "0123456789#@".
const KQUCharacterSet& KQUNumberFormatNumberSymbols();

// The quoted runs of pattern in order; empty when there are none.
std::vector<KQURange> KQURangesOfEscapedCharactersInNumberFormatPattern(std::u16string_view pattern);
// Index of the first ";" outside quoted runs, or -1.
int64_t KQUIndexOfNumberFormatSubpatternSeparator(std::u16string_view pattern);
// The text before that ";" (the whole pattern when there is none) / after it ("" if none).
std::u16string KQUPositiveSubpatternOfNumberFormatPattern(std::u16string_view pattern);
std::u16string KQUNegativeSubpatternOfNumberFormatPattern(std::u16string_view pattern);

// Index of the first / last number symbol outside quoted runs. A subpattern without one
// is reported to the assertion handler ("invalid number format subpattern"); the result
// is then -1.
int64_t KQUIndexOfFirstNonPrefixCharacterInNumberFormatSubpattern(std::u16string_view subpattern);
int64_t KQUIndexOfLastNonSuffixCharacterInNumberFormatSubpattern(std::u16string_view subpattern);
// The text before the first number symbol, after the last, and from the first to the
// last. A subpattern without number symbols is all prefix: prefix = the subpattern,
// suffix and number portion = "".
std::u16string KQUPrefixOfNumberFormatSubpattern(std::u16string_view subpattern);
std::u16string KQUSuffixOfNumberFormatSubpattern(std::u16string_view subpattern);
std::u16string KQUNumberPortionOfNumberFormatSubpattern(std::u16string_view subpattern);

std::u16string KQUStringByRemovingEscapedCharactersFromNumberFormatPattern(std::u16string_view pattern);
// Outside its quoted runs, pattern holds a number symbol.
bool KQUIsNumberFormatPattern(std::u16string_view pattern);
// Replaces, in place, the occurrences of target that lie outside quoted runs.
void KQUReplaceOccurrencesOfUnescapedString(std::u16string& pattern, std::u16string_view target,
                                            std::u16string_view replacement);

// Typed text made readable by ICU's strict parser: U+2212, U+FE63, U+FF0D become "-",
// U+FE62, U+FF0B become "+".
std::u16string KQUStringBySubstitutingCharactersNumberFormatterDoesntUnderstand(std::u16string_view text);
// Full-width forms to their ordinary width: U+FF01..U+FF5E to U+0021..U+007E, the
// ideographic space U+3000 to a space, and U+FFE0..U+FFE6 to the cent, pound, not,
// macron, broken bar, yen and won signs.
std::u16string KQUHalfWidthString(std::u16string_view text);

}  // namespace kqu
