// kqu encrypt / kqu decrypt: a whole file to or from the library's encrypted stream
// format (IV, then AES-128-CBC of a random initial block and the data, PKCS #7 padded),
// with the key derived from a passphrase by PBKDF2-HMAC-SHA1 (salt "dezUdodo").
//
// The file holds nothing but that stream, so other programs can read and write it given
// the key and IV (--show-key prints both in hex). The iteration count is therefore not
// stored: decrypt derives with --iterations too, by default the library's current count.
// A file OUT appears only when every byte was written and, for decrypt, the padding
// checked; a wrong passphrase or damaged input leaves no OUT behind. IN and OUT may be "-".
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "kqutility/crypto/KQUCryptoKey.h"
#include "kqutility/crypto/KQUCryptoStreams.h"
#include "kqutility/foundation/KQUException.h"
#include "kqutility/foundation/KQUFileManager.h"
#include "kqutility/streams/KQUAtomicOutputStream.h"
#include "kqutility/streams/KQUBufferedInputStream.h"
#include "kqutility/streams/KQUFileStreams.h"
#include "kqutility/streams/KQUMemoryStreams.h"
#include "tools/kqu/KQUPassphrase.h"
#include "tools/kqu/KQUTool.h"
#include "tools/kqu/KQUToolKeychain.h"
#include "tools/kqu/KQUToolOutput.h"
#include "tools/kqu/KQUToolProgress.h"

