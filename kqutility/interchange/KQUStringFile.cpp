#include "kqutility/interchange/KQUStringFile.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "kqutility/foundation/KQUAtomicOutputFile.h"

namespace kqu {

namespace {

void appendQuoted(std::u16string& out, const std::u16string& text) {
    out += u'"';
    for (char16_t c : text) {
        switch (c) {
            case u'"': out += u"\\\""; break;
            case u'\\': out += u"\\\\"; break;
            case u'\n': out += u"\\n"; break;
            case u'\r': out += u"\\r"; break;
            case u'\t': out += u"\\t"; break;
            default: out += c;
        }
    }
    out += u'"';
}

}  // namespace

std::weak_ordering KQUStringFileEntry::compare(const KQUStringFileEntry* other) const {
    static const std::u16string kEmpty;
    const std::u16string& theirs = other ? other->mKey : kEmpty;
    UErrorCode status = U_ZERO_ERROR;  // ICU answers 0 without one; valid strings never fail
    int32_t r = u_strCaseCompare(mKey.data(), static_cast<int32_t>(mKey.size()), theirs.data(),
                                 static_cast<int32_t>(theirs.size()), U_FOLD_CASE_DEFAULT, &status);
    return r < 0 ? std::weak_ordering::less : r > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}

std::u16string KQUStringFileEntry::description() const {
    std::u16string out;
    if (mComment) {
        std::u16string comment;
        size_t start = 0;
        for (size_t hit; (hit = mComment->find(u"*/", start)) != std::u16string::npos; start = hit + 2) {
            comment.append(*mComment, start, hit - start);
            comment += u"* /";
        }
        comment.append(*mComment, start);
        out += u"/* " + comment + u" */\n";
    }
    appendQuoted(out, mKey);
    out += u" = ";
    appendQuoted(out, mValue);
    out += u";\n\n";
    return out;
}

void KQUStringFile::addString(std::u16string_view string, const std::optional<std::u16string>& comment) {
    mEntries.emplace_back(string, string, comment);
    mSorted = false;
}

void KQUStringFile::sort() {
    if (mSorted) return;
    std::stable_sort(mEntries.begin(), mEntries.end(),
                     [](const KQUStringFileEntry& a, const KQUStringFileEntry& b) { return a.compare(&b) < 0; });
    mSorted = true;
}

std::string KQUStringFile::fileContents() {
    sort();
    std::u16string text;
    for (const auto& entry : mEntries) text += entry.description();
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + text.size() * 2);
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

bool KQUStringFile::writeToFile(const std::string& path, KQUError* error) {
    std::string bytes = fileContents();
    try {
        KQUAtomicOutputFile out(path, {.mode = 0666});
        out.write(bytes);
        out.keep();
        return true;
    } catch (const KQUAtomicOutputFileError& e) {
        if (error) *error = KQUError{KQUPOSIXErrorDomain, e.errorNumber(), e.reason()};
        return false;
    }
}

}  // namespace kqu
