// A fast, non-cryptographic 32-bit hash over a run of bytes, for keying in-memory tables
// (a data representation's identity, for example). Values are never stored, so the
// variant may differ between processes.
//
// Two variants exist: the plain one, a multiply-then-xor FNV-1 whose byte operand is
// sign-extended, and a scrambled one that finishes the plain hash with an avalanche mix.
// KQUHash() uses whichever KQUHashInit() chose for this process (the plain one unless told
// otherwise). All functions are pure; KQUHashInit() writes the choice once, before other
// threads hash.
#pragma once

#include <cstdint>

namespace kqu {

// The standard seed of KQUHash (the FNV offset basis).
inline constexpr uint32_t KQUHashStandardSeed = 2166136261u;

// Chooses the variant from the operating system's version.
void KQUHashInit();
// Chooses the variant from a system version in binary-coded decimal: above 0x104F selects the plain variant,
// anything else the scrambled one.
void KQUHashInitWithSystemVersion(uint32_t bcdVersion);

// The hash of length bytes with the standard seed, through the chosen variant. A length
// below 1 is an assertion failure; the seed's own hash is returned.
uint32_t KQUHash(const void* bytes, int64_t length);
// The plain variant. A length below 1 is an assertion failure and returns the seed.
uint32_t KQUHashWithSeed(const void* bytes, int64_t length, uint32_t seed);
// The scrambled variant. A length below 1 is an assertion failure and mixes the seed alone.
uint32_t KQUScrambledHashWithSeed(const void* bytes, int64_t length, uint32_t seed);

}  // namespace kqu
