// Speed of the edge image, the added noise and the automatic 2D interference
// filter on 6000 x 4000 images, with one thread and with all (up to eight),
// each against a baseline on as many threads in the same iterations:
//  - SobelMagnitude (grey) against OpenCV's Sobel in x and in y (CV_32F) and its
//    magnitude (figure "opencv", goal 1.0); check: the same values (the same
//    work) inside the one-pixel border, within 0.01;
//  - AddSyntheticNoise (RGB, Gaussian, white; also low-passed) against a plain
//    pass of the baseline pool writing source + 1 into the destination over the
//    same planes (figure "plain", goal 4: a Gaussian number per value; no
//    library adds this noise; the pass vectorised for the machine); check: the
//    noisy image equals that of the scalar twin (the vector loops off, the
//    same seed) made after the timed runs;
//  - the interference filter's own passes on a grey spectrum (each run on a
//    fresh copy of it, made untimed). Its rule reads a reference line of
//    neighbours for every coefficient that stands out, so its work is the
//    values that rule reads: both parts of every coefficient for the ring
//    statistics and for the filter pass, and both parts of every coefficient
//    on the reference lines. Figure "memory": the time over the time those
//    reads take at this machine's memory bandwidth (a plain read of the
//    spectrum on as many threads, scaled by the values read over the values
//    it holds), i.e. how close the filter comes to its own limit; goal 4.
//    Check: the result equals a plain serial transcription of the rule, which
//    also counts the values read: each value within 1e-6 of itself (and 1e-12
//    of the largest; the reference lines' sums may round differently).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <random>
#include <span>
#include <vector>

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "core/settings.h"
#include "frequency/interference/periodic_noise_filter.h"
#include "kernels/fft/spectrum_image.h"
#include "band_pool.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "pixelops/pixels/synthetic_noise.h"
#include "pixelops/spatial/sobel_magnitude.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Grey = 1, GreyCopy = 2, Colour = 3, ColourCopy = 4;

struct TBenchImages {
  TBenchImages() {
    Store.Reset();
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(1000.0f, 20.0f);
    for (const auto& [slot, planes] : {std::pair{Grey, 1}, {Colour, 3}}) {
      TImageSlot& im = Store.Image[size_t(slot)];
      im.Width = Width;
      im.Height = Height;
      im.PlaneCount = planes;
      im.IsColor = planes == 3;
      im.AllocatePlanes(planes);
      for (int p = 1; p <= planes; ++p)
        for (size_t i = 0; i < im.PixelCount(); ++i)
          im.Planes[size_t(p)][i] = noise(rng) + 40.0f * float((i % Width) % 16 < 8);
      Store.InUse[size_t(slot)] = 1;
      UpdateMinMax(slot);
      CopyImageSlot(slot, slot + 1);
    }
    DetectCpuFeatures();
    ApplySimdSetting();
  }
};

void Prepare() {
  static TBenchImages images;
  SetWorkRectToImage(Grey);
}

int Threads(const benchmark::State& state) { return BandThreads(int64_t(Height), 64, state.range(0) > 1); }

#if ASTRELON_HAVE_OPENCV
void BM_SobelVsOpenCv(benchmark::State& state) {
  Prepare();
  const int threads = Threads(state);
  const int saved = cv::getNumThreads();
  cv::setNumThreads(threads);
  cv::Mat src(Height, Width, CV_32F, Store.Image[Grey].Planes[1].data());
  cv::Mat gx, gy, magnitude;
  const auto opencv = [&] {
    cv::Sobel(src, gx, CV_32F, 1, 0);
    cv::Sobel(src, gy, CV_32F, 0, 1);
    cv::magnitude(gx, gy, magnitude);
  };
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state, [] { SobelMagnitude(Grey, GreyCopy); }, {{"opencv", opencv, 1.0}}, {},
        [&] {
          bench::ExpectNearInside(Store.Image[GreyCopy].Planes[1],
                                  std::span<const float>(magnitude.ptr<float>(), magnitude.total()), Width, Height, 1,
                                  0.01, "edge image against OpenCV's");
        });
  });
  cv::setNumThreads(saved);
}
ASTRELON_FIGURES(BM_SobelVsOpenCv, "opencv");
BENCHMARK(BM_SobelVsOpenCv)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

