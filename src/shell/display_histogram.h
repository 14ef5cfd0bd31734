#pragma once
// Display histograms, the display-range invariants, the tone curve, channel
// iteration and the automatic gamma.
#include <cstdint>

namespace astrelon {

void ComputeHistogram(int slot, bool resetRange, bool updateMinMax);
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
