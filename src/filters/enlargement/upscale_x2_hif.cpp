#include "filters/enlargement/upscale_x2_hif.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "filters/enlargement/detail_transfer.h"
#include "filters/enlargement/edge_corrections.h"
#include "filters/enlargement/enlargement_memory.h"
#include "filters/enlargement/sharpen_neighbours3.h"
#include "filters/enlargement/sinc_low_pass.h"
#include "filters/enlargement/upscale_x2_triangulation.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/regions/value_arithmetic.h"
#include "kernels/sampling/low_pass2.h"
#include "kernels/sampling/resample_image.h"
#include "kernels/sampling/shift_image.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

int32_t LastX2Strength = 3;

namespace {

// The source's noise for the flat test, kept within 0.001 .. 2 % of its range.
double HiFNoise(int source, float low, float high) {
  const TImageSlot& im = Store.Image[size_t(source)];
  const bool rgb = im.PlaneCount >= 3 && im.ColorModel == CmRgb;
  double noise = std::max(double(EstimatePlaneNoise(source, rgb ? 2 : 1)), 0.001);
  return std::min(noise, 0.02 * (double(high) - low));
}

// The low-pass model of the grey source.
TPlane LowPassModel(const TPlane& grey, int32_t w, int32_t h, THiFVariant variant) {
  TPlane low = grey;
  if (variant == THiFVariant::Sinc) {
    SincLowPass(low, w, h);
  } else {
    ApplyLowPass2Plane(low, w, h, false, -0.25, 1.95, 0.5, Sse2Enabled);
    ApplyLowPass2Plane(low, w, h, true, -0.25, 1.95, 0.5, Sse2Enabled);
  }
  return low;
}

// The base enlargement of the variant in `destination`; false when stopped.
bool BaseEnlargement(int source, int destination, THiFVariant variant, const TEnlargementPoll& poll) {
  if (variant == THiFVariant::Sinc) {
    ResampleImage(destination, IkDSinc, 0, 2.0, 2.0, 0, false, false, false);
    return true;
  }
  if (!UpscaleX2Triangulation(source, destination, [&](int percent) { return !poll || poll(percent / 10); }))
    return false;
  // The half-pixel shift is bicubic whatever kind the user chose.
  const TInterpolationKindScope bicubic(IkBicubic);
  ShiftImage(destination, -0.5, -0.5);
  return true;
}

// Every plane of the destination for the life of the object: the shift and
// the clamps of the enlargement must not follow the window's channel
// selection, or the planes of a colour image would part.
class TAllChannelsScope {
public:
  explicit TAllChannelsScope(int slot) : slot_(slot), saved_(Store.Display[size_t(slot)].ChannelSelection) {
    Store.Display[size_t(slot)].ChannelSelection = 0;
  }
  ~TAllChannelsScope() { Store.Display[size_t(slot_)].ChannelSelection = saved_; }
  TAllChannelsScope(const TAllChannelsScope&) = delete;
  TAllChannelsScope& operator=(const TAllChannelsScope&) = delete;

private:
  int slot_;
  int32_t saved_;
};

}  // namespace

bool UpscaleX2HiF(int source, int destination, bool finalSharpen, THiFVariant variant, int32_t strength,
                  const TEnlargementPoll& poll) {
  if (!SlotInUse(source) || !SlotInUse(destination) || source == destination) return false;
  // The result and, beside it, the shifted plane (tri) or the grey copy of the
  // base enlargement and its direction map (sinc), the grey source and its model.
  RequireX2EnlargementMemory(source, variant == THiFVariant::Sinc ? 8 : 4);
  const float low = Store.Image[size_t(destination)].MinValue, high = Store.Image[size_t(destination)].MaxValue;
  if (!ContinueEnlarging(poll, 0)) return false;
  const TAllChannelsScope allChannels(destination);
  const int32_t w = Store.Image[size_t(source)].Width, h = Store.Image[size_t(source)].Height;
  if (!BaseEnlargement(source, destination, variant, poll)) return false;
  TImageSlot& result = Store.Image[size_t(destination)];
  if (result.Width != 2 * w || result.Height != 2 * h) return false;

  strength = std::clamp(strength, 1, 10);
  LastX2Strength = strength;
  SetWorkRectToImage(destination);
  ClampValuesBelow(destination, low);
  if (!ContinueEnlarging(poll, 10)) return false;

  TDetailInputs in;
  in.Width = w;
  in.Height = h;
  in.Variant = variant;
  in.Strength = strength;
  in.Noise = HiFNoise(source, low, high);
  in.Base = double(low) - 0.05 * (double(high) - low) - 1;
  const TPlane grey = GreyPlaneOf(source);
  const TPlane lowPass = LowPassModel(grey, w, h, variant);
  TPlane enlargedGrey;
  if (variant == THiFVariant::Sinc) enlargedGrey = GreyPlaneOf(destination);
  in.M = grey;
  in.L = lowPass;
  in.E = enlargedGrey;

  const bool tri = variant == THiFVariant::Tri;
  const int32_t mapWidth = tri ? w : 2 * w, mapHeight = tri ? h : 2 * h;
  std::vector<uint8_t> directions(size_t(mapWidth) * size_t(mapHeight), 0);
  const double rows = std::max(mapHeight - 6, 1);
  const bool transferred = TransferDetail(
      in, result, result.ColorModel, directions,
      [&](int32_t row) { return ContinueEnlarging(poll, int(std::nearbyint(10 + 80 * row / rows))); }, true);
  if (!transferred || AbortRequested) return false;

  SmoothDirectionMap(directions, mapWidth, mapHeight);
  const bool colour = result.PlaneCount >= 3;
  const bool corrected = CorrectEdges(
      Store.Image[size_t(source)], result, directions, variant, double(result.MaxValue) - result.MinValue,
      [&](int plane, int pass) {
        const int remaining = 3 - pass;
        return ContinueEnlarging(poll, colour ? 3 * plane + 90 - remaining : 99 - 3 * remaining);
      });
  if (!corrected) return false;

  if (finalSharpen) {
    const THiFSharpening s = HiFSharpening(variant);
    SharpenNeighbours3(destination, s.Direct, s.Diagonal, s.Straight2, s.Knight);
  }
  SetWorkRectToImage(destination);
  ClampValuesBelow(destination, low);
  return AbortRequested == 0;
}

void SubtractSoftThresholded(int result, int error, float t) {
  if (!SlotInUse(result) || !SlotInUse(error)) return;
  TImageSlot& r = Store.Image[size_t(result)];
  const TImageSlot& e = Store.Image[size_t(error)];
  if (r.Width != e.Width || r.Height != e.Height) return;
  const size_t n = r.PixelCount();
  for (int p = 1; p <= std::min(r.PlaneCount, 3); ++p) {
    const int ep = std::min(p, e.PlaneCount);
    if (r.Planes[size_t(p)].size() < n || e.Planes[size_t(ep)].size() < n) continue;
    float* out = r.Planes[size_t(p)].data();
    const float* err = e.Planes[size_t(ep)].data();
    for (size_t i = 0; i < n; ++i) {
      const float v = err[i];
      if (!IsValidPixel(out[i]) || !IsValidPixel(v)) continue;
      if (v > t)
        out[i] = out[i] - v + t;
      else if (v < -t)
        out[i] = out[i] - v - t;
    }
  }
}

}  // namespace astrelon
