#include "filters/experimental/ring_significance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

struct TRingOffset {
  int32_t Dx, Dy, Ring;
};

// The offsets of rings 2..5 of the 11 x 11 neighbourhood.
std::vector<TRingOffset> RingOffsets() {
  std::vector<TRingOffset> o;
  for (int32_t dy = -5; dy <= 5; ++dy)
    for (int32_t dx = -5; dx <= 5; ++dx) {
      const int32_t r = int32_t(std::nearbyint(std::sqrt(double(dx * dx + dy * dy))));
      if (r >= 2 && r <= 5) o.push_back({dx, dy, r});
    }
  return o;
}

}  // namespace

int32_t RingPixelCount(int32_t r) {
  int32_t n = 0;
  for (int32_t dy = -5; dy <= 5; ++dy)
    for (int32_t dx = -5; dx <= 5; ++dx) n += int32_t(std::nearbyint(std::sqrt(double(dx * dx + dy * dy)))) == r;
  return n;
}

void RingSignificancePlane(std::span<const float> in, std::span<float> out, int32_t w, int32_t h, float background,
                           float noise) {
  const size_t count = size_t(std::max(w, 0)) * size_t(std::max(h, 0));
  if (in.size() < count || out.size() < count) return;
  for (size_t i = 0; i < count; ++i)
    if (IsValidPixel(in[i])) out[i] = 0;
  if (w < 11 || h < 11) return;
  const std::vector<TRingOffset> offsets = RingOffsets();
  const int64_t rows = h - 10;
  const int threads = BandThreads(rows * w, 2048, Options.Multicore != 0);
  ForEachBand(rows, threads, [&](int64_t a, int64_t b) {
    for (int64_t y = a + 5; y < b + 5; ++y)
      for (int32_t x = 5; x < w - 5; ++x) {
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        if (!IsValidPixel(in[i])) continue;
        std::array<double, 6> sum{}, sq{}, k{};
        for (const TRingOffset& o : offsets) {
          const float v = in[size_t(y + o.Dy) * size_t(w) + size_t(x + o.Dx)];
          if (!IsValidPixel(v)) continue;
          sum[size_t(o.Ring)] += v;
          sq[size_t(o.Ring)] += double(v) * v;
          k[size_t(o.Ring)] += 1;
        }
        double score = 0;
        for (size_t r = 2; r <= 5; ++r) {
          if (k[r] <= 1) continue;
          const double mean = sum[r] / k[r];
          const double variance = std::max(sq[r] / k[r] - mean * mean, 0.0);
          const double spread = std::sqrt(variance + 3.0 * noise);
          if (spread > 0) score += k[r] * (mean - background) / spread;
        }
        out[i] = float(score);
      }
  });
}

bool RadiusIsoFunction(int source, int destination) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  if (s.Width != d.Width || s.Height != d.Height) return false;
  for (int p = 1; p <= std::min(s.PlaneCount, 3); ++p) {
    if (s.Planes[size_t(p)].size() != s.PixelCount() || d.Planes[size_t(p)].size() != s.PixelCount()) continue;
    const float noise = EstimatePlaneNoise(source, p);
    TPercentileLevels levels;
    GetPercentileLevels(source, p, 5, std::max(s.Width - 6, 5), 5, std::max(s.Height - 6, 5), 10, 10, levels);
    RingSignificancePlane(s.Planes[size_t(p)], d.Planes[size_t(p)], s.Width, s.Height, float(levels.LevelA), noise);
  }
  return true;
}

}  // namespace astrelon
