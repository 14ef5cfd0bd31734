#pragma once
// Wavelet settings files (".wvl"): plain text, one value a line:
//   1     hardness item index 0..3 ("Thresholdhärte")
//   2     overall strength ("Gesamtstärke")
//   3..6  noise thresholds of layers 1..4
//   7..10 detail gains of layers 1..4
//   11    "highqual" or "loqual" ("Bessere Berechnung"; without it: off)
// Numbers are written with "."; "," is read as well. The values are kept as the
// texts of the dialog's fields.
#include <array>
#include <cstdint>
#include <string>

namespace astrelon {

inline constexpr const char* WaveletSettingsExtension = ".wvl";

struct TWaveletSettings {
  int32_t Hardness = 1;
  std::string Strength = "1.00";
  std::array<std::string, 4> Thresholds{"1.00", "1.00", "1.00", "1.00"};
  std::array<std::string, 4> Gains{"1.00", "1.00", "1.00", "1.00"};
  bool Better = false;
};

// The numbers of a record: thresholds[l] = threshold l x strength, gains[l] and
// a fifth gain of 1.0, each held within +-FactorLimit (float_range.h), where
// larger ones change nothing more or overflow the result. False when a text is
// not a number or one beyond the float range.
struct TWaveletNumbers {
  std::array<double, 4> Thresholds{};
  std::array<float, 5> Gains{1, 1, 1, 1, 1};
};
bool WaveletNumbers(const TWaveletSettings& s, TWaveletNumbers& n);

enum class TWaveletFileRead { Read, Missing, Refused };
// Reads a file into `s` (changed only when Read). A file of fewer than ten lines,
// a first line that is not a whole number 0..3, or a line 2..10 that is not a
// number (or one beyond the float range) is refused, with the file and the reason in `error`.
TWaveletFileRead ReadWaveletSettings(const std::string& fileName, TWaveletSettings& s, std::string* error = nullptr);
// The eleven lines, CR LF.
std::string FormatWaveletSettings(const TWaveletSettings& s);
// Writes the file (through the atomic writer); false with the reason in `error`.
bool WriteWaveletSettings(const std::string& fileName, const TWaveletSettings& s, std::string* error = nullptr);

}  // namespace astrelon
