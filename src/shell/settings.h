#pragma once
// Program-wide settings: the option record and the settings variables, with their
// start values. Read from and written to "astrelon.ini" by the settings file module.
#include <array>
#include <cstdint>
#include <string>

namespace astrelon {

// Byte-wide options, in declaration order (the settings dialog addresses them by index).
struct TProgramOptions {
  uint8_t Preview = 1;
  uint8_t FitsFlip = 1;          // "Fits umdrehen"
  uint8_t RawInterpolation = 0;
  uint8_t RScaleOff = 0;
  uint8_t Highlight = 0;
  uint8_t YuvLoad = 0;           // "YUV Laden"
  uint8_t FitsExtFts = 0;
  uint8_t PngInterlaced = 0;
  uint8_t TiffScale = 0;
  uint8_t OpInterpolation = 2;
  uint8_t Scale = 1;             // "Skalieren"
  uint8_t PsfScale = 1;
  uint8_t BlackToZero = 0;       // "Schwarzwert auf 0"
  uint8_t GammaAdjust = 1;       // "Gammaanpassung"
  uint8_t FullPath = 1;          // "Ganzer Pfad"
  uint8_t PackedFlag23 = 0;
  uint8_t ArrowKeys = 1;         // "Pfeiltasten"
  uint8_t Simd = 1;              // "MMXundSSE"
  uint8_t Multicore = 1;
  uint8_t ImageBuffer = 1;       // "Bildpuffern"
  uint8_t ToolbarTint = 1;
  std::array<uint8_t, 27> Spare{};  // room for further bytes, all 0 (48 in all)
};

struct TSettingsVars {
  int32_t FitsSaveFormat = -32;
  int32_t JpegQuality = 90;
  std::array<std::string, 9> RecentFiles;  // 1..8
  int32_t HistLeft = -1, HistTop = -1, HistWidth = -1, HistHeight = -1;
  std::string FitsExtension = ".fit";
  int32_t InterpolationKind = 2;
  double HistoLowPercent = 0.2;
  double HistoHighPercent = 99.95;
  std::string TextFont = "Arial";
  int32_t TextStyle = 0;
  int32_t TextOptions = 165;
  int32_t TextColour = 16777215;
  std::string Text;
  int32_t PngCompression = 5;
  uint8_t FftCurveKeep = 0;
  std::string NetworkFolder;
  int32_t BlinkTimeTenths = 10;
  int32_t TextTransparency = 50;
  std::array<std::string, 7> RecentFunctions;  // 1..6
  int32_t DemosaicMethod = -1;
  std::string PaletteFile;
  uint8_t HistTransparent = 0;
  double NetworkSetting = 1.0;
  int32_t CutoutWidth = 640;
  std::string CutoutAspect = "4:3";
  double HotPixelSigma = 4.0;
  int32_t TiffSaveFormat = 2;
  std::string PackedParams;  // "Fparam3"
  std::string RawWhiteBalance = "Kamera";
  uint8_t HistogramMenuChecked = 1;
  uint8_t FitsHeaderChecked = 0;
  uint8_t InfoPanelVisible = 1;
  uint8_t ZoomAuto = 1;
  int32_t MainLeft = 0, MainTop = 0, MainWidth = 640, MainHeight = 480;
};

extern TProgramOptions Options;
extern TSettingsVars Settings;

}  // namespace astrelon
