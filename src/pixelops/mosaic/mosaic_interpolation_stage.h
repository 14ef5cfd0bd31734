#pragma once
// The interpolation stage of the colour-mosaic conversion: what the conversion
// hands to the interpolation method it runs (methods 0, 1, 3, 4 and 5; the half
// size method 2 is the conversion's own), and the table of the methods' stage
// routines.
//
// On entry the working slot holds the prepared mosaic in plane 1 (black level
// subtracted, blanks filled, multiplied for the methods above 0, clipped
// highlights repaired when asked); the result slot is a three-plane RGB image of
// the same size whose planes all hold that mosaic (with the pixFilter
// correction in planes 1 and 2 when asked), with its name, header and display
// record. The stage fills the result's three planes (border pass, workers, and
// for method 0 the crop to two pixels less in each direction); the conversion
// then adds the history card, applies the size ratios and the camera profile.
// The pattern is MosaicPattern (mosaic_settings.h), stored before the stage.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "kernels/mosaic/mosaic_settings.h"

namespace astrelon {

struct TMosaicStage {
  int32_t Source = -1;        // working slot: the prepared mosaic, one plane
  int32_t Destination = -1;   // result slot: three planes
  int32_t Method = DmLinear;  // 0, 1, 3, 4 or 5
  int32_t RowMask = 1;        // 1 for a two-row pattern, 3 for a four-row pattern
  bool SizeRatio = false;     // the red or the blue size ratio differs from 1
  double Noise = 0.1;         // noise of the working mosaic, at least 0.1
  double RedMultiplier = 1;   // Rmul (method 0 applies it itself)
  double BlueMultiplier = 1;  // Bmul
  // Size-ratio shift of red and blue sites per column (width entries) and per
  // row (height entries), each keeping the shifted site inside the image.
  std::span<const int32_t> RedColumns, BlueColumns, RedRows, BlueRows;
  std::string NetworkFile;    // weight file of method 5
};

// A method's stage: true when the result's planes hold the interpolated image,
// false when nothing could be made (the conversion then makes no result).
using TMosaicStageRoutine = bool (*)(const TMosaicStage& stage);

// The stage routine of each method 0..5 (entry 2 unused); nullptr while a
// method has none. A method plugs in by its entry in the table's start values
// (mosaic_interpolation_stage.cpp); tests may replace entries and put them back.
std::array<TMosaicStageRoutine, DemosaicMethodCount>& MosaicStageRoutines();

// Runs the method's stage; false when the method has no routine or it failed.
bool RunMosaicStage(const TMosaicStage& stage);
// Whether the method can convert now (method 2 always can).
bool MosaicMethodAvailable(int32_t method);

}  // namespace astrelon
