#pragma once
// The user's own display palette: up to 65,536 colours (0x00RRGGBB), loaded from
// the file named by the setting "Palette" by the palette loader.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// Replaces the palette (at most 65,536 colours are kept); an empty list unloads it.
void SetUserPalette(std::vector<uint32_t> colours);
bool UserPaletteLoaded();
std::span<const uint32_t> UserPalette();
// Whether the palette can drive the 16-bit palette display (more than 65,535 colours).
bool UserPaletteUsable();

}  // namespace astrelon
