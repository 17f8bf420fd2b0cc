// Feeds arbitrary bytes to the property-list reader (the first byte of the corpus files
// decides the form: "bplist00" or XML). The reader must never crash, read out of bounds,
// loop on reference cycles or exhaust memory on shared objects; whatever it accepts must
// either be written back as XML and read again to an equal value, or be refused by the
// writer with its documented exception.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/foundation/KQUPropertyList.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const kqu::KQUPropertyListLimits limits{.maxInputBytes = 1 << 20, .maxDepth = 64, .maxValues = 100000};
    auto value = kqu::KQUPropertyListFromBytes(bytes, nullptr, nullptr, limits);
    if (!value) return 0;
    std::string xml;
    try {
        xml = kqu::KQUXMLPropertyListFromValue(*value);
    } catch (const kqu::KQUException&) {
        return 0;  // control characters, NaN-free dates out of range: refused, fine
    }
    auto again = kqu::KQUPropertyListFromBytes(xml, nullptr, nullptr, {.maxDepth = 64, .maxValues = 1 << 24});
    if (!again) std::abort();  // the writer produced something its reader refuses
    return 0;
}
