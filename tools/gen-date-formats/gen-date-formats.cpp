// gen-date-formats: writes the per-locale date and time pattern lists that the library
// embeds (resources/DateTimeFormats/<locale>.plist) from ICU's pattern generator, plus
// the six fallback lists named after a date component ordering (fallback-DMY.plist ...).
//
//     gen-date-formats OUTPUT_DIRECTORY
//
// Each list is an XML property list: a dictionary of four arrays of ICU date patterns,
// "AcceptedDateFormats", "AcceptedTimeFormats" (what the date parser tries) and
// "DisplayedDateFormats", "DisplayedTimeFormats" (what a format menu offers). The
// accepted lists keep typed numbers numbers and years what people mean:
//   - a year is "y" or "yy", never "yyyy" (which reads "24" as the year 24);
//   - the stand-alone forms "L" and "c" become "M" and "E" (the parser treats both alike);
//   - no pattern is a single numeric field ("d", "y", "H"), which would take any number;
//   - no yearless all-numeric pattern is joined by the locale's decimal separator ("M.d"
//     would read "3.14" as 14 March);
//   - the week year "Y" becomes "y"; no narrow field ("MMMMM": "M" for both March and May)
//     and no 12-hour field without its AM/PM marker ("hh:mm" alone reads 3 PM as 3 AM);
//   - ICU reads back what the pattern shows;
//   - an hour with only its AM/PM marker ("h a") is left out where a marker is also a
//     month or weekday name (in yrl "pm" is July: "3 PM" would read as 3 July).
// The output depends only on ICU's data: the same ICU gives the same bytes. Files in the
// directory that this run did not write (*.plist) are removed.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