namespace kqu::tool {
namespace {

constexpr uint32_t kChunk = 256 << 10;

enum class Direction { Encrypt, Decrypt };

std::string hex(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) fmt::format_to(std::back_inserter(text), "{:02x}", b);
    return text;
}

int runCrypt(Direction direction, const KQUToolArguments& arguments) {
    const bool encrypting = direction == Direction::Encrypt;
    const std::string& source = arguments.operands[0];
    const std::string& destination = arguments.operands[1];
    uint32_t iterations = KQUToolIterationCount(arguments, KQUCurrentKeyDerivationIterationCount);
    const bool remember = encrypting && arguments.has(KQURememberOption);
    const bool fromKeychain = !encrypting && arguments.has(KQUKeychainOption);
    if ((remember && destination == "-") || (fromKeychain && source == "-"))
        throw KQUToolError("the keychain names an encrypted file by its first bytes: give a file, not '-'");
    // Before the passphrase is asked for: it is not worth typing when it cannot be kept.
    if (remember) KQUToolCheckKeychain();
    auto input = KQUToolOpenInput(source, kChunk);

    auto passphrase = fromKeychain
                          ? std::optional(KQUToolKeychainPassphrase(KQUToolFileKeychainItem(source), source))
                          : KQUToolPassphrase(arguments, true,
                                              encrypting ? KQUPassphrasePurpose::Create : KQUPassphrasePurpose::Open);
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase(passphrase->view(), iterations);
    if (!remember) passphrase.reset();  // wiped
    if (!key) throw KQUToolError("could not derive a key from the passphrase");

    // Decrypted data is for the user alone until they decide otherwise: 0600 from the
    // moment the file exists.
    KQUToolOutput output(destination, {.replace = arguments.has("--force"), .privateData = !encrypting});
    auto stream = output.stream();
    int64_t plainBytes = 0;
    std::vector<uint8_t> iv;
    KQUToolProgress progress(arguments, encrypting ? "encrypt" : "decrypt");
    struct stat status {};
    // Standard input and pipes have no size to measure against: no bar for them.
    if (source != "-" && ::stat(source.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        progress.begin(static_cast<uint64_t>(status.st_size));
    KQUToolProgress::Phase phase(progress, encrypting ? "encrypt" : "decrypt");
    if (encrypting) {
        KQUCryptoOutputStream encrypted(stream, key);
        iv.assign(encrypted.iv().begin(), encrypted.iv().end());
        const char* bytes = nullptr;
        while (uint32_t n = input->readToOwnBuffer(&bytes, kChunk)) {
            encrypted.writeBuffer(bytes, n);
            plainBytes += n;
            progress.advance(n);
        }
        encrypted.closeLocalStream();
    } else {
        std::vector<char> buffer(kChunk);
        try {
            KQUCryptoInputStream decrypted(input, key);
            iv.assign(decrypted.iv().begin(), decrypted.iv().end());
            while (uint32_t n = decrypted.readToBuffer(buffer.data(), kChunk)) {
                stream->writeBuffer(buffer.data(), n);
                plainBytes += n;
                progress.advance(n);
            }
        } catch (const KQUException& e) {
            if (e.name() != NSGenericException) throw;
            if (fromKeychain)
                throw KQUToolError(fmt::format("{}: cannot decrypt with the keychain's passphrase (a stale item? "
                                               "store the right one with 'kqu keychain store'): {}",
                                               source, e.reason()));
            throw KQUToolError(fmt::format("{}: cannot decrypt: {}", source, e.reason()));
        }
    }
    input->close();
    output.commit();
    progress.finish();
    if (remember) {
        KQUToolRememberPassphrase(passphrase->view(), std::string_view(reinterpret_cast<const char*>(iv.data()), iv.size()),
                                  KQULastPathComponent(destination));
        passphrase.reset();
    }
    FILE* report = output.kind() == KQUToolOutput::Kind::File ? stdout : stderr;
    if (arguments.has("--show-key")) fmt::print(report, "key={}\niv={}\n", hex(key->keyBytes()), hex(iv));
    if (!arguments.has("--quiet") && output.kind() == KQUToolOutput::Kind::File)
        fmt::print("{} {} bytes from {} to {}\n", encrypting ? "encrypted" : "decrypted", plainBytes,
                   source == "-" ? "standard input" : source, destination);
    return 0;
}

std::vector<KQUToolOption> cryptOptions(bool encrypting) {
    return {
        encrypting ? KQURememberToolOption : KQUKeychainToolOption,
        {KQUIterationsOption, "N",
         encrypting
             ? "PBKDF2 iterations (default: the library's current count); decrypt needs the same N"
             : "PBKDF2 iterations used when the file was encrypted (default: the library's current count)"},
        KQUPassphraseFileToolOption,
        {"--show-key", "", "print the derived key and the IV in hex (to stderr when OUT is not a file)"},
        {"--force", "", "replace OUT when it is an existing file"},
        {"--quiet", "", "print nothing on success"},
    };
}

KQUToolRegistration encryptCommand({
    .name = "encrypt",
    .operands = "IN OUT",
    .summary = "Encrypt a file with a passphrase (AES-128-CBC, key from PBKDF2)",
    .options = cryptOptions(true),
    .minOperands = 2,
    .maxOperands = 2,
    .example = "kqu encrypt --passphrase-file pass.txt notes.txt notes.enc",
    .details = "IN or OUT may be '-' for standard input or output. OUT holds the IV and the ciphertext "
               "only; the iteration count is not stored. The passphrase never comes from the command "
               "line: --passphrase-file, the KQU_PASSPHRASE environment variable, or a prompt.",
    .run = [](const KQUToolArguments& a) { return runCrypt(Direction::Encrypt, a); },
});
KQUToolRegistration decryptCommand({
    .name = "decrypt",
    .operands = "IN OUT",
    .summary = "Decrypt a file made by 'kqu encrypt'",
    .options = cryptOptions(false),
    .minOperands = 2,
    .maxOperands = 2,
    .example = "kqu decrypt --passphrase-file pass.txt notes.enc -",
    .details = "IN or OUT may be '-' for standard input or output. A new OUT file is readable by its "
               "owner only (0600). A wrong passphrase or damaged input leaves no OUT file behind.",
    .run = [](const KQUToolArguments& a) { return runCrypt(Direction::Decrypt, a); },
});

}  // namespace
}  // namespace kqu::tool
