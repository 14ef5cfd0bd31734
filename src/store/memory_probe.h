#pragma once
// Free memory and the test whether a memory-hungry operation on a slot fits.
#include <cstdint>
#include <optional>
#include <string_view>

namespace astrelon {

// Bytes of memory the program can still take: the smaller of the system's
// available physical memory (MemAvailable) and what the address-space limit
// leaves; 0 when it cannot be determined.
uint64_t AvailableMemory();

// MemAvailable of a /proc/meminfo text, in bytes; nullopt when absent or malformed.
std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo);

// Bytes a memory-heavy operation needs for an image of `pixels` pixels per plane:
// 20 per pixel for a grey image, 28 for a colour image.
uint64_t MemoryNeededForPixels(uint64_t pixels, bool colour);

// True when AvailableMemory() exceeds what an operation on the slot needs.
bool HasMemoryForSlot(int slot);

}  // namespace astrelon
