#include "kqutility/crypto/KQUSecretBuffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <openssl/crypto.h>

namespace kqu {

KQUSecretBuffer::KQUSecretBuffer(std::string_view bytes) {
    if (bytes.empty()) return;
    mBytes = std::make_unique<char[]>(bytes.size());
    std::memcpy(mBytes.get(), bytes.data(), bytes.size());
    mSize = mCapacity = bytes.size();
}

KQUSecretBuffer::KQUSecretBuffer(KQUSecretBuffer&& other) noexcept
    : mBytes(std::move(other.mBytes)),
      mSize(std::exchange(other.mSize, 0)),
      mCapacity(std::exchange(other.mCapacity, 0)) {}

KQUSecretBuffer& KQUSecretBuffer::operator=(KQUSecretBuffer&& other) noexcept {
    if (this != &other) {
        clear();
        mBytes = std::move(other.mBytes);
        mSize = std::exchange(other.mSize, 0);
        mCapacity = std::exchange(other.mCapacity, 0);
    }
    return *this;
}

void KQUSecretBuffer::append(char byte) {
    if (mSize == mCapacity) {
        size_t capacity = std::max<size_t>(64, mCapacity * 2);
        auto bigger = std::make_unique<char[]>(capacity);
        if (mSize) std::memcpy(bigger.get(), mBytes.get(), mSize);
        if (mBytes) OPENSSL_cleanse(mBytes.get(), mCapacity);
        mBytes = std::move(bigger);
        mCapacity = capacity;
    }
    mBytes[mSize++] = byte;
}

void KQUSecretBuffer::popBack() {
    if (mSize == 0) return;
    OPENSSL_cleanse(&mBytes[--mSize], 1);
}

void KQUSecretBuffer::clear() noexcept {
    if (mBytes) OPENSSL_cleanse(mBytes.get(), mCapacity);
    mBytes.reset();
    mSize = mCapacity = 0;
}

bool KQUSecretBuffer::operator==(const KQUSecretBuffer& other) const {
    return mSize == other.mSize &&
           (mSize == 0 || CRYPTO_memcmp(mBytes.get(), other.mBytes.get(), mSize) == 0);
}

}  // namespace kqu
