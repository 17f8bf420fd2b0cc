// Opens arbitrary bytes as a zip archive and reads every entry to its end (with the
// corpus's key for encrypted entries). Malformed input must end in a KQUException; any
// other exception, a crash or a sanitizer report is a finding.
#include <cstdint>
#include <memory>
#include <vector>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoUtils.h"
#include "kqutility/foundation/KQULogSink.h"
#include "kqutility/zip/KQUZipArchive.h"

namespace {

// Keeps one input from running for long: no entry is read past this.
constexpr uint64_t kMaxBytesPerEntry = 64 << 20;

const kqu::KQUCryptoKeyRef& corpusKey() {
    // The seed corpus encrypts with the passphrase "fuzz" and one PBKDF2 round.
    static const kqu::KQUCryptoKeyRef key = kqu::KQUCryptoKey::createAes128KeyFromPassphrase("fuzz", 1);
    return key;
}

void readEntries(kqu::KQUZipArchive& archive) {
    std::vector<char> buffer(65536);
    for (const auto& entry : archive.allEntries()) {
        try {
            (void)entry->isReadable();
            auto stream = entry->inputStream();
            if (!stream) continue;
            uint64_t total = 0;
            while (uint32_t n = stream->readToBuffer(buffer.data(), static_cast<uint32_t>(buffer.size()))) {
                total += n;
                if (total > kMaxBytesPerEntry) break;
            }
        } catch (const kqu::KQUException&) {
            // A damaged entry; the others are still read.
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqu::KQUSetLogSink([](std::string_view) {});
    (void)corpusKey();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        kqu::KQUZipArchive archive(kqu::KQUMakeData(kqu::KQUData(data, data + size)), size % 2 == 1);
        if (archive.isEncrypted() &&
            kqu::KQUCryptoUtils::checkKey(corpusKey(), *archive.passphraseVerifier()))
            archive.setCryptoKey(corpusKey());
        else if (size % 3 == 0)
            archive.setCryptoKey(corpusKey());
        readEntries(archive);
        (void)archive.allEntryNames();
    } catch (const kqu::KQUException&) {
        // Refused cleanly.
    }
    return 0;
}
