#include "filters/sharpening/iterative_sharpen_levels.h"

#include <algorithm>
#include <cmath>

#include "common/round_even.h"
#include "store/display/display_histogram.h"
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

TPsfSharpenLevels PsfSharpenLevels(int source, float strength, bool blackThreshold) {
  const TImageSlot& im = Store.Image[size_t(source)];
  const float noise = EstimatePlaneNoise(source, GetRgbCode(source));
  const TSharpenStrength st = SharpenStrength(strength, noise);
  TPsfSharpenLevels l;
  l.Noise = noise;
  l.S = st.S;
  l.N = st.N;
  l.A = 2 * st.N;
  l.B = 3 * st.N;
  float level = GetBackgroundLevel(source) + st.N;
  if (!blackThreshold) level -= (im.MaxValue - im.MinValue) / 8 + 20 * l.B;
  l.Lo = level - l.B / 7;
  l.A = std::max(l.A, 0.001f);
  l.B = std::max(l.B, 0.001f);
  l.Hi = l.Lo + l.A;
  l.C = std::max(50 * l.B, 0.01f);
  l.D = 3 / l.C;
  l.Step = (im.MaxValue - im.MinValue) / 65535.0f;
  return l;
}

TGaussSharpenLevels GaussSharpenLevels(int source, float strength, bool blackThreshold, float radius) {
  const TImageSlot& im = Store.Image[size_t(source)];
  const int g = GetRgbCode(source);
  const float noise = EstimatePlaneNoise(source, g);
  const TSharpenStrength st = SharpenStrength(strength, noise);
  TGaussSharpenLevels l;
  l.Noise = noise;
  l.S = st.S;
  l.N = st.N;
  l.A = std::max(3 * st.N, 0.001f);
  l.B = std::max(2 * st.N, 0.001f);
  float level = GetBackgroundLevel(source) + l.B;
  if (!blackThreshold) level -= (im.MaxValue - im.MinValue) * 0.125f;
  l.Lo = level - 0.5f * st.N;
  l.Hi = l.Lo + l.B;
  l.C = std::max(50 * l.A, 0.001f);
  l.D = 3 / l.C;
  l.W = l.A / std::max(radius, 0.1f);
  l.Sat = im.MaxValue - 0.03f * (im.MaxValue - im.PlaneMin[size_t(g)]);
  l.Step = (im.MaxValue - im.MinValue) / 65535.0f;
  return l;
}

int32_t SharpenIterations(float value) {
  // The slider spans 1 .. 40; the clamp only keeps the conversion defined.
  return RoundEvenToInt(std::isfinite(value) ? std::clamp(value, -1e6f, 1e6f) : 0.0f);
}

}  // namespace astrelon
