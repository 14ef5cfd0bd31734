// Speed of the JPEG deblocking, the windowed-sinc low pass and the power-of-two
// spectrum against baselines measured in the same iterations:
//  - JpegDeblockPlane on 4096 × 4096 (8 workers) against 64 plain libjpeg
//    encode-and-decode rounds of the same bitmap on 8 threads of the baseline
//    pool (figure "libjpeg64", goal 1.2);
//  - ApplyLowPass2 along rows and columns on 6000 × 4000 (8 workers) against
//    OpenCV's sepFilter2D with the same 11 taps on 8 threads (figure "opencv",
//    goal 1.5);
//  - ImageToFft2DPow2 of 4096 × 4096 on one worker against FFTW's float r2c
//    transform planned with FFTW_MEASURE on one thread (figure "fftwf", goal 2).
// Checks: the deblocked plane equals that of the scalar twin (the vector
// loops off) on the same picture after the timed runs; the low
// pass equals OpenCV's (the same work) away from the border its kernel reaches,
// within 0.001; the spectrum equals FFTW's of the same plane scaled by
// 1/(N·M) (the imaginary parts in the sign convention the spectrum keeps),
// within 1e-5 of its largest value.
#include <benchmark/benchmark.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "band_pool.h"
#include "kernels/fft/spectrum_pow2.h"
#include "kernels/sampling/low_pass2.h"
#include "peer_measure.h"
#include "pixelops/spatial/jpeg_deblock.h"
#include "pixelops/spatial/jpeg_quality_estimate.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/display/render_image_bitmap.h"
#include "store/image_store.h"
#include "store/pictures/jpeg_bitmap_decode.h"
#include "store/pictures/jpeg_writer.h"

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace astrelon {
namespace {

// The vector paths as the program chooses them at start-up.
void UseStartUpPaths() {
  DetectCpuFeatures();
  ApplySimdSetting();
}

// A smooth picture with edges and noise on the 8-bit scale.
std::vector<float> Picture(int w, int h) {
  std::vector<float> v(size_t(w) * size_t(h));
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      v[size_t(y) * size_t(w) + size_t(x)] =
          std::clamp(120 + 60 * std::sin(x * 0.01f) * std::cos(y * 0.013f) + ((x / 97 + y / 61) % 2) * 40 + noise(rng),
                     0.0f, 255.0f);
  return v;
}

void BM_JpegDeblock4096(benchmark::State& state) {
  const int side = 4096, threads = 8;
  UseStartUpPaths();
  const std::vector<float> plane = Picture(side, side);
  std::vector<float> out(plane.size());
  TDisplayBitmap rendered;
  RenderPlaneToBitmap(plane, side, side, JpegRenderFactor(255), rendered);
  const auto rounds = [&] {
    bench::PoolBands(64, threads, [&](int64_t first, int64_t last) {
      std::vector<uint8_t> bytes;
      TDisplayBitmap decoded;
      for (int64_t k = first; k < last; ++k) {
        EncodeJpeg(rendered, 75, true, bytes);
        DecodeJpegBitmap(bytes, true, decoded);
      }
    });
  };
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> deblock = [&] {
      bench::Expect(JpegDeblockPlane(plane, side, side, 75, out, threads), "not deblocked");
    };
    bench::Measure(state, deblock, {{"libjpeg64", rounds, 1.2}}, {}, [&] {
      bench::ExpectTwin([&] { return std::vector<std::vector<float>>{out}; }, {}, deblock, 0, "deblocked plane");
    });
  });
}

