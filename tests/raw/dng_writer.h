#pragma once
// Writes small DNG files with a known colour mosaic for the camera RAW tests and
// benchmarks: one CFA image of 16-bit samples (uncompressed or lossless JPEG),
// black and white level, as-shot white balance, a colour matrix, the camera's
// names, a date and an EXIF directory with exposure, ISO, aperture and focal length.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon::test {

struct TDngLayout {
  int Width = 0;
  int Height = 0;
  std::vector<uint16_t> Cfa;                   // Width * Height samples, row 0 first
  std::array<uint8_t, 4> Pattern{0, 1, 1, 2};  // 2 x 2 CFA: 0 red, 1 green, 2 blue (RGGB)
  uint16_t BlackLevel = 0;
  uint16_t WhiteLevel = 65535;
  std::array<double, 3> AsShotNeutral{0.5, 1.0, 0.8};
  std::array<double, 9> ColorMatrix1{0.8, -0.2, -0.1, -0.4, 1.2, 0.2, -0.1, 0.2, 0.6};
  std::string Make = "Testkamera";
  std::string Model = "TK-1";
  std::string DateTime = "2006:03:04 21:05:33";
  std::string Artist;
  double ExposureTime = 0;  // seconds; 0 = not written
  double FNumber = 0;
  double FocalLength = 0;
  uint16_t Iso = 0;
  bool LosslessJpeg = false;  // one lossless JPEG stream instead of raw samples
};

// False when the file could not be written.
bool WriteDng(const std::string& path, const TDngLayout& layout);

// A mosaic with a different smooth gradient per colour site plus a fixed
// pseudo-random noise (seeded), values between lo and hi.
std::vector<uint16_t> MakeTestMosaic(int width, int height, uint16_t lo, uint16_t hi, uint32_t seed);

}  // namespace astrelon::test
