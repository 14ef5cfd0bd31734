#include "filters/dialog/noise_filter_functions.h"

#include "common/pascal_format.h"
#include "filters/dialog/filter_dialog_session.h"
#include "filters/dialog/filter_state.h"
#include "filters/noise/color_noise_filter.h"
#include "filters/noise/median_filter.h"
#include "filters/noise/nlm_filter.h"
#include "filters/noise/nlm_planes.h"
#include "filters/noise/noise_filter.h"
#include "kernels/regions/blank_interpolation.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Ten times the noise of the source, taken when "Rauschfilter" starts.
float NoiseFilterLevel = 0;
// "Farbrauschen filtern" converted an RGB source to YUV when the dialog showed.
bool ColorNoiseConverted = false;
// The dialog is shown for "NLM Rauschfilter".
bool NlmDialogShown = false;

// Planes of the destination that the computation does not filter come back
// from the source (a channel selection changed between two computations).
void CopyUnselectedPlanes(const TFilterCall& c) {
  const int planes = std::min(Store.Image[size_t(c.Source)].PlaneCount, 3);
  for (int p = 1; p <= planes; ++p)
    if (!c.Planes[size_t(p)]) CopyPlane(c.Source, p, c.Destination, p);
}

int32_t Rounded(float v) { return Round32(v); }

}  // namespace

TFilterFunktion NoiseFilterFunktion() {
  TFilterFunktion f;
  f.Started = [](int source, int) {
    NoiseFilterLevel = 10 * EstimateNoise(source, GetRgbCode(source));
    return true;
  };
  f.Run = [](TFilterCall& c) {
    for (int p = 1; p <= std::min(Store.Image[size_t(c.Source)].PlaneCount, 3); ++p)
      CopyPlane(c.Source, p, c.Destination, p);
    ApplyNoiseFilter(c.Source, c.Destination, c.Value[1] / 300 * NoiseFilterLevel, c.Value[2], c.Value[3] * 0.01f,
                     c.Rect, *c.Poll);
  };
  return f;
}

TFilterFunktion ColorNoiseFunktion() {
  TFilterFunktion f;
  // The dialog works in YUV, so that the result window shows the colour planes it changes.
  f.Shown = [](int source, int destination) {
    ColorNoiseConverted = SlotInUse(source) && Store.Image[size_t(source)].IsColor &&
                          Store.Image[size_t(source)].ColorModel == CmRgb;
    if (!ColorNoiseConverted) return;
    RGBtoYUV(source);
    RGBtoYUV(destination);
  };
  f.Hidden = [](int source, int destination) {
    if (!ColorNoiseConverted) return;
    ColorNoiseConverted = false;
    YUVtoRGB(source);
    YUVtoRGB(destination);
  };
  f.Run = [](TFilterCall& c) {
    if (Store.Image[size_t(c.Source)].IsColor) FilterColorNoise(c.Source, c.Destination, c.Rect, c.Value[2], c.Value[1], *c.Poll);
  };
  return f;
}

TFilterFunktion MedianFilterFunktion() {
  TFilterFunktion f;
  f.Run = [](TFilterCall& c) {
    CopyUnselectedPlanes(c);
    ApplyMedianFilter(c.Source, c.Destination, Rounded(c.Value[1]), Rounded(c.Value[2]), c.Rect, *c.Poll);
  };
  return f;
}

TFilterFunktion NlmFilterFunktion() {
  TFilterFunktion f;
  // A source with blank pixels is filtered from a copy with its blanks filled.
  f.Shown = [](int source, int) {
    NlmDialogShown = true;
    if (!HasBlankPixels(source)) return;
    const int slot = FindFreeSlot();
    if (slot < 1 || !CopyImageSlot(source, slot)) return;
    InterpolateBlankPixels(slot, slot, true, false);
    FilterWorkSlot = slot;
  };
  f.Hidden = [](int, int) {
    NlmDialogShown = false;
    ReleaseNlmPlanes();
  };
  f.Run = [](TFilterCall& c) {
    CopyUnselectedPlanes(c);
    TNLMParams p;
    p.Source = c.Source;
    p.Destination = c.Destination;
    p.X1 = c.Rect.x1;
    p.X2 = c.Rect.x2;
    p.Y1 = c.Rect.y1;
    p.Y2 = c.Rect.y2;
    p.PatchRadius = Rounded(c.Value[1]);
    p.SearchRadius = Rounded(c.Value[2]);
    p.Strength = Rounded(c.Value[3]);
    p.SmoothGradients = c.Checked[1];
    p.SpatialWeighting = c.Checked[2];
    TNlmRun run;
    run.ProgressSlot = c.Destination;
    run.Caption = c.Caption;
    run.Poll = c.Poll;
    NLMFilterStarten(p, run);
  };
  return f;
}

void NlmSlotChanged(int slot) {
  if (!NlmDialogShown || FunktionNr != 20 || !SlotInUse(slot) || (slot != FilterSession.Source && slot != FilterSession.Destination))
    return;
  const TNlmPlaneSet& set = NlmPlanes;
  if (set.Slot == slot && set.ColorModel == Store.Image[size_t(slot)].ColorModel &&
      set.ChannelSelection == Store.Display[size_t(slot)].ChannelSelection)
    return;  // prepared as it is
  PrepareNlmPlanes(slot, 13000);
}

}  // namespace astrelon
