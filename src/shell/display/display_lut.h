#pragma once
// The display transfer as a lookup table: entry i holds the output for the value
// Black + i * (White - Black) / steps, by the slot's display mode (power gamma,
// softened gamma, histogram-equalisation mix, smooth or polygon curve).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace astrelon {

// Histogram that drives the equalisation mix: counts of bins First..Last and, for
// each of them, the table position where its span ends.
struct TEqualisationInput {
  std::vector<double> Counts;  // index k - First
  std::vector<double> Ends;    // index k - First; the last one is the table's end
};

// Transfer values in output units before rounding.
struct TTransferTable {
  std::vector<double> Values;  // steps + 1 entries
  bool EvenOnly = false;       // gamma modes: odd entries come from their neighbours
  bool Truncate = false;       // polygon curve: integer outputs are truncated
};

// Equalisation input from the slot's 501-bin display histogram for a table of
// `steps` steps.
TEqualisationInput DisplayEqualisationInput(int slot, int steps);

// Transfer table of the slot's display mode; eq is used in the equalisation mode
// (Gamma <= 0, not the curve mode) and may be null otherwise. Loads the slot's
// curve for the smooth curve.
TTransferTable BuildTransfer(int slot, int steps, double scale, const TEqualisationInput* eq);

// The four table kinds of the renderer, 65,536 entries each plus one entry at
// index 65536 that blank pixels use.
constexpr int LutSteps = 65535;
constexpr uint32_t BlankIndex = 65536;
constexpr size_t LutSize = 65537;

// 0..255; blank entry 0.
std::vector<uint8_t> MakePlainLut(const TTransferTable& t);
// Output 0..1023 kept modulo 256; odd gamma entries keep the left neighbour at
// wrap-around edges; blank entry 0.
std::vector<uint8_t> MakeFourGradientLut(const TTransferTable& t);
// Palette indices 0..65535; blank entry 0.
std::vector<uint16_t> MakePaletteIndexLut(const TTransferTable& t);
// Values 0..maxValue (unrounded); blank entry 0.
std::vector<float> MakeFloatLut(const TTransferTable& t, double maxValue);

// Clamps of output bytes.
inline int32_t ClampByte(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
inline int32_t Clamp1023LowByte(int32_t v) { return v < 0 ? 0 : ((v > 1023 ? 1023 : v) & 255); }

}  // namespace astrelon