// source + 1 into the copy, every plane, in bands of rows.
void PlainPass(int threads) {
  const TImageSlot& s = Store.Image[Colour];
  TImageSlot& d = Store.Image[ColourCopy];
  for (int p = 1; p <= 3; ++p) {
    const float* const in = s.Planes[size_t(p)].data();
    float* const out = d.Planes[size_t(p)].data();
    bench::PlainBands(Height, threads, [=](int64_t a, int64_t b) {
      for (int64_t i = a * Width; i < b * Width; ++i) out[i] = in[i] + 1.0f;
    });
  }
}

void BM_AddSyntheticNoise(benchmark::State& state) {
  Prepare();
  const int threads = Threads(state);
  TNoiseSettings settings;
  settings.LowPass = state.range(1) != 0;
  // Goals: 4 on one thread, 2 on all, 3 with the low pass.
  const double goal = settings.LowPass ? 3.0 : threads > 1 ? 2.0 : 4.0;
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> add = [&] {
      bench::Expect(AddSyntheticNoise(Colour, ColourCopy, settings, 17), "no noise added");
    };
    bench::Measure(state, add, {{"plain", [&] { PlainPass(threads); }, goal}}, {}, [&] {
      bench::ExpectTwin([] { return bench::SlotPlanes(ColourCopy); }, {}, add, 0, "noisy image");
    });
  });
}
ASTRELON_FIGURES(BM_AddSyntheticNoise, "plain");
BENCHMARK(BM_AddSyntheticNoise)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({8, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// The interference filter's rule on one spectrum plane in place, transcribed
// plainly: serial, in the rule's order, each reference line walked step by
// step over the amplitudes as the order leaves them. Returns the values read
// (both parts of a coefficient count as two).
int64_t ReferencePeriodicFilter(float* data, int32_t width, int32_t height, double k) {
  const int32_t hw = width / 2, hh = height / 2, nr = (hw + hh) / 2;
  int64_t reads = 0;
  auto re = [&](int32_t y, int32_t c) -> float& { return data[size_t(y) * size_t(width) + size_t(c)]; };
  auto im = [&](int32_t y, int32_t c) -> float& { return data[size_t(y) * size_t(width) + size_t(c + hw)]; };
  auto amplitude = [&](int32_t y, int32_t c) {
    reads += 2;
    const double r = re(y, c), i = im(y, c);
    return std::sqrt(r * r + i * i);
  };
  auto radius = [&](int32_t y, int32_t c) {
    const double i = double(c + 1) / hw, dy = double(hh - y) / hh;
    return std::sqrt(i * i + dy * dy);
  };
  auto inside = [](double r) { return r > 0.2 && r < 1.35; };
  auto ring = [&](double r) { return size_t(std::nearbyint(nr * r * 0.735)); };
  // 1. Ring statistics.
  std::vector<double> sum(size_t(nr) + 1), squares(size_t(nr) + 1), mean(size_t(nr) + 1), spread(size_t(nr) + 1);
  std::vector<int64_t> count(size_t(nr) + 1);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t c = 0; c < hw; ++c) {
      const double r = radius(y, c);
      if (!inside(r)) continue;
      const double a = amplitude(y, c);
      sum[ring(r)] += a, squares[ring(r)] += a * a, ++count[ring(r)];
    }
  // 2. Mean and k standard deviations of every ring.
  for (size_t b = 0; b < sum.size(); ++b) {
    if (count[b] == 0) continue;
    mean[b] = sum[b] / double(count[b]);
    const double var = squares[b] / double(count[b]) - mean[b] * mean[b];
    spread[b] = var < 0 ? 0 : k * std::sqrt(var);
  }
  // 3. The filter in its order: each half from its outer edge to the centre
  // row, in each row from the highest horizontal frequency down. Amplitudes on
  // the lines are those stored, rounded to float as the filter keeps them.
  for (int32_t order = 0; order < height; ++order) {
    const int32_t y = order <= hh ? order : height - order + hh;
    const int32_t dy = hh - y, ady = std::abs(dy);
    for (int32_t i = hw; i >= 1; --i) {
      const int32_t c = i - 1;
      const double r = radius(y, c);
      if (!inside(r)) continue;
      const size_t b = ring(r);
      const double f = 0.1 + 0.2 * double(hw + hh) / (ady + i);
      const double limit = mean[b] + f * spread[b];
      const double a = amplitude(y, c);
      if (a <= limit) continue;
      // The reference line: n steps; the sideways share adds up in units of
      // 1/q (exact), a sideways move once it exceeds one half.
      double lineSum = 0;
      int32_t reached = 0;
      if (i < ady) {
        // Steeper than 45°: rows away from the centre row, a column right now and then.
        const int32_t step = y > hh ? 1 : -1;
        const int32_t n = std::min({hh - ady - 2, hh / 3, y > hh ? height - 1 - y : y});
        int64_t share = 0;
        for (int32_t s = 1, yy = y, cc = c; s <= n; ++s) {
          yy += step;
          share += i;
          if (2 * share > ady) ++cc, share -= ady;
          if (cc >= hw) break;
          lineSum += float(amplitude(yy, cc)), ++reached;
        }
      } else {
        // Columns to the right, a row toward the centre row now and then.
        const int32_t n = std::min(hw - i - 1, hw / 3);
        int64_t share = 0;
        for (int32_t s = 1, yy = y, cc = c; s <= n; ++s) {
          ++cc;
          share += dy;
          if (2 * share > i) ++yy, share -= i;
          if (2 * share < -i) --yy, share += i;
          if (yy < 0 || yy >= height) break;
          lineSum += float(amplitude(yy, cc)), ++reached;
        }
      }
      double scale = 1;
      if (reached < 1) {
        scale = mean[b] / a;
      } else {
        const double target = f * spread[b] + lineSum / reached;
        if (target <= limit || target < a) scale = target / a;
      }
      re(y, c) = float(re(y, c) * scale);
      im(y, c) = float(im(y, c) * scale);
    }
  }
  return reads;
}

// Every value of the slot's planes read once: the memory's pace for the figure "memory".
void PlainSlotRead(int slot, int threads) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  for (int p = 1; p <= im.PlaneCount; ++p)
    benchmark::DoNotOptimize(
        bench::PlainReadSum(std::span<const float>(im.Planes[size_t(p)]).first(im.PixelCount()), threads));
}

