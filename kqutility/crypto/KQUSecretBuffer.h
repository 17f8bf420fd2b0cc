// KQUSecretBuffer holds secret bytes (a passphrase, raw key material) and wipes them with
// OPENSSL_cleanse whenever it lets go of them: on destruction, clear(), assignment, and
// when growing moves the bytes to a larger block. Unlike std::string it never leaves an
// unwiped copy behind (no small-string buffer inside the object, no silent reallocation).
// Comparison takes time independent of where the contents differ.
//
// Ownership: owns its block; move-only (a moved-from buffer is empty). Threads: one thread
// at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace kqu {

class KQUSecretBuffer {
public:
    KQUSecretBuffer() = default;
    explicit KQUSecretBuffer(std::string_view bytes);
    ~KQUSecretBuffer() { clear(); }
    KQUSecretBuffer(KQUSecretBuffer&& other) noexcept;
    KQUSecretBuffer& operator=(KQUSecretBuffer&& other) noexcept;
    KQUSecretBuffer(const KQUSecretBuffer&) = delete;
    KQUSecretBuffer& operator=(const KQUSecretBuffer&) = delete;

    const char* data() const { return mBytes.get(); }
    size_t size() const { return mSize; }
    bool empty() const { return mSize == 0; }
    std::string_view view() const { return {mBytes.get(), mSize}; }

    void append(char byte);
    // Drops the last byte (wiped); nothing when empty.
    void popBack();
    // Wipes and frees the contents.
    void clear() noexcept;

    bool operator==(const KQUSecretBuffer& other) const;

private:
    std::unique_ptr<char[]> mBytes;
    size_t mSize = 0;
    size_t mCapacity = 0;
};

}  // namespace kqu
