// The stop masks the delimited-text chunker scans by, for the library's own use (and its
// tests, which hold every instruction-set version to the plain one). A mask word covers 64
// code units: bit k is set when unit k is a stop (one of the two given characters, LF or
// CR). Plain functions, thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kqu::chunker {

inline constexpr size_t kWord = 64;

struct Stops {
    char16_t a;  // the separator when it splits fields, else LF
    char16_t b;  // the quote when quoted text is allowed, else LF
};

// The mask of p[0, count), count at most 64.
uint64_t maskOfWord(const char16_t* p, size_t count, Stops stops);

// Fills masks[0, words) for src[0, 64 * words), copying those code units to dst when dst
// is not null.
using MaskFunction = void (*)(const char16_t* src, char16_t* dst, size_t words, Stops stops, uint64_t* masks);

// The fastest version this processor runs.
MaskFunction bestMaskFunction();
// Every version this processor runs, the plain one first.
std::vector<MaskFunction> maskFunctions();

}  // namespace kqu::chunker
