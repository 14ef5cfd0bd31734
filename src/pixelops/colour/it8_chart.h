#pragma once
// The reference chart of an IT8 colour target drawn as an sRGB image: every
// patch of a CGATS file (XYZ in percent) becomes a square of its colour.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace astrelon {

constexpr int32_t It8ChartWidth = 1040;
constexpr int32_t It8ChartHeight = 700;

// One patch: its block in the chart and its colour (0 .. 255, not clamped above).
struct TIt8Patch {
  int32_t X = 0, Y = 0, Width = 30, Height = 30;
  float R = 0, G = 0, B = 0;
};

// The patch of a data line (fixed columns: name from column 1, number 2-3 or
// for "GS" 3-4, X 12-17, Y 20-25, Z 28-33). D50 values (illuminant 50) are
// scaled to the D65 white first. nullopt for a line too short for its columns,
// a field that is no number, or a block that would leave the chart.
std::optional<TIt8Patch> It8PatchOfLine(std::string_view line, int illuminant);

// sRGB of an XYZ colour (components in 0..1, D65) times 255: linear RGB with
// negative values made 0, then the sRGB transfer curve.
void XyzToSrgb255(double x, double y, double z, float& r, float& g, float& b);

enum class TIt8Import { Done, NotIt8, Unreadable, NoSlot };

// Reads the chart file into the free slot: 1040 x 700, colour, blank but for
// the patches between "BEGIN_DATA" and "END_DATA", named after the file with
// ".fit", default header, display range 0 .. 255 with a histogram.
// A file whose first line does not start with "IT8", or that cannot be read,
// uses no slot.
TIt8Import ImportIt8Chart(int slot, const std::string& fileName, int illuminant);

}  // namespace astrelon
