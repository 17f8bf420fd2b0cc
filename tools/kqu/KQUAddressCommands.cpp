// kqu url / kqu email: what the library makes of typed web and e-mail addresses.
//
//     $ kqu url 'www.example.com/a b' bücher.de
//     http://www.example.com/a%20b
//     http://xn--bcher-kva.de
//     $ kqu email 'John Smith (work) <john@example.com>' john
//     legal	john@example.com
//     illegal	john
//
// Both exit 1 when any TEXT gives no URL or an illegal address.
#include <fmt/format.h>

#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/interchange/KQURegularExpression.h"
#include "kqutility/interchange/KQUURLAdditions.h"
#include "tools/kqu/KQUTool.h"

namespace kqu::tool {
namespace {

int runURL(const KQUToolArguments& arguments) {
    int status = 0;
    for (const auto& text : arguments.operands) {
        auto url = KQURFC1808URLWithUserEnteredString(text);
        if (!url) status = 1;
        fmt::print("{}\n", url ? url->absoluteString() : "-");
    }
    return status;
}

int runEmail(const KQUToolArguments& arguments) {
    int status = 0;
    for (const auto& text : arguments.operands) {
        auto utf16 = KQUUTF16FromUTF8(text);
        bool legal = utf16 && KQUIsLegalEmailAddress(*utf16);
        if (!legal) status = 1;
        std::string address = utf16 ? KQUUTF8FromUTF16(KQUUncommentedAddressRespectingGroups(*utf16)) : text;
        fmt::print("{}\t{}\n", legal ? "legal" : "illegal", address);
    }
    return status;
}

KQUToolRegistration urlRegistration({
    .name = "url",
    .operands = "TEXT...",
    .summary = "Turn typed web addresses into well-formed URLs",
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu url 'www.example.com/a b' 'bücher.de'",
    .details = "One line per TEXT: the URL, or '-' when none can be made (then the status is 1). Without a "
               "scheme, http:// is assumed; the text before the first colon is taken as the scheme. Hosts "
               "are converted to their ASCII form; paths, queries and fragments are escaped unless they "
               "already hold percent escapes.",
    .run = runURL,
});

KQUToolRegistration emailRegistration({
    .name = "email",
    .operands = "TEXT...",
    .summary = "Reduce e-mail addresses to the bare address and check them",
    .minOperands = 1,
    .maxOperands = KQUToolAnyNumber,
    .example = "kqu email 'John Smith (work) <john@example.com>'",
    .details = "One line per TEXT: 'legal' or 'illegal', a tab, and the address without display name and "
               "comments (a group name without '@' or '<' is left as it is). The status is 1 when any "
               "address is illegal.",
    .run = runEmail,
});

}  // namespace
}  // namespace kqu::tool
