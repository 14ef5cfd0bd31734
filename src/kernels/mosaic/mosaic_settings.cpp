#include "kernels/mosaic/mosaic_settings.h"

#include <utility>

#include "store/raw/mosaic_repair.h"

namespace astrelon {

TMosaicSettings MosaicSettings;
std::function<void()> MosaicSettingsChangedHook;
TMosaicCells MosaicPattern{McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};

const std::array<const char*, MosaicColorCount> MosaicColorNames{"Rot", "Grün", "Blau", "Cyan", "Magenta", "Gelb"};
const std::array<const char*, DemosaicMethodCount> DemosaicMethodNames{
    "Lineare Interpolation",   "Bayer Pattern, V.N.G. Color correction", "Bayer, schnelle Vorschau, halbe Größe",
    "Bayer, modified Kimmel",  "Bayer, astro",                           "Bayer, Neuronales Netzwerk"};
std::array<std::string, DemosaicMethodCount> DemosaicMethodTexts{
    DemosaicMethodNames[0], DemosaicMethodNames[1], DemosaicMethodNames[2],
    DemosaicMethodNames[3], DemosaicMethodNames[4], DemosaicMethodNames[5]};
std::string MosaicCommandCaption = "Farb-&CCD zu RGB Bild";

namespace {

constexpr std::array<std::array<int32_t, 4>, 4> Presets{{
    {McRed, McGreen, McGreen, McBlue},
    {McGreen, McRed, McBlue, McGreen},
    {McGreen, McBlue, McRed, McGreen},
    {McBlue, McGreen, McGreen, McRed},
}};

bool RedAndBlue(int32_t a, int32_t b) { return (a == McRed && b == McBlue) || (a == McBlue && b == McRed); }

}  // namespace

void NotifyMosaicSettingsChanged() {
  if (MosaicSettingsChangedHook) MosaicSettingsChangedHook();
}

void StoreMosaicPattern() { MosaicPattern = MosaicSettings.Cells; }

bool IsBayerCells(const TMosaicCells& c) {
  if (c[0] == McGreen && c[3] == McGreen) return RedAndBlue(c[1], c[2]);
  return c[0] != McGreen && c[1] == McGreen && c[2] == McGreen && RedAndBlue(c[0], c[3]);
}

bool IsStandardBayerPattern(const TMosaicSettings& s) { return !s.FourRows && IsBayerCells(s.Cells); }

bool MosaicGenerateEnabled(const TMosaicSettings& s) {
  if (s.Method <= 0) {
    const size_t used = s.FourRows ? 8 : 4;
    for (size_t i = 0; i < used; ++i)
      if (s.Cells[i] < 0) return false;
    return true;
  }
  // The network method needs its network named.
  if (s.Method == DmNetwork && s.NetworkFile.find_first_not_of(" \t") == std::string::npos) return false;
  return s.Method < DemosaicMethodCount && IsStandardBayerPattern(s);
}

void ChooseMosaicMethod(TMosaicSettings& s, int32_t method) {
  s.Method = method;
  if (method <= 0) {
    s.PixFilter = false;
    return;
  }
  s.FourRows = false;
  if (!IsStandardBayerPattern(s)) ApplyMosaicPreset(s, 0);
}

void SetMosaicFourRows(TMosaicSettings& s, bool on) {
  s.FourRows = on;
  if (on && s.Method > 0) ChooseMosaicMethod(s, DmLinear);
}

void ShiftMosaicPatternDown(TMosaicSettings& s) {
  TMosaicCells& c = s.Cells;
  if (!s.FourRows) {
    std::swap(c[0], c[2]);
    std::swap(c[1], c[3]);
    return;
  }
  const TMosaicCells old = c;
  for (size_t row = 0; row < 4; ++row)
    for (size_t col = 0; col < 2; ++col) c[((row + 1) % 4) * 2 + col] = old[row * 2 + col];
}

void ShiftMosaicPatternRight(TMosaicSettings& s) {
  const size_t rows = s.FourRows ? 4 : 2;
  for (size_t row = 0; row < rows; ++row) std::swap(s.Cells[row * 2], s.Cells[row * 2 + 1]);
}

int32_t MosaicPresetOfFilterCode(uint32_t code) {
  switch (ThreeColorFilterCode(code)) {
    case 0x94949494u: return 0;
    case 0x61616161u: return 1;
    case 0x49494949u: return 2;
    case 0x16161616u: return 3;
    default: return -1;
  }
}

int32_t PortraitMosaicPreset(int32_t index) {
  constexpr std::array<int32_t, 4> turned{1, 3, 0, 2};
  return index >= 0 && index < 4 ? turned[size_t(index)] : index;
}

void ApplyMosaicPreset(TMosaicSettings& s, int32_t index) {
  if (index < 0 || index >= 4) return;
  for (size_t i = 0; i < 4; ++i) s.Cells[i] = Presets[size_t(index)][i];
}

}  // namespace astrelon
