#pragma once
// Per-slot display state: black and white points, gamma or curve, display type,
// the 501-bin histograms, channel selection and zoom.
#include <array>
#include <cstdint>

namespace astrelon {

// Display codes of a slot.
enum TDisplayTypeCode : int32_t {
  DtGrey = 1,
  DtIsophotes = 2,
  DtGradient = 3,
  DtRed = 4,
  DtGreen = 5,
  DtBlue = 6,
  DtFourGradients = 7,
  DtOwnPalette = 8,
  DtColorRgb = 9,
  DtColorRgbAlt = 10,
  DtColorYuv = 11,
};

struct TCurvePoint {
  float X = 0;
  float Y = 0;
};

constexpr int HistogramBins = 501;      // bins 0..500
constexpr int HistogramEntries = 504;   // guard 0, bins at 1..501, guard 502, 503 unused

struct TDisplayRecord {
  float Black = 0;
  float White = 1;
  float RangeLow = 0;
  float RangeHigh = 1;
  float Gamma = 1;            // > 0 power gamma; <= 0 equalisation share; -10 curve mode
  uint8_t SqrtHistogram = 0;
  uint8_t CurveMode = 1;
  uint8_t LumaOnly = 0;       // the flag after CurveMode
  int32_t DisplayType = DtGrey;
  std::array<std::array<uint32_t, HistogramEntries>, 3> Histogram{};  // [plane-1][entry]
  int32_t HistogramPeak = 0;
  std::array<TCurvePoint, 7> CurvePoints{};
  int32_t BuiltLevel = 0;     // 0 full size, 1 half, 3 quarter
  uint8_t Changed = 1;
  int32_t ChannelSelection = 0;
  int32_t ZoomPercent = 100;
  uint8_t SpanBlackWhite = 0;  // the "histogram-window flag": axis spans Black..White
};

constexpr float CurveModeGamma = -10.0f;

}  // namespace astrelon
