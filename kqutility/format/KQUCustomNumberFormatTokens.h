// Custom number format tokens: how a custom format, edited by the user as a row of
// tokens (integer digits, decimal digits, currency, scale, spaces, fraction, text) mixed
// with literal text, travels as plain strings.
//
// A special token is a UTF-16 string of at least two characters: the sentinel U+F8FF,
// the identifier character of its type, then its content; any other string in a token
// list is literal text. Token lists can so be stored in arrays, put on the pasteboard and
// compared as strings. KQUNumberFormat::customNumberFormatTokens() reads a custom
// format's pattern back into such a list.
//
// Tokens come from the pasteboard too, so the readers accept any string: counts of
// malformed tokens are never negative, and characters that a short token lacks read as
// U+0000 (or ""). Plain functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kqu {

inline constexpr int KQUCustomNumberFormatTokenTypeScale = 0;
inline constexpr int KQUCustomNumberFormatTokenTypeInteger = 1;
inline constexpr int KQUCustomNumberFormatTokenTypeDecimal = 2;
inline constexpr int KQUCustomNumberFormatTokenTypeCurrency = 3;
inline constexpr int KQUCustomNumberFormatTokenTypeSpace = 4;
inline constexpr int KQUCustomNumberFormatTokenTypeText = 5;
inline constexpr int KQUCustomNumberFormatTokenTypeFraction = 6;

inline constexpr char16_t KQUCustomNumberFormatTokenScaleIdentifierCharacter = u'S';
inline constexpr char16_t KQUCustomNumberFormatTokenIntegerIdentifierCharacter = u'I';
inline constexpr char16_t KQUCustomNumberFormatTokenDecimalIdentifierCharacter = u'D';
inline constexpr char16_t KQUCustomNumberFormatTokenCurrencyIdentifierCharacter = u'C';
inline constexpr char16_t KQUCustomNumberFormatTokenSpaceIdentifierCharacter = u'P';
inline constexpr char16_t KQUCustomNumberFormatTokenTextIdentifierCharacter = u'T';
inline constexpr char16_t KQUCustomNumberFormatTokenFractionIdentifierCharacter = u'F';

inline constexpr char16_t KQUCustomNumberFormatSentinelCharacter = u'\uF8FF';
inline constexpr char16_t KQUCustomNumberFormatFractionReplacementCharacter = u'\uE420';
inline constexpr char16_t KQUCustomNumberFormatTextReplacementCharacter = u'\uE421';
inline constexpr char16_t KQUCustomNumberFormatSpaceFlexibleCharacter = u'\t';
inline constexpr char16_t KQUCustomNumberFormatSpaceWideCharacter = u'\u2003';
inline constexpr char16_t KQUCustomNumberFormatSpaceNormalCharacter = u' ';
inline constexpr char16_t KQUCustomNumberFormatSpaceNarrowCharacter = u'\u2006';

// The identifier of a token type; another type is reported to the assertion handler
// ("Invalid custom number format token type!") and gives the scale identifier.
char16_t KQUCustomNumberFormatTokenIdentifierCharacterForTokenType(int type);
// "Percent", "Hundreds", ... localized (table Localizable) for "%", "C", "K", "M", "B",
// "T", "E"; "" for any other character.
std::u16string KQUCustomNumberFormatDisplayNameForScaleCharacter(char16_t scaleCharacter);

// Building tokens and their texts.
std::u16string KQUCustomNumberFormatTokenString(int type, std::u16string_view content = {});
// Integer token: digitString n times, then "," when separator.
std::u16string KQUCustomNumberFormatIntegerTokenRepresentedString(uint64_t digits, bool separator,
                                                                   std::u16string_view digitString);
// Decimal token: digitString n + 1 times (the token's digit count is its length - 3).
std::u16string KQUCustomNumberFormatDecimalTokenRepresentedString(uint64_t digits, std::u16string_view digitString);
// n copies of digitString with the current locale's grouping separator before every
// group of its grouping size from the right (when separator and the size is not 0).
std::u16string KQUCustomNumberFormatIntegerTokenDisplayString(int digits, bool separator,
                                                               std::u16string_view digitString);
std::u16string KQUCustomNumberFormatIntegerFormatString(int digits, std::u16string_view digitString);
// The current locale's decimal separator, then n copies of digitString.
std::u16string KQUCustomNumberFormatDecimalTokenDisplayString(uint64_t digits, std::u16string_view digitString);
std::u16string KQUCustomNumberFormatDecimalFormatString(int digits, std::u16string_view digitString,
                                                        bool includeDecimalSeparator);

// Reading tokens.
bool KQUIsSpecialCustomNumberFormatToken(std::u16string_view token);
bool KQUIsSpecialCustomNumberFormatTokenOfType(std::u16string_view token, int type);
// The integer and decimal readers report "Wrong token type!" for another token, then
// answer anyway.
uint64_t KQUNumberOfDigitsInCustomNumberFormatIntegerToken(std::u16string_view token);
bool KQUCustomFormatIntegerTokenUsesSeparator(std::u16string_view token);
uint64_t KQUNumberOfDigitsInCustomNumberFormatDecimalToken(std::u16string_view token);
// "0" if the token holds a "0", else "#" if it holds a "#", else "?".
std::u16string KQUDigitPlaceholderStringInDigitToken(std::u16string_view token);
// The content, or the current locale's currency when the token has none.
std::string KQUCurrencyCodeFromCustomNumberFormatCurrencyToken(std::u16string_view token);
int KQUFractionAccuracyFromCustomNumberFormatFractionToken(std::u16string_view token);
char16_t KQUScaleCharacterInCustomNumberFormatScaleToken(std::u16string_view token);
std::u16string KQUFormatStringFromCustomNumberFormatScaleToken(std::u16string_view token);
char16_t KQUSpaceCharacterInCustomNumberFormatSpaceToken(std::u16string_view token);
// text with "," before every group of the current locale's grouping size, counted from
// the right; unchanged when the locale does not group (size 0).
std::u16string KQUStringByInsertingFormatGroupingSeparators(std::u16string_view text);

}  // namespace kqu
