#pragma once
// Reference point pairs from the marks and selections that the user placed in
// two image windows: point 1 (and 2) of the reference image and the same
// point(s) of the second image.
#include <cstdint>
#include <string>

#include "kernels/alignment/stars/find_star_centroid.h"

namespace astrelon {

struct TAlignPoints {
  float A1x = 0, A1y = 0, A2x = 100, A2y = 100;  // reference image
  float B1x = 0, B1y = 0, B2x = 100, B2y = 100;  // second image
  // 0 no pair, 1 one pair (shift), 2 two pairs (shift, rotation, scale); more
  // only from the batch's multi-star fit.
  int32_t count = 0;
  // Block matching found its best placement at the edge of its search and the
  // user chose to stop: the caller makes no result.
  bool Stopped = false;
};

// The question when block matching could not measure a shift (its best
// placement lies at the edge of the search), and the status-bar text of a
// measured point's match quality.
inline constexpr const char* ShiftNotMeasuredText =
    "Die Verschiebung konnte nicht bestimmt werden: die beste Übereinstimmung liegt am Rand des Suchbereichs "
    "(die Verschiebung ist vermutlich größer). Trotzdem weitermachen?";
std::string MatchQualityText(double quality);
// The question when a selection measured by the star centroid held no star to
// measure (its point would be its brightest place).
inline constexpr const char* NoStarText =
    "In einem Auswahlrechteck wurde kein Stern gefunden, die Verschiebung ist daher nicht bestimmt. "
    "Trotzdem weitermachen?";

// refSlot is the reference (active) image, secondSlot the image to align.
// A mark gives its position; a selection is measured: by the star centroid
// (shift-method switch 0), block matching (switch 1) or, wide or in the batch's
// disc mode, the bright disc. Missing marks end the collection with the pairs
// found so far; nothing is collected unless both slots have windows.
// isMosaic is passed to every measurement, scale to DetermineShift, `rule` to
// the star search (a comet's boxes measure their object); the second image's
// box of a star measures the star whose flux matches the reference star's.
// Each point
// measured in the second image shows its match quality in the status bar; a
// block match at the edge of its search asks ShiftNotMeasuredText, a star box
// (of either image) that held no star NoStarText (outside the batch): "No"
// stops the collection with Stopped set and count 0.
TAlignPoints GetAlignmentPoints(int refSlot, int secondSlot, bool isMosaic, double scale,
                                TBoxRule rule = TBoxRule::Star);

}  // namespace astrelon