void BM_PeriodicNoiseFilterPasses(benchmark::State& state) {
  Prepare();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    const int32_t outer = FftOuterMarginSetting();
    const int spectrum = ImageToFft2D(Grey, 2, outer);
    const int work = FindFreeSlot();
    CopyImageSlot(spectrum, work);
    const TImageSlot& s = Store.Image[size_t(spectrum)];
    const double held = double(s.PixelCount()) * s.PlaneCount;
    int64_t reads = 0;
    bench::Measure(
        state, [&] { bench::Expect(FilterPeriodicNoiseSpectrum(work, 2.0), "the spectrum was not filtered"); },
        {{"memory", [&] { PlainSlotRead(work, threads); }, 4.0, [&] { return double(reads) / held; }}},
        [&] { CopyImageSlot(spectrum, work); },
        [&] {
          // The rule's k: the routine's clamped k (2.0 lies inside).
          std::vector<float> reference(s.Planes[1].begin(), s.Planes[1].begin() + ptrdiff_t(s.PixelCount()));
          reads = ReferencePeriodicFilter(reference.data(), s.Width, s.Height, ClampPeriodicNoiseK(2.0));
          float largest = 0;
          for (const float v : reference) largest = std::max(largest, std::fabs(v));
          const TPlane& got = Store.Image[size_t(work)].Planes[1];
          int64_t off = 0, first = -1;
          for (size_t i = 0; i < reference.size(); ++i)
            if (!(std::fabs(got[i] - reference[i]) <= 1e-6 * std::fabs(reference[i]) + 1e-12 * largest))
              if (off++ == 0) first = int64_t(i);
          bench::Expect(off == 0, "filtered spectrum against the rule's transcription: " + std::to_string(off) +
                                      " values differ (the first at " + std::to_string(first) + ": " +
                                      std::to_string(first >= 0 ? got[size_t(first)] : 0.0f) + ", wanted " +
                                      std::to_string(first >= 0 ? reference[size_t(first)] : 0.0f) + ")");
          state.counters["values_read_per_value"] = double(reads) / held;
        });
    FreeSlot(work);
    FreeSlot(spectrum);
  });
}
ASTRELON_FIGURES(BM_PeriodicNoiseFilterPasses, "memory");
BENCHMARK(BM_PeriodicNoiseFilterPasses)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace astrelon
