#pragma once
// The user's own display palette: 65,536 colours (0x00RRGGBB), one per 16-bit
// display level, taken from a 256 x 256 picture (PNG or BMP) whose pixel in row r,
// column c is entry r x 256 + c: dark at the top left, bright at the bottom right.
// The file's name is the setting "Palette".
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace astrelon {

constexpr int OwnPaletteSide = 256;

// Replaces the palette (at most 65,536 colours are kept); an empty list unloads it.
void SetUserPalette(std::vector<uint32_t> colours);
bool UserPaletteLoaded();
std::span<const uint32_t> UserPalette();
// Whether the palette can drive the 16-bit palette display (more than 65,535 colours).
bool UserPaletteUsable();

// Makes the palette from the pixels (0x00RRGGBB, row 0 first) of a picture; false
// (nothing changes) unless it is exactly 256 x 256 pixels.
bool BuildOwnPalette(int width, int height, std::span<const uint32_t> pixels);
// Loads a ".png" or ".bmp" file (any letter case) as the palette and makes it the
// setting "Palette". False, with nothing changed, for another extension, a file
// that cannot be read or decoded, or a picture that is not 256 x 256.
bool LoadOwnPaletteFile(const std::string& fileName);
// Forgets the palette and empties the setting.
void ForgetOwnPalette();

// The palette picture reduced by block means to `columns` x `rows` colours
// (row 0 = the palette picture's top band); empty without a palette.
std::vector<uint32_t> OwnPalettePreview(int columns, int rows);

}  // namespace astrelon
