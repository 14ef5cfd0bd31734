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

// MemAvailable of a /proc/meminfo text, in bytes; nullopt when absent or malformed.
std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo);

// Bytes a memory-heavy operation needs for an image of `pixels` pixels per plane:
// 20 per pixel for a grey image, 28 for a colour image.
uint64_t MemoryNeededForPixels(uint64_t pixels, bool colour);

}  // namespace astrelon
