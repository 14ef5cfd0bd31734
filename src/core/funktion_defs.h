#pragma once
// The filter functions of the shared filter dialog: one record per function with
// its sliders, check boxes and radio group. The dialog writes the slider positions
// and check-box states back into the table, and the settings file keeps them
// between runs.
#include <array>
#include <cstdint>
#include <string>

namespace astrelon {

// One slider.
struct FTrackbar {
  std::string Caption;     // empty: the function has no such slider
  float Position = 0.0f;   // knob position 0..1 (the table's value is the default)
  float Min = 0.0f, Max = 0.0f;
  uint8_t Quadratic = 0;   // value grows with the square of the position
  uint8_t Integer = 0;     // value shown as a whole number
};

// One check box.
struct FCheckBox {
  std::string Caption;  // empty: the function has no such check box
  uint8_t Checked = 0;
};

// One radio group.
struct FRadiogroup {
  std::string Caption;  // empty: the function has no radio group
  int32_t Count = 0;
  int32_t Default = 0;
  std::array<std::string, 4> Items;
};

struct TFunktionDef {
  std::string Name;
  std::array<FTrackbar, 3> Trackbar;
  std::array<FCheckBox, 2> CheckBox;
  FRadiogroup Radiogroup;
  uint8_t NeedsBerechnen = 0;  // computed only on "&Berechnen"
};

constexpr int FunktionCount = 21;
// Indexed by FunktionNr 1..21 (entry 0 unused; entry 11 is a placeholder).
extern std::array<TFunktionDef, FunktionCount + 1> FunktionDefTable;

// The table with its default positions and states.
std::array<TFunktionDef, FunktionCount + 1> DefaultFunktionDefTable();

// Per FunktionNr 0..21: 1 or more when a function computed on "&Berechnen" opens
// with "&Berechnen" enabled and "&Ok" disabled; 0 when "&Berechnen" starts disabled.
constexpr std::array<int32_t, FunktionCount + 1> FunktionStartState = {4, 0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 0,
                                                                       1, 0, 1, 0, 1, 1, 0, 1, 1, 1};

// Value of slider j (1, 2 or 3; any other j means 3) of function i from its
// position p: p^2 (Max - Min) + Min for a quadratic slider, else p (Max - Min) + Min.
// Slider 1 of function 14 gives the snapped median window size.
float FunktionParamValue(int i, int j);
// The value as shown beside the slider: a whole number for an integer slider,
// else 2 decimals below 10, 1 below 100 and none above, at most 3 significant digits.
std::string FunktionParamText(int i, int j);
// Snaps a requested median window pixel count to a round footprint: 5, 9, 13,
// 21, 29, 37, 45, 57 or 69 over the slider's range; clamped to 5..69.
int32_t MedianWindowSize(float v);

}  // namespace astrelon
