#include "filters/noise/nlm_planes.h"

#include <algorithm>

#include "common/round_even.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

TNlmPlaneSet NlmPlanes;

float NlmNoiseLevel(float measured, float range) {
  // Only a plane without noise (the estimate at its own lower limit, or a
  // tiny share of the range) takes the floor; any measured noise is kept, so
  // that bright stars do not raise the filter's strength on the sky.
  const float floorNoise = 0.005f * range;
  const bool noiseless = !(measured > 0.01f) || !(measured > 1e-6f * range);
  return noiseless ? std::max(measured, floorNoise) : measured;
}

void PrepareNlmPlanes(int slot, int32_t levels) {
  ReleaseNlmPlanes();
  if (!SlotInUse(slot)) return;
  UpdateMinMax(slot);
  const TImageSlot& im = Store.Image[size_t(slot)];
  TNlmPlaneSet& set = NlmPlanes;
  set.Slot = slot;
  set.ColorModel = im.ColorModel;
  set.ChannelSelection = Store.Display[size_t(slot)].ChannelSelection;
  set.Width = im.Width;
  set.Height = im.Height;
  set.PlaneCount = std::clamp(im.PlaneCount, 0, 3);
  const size_t n = im.PixelCount();
  const float top = float(std::clamp(levels, 0, 65535));
  const float range = im.MaxValue - im.MinValue;
  for (int p = 1; p <= set.PlaneCount; ++p) {
    TNlmPlane& out = set.Plane[size_t(p)];
    if (im.Planes[size_t(p)].size() < n) continue;
    out.Noise = NlmNoiseLevel(EstimatePlaneNoise(slot, p), range);
    out.Scale = top / (im.PlaneMax[size_t(p)] - im.PlaneMin[size_t(p)] + 0.01f);
    out.Offset = -im.PlaneMin[size_t(p)] * out.Scale;
    out.Levels.resize(n);
    const float* in = im.Planes[size_t(p)].data();
    uint16_t* level = out.Levels.data();
    const float scale = out.Scale, offset = out.Offset;
    ForEachBand(int64_t(n), BandThreads(int64_t(n), int64_t(1) << 18, Options.Multicore != 0),
                [&](int64_t a, int64_t b) {
                  for (int64_t i = a; i < b; ++i) {
                    float q = in[i] * scale + offset;
                    if (!(q > 0)) q = 0;  // blank pixels too
                    if (q > top) q = top;
                    level[i] = uint16_t(RoundEvenToInt(q));
                  }
                });
  }
}

void ReleaseNlmPlanes() { NlmPlanes = TNlmPlaneSet{}; }

}  // namespace astrelon