void BM_LowPass2_6000x4000(benchmark::State& state) {
  const int w = 6000, h = 4000, threads = 8;
  UseStartUpPaths();
  const std::vector<float> picture = Picture(w, h);
  Store.Reset();
  TImageSlot& im = Store.Image[1];
  im.Width = w;
  im.Height = h;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  Store.InUse[1] = 1;
  const auto prepare = [&] { std::copy(picture.begin(), picture.end(), im.Planes[1].begin()); };
  std::vector<bench::TPeer> peers;
#if ASTRELON_HAVE_OPENCV
  cv::setNumThreads(threads);
  const std::vector<float> taps = LowPass2Kernel({0.5, 2.0, 0.0});
  float sum = 0;
  for (float t : taps) sum += t;
  cv::Mat kernel(1, int(taps.size()), CV_32F);
  for (size_t i = 0; i < taps.size(); ++i) kernel.at<float>(0, int(i)) = taps[i] / sum;
  const cv::Mat src(h, w, CV_32F, const_cast<float*>(picture.data()));
  cv::Mat dst;
  peers.push_back({"opencv", [&] { cv::sepFilter2D(src, dst, CV_32F, kernel, kernel); }, 1.5});
  const auto check = [&] {
    bench::ExpectNearInside(im.Planes[1], std::span<const float>(dst.ptr<float>(), dst.total()), w, h,
                            int32_t(taps.size() / 2), 0.001, "low pass against OpenCV's");
  };
#else
  const auto check = [] { bench::Fail("OpenCV missing"); };
#endif
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [&] {
          ApplyLowPass2(1, true, 0.0, 2.0, 0.5);
          ApplyLowPass2(1, false, 0.0, 2.0, 0.5);
        },
        peers, prepare, check);
  });
  Store.Reset();
}

void BM_Fft2DPow2_4096(benchmark::State& state) {
  const int side = 4096;
  bench::MakeStarFieldSlot(1, side, 7, 2000);
  fftwf_plan_with_nthreads(1);
  float* in = fftwf_alloc_real(size_t(side) * side);
  fftwf_complex* out = fftwf_alloc_complex(size_t(side / 2 + 1) * side);
  const fftwf_plan plan = fftwf_plan_dft_r2c_2d(side, side, in, out, FFTW_MEASURE);
  std::copy(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end(), in);
  int spectrum = -1;
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state, [&] { spectrum = ImageToFft2DPow2(1, 0, 0, false); }, {{"fftwf", [&] { fftwf_execute(plan); }, 2.0}},
        [&] {
          if (SlotInUse(spectrum)) FreeSlot(spectrum);
        },
        [&] {
          bench::Expect(SlotInUse(spectrum), "no spectrum made");
          // FFTW's row y holds bins 0 .. side/2 of vertical bin y, as the spectrum's row y.
          std::copy(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end(), in);
          fftwf_execute(plan);
          const TImageSlot& sp = Store.Image[size_t(spectrum)];
          const int32_t half = sp.Width / 2, bins = side / 2 + 1;
          bench::Expect(sp.Width == side + 2 && sp.Height >= side,
                        "spectrum of " + std::to_string(sp.Width) + " x " + std::to_string(sp.Height));
          const double scale = 1.0 / (double(side) * side);
          std::vector<float> re, im, theirRe, theirIm;
          for (int32_t y = 0; y < side; ++y)
            for (int32_t x = 0; x < bins; ++x) {
              const float* row = sp.Planes[1].data() + size_t(y) * size_t(sp.Width);
              re.push_back(row[x]);
              im.push_back(row[x + half]);
              theirRe.push_back(float(out[size_t(y) * bins + size_t(x)][0] * scale));
              theirIm.push_back(float(out[size_t(y) * bins + size_t(x)][1] * scale));
            }
          // The sign of the imaginary parts is the spectrum's convention: taken
          // from the largest of them.
          const size_t largest = size_t(std::max_element(theirIm.begin(), theirIm.end(),
                                                         [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
                                        theirIm.begin());
          if ((im[largest] < 0) != (theirIm[largest] < 0))
            for (float& v : theirIm) v = -v;
          const double tolerance = 1e-5 * bench::Fingerprint({theirRe}).Max;
          bench::ExpectNear(re, theirRe, tolerance, "real parts against FFTW's");
          bench::ExpectNear(im, theirIm, tolerance, "imaginary parts against FFTW's");
        });
  });
  if (SlotInUse(spectrum)) FreeSlot(spectrum);
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
  Store.Reset();
}

}  // namespace

ASTRELON_FIGURES(BM_JpegDeblock4096, "libjpeg64");
ASTRELON_FIGURES(BM_LowPass2_6000x4000, "opencv");
ASTRELON_FIGURES(BM_Fft2DPow2_4096, "fftwf");
BENCHMARK(BM_JpegDeblock4096)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LowPass2_6000x4000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Fft2DPow2_4096)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace astrelon
