// Turning loosely typed web addresses into well-formed URLs, and percent escapes.
//
// KQURFC1808URLWithUserEnteredString takes what a person typed in a hyperlink field
// ("www.example.com/a b", "bücher.de", "https://x.org/%20") and builds a URL the way RFC
// 1808 splits one: the scheme ("http" when none was typed; the text before the first
// colon otherwise), user information and port carried over, the host converted to its
// ASCII form by IDNA (UTS #46, nontransitional, STD3 rules, checked bidi and joiners;
// percent escapes in the host decoded as UTF-8 first), path, query and fragment
// percent-escaped unless they already hold escapes. Text that cannot become a valid URL
// gives nullopt.
//
// Strings are UTF-8; escaping works on their bytes. Plain functions; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUURL.h"

namespace kqu {

// True when some "%" is followed by two hexadecimal digits.
[[nodiscard]] bool KQUContainsPercentEscapes(std::string_view text);
// text with every byte other than those RFC 3986 allows in a path or query (unreserved,
// sub-delims, ":", "@", "/", "?") escaped as "%XX"; "%" and "#" are escaped too.
[[nodiscard]] std::string KQUStringByPercentEscaping(std::string_view text);
// Like KQUStringByPercentEscaping, also escaping ";?:@&=+$,".
[[nodiscard]] std::string KQUProperlyEscapedString(std::string_view text);
// text with each of ";?:@&=+$#/%<>'\"\\" replaced by "_<code>_" (":" becomes "_58_"), for
// a name that must survive in URLs and file names.
[[nodiscard]] std::string KQUImproperlyEscapedString(std::string_view text);

[[nodiscard]] std::optional<KQUURL> KQURFC1808URLWithUserEnteredString(std::string_view text);
// The URL of KQUProperlyEscapedString(text).
[[nodiscard]] std::optional<KQUURL> KQURelativeURLWithEscapes(std::string_view text);
// "file://localhost" + the escaped path for an absolute path, "file:" + it otherwise.
[[nodiscard]] std::optional<KQUURL> KQUFilePathURLWithEscapes(std::string_view path);
// True when the URL's relative string differs from its absolute one, or its path does not
// start with "/".
[[nodiscard]] bool KQUURLIsRelative(const KQUURL& url);

// The ASCII form of a host name by IDNA (the options above); an empty host stays empty;
// nullopt when the name cannot be converted.
[[nodiscard]] std::optional<std::string> KQUASCIIHostName(std::string_view host);

}  // namespace kqu
