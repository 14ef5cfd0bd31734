#pragma once
// What the side panel shows under the mouse: statistics of the 15 x 15 pixel
// window around a point, its magnified picture as bytes and the profile curves.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace astrelon {

enum class TPanelImageKind { Grey, Rgb, Yuv };

struct TPanelWindow {
  TPanelImageKind Kind = TPanelImageKind::Grey;
  int64_t Count = 0;         // valid pixels
  double DC = 0, Rms = 0;    // plane 1 (grey, YUV) or plane 2 (RGB)
  float Min = 0, Max = 0;    // over plane 1 (and 2, 3 for RGB)
  // Magnified picture, row-major 15 x 15: red, green, blue; Drawn false keeps the fill.
  std::array<std::array<uint8_t, 3>, 225> Bytes{};
  std::array<bool, 225> Drawn{};
};

// Measures the window around (x, y) of the slot; false when `overtaken` (asked
// after each row) says a newer position arrived. A flat window is scaled with
// max = min + 1. The PSF array form reads a 64 x 64 array (element (x, y) at
// index x * 64 + y) as a grey image.
bool MeasurePanelWindow(int slot, int32_t x, int32_t y, TPanelWindow& w, const std::function<bool()>& overtaken);
bool MeasurePsfArrayWindow(std::span<const float> psf, int32_t x, int32_t y, TPanelWindow& w);

// Statistics label text: prefix and the value with 5 significant digits.
std::string PanelNumberText(const std::string& prefix, double value);
// The DC label's prefix by image kind: "DC: ", "DCg: ", "DCy: ".
std::string PanelDcPrefix(TPanelImageKind kind);
// The four statistics labels of a measured window: DC, rms, max and min, each
// with 5 significant digits. With a translation file the prefixes are its
// words followed by a blank (a YUV image keeps "DCy: ").
std::array<std::string, 4> PanelStatisticsTexts(const TPanelWindow& w);

// Profile point i (0..14) of a byte: x = 2 + 4i, y = 58 - round(byte x 56 / 255).
inline int32_t ProfileX(int i) { return 2 + 4 * i; }
int32_t ProfileY(uint8_t byte);

}  // namespace astrelon
