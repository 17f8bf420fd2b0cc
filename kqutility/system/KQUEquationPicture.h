// Equation pictures: equations made with an external equation editor arrive as pictures
// carrying the editor's signature (00 98 0A 00 F0 68 08 00, searched from offset 14 up to
// offset 1024). Fourteen bytes before it stand the editor's creator code (big-endian
// four-character code, 'MTHU' or 'CWEE'), ten bytes before it the equation's descent in
// points (big-endian unsigned 16-bit), so that the equation can sit on the text baseline.
//
// The functions read borrowed bytes and keep nothing; any thread may call them. Whether
// the 'MTHU' editor is installed is a question only the host can answer: it installs a
// probe with KQUSetMathTypeAvailabilityProbe(), and without one the answer is false.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace kqu {

inline constexpr uint64_t KQUEgoSignatureNotFound = 2147483647;
inline constexpr uint32_t KQUMathTypeCreator = 0x4D544855;  // 'MTHU'
inline constexpr uint32_t KQUCWEECreator = 0x43574545;      // 'CWEE'

[[nodiscard]] uint64_t KQUPictDataGetEgoSignatureOffset(std::span<const uint8_t> picture);
// The creator code, or 0 without a signature.
[[nodiscard]] uint32_t KQUEgoPictGetCreator(std::span<const uint8_t> picture);
// The descent in points, or 0 without a signature.
[[nodiscard]] float KQUEgoPictGetDescent(std::span<const uint8_t> picture);
[[nodiscard]] bool KQUPictDataIsEgoEquation(std::span<const uint8_t> picture);

[[nodiscard]] bool KQUIsMathTypeAvailable();
// Installs the host's probe (an empty function removes it). Set it before other threads ask.
void KQUSetMathTypeAvailabilityProbe(std::function<bool()> probe);

}  // namespace kqu
