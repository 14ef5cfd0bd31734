// Speed of the automatic gradient flattening and of the masking by a second
// image on one 6000 x 4000 plane with 8 threads, against a plain pass that
// reads and writes every pixel once on as many threads of the baseline pool,
// in the same iterations (figure "plain"; no library does either):
//  - FitRadialGradient (every 16th pixel per axis sampled), goal 10; check: the
//    fitted model takes away a quarter or more of the vignetting drawn (the
//    spread of vignetting plus model over the image at most 3/4 of the
//    vignetting's; the search of the histogram's peak leaves about 0.6 of it),
//    and its parameters are those of a checked run;
//  - MaskImageByImage without filling, goal 1.5; check: blank exactly where the
//    mask is bright, the source elsewhere.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "grey_plane_bench.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "pixelops/flattening/gradient_flattening.h"
#include "pixelops/flattening/mask_image.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000, Threads = 8;
constexpr int Source = 1, Mask = 2, Work = 3;
// The vignetting drawn: -Curvature · squared distance from the centre.
constexpr double Curvature = 1e-5, CentreX = 2700, CentreY = 1800;

// A star field with vignetting around an off-centre point in the source, a
// mask that covers about half of it and a copy of the source to work on.
struct TBenchImages {
  TBenchImages() {
    std::mt19937 rng(7);
    sky.resize(size_t(Width) * Height);
    TPlane square(size_t(Height) * Height);
    bench::FillStarField(square, Height, rng, 4000);
    mask.resize(sky.size());
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        const double dx = x - CentreX, dy = y - CentreY;
        const size_t i = size_t(y) * Width + size_t(x);
        sky[i] = square[size_t(y) * Height + size_t(x % Height)] + float(-Curvature * (dx * dx + dy * dy));
        mask[i] = float((x / 64 + y / 64) % 2) * 100.0f;
      }
    for (int s : {Source, Mask, Work}) {
      bench::PutGreyPlane(s, Width, Height, s == Mask ? mask : sky);
      UpdateMinMax(s);
    }
  }
  void Restore() { Store.Image[Work].Planes[1] = sky; }
  TPlane sky, mask;
};

TBenchImages& Bench() {
  static TBenchImages images;
  return images;
}

void PlainPass() { bench::PlainSlotPass(Work, Threads, 1); }

void BM_FitRadialGradient(benchmark::State& state) {
  Bench();
  TRadialGradient fit;
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state, [&] { fit = FitRadialGradient(Source, 1); }, {{"plain", PlainPass, 10}}, [] { Bench().Restore(); },
        [&] {
          // The spread over a grid of the vignetting alone and with the model added.
          std::vector<float> drawn, left;
          for (int y = 0; y < Height; y += 20)
            for (int x = 0; x < Width; x += 20) {
              const double v = -Curvature * ((x - CentreX) * (x - CentreX) + (y - CentreY) * (y - CentreY));
              const double m = LinearCorrection(fit.gx, fit.gy, x, y, Width, Height) +
                               fit.a * ((x - fit.x0) * (x - fit.x0) + (y - fit.y0) * (y - fit.y0));
              drawn.push_back(float(v));
              left.push_back(float(v + m));
            }
          const double before = bench::Fingerprint({drawn}).Rms, after = bench::Fingerprint({left}).Rms;
          bench::Expect(after <= 0.75 * before, "the fit leaves a spread of " + std::to_string(after) + " of the " +
                                                    std::to_string(before) + " drawn");
          const std::vector<float> parameters{float(fit.gx), float(fit.gy), float(fit.a * 1e6), float(fit.x0),
                                              float(fit.y0)};
          bench::ExpectFingerprint(
              bench::Fingerprint({parameters}),
              {5, 0, -20.50463676, 2981.542969, 1000.435509, 1259.190748, -179.2777315, -81.02715546, 1004.495728},
              "fitted parameters (a in 1e-6)");
        });
  });
}

void BM_MaskImageByImage(benchmark::State& state) {
  Bench();
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state, [] { MaskImageByImage(Source, Mask, Work, false); }, {{"plain", PlainPass, 1.5}},
        [] { Bench().Restore(); },
        [] {
          // The mask's mid level is 50: its bright squares (100) blank the image.
          const TBenchImages& b = Bench();
          TPlane want = b.sky;
          for (size_t i = 0; i < want.size(); ++i)
            if (b.mask[i] >= 50) want[i] = BlankPixel;
          bench::ExpectNear(Store.Image[Work].Planes[1], want, 0, "masked image");
        });
  });
}

ASTRELON_FIGURES(BM_FitRadialGradient, "plain");
BENCHMARK(BM_FitRadialGradient)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
ASTRELON_FIGURES(BM_MaskImageByImage, "plain");
BENCHMARK(BM_MaskImageByImage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon
