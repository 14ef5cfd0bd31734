#pragma once
// A 32 x 32 cutout around a picked star with the results of its profile fit.
// Cutout pixel (0, 0) lies at image point (OriginX, OriginY); the star is picked
// at cutout pixel (15, 15).
#include <array>
#include <cstdint>
#include <string>

namespace astrelon {

constexpr int StarCutoutSize = 32;

struct TStarCutout {
  int32_t PlaneCount = 1;  // planes copied (1..3)
  int32_t CellSize = 32;   // 32: the whole cutout is shown; 16: its central 16 x 16 pixels
  int32_t ColorModel = 0;
  int32_t OriginX = 0, OriginY = 0;
  int32_t Channel = 1;
  int32_t HoldCount = 0;
  // Row-major (row = y); outside the image the blank value.
  std::array<std::array<float, StarCutoutSize * StarCutoutSize>, 3> Planes{};
  float MinValue = 0, MaxValue = 0;  // over all planes, blanks excluded
  float FullWidthX = 0, FullWidthY = 0;
  std::array<float, 4> PlaneMin{}, PlaneMax{};  // index 1..3
  std::array<float, 4> SaturationLevel{};       // index 1..3
  uint8_t Analysed = 0;
  uint8_t NeedsRedraw = 0;
  float CentreX = 0, CentreY = 0;
  float Background = 0;
  float Amplitude = 0;
  float SigmaX = 0, SigmaY = 0;
  float SignalToNoise = 0;
  float Flux = 0;
  std::string FileName;

  float At(int plane, int x, int y) const { return Planes[size_t(plane - 1)][size_t(y * StarCutoutSize + x)]; }
  float& At(int plane, int x, int y) { return Planes[size_t(plane - 1)][size_t(y * StarCutoutSize + x)]; }
};

}  // namespace astrelon
