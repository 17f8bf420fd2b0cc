// Feeds arbitrary bytes to the JSON reader. Whatever parses must be written and read
// again to an equal value (compact and pretty-printed), and when the bytes are UTF-8 the
// UTF-16 reader must read the same value. The reader must never crash, read out of
// bounds or exhaust the stack.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kqutility/diagnostics/KQUAssertionHandlerTesting.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUUnicode.h"
#include "kqutility/interchange/KQUJson.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    kqu::KQUAssertionHandlerTesting::setRaisesForTests(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    kqu::KQUJsonError error;
    auto value = kqu::KQUJson::parse(text, &error);
    kqu::KQUJsonError checked;
    if (kqu::KQUJson::validate(text, &checked) != value.has_value()) std::abort();
    if (!value && checked.offset != error.offset) std::abort();
    if (auto utf16 = kqu::KQUUTF16FromUTF8(text)) {
        auto again = kqu::KQUJson::parse(*utf16);
        if (value.has_value() != again.has_value() || (value && !(*value == *again))) std::abort();
    }
    if (!value) {
        if (error.offset > size || error.reason.empty()) std::abort();
        return 0;
    }
    for (const std::string& written : {kqu::KQUJson::stringFromObject(*value), kqu::KQUJson::prettyStringFromObject(*value)}) {
        auto reread = kqu::KQUJson::parse(written);
        if (!reread || !(*reread == *value)) std::abort();
    }
    return 0;
}
