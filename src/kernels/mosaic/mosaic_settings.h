#pragma once
// The parameter set of the colour-mosaic conversion ("Farb-CCD zu RGB"): the
// colours of the filter pattern's cells, the interpolation method, white-balance
// multipliers, black level, the red and blue size ratios, the debayer network
// file and two switches. One program-wide record holds the live settings: the
// dialog edits it, ".qcm" files load and store it, and the conversion, the batch
// and the own-RAW loader read it.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace astrelon {

// Colour of a pattern cell (-1: not chosen).
enum TMosaicColor : int32_t { McRed = 0, McGreen = 1, McBlue = 2, McCyan = 3, McMagenta = 4, McYellow = 5 };
constexpr int32_t MosaicColorCount = 6;

// The conversion methods (-1: none chosen). All but the linear one need a
// standard Bayer pattern.
enum TDemosaicMethod : int32_t {
  DmLinear = 0,     // "Lineare Interpolation"
  DmVng = 1,        // "Bayer Pattern, V.N.G. Color correction"
  DmHalfSize = 2,   // "Bayer, schnelle Vorschau, halbe Größe"
  DmKimmel = 3,     // "Bayer, modified Kimmel"
  DmAstro = 4,      // "Bayer, astro"
  DmNetwork = 5,    // "Bayer, Neuronales Netzwerk"
};
constexpr int32_t DemosaicMethodCount = 6;

// Cells in the order (0,0), (1,0), (0,1), (1,1), (0,2), (1,2), (0,3), (1,3) as
// (column, row).
using TMosaicCells = std::array<int32_t, 8>;

// Fields in the order of the ".qcm" file. The numbers are kept as typed; the
// conversion reads them with "," or "." as the decimal separator.
struct TMosaicSettings {
  TMosaicCells Cells{McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  bool FourRows = false;      // "Noch weitere 2 Reihen:"
  int32_t Method = -1;
  bool PixFilter = false;     // evens out the two green lattices
  std::string Rmul = "1.00";
  std::string Bmul = "1.00";
  std::string Bias = "0";
  std::string RedRatio = "1.000";   // size ratio of the red plane (chromatic aberration)
  std::string BlueRatio = "1.000";
  std::string G1mul = "1.00";       // green multiplier of the even rows
  std::string NetworkFile;          // debayer network of method 5
  bool Highlights = false;          // repair clipped highlights first
  bool CameraProfile = true;        // apply the camera colour profile when the camera is known

  bool operator==(const TMosaicSettings&) const = default;
};

// The live settings.
extern TMosaicSettings MosaicSettings;
// Called after MosaicSettings changed outside the dialog (a file was read), so
// that an open dialog shows the new values.
extern std::function<void()> MosaicSettingsChangedHook;
void NotifyMosaicSettingsChanged();

// The pattern the conversion and its kernels read, filled by StoreMosaicPattern.
extern TMosaicCells MosaicPattern;
// Copies the cells of the live settings into MosaicPattern.
void StoreMosaicPattern();
// Colour of pixel (x, y) by the first four cells.
inline int32_t MosaicCellColor(const TMosaicCells& cells, int32_t x, int32_t y) {
  return cells[size_t((y & 1) * 2 + (x & 1))];
}

// Whether the pixFilter and highlight switches take part (the dialog enables
// them for the methods above 0).
inline bool MosaicSwitchesEnabled(const TMosaicSettings& s) { return s.Method > 0; }

// Whether the first four cells hold two greens on a diagonal and one red and
// one blue on the other.
bool IsBayerCells(const TMosaicCells& cells);
// False with four rows; otherwise IsBayerCells of the cells.
bool IsStandardBayerPattern(const TMosaicSettings& s);
// Whether "&Generier Bild" may run: method 0 or none with every cell in use
// chosen, or a method from 1 to 5 with a standard Bayer pattern (method 5 also
// with its network named).
bool MosaicGenerateEnabled(const TMosaicSettings& s);

// A method chosen in the list: 0 or none clears pixFilter; 1 to 5 clear the
// four-row flag and make a pattern that is not standard Bayer Rot, Grün, Grün, Blau.
void ChooseMosaicMethod(TMosaicSettings& s, int32_t method);
// The four-row switch: on, it sets a Bayer method back to the linear one.
void SetMosaicFourRows(TMosaicSettings& s, bool on);
// "v": two rows swap; four rows move down by one, row 3 becoming row 0.
void ShiftMosaicPatternDown(TMosaicSettings& s);
// ">": the two columns of every row in use swap.
void ShiftMosaicPatternRight(TMosaicSettings& s);

// Pattern presets: index 0 Rot, Grün, Grün, Blau; 1 Grün, Rot, Blau, Grün;
// 2 Grün, Blau, Rot, Grün; 3 Blau, Grün, Grün, Rot.
// The preset of a camera RAW filter code; -1 for other codes.
int32_t MosaicPresetOfFilterCode(uint32_t code);
// The preset of the same pattern turned by 90 degrees to the right (portrait images).
int32_t PortraitMosaicPreset(int32_t index);
// Sets the four cells of a preset 0..3 (others change nothing).
void ApplyMosaicPreset(TMosaicSettings& s, int32_t index);

// The built-in German names of the colours and of the methods.
extern const std::array<const char*, MosaicColorCount> MosaicColorNames;
extern const std::array<const char*, DemosaicMethodCount> DemosaicMethodNames;
// The method names as the method list shows them (translated when a translation
// is loaded); the conversion's history card takes its text from here.
extern std::array<std::string, DemosaicMethodCount> DemosaicMethodTexts;
// The caption of the menu command (the history card's first words).
extern std::string MosaicCommandCaption;

}  // namespace astrelon
