#include "kqutility/streams/KQUDataConsumer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUFileManager.h"

namespace kqu {
namespace {

// The info of a direct-to-file consumer: the descriptor it writes through, which the
// info's dictionary view offers under KQUDirectToFileFileHandleKey.
struct DirectToFileInfo {
    int fd = -1;
};

}  // namespace

std::shared_ptr<KQUDataConsumer> KQUDataConsumer::create(void* info,
                                                         const KQUDataConsumerCallbacks& callbacks) {
    if (!callbacks.putBytes) return nullptr;
    return std::make_shared<KQUDataConsumer>(info, callbacks);
}

KQUDataConsumer::KQUDataConsumer(void* info, const KQUDataConsumerCallbacks& callbacks)
    : mInfo(info), mCallbacks(callbacks) {}

KQUDataConsumer::~KQUDataConsumer() {
    if (mCallbacks.releaseConsumer) mCallbacks.releaseConsumer(mInfo);
}

// MARK: - Shared byte vector

std::shared_ptr<KQUDataConsumer> KQUCreateNSMutableDataDataConsumer(std::shared_ptr<KQUData> data) {
    if (!data) {
        KQULogError("KQUCreateNSMutableDataDataConsumer() given nil NSMutableData");
        return nullptr;
    }
    auto info = std::make_unique<std::shared_ptr<KQUData>>(std::move(data));
    auto consumer = KQUDataConsumer::create(
        info.get(), {KQUPutBytesForNSMutableDataCGConsumer, KQDReleaseNSMutableDataConsumer});
    info.release();  // now owned by the consumer's release callback
    return consumer;
}

size_t KQUPutBytesForNSMutableDataCGConsumer(void* info, const void* buffer, size_t count) {
    auto* data = static_cast<std::shared_ptr<KQUData>*>(info);
    if (!data || !*data) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    (*data)->insert((*data)->end(), bytes, bytes + count);
    return count;
}

void KQDReleaseNSMutableDataConsumer(void* info) {
    std::unique_ptr<std::shared_ptr<KQUData>> owned(static_cast<std::shared_ptr<KQUData>*>(info));
}

// MARK: - File

std::shared_ptr<KQUDataConsumer> KQUCreateDirectToFileDataConsumer(const std::string& path) {
    if (!KQUFileExists(path)) {
        int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (created < 0)
            KQULogError("KQUCreateDirectToFileDataConsumer failed to create output file at {}", path);
        else
            ::close(created);
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        KQULogError("Couldn't create file handle for writing to path: {}", path);
        return nullptr;
    }
    auto info = std::make_unique<DirectToFileInfo>();
    info->fd = fd;
    auto consumer = KQUDataConsumer::create(
        info.get(), {KQUPutBytesForDirectToFileCGConsumer, KQUReleaseDirectToFileCGConsumer});
    info.release();  // now owned by the consumer's release callback
    return consumer;
}

size_t KQUPutBytesForDirectToFileCGConsumer(void* info, const void* buffer, size_t count) {
    auto* file = static_cast<DirectToFileInfo*>(info);
    if (!file || file->fd < 0) return 0;
    const char* bytes = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(file->fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            KQULogError("Could not write to the consumer's file: {}", std::strerror(errno));
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

void KQUReleaseDirectToFileCGConsumer(void* info) {
    std::unique_ptr<DirectToFileInfo> owned(static_cast<DirectToFileInfo*>(info));
    if (owned && owned->fd >= 0) ::close(owned->fd);
}

std::optional<int> KQUDirectToFileConsumerValue(const KQUDataConsumer& consumer, std::string_view key) {
    if (consumer.callbacks().putBytes != KQUPutBytesForDirectToFileCGConsumer || !consumer.info())
        return std::nullopt;
    if (key != KQUDirectToFileFileHandleKey) return std::nullopt;
    return static_cast<const DirectToFileInfo*>(consumer.info())->fd;
}

}  // namespace kqu