namespace {

using Patterns = std::vector<icu::UnicodeString>;

const char* const kAcceptedDateSkeletons[] = {"yMd",  "yMMMd", "yMMMMd", "yMMMEd",    "yMMMMEEEEd", "Md",
                                              "MMMd", "MMMMd", "MMMEd",  "MMMMEEEEd", "yMMM",       "yMMMM"};
const char* const kAcceptedTimeSkeletons[] = {"hm", "hms", "Hm", "Hms", "h"};
const char* const kDisplayedDateSkeletons[] = {"yMd",  "yMMMd", "yMMMMd", "yMMMMEEEEd",
                                               "MMMd", "MMMMd", "yMMMM"};
const char* const kDisplayedTimeSkeletons[] = {"hm", "hms", "Hm", "Hms"};

bool isPatternLetter(UChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Calls visit(index) for each character outside quoted runs.
template <typename Visit>
void forEachUnquoted(const icu::UnicodeString& pattern, Visit&& visit) {
    bool quoted = false;
    for (int32_t i = 0; i < pattern.length(); ++i) {
        if (pattern[i] == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (!quoted) visit(i);
    }
}

// "yyyy" (any run of three or more y) becomes "y"; "L" becomes "M", "c" becomes "E".
icu::UnicodeString acceptedForm(const icu::UnicodeString& pattern) {
    icu::UnicodeString result;
    bool quoted = false;
    for (int32_t i = 0; i < pattern.length();) {
        UChar c = pattern[i];
        if (c == u'\'') quoted = !quoted;
        if (quoted || c == u'\'') {
            result.append(c);
            ++i;
            continue;
        }
        int32_t run = i;
        while (run < pattern.length() && pattern[run] == c) ++run;
        int32_t length = run - i;
        if (c == u'y' && length >= 3) length = 1;
        if (c == u'L') c = u'M';
        if (c == u'Y') c = u'y';
        if (c == u'c') c = u'E';
        for (int32_t k = 0; k < length; ++k) result.append(c);
        i = run;
    }
    return result;
}

struct Fields {
    int count = 0;  // runs of pattern letters
    int longestRun = 0;
    bool twelveHour = false;  // h or K
    bool dayPeriod = false;   // a, b or B
    bool allNumeric = true;   // every run a numeric field
    bool hasYear = false;
    std::set<UChar> literals;  // unquoted non-letter characters
};

Fields fieldsOf(const icu::UnicodeString& pattern) {
    Fields fields;
    UChar previous = 0;
    int32_t runLength = 0;
    auto closeRun = [&] {
        if (!previous) return;
        ++fields.count;
        fields.longestRun = std::max(fields.longestRun, runLength);
        fields.twelveHour |= previous == u'h' || previous == u'K';
        fields.dayPeriod |= previous == u'a' || previous == u'b' || previous == u'B';
        const bool numeric = (previous == u'M' && runLength <= 2) || u_strchr(u"ydhHkKmsSu", previous);
        fields.allNumeric &= numeric;
        previous = 0;
        runLength = 0;
    };
    forEachUnquoted(pattern, [&](int32_t i) {
        UChar c = pattern[i];
        if (isPatternLetter(c)) {
            if (c != previous) closeRun();
            previous = c;
            ++runLength;
            fields.hasYear |= c == u'y';
        } else {
            closeRun();
            fields.literals.insert(c);
        }
    });
    closeRun();
    return fields;
}

bool isAccepted(const icu::UnicodeString& pattern, UChar decimalSeparator) {
    if (pattern.isEmpty()) return false;
    Fields fields = fieldsOf(pattern);
    if (fields.count == 1 && fields.allNumeric) return false;
    if (!fields.hasYear && fields.allNumeric && fields.literals.count(decimalSeparator)) return false;
    if (fields.longestRun >= 5 || (fields.twelveHour && !fields.dayPeriod)) return false;
    return true;
}

// ICU, strict and in GMT, reads back the fields pattern shows of an instant (2024-03-14
// 15:30:45, a Thursday).
bool readsBack(const icu::Locale& locale, const icu::UnicodeString& pattern) {
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat format(pattern, locale, status);
    if (U_FAILURE(status)) return false;
    format.setTimeZone(*icu::TimeZone::getGMT());
    format.setLenient(false);
    const UDate instant = 1710430245000.0;
    icu::UnicodeString shown;
    format.format(instant, shown);
    // Fields the pattern lacks come from the instant's year (as the date parser takes
    // this year), so a yearless weekday still names the same day.
    std::unique_ptr<icu::Calendar> calendar(format.getCalendar()->clone());
    calendar->clear();
    calendar->set(UCAL_YEAR, 2024);
    icu::ParsePosition position(0);
    format.parse(shown, *calendar, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != shown.length()) return false;
    UDate read = calendar->getTime(status);
    if (U_FAILURE(status)) return false;
    // Compare only the fields shown: render the value read and compare the texts.
    icu::UnicodeString again;
    format.format(read, again);
    return again == shown;
}

void appendUnique(Patterns& list, const icu::UnicodeString& pattern) {
    if (!pattern.isEmpty() && std::find(list.begin(), list.end(), pattern) == list.end())
        list.push_back(pattern);
}

// An AM/PM marker of locale is also one of its month or weekday names, in any case.
bool dayPeriodIsAName(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DateFormatSymbols symbols(locale, status);
    if (U_FAILURE(status)) return false;
    int32_t markerCount = 0;
    const icu::UnicodeString* markers = symbols.getAmPmStrings(markerCount);
    using Symbols = icu::DateFormatSymbols;
    for (auto context : {Symbols::FORMAT, Symbols::STANDALONE}) {
        for (auto width : {Symbols::WIDE, Symbols::ABBREVIATED}) {
            int32_t count = 0;
            const icu::UnicodeString* months = symbols.getMonths(count, context, width);
            for (int32_t m = 0; m < markerCount; ++m)
                for (int32_t i = 0; i < count; ++i)
                    if (months[i].caseCompare(markers[m], U_FOLD_CASE_DEFAULT) == 0) return true;
            const icu::UnicodeString* weekdays = symbols.getWeekdays(count, context, width);
            for (int32_t m = 0; m < markerCount; ++m)
                for (int32_t i = 0; i < count; ++i)
                    if (weekdays[i].caseCompare(markers[m], U_FOLD_CASE_DEFAULT) == 0) return true;
        }
    }
    return false;
}

struct Lists {
    Patterns displayedTime, displayedDate, acceptedTime, acceptedDate;
};

bool listsForLocale(const icu::Locale& locale, Lists& lists) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status)) return false;
    icu::DecimalFormatSymbols symbols(locale, status);
    if (U_FAILURE(status)) return false;
    const icu::UnicodeString& decimal =
        symbols.getConstSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
    const UChar decimalSeparator = decimal.length() == 1 ? decimal[0] : 0;
    auto best = [&](const char* skeleton) {
        UErrorCode s = U_ZERO_ERROR;
        icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString(skeleton, -1, US_INV), s);
        return U_FAILURE(s) ? icu::UnicodeString() : pattern;
    };
    for (const char* skeleton : kDisplayedDateSkeletons) appendUnique(lists.displayedDate, best(skeleton));
    for (const char* skeleton : kDisplayedTimeSkeletons) appendUnique(lists.displayedTime, best(skeleton));
    for (const char* skeleton : kAcceptedDateSkeletons) {
        icu::UnicodeString pattern = acceptedForm(best(skeleton));
        if (isAccepted(pattern, decimalSeparator) && readsBack(locale, pattern))
            appendUnique(lists.acceptedDate, pattern);
    }
    const bool ambiguousMarker = dayPeriodIsAName(locale);
    for (const char* skeleton : kAcceptedTimeSkeletons) {
        if (ambiguousMarker && std::string_view(skeleton) == "h") continue;
        icu::UnicodeString pattern = acceptedForm(best(skeleton));
        if (isAccepted(pattern, decimalSeparator) && readsBack(locale, pattern))
            appendUnique(lists.acceptedTime, pattern);
    }
    return !lists.acceptedDate.empty() && !lists.acceptedTime.empty();
}

