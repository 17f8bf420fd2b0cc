// Memory admission: before a document of many table cells is opened or imported, may this
// process hold it? The answer is estimated from the memory the process may really use
// (KQUProbePhysicalMemory: the hardware lowered to cgroup and address-space limits), capped
// at 4 GB, minus a share reserved for the system and the application (75 % up to 512 MB,
// 50 % up to 1 GB, 30 % up to 2 GB, 20 % above), and the caller's bytes per cell.
//
// The figures are read once per process (a probe that cannot tell is asked again next
// time), as is the user default "IgnoreMemoryChecks", which makes every check answer true;
// when the figures are unknown every check answers true as well. A refusal logs
// "Not enough memory to open (import) a document with N cells on a machine with M MB of RAM"
// at level 100. KQUMemoryResetForTesting() forgets both and may install fixed figures.
// Every function may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "kqutility/foundation/KQUSystemInfo.h"

namespace kqu {

inline constexpr const char* KQUIgnoreMemoryChecksKey = "IgnoreMemoryChecks";

// Usable memory in pages, capped at 4 GB worth; 0 when the system cannot tell.
[[nodiscard]] uint64_t KQUMemoryTotalPageCount();
// (total - overhead pages) x page size in whole MB; 0 when the system cannot tell.
[[nodiscard]] uint64_t KQUMemoryEstimatedMemoryInMegabytes();
// What the figures were made from (after KQUMemoryTotalPageCount has run).
[[nodiscard]] KQUPhysicalMemory KQUMemoryProbeResult();

[[nodiscard]] bool isThereEnoughMemory(uint32_t cellCount, double bytesPerCell);
[[nodiscard]] bool isThereEnoughMemoryToImport(uint32_t cellCount, double bytesPerCell);
[[nodiscard]] bool ignoreMemoryChecks();

// Forgets the cached figures and default; with memory, later reads use it instead of
// probing the system.
void KQUMemoryResetForTesting(std::optional<KQUPhysicalMemory> memory = std::nullopt);

}  // namespace kqu
