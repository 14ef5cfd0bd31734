#pragma once
// The colour tables of the 8-bit display types, indexed by display type 0..7.
#include <array>
#include <cstdint>

namespace astrelon {

// 256 colours as 0x00RRGGBB (in memory: blue, green, red, reserved).
using TColourTable = std::array<uint32_t, 256>;

// Built on first use: 0 all zero, 1 and 2 grey, 3 "Farbverlauf", 4 red, 5 green,
// 6 blue, 7 "4 Farbverläufe".
const std::array<TColourTable, 8>& DisplayColourTables();

// Table of a display code (1..8 and the colour codes); codes without their own
// table show grey.
const TColourTable& ColourTableForType(int displayType);

constexpr uint32_t PackRgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

}  // namespace astrelon
