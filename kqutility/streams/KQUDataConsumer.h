// Data consumers: sinks that drawing and export code writes bytes into through a
// put-bytes callback, with a release callback run when the consumer goes away.
//
// Two ready-made consumers exist: one appending to a shared byte vector, one writing
// straight into a file from its start (an existing file is overwritten, not truncated, so
// a longer file keeps its tail). Their constructors log and return nullptr instead of
// throwing. A consumer is used by one thread at a time; its info is owned by the
// consumer and handed to the release callback exactly once, when the last holder lets go.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kqutility/foundation/KQUData.h"

namespace kqu {

struct KQUDataConsumerCallbacks {
    // Takes count bytes and returns how many it took (0 when it could not take any).
    size_t (*putBytes)(void* info, const void* buffer, size_t count) = nullptr;
    // Frees info.
    void (*releaseConsumer)(void* info) = nullptr;
};

class KQUDataConsumer {
public:
    // nullptr when putBytes is missing.
    static std::shared_ptr<KQUDataConsumer> create(void* info, const KQUDataConsumerCallbacks& callbacks);
    ~KQUDataConsumer();
    KQUDataConsumer(const KQUDataConsumer&) = delete;
    KQUDataConsumer& operator=(const KQUDataConsumer&) = delete;

    size_t putBytes(const void* buffer, size_t count) { return mCallbacks.putBytes(mInfo, buffer, count); }
    void* info() const { return mInfo; }
    const KQUDataConsumerCallbacks& callbacks() const { return mCallbacks; }

    KQUDataConsumer(void* info, const KQUDataConsumerCallbacks& callbacks);  // use create()

private:
    void* mInfo;
    KQUDataConsumerCallbacks mCallbacks;
};

// Appends every byte to data, which the consumer shares. Null data logs
// "KQUCreateNSMutableDataDataConsumer() given nil NSMutableData" at error level and
// returns nullptr.
std::shared_ptr<KQUDataConsumer> KQUCreateNSMutableDataDataConsumer(std::shared_ptr<KQUData> data);
size_t KQUPutBytesForNSMutableDataCGConsumer(void* info, const void* buffer, size_t count);
void KQDReleaseNSMutableDataConsumer(void* info);

// Writes into the file at path from its first byte, creating an empty file when none is
// there ("KQUCreateDirectToFileDataConsumer failed to create output file at <path>" is
// logged when that fails, and opening is tried anyway). nullptr, after logging "Couldn't
// create file handle for writing to path: <path>", when the file cannot be opened.
// The info is a dictionary holding the file's descriptor under KQUDirectToFileFileHandleKey.
std::shared_ptr<KQUDataConsumer> KQUCreateDirectToFileDataConsumer(const std::string& path);
size_t KQUPutBytesForDirectToFileCGConsumer(void* info, const void* buffer, size_t count);
void KQUReleaseDirectToFileCGConsumer(void* info);

// The key of the file's descriptor in a direct-to-file consumer's info.
inline constexpr const char* KQUDirectToFileFileHandleKey = "KQUDirectToFileFileHandle";
// The value under key in the info of a consumer made by KQUCreateDirectToFileDataConsumer
// (the descriptor, owned by the consumer: do not close it); nullopt for another key or
// another kind of consumer.
std::optional<int> KQUDirectToFileConsumerValue(const KQUDataConsumer& consumer, std::string_view key);

}  // namespace kqu
