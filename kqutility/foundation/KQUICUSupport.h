// Internal bridge between the foundation's text types and ICU, for the library's own
// sources (number, date and search code). Public headers never include this file, so
// callers of the library need not see ICU.
//
// Functions are thread-safe; the aliases returned by KQUAliasICUString borrow the
// caller's characters and must not outlive them.
#pragma once

#include <string>
#include <string_view>

#include <unicode/locid.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include "kqutility/foundation/KQUCharacterSet.h"
#include "kqutility/foundation/KQULocale.h"

namespace kqu {

struct KQUCharacterSet::Impl {
    icu::UnicodeSet set;  // frozen
};

inline const icu::UnicodeSet& KQUICUSet(const KQUCharacterSet& set) {
    return set.impl().set;
}

icu::Locale KQUICULocale(const KQULocale& locale);

// A read-only ICU string over text, without copying.
inline icu::UnicodeString KQUAliasICUString(std::u16string_view text) {
    return icu::UnicodeString(false, text.data(), static_cast<int32_t>(text.size()));
}

inline std::u16string KQUU16String(const icu::UnicodeString& text) {
    return std::u16string(text.getBuffer(), static_cast<size_t>(text.length()));
}

}  // namespace kqu
