#pragma once
// Display histograms, the display-range invariants, the tone curve, channel
// iteration and the automatic gamma.
#include <array>
#include <cstdint>

#include "store/display/display_record.h"
#include "store/display/histogram_axis.h"

namespace astrelon {

void ComputeHistogram(int slot, bool resetRange, bool updateMinMax);

// Histogram counts of planes 1..3 (entries 1..501 used), made by a reader while it
// wrote the planes.
using THistogramCounts = std::array<std::array<uint32_t, HistogramEntries>, 3>;
// The axis of a fresh load's display range 0..white (no square root, no black-white span).
THistogramAxis LoadHistogramAxis(float white);
// ComputeHistogram(slot, false, false) that takes the counts instead of counting
// the planes when the slot's display range gives the axis they were counted on.
void ComputeHistogramCounted(int slot, const THistogramAxis& axis, const THistogramCounts& counts);
void ClampDisplayRange(int slot, bool shrinkRange);
void CopyDisplayRecord(int src, int dst);
int FirstChannel(int slot);
void NextChannel(int slot, int& p);
int GetRgbCode(int slot);
float ImageMaxOr255(int slot);
float EstimateAutoGamma(int slot, float oldWhite, float oldBlack);
void LoadCurvePoints(int slot);
double EvaluateCurve(float x);

// Set by the user interface while the histogram window is shown.
extern bool HistogramWindowVisible;

}  // namespace astrelon
