#include "batch/accumulate/drizzle_normalise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "batch/accumulate/drizzle_row.h"
#include "batch/accumulate/weighted_target.h"
#include "batch/run/batch_run_view.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Sum / weight where the weight is above 0, else blank, in bands of rows. The
// division in float gives the bits of the division in double rounded to
// float (double holds more than twice float's precision).
void Normalise(const TPlane& sum, const std::vector<float>& weight, int32_t w, int32_t h, int threads, TPlane& out) {
  out.resize(sum.size());
  ForEachBand(h, threads, [&](int64_t r0, int64_t r1) {
    for (size_t i = size_t(r0) * size_t(w); i < size_t(r1) * size_t(w); ++i)
      out[i] = weight[i] > 0 ? sum[i] / weight[i] : BlankPixel;
  });
}

// The largest value of a plane (at least `floor`), in bands of rows; the
// largest does not depend on the split.
float LargestOf(const std::vector<float>& values, int32_t w, int32_t h, int threads, float floor) {
  float m = floor;
  std::mutex merging;
  ForEachBand(h, threads, [&](int64_t r0, int64_t r1) {
    float band = floor;
    for (size_t i = size_t(r0) * size_t(w); i < size_t(r1) * size_t(w); ++i) band = std::max(band, values[i]);
    std::lock_guard<std::mutex> lock(merging);
    m = std::max(m, band);
  });
  return m;
}

// The noise of values in the target slot's plane p (the plane swapped in for
// the estimate and back).
float NoiseOf(int slot, int p, TPlane& values) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Planes[size_t(p)].swap(values);
  const float noise = EstimateNoise(slot, p);
  im.Planes[size_t(p)].swap(values);
  return noise;
}

}  // namespace

void DrizzleNormieren(TWeightedTarget& t) {
  StatusFunction("norm Drizzle");
  EngineUi().ProcessMessages();
  if (!t.Exists()) {
    t.ReleaseWeights();
    return;
  }
  TImageSlot& im = Store.Image[size_t(t.Slot)];
  const int32_t w = im.Width, h = im.Height;
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  const size_t n = im.PixelCount();
  for (int p = 1; p <= planes; ++p)
    if (t.Weights[size_t(p - 1)].size() < n || im.Planes[size_t(p)].size() < n) {
      t.ReleaseWeights();
      return;
    }
  const int threads = BandThreads(h, 32, Options.Multicore != 0);
  const int guidePlane = planes >= 2 ? 2 : 1;
  TPlane guide;
  Normalise(im.Planes[size_t(guidePlane)], t.Weights[size_t(guidePlane - 1)], w, h, threads, guide);
  const float m = t.Bayer && planes >= 2 ? LargestOf(t.Weights[1], w, h, threads, 1.0f) : 1.0f;
  // A plane of memory already in use: the sums a finished plane leaves serve
  // the next one.
  TPlane spare;
  for (int p = 1; p <= planes; ++p) {
    const TPlane& S = im.Planes[size_t(p)];
    const std::vector<float>& W = t.Weights[size_t(p - 1)];
    // The plane's normalised values for its noise, then its results in the
    // same memory; the guide plane's normalised values are the guide itself.
    TPlane out = std::move(spare);
    if (p != guidePlane) Normalise(S, W, w, h, threads, out);
    // A plane without noise would weigh equal neighbours infinitely.
    const double noise = std::max(2.5 * double(NoiseOf(t.Slot, p, p == guidePlane ? guide : out)), 1e-6);
    out.resize(n);
    TDrizzleRow row;
    row.Sum = S.data();
    row.Weight = W.data();
    row.Guide = guide.data();
    row.Out = out.data();
    row.Width = w;
    row.Noise = noise;
    row.Diagonal = t.Bayer && (p == 1 || p == 3);
    row.Scale = t.Bayer ? m : 1.0f;
    const size_t ws = size_t(w);
    ForEachBand(h, threads, [&](int64_t r0, int64_t r1) {
      for (int64_t y = r0; y < r1; ++y) {
        const size_t at = size_t(y) * ws;
        if (y == 0 || y == h - 1 || w < 3) {
          for (size_t i = at; i < at + ws; ++i) out[i] = NormaliseDrizzleBorder(S[i], W[i], row.Scale);
          continue;
        }
        out[at] = NormaliseDrizzleBorder(S[at], W[at], row.Scale);
        NormaliseDrizzleRow(row, y, 1, w - 1, Sse2Enabled);
        out[at + ws - 1] = NormaliseDrizzleBorder(S[at + ws - 1], W[at + ws - 1], row.Scale);
      }
    });
    im.Planes[size_t(p)].swap(out);
    spare = std::move(out);
  }
  t.ReleaseWeights();
  UpdateMinMax(t.Slot);
}

}  // namespace astrelon
