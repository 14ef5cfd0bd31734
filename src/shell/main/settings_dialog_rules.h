#pragma once
// What the settings dialog's controls do to the settings, apart from the
// windows they touch: the edit fields' parsing and ranges, and the three radio
// groups. Check boxes store their state in the option byte of their Tag
// (OptionByteIndex, core/settings.h).
#include <string>
#include <string_view>

namespace astrelon {

// The eight edit fields, numbered as Edit1 .. Edit8.
enum class TSettingsEdit {
  JpegQuality = 1,    // "JPEG Qualitaet in %", integer 1..100
  PngCompression = 2, // "PNG Kompression", integer 0..9
  HistoLow = 3,       // "Histo Min%", 0..50
  HistoHigh = 4,      // "Histo Max%", 51..100
  NetworkInit = 5,    // "Netzwerkini", 0..99
  FftSigma = 6,       // first parameter of the automatic 2D FFT filter, 0.1..15.9
  FftMargin = 7,      // outer margin of the 2D FFT, integer 0..99 pixels
  HotPixelSigma = 8,  // "Hotpixel Sigma", 1..19
};

// Stores the typed text into the field's setting, clamped into its range; a
// text that is not a number keeps the previous value (clamped again).
void ApplySettingsEditText(TSettingsEdit edit, std::string_view text);
// The field's setting as text: integers in decimal, decimals in general format.
std::string SettingsEditText(TSettingsEdit edit);

// Radio group Tags: 10 FITS save format, 11 FITS extension, 20 interpolation.
constexpr int FitsFormatTag = 10;
constexpr int FitsExtensionTag = 11;
constexpr int InterpolationTag = 20;
// The chosen item goes into the group's option byte, then: Tag 10 sets the FITS
// save format (-32, 32, 16), Tag 11 the extension (".fts" for item 1, ".fit"
// otherwise), Tag 20 the interpolation kind (item 3 is "Lanczos3", kind 4) with
// its tap window.
void ApplySettingsRadio(int tag, int item);
// The item that shows the current setting: the FITS format -32 -> 0, 32 -> 1,
// others 2; ".fts" -> 1, else 0; interpolation kind 4 -> 3, kinds 0..2 as they
// are, any other kind (3, "dSinc") no item (-1).
int SettingsRadioItem(int tag);

}  // namespace astrelon
