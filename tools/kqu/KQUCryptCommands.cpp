// kqu encrypt / kqu decrypt: a whole file to or from the library's encrypted stream
// format (IV, then AES-128-CBC of a random initial block and the data, PKCS #7 padded),
// with the key derived from a passphrase by PBKDF2-HMAC-SHA1 (salt "dezUdodo").
//
// The file holds nothing but that stream, so other programs can read and write it given
// the key and IV (--show-key prints both in hex). The iteration count is therefore not
// stored: decrypt derives with --iterations too, by default the library's current count.
// OUT appears only when every byte was written and, for decrypt, the padding checked; a
// wrong passphrase or damaged input leaves no OUT behind.
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

namespace kqu::tool {
namespace {

constexpr uint32_t kChunk = 256 << 10;

enum class Direction { Encrypt, Decrypt };

std::string hex(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) fmt::format_to(std::back_inserter(text), "{:02x}", b);
    return text;
}

std::shared_ptr<KQUBufferedInputStreamProtocol> openSource(const std::string& path) {
    auto attributes = KQUAttributesOfItem(path);
    if (!attributes) throw KQUToolError(fmt::format("{}: no such file", path));
    if (attributes->type != KQUFileType::Regular)
        throw KQUToolError(fmt::format("{}: not a regular file", path));
    if (!KQUIsReadableFile(path)) throw KQUToolError(fmt::format("{}: cannot read", path));
    // A file stream needs at least one byte; an empty file is an empty memory stream.
    if (attributes->size == 0) return KQUMemoryInputStream::create(std::make_shared<const KQUData>());
    auto file = KQUFileInputStream::create(path);
    if (!file) throw KQUToolError(fmt::format("{}: cannot read", path));
    file->disableSystemCaching();
    return std::make_shared<KQUBufferedInputStream>(file, kChunk);
}

int runCrypt(Direction direction, const std::vector<std::string>& words) {
    const bool encrypting = direction == Direction::Encrypt;
    const std::string usage =
        fmt::format("{} [--iterations N] [--passphrase-file FILE] [--show-key] [--force] [--quiet] IN OUT",
                    encrypting ? "encrypt" : "decrypt");
    auto arguments = KQUParseToolArguments(words, {"--show-key", "--force", "--quiet"},
                                           {KQUIterationsOption, KQUPassphraseFileOption});
    KQURequireOperands(arguments, 2, 2, usage);
    const std::string& source = arguments.operands[0];
    const std::string& destination = arguments.operands[1];
    bool replace = arguments.has("--force");
    if (auto attributes = KQUAttributesOfItem(destination);
        attributes && attributes->type == KQUFileType::Directory)
        throw KQUToolError(fmt::format("{} is a directory", destination));
    if (!replace && KQUFileExists(destination))
        throw KQUToolError(fmt::format("{} exists; use --force to replace it", destination));
    uint32_t iterations = KQUToolIterationCount(arguments, KQUCurrentKeyDerivationIterationCount);
    auto input = openSource(source);

    auto passphrase = KQUToolPassphrase(
        arguments, true, encrypting ? KQUPassphrasePurpose::Create : KQUPassphrasePurpose::Open);
    auto key = KQUCryptoKey::createAes128KeyFromPassphrase(passphrase->view(), iterations);
    passphrase.reset();  // wiped
    if (!key) throw KQUToolError("could not derive a key from the passphrase");

    // Decrypted data is for the user alone until they decide otherwise.
    auto output = std::make_shared<KQUAtomicOutputStream>(
        destination, KQUAtomicOutputFileOptions{
                         .mode = encrypting ? mode_t{0666} : mode_t{0600},
                         .replace = replace ? KQUReplaceMode::ReplaceExisting : KQUReplaceMode::NeverReplace,
                         .syncToDisk = true});
    int64_t plainBytes = 0;
    std::vector<uint8_t> iv;
    if (encrypting) {
        KQUCryptoOutputStream encrypted(output, key);
        iv.assign(encrypted.iv().begin(), encrypted.iv().end());
        const char* bytes = nullptr;
        while (uint32_t n = input->readToOwnBuffer(&bytes, kChunk)) {
            encrypted.writeBuffer(bytes, n);
            plainBytes += n;
        }
        encrypted.closeLocalStream();
    } else {
        std::vector<char> buffer(kChunk);
        try {
            KQUCryptoInputStream decrypted(input, key);
            iv.assign(decrypted.iv().begin(), decrypted.iv().end());
            while (uint32_t n = decrypted.readToBuffer(buffer.data(), kChunk)) {
                output->writeBuffer(buffer.data(), n);
                plainBytes += n;
            }
        } catch (const KQUException& e) {
            if (e.name() != NSGenericException) throw;
            throw KQUToolError(fmt::format("{}: cannot decrypt: {}", source, e.reason()));
        }
    }
    input->close();
    try {
        output->keep();
    } catch (const KQUAtomicOutputFileError& e) {
        throw KQUToolError(e.reason());
    }
    if (arguments.has("--show-key")) fmt::print("key={}\niv={}\n", hex(key->keyBytes()), hex(iv));
    if (!arguments.has("--quiet"))
        fmt::print("{} {} bytes from {} to {}\n", encrypting ? "encrypted" : "decrypted", plainBytes, source,
                   destination);
    return 0;
}

KQUToolRegistrar encryptCommand(
    {"encrypt", "encrypt [OPTIONS] IN OUT",
     "Encrypt a file with a passphrase (--iterations N, --passphrase-file F, --show-key, --force, --quiet)",
     [](const std::vector<std::string>& w) { return runCrypt(Direction::Encrypt, w); }});
KQUToolRegistrar decryptCommand(
    {"decrypt", "decrypt [OPTIONS] IN OUT", "Decrypt a file made by encrypt (same options)",
     [](const std::vector<std::string>& w) { return runCrypt(Direction::Decrypt, w); }});

}  // namespace
}  // namespace kqu::tool