std::string xmlEscaped(const icu::UnicodeString& text) {
    std::string utf8, escaped;
    text.toUTF8String(utf8);
    for (char c : utf8) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string propertyList(const Lists& lists) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    auto array = [&](const char* key, const Patterns& patterns) {
        out += "<key>" + std::string(key) + "</key>\n<array>\n";
        for (const auto& p : patterns) out += "<string>" + xmlEscaped(p) + "</string>\n";
        out += "</array>\n";
    };
    array("AcceptedDateFormats", lists.acceptedDate);
    array("AcceptedTimeFormats", lists.acceptedTime);
    array("DisplayedDateFormats", lists.displayedDate);
    array("DisplayedTimeFormats", lists.displayedTime);
    out += "</dict>\n</plist>\n";
    return out;
}

bool writeFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return static_cast<bool>(out.flush());
}

// Lists for locales ICU has no data for, by the order the locale writes its date in. The
// month-name patterns work in any locale; the numeric ones are the usual separators.
Lists fallbackLists(const std::string& ordering) {
    static const std::map<std::string, std::vector<const char*>> kDates = {
        {"DMY",
         {"d/M/y", "d-M-y", "d.M.y", "d MMM y", "d MMMM y", "EEEE d MMMM y", "d/M", "d MMM", "d MMMM",
          "MMM y", "MMMM y"}},
        {"DYM", {"d/y/M", "d-y-M", "d.y.M", "d y MMM", "d y MMMM", "d MMM", "MMM y"}},
        {"MDY",
         {"M/d/y", "M-d-y", "MMM d, y", "MMMM d, y", "EEEE, MMMM d, y", "M/d", "MMM d", "MMMM d", "MMM y",
          "MMMM y"}},
        {"MYD", {"M/y/d", "M-y-d", "MMM y d", "MMMM y d", "MMM d", "MMM y"}},
        {"YDM", {"y/d/M", "y-d-M", "y.d.M", "y d MMM", "y d MMMM", "d MMM", "MMM y"}},
        {"YMD", {"y-M-d", "y/M/d", "y.M.d", "y MMM d", "y MMMM d", "M/d", "MMM d", "y MMM", "y MMMM"}},
    };
    Lists lists;
    for (const char* p : kDates.at(ordering)) {
        lists.acceptedDate.emplace_back(p, -1, US_INV);
        if (lists.displayedDate.size() < 4) lists.displayedDate.emplace_back(p, -1, US_INV);
    }
    for (const char* p : {"h:mm a", "h:mm:ss a", "H:mm", "H:mm:ss", "h a"})
        lists.acceptedTime.emplace_back(p, -1, US_INV);
    for (const char* p : {"h:mm a", "h:mm:ss a", "HH:mm", "HH:mm:ss"})
        lists.displayedTime.emplace_back(p, -1, US_INV);
    return lists;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen-date-formats OUTPUT_DIRECTORY\n");
        return 2;
    }
    const std::string directory = argv[1];
    std::set<std::string> written;
    int32_t count = 0;
    const icu::Locale* locales = icu::DateFormat::getAvailableLocales(count);
    for (int32_t i = 0; i < count; ++i) {
        std::string name = locales[i].getName();
        name = name.substr(0, name.find('@'));
        if (name.empty() || written.count(name + ".plist")) continue;
        Lists lists;
        if (!listsForLocale(icu::Locale((name + "@calendar=gregorian").c_str()), lists)) {
            std::fprintf(stderr, "gen-date-formats: no patterns for %s\n", name.c_str());
            continue;
        }
        if (!writeFile(directory + "/" + name + ".plist", propertyList(lists))) {
            std::fprintf(stderr, "gen-date-formats: cannot write %s/%s.plist\n", directory.c_str(),
                         name.c_str());
            return 1;
        }
        written.insert(name + ".plist");
    }
    for (const char* ordering : {"DMY", "DYM", "MDY", "MYD", "YDM", "YMD"}) {
        std::string file = std::string("fallback-") + ordering + ".plist";
        if (!writeFile(directory + "/" + file, propertyList(fallbackLists(ordering)))) return 1;
        written.insert(file);
    }
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string file = entry->d_name;
            if (file.size() > 6 && file.ends_with(".plist") && !written.count(file))
                ::unlink((directory + "/" + file).c_str());
        }
        ::closedir(dir);
    }
    std::printf("gen-date-formats: %zu lists in %s\n", written.size(), directory.c_str());
    return 0;
}
