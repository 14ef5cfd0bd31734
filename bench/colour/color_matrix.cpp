// Speed of the colour-correction matrix on a 6000 x 4000 RGB image into a second
// RGB image on all cores, against a plain loop that reads the three source
// planes and writes the three destination planes on as many threads of the
// baseline pool (measured in the same iterations; no library applies a matrix
// to planar float RGB). Figure "plain", goal 1.5. Check: the routine reports
// success and every pixel with three valid values holds the matrix product
// (computed here in the same order) within 0.01; the others keep their values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string>

#include "band_pool.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "pixelops/colour/color_matrix.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Source = 1, Destination = 2;

void MakeRgb(int slot) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = Width;
  im.Height = Height;
  im.IsColor = 1;
  im.PlaneCount = 3;
  im.AllocatePlanes(3);
  Store.InUse[size_t(slot)] = 1;
}

void Prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  Store.Reset();
  MakeRgb(Source);
  MakeRgb(Destination);
  TImageSlot& im = Store.Image[Source];
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 20.0f);
  for (size_t i = 0; i < im.PixelCount(); ++i) {
    im.Planes[1][i] = 1000.0f + float(i % 4000) + noise(rng);
    im.Planes[2][i] = 2000.0f + float(i % 3000) + noise(rng);
    im.Planes[3][i] = 800.0f + float(i % 5000) + noise(rng);
  }
  for (size_t i = 17; i < im.PixelCount(); i += 100003) im.Planes[2][i] = BlankPixel;
}

void PlainMix() {
  const TImageSlot& s = Store.Image[Source];
  TImageSlot& d = Store.Image[Destination];
  const float *r = s.Planes[1].data(), *g = s.Planes[2].data(), *b = s.Planes[3].data();
  float *dr = d.Planes[1].data(), *dg = d.Planes[2].data(), *db = d.Planes[3].data();
  const int64_t n = int64_t(s.PixelCount());
  bench::PlainBands(n, BandThreads(n, 1 << 16, true), [=](int64_t first, int64_t last) {
#pragma omp simd
    for (int64_t i = first; i < last; ++i) {
      const float x = r[i], y = g[i], z = b[i];
      dr[i] = 1.1f * x - 0.1f * y;
      dg[i] = -0.05f * x + 1.1f * y - 0.05f * z;
      db[i] = -0.1f * y + 1.1f * z;
    }
  });
}

// The routine's result against the product computed here.
void CheckMix(const TColorMatrix& m) {
  const TImageSlot& s = Store.Image[Source];
  const TImageSlot& d = Store.Image[Destination];
  std::array<float, 9> c{};
  for (size_t i = 0; i < c.size(); ++i) c[i] = float(m.Percent[i] * 0.01);
  for (int p = 1; p <= 3; ++p) {
    TPlane want(s.PixelCount());
    const float* row = c.data() + 3 * (p - 1);
    for (size_t i = 0; i < want.size(); ++i) {
      const float r = s.Planes[1][i], g = s.Planes[2][i], b = s.Planes[3][i];
      want[i] = IsValidPixel(r) && IsValidPixel(g) && IsValidPixel(b) ? row[0] * r + row[1] * g + row[2] * b
                                                                      : d.Planes[size_t(p)][i];
    }
    bench::ExpectNear(d.Planes[size_t(p)], want, 0.01, "mixed plane " + std::to_string(p));
  }
}

void BM_ApplyColorMatrix(benchmark::State& state) {
  Prepare();
  const TColorMatrix m{{110, -10, 0, -5, 110, -5, 0, -10, 110}};
  bench::WithThreads(state, BandThreads(int64_t(Width) * Height, 1 << 16, true), [&] {
    bench::Measure(
        state,
        [&] {
          if (!ApplyColorMatrix(Source, Destination, m)) bench::Fail("the matrix was not applied");
          benchmark::ClobberMemory();
        },
        {{"plain",
          [] {
            PlainMix();
            benchmark::ClobberMemory();
          },
          1.5}},
        {}, [&] { CheckMix(m); });
  });
}
ASTRELON_FIGURES(BM_ApplyColorMatrix, "plain");

BENCHMARK(BM_ApplyColorMatrix)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace
}  // namespace astrelon
