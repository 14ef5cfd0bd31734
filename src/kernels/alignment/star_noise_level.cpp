#include "kernels/alignment/star_noise_level.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {

// About this many pixels make the estimate of a big plane.
constexpr int64_t SampledPixels = int64_t(1) << 20;

// The rows of a plane the estimate takes: every Step-th from the first, an
// odd step, so that rows of both parities come in (all four sites of a colour
// mosaic, whether or not the search knows it for one).
struct TRows {
  int32_t Step = 1;
  static TRows Of(int32_t width, int32_t height) {
    const int64_t pixels = int64_t(width) * height;
    int32_t step = int32_t(std::max<int64_t>(1, (pixels + SampledPixels - 1) / SampledPixels));
    if (step > 1) step |= 1;
    return {std::min(step, std::max(height, 1))};
  }
};

// A fingerprint of the rows' values (their bits), in four independent chains.
uint64_t Fingerprint(std::span<const float> plane, int32_t width, int32_t height, TRows rows, bool mosaic) {
  std::array<uint64_t, 4> h{0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull, 0x082EFA98EC4E6C89ull};
  for (int32_t y = 0; y < height; y += rows.Step) {
    const float* row = plane.data() + size_t(y) * size_t(width);
    int32_t x = 0;
    for (; x + 4 <= width; x += 4)
      for (size_t k = 0; k < 4; ++k)
        h[k] = (h[k] ^ std::bit_cast<uint32_t>(row[x + int32_t(k)])) * 0x9E3779B97F4A7C15ull;
    for (; x < width; ++x) h[0] = (h[0] ^ std::bit_cast<uint32_t>(row[x])) * 0x9E3779B97F4A7C15ull;
  }
  uint64_t f = uint64_t(width) * 0x100000001B3ull ^ uint64_t(height) ^ (uint64_t(rows.Step) << 40) ^ uint64_t(mosaic);
  for (uint64_t v : h) f = (f ^ (v >> 29) ^ v) * 0xBF58476D1CE4E5B9ull;
  return f;
}

// The estimate over the rows: along them as they are, or on a mosaic each
// row's even columns and then its odd ones, so that neighbours in the run are
// a site apart.
float Estimate(std::span<const float> plane, int32_t width, int32_t height, TRows rows, bool mosaic, double unit) {
  if (rows.Step == 1 && !mosaic) return EstimateNoiseClipped(plane, Sse2Enabled, unit);
  std::vector<float> run;
  run.reserve(size_t((height + rows.Step - 1) / rows.Step) * size_t(width));
  for (int32_t y = 0; y < height; y += rows.Step) {
    const float* row = plane.data() + size_t(y) * size_t(width);
    if (!mosaic) {
      run.insert(run.end(), row, row + width);
      continue;
    }
    for (int32_t start = 0; start < 2; ++start)
      for (int32_t x = start; x < width; x += 2) run.push_back(row[x]);
  }
  return EstimateNoiseClipped(run, Sse2Enabled, unit);
}

struct TKept {
  int Slot = 0, Plane = 0;
  bool Mosaic = false;
  double Unit = 0;
  uint64_t Print = 0;
  float Noise = 0;
};

std::mutex KeptLock;
std::vector<TKept> Kept;

}  // namespace

double StarLevelUnit(int slot, int plane) {
  if (!SlotInUse(slot)) return 1.0;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const size_t p = size_t(std::clamp(plane, 1, 3));
  const float top = std::max(std::fabs(im.PlaneMax[p]), std::fabs(im.PlaneMin[p]));
  if (top <= 2.0f) return 1.0 / 65535.0;
  // A few values beyond (a float frame's hot pixels, a stray value) leave a
  // normalised picture one: the bulk decides, at most one in a hundred of an
  // even sample of the valid values beyond -2 .. 2.
  const std::span<const float> values = im.Plane(int(p));
  if (values.size() < im.PixelCount() || im.PixelCount() == 0) return 1.0;
  constexpr size_t Sample = 4096, Beyond = Sample / 100;
  const size_t step = std::max<size_t>(1, im.PixelCount() / Sample);
  size_t valid = 0, beyond = 0;
  for (size_t i = step / 2; i < im.PixelCount(); i += step) {
    if (!IsValidPixel(values[i])) continue;
    ++valid;
    if (!(std::fabs(values[i]) <= 2.0f) && ++beyond > Beyond) return 1.0;
  }
  return valid > 0 && beyond * 100 <= valid ? 1.0 / 65535.0 : 1.0;
}

float StarNoiseLevel(int slot, int plane, bool mosaic) {
  if (!SlotInUse(slot)) return 0;
  const TImageSlot& im = Store.Image[size_t(slot)];
  int p = std::clamp(plane, 1, 3);
  if (p > 1 && im.Planes[size_t(p)].size() < 2) p = 1;
  const size_t pixels = im.PixelCount();
  if (im.Planes[size_t(p)].size() < pixels || pixels < 2) return EstimateNoiseClipped(im.Plane(p), Sse2Enabled);
  const std::span<const float> values = im.Plane(p).first(pixels);
  const double unit = StarLevelUnit(slot, p);
  const TRows rows = TRows::Of(im.Width, im.Height);
  const uint64_t print = Fingerprint(values, im.Width, im.Height, rows, mosaic);
  const std::lock_guard<std::mutex> lock(KeptLock);
  for (const TKept& k : Kept)
    if (k.Slot == slot && k.Plane == p && k.Mosaic == mosaic && k.Unit == unit && k.Print == print) return k.Noise;
  const float noise = Estimate(values, im.Width, im.Height, rows, mosaic, unit);
  std::erase_if(Kept, [&](const TKept& k) { return k.Slot == slot && k.Plane == p && k.Mosaic == mosaic; });
  Kept.push_back({slot, p, mosaic, unit, print, noise});
  return noise;
}

float StarSearchThreshold(int slot, bool mosaic) {
  const int plane = GetRgbCode(slot);
  return StarNoiseLevel(slot, plane, mosaic) + float(0.001 * StarLevelUnit(slot, plane));
}

}  // namespace astrelon
