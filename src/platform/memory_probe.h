#pragma once
// Free memory and the memory a memory-hungry operation on an image needs.
#include <cstdint>
#include <optional>
#include <string_view>

namespace astrelon {

// Bytes of memory the program can still take: the smaller of the system's
// available physical memory (MemAvailable) and what the address-space limit
// leaves; 0 when it cannot be determined.
uint64_t AvailableMemory();
// Test seam: when set, AvailableMemory returns what it gives.
extern uint64_t (*AvailableMemoryOverride)();

// MemAvailable of a /proc/meminfo text, in bytes; nullopt when absent or malformed.
std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo);
// The value of a "Key:  123 kB" line of a /proc text (meminfo, status), in
// bytes; nullopt when the key is absent or its value malformed.
std::optional<uint64_t> ParseProcBytes(std::string_view text, std::string_view key);

// The process's memory and the system's, in bytes (0 where unknown): what of
// the process is in memory (resident) and mapped (its virtual size), and the
// system's available and total physical memory.
struct TProcessMemory {
  uint64_t Resident = 0;
  uint64_t Mapped = 0;
  uint64_t Available = 0;
  uint64_t Total = 0;
};
TProcessMemory ReadProcessMemory();

// Bytes a memory-heavy operation needs for an image of `pixels` pixels per plane:
// 20 per pixel for a grey image, 28 for a colour image.
uint64_t MemoryNeededForPixels(uint64_t pixels, bool colour);

// Whether `planes` new float planes of width x height can be had: both sides
// at least 1 and within 32 bits, and all the planes within the free memory
// (when it is known). An operation whose result grows with a typed size asks
// before it allocates and refuses ("Nicht genug Speicher") when they cannot.
bool NewPlanesFit(int64_t width, int64_t height, int planes);

}  // namespace astrelon
