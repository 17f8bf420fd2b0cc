// Feeds arbitrary bytes to the typed-URL fixer and the escaping functions. Any URL the
// fixer returns must pass the URL value's validity test; escaped text must be a valid
// URL path.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/interchange/KQUURLAdditions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    kqu::KQUAssertionHandlerTesting::setRaisesForTests(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto url = kqu::KQURFC1808URLWithUserEnteredString(text)) {
        if (!kqu::KQUURL::isValidURLString(url->absoluteString())) std::abort();
    }
    if (!kqu::KQUURL::isValidURLString("/x/" + kqu::KQUStringByPercentEscaping(text))) std::abort();
    if (!kqu::KQURelativeURLWithEscapes("x" + kqu::KQUProperlyEscapedString(text))) std::abort();
    return 0;
}
