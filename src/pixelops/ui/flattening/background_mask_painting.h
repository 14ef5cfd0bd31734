#pragma once
// The byte mask of the masked flattening dialog and its drawing: strokes
// (Bresenham lines), their closing polygon fill, the 4-connected flood fill of
// the eraser, and the automatic marking of bright areas with its level table.
// Drawn by hand rather than by a painter: the bytes must keep their exact
// values (255 while a stroke is drawn, 1 painted, 250/249 bright areas, 0 free).
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

constexpr uint8_t MaskFree = 0;
constexpr uint8_t MaskPainted = 1;
constexpr uint8_t MaskStroke = 255;
constexpr uint8_t MaskBright = 250;
constexpr uint8_t MaskBrightEdge = 249;

struct TMaskPoint {
  int32_t X = 0, Y = 0;
  bool operator==(const TMaskPoint&) const = default;
};

// One byte per image pixel, row-major.
struct TByteMask {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Bytes;

  void Resize(int32_t w, int32_t h);  // every byte 0
  bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < Width && y < Height; }
  uint8_t& At(int32_t x, int32_t y) { return Bytes[size_t(y) * size_t(Width) + size_t(x)]; }
  uint8_t At(int32_t x, int32_t y) const { return Bytes[size_t(y) * size_t(Width) + size_t(x)]; }
  void Fill(uint8_t value);
  // Every byte above `threshold` becomes `value`.
  void ReplaceAbove(uint8_t threshold, uint8_t value);
};

// The line from `from` to `to` (Bresenham, both ends included) set to `value`
// where it lies inside the mask; each of its pixels is appended to `points`
// unless it repeats the last point there.
void DrawMaskLine(TByteMask& mask, TMaskPoint from, TMaskPoint to, uint8_t value, std::vector<TMaskPoint>& points);

// Sets every pixel whose centre lies inside the closed polygon (even-odd rule)
// to `value`.
void FillMaskPolygon(TByteMask& mask, std::span<const TMaskPoint> polygon, uint8_t value);

// Sets the 4-connected region of the byte found at (x, y) to `value`.
void FloodFillMask(TByteMask& mask, int32_t x, int32_t y, uint8_t value);

// The end of a stroke: more than 5 points close into a polygon that is filled
// and becomes painted (every byte above 250 becomes 1); a shorter stroke is
// removed (every byte above 250 becomes 0). The point list is emptied.
void FinishMaskStroke(TByteMask& mask, std::vector<TMaskPoint>& points);

// The plane the bright areas are judged on: green (2) of an RGB colour image,
// else 1.
int BrightMarkingPlane(int slot);

// The bright-area levels of the slot: entry 0 marks nothing (maximum + 1),
// entry i (1..98) marks roughly the brightest i/98 of the valid pixels, from a
// histogram with bins of a third of the noise (200 to 65536 bins). A plane
// whose maximum equals its minimum gets levels that mark nothing.
using TBrightLevels = std::array<float, 99>;
TBrightLevels BrightAreaLevels(int slot);

// Replaces the earlier bright marks (bytes above 200) by the pixels of `plane`
// at or above `level` that are free, grown by their free 4-neighbours; all of
// them become 250. Painted bytes stay.
void MarkBrightAreas(TByteMask& mask, std::span<const float> plane, float level);

}  // namespace astrelon
