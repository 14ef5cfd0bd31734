#pragma once
// Statistics of a rectangle of an image (count, mean, variance, minimum and
// maximum with their first positions, per plane) and the text the image window's
// statistics commands show.
#include <array>
#include <cstdint>
#include <string>

#include "store/image_store.h"

namespace astrelon {

struct TPlaneStatistics {
  int64_t Count = 0;  // valid pixels
  TPointI MinPos, MaxPos;
  float Min = 1e20f;
  float Max = -1e20f;
  double Variance = 0;  // population variance, never below 0
  double Mean = 0;
};

struct TRectStatistics {
  int32_t PlaneCount = 0;
  int32_t X1 = 0, Y1 = 0, X2 = -1, Y2 = -1;
  std::array<TPlaneStatistics, 3> Plane;  // planes 1..3 at index 0..2
};

// Statistics of the valid pixels of rect (left, top, right, bottom; inclusive,
// the part inside the image is read) in each plane of the slot. Sums are kept in
// double; minimum and maximum keep their first position in row order. Mean and
// variance are set for planes with more than one valid pixel. Nothing happens for
// a slot below 1. The result does not depend on the thread count or the path.
void ComputeRectStatistics(int slot, const TRectI& rect, TRectStatistics& stats);
void ComputeRectStatistics(int slot, const TRectI& rect, TRectStatistics& stats, bool vector);

// The name of plane p (1..3) of a colour image: "Rot", "Grün", "Blau" in the RGB
// model (the translation's channel names when loaded), "Y", "U", "V" in the YUV model.
std::string PlaneName(int slot, int plane);

// The working rectangle is the slot's whole image.
bool IsWorkRectWholeImage(int slot);

// The text of the statistics of the working rectangle: the file name without its
// folder, the rectangle unless it is the whole image, then per plane with more than
// one valid pixel (colour: a plane header) the lines "Mittelwert", "Varianz",
// "Std.Abweichung", "Minimum", "Maximum", "Pixelanzahl", each label, TAB, ": "
// and the value; lines end in CR LF, blocks are parted by CR LF LF.
std::string RegionStatisticsText(int slot);

}  // namespace astrelon
