#pragma once
// The speckle window's numeric fields, kept in characters 1..13 of the packed
// parameter text: margin and seeing as two hexadecimal digits each, the path
// length as one digit, then "Max Radius:", "Max Auflösung (Pixel):" and "D/r0:"
// as hexadecimal whole parts (two, one, two digits) each followed by one digit
// of tenths. The defaults pack to "0A32104511020".
#include <cstdint>
#include <string>
#include <string_view>

namespace astrelon {

struct TSpeckleSettings {
  int32_t Margin = 10;            // "Rand anpassen:" 0..255
  int32_t Seeing = 50;            // "Maximale Luftunruhe:" 0..255
  int32_t MaxSteps = 1;           // "Max Schrittanzahl (0=Autokorr.):" 0..9
  int32_t MaxRadiusTenths = 45;   // "Max Radius:" in tenths, 0..2559
  int32_t ResolutionTenths = 11;  // "Max Auflösung (Pixel):" in tenths, 0..159
  int32_t DOverR0Tenths = 20;     // "D/r0:" in tenths, 0..2559
  bool operator==(const TSpeckleSettings&) const = default;
};

constexpr size_t SpeckleSettingsLength = 13;

// The fields of a packed text: characters 1..8 when it is longer than 7
// characters, 9..13 when longer than 12; hexadecimal digits in either case. A
// field whose characters do not convert keeps its default.
TSpeckleSettings DecodeSpeckleSettings(std::string_view packed);
// The 13 characters of the settings (values clamped to what they hold).
std::string EncodeSpeckleSettings(const TSpeckleSettings& s);
// Writes them over the first 13 characters of `packed`, which becomes these 13
// characters when it is shorter.
void StoreSpeckleSettings(const TSpeckleSettings& s, std::string& packed);

// A field value rounded to tenths (halves to even) and clamped to 0 ..
// maxWhole.9 (4.96 gives 50, 4.5 gives 45); negative values and NaN give 0.
int32_t SpeckleTenths(double value, int32_t maxWhole);
// Tenths as the field shows them: 45 gives "4.5", 20 gives "2.0".
std::string SpeckleTenthsText(int32_t tenths);

}  // namespace astrelon
