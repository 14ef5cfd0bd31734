#pragma once
// Program-wide settings: the option record and the settings variables, with their
// start values. Read from and written to "astrelon.ini" by the settings file module.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

// Byte-wide options at fixed places: the settings dialog addresses a byte by its
// control's Tag (OptionByteIndex), so each field keeps its offset; the bytes
// between them are spare and stay 0. 48 bytes in all.
struct TProgramOptions {
  uint8_t Preview = 1;           //  0 "Preview"
  uint8_t FitsFlip = 1;          //  1 "Fits umdrehen"
  uint8_t RawInterpolation = 0;  //  2 "Rawinterpolation"
  uint8_t RScaleOff = 0;         //  3 "RScale"
  uint8_t Highlight = 0;         //  4 "Highlight"
  uint8_t YuvLoad = 0;           //  5 "YUV Laden"
  uint8_t Spare6[2]{};
  uint8_t FitsFormatItem = 0;    //  8 item of the FITS save format (-32, 32, 16); not stored
  uint8_t FitsExtFts = 0;        //  9 1 when the FITS extension is ".fts"
  uint8_t PngInterlaced = 0;     // 10 "PNG interlaced"
  uint8_t TiffScale = 0;         // 11 "TIFF skalieren"
  uint8_t Spare12[4]{};
  uint8_t OpInterpolation = 2;   // 16 interpolation kind of operations, 0..3
  uint8_t Scale = 1;             // 17 "Skalieren"
  uint8_t PsfScale = 1;          // 18 "PSF skalieren"
  uint8_t Spare19[5]{};
  uint8_t BlackToZero = 0;       // 24 "Schwarzwert auf 0"
  uint8_t GammaAdjust = 1;       // 25 "Gammaanpassung"
  uint8_t Spare26[6]{};
  uint8_t FullPath = 1;          // 32 "Ganzer Pfad"
  uint8_t PackedFlag23 = 0;      // 33 position 23 of "Fparam3"
  uint8_t ArrowKeys = 1;         // 34 "Pfeiltasten"
  uint8_t Spare35[5]{};
  uint8_t Simd = 1;              // 40 "MMXundSSE"
  uint8_t Multicore = 1;         // 41 "Multicores"
  uint8_t ImageBuffer = 1;       // 42 "Bildpuffern"
  uint8_t MemoryBar = 0;         // 43 memory bar of the main window shown; not stored
  uint8_t ToolbarTint = 1;       // 44 position 14 of "Fparam3"
  uint8_t Spare45[3]{};
};
static_assert(sizeof(TProgramOptions) == 48);
static_assert(offsetof(TProgramOptions, FitsFormatItem) == 8 && offsetof(TProgramOptions, OpInterpolation) == 16 &&
              offsetof(TProgramOptions, BlackToZero) == 24 && offsetof(TProgramOptions, FullPath) == 32 &&
              offsetof(TProgramOptions, Simd) == 40 && offsetof(TProgramOptions, ToolbarTint) == 44);

// Byte of the option record that a settings control with this Tag addresses:
// (Tag div 10) x 8 + (Tag mod 10).
constexpr int OptionByteIndex(int tag) { return tag / 10 * 8 + tag % 10; }
// The option byte at an index 0..47 (the record read as its bytes); throws
// std::out_of_range for any other index.
uint8_t& OptionByte(TProgramOptions& options, int index);

// Number of entries of the recent-file and recent-function lists kept in the file.
constexpr int RecentFileCount = 8;
constexpr int StoredRecentFunctionCount = 6;

struct TSettingsVars {
  int32_t FitsSaveFormat = -32;                          // "Fits Speicherformat": -32, 32 or 16
  int32_t JpegQuality = 90;                              // "JPEG Qualitaet in %", 1..100
  std::array<std::string, RecentFileCount + 1> RecentFiles;  // 1..8, entry 1 newest
  int32_t HistLeft = -1, HistTop = -1, HistWidth = -1, HistHeight = -1;  // histogram window
  std::string FitsExtension = ".fit";                    // ".fit" or ".fts"
  int32_t InterpolationKind = 2;                         // TInterpolationKind 0..4
  double HistoLowPercent = 0.2;
  double HistoHighPercent = 99.95;
  std::string TextFont = "Arial";                        // font of the text tool
  int32_t TextStyle = 0;                                 // bold 1, italic 2, underline 4, strike-out 8
  int32_t TextOptions = 165;                             // "Foptions"; font size = TextOptions div 16
  uint8_t TextOptionsRead = 0;                           // set when "Foptions" was read
  int32_t TextColour = 16777215;                         // "Farbe"
  std::string Text;                                      // text of the text tool
  int32_t PngCompression = 5;
  uint8_t FftCurveKeep = 0;                              // "FFTKurve beibehalten"
  std::string NetworkFolder;                             // "NNordner"
  int32_t BlinkTimeTenths = 10;                          // "BlinkzeitM10"
  int32_t TextTransparency = 50;                         // "Ttrans"
  std::array<std::string, StoredRecentFunctionCount + 1> RecentFunctions;  // 1..6 captions
  int32_t DemosaicMethod = -1;                           // "Debayerfunktion"
  std::string PaletteFile;                               // "Palette"
  uint8_t HistTransparent = 0;                           // "HTransp"
  double NetworkSetting = 1.0;                           // "Netzwerkini"
  int32_t CutoutWidth = 640;                             // "Ausschnittbreite"
  std::string CutoutAspect = "4:3";                      // "Ausschnitthoehe"
  double HotPixelSigma = 4.0;                            // "Hotpixel Sigma"
  int32_t TiffSaveFormat = 2;                            // "Tiff Speicherformat"
  std::string PackedParams;                              // "Fparam3", at most 255 characters
  std::string RawWhiteBalance = "Kamera";                // "RawWB" (no effect)

  // Values decoded from the packed parameter string "Fparam3".
  int32_t PsfParamA = 0;        // positions 24-25, stored + 128
  int32_t PsfParamB = 0;        // positions 26-27, stored + 128
  double FftNoiseParam1 = 2.0;  // positions 28-29, stored x 10
  int32_t FftNoiseParam2 = 8;   // positions 30-31
  int32_t ShiftMode = 0;        // position 32: shift-determination mode

  // Filter parameter rows as read ("Fparam1", "Fparam2"), decoded after the file.
  std::string FilterRows1, FilterRows2;

  // Main-window state kept in the file.
  uint8_t HistogramMenuChecked = 1;  // "Histogramm"
  uint8_t FitsHeaderChecked = 0;     // "Fits Header"
  uint8_t InfoPanelVisible = 1;      // "Panel"
  int32_t MainLeft = 0, MainTop = 0, MainWidth = 640, MainHeight = 480;
  int32_t StoredZoom = 0;  // "Zoom" as read: a stored zoom number (-3..8), 0 when absent
  int32_t ZoomEntry = 0;   // current entry of the zoom list (0 "Autozoom" .. 10 "17%")

  // Lines of the file that carry no key, written back after the keys.
  std::vector<std::string> ForeignLines;
  // Start file name of the open dialog (first recent file whose folder exists).
  std::string OpenDialogFileName;
};

extern TProgramOptions Options;
extern TSettingsVars Settings;
// The histogram window's place came from the defaults, not the settings file:
// its first showing puts it beside the image area instead.
extern bool HistogramPlaceDefaulted;

}  // namespace astrelon
