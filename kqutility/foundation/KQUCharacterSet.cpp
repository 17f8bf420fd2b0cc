#include "kqutility/foundation/KQUCharacterSet.h"

#include <unicode/utf16.h>

#include "kqutility/foundation/KQUICUSupport.h"

namespace kqu {

namespace {
std::shared_ptr<const KQUCharacterSet::Impl> freeze(icu::UnicodeSet set) {
    auto impl = std::make_shared<KQUCharacterSet::Impl>();
    impl->set = std::move(set);
    impl->set.freeze();
    return impl;
}

KQUCharacterSet makeFromPattern(const char16_t* pattern) {
    auto set = KQUCharacterSet::withPattern(pattern);
    return set ? *set : KQUCharacterSet();
}
}  // namespace

KQUCharacterSet::KQUCharacterSet() : mImpl(freeze(icu::UnicodeSet())) {}

KQUCharacterSet KQUCharacterSet::withCharacters(std::u16string_view characters) {
    icu::UnicodeSet set;
    for (size_t i = 0; i < characters.size();) {
        UChar32 c;
        U16_NEXT(characters.data(), i, characters.size(), c);
        set.add(c);
    }
    return KQUCharacterSet(freeze(std::move(set)));
}

const KQUCharacterSet& KQUCharacterSet::whitespace() {
    static const KQUCharacterSet sSet = makeFromPattern(u"[:White_Space:]");
    return sSet;
}

const KQUCharacterSet& KQUCharacterSet::decimalDigits() {
    static const KQUCharacterSet sSet = makeFromPattern(u"[:Nd:]");
    return sSet;
}

std::unique_ptr<KQUCharacterSet> KQUCharacterSet::withPattern(std::u16string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeSet set(KQUAliasICUString(pattern), status);
    if (U_FAILURE(status)) return nullptr;
    return std::unique_ptr<KQUCharacterSet>(new KQUCharacterSet(freeze(std::move(set))));
}

bool KQUCharacterSet::contains(char32_t c) const {
    return mImpl->set.contains(static_cast<UChar32>(c));
}

bool KQUCharacterSet::intersects(std::u16string_view text) const {
    return mImpl->set.span(text.data(), static_cast<int32_t>(text.size()), USET_SPAN_NOT_CONTAINED) <
           static_cast<int32_t>(text.size());
}

bool KQUCharacterSet::isEmpty() const {
    return mImpl->set.isEmpty();
}

}  // namespace kqu
