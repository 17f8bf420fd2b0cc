// A keyed hash of byte strings for in-memory tables whose keys come from untrusted input
// (entry names of an archive, for instance).
//
// KQUKeyedHash is SipHash-1-3 under a key drawn from the system's random source once per
// process, so nobody outside the process can choose keys that collide and turn a table's
// lookups quadratic. Values differ between processes and must never be stored. Pure apart
// from the one-time key, which is set up thread-safely on first use; any thread may call.
#pragma once

#include <cstdint>
#include <string_view>

namespace kqu {

// The keyed hash of bytes under this process's random key.
uint64_t KQUKeyedHash(std::string_view bytes);
// SipHash-1-3 of bytes under the 128-bit key (k0, k1), for tests with known answers.
uint64_t KQUSipHash13(std::string_view bytes, uint64_t k0, uint64_t k1);

}  // namespace kqu
