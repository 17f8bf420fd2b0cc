#include "kqutility/foundation/KQUAttributedString.h"

#include <fmt/format.h>

#include "kqutility/foundation/KQUException.h"

namespace kqu {

KQUAttributedString::KQUAttributedString(std::u16string text, Attributes attributes)
    : mText(std::move(text)) {
    if (!mText.empty()) mRuns.push_back({mText.size(), std::move(attributes)});
}

void KQUAttributedString::append(std::u16string_view text, const Attributes& attributes) {
    if (text.empty()) return;
    mText.append(text);
    if (!mRuns.empty() && mRuns.back().attributes == attributes)
        mRuns.back().length += text.size();
    else
        mRuns.push_back({text.size(), attributes});
}

void KQUAttributedString::append(const KQUAttributedString& other) {
    // Copy first: other may be *this.
    std::vector<Run> runs = other.mRuns;
    mText.append(other.mText);
    mRuns.insert(mRuns.end(), runs.begin(), runs.end());
    normalise();
}

void KQUAttributedString::checkRange(KQURange range) const {
    uint64_t size = mText.size();
    if (range.location > size || range.length > size - range.location)
        throw KQUException(NSRangeException, fmt::format("Range {{{}, {}}} out of bounds; string length {}",
                                                         range.location, range.length, size));
}

size_t KQUAttributedString::runIndexAt(uint64_t index, uint64_t* runStart) const {
    uint64_t start = 0;
    for (size_t i = 0; i < mRuns.size(); ++i) {
        if (index < start + mRuns[i].length) {
            *runStart = start;
            return i;
        }
        start += mRuns[i].length;
    }
    throw KQUException(NSRangeException,
                       fmt::format("Index {} out of bounds; string length {}", index, mText.size()));
}

void KQUAttributedString::splitAt(uint64_t position) {
    uint64_t start = 0;
    for (size_t i = 0; i < mRuns.size(); ++i) {
        uint64_t end = start + mRuns[i].length;
        if (position == start || position == end) return;
        if (position < end) {
            Run tail{end - position, mRuns[i].attributes};
            mRuns[i].length = position - start;
            mRuns.insert(mRuns.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
            return;
        }
        start = end;
    }
}

void KQUAttributedString::normalise() {
    std::vector<Run> merged;
    merged.reserve(mRuns.size());
    for (auto& run : mRuns) {
        if (run.length == 0) continue;
        if (!merged.empty() && merged.back().attributes == run.attributes)
            merged.back().length += run.length;
        else
            merged.push_back(std::move(run));
    }
    mRuns = std::move(merged);
}

template <typename Change>
void KQUAttributedString::changeRange(KQURange range, Change change) {
    checkRange(range);
    if (range.length == 0) return;
    splitAt(range.location);
    splitAt(range.location + range.length);
    uint64_t start = 0;
    for (auto& run : mRuns) {
        if (start >= range.location && start < range.location + range.length) change(run.attributes);
        start += run.length;
    }
    normalise();
}

void KQUAttributedString::addAttribute(std::string_view name, const KQUValue& value, KQURange range) {
    changeRange(range,
                [&](Attributes& attributes) { attributes.insert_or_assign(std::string(name), value); });
}

void KQUAttributedString::removeAttribute(std::string_view name, KQURange range) {
    changeRange(range, [&](Attributes& attributes) {
        if (auto it = attributes.find(name); it != attributes.end()) attributes.erase(it);
    });
}

const KQUAttributedString::Attributes& KQUAttributedString::attributes(uint64_t index,
                                                                       KQURange* effectiveRange) const {
    uint64_t start = 0;
    size_t i = runIndexAt(index, &start);
    if (effectiveRange) *effectiveRange = {start, mRuns[i].length};
    return mRuns[i].attributes;
}

const KQUValue* KQUAttributedString::attribute(std::string_view name, uint64_t index,
                                               KQURange* effectiveRange) const {
    uint64_t start = 0;
    size_t i = runIndexAt(index, &start);
    auto valueIn = [&](size_t run) -> const KQUValue* {
        auto it = mRuns[run].attributes.find(name);
        return it == mRuns[run].attributes.end() ? nullptr : &it->second;
    };
    const KQUValue* value = valueIn(i);
    if (effectiveRange) {
        auto same = [&](size_t run) {
            const KQUValue* other = valueIn(run);
            return value ? other && *other == *value : other == nullptr;
        };
        uint64_t first = start, end = start + mRuns[i].length;
        for (size_t j = i; j > 0 && same(j - 1); --j) first -= mRuns[j - 1].length;
        for (size_t j = i + 1; j < mRuns.size() && same(j); ++j) end += mRuns[j].length;
        *effectiveRange = {first, end - first};
    }
    return value;
}

}  // namespace kqu
