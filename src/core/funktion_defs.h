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

}  // namespace astrelon
