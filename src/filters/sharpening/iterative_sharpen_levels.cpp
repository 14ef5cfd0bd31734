#include "filters/sharpening/iterative_sharpen_levels.h"

#include <algorithm>
#include <cmath>

#include "common/round_even.h"
#include "filters/sharpening/cores/clipping_level.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

TSharpenStrength SharpenStrength(float strength, float noise) {
  if (strength <= 1.0f) {
    const float s = std::max(strength, 0.1f);
    return {s, noise / s};
  }
  return {std::min(strength, 1.3f), noise / (strength * strength)};
}

namespace {

// What both take from one plane of the source: its noise, background, extremes
// and clipping level. A grey picture's plane holds the image's extremes.
struct TPlaneFacts {
  float Noise = 0, Background = 0, Min = 0, Max = 0, Clip = HUGE_VALF;
};

TPlaneFacts PlaneFacts(int source, int plane) {
  const TImageSlot& im = Store.Image[size_t(source)];
  const size_t p = size_t(std::clamp(plane, 1, 3));
  TPlaneFacts f;
  f.Noise = EstimatePlaneNoise(source, plane);
  f.Background = GetBackgroundLevel(source, plane);
  f.Min = im.PlaneMin[p];
  f.Max = im.PlaneMax[p];
  if (im.Planes[p].size() >= im.PixelCount()) f.Clip = ClippingLevel({im.Planes[p].data(), im.PixelCount()});
  return f;
}

}  // namespace

TPsfSharpenLevels PsfSharpenLevels(int source, int plane, float strength, bool blackThreshold) {
  const TPlaneFacts f = PlaneFacts(source, plane);
  const TSharpenStrength st = SharpenStrength(strength, f.Noise);
  TPsfSharpenLevels l;
  l.Background = f.Background;
  l.Noise = f.Noise;
  l.S = st.S;
  l.N = st.N;
  l.A = 2 * st.N;
  l.B = 3 * st.N;
  l.Range = f.Max - f.Min;
  float level = f.Background + st.N;
  if (!blackThreshold) level -= l.Range / 8 + 20 * l.B;
  l.Lo = level - l.B / 7;
  l.A = std::max(l.A, 0.001f);
  l.B = std::max(l.B, 0.001f);
  l.Hi = l.Lo + l.A;
  l.C = std::max(50 * l.B, 0.01f);
  l.D = 3 / l.C;
  l.Step = l.Range / 65535.0f;
  l.Clip = f.Clip;
  return l;
}

TGaussSharpenLevels GaussSharpenLevels(int source, int plane, float strength, bool blackThreshold, float radius) {
  const TPlaneFacts f = PlaneFacts(source, plane);
  const TSharpenStrength st = SharpenStrength(strength, f.Noise);
  TGaussSharpenLevels l;
  l.Background = f.Background;
  l.Noise = f.Noise;
  l.S = st.S;
  l.N = st.N;
  l.A = std::max(3 * st.N, 0.001f);
  l.B = std::max(2 * st.N, 0.001f);
  float level = f.Background + l.B;
  if (!blackThreshold) level -= (f.Max - f.Min) * 0.125f;
  l.Lo = level - 0.5f * st.N;
  l.Hi = l.Lo + l.B;
  l.C = std::max(50 * l.A, 0.001f);
  l.D = 3 / l.C;
  l.W = l.A / std::max(radius, 0.1f);
  l.Sat = f.Max - 0.03f * (f.Max - f.Min);
  l.Step = (f.Max - f.Min) / 65535.0f;
  l.Clip = f.Clip;
  return l;
}

int32_t SharpenIterations(float value) {
  // The slider spans 1 .. 40; the clamp only keeps the conversion defined.
  return RoundEvenToInt(std::isfinite(value) ? std::clamp(value, -1e6f, 1e6f) : 0.0f);
}

}  // namespace astrelon
