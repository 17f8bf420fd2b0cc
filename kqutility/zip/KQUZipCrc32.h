// The zip CRC-32 (reflected polynomial 0xEDB88320, as zlib's crc32) at memory speed.
//
// Verifying every byte read from an archive must not slow reading down noticeably, so on
// processors with carry-less multiplication the CRC is folded 64 bytes at a time (256 bytes at a time with
// 512-bit registers where available); elsewhere zlib's crc32 is used. The results are identical to zlib's for
// every input. Pure function, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kqu {

// Continues crc (0 for no bytes yet) over size bytes.
uint32_t KQUZipCrc32(uint32_t crc, const void* bytes, size_t size);
// Which implementation KQUZipCrc32 uses: "vpclmulqdq", "pclmulqdq" or "zlib".
const char* KQUZipCrc32Implementation();
// The same with a named implementation, for tests: false (and *result untouched) when
// this processor cannot run it.
bool KQUZipCrc32Using(std::string_view implementation, uint32_t crc, const void* bytes, size_t size,
                      uint32_t* result);

}  // namespace kqu
