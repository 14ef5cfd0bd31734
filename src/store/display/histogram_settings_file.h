#pragma once
// Histogram settings files (".qzh"): a slot's black and white points, display
// range, gamma or curve mode with its five points, and the rounded and luma
// flags, one value per line. The histogram window saves and loads them; the
// batch loads them into the slots it processes.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/display/display_record.h"

namespace astrelon {

struct THistogramSettings {
  float Gamma = 1;
  float Black = 0;
  float White = 1;
  float RangeLow = 0;
  float RangeHigh = 1;
  uint8_t CurveMode = 1;
  uint8_t LumaOnly = 0;
  bool HasCurve = false;                  // Gamma is the curve mode: Points hold curve points 1..5
  std::array<TCurvePoint, 5> Points{};
};

// The file's text (CR LF line ends, numbers with "."): 18 lines for a display in
// curve mode, else 8.
std::string FormatHistogramSettings(const TDisplayRecord& d);
// Parses a whole file; nullopt (with a reason in `error`) when a line is missing
// or a number line holds no finite number within the float range.
std::optional<THistogramSettings> ParseHistogramSettings(std::string_view text, std::string* error = nullptr);

// Writes the slot's settings to fileName with its extension replaced by ".qzh".
bool SaveHistogramSettings(int slot, const std::string& fileName, std::string* error = nullptr);

// Reads fileName (extension replaced by ".qzh") into the slot's display record:
// the display is reset first, then the file's fields are set. With applyNow the
// range is clamped and the histogram recomputed. False, with the record
// unchanged and a reason in `error`, when the slot is not 1..49 or the file is
// missing, unreadable, oversized or malformed.
bool LadeHistogrammeinstellung(int slot, const std::string& fileName, bool applyNow, std::string* error = nullptr);

}  // namespace astrelon
